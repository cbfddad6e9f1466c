// The host agent as an operator runs it: enrolled with the auditor's public
// key, run for a few one-second epochs. While it runs, neither its memory
// nor its state file holds the seed or the key of an epoch that has ended,
// though both hold the key of the epoch under way. The auditor opens the
// enrollment record with the secret key, matches its fingerprint and checks
// every epoch record's chain and MAC, and quorvel-verify gives each attack
// on the ledger its verdict. Sealed sessions opened on the host carry the
// agent's attestation of who opened them, and quorvel-verify gives each
// forged or misplaced attestation its verdict.
#include "child_process.h"
#include "file_text.h"
#include "memory_search.h"
#include "skip_or_fail.h"
#include "taken_keys.h"
#include "temp_dir.h"
#include "trail/attestation_record.h"
#include "trail/epoch_record.h"
#include "trail/seal_record.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

namespace seal = quorvel::seal;
using quorvel_test::Clock;
using quorvel_test::lines;
using quorvel_test::readFile;

struct Ledger {
    std::vector<std::string> lines; // the enrollment record, then the epoch records
    std::uint64_t lastEpoch() const { return seal::readEpochRecord(lines.back())->record.epoch; }
};

Ledger ledgerOf(const std::string& path) {
    Ledger ledger;
    for (const std::string& line : lines(readFile(path)))
        if (!line.empty()) ledger.lines.push_back(line);
    return ledger;
}

// quorvel-verify's JSON report on the collection `lines`, with `registry`,
// for a collection that ends at `at` (and is a window from `from`, unless 0).
nlohmann::json verified(const quorvel_test::TempDir& dir, const std::vector<std::string>& lines,
                        const std::string& registry, std::uint64_t at, std::uint64_t from = 0) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    std::vector<std::string> command{QUORVEL_VERIFY,     "--key",      dir.file("a.key"),
                                     "--json",           "-",          "--at",
                                     std::to_string(at), "--registry", dir.write("registry", registry)};
    if (from != 0) command.insert(command.end(), {"--from", std::to_string(from)});
    command.push_back(dir.write("collected.log", text));
    return nlohmann::json::parse(quorvel_test::runProcess(command).out);
}

// What quorvel-verify says of the first registered host's ledger in
// `ledger`, as a few words: its faults, or "sound".
std::string ledgerVerdict(const quorvel_test::TempDir& dir, const std::vector<std::string>& ledger,
                          const std::string& registry, std::uint64_t at) {
    const nlohmann::json report = verified(dir, ledger, registry, at);
    const nlohmann::json& host = report.at("hosts").at(0);
    std::string faults;
    for (const char* list : {"lost", "agentDown", "failedMacs", "conflicting", "fromTheFuture"})
        if (!host[list].empty()) faults += std::string(list) + " " + std::to_string(host[list].size()) + " ";
    for (const char* flag : {"stopped"})
        if (host[flag].get<bool>()) faults += std::string(flag) + " ";
    for (const char* flag : {"fingerprintMatches", "enrollmentOpens"})
        if (!host[flag].get<bool>()) faults += std::string("not ") + flag + " ";
    if (host["records"].get<int>() == 0) faults += "no ledger ";
    const std::size_t unregistered = report.at("unregisteredLedger").size();
    if (unregistered != 0) faults += "unregistered " + std::to_string(unregistered) + " ";
    return faults.empty() ? (host["sound"].get<bool>() ? "sound" : "unsound without a fault") : faults;
}

// A host enrolled with the auditor's public key and its agent running with
// one-second epochs, its ledger going to ledger.log; the auditor's side opens
// the enrollment.
struct RunningAgent {
    quorvel_test::TempDir dir{"agent"};
    std::string enrolledOut;
    std::unique_ptr<quorvel_test::Child> agent;
    std::optional<seal::ReadEnrollment> enrollment;
    std::string enrollmentLine;
    std::unique_ptr<seal::HostSeed> seed = std::make_unique<seal::HostSeed>();

    std::vector<std::string> state() const { return {"--state", dir.file("agent.state")}; }
    std::vector<std::string> with(std::vector<std::string> command) const {
        const std::vector<std::string> more = state();
        command.insert(command.end(), more.begin(), more.end());
        return command;
    }

