// quorvel-preflight on the ways out it checks: a writable file, a full file
// system, a missing syslog socket, a UDP port something listens on and one
// nothing listens on. The file system and the socket are made in a mount
// namespace of their own (root only).
#include "child_process.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

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

class Preflight : public testing::TestWithParam<Way> {};

TEST_P(Preflight, SaysWhetherEachWayOutCanDeliver) {
    const Way& way = GetParam();
    if (*way.namespaced != '\0' && geteuid() != 0) GTEST_SKIP() << "a mount namespace needs root";
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

} // namespace
