// The relay of examples/relay/ under faults: a host logs through log4cxx to
// a file that a forwarding rsyslogd reads (imfile) and relays over RELP with
// TLS to two collecting rsyslogds, each started by this test on the loopback
// interface from the shipped configuration (only paths and ports changed).
// The forwarder sends every line to both collectors. While the host logs,
// the first collector is killed (SIGKILL) and restarted twice, the forwarder
// is stopped and started, and the first collector is then killed for good.
// Every line the host logged must reach the second collector byte for byte,
// and what the first wrote must be logged lines too; a collector may write
// a line twice only within what RELP may resend. Clients without a certificate from the
// audit CA, or without TLS, are refused and nothing they send is written.
#include "cef_parser.h"
#include "child_process.h"
#include "daemon_harness.h"
#include "syslog_events.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string_view>
#include <unordered_map>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quorvel_test::Child;
using quorvel_test::Clock;
using quorvel_test::lines;
using quorvel_test::ProcessResult;
using quorvel_test::readFile;
using quorvel_test::runProcess;

constexpr int kThreads = syslog_e2e::kThreads;
constexpr int kEventsPerThread = 12500;
constexpr int kEvents = kThreads * kEventsPerThread;
// Per thread; the 50,000 events take about 8 s to log, so the faults below
// fall while the host is still logging.
constexpr int kRatePerThread = 1600;
// Sessions that break with lines in flight: the first collector's three
// kills, and the forwarder's stop (both sessions).
constexpr int kBrokenSessions = 5;

const fs::path kRelayExamples = fs::path(QUORVEL_SOURCE_DIR) / "examples" / "relay";

int connectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = quorvel_test::loopbackAddress(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool isListening(int port) {
    const int fd = connectLoopback(port);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// Replaces every `from` in `text`; how many there were.
int replaceAll(std::string& text, const std::string& from, const std::string& to) {
    int count = 0;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size(), ++count)
        text.replace(at, from.size(), to);
    return count;
}

// A RELP frame: transaction number, command, length of the data, data.
std::string relpFrame(int number, const std::string& command, const std::string& data) {
    return std::to_string(number) + " " + command + " " + std::to_string(data.size()) +
           (data.empty() ? "" : " " + data) + "\n";
}

// A whole RELP session that delivers one syslog message.
std::string relpSession(const std::string& message) {
    return relpFrame(1, "open", "relp_version=0\nrelp_software=quorvel-relay-test\ncommands=syslog") +
           relpFrame(2, "syslog", "<86>" + message) + relpFrame(3, "close", "");
}

// The sequence text ("t<thread>-<number>") a logged line carries.
// Whether `line` is the start of a logged line followed by the end of one:
// what a file holds where a writer killed in the middle of its writes left
// off and its successor went on.
bool madeOfPieces(const std::string& line, const std::vector<std::string>& sent) {
    std::size_t head = 0; // the longest start of a logged line that `line` begins with
    for (const std::string& logged : sent) {
        const auto differs = std::mismatch(logged.begin(), logged.end(), line.begin(), line.end());
        head = std::max(head, static_cast<std::size_t>(differs.first - logged.begin()));
    }
    const std::string_view rest = std::string_view(line).substr(head);
    return head >= 16 && !rest.empty() && std::any_of(sent.begin(), sent.end(), [&](const std::string& logged) {
               return logged.size() >= rest.size() &&
                      std::string_view(logged).substr(logged.size() - rest.size()) == rest;
           });
}

std::string sequenceOf(const std::string& line) {
    if (line.compare(0, 4, "CEF:") == 0) {
        if (const auto parsed = quorvel_test::parseCefLine(line))
            for (const auto& [key, value] : parsed->extension)
                if (key == "cs1") return value;
        return "";
    }
    try {
        return nlohmann::json::parse(line).value("Id", "");
    } catch (const nlohmann::json::exception&) {
        return "";
    }
}

// Counts the complete lines of the files under some directories, reading
// on from where the last call stopped, so that watching stays cheap.
class LineCounter {
  public:
    explicit LineCounter(std::vector<fs::path> paths) : paths_(std::move(paths)) {}
    std::size_t update() {
        for (const fs::path& path : paths_) {
            std::error_code error;
            if (!fs::is_directory(path, error)) {
                read(path);
                continue;
            }
            for (const auto& entry : fs::directory_iterator(path, error))
                read(entry.path());
        }
        return total_;
    }

  private:
    void read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary | std::ios::ate);
        if (!in) return;
        const auto end = static_cast<std::size_t>(in.tellg());
        std::size_t& offset = offsets_[file];
        if (end <= offset) return;
        std::string chunk(end - offset, '\0');
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        chunk.resize(static_cast<std::size_t>(in.gcount()));
        offset += chunk.size();
        for (const char *at = chunk.data(), *stop = at + chunk.size();
             (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(stop - at)))) != nullptr;
             ++at)
            ++total_;
    }
    std::vector<fs::path> paths_;
    std::map<fs::path, std::size_t> offsets_;
    std::size_t total_ = 0;
};

