// The CEF line: "CEF:", seven header values each followed by "|", then the
// extension items "key=value " and, last, the catalogue's "msg" item.
#pragma once

#include "cef/event_description_catalog.h"

#include <string>

namespace quorvel {

// Replaces `out` with the line of `event`; its "msg" item, last, is the
// message of the catalogue's template for the event's signature ID, left out
// when there is none or it expands to nothing.
void renderCefLine(const EventDescriptionCatalog& catalog, const CEF_EVENT& event, std::string& out);

} // namespace quorvel
