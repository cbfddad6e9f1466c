// What the integration tests (and the appender benchmark) need to run daemons
// and programs of their own: finding and configuring rsyslogd, reading what
// they wrote, and child processes that are killed and reaped when the test
// lets go of them, also when it fails.
#pragma once

#include "file_text.h"
#include "run_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace quorvel_test {

using Clock = std::chrono::steady_clock;

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
// loopback interface that nothing holds now.
inline int freeLoopbackPort(int type) {
    const int probe = socket(AF_INET, type, 0);
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
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

// A child process that the test started, with standard output and error in
// `output` and standard input from `input` (or /dev/null); killed and reaped
// if it is still running when the object goes, and killed when the process
// that started it dies.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::filesystem::path& output,
          const std::map<std::string, std::string>& env = {}, const std::filesystem::path& input = "/dev/null") {
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // Killed with the process that started it, also when that one
            // ends without unwinding (a crash, an abort, a kill).
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            const int in = open(input.c_str(), O_RDONLY);
            const int fd = open(output.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
            dup2(in, STDIN_FILENO);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            for (const auto& [name, value] : env)
                setenv(name.c_str(), value.c_str(), 1);
            execArgv(argv);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { kill(); }

    bool running() {
        if (pid_ <= 0 || exited_) return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
        return !exited_;
    }
    // Waits until the process ends or `deadline` passes; true if it ended.
    bool waitUntil(Clock::time_point deadline) {
        while (running()) {
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // Asks the process to stop, and kills it if it has not within `grace`.
    void stop(std::chrono::seconds grace) {
        if (!running()) return;
        ::kill(pid_, SIGTERM);
        if (!waitUntil(Clock::now() + grace)) kill();
    }
    // Kills the process at once (SIGKILL) and reaps it.
    void kill() {
        if (!running()) return;
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        exited_ = true;
    }
    // Waits until the process has bound UDP `port` on the loopback interface,
    // it ends, or `deadline` passes; true if it is running with the port bound.
    bool waitUntilUdpBound(int port, Clock::time_point deadline) {
        while (!udpPortIsBound(port) && running() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return running() && udpPortIsBound(port);
    }
    bool exitedCleanly() const { return exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }

  private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

} // namespace quorvel_test
