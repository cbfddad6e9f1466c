// The worked examples that the benchmark programs render and log, the XDAS
// event and the CEF event, and the ready lines the library makes of them.
#pragma once

#include "cef/event_description_catalog.h"
#include "tests/support/xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <cstddef>
#include <string>

namespace quorvel_bench {

using quorvel_test::XdasEventPtr;

// What the long text values of a worked example hold: escapeHeavyText() or
// typicalText() (bench_support.h).
enum class FieldText { EscapeHeavy, Typical };

// The XDAS worked example; with a non-zero `fieldLength` every text value
// that the example sets is replaced by `kind` text of that length (keys and
// severity stay).
XdasEventPtr xdasWorkedExample(std::size_t fieldLength = 0, FieldText kind = FieldText::EscapeHeavy);

// The catalogue line of the CEF worked example's template.
inline constexpr const char* kCefTemplateLine = "100=User {suser} logged in";

// Fills `event` with the CEF worked example; with a non-zero `fieldLength`
// every text value it sets but the signature ID is `kind` text of that
// length instead, so that the template still applies.
void fillCefWorkedExample(CEF_EVENT& event, std::size_t fieldLength = 0, FieldText kind = FieldText::EscapeHeavy);

// The line XDAS_Log hands to log4cxx for `event` now: the record with the
// cached host name and the current time.
std::string xdasLoggedLine(I_XDAS_Event& event);

// The line CEF_Log hands to log4cxx for `event`, its message from `catalog`.
std::string cefLoggedLine(const quorvel::EventDescriptionCatalog& catalog, const CEF_EVENT& event);

} // namespace quorvel_bench
