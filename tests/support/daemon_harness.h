// What the integration tests (and the appender benchmark) need to run daemons
// on the loopback interface beside them: finding and configuring rsyslogd,
// and free and bound ports. The daemons themselves are child processes
// (child_process.h).
#pragma once

#include "child_process.h"
#include "file_text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel_test {

inline std::string findRsyslogd() {
    for (const char* path : {"/usr/sbin/rsyslogd", "/sbin/rsyslogd", "/usr/local/sbin/rsyslogd"})
        if (access(path, X_OK) == 0) return path;
    return "";
}

// The address of `port` (0: any) on the loopback interface.
inline sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// An unprivileged port of socket `type` (SOCK_DGRAM or SOCK_STREAM) on the
// loopback interface that nothing holds now. It lies below the kernel's
// ephemeral range, so that a client socket of another test running at the
// same time (a SyslogAppender's, say) cannot be given it before the daemon
// binds it.
inline int freeLoopbackPort(int type) {
    int lowestEphemeral = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> lowestEphemeral;
    std::random_device random;
    std::uniform_int_distribution<int> below(10000, std::max(10001, lowestEphemeral - 1));
    for (int tries = 0; tries < 1000; ++tries) {
        const int port = below(random);
        const int probe = socket(AF_INET, type, 0);
        const sockaddr_in address = loopbackAddress(port);
        const bool free = bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        close(probe);
        if (free) return port;
    }
    throw std::runtime_error("no free loopback port below the ephemeral range");
}

// True once some process has bound UDP `port` on the loopback interface.
inline bool udpPortIsBound(int port) {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = loopbackAddress(port);
    const bool bound =
        bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
    close(probe);
    return bound;
}

// Writes to `config` an rsyslog configuration that receives UDP on
// 127.0.0.1:`port` only, messages up to 64 KiB, control characters kept as
// they are, and writes each message as received after its priority, one per
// line, in arrival order, to `received`. `workDirectory` is rsyslog's own.
inline void writeUdpToFileRsyslogConfig(const std::filesystem::path& config, const std::filesystem::path& workDirectory,
                                        int port, const std::filesystem::path& received) {
    std::ofstream(config) << "global(workDirectory=\"" << workDirectory.string() << "\" maxMessageSize=\"64k\"\n"
                          << "       parser.escapeControlCharactersOnReceive=\"off\")\n"
                          << "main_queue(queue.workerThreads=\"1\")\n"
                          << "module(load=\"imudp\")\n"
                          << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << port
                          << "\" ruleset=\"audit\" rcvbufSize=\"16m\")\n"
                          << "template(name=\"messageOnly\" type=\"string\" string=\"%rawmsg-after-pri%\\n\")\n"
                          << "ruleset(name=\"audit\") {\n"
                          << "  action(type=\"omfile\" file=\"" << received.string() << "\" template=\"messageOnly\")\n"
                          << "}\n";
}

// The command that runs rsyslogd in the foreground with `config`, its pid
// file beside the configuration (same name, extension .pid).
inline std::vector<std::string> rsyslogdCommand(const std::string& rsyslogd, const std::filesystem::path& config) {
    const std::string pidFile = std::filesystem::path(config).replace_extension(".pid").string();
    return {rsyslogd, "-n", "-f", config.string(), "-i", pidFile};
}

inline bool Child::waitUntilUdpBound(int port, Clock::time_point deadline) {
    return waitUntilReady([port] { return udpPortIsBound(port); }, deadline);
}

} // namespace quorvel_test
