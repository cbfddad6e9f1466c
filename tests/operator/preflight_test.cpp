// quorvel-preflight on the ways out it checks: a writable file, a full file
// system, a missing syslog socket, a UDP port something listens on and one
// nothing listens on. The file system and the socket are made in a mount
// namespace of their own (root, on a machine that allows one: not in a chroot
// whose root is no mount point, nor in an unprivileged container). With
// sealing on, on the seal path: a seal too long for a syslog appender, seals
// that reach no appender, event lines an appender's threshold drops.
#include "child_process.h"
#include "skip_or_fail.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using quorvel_test::TempDir;

// A UDP socket on 127.0.0.1 that nothing reads, for as long as it lives.
class UdpListener {
  public:
    UdpListener() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~UdpListener() { close(fd_); }
    int port() const { return port_; }

  private:
    int fd_;
    int port_ = 0;
};

struct Way {
    const char* name;
    const char* appender;   // the appender's properties; DIR and PORT filled in
    const char* namespaced; // shell run in a mount namespace first; empty: none
    bool listen;            // a socket listens on PORT
    int status;
    const char* finding;
};

void PrintTo(const Way& way, std::ostream* out) { *out << way.name; }

const Way kWays[] = {
    {"WritableFile", "FileAppender\nlog4j.appender.A.File=DIR/audit.log", "", false, 0, "can deliver: DIR/audit.log"},
    {"FullFileSystem", "FileAppender\nlog4j.appender.A.File=DIR/full/audit.log",
     "mount -t tmpfs -o size=64k tmpfs DIR/full && cat /dev/zero > DIR/full/fill 2>/dev/null;", false, 1,
     "CANNOT DELIVER: DIR/full/audit.log writable, 0 bytes free: no room for a line"},
    {"MissingSyslogSocket", "net.SyslogAppender\nlog4j.appender.A.SyslogHost=localhost", "mount -t tmpfs tmpfs /dev &&",
     false, 1, "CANNOT DELIVER: syslog(3) to /dev/log: no such socket"},
    {"ListeningUdpPort", "net.SyslogAppender\nlog4j.appender.A.SyslogHost=127.0.0.1:PORT", "", true, 0,
     "can deliver: UDP to 127.0.0.1:PORT: a daemon listens there"},
    {"SilentUdpPort", "net.SyslogAppender\nlog4j.appender.A.SyslogHost=127.0.0.1:PORT", "", false, 1,
     "CANNOT DELIVER: UDP to 127.0.0.1:PORT: nothing listens there"},
};

std::string filled(std::string text, const std::string& dir, int port) {
    for (std::size_t at; (at = text.find("DIR")) != std::string::npos;)
        text.replace(at, 3, dir);
    for (std::size_t at; (at = text.find("PORT")) != std::string::npos;)
        text.replace(at, 4, std::to_string(port));
    return text;
}

// Why this process cannot mount a tmpfs in a mount namespace of its own, as
// the namespaced ways do; empty when it can. Probed once.
const std::string& whyNoMountNamespace() {
    static const std::string why = []() -> std::string {
        if (geteuid() != 0) return "a mount namespace of its own needs root";
        TempDir dir("namespace-probe");
        const auto probe = quorvel_test::runProcess({"unshare", "-m", "mount", "-t", "tmpfs", "tmpfs", dir.path()});
        if (probe.status == 0) return "";
        std::string said = probe.out + probe.err;
        while (!said.empty() && said.back() == '\n')
            said.pop_back();
        return "no mount namespace of its own here: unshare -m mount -t tmpfs says \"" + said + "\"";
    }();
    return why;
}

class Preflight : public testing::TestWithParam<Way> {};

