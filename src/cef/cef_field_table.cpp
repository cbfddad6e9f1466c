// The field table and the rendering of one field's value.
#include "cef/cef_field_table.h"

#include <algorithm>

namespace quorvel {

#define TEXT_ROW(key, getter, member)                                                                                  \
    CefField { CefFieldKind::Text, key, "{" key "}", &CEF_EVENT::getter, nullptr, nullptr, &CEF_EVENT::member }
#define INT_ROW(key, getter)                                                                                           \
    CefField { CefFieldKind::Int, key, "{" key "}", nullptr, &CEF_EVENT::getter, nullptr }
#define LONG_ROW(key, getter)                                                                                          \
    CefField { CefFieldKind::Long, key, "{" key "}", nullptr, nullptr, &CEF_EVENT::getter }

// Names the members behind the text getters, which only a friend of the
// record may do.
struct CefEventMembers {
    static constexpr CefFieldRows rows() {
        return {{
            INT_ROW("version", getVersion),
            TEXT_ROW("vendor", getDeviceVendor, DeviceVendor),
            TEXT_ROW("product", getDeviceProduct, DeviceProduct),
            TEXT_ROW("deviceversion", getDeviceVersion, DeviceVersion),
            TEXT_ROW("signature", getSignatureID, SignatureID),
            TEXT_ROW("name", getName, Name),
            INT_ROW("severity", getSeverity),
            TEXT_ROW("dvc", getDeviceAddress, DeviceAddress),
            TEXT_ROW("c6a1", getC6a1, C6a1),
            TEXT_ROW("dvchost", getDeviceHostName, DeviceHostName),
            TEXT_ROW("rt", getTime, Time),
            TEXT_ROW("dtz", getTimeZone, TimeZone),
            TEXT_ROW("sourceServiceName", getSourceServiceName, SourceServiceName),
            TEXT_ROW("sproc", getSourceProcessName, SourceProcessName),
            TEXT_ROW("src", getSourceAddress, SourceAddress),
            TEXT_ROW("c6a2", getC6a2, C6a2),
            INT_ROW("spt", getSourcePort),
            TEXT_ROW("shost", getSourceHostName, SourceHostName),
            TEXT_ROW("suser", getSourceUserName, SourceUserName),
            TEXT_ROW("dst", getDestinationAddress, DestinationAddress),
            TEXT_ROW("dhost", getDestinationHostName, DestinationHostName),
            TEXT_ROW("destinationServiceName", getDestinationServiceName, DestinationServiceName),
            TEXT_ROW("duser", getDestinationUserName, DestinationUserName),
            TEXT_ROW("cn1Label", getCn1Label, Cn1Label),
            LONG_ROW("cn1", getCn1),
            TEXT_ROW("cn2Label", getCn2Label, Cn2Label),
            LONG_ROW("cn2", getCn2),
            TEXT_ROW("cn3Label", getCn3Label, Cn3Label),
            LONG_ROW("cn3", getCn3),
            TEXT_ROW("cs1Label", getcs1Label, cs1Label),
            TEXT_ROW("cs1", getCs1, Cs1),
            TEXT_ROW("cs2Label", getcs2Label, cs2Label),
            TEXT_ROW("cs2", getCs2, Cs2),
            TEXT_ROW("cs3Label", getcs3Label, cs3Label),
            TEXT_ROW("cs3", getCs3, Cs3),
            TEXT_ROW("cs4Label", getcs4Label, cs4Label),
            TEXT_ROW("cs4", getCs4, Cs4),
            TEXT_ROW("cs5Label", getcs5Label, cs5Label),
            TEXT_ROW("cs5", getCs5, Cs5),
            TEXT_ROW("cs6Label", getcs6Label, cs6Label),
            TEXT_ROW("cs6", getCs6, Cs6),
            TEXT_ROW("flexString1Label", getFlexString1Label, FlexString1Label),
            TEXT_ROW("flexString1", getFlexString1, FlexString1),
            TEXT_ROW("flexString2Label", getFlexString2Label, FlexString2Label),
            TEXT_ROW("flexString2", getFlexString2, FlexString2),
            TEXT_ROW("flexNumber1Label", getFlexNumber1Label, FlexNumber1Label),
            INT_ROW("flexNumber1", getFlexNumber1),
            TEXT_ROW("flexNumber2Label", getFlexNumber2Label, FlexNumber2Label),
            INT_ROW("flexNumber2", getFlexNumber2),
            TEXT_ROW("cat", getCat, Cat),
            TEXT_ROW("reason", getReason, Reason),
            TEXT_ROW("outcome", getOutcome, Outcome),
        }};
    }
};

const CefFieldRows CefFieldTable = CefEventMembers::rows();

#undef TEXT_ROW
#undef INT_ROW
#undef LONG_ROW

namespace {

// For each byte, the letter that follows the backslash of its escape, or 0
// when the byte is copied: one table for extension values, one for header
// values. The equal sign is escaped only in extension values, the bar only
// in header values; everything else is shared.
struct CefEscapeTables {
    char extension[256] = {};
    char header[256] = {};
};

constexpr CefEscapeTables makeCefEscapeTables() {
    CefEscapeTables tables;
    for (char* table : {tables.extension, tables.header}) {
        table[static_cast<unsigned char>('\\')] = '\\';
        table[static_cast<unsigned char>('\n')] = 'n';
        table[static_cast<unsigned char>('\r')] = 'r';
        table[static_cast<unsigned char>('\t')] = 't';
    }
    tables.extension[static_cast<unsigned char>('=')] = '=';
    tables.header[static_cast<unsigned char>('|')] = '|';
    return tables;
}

constexpr CefEscapeTables kCefEscapes = makeCefEscapeTables();

} // namespace

char* writeEscapedCefValue(char* to, std::string_view value, CefEscaping escaping) {
    const char* const letters = escaping == CefEscaping::Header ? kCefEscapes.header : kCefEscapes.extension;
    for (const char c : value) {
        const char letter = letters[static_cast<unsigned char>(c)];
        if (letter == 0) {
            *to++ = c;
        } else {
            to[0] = '\\';
            to[1] = letter;
            to += 2;
        }
    }
    return to;
}

void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping) {
    const std::size_t start = out.size();
    out.resize(start + 2 * value.size());
    char* const end = writeEscapedCefValue(out.data() + start, value, escaping);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

void escapeCefValue(std::string& value) {
    std::string escaped;
    escaped.reserve(value.size() + 8);
    appendEscapedCefValue(escaped, value, CefEscaping::Extension);
    value.swap(escaped);
}

bool appendCefField(std::string& out, const CEF_EVENT& event, const CefField& field, bool withKey,
                    CefEscaping escaping) {
    if (field.kind == CefFieldKind::Text && isEmptyCefText(event.*field.textMember)) return false;
    const std::size_t start = out.size();
    out.resize(start + (withKey ? field.key.size() + 1 : 0) + cefFieldValueBound(event, field));
    char* to = out.data() + start;
    if (withKey) {
        to = std::copy(field.key.begin(), field.key.end(), to);
        *to++ = '=';
    }
    to = writeCefFieldValue(to, event, field, escaping);
    out.resize(static_cast<std::size_t>(to - out.data()));
    return true;
}

std::string renderCefField(const CefRenderContext& context, const CefField& field, bool withKey) {
    std::string out;
    appendCefField(out, context.event, field, withKey, CefEscaping::Extension);
    return out;
}

} // namespace quorvel
