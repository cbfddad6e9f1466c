// Every settable field of a CEF_EVENT by name, for the tools' --set options.
#pragma once

#include <quorvel/cef_event.h>

#include <string>
#include <string_view>

namespace quorvel_tools {

enum class CefValueKind { Text, Int, Long };

// One settable field: its name as in the setter (setSourceUserName ->
// "SourceUserName"), its CEF key when the line shows it ("suser"; empty for
// the fields that are stored only), and its setter.
struct CefFieldName {
    std::string_view name;
    std::string_view key;
    CefValueKind kind;
    void (CEF_EVENT::*text)(std::string) = nullptr;
    void (CEF_EVENT::*integer)(int) = nullptr;
    void (CEF_EVENT::*longInteger)(long) = nullptr;
};

// The 58 settable fields, in the order of the header's setters.
const CefFieldName* cefFieldNamesBegin();
const CefFieldName* cefFieldNamesEnd();

// The field called `name`, matched exactly against either its name or its
// CEF key; null when there is none.
const CefFieldName* findCefField(std::string_view name);

// What setting a field from text gave.
enum class SetResult { Set, UnknownField, BadNumber };

// Sets the field `name` of `event` from `value`, numbers parsed in decimal.
SetResult setCefField(CEF_EVENT& event, std::string_view name, const std::string& value);

// "a decimal int" or "a decimal long", for error messages.
const char* describeCefKind(CefValueKind kind);

} // namespace quorvel_tools