TEST_P(Preflight, SaysWhetherEachWayOutCanDeliver) {
    const Way& way = GetParam();
    if (*way.namespaced != '\0' && !whyNoMountNamespace().empty()) QUORVEL_SKIP_OR_FAIL(whyNoMountNamespace());
    TempDir dir("preflight");
    mkdir(dir.file("full").c_str(), 0755);
    // A port that was free a moment ago is the silent one.
    const int port = UdpListener().port();
    UdpListener listener;
    const int used = way.listen ? listener.port() : port;
    const std::string properties = dir.write(
        "host.properties", filled(std::string("log4j.rootLogger=INFO, A\nlog4j.appender.A=org.apache.log4j.") +
                                      way.appender + "\nlog4j.appender.A.layout=org.apache.log4j.PatternLayout\n",
                                  dir.path(), used));
    const std::string script = filled(way.namespaced, dir.path(), used) + " exec \"$0\" \"$@\"";
    const auto result =
        *way.namespaced == '\0'
            ? quorvel_test::runProcess({QUORVEL_PREFLIGHT, properties})
            : quorvel_test::runProcess({"unshare", "-m", "sh", "-c", script, QUORVEL_PREFLIGHT, properties});
    EXPECT_EQ(result.status, way.status) << result.out << result.err;
    EXPECT_NE(result.out.find(filled(way.finding, dir.path(), used)), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Ways, Preflight, testing::ValuesIn(kWays),
                         [](const testing::TestParamInfo<Way>& info) { return info.param.name; });

// Sealed files, each with one fault of the seal path or none; the file
// appender F takes the events.
struct SealPath {
    const char* name;
    const char* loggers; // the file's loggers and appenders besides F; DIR and PORT filled in
    int status;
    const char* line; // a whole line of the output or the error; DIR and PORT filled in
};

void PrintTo(const SealPath& path, std::ostream* out) { *out << path.name; }

constexpr const char* kSealedWithF = "quorvel.seal=on\n"
                                     "quorvel.seal.auditorKey=LoPw37M3AONaCUGvT7HfHqcUgrAMpPPsiTGxl9ispRA\n"
                                     "log4j.appender.F=org.apache.log4j.FileAppender\n"
                                     "log4j.appender.F.File=DIR/audit.log\n"
                                     "log4j.appender.F.layout=org.apache.log4j.PatternLayout\n";

const SealPath kSealPaths[] = {
    {"Clean", "log4j.rootLogger=INFO, F\n", 0, "  the sealing thread runs"},
    {"SealLongerThanSyslogLimit",
     "log4j.rootLogger=INFO, F\nlog4j.logger.quorvel.seal=INFO, S\n"
     "log4j.appender.S=org.apache.log4j.net.SyslogAppender\nlog4j.appender.S.SyslogHost=127.0.0.1:PORT\n"
     "log4j.appender.S.layout=org.apache.log4j.PatternLayout\n",
     1,
     "  S (SyslogAppender): SPLITS SEALS: the longest seal line, 3275 bytes, is 3276 with its layout, over its "
     "MaxMessageLength 1024 (log4cxx sends it in pieces, which do not verify): set quorvel.seal.lines to 68 or less, "
     "or MaxMessageLength to 3276 or more"},
    {"SealsReachNoAppender",
     "log4j.rootLogger=INFO, F\nlog4j.logger.quorvel.seal=INFO, Q\nlog4j.additivity.quorvel.seal=false\n"
     "log4j.appender.Q=org.apache.log4j.FileAppender\nlog4j.appender.Q.File=DIR/seals.log\n"
     "log4j.appender.Q.Threshold=WARN\nlog4j.appender.Q.layout=org.apache.log4j.PatternLayout\n",
     1,
     "  quorvel.seal: SEALS REACH NO APPENDER: each one it reaches drops an INFO line (Q by its Threshold WARN): "
     "nothing vouches for the event lines; give it an appender that lets INFO through"},
    {"NoAgentAnswers", "log4j.rootLogger=INFO, F\nquorvel.seal.agent=DIR/no-agent.sock\n", 1,
     "  NOT ATTESTED: the host agent at DIR/no-agent.sock gave no attestation within 100 ms: sessions open "
     "unattested, which the auditor's registry counts against them; start quorvel-sealagent, or raise "
     "quorvel.seal.agentMillis"},
    {"CommentAfterAValue", "log4j.rootLogger=INFO, F\nquorvel.seal.lines=256   # a seal at the latest\n", 2,
     "quorvel-preflight: cannot read or apply the log4cxx configuration DIR/host.properties: "
     "quorvel.seal.lines=256   # a seal at the latest: not a whole number from 1 to 4096"},
    {"EventThresholdDropsLines", "log4j.rootLogger=DEBUG, F\nlog4j.appender.F.Threshold=INFO\n", 1,
     "  F (FileAppender), lines of root: DROPS EVENT LINES at DEBUG (its Threshold INFO): no appender takes them, and "
     "the verifier reports each one missing for good; lower the Threshold, or raise the level of root so that they "
     "are not logged"},
};

class SealedPreflight : public testing::TestWithParam<SealPath> {};

TEST_P(SealedPreflight, SaysWhatTheSealPathLacks) {
    const SealPath& path = GetParam();
    TempDir dir("preflight");
    UdpListener listener;
    const std::string properties =
        dir.write("host.properties", filled(std::string(kSealedWithF) + path.loggers, dir.path(), listener.port()));
    const auto result = quorvel_test::runProcess({QUORVEL_PREFLIGHT, properties});
    EXPECT_EQ(result.status, path.status) << result.out << result.err;
    const std::vector<std::string> lines = quorvel_test::lines(result.out + result.err);
    EXPECT_NE(std::find(lines.begin(), lines.end(), filled(path.line, dir.path(), listener.port())), lines.end())
        << result.out;
}

INSTANTIATE_TEST_SUITE_P(SealPaths, SealedPreflight, testing::ValuesIn(kSealPaths),
                         [](const testing::TestParamInfo<SealPath>& info) { return info.param.name; });

} // namespace
