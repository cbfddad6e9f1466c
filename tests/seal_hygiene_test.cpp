// How a sealing process keeps its keys and its host safe: the key pages are
// flagged out of core dumps and wiped in forked children, no key of a session
// is found in a forked child's memory or in a core dump of the process, the
// library's thread takes no signal its host blocks, and a fork while that
// thread is stalled inside log4cxx leaves a child that logs and exits.
#include "child_process.h"
#include "file_text.h"
#include "memory_search.h"
#include "skip_or_fail.h"
#include "temp_dir.h"
#include "trail/seal_record.h"
#include "trail/sealed_initialisation.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <bitset>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>

namespace {

namespace seal = quorvel::seal;
using quorvel_test::addSought;
using quorvel_test::countInMemory;
using quorvel_test::faultsOf;
using quorvel_test::kFlip;
using quorvel_test::Sought;
using namespace std::chrono_literals;
using quorvel_test::Clock;

// A process that seals into `dir`/audit.log: a seal every 5 lines or 50 ms,
// none when idle; `extra` properties override these.
struct SealedHost {
    quorvel_test::TempDir dir{"hygiene"};
    seal::AuditorPublicKey auditor{};
    seal::AuditorSecretKey secret{};
    std::string properties;

    explicit SealedHost(const std::string& extra = "") {
        EXPECT_TRUE(seal::cryptoReady());
        seal::makeAuditorKeys(auditor, secret);
        properties = dir.write("host.properties",
                               "log4j.rootLogger=INFO, FILE\nlog4j.appender.FILE=org.apache.log4j.FileAppender\n"
                               "log4j.appender.FILE.File=" +
                                   dir.file("audit.log") +
                                   "\nlog4j.appender.FILE.layout=org.apache.log4j.PatternLayout\n"
                                   "log4j.appender.FILE.layout.ConversionPattern=%m%n\nquorvel.seal=on\n"
                                   "quorvel.seal.lines=5\nquorvel.seal.millis=50\nquorvel.seal.idleMillis=600000\n"
                                   "quorvel.seal.auditorKey=" +
                                   seal::toBase64(auditor) + "\n" + extra);
    }
};

void logEvents(int from, int to) {
    for (int n = from; n < to; ++n) {
        CEF_EVENT event;
        event.setSignatureID("100");
        event.setSeverity(4);
        event.setCs1("e-" + std::to_string(n));
        event.CEF_Log("audit");
    }
}

// 25 events: seals cut by the caller (every 5 lines) and by the library's
// thread (50 ms after a line waits); `quiet` runs while no seal is due.
void logSealedEvents(const std::function<void()>& quiet) {
    logEvents(0, 12);
    std::this_thread::sleep_for(300ms);
    quiet();
    logEvents(12, 25);
}

// The live chain key with kFlip applied, in ordinary memory: a copy of a key
// the scans must find (unflipped it would be a leak). threadRunning() takes
// the session's lock, which orders the read after the thread's last seal.
void holdControl(unsigned char* control) {
    if (!quorvel::sealedSession()->threadRunning()) return;
    const seal::SealKey& key = quorvel::sealedSession()->keys().key();
    for (std::size_t i = 0; i < key.size(); ++i)
        control[i] = key[i] ^ kFlip;
}

// Every key of the session whose seals `trail` holds, from its first to two
// past its last seal (those of the seal being filled and of the next one),
// and each chain key flipped as a control.
std::vector<Sought> sessionKeys(const std::string& trail, const SealedHost& host) {
    std::optional<seal::SealKey> key;
    std::uint64_t last = 0;
    for (const std::string& line : quorvel_test::lines(quorvel_test::readFile(trail))) {
        const auto read = seal::readSeal(line);
        if (!read) continue;
        if (read->record.opening) key = seal::decryptAsAuditor(read->record.opening->key, host.auditor, host.secret);
        last = std::max(last, read->record.index);
    }
    std::vector<Sought> sought;
    for (std::uint32_t index = 0; key && index <= last + 2; ++index, key = seal::nextSealKey(*key)) {
        const seal::SealKeys derived = seal::sealKeysOf(*key);
        addSought(sought, key->data(), key->size(), index, 'K');
        addSought(sought, key->data(), key->size(), index, 'K', true);
        addSought(sought, derived.tag.data(), derived.tag.size(), index, 'T');
        addSought(sought, derived.mac.data(), derived.mac.size(), index, 'M');
    }
    return sought;
}

std::vector<std::string> vmFlagsOver(std::uintptr_t start, std::uintptr_t end) {
    std::vector<std::string> flags;
    bool overlaps = false;
    for (const std::string& line : quorvel_test::lines(quorvel_test::readFile("/proc/self/smaps"))) {
        unsigned long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2) {
            overlaps = from < end && start < to;
        } else if (overlaps && line.rfind("VmFlags:", 0) == 0) {
            flags.push_back(line.substr(8) + " ");
        }
    }
    return flags;
}