// True when a file under `dir` holds `line` as a whole line.
bool holdsLine(const fs::path& dir, const std::string& line) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const std::string text = "\n" + readFile(entry.path());
        if (text.find("\n" + line + "\n") != std::string::npos) return true;
    }
    return false;
}

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rsyslogd_ = quorvel_test::findRsyslogd();
        ASSERT_FALSE(rsyslogd_.empty()) << "rsyslogd is not installed: this test needs the Debian packages rsyslog "
                                           "and rsyslog-relp (scripts/install-deps installs them, as root)";
        ASSERT_EQ(access("/usr/bin/openssl", X_OK), 0)
            << "/usr/bin/openssl is missing: this test makes its certificates with the Debian package openssl";
        for (const char* sub : {"certs", "collector-a", "collector-b", "work-a", "work-b", "work-forwarder"})
            fs::create_directory(dir_ / sub);
        makeCertificates();
    }

    void openssl(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/openssl"};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = quorvel_test::runProcess(argv, certs_.string());
        ASSERT_EQ(result.status, 0) << "openssl " << args[0] << " failed:\n" << result.err;
    }
    void makeKey(const std::string& name) {
        openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", name + ".key"});
    }
    void makeCa(const std::string& name) {
        makeKey(name);
        openssl({"req", "-x509", "-new", "-key", name + ".key", "-out", name + ".pem", "-days", "2", "-subj",
                 "/CN=quorvel audit CA"});
    }
    void makeLeaf(const std::string& name, const std::string& dnsName, const std::string& ca) {
        makeKey(name);
        openssl({"req", "-new", "-key", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + dnsName});
        std::ofstream(certs_ / (name + ".ext"))
            << "subjectAltName=DNS:" << dnsName << "\nextendedKeyUsage=serverAuth,clientAuth\n"
            << "basicConstraints=CA:FALSE\n";
        openssl({"x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key", "-CAcreateserial",
                 "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem"});
    }
    // The audit CA with the forwarder's and both collectors' certificates,
    // and another CA of the same name that signed a certificate for the
    // forwarder's name: only the signature tells them apart.
    void makeCertificates() {
        makeCa("audit-ca");
        makeCa("other-ca");
        makeLeaf("server", "app1.servers.example.net", "audit-ca");
        makeLeaf("collector-a", "audit-collector-a.example.net", "audit-ca");
        makeLeaf("collector-b", "audit-collector-b.example.net", "audit-ca");
        makeLeaf("other-server", "app1.servers.example.net", "other-ca");
    }

    // The shipped configuration, with its paths and ports replaced by the
    // test's; fails when one of them is no longer in the file.
    std::string configuration(const std::string& name, const std::string& workDir,
                              const std::vector<std::pair<std::string, std::string>>& replacements) {
        std::string text = readFile(kRelayExamples / name);
        EXPECT_FALSE(text.empty()) << "cannot read " << (kRelayExamples / name);
        for (const auto& [from, to] : replacements)
            EXPECT_GT(replaceAll(text, from, to), 0) << name << " no longer contains " << from;
        return "global(workDirectory=\"" + (dir_ / workDir).string() + "\")\n" + text;
    }

    void writeConfigurations() {
        for (const char* which : {"a", "b"}) {
            const std::string name = std::string("collector-") + which;
            const int port = which[0] == 'a' ? portA_ : portB_;
            std::ofstream(dir_ / (name + ".conf"))
                << configuration("collector.conf", std::string("work-") + which,
                                 {{"input(type=\"imrelp\" port=\"2514\"",
                                   "input(type=\"imrelp\" address=\"127.0.0.1\" port=\"" + std::to_string(port) + "\""},
                                  {"/etc/rsyslog-relp/collector.", (certs_ / name).string() + "."},
                                  {"/etc/rsyslog-relp/", certs_.string() + "/"},
                                  {"/var/log/quorvel/", (dir_ / name).string() + "/"}});
        }
        const std::string forwarder = configuration("forwarder.conf", "work-forwarder",
                                                    {{"/var/log/quorvel/audit.log", (dir_ / "audit.log").string()},
                                                     {"/etc/rsyslog-relp/", certs_.string() + "/"},
                                                     {"target=\"audit-collector-a.example.net\" port=\"2514\"",
                                                      "target=\"127.0.0.1\" port=\"" + std::to_string(portA_) + "\""},
                                                     {"target=\"audit-collector-b.example.net\" port=\"2514\"",
                                                      "target=\"127.0.0.1\" port=\"" + std::to_string(portB_) + "\""}});
        std::ofstream(dir_ / "forwarder.conf") << forwarder;
        std::smatch window;
        ASSERT_TRUE(std::regex_search(forwarder, window, std::regex("windowSize=\"([0-9]+)\"")))
            << "forwarder.conf sets no RELP windowSize";
        windowSize_ = std::stoi(window[1]);
        // rsyslogd's own check of each file: also where a missing module shows.
        for (const char* name : {"collector-a", "collector-b", "forwarder"}) {
            const auto check = quorvel_test::runProcess(
                {rsyslogd_, "-N1", "-f", (dir_ / (std::string(name) + ".conf")).string()}, dir_.string());
            ASSERT_EQ(check.status, 0) << "rsyslogd rejects the " << name << " configuration (it needs the Debian "
                                       << "packages rsyslog and rsyslog-relp; scripts/install-deps installs them):\n"
                                       << check.out << check.err;
        }
    }

    std::unique_ptr<Child> startDaemon(const std::string& name) {
        return std::make_unique<Child>(quorvel_test::rsyslogdCommand(rsyslogd_, dir_ / (name + ".conf")),
                                       dir_ / (name + "." + std::to_string(++starts_) + ".out"));
    }
    void startCollector(std::unique_ptr<Child>& collector, const std::string& name, int port) {
        collector = startDaemon(name);
        ASSERT_TRUE(collector->waitUntilReady([port] { return isListening(port); }, Clock::now() + 20s))
            << name << " did not start listening on 127.0.0.1:" << port << "; its output is in " << dir_;
    }

    // Sends `message` in a RELP session over TLS with the given client
    // certificate to the first collector, through openssl s_client.
    void sendOverTls(const std::string& certificate, const std::string& message) {
        const fs::path input = dir_ / (certificate + ".relp");
        std::ofstream(input, std::ios::binary) << relpSession(message);
        Child client({"/usr/bin/openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(portA_), "-cert",
                      (certs_ / (certificate + ".pem")).string(), "-key", (certs_ / (certificate + ".key")).string(),
                      "-CAfile", (certs_ / "audit-ca.pem").string(), "-quiet", "-ign_eof"},
                     dir_ / (certificate + ".client.out"), {}, input);
        client.waitUntil(Clock::now() + 10s);
    }

    // Sends `message` in a RELP session without TLS; what the collector
    // answered, if anything.
    std::string sendPlain(const std::string& message) {
        const int fd = connectLoopback(portA_);
        if (fd < 0) return "(no connection)";
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const std::string session = relpSession(message);
        (void)!send(fd, session.data(), session.size(), MSG_NOSIGNAL);
        std::string reply;
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<std::size_t>(n));
        close(fd);
        return reply;
    }

    std::string rsyslogd_;
    // Declared before the daemons, so that they are stopped before their
    // files go (kept for a look when the test failed).
    const quorvel_test::TempDir directory_{"relay"};
    const fs::path dir_ = directory_.path(), certs_ = dir_ / "certs";
    int portA_ = 0, portB_ = 0, windowSize_ = 0, starts_ = 0;
    std::unique_ptr<Child> collectorA_, collectorB_, forwarder_;
};