    // Enrolls and starts the agent, run by `launcher` (a command that runs
    // the rest) if given; false with a failure recorded.
    bool start(std::vector<std::string> launcher = {}) {
        const auto keygen = quorvel_test::runProcess({QUORVEL_VERIFY, "keygen", dir.file("a.pub"), dir.file("a.key")});
        EXPECT_EQ(keygen.status, 0) << keygen.err;
        const std::string properties =
            dir.write("agent.properties", "log4j.rootLogger=OFF\nlog4j.appender.F=org.apache.log4j.FileAppender\n"
                                          "log4j.appender.F.File=" +
                                              dir.file("ledger.log") +
                                              "\nlog4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
                                              "log4j.appender.F.layout.ConversionPattern=%m%n\n"
                                              "log4j.logger.quorvel.ledger=INFO, F\n");
        const std::vector<std::string> enroll =
            with({QUORVEL_SEALAGENT, "enroll", "--auditor-key", dir.file("a.pub"), "--record", dir.file("enroll.rec"),
                  "--epoch-millis", "1000", "--properties", properties});
        const auto enrolled = quorvel_test::runProcess(enroll);
        EXPECT_EQ(enrolled.status, 0) << enrolled.err;
        EXPECT_EQ(quorvel_test::runProcess(enroll).status, 1) << "a host is enrolled once";
        enrolledOut = enrolled.out;
        enrollmentLine = lines(readFile(dir.file("enroll.rec"))).at(0);
        enrollment = seal::readEnrollment(enrollmentLine);
        const auto secret = seal::fromBase64<32>(lines(readFile(dir.file("a.key"))).at(0));
        const bool opens = enrollment && seal::openEnrollment(*enrollment, seal::publicKeyOf(*secret), *secret, *seed);
        EXPECT_TRUE(opens);
        const std::vector<std::string> run =
            with({QUORVEL_SEALAGENT, "run", "--properties", properties, "--socket", dir.file("agent.sock")});
        launcher.insert(launcher.end(), run.begin(), run.end());
        agent = std::make_unique<quorvel_test::Child>(launcher, dir.file("agent.out"));
        return keygen.status == 0 && enrolled.status == 0 && opens;
    }

    // Waits until the ledger holds the enrollment and `records` epoch records.
    bool waitForRecords(std::size_t records) {
        return agent->waitUntilReady([&] { return ledgerOf(dir.file("ledger.log")).lines.size() >= records + 1; },
                                     Clock::now() + std::chrono::seconds(30));
    }

    // A server's properties file `name`, sealing with the auditor's key into
    // the file `log` here and asking the agent at `agent` (or "off").
    std::string sealedProperties(const std::string& name, const std::string& log, const std::string& agent) const {
        return dir.write(name, "log4j.rootLogger=INFO, F\nlog4j.appender.F=org.apache.log4j.FileAppender\n"
                               "log4j.appender.F.File=" +
                                   dir.file(log) +
                                   "\nlog4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
                                   "log4j.appender.F.layout.ConversionPattern=%m%n\nquorvel.seal=on\n"
                                   "quorvel.seal.auditorKey=" +
                                   lines(readFile(dir.file("a.pub"))).at(0) + "\nquorvel.seal.agent=" + agent +
                                   "\nquorvel.seal.agentMillis=5000\nquorvel.seal.checkpointMillis=300\n");
    }

    // The epoch the state file stands at, as `status` says.
    std::uint64_t stateEpoch() const {
        const auto status = quorvel_test::runProcess(with({QUORVEL_SEALAGENT, "status"}));
        const std::size_t at = status.out.find("\nepoch ");
        return at == std::string::npos ? 0 : std::stoull(status.out.substr(at + 7));
    }

    seal::EpochKey key(std::uint64_t epoch) const {
        seal::EpochKey key;
        seal::epochKeyFromSeed(*seed, epoch, key);
        return key;
    }
};

