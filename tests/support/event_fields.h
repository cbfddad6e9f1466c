// Every text field a caller can set on a CEF event or an XDAS event, named
// the way a parsed line names it, with the setter that fills it. Tests that
// set values and read them back from a parsed line share these tables.
#pragma once

#include <quorvel/quorvel.h>

#include <string>
#include <vector>

namespace quorvel_test {

// A text field of CEF_EVENT as the line shows it: a header value (index 1 to
// 5 of the seven) or an extension key.
struct CefTextField {
    int headerIndex; // -1 for an extension item
    const char* key; // the extension key; for a header value, a name for messages
    void (CEF_EVENT::*set)(std::string);
};

inline const std::vector<CefTextField>& cefTextFields() {
    static const std::vector<CefTextField> fields = {
        {1, "vendor", &CEF_EVENT::setDeviceVendor},
        {2, "product", &CEF_EVENT::setDeviceProduct},
        {3, "deviceversion", &CEF_EVENT::setDeviceVersion},
        {4, "signature", &CEF_EVENT::setSignatureID},
        {5, "name", &CEF_EVENT::setName},
        {-1, "dvc", &CEF_EVENT::setDeviceAddress},
        {-1, "c6a1", &CEF_EVENT::setC6a1},
        {-1, "dvchost", &CEF_EVENT::setDeviceHostName},
        {-1, "sourceServiceName", &CEF_EVENT::setSourceServiceName},
        {-1, "sproc", &CEF_EVENT::setSourceProcessName},
        {-1, "src", &CEF_EVENT::setSourceAddress},
        {-1, "c6a2", &CEF_EVENT::setC6a2},
        {-1, "shost", &CEF_EVENT::setSourceHostName},
        {-1, "suser", &CEF_EVENT::setSourceUserName},
        {-1, "dst", &CEF_EVENT::setDestinationAddress},
        {-1, "dhost", &CEF_EVENT::setDestinationHostName},
        {-1, "destinationServiceName", &CEF_EVENT::setDestinationServiceName},
        {-1, "duser", &CEF_EVENT::setDestinationUserName},
        {-1, "cn1Label", &CEF_EVENT::setCn1Label},
        {-1, "cn2Label", &CEF_EVENT::setCn2Label},
        {-1, "cn3Label", &CEF_EVENT::setCn3Label},
        {-1, "cs1Label", &CEF_EVENT::setcs1Label},
        {-1, "cs1", &CEF_EVENT::setCs1},
        {-1, "cs2Label", &CEF_EVENT::setcs2Label},
        {-1, "cs2", &CEF_EVENT::setCs2},
        {-1, "cs3Label", &CEF_EVENT::setcs3Label},
        {-1, "cs3", &CEF_EVENT::setCs3},
        {-1, "cs4Label", &CEF_EVENT::setcs4Label},
        {-1, "cs4", &CEF_EVENT::setCs4},
        {-1, "cs5Label", &CEF_EVENT::setcs5Label},
        {-1, "cs5", &CEF_EVENT::setCs5},
        {-1, "cs6Label", &CEF_EVENT::setcs6Label},
        {-1, "cs6", &CEF_EVENT::setCs6},
        {-1, "flexString1Label", &CEF_EVENT::setFlexString1Label},
        {-1, "flexString1", &CEF_EVENT::setFlexString1},
        {-1, "flexString2Label", &CEF_EVENT::setFlexString2Label},
        {-1, "flexString2", &CEF_EVENT::setFlexString2},
        {-1, "flexNumber1Label", &CEF_EVENT::setFlexNumber1Label},
        {-1, "flexNumber2Label", &CEF_EVENT::setFlexNumber2Label},
        {-1, "cat", &CEF_EVENT::setCat},
        {-1, "reason", &CEF_EVENT::setReason},
        {-1, "outcome", &CEF_EVENT::setOutcome},
    };
    return fields;
}

// A string field of an XDAS event, named by its JSON pointer in the record.
struct XdasTextField {
    const char* pointer; // for example "/Initiator/Account/Name"
    void (*set)(I_XDAS_Event&, std::string);
};

inline const std::vector<XdasTextField>& xdasTextFields() {
    // The observer's own SysName is not in the record (the cached host name
    // is), so it has no row.
    static const std::vector<XdasTextField> fields = {
        {"/Id", [](I_XDAS_Event& e, std::string v) { e.setId(std::move(v)); }},
        {"/Source", [](I_XDAS_Event& e, std::string v) { e.setSource(std::move(v)); }},
        {"/Observer/Account/Domain",
         [](I_XDAS_Event& e, std::string v) { e.getObserver()->getAccount()->setDomain(std::move(v)); }},
        {"/Observer/Account/Name",
         [](I_XDAS_Event& e, std::string v) { e.getObserver()->getAccount()->setName(std::move(v)); }},
        {"/Observer/Account/Id",
         [](I_XDAS_Event& e, std::string v) { e.getObserver()->getAccount()->setId(std::move(v)); }},
        {"/Observer/Entity/SysAddr",
         [](I_XDAS_Event& e, std::string v) { e.getObserver()->getEntity()->setSysAddr(std::move(v)); }},
        {"/Observer/Entity/SvcName",
         [](I_XDAS_Event& e, std::string v) { e.getObserver()->getEntity()->setSvcName(std::move(v)); }},
        {"/Observer/Entity/SvcComp",
         [](I_XDAS_Event& e, std::string v) { e.getObserver()->getEntity()->setSvcComp(std::move(v)); }},
        {"/Initiator/Account/Domain",
         [](I_XDAS_Event& e, std::string v) { e.getInitiator()->getAccount()->setDomain(std::move(v)); }},
        {"/Initiator/Account/Name",
         [](I_XDAS_Event& e, std::string v) { e.getInitiator()->getAccount()->setName(std::move(v)); }},
        {"/Initiator/Account/Id",
         [](I_XDAS_Event& e, std::string v) { e.getInitiator()->getAccount()->setId(std::move(v)); }},
        {"/Initiator/Entity/SysAddr",
         [](I_XDAS_Event& e, std::string v) { e.getInitiator()->getEntity()->setSysAddr(std::move(v)); }},
        {"/Initiator/Entity/SysName",
         [](I_XDAS_Event& e, std::string v) { e.getInitiator()->getEntity()->setSysName(std::move(v)); }},
        {"/Initiator/Entity/SvcName",
         [](I_XDAS_Event& e, std::string v) { e.getInitiator()->getEntity()->setSvcName(std::move(v)); }},
        {"/Initiator/Entity/SvcComp",
         [](I_XDAS_Event& e, std::string v) { e.getInitiator()->getEntity()->setSvcComp(std::move(v)); }},
        {"/Target/Account/Domain",
         [](I_XDAS_Event& e, std::string v) { e.getTarget()->getAccount()->setDomain(std::move(v)); }},
        {"/Target/Account/Name",
         [](I_XDAS_Event& e, std::string v) { e.getTarget()->getAccount()->setName(std::move(v)); }},
        {"/Target/Account/Id",
         [](I_XDAS_Event& e, std::string v) { e.getTarget()->getAccount()->setId(std::move(v)); }},
        {"/Target/Entity/SysAddr",
         [](I_XDAS_Event& e, std::string v) { e.getTarget()->getEntity()->setSysAddr(std::move(v)); }},
        {"/Target/Entity/SysName",
         [](I_XDAS_Event& e, std::string v) { e.getTarget()->getEntity()->setSysName(std::move(v)); }},
        {"/Target/Entity/SvcName",
         [](I_XDAS_Event& e, std::string v) { e.getTarget()->getEntity()->setSvcName(std::move(v)); }},
        {"/Target/Entity/SvcComp",
         [](I_XDAS_Event& e, std::string v) { e.getTarget()->getEntity()->setSvcComp(std::move(v)); }},
        {"/Action/Event/Id", [](I_XDAS_Event& e, std::string v) { e.getAction()->getEvnt()->setId(std::move(v)); }},
        {"/Action/Event/Name", [](I_XDAS_Event& e, std::string v) { e.getAction()->getEvnt()->setName(std::move(v)); }},
        {"/Action/Event/CorrelationID",
         [](I_XDAS_Event& e, std::string v) { e.getAction()->getEvnt()->setCorrelationID(std::move(v)); }},
        {"/Action/Event/SubEvent",
         [](I_XDAS_Event& e, std::string v) { e.getAction()->getEvnt()->setSubEvent(std::move(v)); }},
        {"/Action/Outcome", [](I_XDAS_Event& e, std::string v) { e.getAction()->setOutcome(std::move(v)); }},
        {"/Action/ExtendedOutcome",
         [](I_XDAS_Event& e, std::string v) { e.getAction()->setExtendedOutcome(std::move(v)); }},
        {"/Action/Details", [](I_XDAS_Event& e, std::string v) { e.getAction()->setDetails(std::move(v)); }},
    };
    return fields;
}

// The UTF-8 text a JSON parser yields for a record string written under the
// "C" locale, where every byte from 0x80 up (and every control character) is
// written as \u00XX: each byte of `bytes` read as the code point of its value.
inline std::string bytesAsCodePoints(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

} // namespace quorvel_test
