#include "worked_examples.h"

#include "bench_support.h"
#include "cef/cef_line.h"
#include "logging/host_identity.h"
#include "xdas/xdas_record_writer.h"

#include <ctime>

namespace quorvel_bench {

namespace {

// `value`, or `kind` text of `fieldLength` bytes when that is not zero.
std::string textOf(const char* value, std::size_t fieldLength, FieldText kind) {
    if (fieldLength == 0) return value;
    return kind == FieldText::Typical ? typicalText(fieldLength) : escapeHeavyText(fieldLength);
}

} // namespace

XdasEventPtr xdasWorkedExample(std::size_t fieldLength, FieldText kind) {
    const auto text = [fieldLength, kind](const char* value) { return textOf(value, fieldLength, kind); };
    XdasEventPtr event(create());
    event->setId(text("42"));
    event->setSource(text("audit-svc"));
    I_XDASObserver* observer = event->getObserver();
    observer->getAccount()->setDomain(text("d1"));
    observer->getAccount()->setName(text("server"));
    observer->getAccount()->setId(text("7"));
    observer->getEntity()->setSysAddr(text("10.0.0.1"));
    observer->getEntity()->setSvcName(text("svc"));
    observer->getEntity()->setSvcComp(text("comp"));
    I_XDASInitiator* initiator = event->getInitiator();
    initiator->getAccount()->setName(text("alice"));
    initiator->getEntity()->setSysAddr(text("10.0.0.2"));
    initiator->setAssertions({{"role", text("admin")}, {"x", ""}});
    I_XDASTarget* target = event->getTarget();
    target->setData({{"attr", text("mail")}});
    target->getAccount()->setName(text("bob"));
    I_XDASAction* action = event->getAction();
    action->getEvnt()->setId(text("0.0.0.1"));
    action->getEvnt()->setName(text("LOGIN"));
    action->getLog()->setSeverity(7);
    action->setOutcome(text("0"));
    return event;
}

void fillCefWorkedExample(CEF_EVENT& event, std::size_t fieldLength, FieldText kind) {
    const auto text = [fieldLength, kind](const char* value) { return textOf(value, fieldLength, kind); };
    event.setDeviceVendor(text("ExampleVendor"));
    event.setDeviceProduct(text("ExampleProduct"));
    event.setDeviceVersion(text("1.0"));
    event.setSignatureID(kCefSignatureId);
    event.setName(text("Login"));
    event.setSeverity(4);
    event.setDeviceHostName(text("host1"));
    event.setSourceUserName(text("user1"));
    event.setCn1Label(text("Attempts"));
    event.setCn1(3);
    event.setcs1Label(text("Role"));
    event.setCs1(text("admin"));
    event.setOutcome(text("success"));
}

std::string xdasLoggedLine(I_XDAS_Event& event) {
    std::string line;
    quorvel::writeXdasRecord(event, quorvel::publishedHostName(), std::time(nullptr), line);
    return line;
}

std::string cefLoggedLine(const quorvel::EventDescriptionCatalog& catalog, const CEF_EVENT& event) {
    std::string line;
    quorvel::renderCefLine(catalog, event, line);
    return line;
}

} // namespace quorvel_bench
