// A host that logs numbered audit events from several threads and does what
// a host should do when delivery fails: XDAS_Log and CEF_Log pass log4cxx's
// exceptions on (a full disk, a message too long for UDP, ...), so every
// call is guarded, the failure counted and reported, and the host goes on.
// measure/measure-delivery runs it on every path a host can configure.
//
//   quorvel-delivery-host PROPERTIES EVENTS [--threads N] [--first-thread N]
//                         [--rate PER-SECOND] [--pad BYTES]
//                         [--async blocking|dropping] [--buffer N]
//
// Each thread logs EVENTS events, CEF and XDAS in turn, carrying the text
// "t<thread>-<number>" (CEF cs1, XDAS Id; threads numbered from
// --first-thread, so that several hosts number apart) and a padding of
// BYTES; at most
// PER-SECOND of them per thread per second (0: as fast as they go). With
// --async the root logger's appenders are put behind an AsyncAppender with
// a buffer of N events that blocks callers or drops events when full. At
// the end it prints, on standard error, what the callers saw.
#include <quorvel/quorvel.h>

#include <log4cxx/asyncappender.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    int threads = 4;
    int firstThread = 0;
    int events = 1000;
    int rate = 0;
    std::size_t pad = 0;
    std::string async; // "", "blocking" or "dropping"
    int buffer = 128;
};

// What the callers saw: calls that threw, the first reason, the longest call.
struct Outcome {
    std::atomic<long> failed{0};
    std::atomic<long long> longestMicros{0};
    std::mutex mutex;
    std::string firstFailure;

    void failure(const char* what) {
        if (failed++ == 0) {
            const std::lock_guard<std::mutex> lock(mutex);
            firstFailure = what;
        }
    }
    void took(Clock::duration duration) {
        const long long micros = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
        for (long long longest = longestMicros; micros > longest;)
            longestMicros.compare_exchange_weak(longest, micros);
    }
};

void putRootAppendersBehindAsync(const Settings& settings) {
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    const auto async = std::make_shared<log4cxx::AsyncAppender>();
    async->setBufferSize(settings.buffer);
    async->setBlocking(settings.async == "blocking");
    for (const log4cxx::AppenderPtr& appender : root->getAllAppenders()) {
        async->addAppender(appender);
        root->removeAppender(appender);
    }
    log4cxx::helpers::Pool pool;
    async->activateOptions(pool);
    root->addAppender(async);
}

// Logs one event; a failure is the host's to handle: here it is counted and
// the host logs on. A host that must not lose an event would keep it (a
// spool file, a retry) or stop serving what cannot be audited.
void logEvent(int thread, int number, const std::string& pad, Outcome& outcome) {
    const std::string sequence = "t" + std::to_string(thread) + "-" + std::to_string(number);
    const Clock::time_point start = Clock::now();
    try {
        if (number % 2 == 0) {
            CEF_EVENT event;
            event.setDeviceVendor("Example");
            event.setDeviceProduct("delivery");
            event.setSignatureID("100");
            event.setName("login");
            event.setSeverity(4);
            event.setSourceUserName("user" + std::to_string(thread));
            event.setcs1Label("sequence");
            event.setCs1(sequence);
            if (!pad.empty()) event.setFlexString1(pad);
            event.CEF_Log("audit.cef");
        } else {
            I_XDAS_Event* event = create();
            event->setId(sequence);
            event->setSource(pad.empty() ? "delivery" : pad);
            event->getAction()->getLog()->setSeverity(7);
            try {
                event->XDAS_Log("audit.xdas");
            } catch (...) {
                destroy(event);
                throw;
            }
            destroy(event);
        }
    } catch (const std::exception& error) {
        outcome.failure(error.what());
    } catch (...) {
        outcome.failure("an exception that is not a std::exception");
    }
    outcome.took(Clock::now() - start);
}

// An AsyncAppender's buffer is drained, and every appender closed, before
// the process ends; a sealed session's last seal goes out first. A
// downstream that does not take the buffer (a stalled daemon) would keep the
// process from ending for as long as it stalls: after `limit` the host ends
// without it, and what was still buffered is lost (and named missing by
// quorvel-verify, since the last seal went out before).
void drainForAtMost(std::chrono::seconds limit) {
    closeSealedSession();
    std::mutex mutex;
    std::condition_variable drained;
    bool done = false;
    std::thread([&] {
        log4cxx::LogManager::shutdown();
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
        drained.notify_one();
    }).detach();
    std::unique_lock<std::mutex> lock(mutex);
    if (!drained.wait_for(lock, limit, [&] { return done; })) {
        std::fprintf(stderr, "the appenders did not drain within %lld s: ending without them\n",
                     static_cast<long long>(limit.count()));
        std::_Exit(3);
    }
}

bool parse(int argc, char** argv, Settings& settings) {
    if (argc < 3) return false;
    settings.events = std::atoi(argv[2]);
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--threads")
            settings.threads = std::max(1, std::atoi(value.c_str()));
        else if (option == "--first-thread")
            settings.firstThread = std::atoi(value.c_str());
        else if (option == "--rate")
            settings.rate = std::atoi(value.c_str());
        else if (option == "--pad")
            settings.pad = static_cast<std::size_t>(std::atol(value.c_str()));
        else if (option == "--async" && (value == "blocking" || value == "dropping"))
            settings.async = value;
        else if (option == "--buffer")
            settings.buffer = std::max(1, std::atoi(value.c_str()));
        else
            return false;
    }
    return (argc - 3) % 2 == 0;
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: quorvel-delivery-host PROPERTIES EVENTS [--threads N] [--first-thread N] "
                             "[--rate PER-SECOND] [--pad BYTES] [--async blocking|dropping] [--buffer N]\n");
        return 2;
    }
    if (initSyslog(argv[1], "delivery") == 1) {
        std::fprintf(stderr, "cannot apply %s\n", argv[1]);
        return 1;
    }
    if (!settings.async.empty()) putRootAppendersBehindAsync(settings);
    const std::string pad(settings.pad, 'p');
    Outcome outcome;
    const Clock::time_point begin = Clock::now();
    std::vector<std::thread> threads;
    for (int thread = settings.firstThread; thread < settings.firstThread + settings.threads; ++thread) {
        threads.emplace_back([&, thread] {
            for (int number = 0; number < settings.events; ++number) {
                logEvent(thread, number, pad, outcome);
                if (settings.rate > 0)
                    std::this_thread::sleep_until(begin +
                                                  std::chrono::microseconds(1000000LL * (number + 1) / settings.rate));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    if (!settings.async.empty()) drainForAtMost(std::chrono::seconds(5));
    std::fprintf(stderr, "calls %ld failed %ld longest_ms %.1f first_failure %s\n",
                 static_cast<long>(settings.threads) * settings.events, outcome.failed.load(),
                 static_cast<double>(outcome.longestMicros.load()) / 1000.0,
                 outcome.firstFailure.empty() ? "-" : outcome.firstFailure.c_str());
    return 0;
}
