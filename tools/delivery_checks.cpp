#include "delivery_checks.h"

#include "file_descriptor.h"

#include <log4cxx/asyncappender.h>
#include <log4cxx/consoleappender.h>
#include <log4cxx/fileappender.h>
#include <log4cxx/net/syslogappender.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

namespace quorvel_tools {

namespace {

// A file with less room than this cannot take an audit line of any size.
constexpr unsigned long long kLeastRoom = 64 * 1024;
// The local syslog socket that syslog(3) writes to.
constexpr const char* kSyslogSocket = "/dev/log";

std::string bytesText(unsigned long long bytes) {
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    for (; value >= 1024 && unit < 4; ++unit)
        value /= 1024;
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

void checkFile(const log4cxx::FileAppender& appender, AppenderCheck& check) {
    const std::filesystem::path file = appender.getFile();
    if (file.empty()) {
        check.findings = "writes the files its rolling policy names: cannot tell which from here";
        return;
    }
    const std::filesystem::path directory = file.has_parent_path() ? file.parent_path() : ".";
    const bool exists = access(file.c_str(), F_OK) == 0;
    if (access(exists ? file.c_str() : directory.c_str(), W_OK) != 0) {
        check.delivery = Delivery::Cannot;
        check.findings = "cannot write " + file.string() + ": " + std::strerror(errno) +
                         " (log4cxx drops every line then, and initSyslog still returns 0)";
        return;
    }
    check.findings = file.string() + (exists ? " writable" : " can be created");
    struct statvfs room {};
    if (statvfs(directory.c_str(), &room) != 0) {
        // Writable, but how much room is left cannot be told.
        check.delivery = Delivery::Unknown;
        check.findings += ", free space unknown (" + std::string(std::strerror(errno)) + ")";
    } else {
        const unsigned long long free = static_cast<unsigned long long>(room.f_bavail) * room.f_frsize;
        check.delivery = free < kLeastRoom ? Delivery::Cannot : Delivery::Can;
        check.findings += ", " + bytesText(free) + " free";
        if (free < kLeastRoom) check.findings += ": no room for a line (XDAS_Log and CEF_Log throw when it fills)";
    }
    if (appender.getBufferedIO())
        check.findings +=
            "; buffered (BufferedIO): lines reach the file in blocks, a failed write loses or repeats one";
}

// True when `address` is one of this host's.
bool isLocal(const sockaddr* address) {
    if (address->sa_family == AF_INET &&
        (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127)
        return true;
    if (address->sa_family == AF_INET6 &&
        IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr))
        return true;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return false;
    bool local = false;
    for (const ifaddrs* i = interfaces; i != nullptr && !local; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != address->sa_family) continue;
        local = address->sa_family == AF_INET
                    ? reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr ==
                          reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr
                    : std::memcmp(&reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr,
                                  &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, sizeof(in6_addr)) == 0;
    }
    freeifaddrs(interfaces);
    return local;
}

void checkUdp(const std::string& host, const std::string& port, AppenderCheck& check) {
    const std::string target = "UDP to " + host + ":" + port;
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
        check.delivery = Delivery::Cannot;
        check.findings = target + ": the host name does not resolve";
        return;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);
    if (!isLocal(found->ai_addr)) {
        check.findings = target + ": cannot know from here whether anything listens (UDP is never acknowledged)";
        return;
    }
    // A socket of our own bound to the port tells whether one is bound there.
    const FileDescriptor probe(socket(found->ai_family, SOCK_DGRAM, 0));
    if (bind(probe.get(), found->ai_addr, found->ai_addrlen) == 0) {
        check.delivery = Delivery::Cannot;
        check.findings = target + ": nothing listens there (the lines are dropped without a word)";
    } else if (errno == EADDRINUSE) {
        check.delivery = Delivery::Can;
        check.findings = target + ": a daemon listens there (UDP drops lines it has no room for)";
    } else {
        check.findings = target + ": cannot tell (" + std::strerror(errno) + ")";
    }
}

void checkSyslogSocket(AppenderCheck& check) {
    struct stat info {};
    const std::string target = std::string("syslog(3) to ") + kSyslogSocket;
    if (stat(kSyslogSocket, &info) != 0 || !S_ISSOCK(info.st_mode)) {
        check.delivery = Delivery::Cannot;
        check.findings = target + ": no such socket (syslog(3) drops every line without a word)";
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kSyslogSocket, sizeof address.sun_path - 1);
    const FileDescriptor probe(socket(AF_UNIX, SOCK_DGRAM, 0));
    if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        check.delivery = Delivery::Cannot;
        check.findings = target + ": no daemon reads it (" + std::strerror(errno) + ")";
        return;
    }
    // An empty datagram, which syslog daemons ignore, finds the queue full
    // when the daemon does not read.
    if (send(probe.get(), "", 0, MSG_DONTWAIT) != 0 && errno == EAGAIN) {
        check.delivery = Delivery::Cannot;
        check.findings = target + ": the daemon does not read (its queue is full; callers block until it reads)";
        return;
    }
    check.delivery = Delivery::Can;
    check.findings = target + ": a daemon reads it (while it stalls, callers wait for it)";
}

