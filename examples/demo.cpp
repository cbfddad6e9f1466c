// A small host program: initialise logging, then log one XDAS event and one
// CEF event. The CEF message comes from OstradEventDesc.conf in the directory
// that VRQ_SERVER_CONFIGDIR names (`make demo` points it at examples/). It
// stands alone, to be read and copied: the tests and benchmarks hold the same
// events in tests/support/worked_examples.h.
#include <quorvel/quorvel.h>

#include <cstdio>
#include <string>

namespace {

void logXdasEvent() {
    I_XDAS_Event* event = create();
    event->setId("42");
    event->setSource("audit-svc");

    I_XDASObserver* observer = event->getObserver();
    observer->getAccount()->setDomain("d1");
    observer->getAccount()->setName("server");
    observer->getAccount()->setId("7");
    observer->getEntity()->setSysAddr("10.0.0.1");
    observer->getEntity()->setSvcName("svc");
    observer->getEntity()->setSvcComp("comp");

    I_XDASInitiator* initiator = event->getInitiator();
    initiator->getAccount()->setName("alice");
    initiator->getEntity()->setSysAddr("10.0.0.2");
    initiator->setAssertions({{"role", "admin"}, {"x", ""}});

    I_XDASTarget* target = event->getTarget();
    target->setData({{"attr", "mail"}});
    target->getAccount()->setName("bob");

    I_XDASAction* action = event->getAction();
    action->getEvnt()->setId("0.0.0.1");
    action->getEvnt()->setName("LOGIN");
    action->getLog()->setSeverity(7);
    action->setOutcome("0");

    event->XDAS_Log("audit.xdas");
    destroy(event);
}

// A successful login: logged at INFO (severity 4), its message taken from
// the catalogue's template for signature ID 100.
void logCefEvent() {
    CEF_EVENT event;
    event.setDeviceVendor("ExampleVendor");
    event.setDeviceProduct("ExampleProduct");
    event.setDeviceVersion("1.0");
    event.setSignatureID("100");
    event.setName("Login");
    event.setSeverity(4);
    event.setDeviceHostName("host1");
    event.setSourceUserName("user1");
    event.setCn1Label("Attempts");
    event.setCn1(3);
    event.setcs1Label("Role");
    event.setCs1("admin");
    event.setOutcome("success");
    event.CEF_Log("audit.cef");
}

} // namespace

int main(int argc, char** argv) {
    const std::string config = argc > 1 ? argv[1] : "examples/log4cxx.properties";
    const int status = initXDAS(config);
    std::printf("initXDAS(\"%s\") returned %d; host name \"%s\"\n", config.c_str(), status, getCEFHostName().c_str());
    std::fflush(stdout);
    logXdasEvent();
    logCefEvent();
    return status == 1 ? 1 : 0;
}
