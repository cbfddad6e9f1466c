// The CEF line: "CEF:", seven header values each followed by "|", then the
// extension items "key=value " and, last, the catalogue's "msg" item.
#pragma once

#include "cef/cef_field_table.h"
#include "cef/event_description_catalog.h"

#include <string>

namespace quorvel {

// Replaces `out` with the line of `event`, its message expanded from
// `catalog`.
void renderCefLine(const EventDescriptionCatalog& catalog, const CEF_EVENT& event, std::string& out);

// Replaces `out` with the line of the context's event, its "msg" item the
// expansion of `description` for the event when that is non-empty; no "msg"
// item without a description.
void assembleCefLine(const CefRenderContext& context, const EventDescTemplate* description, std::string& out);

} // namespace quorvel
