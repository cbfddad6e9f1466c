// The components of an XDAS event: plain holders of what the caller sets.
#include <quorvel/xdas.h>

#include <utility>

namespace {

// One string member per entry whose value is not empty, in the map's
// (ascending, byte-wise) key order. Keys are taken as they are.
json_spirit::Object toStringMembers(const std::map<std::string, std::string>& entries) {
    json_spirit::Object object;
    for (const auto& [key, value] : entries) {
        if (!value.empty()) object.emplace_back(key, value);
    }
    return object;
}

} // namespace

// --- XDASAcc -----------------------------------------------------------------

XDASAcc::XDASAcc() = default;
XDASAcc::~XDASAcc() = default;
void XDASAcc::setDomain(std::string domain) { Domain = std::move(domain); }
void XDASAcc::setName(std::string name) { Name = std::move(name); }
void XDASAcc::setId(std::string id) { Id = std::move(id); }
std::string XDASAcc::getDomain() { return Domain; }
std::string XDASAcc::getName() { return Name; }
std::string XDASAcc::getId() { return Id; }

// --- XDASEntity --------------------------------------------------------------

XDASEntity::XDASEntity() = default;
XDASEntity::~XDASEntity() = default;
void XDASEntity::setSysAddr(std::string sysAddr) { SysAddr = std::move(sysAddr); }
void XDASEntity::setSysName(std::string sysName) { SysName = std::move(sysName); }
void XDASEntity::setSvcName(std::string svcName) { SvcName = std::move(svcName); }
void XDASEntity::setSvcComp(std::string svcComp) { SvcComp = std::move(svcComp); }
std::string XDASEntity::getSysAddr() { return SysAddr; }
std::string XDASEntity::getSysName() { return SysName; }
std::string XDASEntity::getSvcName() { return SvcName; }
std::string XDASEntity::getSvcComp() { return SvcComp; }

// --- XDASObserver ------------------------------------------------------------

XDASObserver::XDASObserver() = default;
XDASObserver::~XDASObserver() = default;
I_XDASAcc* XDASObserver::getAccount() { return &account; }
I_XDASEntity* XDASObserver::getEntity() { return &entity; }

// --- XDASInitiator -----------------------------------------------------------

XDASInitiator::XDASInitiator() = default;
XDASInitiator::~XDASInitiator() = default;
I_XDASAcc* XDASInitiator::getAccount() { return &account; }
I_XDASEntity* XDASInitiator::getEntity() { return &entity; }
void XDASInitiator::setAssertions(std::map<std::string, std::string> entries) { assertions = toStringMembers(entries); }
json_spirit::Object XDASInitiator::getIni_Ass_Obj() { return assertions; }

// --- XDASTarget --------------------------------------------------------------

XDASTarget::XDASTarget() = default;
XDASTarget::~XDASTarget() = default;
I_XDASAcc* XDASTarget::getAccount() { return &account; }
I_XDASEntity* XDASTarget::getEntity() { return &entity; }
void XDASTarget::setData(std::map<std::string, std::string> entries) { data = toStringMembers(entries); }
json_spirit::Object XDASTarget::getTarg_Data_Obj() { return data; }

// --- XDASEvnt ----------------------------------------------------------------

XDASEvnt::XDASEvnt() = default;
XDASEvnt::~XDASEvnt() = default;
void XDASEvnt::setId(std::string id) { Id = std::move(id); }
void XDASEvnt::setName(std::string name) { Name = std::move(name); }
void XDASEvnt::setCorrelationID(std::string correlationId) { CorrelationID = std::move(correlationId); }
void XDASEvnt::setSubEvent(std::string subEvent) { SubEvent = std::move(subEvent); }
std::string XDASEvnt::getId() { return Id; }
std::string XDASEvnt::getName() { return Name; }
std::string XDASEvnt::getCorrelationID() { return CorrelationID; }
std::string XDASEvnt::getSubEvent() { return SubEvent; }

// --- XDASLog -----------------------------------------------------------------

XDASLog::XDASLog() = default;
XDASLog::~XDASLog() = default;
void XDASLog::setSeverity(int code) { severity = code; }
int XDASLog::getSeverity() { return severity; }

// --- XDASAction --------------------------------------------------------------

XDASAction::XDASAction() = default;
XDASAction::~XDASAction() = default;
I_XDASEvnt* XDASAction::getEvnt() { return &event; }
std::int64_t* XDASAction::getTime() { return &time; }
I_XDASLog* XDASAction::getLog() { return &log; }
void XDASAction::setOutcome(std::string outcome) { Outcome = std::move(outcome); }
std::string XDASAction::getOutcome() { return Outcome; }
void XDASAction::setExtendedOutcome(std::string extendedOutcome) { ExtendedOutcome = std::move(extendedOutcome); }
std::string XDASAction::getExtendedOutcome() { return ExtendedOutcome; }
void XDASAction::setDetails(std::string details) { Details = std::move(details); }
std::string XDASAction::getDetails() { return Details; }
