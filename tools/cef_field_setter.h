// Setting the fields of a CEF_EVENT by name from text, for the tools' --set
// options. The names, keys and kinds are the library's field table's.
#pragma once

#include "cef/cef_field_table.h"
#include "field_assignment.h"

#include <quorvel/cef_event.h>

#include <string>
#include <string_view>

namespace quorvel_tools {

// The field that `name` (its accessors' name, "SourceUserName", or its CEF
// key, "suser") names and a caller can set; null when there is none.
const quorvel::CefField* findSettableCefField(std::string_view name);

// Sets the field `set` names in `event` from its value, numbers parsed in
// decimal. Throws ToolError (usage) when no settable field has that name
// (`unknownHint` follows the message then) or the value is not a number of
// the field's kind.
void setCefField(CEF_EVENT& event, const Assignment& set, std::string_view unknownHint = "");

} // namespace quorvel_tools
