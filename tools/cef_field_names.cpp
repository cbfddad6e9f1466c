#include "cef_field_names.h"

#include "field_assignment.h"

#include <iterator>

namespace quorvel_tools {

namespace {

const CefFieldName kCefFields[] = {
    {"Version", "version", CefValueKind::Int, nullptr, &CEF_EVENT::setVersion, nullptr},
    {"DeviceVendor", "vendor", CefValueKind::Text, &CEF_EVENT::setDeviceVendor, nullptr, nullptr},
    {"DeviceProduct", "product", CefValueKind::Text, &CEF_EVENT::setDeviceProduct, nullptr, nullptr},
    {"DeviceVersion", "deviceversion", CefValueKind::Text, &CEF_EVENT::setDeviceVersion, nullptr, nullptr},
    {"SignatureID", "signature", CefValueKind::Text, &CEF_EVENT::setSignatureID, nullptr, nullptr},
    {"Name", "name", CefValueKind::Text, &CEF_EVENT::setName, nullptr, nullptr},
    {"Severity", "severity", CefValueKind::Int, nullptr, &CEF_EVENT::setSeverity, nullptr},
    {"DeviceDnsDomain", "", CefValueKind::Text, &CEF_EVENT::setDeviceDnsDomain, nullptr, nullptr},
    {"DeviceHostName", "dvchost", CefValueKind::Text, &CEF_EVENT::setDeviceHostName, nullptr, nullptr},
    {"DeviceAddress", "dvc", CefValueKind::Text, &CEF_EVENT::setDeviceAddress, nullptr, nullptr},
    {"SourceDnsDomain", "", CefValueKind::Text, &CEF_EVENT::setSourceDnsDomain, nullptr, nullptr},
    {"SourceUserId", "", CefValueKind::Text, &CEF_EVENT::setSourceUserId, nullptr, nullptr},
    {"SourceUserName", "suser", CefValueKind::Text, &CEF_EVENT::setSourceUserName, nullptr, nullptr},
    {"SourceAddress", "src", CefValueKind::Text, &CEF_EVENT::setSourceAddress, nullptr, nullptr},
    {"SourceHostName", "shost", CefValueKind::Text, &CEF_EVENT::setSourceHostName, nullptr, nullptr},
    {"DestinationDnsDomain", "", CefValueKind::Text, &CEF_EVENT::setDestinationDnsDomain, nullptr, nullptr},
    {"DestinationUserId", "", CefValueKind::Text, &CEF_EVENT::setDestinationUserId, nullptr, nullptr},
    {"DestinationUserName", "duser", CefValueKind::Text, &CEF_EVENT::setDestinationUserName, nullptr, nullptr},
    {"DestinationAddress", "dst", CefValueKind::Text, &CEF_EVENT::setDestinationAddress, nullptr, nullptr},
    {"DestinationServiceName", "destinationServiceName", CefValueKind::Text, &CEF_EVENT::setDestinationServiceName,
     nullptr, nullptr},
    {"DestinationHostName", "dhost", CefValueKind::Text, &CEF_EVENT::setDestinationHostName, nullptr, nullptr},
    {"Cs1", "cs1", CefValueKind::Text, &CEF_EVENT::setCs1, nullptr, nullptr},
    {"Cs2", "cs2", CefValueKind::Text, &CEF_EVENT::setCs2, nullptr, nullptr},
    {"Cs3", "cs3", CefValueKind::Text, &CEF_EVENT::setCs3, nullptr, nullptr},
    {"Cs4", "cs4", CefValueKind::Text, &CEF_EVENT::setCs4, nullptr, nullptr},
    {"Cs5", "cs5", CefValueKind::Text, &CEF_EVENT::setCs5, nullptr, nullptr},
    {"Cs6", "cs6", CefValueKind::Text, &CEF_EVENT::setCs6, nullptr, nullptr},
    {"Cn1", "cn1", CefValueKind::Long, nullptr, nullptr, &CEF_EVENT::setCn1},
    {"Cn2", "cn2", CefValueKind::Long, nullptr, nullptr, &CEF_EVENT::setCn2},
    {"Cn3", "cn3", CefValueKind::Long, nullptr, nullptr, &CEF_EVENT::setCn3},
    {"FlexString1", "flexString1", CefValueKind::Text, &CEF_EVENT::setFlexString1, nullptr, nullptr},
    {"FlexString2", "flexString2", CefValueKind::Text, &CEF_EVENT::setFlexString2, nullptr, nullptr},
    {"Reason", "reason", CefValueKind::Text, &CEF_EVENT::setReason, nullptr, nullptr},
    {"Outcome", "outcome", CefValueKind::Text, &CEF_EVENT::setOutcome, nullptr, nullptr},
    {"cs1Label", "cs1Label", CefValueKind::Text, &CEF_EVENT::setcs1Label, nullptr, nullptr},
    {"cs2Label", "cs2Label", CefValueKind::Text, &CEF_EVENT::setcs2Label, nullptr, nullptr},
    {"cs3Label", "cs3Label", CefValueKind::Text, &CEF_EVENT::setcs3Label, nullptr, nullptr},
    {"cs4Label", "cs4Label", CefValueKind::Text, &CEF_EVENT::setcs4Label, nullptr, nullptr},
    {"cs5Label", "cs5Label", CefValueKind::Text, &CEF_EVENT::setcs5Label, nullptr, nullptr},
    {"cs6Label", "cs6Label", CefValueKind::Text, &CEF_EVENT::setcs6Label, nullptr, nullptr},
    {"FlexNumber1", "flexNumber1", CefValueKind::Int, nullptr, &CEF_EVENT::setFlexNumber1, nullptr},
    {"FlexNumber2", "flexNumber2", CefValueKind::Int, nullptr, &CEF_EVENT::setFlexNumber2, nullptr},
    {"FileType", "", CefValueKind::Int, nullptr, &CEF_EVENT::setFileType, nullptr},
    {"Cat", "cat", CefValueKind::Text, &CEF_EVENT::setCat, nullptr, nullptr},
    {"Cn1Label", "cn1Label", CefValueKind::Text, &CEF_EVENT::setCn1Label, nullptr, nullptr},
    {"Cn2Label", "cn2Label", CefValueKind::Text, &CEF_EVENT::setCn2Label, nullptr, nullptr},
    {"Cn3Label", "cn3Label", CefValueKind::Text, &CEF_EVENT::setCn3Label, nullptr, nullptr},
    {"FlexString1Label", "flexString1Label", CefValueKind::Text, &CEF_EVENT::setFlexString1Label, nullptr, nullptr},
    {"FlexString2Label", "flexString2Label", CefValueKind::Text, &CEF_EVENT::setFlexString2Label, nullptr, nullptr},
    {"FlexNumber1Label", "flexNumber1Label", CefValueKind::Text, &CEF_EVENT::setFlexNumber1Label, nullptr, nullptr},
    {"FlexNumber2Label", "flexNumber2Label", CefValueKind::Text, &CEF_EVENT::setFlexNumber2Label, nullptr, nullptr},
    {"C6a1", "c6a1", CefValueKind::Text, &CEF_EVENT::setC6a1, nullptr, nullptr},
    {"C6a2", "c6a2", CefValueKind::Text, &CEF_EVENT::setC6a2, nullptr, nullptr},
    {"C6a3", "", CefValueKind::Text, &CEF_EVENT::setC6a3, nullptr, nullptr},
    {"SourcePort", "spt", CefValueKind::Int, nullptr, &CEF_EVENT::setSourcePort, nullptr},
    {"DestinationPort", "", CefValueKind::Int, nullptr, &CEF_EVENT::setDestinationPort, nullptr},
    {"SourceServiceName", "sourceServiceName", CefValueKind::Text, &CEF_EVENT::setSourceServiceName, nullptr, nullptr},
    {"SourceProcessName", "sproc", CefValueKind::Text, &CEF_EVENT::setSourceProcessName, nullptr, nullptr},
};

} // namespace

const CefFieldName* cefFieldNamesBegin() { return std::begin(kCefFields); }
const CefFieldName* cefFieldNamesEnd() { return std::end(kCefFields); }

const CefFieldName* findCefField(std::string_view name) {
    for (const CefFieldName& field : kCefFields) {
        if (field.name == name || (!field.key.empty() && field.key == name)) return &field;
    }
    return nullptr;
}

SetResult setCefField(CEF_EVENT& event, std::string_view name, const std::string& value) {
    const CefFieldName* field = findCefField(name);
    if (field == nullptr) return SetResult::UnknownField;
    switch (field->kind) {
    case CefValueKind::Text: (event.*field->text)(value); return SetResult::Set;
    case CefValueKind::Int:
        if (const auto number = parseNumber<int>(value)) {
            (event.*field->integer)(*number);
            return SetResult::Set;
        }
        return SetResult::BadNumber;
    case CefValueKind::Long:
        if (const auto number = parseNumber<long>(value)) {
            (event.*field->longInteger)(*number);
            return SetResult::Set;
        }
        return SetResult::BadNumber;
    }
    return SetResult::UnknownField;
}

const char* describeCefKind(CefValueKind kind) {
    switch (kind) {
    case CefValueKind::Text: return "text";
    case CefValueKind::Int: return "a decimal int";
    case CefValueKind::Long: return "a decimal long";
    }
    return "text";
}

} // namespace quorvel_tools