// At T the agent is stopped (SIGSTOP) where its state file is whole: neither
// its memory nor the file holds the seed or the key of an epoch before the
// one the state stands at, though both hold that one's (the memory possibly
// the next one's, if the agent has moved on and not saved yet).
TEST(SealAgent, MemoryAndStateHoldNoKeyOfAnEndedEpoch) {
#ifdef QUORVEL_TSAN
    GTEST_SKIP() << "ThreadSanitizer's mappings make the search of the agent's memory take minutes";
#endif
    ASSERT_TRUE(seal::cryptoReady());
    RunningAgent running;
    ASSERT_TRUE(running.start());
    ASSERT_TRUE(running.waitForRecords(3)) << readFile(running.dir.file("agent.out"));
    const pid_t pid = running.agent->pid();
    for (int attempt = 0; attempt < 100; ++attempt) {
        ASSERT_EQ(kill(pid, SIGSTOP), 0);
        const std::uint64_t at = running.stateEpoch();
        std::vector<quorvel_test::Sought> gone, current;
        quorvel_test::addSought(gone, running.seed->data(), running.seed->size(), 0, 'S');
        for (std::uint64_t epoch = 0; epoch <= at + 1; ++epoch)
            quorvel_test::addSought(epoch < at ? gone : current, running.key(epoch).data(), 32,
                                    static_cast<std::uint32_t>(epoch), 'E');
        const std::vector<long> inState = quorvel_test::countInFile(gone, running.dir.file("agent.state"));
        if (std::accumulate(inState.begin(), inState.end(), 0L) != 0) {
            // Stopped between writing the new slot and zeroing the old one.
            kill(pid, SIGCONT);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const std::vector<long> inMemory = quorvel_test::countInMemory(gone, "/proc/" + std::to_string(pid));
        const std::vector<long> controlInMemory = quorvel_test::countInMemory(current, "/proc/" + std::to_string(pid));
        const std::vector<long> controlInState = quorvel_test::countInFile(current, running.dir.file("agent.state"));
        kill(pid, SIGCONT);
        for (std::size_t k = 0; k < gone.size(); ++k)
            EXPECT_EQ(inMemory[k], 0) << gone[k].what << gone[k].index << " in the agent's memory at epoch " << at;
        EXPECT_EQ(controlInState[0], 1) << "the current key is not in the state file: the search finds nothing";
        if (controlInMemory[0] + controlInMemory[1] == 0 && getuid() != 0)
            QUORVEL_SKIP_OR_FAIL("the agent's memory cannot be read here (it is not dumpable; root can read it)");
        EXPECT_GT(controlInMemory[0] + controlInMemory[1], 0)
            << "the current key is not in the agent's memory: the search finds nothing";
        return;
    }
    FAIL() << "each of 100 times the agent was stopped, its state file held the seed or a key of an ended epoch";
}

// `fd` connected to the agent's socket at `path`; false when it is not.
bool connectTo(int fd, const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// The line the agent answers on `fd`, waiting at most 5 s.
std::string answerOn(int fd) {
    std::string answer;
    char buffer[4096];
    pollfd ready{fd, POLLIN, 0};
    for (ssize_t got; answer.find('\n') == std::string::npos && poll(&ready, 1, 5000) == 1 &&
                      (got = read(fd, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(got));
    return answer.substr(0, answer.find('\n'));
}

// Connections to the agent kept open, closed when this goes.
struct Held {
    std::vector<int> fds;
    ~Held() {
        for (const int fd : fds)
            close(fd);
    }
};

// One line sent on the agent's socket at `path`, and the line it answers;
// the connection kept in `held` when given.
std::string ask(const std::string& path, const std::string& line, Held* held = nullptr) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool sent = connectTo(fd, path) && send(fd, (line + "\n").data(), line.size() + 1, MSG_NOSIGNAL) ==
                                                 static_cast<ssize_t>(line.size() + 1);
    const std::string answer = sent ? answerOn(fd) : std::string();
    held != nullptr ? held->fds.push_back(fd) : void(close(fd));
    return answer;
}

// A process that asks the agent gets an attestation of itself as the kernel
// names it, numbered on, for the session it names and MACed under the
// epoch's key; anything else gets a refusal.
TEST(SealAgent, AttestsEachProcessThatAsksAsTheKernelNamesIt) {
    ASSERT_TRUE(seal::cryptoReady());
    RunningAgent running;
    ASSERT_TRUE(running.start());
    const std::string socketPath = running.dir.file("agent.sock");
    ASSERT_TRUE(running.agent->waitUntilReady([&] { return access(socketPath.c_str(), F_OK) == 0; },
                                              Clock::now() + std::chrono::seconds(15)));
    seal::AttestationRequest request;
    request.session = seal::randomSessionId();
    seal::EncryptedKey firstKey;
    firstKey.fill(7);
    request.key = seal::firstKeyDigest(firstKey);
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    for (std::uint64_t number = 0; number < 2; ++number) {
        const std::string answer = ask(socketPath, seal::writeAttestationRequest(request));
        const auto read = seal::readAttestation(answer);
        ASSERT_TRUE(read) << answer;
        const seal::Attestation& a = read->record;
        EXPECT_EQ(a.hostId, running.enrollment->record.hostId);
        EXPECT_EQ(a.number, number);
        EXPECT_EQ(std::make_tuple(a.uid, a.gid, a.pid),
                  std::make_tuple(std::uint64_t{getuid()}, std::uint64_t{getgid()}, std::uint64_t(getpid())));
        EXPECT_EQ(a.exe, exe);
        EXPECT_EQ(a.request.session, request.session);
        EXPECT_EQ(a.request.key, request.key);
        EXPECT_TRUE(seal::sameMac(seal::macOf(running.key(a.epoch), read->signedText), read->mac)) << answer;
    }
    EXPECT_EQ(ask(socketPath, "hello"), "quorvel-attest-refused not an attestation request");

    // quorvel-preflight's own session, set to ask this agent, is attested.
    const std::string properties = running.sealedProperties("sealed.properties", "preflight.log", socketPath);
    const auto preflight = quorvel_test::runProcess({QUORVEL_PREFLIGHT, properties});
    EXPECT_NE(preflight.out.find("\n  the host agent at " + socketPath + " attested this session\n"), std::string::npos)
        << preflight.out;
}

// A request for a session of its own.
std::string requestLine() {
    seal::AttestationRequest request;
    request.session = seal::randomSessionId();
    seal::EncryptedKey firstKey;
    firstKey.fill(7);
    request.key = seal::firstKeyDigest(firstKey);
    return seal::writeAttestationRequest(request);
}

// "attested", or the refusal whole.
std::string kindOf(const std::string& answer) {
    return answer.rfind("quorvel-attest ", 0) == 0 ? "attested" : answer.empty() ? "no answer" : answer;
}

// What a local process that misbehaves, or a second agent, gets; each
// verdict also says whether another process is answered meanwhile.
TEST(SealAgent, NoLocalPeerAndNoSecondAgentHoldsTheAgent) {
    ASSERT_TRUE(seal::cryptoReady());
    using Peer = std::function<std::string(RunningAgent&, const std::string&)>;
    const Peer slowRequest = [](RunningAgent&, const std::string& path) {
        Held held{{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)}};
        const int slow = held.fds[0];
        const std::string line = requestLine();
        const bool connected = connectTo(slow, path);
        std::thread dribble([&] { // a byte every 300 ms, for 6 s at most, until the agent has answered
            pollfd answered{slow, POLLIN, 0};
            for (std::size_t i = 0;
                 i < 20 && send(slow, &line[i], 1, MSG_NOSIGNAL) == 1 && poll(&answered, 1, 300) == 0;)
                ++i;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string other = connected ? ask(path, requestLine()) : "";
        dribble.join();
        return kindOf(other) + " | " + kindOf(answerOn(slow));
    };
    const Peer zombie = [](RunningAgent&, const std::string& path) {
        Held held{{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)}};
        quorvel_test::Child peer([&] { connectTo(held.fds[0], path); }); // the kernel names the connecting process
        siginfo_t info{}; // the peer exited, not reaped: a zombie (the Child reaps it when it goes)
        for (const auto until = Clock::now() + std::chrono::seconds(5); info.si_pid == 0 && Clock::now() < until;
             std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            waitid(P_PID, static_cast<id_t>(peer.pid()), &info, WEXITED | WNOHANG | WNOWAIT);
        const std::string line = requestLine() + "\n";
        (void)send(held.fds[0], line.data(), line.size(), MSG_NOSIGNAL);
        return kindOf(answerOn(held.fds[0]));
    };
    const Peer pastItsShare = [](RunningAgent&, const std::string& path) {
        Held held;
        for (int attested = 0; attested < 200 && kindOf(ask(path, requestLine(), &held)) == "attested"; ++attested) {
        }
        held.fds.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const std::string refused = connectTo(held.fds.back(), path) ? answerOn(held.fds.back()) : "";
        const int otherUser = geteuid() != 0 ? 0 : quorvel_test::runAsUnprivileged([&] {
            return kindOf(ask(path, requestLine())) == "attested" ? 0 : 1;
        });
        for (const int fd : held.fds)
            close(fd);
        held.fds.clear();
        std::string again;
        for (const auto until = Clock::now() + std::chrono::seconds(5);
             (again = kindOf(ask(path, requestLine()))) != "attested" && Clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return refused + " | another user " + std::to_string(otherUser) + " | once let go " + again;
    };
    const Peer secondAgents = [](RunningAgent& running, const std::string& path) {
        quorvel_test::runProcess({QUORVEL_SEALAGENT, "enroll", "--state", running.dir.file("other.state"),
                                  "--auditor-key", running.dir.file("a.pub"), "--record", running.dir.file("o.rec")});
        std::string verdict;
        for (const char* state : {"agent.state", "other.state"}) {
            const auto second =
                quorvel_test::runProcess({QUORVEL_SEALAGENT, "run", "--state", running.dir.file(state), "--properties",
                                          running.dir.file("agent.properties"), "--socket", path},
                                         ".", {}, std::chrono::seconds(10));
            std::string said = second.err.substr(0, second.err.find('\n'));
            for (std::size_t at; (at = said.find(running.dir.file(""))) != std::string::npos;)
                said.erase(at, running.dir.file("").size());
            verdict += std::to_string(second.status) + " " + said + " | ";
        }
        return verdict + kindOf(ask(path, requestLine()));
    };
    const struct {
        const char* peer;
        std::vector<std::string> launcher;
        Peer misbehaves;
        std::string verdict;
    } peers[] = {
        {"a request sent a byte every 300 ms",
         {},
         slowRequest,
         "attested | quorvel-attest-refused no whole request within a second"},
        {"a peer that exits and is not reaped", {}, zombie, "quorvel-attest-refused the process is gone"},
        {"a user holding its share of what 256 descriptors follow",
         {"prlimit", "--nofile=256", "--"},
         pastItsShare,
         "quorvel-attest-refused this user holds too many connections to the agent | another user 0 | once let go "
         "attested"},
        {"a second agent on the same state, then on the same socket",
         {},
         secondAgents,
         "1 quorvel-sealagent: agent.state is in use by another quorvel-sealagent | 1 quorvel-sealagent: another "
         "agent answers on agent.sock | attested"},
    };
    for (const auto& p : peers) {
        RunningAgent running;
        ASSERT_TRUE(running.start(p.launcher)) << p.peer;
        const std::string path = running.dir.file("agent.sock");
        const auto listening = [&] { // the socket's file is there before it listens
            Held probe{{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)}};
            return connectTo(probe.fds[0], path);
        };
        ASSERT_TRUE(running.agent->waitUntilReady(listening, Clock::now() + std::chrono::seconds(15))) << p.peer;
        EXPECT_EQ(p.misbehaves(running, path), p.verdict) << p.peer;
    }
}

// The ledger as the auditor reads it: the enrollment handed over with its
// fingerprint, each epoch record chained and MACed under its epoch's key;
// then quorvel-verify's verdict on it and on attacked copies.
TEST(SealAgent, LedgerVerifiesAndEachAttackGetsItsVerdict) {
    ASSERT_TRUE(seal::cryptoReady());
    RunningAgent running;
    ASSERT_TRUE(running.start());
    ASSERT_TRUE(running.waitForRecords(3)) << readFile(running.dir.file("agent.out"));
    running.agent->stop(std::chrono::seconds(5));
    EXPECT_EQ(running.agent->exitStatus(), 0) << readFile(running.dir.file("agent.out"));
    const quorvel_test::TempDir& dir = running.dir;
    const auto& enrollment = running.enrollment;
    const Ledger ledger = ledgerOf(dir.file("ledger.log"));
    EXPECT_EQ(ledger.lines[0], running.enrollmentLine);
    EXPECT_NE(running.enrolledOut.find("fingerprint " + seal::fingerprintOf(ledger.lines[0]) + "\n"), std::string::npos)
        << running.enrolledOut;
    for (std::size_t i = 1; i < ledger.lines.size(); ++i) {
        const auto read = seal::readEpochRecord(ledger.lines[i]);
        ASSERT_TRUE(read) << ledger.lines[i];
        EXPECT_EQ(read->record.hostId, enrollment->record.hostId);
        EXPECT_EQ(read->record.epoch, i - 1);
        EXPECT_EQ(read->record.from, i - 1);
        EXPECT_EQ(read->record.previous, seal::recordDigest(ledger.lines[i - 1])) << "epoch " << i - 1;
        EXPECT_TRUE(seal::sameMac(seal::macOf(running.key(read->record.epoch), read->signedText), read->mac))
            << "epoch " << i - 1;
    }

    // The auditor's verdict on the ledger as collected, and on attacked
    // copies of it; the collection ends within the epoch after the last one
    // recorded.
    ASSERT_GE(ledger.lines.size(), 4u);
    const std::string registry = seal::fingerprintOf(ledger.lines[0]) + " " + ledger.lines[0] + "\n";
    const std::uint64_t last = ledger.lastEpoch();
    const std::uint64_t at = enrollment->record.time + (last + 1) * enrollment->record.epochMillis + 10;
    const auto without = [](std::vector<std::string> lines, std::size_t at) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
        return lines;
    };
    const auto remade = [&](std::size_t at, const std::function<void(seal::EpochRecord&)>& change,
                            const seal::EpochKey& key) {
        std::vector<std::string> lines = ledger.lines;
        seal::EpochRecord record = seal::readEpochRecord(lines[at])->record;
        change(record);
        lines[at] = seal::writeEpochRecord(record, key);
        return lines;
    };
    const seal::EpochKey keyOfLast = running.key(last);
    // The ledger as an agent that splits each record into two parts writes
    // it: every record made again under its epoch's key, chained on.
    const auto inParts = [&](std::optional<std::size_t> partLost) {
        std::vector<std::string> lines = {ledger.lines[0]};
        seal::Bytes32 previous = seal::recordDigest(ledger.lines[0]);
        for (std::size_t i = 1; i < ledger.lines.size(); ++i) {
            seal::EpochRecord whole = seal::readEpochRecord(ledger.lines[i])->record;
            // Two sessions that went before they logged a seal, numbered on.
            whole.sessions = {{2 * i, seal::kNoSealIndex, seal::SessionEvent::Vanished, {}},
                              {2 * i + 1, seal::kNoSealIndex, seal::SessionEvent::Vanished, {}}};
            for (seal::EpochRecord& part : seal::splitEpochRecord(whole, 200)) {
                part.previous = previous;
                const std::string line = seal::writeEpochRecord(part, running.key(part.epoch));
                previous = seal::recordDigest(line);
                if (partLost != lines.size())
                    lines.push_back(line);
                else
                    partLost = 0; // taken: lost from here on only once
            }
        }
        return lines;
    };
    const seal::EpochKey taken = seal::randomSealKey(); // a key of the forger's own
    seal::Enrollment other = enrollment->record;
    other.hostId.fill(9);
    const std::string otherHost = seal::writeEnrollment(other, taken);
    const struct {
        const char* attack;
        std::vector<std::string> ledger;
        std::string registry;
        std::uint64_t at;
        std::string verdict;
    } attacks[] = {
        {"untouched", ledger.lines, registry, at, "sound"},
        {"a copy of each record",
         [&] {
             std::vector<std::string> twice = ledger.lines;
             twice.insert(twice.end(), ledger.lines.begin(), ledger.lines.end());
             return twice;
         }(),
         registry, at, "sound"},
        {"an epoch record deleted", without(ledger.lines, 2), registry, at, "lost 1 "},
        {"records in parts", inParts(std::nullopt), registry, at, "sound"},
        {"the first part of an epoch's record deleted", inParts(3), registry, at, "lost 1 "},
        {"the last part of an epoch's record deleted", inParts(4), registry, at, "lost 1 "},
        {"the enrollment deleted from the collection", without(ledger.lines, 0), registry, at, "sound"},
        {"a record altered",
         remade(
             2, [](seal::EpochRecord& r) { r.from = 0; }, taken),
         registry, at, "lost 1 failedMacs 1 "},
        {"a record re-made with the last key, which does not vouch for an earlier epoch",
         remade(
             2, [](seal::EpochRecord& r) { r.from = 0; }, keyOfLast),
         registry, at, "lost 1 failedMacs 1 "},
        {"a record of an epoch after the end",
         remade(
             ledger.lines.size() - 1, [](seal::EpochRecord& r) { r.epoch += 5; }, taken),
         registry, at, "fromTheFuture 1 "}, // the last epoch's record may still be on its way
        {"the ledger stops long before the end", ledger.lines, registry, at + 10 * 1000, "stopped "},
        {"every record deleted", {ledger.lines[0]}, registry, at, "stopped no ledger "},
        {"the registry's fingerprint is another's", ledger.lines,
         "0000-0000-0000-0000-0000-0000-0000-0000 " + ledger.lines[0] + "\n", at, "not fingerprintMatches "},
        {"a host the registry does not hold",
         [&] {
             std::vector<std::string> more = ledger.lines;
             seal::EpochRecord record{other.hostId, 0, 0, seal::recordDigest(otherHost), 0, false, {}};
             more.push_back(seal::writeEpochRecord(record, taken));
             return more;
         }(),
         registry, at, "unregistered 1 "},
    };
    for (const auto& a : attacks)
        EXPECT_EQ(ledgerVerdict(dir, a.ledger, a.registry, a.at), a.verdict) << a.attack;
}

// What quorvel-verify says of the origins of the sessions in `collected`
// and of the first registered host's sessions, as a few words: the count of
// each origin, of sessions with seals the ledger names missing and of
// sessions the agent saw vanish, then the host's missing and reused session
// numbers.
std::string originVerdict(const quorvel_test::TempDir& dir, const std::vector<std::string>& collected,
                          const std::string& registry, std::uint64_t at, std::uint64_t from) {
    const nlohmann::json report = verified(dir, collected, registry, at, from);
    std::map<std::string, int> kinds;
    int unanchored = 0, vanished = 0;
    for (const auto& session : report.at("sessions")) {
        ++kinds[session.at("origin").at("kind").get<std::string>()];
        unanchored += !session.at("unanchored").empty();
        vanished += session.at("vanished").get<bool>();
    }
    std::string words;
    for (const auto& [kind, count] : kinds)
        words += kind + " " + std::to_string(count) + " ";
    if (unanchored != 0) words += "unanchored " + std::to_string(unanchored) + " ";
    if (vanished != 0) words += "vanished " + std::to_string(vanished) + " ";
    const nlohmann::json& host = report.at("hosts").at(0);
    for (const auto& missing : host.at("missingSessions"))
        words += "missing " + missing.at("first").dump() + ".." + missing.at("last").dump() + " ";
    for (const auto& number : host.at("reusedNumbers"))
        words += "reused " + number.dump() + " ";
    return words;
}

// Sealed sessions of a server on an enrolled host: quorvel-emit logs one
// event per run, its session opened with the agent's attestation; one run is
// set to ask no agent. The auditor sees who opened each session, and each
// forged, moved or misdated attestation, and each session deleted, gets its
// verdict.
TEST(SealAgent, SessionsOfAnEnrolledHostAreAttestedAndEachForgeryGetsItsVerdict) {
    ASSERT_TRUE(seal::cryptoReady());
    RunningAgent running;
    ASSERT_TRUE(running.start());
    const quorvel_test::TempDir& dir = running.dir;
    const std::string socketPath = dir.file("agent.sock");
    ASSERT_TRUE(running.agent->waitUntilReady([&] { return access(socketPath.c_str(), F_OK) == 0; },
                                              Clock::now() + std::chrono::seconds(15)));
    const std::string auditorKey = lines(readFile(dir.file("a.pub"))).at(0);
    const std::string attested = running.sealedProperties("attested.properties", "trail.log", socketPath);
    const std::string unattested = running.sealedProperties("unattested.properties", "trail.log", "off");
    for (const std::string& properties : {attested, attested, attested, unattested}) {
        const auto emitted =
            quorvel_test::runProcess({QUORVEL_EMIT, "cef", "--config", properties, "--logger", "audit", "--module",
                                      "server", "--set", "SignatureID=100", "--set", "Severity=4"});
        ASSERT_EQ(emitted.status, 0) << emitted.err;
    }
    // A server killed while it logs: once the ledger names one of its seals
    // as live, SIGKILL; the ledger then says it vanished.
    const auto sealsOfKilled = [&] {
        std::uint64_t seals = 0;
        for (const std::string& line : lines(readFile(dir.file("trail.log"))))
            seals += line.find("quorvel-seal ") == 0 && line.find(" index=0 ") == std::string::npos;
        return seals;
    };
    const std::uint64_t sealsBefore = sealsOfKilled();
    quorvel_test::Child killed({QUORVEL_RELAY_HOST, attested, "100000", "20"}, dir.file("killed.out"));
    ASSERT_TRUE(killed.waitUntilReady([&] { return sealsOfKilled() >= sealsBefore + 2; },
                                      Clock::now() + std::chrono::seconds(30)));
    ASSERT_TRUE(running.waitForRecords(ledgerOf(dir.file("ledger.log")).lines.size()));
    killed.kill();
    // The ledger speaks for every epoch the sessions opened and went in.
    const std::size_t records = ledgerOf(dir.file("ledger.log")).lines.size();
    ASSERT_TRUE(running.waitForRecords(records + 1)) << readFile(dir.file("agent.out"));
    running.agent->stop(std::chrono::seconds(5));
    const Ledger ledger = ledgerOf(dir.file("ledger.log"));
    const std::vector<std::string> trail = lines(readFile(dir.file("trail.log")));

    // The sessions in the order they opened; the first is number 0.
    std::vector<seal::SealRecord> openings;
    for (const std::string& line : trail)
        if (const auto read = seal::readSeal(line); read && read->record.opening) openings.push_back(read->record);
    ASSERT_EQ(openings.size(), 5u);
    char exe[PATH_MAX] = {};
    ASSERT_NE(realpath(QUORVEL_EMIT, exe), nullptr);
    for (std::uint64_t number = 0; number < 3; ++number) {
        const auto& attestation = openings[number].opening->attestation;
        ASSERT_TRUE(attestation) << "session " << number;
        EXPECT_EQ(attestation->attestation.number, number);
        EXPECT_EQ(attestation->attestation.uid, std::uint64_t{getuid()});
        EXPECT_EQ(attestation->attestation.exe, exe);
    }
    EXPECT_FALSE(openings[3].opening->attestation);

    const std::string registry = seal::fingerprintOf(ledger.lines[0]) + " " + ledger.lines[0] + "\n";
    const std::uint64_t last = ledger.lastEpoch();
    const auto& enrolled = running.enrollment->record;
    const std::uint64_t at = enrolled.time + (last + 1) * enrolled.epochMillis + 10;
    std::vector<std::string> collected = ledger.lines;
    collected.insert(collected.end(), trail.begin(), trail.end());
    const seal::AuditorPublicKey auditor = *seal::fromBase64<32>(auditorKey);
    const auto withSession = [&](seal::SealRecord forged, std::vector<std::string> more) {
        const seal::SealKey key = quorvel_test::forgeOpening(forged, auditor);
        more.push_back(seal::writeSeal(forged, seal::sealKeysOf(key).mac));
        return more;
    };
    const auto sessionOf = [&](const seal::SealRecord& opening) {
        return "session=" + seal::toBase64(opening.session);
    };
    // The collection without the seals of a session that hold `text` (all
    // of them for "").
    const auto withoutLine = [&](const seal::SealRecord& opening, const std::string& text) {
        std::vector<std::string> fewer;
        for (const std::string& line : collected)
            if (line.find(sessionOf(opening)) == std::string::npos || line.find(text) == std::string::npos)
                fewer.push_back(line);
        return fewer;
    };
    const auto withoutSession = [&](const seal::SealRecord& opening) { return withoutLine(opening, ""); };
    // A session made by whoever holds the current epoch's key (root at the
    // end), dated `when`, with the next session number.
    const auto madeAtTheEnd = [&](std::uint64_t when) {
        seal::SealRecord opening = openings[2];
        opening.session = seal::randomSessionId();
        opening.time = when;
        opening.opening->attestation->attestation.epoch = last;
        opening.opening->attestation->attestation.number = 4;
        const seal::EpochKey held = running.key(last);
        const seal::SealKey key = quorvel_test::forgeOpening(opening, auditor, &held);
        std::vector<std::string> more = collected;
        more.push_back(seal::writeSeal(opening, seal::sealKeysOf(key).mac));
        return more;
    };
    const std::uint64_t lastEpochStart = enrolled.time + last * enrolled.epochMillis;
    seal::SealRecord movedOnto = openings[3];
    movedOnto.session = seal::randomSessionId();
    movedOnto.opening->attestation = openings[0].opening->attestation;
    seal::Enrollment other = enrolled;
    other.hostId.fill(9);
    const std::string otherRegistry =
        "0000-0000-0000-0000-0000-0000-0000-0000 " + seal::writeEnrollment(other, seal::randomSealKey()) + "\n";
    // A window that starts with the epoch of a record naming a checkpoint of
    // the killed session and no other session: its records, and the trail
    // from that checkpoint's line on; that checkpoint made again with a key
    // of the forger's own, or named by the record for session 0 too (as if
    // it had reported the seal as its own).
    std::uint64_t windowEpoch = 0;
    seal::Bytes32 checkpoint{};
    for (const std::string& line : ledger.lines)
        if (const auto read = seal::readEpochRecord(line)) {
            const auto& named = read->record.sessions;
            if (std::all_of(named.begin(), named.end(), [](const auto& e) { return e.number == 3; }))
                for (const seal::SessionEntry& entry : named)
                    if (entry.event == seal::SessionEvent::Checkpoint && windowEpoch == 0) {
                        windowEpoch = read->record.epoch;
                        checkpoint = entry.seal;
                    }
        }
    ASSERT_NE(windowEpoch, 0u) << "no record names a checkpoint of the killed session alone";
    const std::uint64_t windowFrom = enrolled.time + windowEpoch * enrolled.epochMillis;
    enum class Window { AsLogged, CheckpointRemade, CheckpointNamedTwice };
    const auto window = [&](Window attack) {
        std::vector<std::string> kept;
        for (const std::string& line : ledger.lines)
            if (const auto read = seal::readEpochRecord(line); read && read->record.epoch >= windowEpoch) {
                kept.push_back(line);
                if (attack != Window::CheckpointNamedTwice || read->record.epoch != windowEpoch) continue;
                seal::EpochRecord twice = read->record;
                twice.sessions.push_back({0, twice.sessions.front().index, seal::SessionEvent::Checkpoint, checkpoint});
                kept.back() = seal::writeEpochRecord(twice, running.key(windowEpoch));
            }
        const auto from = std::find_if(trail.begin(), trail.end(),
                                       [&](const std::string& line) { return seal::recordDigest(line) == checkpoint; });
        kept.insert(kept.end(), from, trail.end());
        if (attack == Window::CheckpointRemade) {
            const std::size_t at = kept.size() - (trail.end() - from);
            auto record = seal::readSeal(kept[at])->record;
            const seal::SealKey key = seal::randomSealKey();
            record.checkpoint->key = seal::encryptForAuditor(key, *seal::fromBase64<32>(auditorKey));
            kept[at] = seal::writeSeal(record, seal::sealKeysOf(key).mac);
        }
        return kept;
    };
    const struct {
        const char* attack;
        std::vector<std::string> collected;
        std::string registry;
        std::string verdict;
        std::uint64_t from = 0;
    } attacks[] = {
        {"untouched: three attested sessions, one that asked no agent, one killed", collected, registry,
         "attested 4 unattested 1 vanished 1 "},
        {"a registry that holds another host only", collected, otherRegistry, "unattested 1 unregisteredHost 4 "},
        {"the middle session deleted whole", withoutSession(openings[1]), registry,
         "attested 3 unattested 1 vanished 1 missing 1..1 "},
        {"the last session that ended deleted whole", withoutSession(openings[2]), registry,
         "attested 3 unattested 1 vanished 1 missing 2..2 "},
        {"the killed session deleted whole", withoutSession(openings[4]), registry,
         "attested 3 unattested 1 missing 3..3 "},
        {"a session's tail cut with its end seal", withoutLine(openings[1], " end=1 "), registry,
         "attested 4 unattested 1 unanchored 1 vanished 1 "},
        {"a session fabricated with a genuine attestation moved onto it", withSession(movedOnto, collected), registry,
         "attested 4 failed 1 unattested 1 vanished 1 "},
        {"an attestation's user changed",
         withSession(
             [&] {
                 seal::SealRecord changed = openings[0];
                 changed.session = seal::randomSessionId();
                 changed.opening->attestation->attestation.uid = 0;
                 return changed;
             }(),
             collected),
         registry, "attested 4 failed 1 unattested 1 vanished 1 "},
        {"a session deleted and made again under its id and attestation with a key of the forger's own",
         withSession(openings[0], withoutSession(openings[0])), registry,
         "attested 3 failed 1 unattested 1 vanished 1 missing 0..0 "},
        {"root at the end makes a session dated in the epoch under way: it holds (the host can lie from then on)",
         madeAtTheEnd(lastEpochStart + 1), registry, "attested 5 unattested 1 vanished 1 "},
        {"root at the end makes a session dated before it", madeAtTheEnd(lastEpochStart - 1), registry,
         "attested 4 failed 1 unattested 1 vanished 1 "},
        {"the killed session's opening deleted: its checkpoints verify it, the ledger names the opening",
         withoutLine(openings[4], " index=0 "), registry,
         "attested 3 checkpointed 1 unattested 1 unanchored 1 vanished 1 "},
        {"the opening rotated away: a window from a checkpoint the ledger names", window(Window::AsLogged), registry,
         "checkpointed 1 vanished 1 ", windowFrom},
        {"that checkpoint made again with a key of the forger's own: the session starts at the next one",
         window(Window::CheckpointRemade), registry, "checkpointed 1 unanchored 1 vanished 1 ", windowFrom},
        {"that checkpoint named for another session too: it vouches for none, the session starts at the next one",
         window(Window::CheckpointNamedTwice), registry, "checkpointed 1 unanchored 1 vanished 1 missing 0..0 ",
         windowFrom}, // session 0 is not here; 1 and 2 ended before
    };
    for (const auto& a : attacks)
        EXPECT_EQ(originVerdict(dir, a.collected, a.registry, at, a.from), a.verdict) << a.attack;
}

} // namespace
