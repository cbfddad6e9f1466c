// The field table and the rendering of one field's value.
#include "cef_field_table.h"

#include <charconv>

namespace quorvel {

#define TEXT_ROW(key, getter)                                                                                          \
    CefField { CefFieldKind::Text, key, "{" key "}", &CEF_EVENT::getter, nullptr, nullptr }
#define INT_ROW(key, getter)                                                                                           \
    CefField { CefFieldKind::Int, key, "{" key "}", nullptr, &CEF_EVENT::getter, nullptr }
#define LONG_ROW(key, getter)                                                                                          \
    CefField { CefFieldKind::Long, key, "{" key "}", nullptr, nullptr, &CEF_EVENT::getter }

const CefFieldRows CefFieldTable = {{
    INT_ROW("version", getVersion),
    TEXT_ROW("vendor", getDeviceVendor),
    TEXT_ROW("product", getDeviceProduct),
    TEXT_ROW("deviceversion", getDeviceVersion),
    TEXT_ROW("signature", getSignatureID),
    TEXT_ROW("name", getName),
    INT_ROW("severity", getSeverity),
    TEXT_ROW("dvc", getDeviceAddress),
    TEXT_ROW("c6a1", getC6a1),
    TEXT_ROW("dvchost", getDeviceHostName),
    TEXT_ROW("rt", getTime),
    TEXT_ROW("dtz", getTimeZone),
    TEXT_ROW("sourceServiceName", getSourceServiceName),
    TEXT_ROW("sproc", getSourceProcessName),
    TEXT_ROW("src", getSourceAddress),
    TEXT_ROW("c6a2", getC6a2),
    INT_ROW("spt", getSourcePort),
    TEXT_ROW("shost", getSourceHostName),
    TEXT_ROW("suser", getSourceUserName),
    TEXT_ROW("dst", getDestinationAddress),
    TEXT_ROW("dhost", getDestinationHostName),
    TEXT_ROW("destinationServiceName", getDestinationServiceName),
    TEXT_ROW("duser", getDestinationUserName),
    TEXT_ROW("cn1Label", getCn1Label),
    LONG_ROW("cn1", getCn1),
    TEXT_ROW("cn2Label", getCn2Label),
    LONG_ROW("cn2", getCn2),
    TEXT_ROW("cn3Label", getCn3Label),
    LONG_ROW("cn3", getCn3),
    TEXT_ROW("cs1Label", getcs1Label),
    TEXT_ROW("cs1", getCs1),
    TEXT_ROW("cs2Label", getcs2Label),
    TEXT_ROW("cs2", getCs2),
    TEXT_ROW("cs3Label", getcs3Label),
    TEXT_ROW("cs3", getCs3),
    TEXT_ROW("cs4Label", getcs4Label),
    TEXT_ROW("cs4", getCs4),
    TEXT_ROW("cs5Label", getcs5Label),
    TEXT_ROW("cs5", getCs5),
    TEXT_ROW("cs6Label", getcs6Label),
    TEXT_ROW("cs6", getCs6),
    TEXT_ROW("flexString1Label", getFlexString1Label),
    TEXT_ROW("flexString1", getFlexString1),
    TEXT_ROW("flexString2Label", getFlexString2Label),
    TEXT_ROW("flexString2", getFlexString2),
    TEXT_ROW("flexNumber1Label", getFlexNumber1Label),
    INT_ROW("flexNumber1", getFlexNumber1),
    TEXT_ROW("flexNumber2Label", getFlexNumber2Label),
    INT_ROW("flexNumber2", getFlexNumber2),
    TEXT_ROW("cat", getCat),
    TEXT_ROW("reason", getReason),
    TEXT_ROW("outcome", getOutcome),
}};

#undef TEXT_ROW
#undef INT_ROW
#undef LONG_ROW

namespace {

template <typename Number> void appendNumber(std::string& out, Number value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

} // namespace

void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping) {
    // The equal sign is escaped only in extension values, the bar only in
    // header values; everything else is shared.
    const char escapedSeparator = escaping == CefEscaping::Header ? '|' : '=';
    std::size_t plainStart = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        char replacement;
        switch (c) {
        case '\\': replacement = '\\'; break;
        case '\n': replacement = 'n'; break;
        case '\r': replacement = 'r'; break;
        case '\t': replacement = 't'; break;
        default:
            if (c != escapedSeparator) continue;
            replacement = c;
            break;
        }
        out.append(value, plainStart, i - plainStart);
        out += '\\';
        out += replacement;
        plainStart = i + 1;
    }
    out.append(value, plainStart, std::string_view::npos);
}

void escapeCefValue(std::string& value) {
    std::string escaped;
    escaped.reserve(value.size() + 8);
    appendEscapedCefValue(escaped, value, CefEscaping::Extension);
    value.swap(escaped);
}

bool appendCefField(std::string& out, const CEF_EVENT& event, const CefField& field, bool withKey,
                    CefEscaping escaping) {
    switch (field.kind) {
    case CefFieldKind::Text: {
        const std::string value = (event.*field.text)();
        if (isEmptyCefText(value)) return false;
        if (withKey) {
            out.append(field.key);
            out += '=';
        }
        appendEscapedCefValue(out, value, escaping);
        return true;
    }
    case CefFieldKind::Int:
    case CefFieldKind::Long:
        if (withKey) {
            out.append(field.key);
            out += '=';
        }
        if (field.kind == CefFieldKind::Int)
            appendNumber(out, (event.*field.integer)());
        else
            appendNumber(out, (event.*field.longInteger)());
        return true;
    }
    return false;
}

std::string renderCefField(const CefRenderContext& context, const CefField& field, bool withKey) {
    std::string out;
    appendCefField(out, context.event, field, withKey, CefEscaping::Extension);
    return out;
}

} // namespace quorvel
