// A host process for the relay demo (examples/relay/demo), measure-paths and
// the relay and host-agent tests: initialises logging from the properties
// file named on the command line, then logs EVENTS events from each of four
// threads, XDAS and CEF in turn, each carrying its sequence text (XDAS Id,
// CEF cs1), at no more than RATE events per second per thread (0: as fast as
// they go). The user names hold
// every character the escape rules touch, control characters included; with
// a fourth argument "plain", only printable ones (for the parsers that SIEM
// pipelines use, which the demo runs). Exits 0 when every event was handed
// over.
#include "syslog_events.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace syslog_e2e;

// The printable characters either escape rule touches, and UTF-8.
const std::string kPlainUser = "O'Brien \"ops\" a\\b c=d e|f " + kUtf8Name;
bool plain = false;

void logXdas(int thread, int number) {
    const auto event = quorvel_test::createXdasEvent();
    event->setId(sequence(thread, number));
    event->setSource("relay");
    event->getInitiator()->getAccount()->setName(plain ? kPlainUser : specials());
    event->getInitiator()->setAssertions({{"role", "operator"}});
    event->getTarget()->setData({{"attr", kUtf8Name}});
    event->getAction()->getEvnt()->setName("LOGIN");
    event->getAction()->getLog()->setSeverity(5);
    event->getAction()->setOutcome("SUCCESS");
    event->getAction()->setDetails("session opened");
    event->XDAS_Log("audit.xdas");
}

void logCef(int thread, int number) {
    CEF_EVENT event;
    event.setDeviceVendor("Vendor|Inc");
    event.setDeviceProduct("relay");
    event.setDeviceVersion("1.0");
    event.setSignatureID("100");
    event.setName("login");
    event.setSeverity(4);
    event.setDeviceHostName("host1");
    event.setSourceUserName(plain ? kPlainUser : cefSpecials());
    event.setSourceAddress("192.0.2.10");
    event.setDestinationPort(443);
    event.setcs1Label("sequence");
    event.setCs1(sequence(thread, number));
    event.CEF_Log("audit.cef");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "plain")) {
        std::fprintf(stderr, "usage: %s LOG4CXX_PROPERTIES EVENTS_PER_THREAD RATE_PER_THREAD [plain]\n", argv[0]);
        return 2;
    }
    if (!std::setlocale(LC_ALL, "C.UTF-8")) {
        std::fprintf(stderr, "relay_host: the locale C.UTF-8 is not available\n");
        return 1;
    }
    const int events = std::atoi(argv[2]);
    const int rate = std::atoi(argv[3]);
    plain = argc == 5;
    const int status = initSyslog(argv[1], "quorvel-relay");
    if (status == 1 || status == 2) {
        std::fprintf(stderr, "relay_host: initSyslog(%s) returned %d\n", argv[1], status);
        return 1;
    }
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back([thread, events, rate] {
            const auto start = std::chrono::steady_clock::now();
            for (int number = 0; number < events; ++number) {
                // Paced in steps of 50 events so that the sleeps stay coarse.
                if (rate > 0 && number % 50 == 0)
                    std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * number / rate));
                number % 2 == 0 ? logXdas(thread, number) : logCef(thread, number);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    return 0;
}
