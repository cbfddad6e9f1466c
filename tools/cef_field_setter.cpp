#include "cef_field_setter.h"

#include "tool_error.h"

namespace quorvel_tools {

const quorvel::CefField* findSettableCefField(std::string_view name) {
    const quorvel::CefField* field = quorvel::findCefField(name);
    const bool settable = field != nullptr && (field->setText || field->setInteger || field->setLongInteger);
    return settable ? field : nullptr;
}

namespace {

const char* describeCefKind(quorvel::CefFieldKind kind) {
    switch (kind) {
    case quorvel::CefFieldKind::Text: return "text";
    case quorvel::CefFieldKind::Int: return "a decimal int";
    case quorvel::CefFieldKind::Long: return "a decimal long";
    }
    return "text";
}

// Sets a number field from `value`; false when it is not such a number.
template <class Number> bool setNumber(CEF_EVENT& event, void (CEF_EVENT::*setter)(Number), const std::string& value) {
    const auto number = parseNumber<Number>(value);
    if (number) (event.*setter)(*number);
    return number.has_value();
}

} // namespace

void setCefField(CEF_EVENT& event, const Assignment& set, std::string_view unknownHint) {
    const quorvel::CefField* field = findSettableCefField(set.name);
    if (field == nullptr)
        throw ToolError{"--set " + set.name + ": no CEF field has that name" + std::string(unknownHint)};
    bool parsed = true;
    switch (field->kind) {
    case quorvel::CefFieldKind::Text: (event.*field->setText)(set.value); break;
    case quorvel::CefFieldKind::Int: parsed = setNumber(event, field->setInteger, set.value); break;
    case quorvel::CefFieldKind::Long: parsed = setNumber(event, field->setLongInteger, set.value); break;
    }
    if (!parsed) throw ToolError{"--set " + set.name + "=" + set.value + ": not " + describeCefKind(field->kind)};
}

} // namespace quorvel_tools
