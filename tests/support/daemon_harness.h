// What the integration tests need to run daemons and programs of their own:
// finding rsyslogd, reading what they wrote, and child processes that are
// killed and reaped when the test lets go of them, also when it fails.
#pragma once

#include "run_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
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

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// The complete lines of `text`, without their line feeds.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(text.substr(start, end - start));
    return result;
}

// A child process that the test started, with standard output and error in
// `output` and standard input from `input` (or /dev/null); killed and reaped
// if it is still running when the object goes.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::filesystem::path& output,
          const std::map<std::string, std::string>& env = {}, const std::filesystem::path& input = "/dev/null") {
        pid_ = fork();
        if (pid_ == 0) {
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
    bool exitedCleanly() const { return exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }

  private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

} // namespace quorvel_test
