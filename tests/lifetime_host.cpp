// A short-lived host process for the lifetime test: initialises logging, logs
// from four threads, leaves them blocked, and ends the process while they
// wait.
//
//   lifetime_host PROPERTIES MODE EVENTS_PER_THREAD
//
// MODE "return": main returns once every thread is blocked.
// MODE "exit":   the last thread to finish calls exit(0) while main and the
//                other threads are blocked.
// MODE "racing": the threads go on logging (EVENTS_PER_THREAD each at least)
//                while main returns; an exit handler registered after
//                initialisation logs one event of each kind, Id and user
//                "atexit", while they do, and then stops them.
//
// The host name is the resolver stand-in's, 64 bytes long, so that it lives
// on the heap.
// Exit status 0 on success, 3 on a usage error or failed initialisation.
#include "fake_resolver.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace {

constexpr int kThreads = 4;
constexpr std::string_view kHostName = "lifetime-host-with-a-name-long-enough-for-the-heap.example.org.u";
static_assert(kHostName.size() == 64);

// Never destroyed: a condition variable's destructor at exit would wait for
// the threads blocked on it.
std::mutex& mutex = *new std::mutex;
std::condition_variable& changed = *new std::condition_variable;
int finished = 0;
std::atomic<bool> racing{false};
std::atomic<int> loggedTheirShare{0}; // threads that logged EVENTS_PER_THREAD

void logCef(const std::string& user) {
    CEF_EVENT event;
    event.setSignatureID("101");
    event.setSeverity(4);
    event.setSourceUserName(user);
    event.CEF_Log("lifetime.cef");
}

void logXdas(const std::string& id) {
    const auto event = quorvel_test::createXdasEvent();
    event->setId(id);
    event->getAction()->getLog()->setSeverity(7);
    event->XDAS_Log("lifetime.xdas");
}

void logEvents(int thread, int events) {
    for (int sequence = 0; sequence < events || racing; ++sequence) {
        if (sequence == events) ++loggedTheirShare;
        const std::string id = std::to_string(thread) + "-" + std::to_string(sequence);
        if (sequence % 2 == 0)
            logCef("user" + id);
        else
            logXdas(id);
    }
}

// Logs one event of each kind from an exit handler, while the threads of
// mode "racing" still log; then stops them, since log4cxx's own exit
// handlers, which run next, tear down what its appenders use.
void logAtExit() {
    logCef("atexit");
    logXdas("atexit");
    racing = false;
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [] { return finished == kThreads; });
}

// Logs, then blocks for good, except for the last thread to finish in mode
// "exit", which ends the process.
void worker(int thread, int events, bool exitFromWorker) {
    logEvents(thread, events);
    std::unique_lock<std::mutex> lock(mutex);
    ++finished;
    changed.notify_all();
    if (exitFromWorker && finished == kThreads) {
        lock.unlock();
        std::exit(0);
    }
    changed.wait(lock, [] { return false; });
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 3;
    const bool exitFromWorker = std::strcmp(argv[2], "exit") == 0;
    racing = std::strcmp(argv[2], "racing") == 0;
    if (!exitFromWorker && !racing && std::strcmp(argv[2], "return") != 0) return 3;
    const int events = std::atoi(argv[3]);
    quorvel_test::fake_resolver::answerHostName("lifetime");
    quorvel_test::fake_resolver::answerCanonicalName(std::string(kHostName));
    if (initSyslog(argv[1], "lifetime") != 0) return 3;
    if (racing) std::atexit(logAtExit);

    for (int thread = 0; thread < kThreads; ++thread)
        std::thread(worker, thread, events, exitFromWorker).detach();
    if (racing) {
        // Returns while the threads log on; exit runs the handler meanwhile.
        while (loggedTheirShare < kThreads)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    }
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [] { return finished == kThreads; });
    if (exitFromWorker) changed.wait(lock, [] { return false; });
    return 0;
}
