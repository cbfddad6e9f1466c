// The field table: every field of the record, its key, name, member and setter.
#include "cef/cef_field_table.h"

#include <algorithm>

namespace quorvel {

// One row per field kind; a member's setter is "set" and the member's name.
#define TEXT_ROW(key, member)                                                                                          \
    CefField {                                                                                                         \
        CefFieldKind::Text, #member, key, "{" key "}", &CEF_EVENT::member, nullptr, nullptr, &CEF_EVENT::set##member   \
    }
#define INT_ROW(key, member)                                                                                           \
    CefField {                                                                                                         \
        CefFieldKind::Int, #member, key, "{" key "}", nullptr, &CEF_EVENT::member, nullptr, nullptr,                   \
            &CEF_EVENT::set##member                                                                                    \
    }
#define LONG_ROW(key, member)                                                                                          \
    CefField {                                                                                                         \
        CefFieldKind::Long, #member, key, "{" key "}", nullptr, nullptr, &CEF_EVENT::member, nullptr, nullptr,         \
            &CEF_EVENT::set##member                                                                                    \
    }
// The construction stamps, which have no setter.
#define STAMP_ROW(key, member)                                                                                         \
    CefField { CefFieldKind::Text, #member, key, "{" key "}", &CEF_EVENT::member }
// Fields stored only: no key, no placeholder.
#define STORED_TEXT_ROW(member)                                                                                        \
    CefField { CefFieldKind::Text, #member, "", "", &CEF_EVENT::member, nullptr, nullptr, &CEF_EVENT::set##member }
#define STORED_INT_ROW(member)                                                                                         \
    CefField {                                                                                                         \
        CefFieldKind::Int, #member, "", "", nullptr, &CEF_EVENT::member, nullptr, nullptr, &CEF_EVENT::set##member     \
    }

namespace internal {

// Names the record's members, which only a friend of the record may do.
struct CefEventAccess {
    static constexpr CefFieldRows lineRows() {
        return {{
            INT_ROW("version", Version),
            TEXT_ROW("vendor", DeviceVendor),
            TEXT_ROW("product", DeviceProduct),
            TEXT_ROW("deviceversion", DeviceVersion),
            TEXT_ROW("signature", SignatureID),
            TEXT_ROW("name", Name),
            INT_ROW("severity", Severity),
            TEXT_ROW("dvc", DeviceAddress),
            TEXT_ROW("c6a1", C6a1),
            TEXT_ROW("dvchost", DeviceHostName),
            STAMP_ROW("rt", Time),
            STAMP_ROW("dtz", TimeZone),
            TEXT_ROW("sourceServiceName", SourceServiceName),
            TEXT_ROW("sproc", SourceProcessName),
            TEXT_ROW("src", SourceAddress),
            TEXT_ROW("c6a2", C6a2),
            INT_ROW("spt", SourcePort),
            TEXT_ROW("shost", SourceHostName),
            TEXT_ROW("suser", SourceUserName),
            TEXT_ROW("dst", DestinationAddress),
            TEXT_ROW("dhost", DestinationHostName),
            TEXT_ROW("destinationServiceName", DestinationServiceName),
            TEXT_ROW("duser", DestinationUserName),
            TEXT_ROW("cn1Label", Cn1Label),
            LONG_ROW("cn1", Cn1),
            TEXT_ROW("cn2Label", Cn2Label),
            LONG_ROW("cn2", Cn2),
            TEXT_ROW("cn3Label", Cn3Label),
            LONG_ROW("cn3", Cn3),
            TEXT_ROW("cs1Label", cs1Label),
            TEXT_ROW("cs1", Cs1),
            TEXT_ROW("cs2Label", cs2Label),
            TEXT_ROW("cs2", Cs2),
            TEXT_ROW("cs3Label", cs3Label),
            TEXT_ROW("cs3", Cs3),
            TEXT_ROW("cs4Label", cs4Label),
            TEXT_ROW("cs4", Cs4),
            TEXT_ROW("cs5Label", cs5Label),
            TEXT_ROW("cs5", Cs5),
            TEXT_ROW("cs6Label", cs6Label),
            TEXT_ROW("cs6", Cs6),
            TEXT_ROW("flexString1Label", FlexString1Label),
            TEXT_ROW("flexString1", FlexString1),
            TEXT_ROW("flexString2Label", FlexString2Label),
            TEXT_ROW("flexString2", FlexString2),
            TEXT_ROW("flexNumber1Label", FlexNumber1Label),
            INT_ROW("flexNumber1", FlexNumber1),
            TEXT_ROW("flexNumber2Label", FlexNumber2Label),
            INT_ROW("flexNumber2", FlexNumber2),
            TEXT_ROW("cat", Cat),
            TEXT_ROW("reason", Reason),
            TEXT_ROW("outcome", Outcome),
        }};
    }

    static constexpr std::array<CefField, kCefStoredFieldCount> storedRows() {
        return {{
            STORED_TEXT_ROW(DeviceDnsDomain),
            STORED_TEXT_ROW(SourceDnsDomain),
            STORED_TEXT_ROW(SourceUserId),
            STORED_TEXT_ROW(DestinationDnsDomain),
            STORED_TEXT_ROW(DestinationUserId),
            STORED_INT_ROW(FileType),
            STORED_TEXT_ROW(C6a3),
            STORED_INT_ROW(DestinationPort),
        }};
    }
};

} // namespace internal

// Both initialisers are constant expressions, so the tables are complete
// before any dynamic initialisation reads them (the line's key table does).
static_assert(internal::CefEventAccess::lineRows()[kCefSignatureRow].key == "signature");
static_assert(internal::CefEventAccess::storedRows()[kCefStoredFieldCount - 1].name == "DestinationPort");
const CefFieldRows CefFieldTable = internal::CefEventAccess::lineRows();
const std::array<CefField, kCefStoredFieldCount> CefStoredFields = internal::CefEventAccess::storedRows();

#undef TEXT_ROW
#undef INT_ROW
#undef LONG_ROW
#undef STAMP_ROW
#undef STORED_TEXT_ROW
#undef STORED_INT_ROW

const CefField* findCefField(std::string_view name) {
    const auto named = [name](const CefField& field) {
        return field.name == name || (!field.key.empty() && field.key == name);
    };
    const auto line = std::find_if(CefFieldTable.begin(), CefFieldTable.end(), named);
    if (line != CefFieldTable.end()) return &*line;
    const auto stored = std::find_if(CefStoredFields.begin(), CefStoredFields.end(), named);
    return stored != CefStoredFields.end() ? &*stored : nullptr;
}

void clearCefFields(CEF_EVENT& event) {
    const auto clear = [&event](const CefField& field) {
        switch (field.kind) {
        case CefFieldKind::Text: (event.*field.text).clear(); break;
        case CefFieldKind::Int: event.*field.integer = 0; break;
        case CefFieldKind::Long: event.*field.longInteger = 0; break;
        }
    };
    std::for_each(CefFieldTable.begin(), CefFieldTable.end(), clear);
    std::for_each(CefStoredFields.begin(), CefStoredFields.end(), clear);
}

} // namespace quorvel
