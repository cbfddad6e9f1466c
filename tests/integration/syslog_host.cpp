// A host process for the syslog end-to-end test: initialises logging from
// the properties file named on the command line under a UTF-8 locale, then
// logs the events of syslog_events.h from several threads at once. Exits 0
// when every event was handed over.
#include "syslog_events.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <clocale>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using namespace syslog_e2e;

void logXdas(int thread, int number) {
    const auto event = quorvel_test::createXdasEvent();
    event->setId(sequence(thread, number));
    event->setSource("syslog-e2e");
    event->getInitiator()->getAccount()->setName(specials());
    event->getInitiator()->setAssertions({{"role", specials()}, {specials(), "key"}});
    event->getTarget()->setData({{"attr", kUtf8Name}});
    event->getAction()->getEvnt()->setName("LOGIN");
    event->getAction()->getLog()->setSeverity(7);
    event->getAction()->setDetails(padding(thread, number));
    event->XDAS_Log("audit.xdas");
}

void logCef(int thread, int number) {
    CEF_EVENT event;
    event.setDeviceVendor("Vendor|" + specials());
    event.setSignatureID("100");
    event.setName("e2e");
    event.setSeverity(4);
    event.setSourceUserName(cefSpecials());
    event.setSourceAddress("{suser}");
    event.setcs1Label("sequence");
    event.setCs1(sequence(thread, number));
    event.setFlexString1(padding(thread, number));
    event.CEF_Log("audit.cef");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LOG4CXX_PROPERTIES\n", argv[0]);
        return 2;
    }
    // The set-up docs/operating.md asks of hosts: a UTF-8 locale.
    if (!std::setlocale(LC_ALL, "C.UTF-8")) {
        std::fprintf(stderr, "syslog_host: the locale C.UTF-8 is not available\n");
        return 1;
    }
    const int status = initSyslog(argv[1], "quorvel-e2e");
    if (status == 1 || status == 2) {
        std::fprintf(stderr, "syslog_host: initSyslog(%s) returned %d\n", argv[1], status);
        return 1;
    }
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back([thread] {
            for (int number = 0; number < kEventsPerThread; ++number)
                number % 2 == 0 ? logXdas(thread, number) : logCef(thread, number);
        });
    for (std::thread& thread : threads)
        thread.join();
    return 0;
}
