// The worked examples, the XDAS event and the CEF event, that the tests hold
// byte for byte and the benchmarks render and log. `text` gives each text
// value an example sets from the example's own (the benchmarks make them
// long); keys, severities, numbers and the CEF signature ID stay as they are.
#pragma once

#include <quorvel/quorvel.h>

#include <string>

namespace quorvel_test {

inline std::string asWritten(const char* value) { return value; }

template <class Text = decltype(&asWritten)> void fillXdasWorkedExample(I_XDAS_Event& event, Text text = &asWritten) {
    event.setId(text("42"));
    event.setSource(text("audit-svc"));
    I_XDASObserver* observer = event.getObserver();
    observer->getAccount()->setDomain(text("d1"));
    observer->getAccount()->setName(text("server"));
    observer->getAccount()->setId(text("7"));
    observer->getEntity()->setSysAddr(text("10.0.0.1"));
    observer->getEntity()->setSvcName(text("svc"));
    observer->getEntity()->setSvcComp(text("comp"));
    I_XDASInitiator* initiator = event.getInitiator();
    initiator->getAccount()->setName(text("alice"));
    initiator->getEntity()->setSysAddr(text("10.0.0.2"));
    initiator->setAssertions({{"role", text("admin")}, {"x", ""}});
    I_XDASTarget* target = event.getTarget();
    target->setData({{"attr", text("mail")}});
    target->getAccount()->setName(text("bob"));
    I_XDASAction* action = event.getAction();
    action->getEvnt()->setId(text("0.0.0.1"));
    action->getEvnt()->setName(text("LOGIN"));
    action->getLog()->setSeverity(7);
    action->setOutcome(text("0"));
}

// The CEF worked example: a login by user1 at INFO, signature 100.
inline constexpr const char* kCefSignatureId = "100";

template <class Text = decltype(&asWritten)> void fillCefWorkedExample(CEF_EVENT& event, Text text = &asWritten) {
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

} // namespace quorvel_test
