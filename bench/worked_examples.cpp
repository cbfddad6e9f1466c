#include "worked_examples.h"

#include "bench_support.h"
#include "cef/cef_line.h"
#include "logging/host_identity.h"
#include "tests/support/worked_examples.h"
#include "xdas/xdas_record_writer.h"

#include <ctime>

namespace quorvel_bench {

namespace {

// `value`, or `kind` text of `fieldLength` bytes when that is not zero.
std::string textOf(const char* value, std::size_t fieldLength, FieldText kind) {
    if (fieldLength == 0) return value;
    return kind == FieldText::Typical ? typicalText(fieldLength) : escapeHeavyText(fieldLength);
}

} // namespace

XdasEventPtr xdasWorkedExample(std::size_t fieldLength, FieldText kind) {
    XdasEventPtr event = quorvel_test::createXdasEvent();
    quorvel_test::fillXdasWorkedExample(*event, [=](const char* value) { return textOf(value, fieldLength, kind); });
    return event;
}

void fillCefWorkedExample(CEF_EVENT& event, std::size_t fieldLength, FieldText kind) {
    quorvel_test::fillCefWorkedExample(event, [=](const char* value) { return textOf(value, fieldLength, kind); });
}

std::string xdasLoggedLine(I_XDAS_Event& event) {
    std::string line;
    quorvel::writeXdasRecord(event, quorvel::publishedHostName(), std::time(nullptr), line);
    return line;
}

std::string cefLoggedLine(const quorvel::EventDescriptionCatalog& catalog, const CEF_EVENT& event) {
    std::string line;
    quorvel::renderCefLine(catalog, event, line);
    return line;
}

} // namespace quorvel_bench
