#include "cef_field_setter.h"

#include "field_assignment.h"

namespace quorvel_tools {

const quorvel::CefField* findSettableCefField(std::string_view name) {
    const quorvel::CefField* field = quorvel::findCefField(name);
    const bool settable = field != nullptr && (field->setText || field->setInteger || field->setLongInteger);
    return settable ? field : nullptr;
}

SetResult setCefField(CEF_EVENT& event, std::string_view name, const std::string& value) {
    const quorvel::CefField* field = findSettableCefField(name);
    if (field == nullptr) return SetResult::UnknownField;
    switch (field->kind) {
    case quorvel::CefFieldKind::Text: (event.*field->setText)(value); return SetResult::Set;
    case quorvel::CefFieldKind::Int:
        if (const auto number = parseNumber<int>(value)) {
            (event.*field->setInteger)(*number);
            return SetResult::Set;
        }
        return SetResult::BadNumber;
    case quorvel::CefFieldKind::Long:
        if (const auto number = parseNumber<long>(value)) {
            (event.*field->setLongInteger)(*number);
            return SetResult::Set;
        }
        return SetResult::BadNumber;
    }
    return SetResult::UnknownField;
}

const char* describeCefKind(quorvel::CefFieldKind kind) {
    switch (kind) {
    case quorvel::CefFieldKind::Text: return "text";
    case quorvel::CefFieldKind::Int: return "a decimal int";
    case quorvel::CefFieldKind::Long: return "a decimal long";
    }
    return "text";
}

} // namespace quorvel_tools