// The SyslogHost the file gives the appender, port included (log4cxx keeps
// the port to itself); its host without a port when the file does not say.
std::string syslogHostOf(const log4cxx::net::SyslogAppender& appender, const log4cxx::helpers::Properties& properties) {
    for (const char* prefix : {"log4j.appender.", "log4cxx.appender."}) {
        const std::string host = properties.getProperty(prefix + appender.getName() + ".SyslogHost");
        if (!host.empty()) return host;
    }
    return appender.getSyslogHost();
}

void checkSyslog(const log4cxx::net::SyslogAppender& appender, const log4cxx::helpers::Properties& properties,
                 AppenderCheck& check) {
    const std::string host = syslogHostOf(appender, properties);
    const std::size_t colon = host.rfind(':');
    const bool hasPort = colon != std::string::npos && host.find(':') == colon;
    const std::string name = hasPort ? host.substr(0, colon) : host;
    if (!hasPort && (name.empty() || name == "localhost" || name == "127.0.0.1"))
        checkSyslogSocket(check);
    else
        checkUdp(name, hasPort ? host.substr(colon + 1) : "514", check);
    check.findings += "; MaxMessageLength " + std::to_string(appender.getMaxMessageLength());
}

} // namespace

std::vector<AppenderCheck> checkAppender(const log4cxx::AppenderPtr& appender,
                                         const log4cxx::helpers::Properties& properties, int depth) {
    std::vector<AppenderCheck> checks(1);
    AppenderCheck& check = checks[0];
    check.name = appender->getName();
    check.kind = appender->getClass().getName();
    check.depth = depth;
    if (const auto file = log4cxx::cast<log4cxx::FileAppender>(appender)) {
        checkFile(*file, check);
    } else if (const auto syslog = log4cxx::cast<log4cxx::net::SyslogAppender>(appender)) {
        checkSyslog(*syslog, properties, check);
    } else if (const auto console = log4cxx::cast<log4cxx::ConsoleAppender>(appender)) {
        check.delivery = Delivery::Can;
        check.findings = "writes to the process's " + std::string(console->getTarget());
    } else if (const auto async = log4cxx::cast<log4cxx::AsyncAppender>(appender)) {
        check.findings = std::string(async->getBlocking() ? "blocking: callers wait" : "dropping: events are dropped") +
                         " when " + std::to_string(async->getBufferSize()) + " events wait for the appenders below" +
                         (async->getBlocking() ? "" : " (counted in one line it logs later)");
        // It delivers as well as the best of the appenders it feeds.
        Delivery best = Delivery::Cannot;
        for (const log4cxx::AppenderPtr& fed : async->getAllAppenders()) {
            std::vector<AppenderCheck> below = checkAppender(fed, properties, depth + 1);
            if (below[0].delivery == Delivery::Can || (below[0].delivery == Delivery::Unknown && best != Delivery::Can))
                best = below[0].delivery;
            checks.insert(checks.end(), below.begin(), below.end());
        }
        checks[0].delivery = best;
        if (async->getAllAppenders().empty()) checks[0].findings += "; it feeds no appender";
    } else {
        check.findings = "an appender this check does not know: cannot tell";
    }
    return checks;
}

} // namespace quorvel_tools
