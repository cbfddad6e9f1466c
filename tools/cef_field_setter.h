// Setting the fields of a CEF_EVENT by name from text, for the tools' --set
// options. The names, keys and kinds are the library's field table's.
#pragma once

#include "cef/cef_field_table.h"

#include <quorvel/cef_event.h>

#include <string>
#include <string_view>

namespace quorvel_tools {

// The field that `name` (its accessors' name, "SourceUserName", or its CEF
// key, "suser") names and a caller can set; null when there is none.
const quorvel::CefField* findSettableCefField(std::string_view name);

// What setting a field from text gave.
enum class SetResult { Set, UnknownField, BadNumber };

// Sets the field `name` of `event` from `value`, numbers parsed in decimal.
SetResult setCefField(CEF_EVENT& event, std::string_view name, const std::string& value);

// "text", "a decimal int" or "a decimal long", for messages.
const char* describeCefKind(quorvel::CefFieldKind kind);

} // namespace quorvel_tools