TEST_F(RelayTest, EveryLineReachesTheCollectorsByteExactThroughCrashesAndRestarts) {
    portA_ = quorvel_test::freeLoopbackPort(SOCK_STREAM);
    do
        portB_ = quorvel_test::freeLoopbackPort(SOCK_STREAM);
    while (portB_ == portA_);
    ASSERT_NO_FATAL_FAILURE(writeConfigurations());
    ASSERT_NO_FATAL_FAILURE(startCollector(collectorA_, "collector-a", portA_));
    ASSERT_NO_FATAL_FAILURE(startCollector(collectorB_, "collector-b", portB_));
    forwarder_ = startDaemon("forwarder");

    // Clients the collector must refuse, then one it must accept (so that
    // the refusals are known to come from the certificate and the lack of
    // TLS, not from the session the test speaks).
    const std::string otherCaMarker = "relay-test: signed by another CA";
    const std::string plainMarker = "relay-test: RELP without TLS";
    const std::string acceptedMarker = "relay-test: signed by the audit CA";
    sendOverTls("other-server", otherCaMarker);
    const std::string plainReply = sendPlain(plainMarker);
    EXPECT_EQ(plainReply.find("rsp"), std::string::npos)
        << "the collector answered a RELP session without TLS: " << plainReply;
    sendOverTls("server", acceptedMarker);
    const auto acceptDeadline = Clock::now() + 10s;
    while (!holdsLine(dir_ / "collector-a", acceptedMarker) && Clock::now() < acceptDeadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(holdsLine(dir_ / "collector-a", acceptedMarker))
        << "a client with the audit CA's certificate for app1.servers.example.net could not deliver a line; "
        << "see " << dir_ / "server.client.out";

    // The host, sealing: the audit file the forwarder reads, with the seals,
    // and the same event lines to a second file as the record of what log4cxx
    // was handed.
    const ProcessResult keygen =
        runProcess({QUORVEL_VERIFY, "keygen", (dir_ / "auditor.pub").string(), (dir_ / "auditor.key").string()});
    ASSERT_EQ(keygen.status, 0) << keygen.err;
    std::ofstream(dir_ / "host.properties")
        << "log4j.rootLogger=INFO, AUDIT, SENT\n"
        << "quorvel.seal=on\nquorvel.seal.auditorKey=" << lines(readFile(dir_ / "auditor.pub")).at(0) << "\n"
        << "log4j.logger.quorvel.seal=INFO, AUDIT\n"
        << "log4j.additivity.quorvel.seal=false\n"
        << "log4j.appender.AUDIT=org.apache.log4j.FileAppender\n"
        << "log4j.appender.AUDIT.File=" << (dir_ / "audit.log").string() << "\n"
        << "log4j.appender.AUDIT.Encoding=UTF-8\n"
        << "log4j.appender.AUDIT.layout=org.apache.log4j.PatternLayout\n"
        << "log4j.appender.AUDIT.layout.ConversionPattern=%m%n\n"
        << "log4j.appender.SENT=org.apache.log4j.FileAppender\n"
        << "log4j.appender.SENT.File=" << (dir_ / "sent.log").string() << "\n"
        << "log4j.appender.SENT.Encoding=UTF-8\n"
        << "log4j.appender.SENT.layout=org.apache.log4j.PatternLayout\n"
        << "log4j.appender.SENT.layout.ConversionPattern=%m%n\n";
    std::ofstream(dir_ / "OstradEventDesc.conf") << syslog_e2e::kCatalog;
    Child host({QUORVEL_RELAY_HOST, (dir_ / "host.properties").string(), std::to_string(kEventsPerThread),
                std::to_string(kRatePerThread)},
               dir_ / "host.out", {{"VRQ_SERVER_CONFIGDIR", dir_.string()}});

    // The faults, each when the host has logged that share of the events
    // (whatever the relay has delivered by then).
    LineCounter loggedLines({dir_ / "sent.log"});
    const auto runDeadline = Clock::now() + 40s;
    const auto waitForLogged = [&](double share, const char* what) {
        const auto wanted = static_cast<std::size_t>(share * kEvents);
        while (loggedLines.update() < wanted && host.running() && Clock::now() < runDeadline)
            std::this_thread::sleep_for(20ms);
        ASSERT_GE(loggedLines.update(), wanted)
            << "the host had logged only " << loggedLines.update() << " events before " << what << "; its output:\n"
            << readFile(dir_ / "host.out");
    };
    for (double share : {0.15, 0.35}) {
        ASSERT_NO_FATAL_FAILURE(waitForLogged(share, "killing the first collector"));
        collectorA_->kill();
        std::this_thread::sleep_for(300ms);
        ASSERT_NO_FATAL_FAILURE(startCollector(collectorA_, "collector-a", portA_));
    }
    ASSERT_NO_FATAL_FAILURE(waitForLogged(0.55, "stopping the forwarder"));
    forwarder_->stop(20s);
    EXPECT_TRUE(forwarder_->exitedCleanly()) << "the forwarder did not stop cleanly within 20 s";
    forwarder_ = startDaemon("forwarder");
    ASSERT_NO_FATAL_FAILURE(waitForLogged(0.75, "killing the first collector for good"));
    collectorA_->kill();
    LineCounter atSecond({dir_ / "collector-b"});
    const std::size_t atSecondBeforeFinalKill = atSecond.update();

    ASSERT_TRUE(host.waitUntil(Clock::now() + 30s)) << "the host did not finish logging in time";
    ASSERT_TRUE(host.exitedCleanly()) << "the host failed:\n" << readFile(dir_ / "host.out");
    // Until the last line logged is at the second collector (the forwarder
    // sends in order), or the deadline.
    const std::vector<std::string> sent = lines(readFile(dir_ / "sent.log"));
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kEvents)) << "the host's record of what it logged";
    const auto drainDeadline = Clock::now() + 30s;
    while (!holdsLine(dir_ / "collector-b", sent.back()) && Clock::now() < drainDeadline)
        std::this_thread::sleep_for(200ms);
    forwarder_->stop(20s);
    collectorB_->stop(10s);
    EXPECT_GT(atSecond.update(), atSecondBeforeFinalKill)
        << "the second collector received nothing after the first was killed for good";

    // What the host logged: one line per event, each event once.
    std::unordered_map<std::string, std::size_t> logged; // logged line -> its index in `sent`
    std::set<std::string> sequences;
    for (const std::string& line : sent) {
        const std::string sequence = sequenceOf(line);
        ASSERT_FALSE(sequence.empty()) << "a logged line without its sequence text: " << line.substr(0, 300);
        sequences.insert(sequence);
        logged.emplace(line, logged.size());
    }
    ASSERT_EQ(sequences.size(), static_cast<std::size_t>(kEvents)) << "logged lines with the same sequence text";

    // What each collector wrote: only logged lines (byte for byte) and the
    // accepted client's line, never the refused clients' lines; the first
    // collector, killed with SIGKILL, may also hold a line it was writing
    // when it was killed, cut, with what it wrote after its restart behind.
    std::size_t accepted = 0, foreign = 0, total = 0, cutAtKill = 0;
    std::map<std::string, std::vector<std::size_t>> times; // collector -> times each logged line arrived
    for (const char* name : {"collector-a", "collector-b"}) {
        times[name].assign(sent.size(), 0);
        for (const auto& entry : fs::directory_iterator(dir_ / name))
            for (const std::string& line : lines(readFile(entry.path()))) {
                ++total;
                if (line == acceptedMarker) {
                    ++accepted;
                } else if (line.rfind("quorvel-seal ", 0) == 0) {
                    --total; // checked by the verifier below
                } else if (auto found = logged.find(line); found != logged.end()) {
                    ++times[name][found->second];
                } else if (std::string(name) == "collector-a" && madeOfPieces(line, sent)) {
                    ++cutAtKill;
                } else {
                    EXPECT_TRUE(line.find(otherCaMarker) == std::string::npos &&
                                line.find(plainMarker) == std::string::npos)
                        << "the collector wrote what a refused client sent: " << line;
                    if (++foreign <= 5)
                        ADD_FAILURE() << "a line no one logged arrived at " << entry.path() << " (" << line.size()
                                      << " bytes, sequence \"" << sequenceOf(line) << "\"): " << line.substr(0, 300);
                }
            }
    }
    EXPECT_EQ(accepted, 1u) << "the accepted client's line";
    EXPECT_EQ(foreign, 0u) << "lines that were not logged (altered or forged)";
    // The first collector is killed three times: a write it was making may
    // be cut there, and what it writes after its restart follows the piece.
    EXPECT_LE(cutAtKill, 3u) << "more lines cut at the first collector than it was killed";
    RecordProperty("cut_at_kill", static_cast<int>(cutAtKill));

    // The second collector, never killed, has every line; the first has
    // those it received before it was killed for good.
    std::size_t missing = 0, duplicates = 0, atFirst = 0;
    std::string missingList;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (times["collector-b"][i] == 0 && ++missing <= 10) missingList += " " + sequenceOf(sent[i]);
        atFirst += times["collector-a"][i] != 0;
        for (const auto& [name, counts] : times)
            if (counts[i] > 1) duplicates += counts[i] - 1;
    }
    EXPECT_EQ(missing, 0u) << "logged lines that never reached the second collector, among them:" << missingList;
    EXPECT_GT(atFirst, static_cast<std::size_t>(kEvents) / 2) << "logged lines at the first collector";
    // A broken RELP session resends what the collector had not acknowledged
    // yet, at most one window of it, though the collector may have written
    // some of it before it died.
    const std::size_t duplicateBound = static_cast<std::size_t>(kBrokenSessions) * windowSize_;
    EXPECT_LE(duplicates, duplicateBound) << "more lines arrived twice at a collector than " << kBrokenSessions
                                          << " broken sessions of a RELP window of " << windowSize_ << " can resend";
    std::printf("relay: %d lines logged; written: %zu in all, %zu distinct at the first collector, %zu missing at "
                "the second, %zu written twice at one collector (bound %zu)\n",
                kEvents, total, atFirst, missing, duplicates, duplicateBound);
    RecordProperty("duplicates", static_cast<int>(duplicates));

    // The seals account for every event at the second collector, its copies
    // of resent lines reported as duplicates, not as tampering.
    std::vector<std::string> verify = {QUORVEL_VERIFY, "--key", (dir_ / "auditor.key").string(), "--json", "-"};
    for (const auto& entry : fs::directory_iterator(dir_ / "collector-b"))
        verify.push_back(entry.path().string());
    const ProcessResult verdict = runProcess(verify);
    EXPECT_EQ(verdict.status, 0) << verdict.out << verdict.err;
    const nlohmann::json report = nlohmann::json::parse(verdict.out);
    ASSERT_EQ(report["sessions"].size(), 1u) << verdict.out;
    EXPECT_EQ(report["sessions"][0]["verified"], kEvents) << verdict.out;
    EXPECT_TRUE(report["sessions"][0]["closed"].get<bool>()) << verdict.out;
}

} // namespace