TEST(SealHygiene, KeyPagesAreKeptOutOfDumpsAndWipedInChildren) {
    SealedHost host;
    ASSERT_EQ(initSyslog(host.properties, "host"), 0);
    const seal::SealingKeys& keys = quorvel::sealedSession()->keys();
    const auto pages = reinterpret_cast<std::uintptr_t>(keys.pages());
    const std::vector<char> ordinary(1 << 16, 'o'); // a heap page: neither flag
    const auto heap = reinterpret_cast<std::uintptr_t>(ordinary.data());
    const struct {
        const char* what;
        std::uintptr_t start, end;
        bool flagged;
    } cases[] = {{"key pages", pages, pages + keys.pagesSize(), true}, {"heap", heap, heap + 1, false}};
    for (const auto& c : cases) {
        const std::vector<std::string> flags = vmFlagsOver(c.start, c.end);
        EXPECT_FALSE(flags.empty()) << c.what;
        for (const std::string& mapping : flags)
            for (const char* flag : {" dd ", " wf "})
                EXPECT_EQ(mapping.find(flag) != std::string::npos, c.flagged) << c.what << ":" << mapping;
    }
}

TEST(SealHygiene, ForkedChildHoldsNoKeyOfItsParent) {
    SealedHost host;
    ASSERT_EQ(initSyslog(host.properties, "host"), 0);
    static unsigned char control[32];
    logSealedEvents([] { holdControl(control); });
    int keys[2];
    ASSERT_EQ(pipe(keys), 0);
    // The child takes its memory as fork() leaves it, then receives the keys
    // the parent derives only now, masked.
    quorvel_test::Child child([&] {
        close(keys[1]);
        std::vector<Sought> sought;
        for (Sought s; read(keys[0], &s, sizeof s) == sizeof s;)
            sought.push_back(s);
        const std::string faults = faultsOf(sought, countInMemory(sought));
        std::fprintf(stderr, "child: %s\n", faults.c_str());
        _exit(faults.empty() ? 0 : 1);
    });
    close(keys[0]);
    for (const Sought& s : sessionKeys(host.dir.file("audit.log"), host))
        ASSERT_EQ(write(keys[1], &s, sizeof s), static_cast<ssize_t>(sizeof s));
    close(keys[1]);
    ASSERT_TRUE(child.waitUntil(Clock::now() + 50s));
    EXPECT_EQ(child.exitStatus(), 0) << "the child's findings are on standard error";
}

TEST(SealHygiene, CoreDumpHoldsNoKey) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer reserves terabytes, which gcore takes minutes to write";
#endif
    SealedHost host;
    quorvel_test::Child sealing([&] {
        if (initSyslog(host.properties, "host") != 0) _exit(3);
        auto* control = new unsigned char[32];
        logSealedEvents([&] { holdControl(control); });
        std::this_thread::sleep_for(100ms); // the thread has cut the waiting lines' seal
        std::ofstream(host.dir.file("ready")).put('r');
        for (;;)
            pause();
    });
    ASSERT_TRUE(sealing.waitUntilReady([&] { return !host.dir.read("ready").empty(); }, Clock::now() + 20s));
    const std::string core = host.dir.file("core");
    const auto gcore = quorvel_test::runProcess({"gcore", "-o", core, std::to_string(sealing.pid())});
    if (gcore.status == 127) GTEST_SKIP() << "gcore (gdb) is not installed";
    if (gcore.status != 0 && (gcore.out + gcore.err).find("ptrace") != std::string::npos)
        QUORVEL_SKIP_OR_FAIL("tracing is not allowed here: " + gcore.err);
    ASSERT_EQ(gcore.status, 0) << gcore.out << gcore.err;
    sealing.kill();

    const std::vector<Sought> sought = sessionKeys(host.dir.file("audit.log"), host);
    const std::string dump = core + "." + std::to_string(sealing.pid());
    const std::string bytes = quorvel_test::readFile(dump);
    std::vector<long> hits(sought.size());
    countIn(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0, sought, hits);
    EXPECT_EQ(faultsOf(sought, hits), "") << "in " << dump;
}

