// A short-lived host process for the lifetime test: initialises logging, logs
// from four threads, leaves them blocked, and ends the process while they
// wait.
//
//   lifetime_host PROPERTIES MODE EVENTS_PER_THREAD
//
// MODE "return": main returns once every thread is blocked.
// MODE "exit":   the last thread to finish calls exit(0) while main and the
//                other threads are blocked.
// Exit status 0 on success, 3 on a usage error or failed initialisation.
#include <quorvel/quorvel.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kThreads = 4;

// Never destroyed: a condition variable's destructor at exit would wait for
// the threads blocked on it.
std::mutex& mutex = *new std::mutex;
std::condition_variable& changed = *new std::condition_variable;
int finished = 0;

void logEvents(int thread, int events) {
    for (int sequence = 0; sequence < events; ++sequence) {
        const std::string id = std::to_string(thread) + "-" + std::to_string(sequence);
        if (sequence % 2 == 0) {
            CEF_EVENT event;
            event.setSignatureID("101");
            event.setSeverity(4);
            event.setSourceUserName("user" + id);
            event.CEF_Log("lifetime.cef");
        } else {
            I_XDAS_Event* event = create();
            event->setId(id);
            event->getAction()->getLog()->setSeverity(7);
            event->XDAS_Log("lifetime.xdas");
            destroy(event);
        }
    }
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
    if (!exitFromWorker && std::strcmp(argv[2], "return") != 0) return 3;
    const int events = std::atoi(argv[3]);
    // A failed host-name lookup still configures logging.
    if (initSyslog(argv[1], "lifetime") == 1) return 3;

    for (int thread = 0; thread < kThreads; ++thread)
        std::thread(worker, thread, events, exitFromWorker).detach();
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [] { return finished == kThreads; });
    if (exitFromWorker) changed.wait(lock, [] { return false; });
    return 0;
}
