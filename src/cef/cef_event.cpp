// The CEF record: construction stamps, accessors and reset on destruction.
#include <quorvel/cef_event.h>

#include "cef/cef_field_table.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace {

// Wall-clock milliseconds since the Unix epoch, truncated, as "%ld" writes
// them, through a zero-filled buffer of 256 bytes.
std::string currentTimeMillis() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const long millis = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    char buffer[256] = {};
    std::snprintf(buffer, sizeof buffer, "%ld", millis);
    return buffer;
}

// The abbreviation of the local time zone in effect now (the daylight-saving
// name while it is in force); empty if the local time cannot be determined.
std::string currentTimeZone() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr || local.tm_zone == nullptr) return std::string();
    return local.tm_zone;
}

} // namespace

CEF_EVENT::CEF_EVENT() : Time(currentTimeMillis()), TimeZone(currentTimeZone()) {}

CEF_EVENT::~CEF_EVENT() { quorvel::clearCefFields(*this); }

int CEF_EVENT::getVersion() const { return Version; }
void CEF_EVENT::setVersion(int version) { Version = version; }
std::string CEF_EVENT::getDeviceVendor() const { return DeviceVendor; }
void CEF_EVENT::setDeviceVendor(std::string deviceVendor) { DeviceVendor = std::move(deviceVendor); }
std::string CEF_EVENT::getDeviceProduct() const { return DeviceProduct; }
void CEF_EVENT::setDeviceProduct(std::string deviceProduct) { DeviceProduct = std::move(deviceProduct); }
std::string CEF_EVENT::getDeviceVersion() const { return DeviceVersion; }
void CEF_EVENT::setDeviceVersion(std::string deviceVersion) { DeviceVersion = std::move(deviceVersion); }
std::string CEF_EVENT::getSignatureID() const { return SignatureID; }
void CEF_EVENT::setSignatureID(std::string signatureId) { SignatureID = std::move(signatureId); }
std::string CEF_EVENT::getName() const { return Name; }
void CEF_EVENT::setName(std::string name) { Name = std::move(name); }
int CEF_EVENT::getSeverity() const { return Severity; }
void CEF_EVENT::setSeverity(int severity) { Severity = severity; }
std::string CEF_EVENT::getDeviceDnsDomain() const { return DeviceDnsDomain; }
void CEF_EVENT::setDeviceDnsDomain(std::string deviceDnsDomain) { DeviceDnsDomain = std::move(deviceDnsDomain); }
std::string CEF_EVENT::getDeviceHostName() const { return DeviceHostName; }
void CEF_EVENT::setDeviceHostName(std::string deviceHostName) { DeviceHostName = std::move(deviceHostName); }
std::string CEF_EVENT::getDeviceAddress() const { return DeviceAddress; }
void CEF_EVENT::setDeviceAddress(std::string deviceAddress) { DeviceAddress = std::move(deviceAddress); }
std::string CEF_EVENT::getSourceDnsDomain() const { return SourceDnsDomain; }
void CEF_EVENT::setSourceDnsDomain(std::string sourceDnsDomain) { SourceDnsDomain = std::move(sourceDnsDomain); }
std::string CEF_EVENT::getSourceUserId() const { return SourceUserId; }
void CEF_EVENT::setSourceUserId(std::string sourceUserId) { SourceUserId = std::move(sourceUserId); }
std::string CEF_EVENT::getSourceUserName() const { return SourceUserName; }
void CEF_EVENT::setSourceUserName(std::string sourceUserName) { SourceUserName = std::move(sourceUserName); }
std::string CEF_EVENT::getSourceAddress() const { return SourceAddress; }
void CEF_EVENT::setSourceAddress(std::string sourceAddress) { SourceAddress = std::move(sourceAddress); }
std::string CEF_EVENT::getSourceHostName() const { return SourceHostName; }
void CEF_EVENT::setSourceHostName(std::string sourceHostName) { SourceHostName = std::move(sourceHostName); }
std::string CEF_EVENT::getDestinationDnsDomain() const { return DestinationDnsDomain; }
void CEF_EVENT::setDestinationDnsDomain(std::string destinationDnsDomain) {
    DestinationDnsDomain = std::move(destinationDnsDomain);
}
std::string CEF_EVENT::getDestinationUserId() const { return DestinationUserId; }
void CEF_EVENT::setDestinationUserId(std::string destinationUserId) {
    DestinationUserId = std::move(destinationUserId);
}
std::string CEF_EVENT::getDestinationUserName() const { return DestinationUserName; }
void CEF_EVENT::setDestinationUserName(std::string destinationUserName) {
    DestinationUserName = std::move(destinationUserName);
}
std::string CEF_EVENT::getDestinationAddress() const { return DestinationAddress; }
void CEF_EVENT::setDestinationAddress(std::string destinationAddress) {
    DestinationAddress = std::move(destinationAddress);
}
std::string CEF_EVENT::getDestinationServiceName() const { return DestinationServiceName; }
void CEF_EVENT::setDestinationServiceName(std::string destinationServiceName) {
    DestinationServiceName = std::move(destinationServiceName);
}
std::string CEF_EVENT::getDestinationHostName() const { return DestinationHostName; }
void CEF_EVENT::setDestinationHostName(std::string destinationHostName) {
    DestinationHostName = std::move(destinationHostName);
}
std::string CEF_EVENT::getCs1() const { return Cs1; }
void CEF_EVENT::setCs1(std::string cs1) { Cs1 = std::move(cs1); }
std::string CEF_EVENT::getCs2() const { return Cs2; }
void CEF_EVENT::setCs2(std::string cs2) { Cs2 = std::move(cs2); }
std::string CEF_EVENT::getCs3() const { return Cs3; }
void CEF_EVENT::setCs3(std::string cs3) { Cs3 = std::move(cs3); }
std::string CEF_EVENT::getCs4() const { return Cs4; }
void CEF_EVENT::setCs4(std::string cs4) { Cs4 = std::move(cs4); }
std::string CEF_EVENT::getCs5() const { return Cs5; }
void CEF_EVENT::setCs5(std::string cs5) { Cs5 = std::move(cs5); }
std::string CEF_EVENT::getCs6() const { return Cs6; }
void CEF_EVENT::setCs6(std::string cs6) { Cs6 = std::move(cs6); }
long CEF_EVENT::getCn1() const { return Cn1; }
void CEF_EVENT::setCn1(long cn1) { Cn1 = cn1; }
long CEF_EVENT::getCn2() const { return Cn2; }
void CEF_EVENT::setCn2(long cn2) { Cn2 = cn2; }
long CEF_EVENT::getCn3() const { return Cn3; }
void CEF_EVENT::setCn3(long cn3) { Cn3 = cn3; }
std::string CEF_EVENT::getFlexString1() const { return FlexString1; }
void CEF_EVENT::setFlexString1(std::string flexString1) { FlexString1 = std::move(flexString1); }
std::string CEF_EVENT::getFlexString2() const { return FlexString2; }
void CEF_EVENT::setFlexString2(std::string flexString2) { FlexString2 = std::move(flexString2); }
std::string CEF_EVENT::getReason() const { return Reason; }
void CEF_EVENT::setReason(std::string reason) { Reason = std::move(reason); }
std::string CEF_EVENT::getOutcome() const { return Outcome; }
void CEF_EVENT::setOutcome(std::string outcome) { Outcome = std::move(outcome); }
std::string CEF_EVENT::getcs1Label() const { return cs1Label; }
void CEF_EVENT::setcs1Label(std::string label) { cs1Label = std::move(label); }
std::string CEF_EVENT::getcs2Label() const { return cs2Label; }
void CEF_EVENT::setcs2Label(std::string label) { cs2Label = std::move(label); }
std::string CEF_EVENT::getcs3Label() const { return cs3Label; }
void CEF_EVENT::setcs3Label(std::string label) { cs3Label = std::move(label); }
std::string CEF_EVENT::getcs4Label() const { return cs4Label; }
void CEF_EVENT::setcs4Label(std::string label) { cs4Label = std::move(label); }
std::string CEF_EVENT::getcs5Label() const { return cs5Label; }
void CEF_EVENT::setcs5Label(std::string label) { cs5Label = std::move(label); }
std::string CEF_EVENT::getcs6Label() const { return cs6Label; }
void CEF_EVENT::setcs6Label(std::string label) { cs6Label = std::move(label); }
int CEF_EVENT::getFlexNumber1() const { return FlexNumber1; }
void CEF_EVENT::setFlexNumber1(int flexNumber1) { FlexNumber1 = flexNumber1; }
int CEF_EVENT::getFlexNumber2() const { return FlexNumber2; }
void CEF_EVENT::setFlexNumber2(int flexNumber2) { FlexNumber2 = flexNumber2; }
int CEF_EVENT::getFileType() const { return FileType; }
void CEF_EVENT::setFileType(int fileType) { FileType = fileType; }
std::string CEF_EVENT::getCat() const { return Cat; }
void CEF_EVENT::setCat(std::string cat) { Cat = std::move(cat); }
std::string CEF_EVENT::getCn1Label() const { return Cn1Label; }
void CEF_EVENT::setCn1Label(std::string cn1Label) { Cn1Label = std::move(cn1Label); }
std::string CEF_EVENT::getCn2Label() const { return Cn2Label; }
void CEF_EVENT::setCn2Label(std::string cn2Label) { Cn2Label = std::move(cn2Label); }
std::string CEF_EVENT::getCn3Label() const { return Cn3Label; }
void CEF_EVENT::setCn3Label(std::string cn3Label) { Cn3Label = std::move(cn3Label); }
std::string CEF_EVENT::getFlexString1Label() const { return FlexString1Label; }
void CEF_EVENT::setFlexString1Label(std::string flexString1Label) { FlexString1Label = std::move(flexString1Label); }
std::string CEF_EVENT::getFlexString2Label() const { return FlexString2Label; }
void CEF_EVENT::setFlexString2Label(std::string flexString2Label) { FlexString2Label = std::move(flexString2Label); }
std::string CEF_EVENT::getFlexNumber1Label() const { return FlexNumber1Label; }
void CEF_EVENT::setFlexNumber1Label(std::string flexNumber1Label) { FlexNumber1Label = std::move(flexNumber1Label); }
std::string CEF_EVENT::getFlexNumber2Label() const { return FlexNumber2Label; }
void CEF_EVENT::setFlexNumber2Label(std::string flexNumber2Label) { FlexNumber2Label = std::move(flexNumber2Label); }
std::string CEF_EVENT::getC6a1() const { return C6a1; }
void CEF_EVENT::setC6a1(std::string c6a1) { C6a1 = std::move(c6a1); }
std::string CEF_EVENT::getC6a2() const { return C6a2; }
void CEF_EVENT::setC6a2(std::string c6a2) { C6a2 = std::move(c6a2); }
std::string CEF_EVENT::getC6a3() const { return C6a3; }
void CEF_EVENT::setC6a3(std::string c6a3) { C6a3 = std::move(c6a3); }
int CEF_EVENT::getSourcePort() const { return SourcePort; }
void CEF_EVENT::setSourcePort(int sourcePort) { SourcePort = sourcePort; }
int CEF_EVENT::getDestinationPort() const { return DestinationPort; }
void CEF_EVENT::setDestinationPort(int destinationPort) { DestinationPort = destinationPort; }
std::string CEF_EVENT::getSourceServiceName() const { return SourceServiceName; }
void CEF_EVENT::setSourceServiceName(std::string sourceServiceName) {
    SourceServiceName = std::move(sourceServiceName);
}
std::string CEF_EVENT::getSourceProcessName() const { return SourceProcessName; }
void CEF_EVENT::setSourceProcessName(std::string sourceProcessName) {
    SourceProcessName = std::move(sourceProcessName);
}
std::string CEF_EVENT::getTime() const { return Time; }
std::string CEF_EVENT::getTimeZone() const { return TimeZone; }