TEST(SealHygiene, SealingThreadTakesNoSignalItsHostBlocks) {
    SealedHost host("quorvel.seal.idleMillis=20\n");
    quorvel_test::Child blocking([&] {
        if (initSyslog(host.properties, "host") != 0) _exit(3);
        // The thread has cut a seal: it runs, with its own signal mask.
        for (const auto deadline = Clock::now() + 10s;
             host.dir.read("audit.log").find(" index=1 ") == std::string::npos;) {
            if (Clock::now() > deadline) _exit(4);
            std::this_thread::sleep_for(5ms);
        }
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &term, nullptr);
        kill(getpid(), SIGTERM);
        const timespec bound{10, 0};
        std::exit(sigtimedwait(&term, nullptr, &bound) == SIGTERM ? 0 : 5);
    });
    ASSERT_TRUE(blocking.waitUntil(Clock::now() + 30s));
    EXPECT_EQ(blocking.exitStatus(), 0) << "128 + 15: SIGTERM was delivered to a thread that does not block it";
}

TEST(SealHygiene, ForkWhileTheSealAppenderStallsLeavesAChildThatLogs) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer cannot follow a thread started in a forked child of a threaded process";
#endif
    // Seals go into a FIFO of one page that the test reads, cut by the
    // library's thread every 10 ms when idle.
    quorvel_test::TempDir fifoDir("stall");
    const std::string fifo = fifoDir.file("seals");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GT(fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    SealedHost host("quorvel.seal.idleMillis=10\nlog4j.logger.quorvel.seal=INFO, SEALS\n"
                    "log4j.additivity.quorvel.seal=false\nlog4j.appender.SEALS=org.apache.log4j.FileAppender\n"
                    "log4j.appender.SEALS.File=" +
                    fifo +
                    "\nlog4j.appender.SEALS.layout=org.apache.log4j.PatternLayout\n"
                    "log4j.appender.SEALS.layout.ConversionPattern=%m%n\n");
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    // The host forks when told; its child logs one event and exits. The
    // host waits for it, bounded, and says how it went.
    quorvel_test::Child forking([&] {
        if (initSyslog(host.properties, "host") != 0) _exit(3);
        char byte;
        if (read(go[0], &byte, 1) != 1) _exit(4);
        // It ends without exit handlers: LeakSanitizer cannot see the
        // thread-local storage of threads that a fork left behind.
        quorvel_test::Child child([] {
            logEvents(0, 1);
            closeSealedSession();
            _exit(0);
        });
        // 5: the child is stuck (deadlocked at its first line); it dies
        // with the host.
        std::exit(child.waitUntil(Clock::now() + 10s) ? child.exitStatus() : 5);
    });
    close(go[0]);
    // Full when what waits in the pipe stays the same for 100 ms, ten idle
    // periods: the thread is blocked writing a seal.
    int queued = -1, same = 0;
    for (const auto deadline = Clock::now() + 10s; same < 5 && Clock::now() < deadline && forking.running();) {
        std::this_thread::sleep_for(20ms);
        int now = 0;
        ioctl(reader, FIONREAD, &now);
        same = now == queued && now > 2048 ? same + 1 : 0;
        queued = now;
    }
    ASSERT_EQ(same, 5) << "the seals never filled the FIFO; " << queued << " bytes queued";
    ASSERT_EQ(write(go[1], "g", 1), 1);
    std::this_thread::sleep_for(300ms); // less than fork()'s bound of 2 s
    std::string seals;
    const auto drain = [&] {
        char buffer[4096];
        for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
            seals.append(buffer, static_cast<std::size_t>(n));
        return false;
    };
    forking.waitUntilReady(drain, Clock::now() + 20s);
    drain();
    close(reader);
    close(go[1]);
    ASSERT_FALSE(forking.running()) << "the host did not end";
    EXPECT_EQ(forking.exitStatus(), 0) << "5: its child did not end within 10 s (deadlocked?)";
    // The child's opening seal: a second session, of another process.
    std::map<std::string, std::uint64_t> openings;
    for (const std::string& line : quorvel_test::lines(seals))
        if (const auto read = seal::readSeal(line); read && read->record.opening)
            openings[seal::toBase64(read->record.session)] = read->record.opening->pid;
    ASSERT_EQ(openings.size(), 2u) << seals;
    EXPECT_NE(openings.begin()->second, std::next(openings.begin())->second);
}

} // namespace
