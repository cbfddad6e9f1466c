// A sealed server of the simulated fleet (examples/fleet/run): initialises
// logging from a properties file under a module name, then logs XDAS and CEF
// events in turn at a steady rate, and at every multiple of the fork period
// on the wall clock forks a child that logs a few events of its own and
// exits normally. On SIGTERM or SIGINT (or after the longest run) it stops,
// reaps its children and returns from main, so that the library writes each
// session's end seal. Forks fall on the wall clock's multiples so that the
// fleet's script can restart a host's agent between them.
//
//   fleet-server PROPERTIES MODULE [--rate PER-SECOND] [--fork-millis N]
//                [--child-events N] [--seconds N]
//
// Prints nothing unless it fails; exits 0 when every event was handed over.
#include <quorvel/quorvel.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

struct Settings {
    std::string properties;
    std::string module;
    long rate = 20;         // events per second
    long forkMillis = 4000; // a child at each multiple of this on the wall clock (0: none)
    long childEvents = 3;   // events each child logs
    long seconds = 3600;    // the longest run
};

long long wallMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One event, XDAS or CEF by the parity of `number`; `who` names the process
// ("<module>-<pid>") so that each line is the event of one session.
void logEvent(const std::string& who, long number) {
    const std::string sequence = who + "-" + std::to_string(number);
    if (number % 2 == 0) {
        I_XDAS_Event* event = create();
        event->setId(sequence);
        event->setSource("fleet");
        event->getInitiator()->getAccount()->setName("user" + std::to_string(number % 7));
        event->getAction()->getEvnt()->setName("LOGIN");
        event->getAction()->getLog()->setSeverity(5);
        event->getAction()->setOutcome("SUCCESS");
        try {
            event->XDAS_Log("audit.xdas");
        } catch (...) {
            destroy(event);
            throw;
        }
        destroy(event);
    } else {
        CEF_EVENT event;
        event.setDeviceVendor("Example");
        event.setDeviceProduct("fleet");
        event.setDeviceVersion("1.0");
        event.setSignatureID("100");
        event.setName("login");
        event.setSeverity(4);
        event.setSourceUserName("user" + std::to_string(number % 7));
        // The host's name, as a CEF line should carry it: processes of other
        // hosts have the same ids in their own PID namespaces, and only the
        // host tells their events apart.
        event.setDeviceHostName(getCEFHostName());
        event.setSourceAddress("192.0.2.10");
        event.setcs1Label("sequence");
        event.setCs1(sequence);
        event.CEF_Log("audit.cef");
    }
}

std::string whoAmI(const Settings& settings) { return settings.module + "-" + std::to_string(getpid()); }

// In a forked child: a few events, then a normal exit (the library seals the
// child's session and ends it).
[[noreturn]] void childMain(const Settings& settings) {
    const std::string who = whoAmI(settings);
    for (long number = 0; number < settings.childEvents; ++number)
        logEvent(who, number);
    std::exit(0);
}

// Reaps the children that have ended; false if one failed.
bool reapChildren(bool block) {
    bool allWell = true;
    for (int status = 0;;) {
        const pid_t child = waitpid(-1, &status, block ? 0 : WNOHANG);
        if (child <= 0) return allWell;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) allWell = false;
    }
}

bool parse(int argc, char** argv, Settings& settings) {
    if (argc < 3) return false;
    settings.properties = argv[1];
    settings.module = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        char* end = nullptr;
        const long value = std::strtol(argv[i + 1], &end, 10);
        if (*argv[i + 1] == '\0' || *end != '\0' || value < 0) return false;
        if (option == "--rate" && value > 0)
            settings.rate = value;
        else if (option == "--fork-millis")
            settings.forkMillis = value;
        else if (option == "--child-events")
            settings.childEvents = value;
        else if (option == "--seconds" && value > 0)
            settings.seconds = value;
        else
            return false;
    }
    return (argc - 3) % 2 == 0 && !settings.module.empty();
}

// Logs until SIGTERM or SIGINT arrives or the longest run is over, pacing
// the events by waiting for those signals; true if every child ended well.
bool serve(const Settings& settings, const sigset_t& stopSignals) {
    const std::string who = whoAmI(settings);
    const long long begin = wallMillis();
    const long long stopAt = begin + settings.seconds * 1000;
    long long forkSlot = settings.forkMillis > 0 ? begin / settings.forkMillis : 0;
    bool childrenWell = true;
    for (long number = 0;; ++number) {
        logEvent(who, number);
        const long long now = wallMillis();
        if (settings.forkMillis > 0 && now / settings.forkMillis != forkSlot) {
            forkSlot = now / settings.forkMillis;
            const pid_t child = fork();
            if (child == 0) childMain(settings);
            if (child < 0) {
                std::fprintf(stderr, "fleet-server: fork failed\n");
                childrenWell = false;
            }
        }
        childrenWell = reapChildren(false) && childrenWell;
        const long long next = begin + (number + 1) * 1000 / settings.rate;
        for (long long now = wallMillis(); now < next; now = wallMillis()) {
            if (now >= stopAt) return reapChildren(true) && childrenWell;
            const long long wait = next - now;
            const timespec timeout{static_cast<time_t>(wait / 1000), static_cast<long>(wait % 1000) * 1000000L};
            if (sigtimedwait(&stopSignals, nullptr, &timeout) > 0) return reapChildren(true) && childrenWell;
        }
        if (wallMillis() >= stopAt) return reapChildren(true) && childrenWell;
    }
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: fleet-server PROPERTIES MODULE [--rate PER-SECOND] [--fork-millis N] "
                             "[--child-events N] [--seconds N]\n");
        return 2;
    }
    // Blocked before initialisation, so that the signals wait for
    // sigtimedwait here (the library's own thread blocks every signal).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int status = initSyslog(settings.properties, settings.module);
    if (status == 1 || status == 2) {
        std::fprintf(stderr, "fleet-server: initSyslog(%s) returned %d\n", settings.properties.c_str(), status);
        return 1;
    }
    try {
        if (!serve(settings, stopSignals)) {
            std::fprintf(stderr, "fleet-server: a forked child did not end well\n");
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fleet-server: logging failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
