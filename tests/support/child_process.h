// Child processes of a test: programs run to their end with what they wrote
// collected, daemons that run beside the test, and code run as an
// unprivileged user. Every wait is bounded; a child still running when its
// Child object goes (also when the test fails) is killed and reaped, and a
// child dies with the process that started it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace quorvel_test {

using Clock = std::chrono::steady_clock;
using Environment = std::map<std::string, std::string>;

// In a child process: sets `env` and replaces the process with `argv`
// (argv[0] found on PATH unless it is a path), or ends it with status 127.
[[noreturn]] inline void execArgv(const std::vector<std::string>& argv, const Environment& env = {}) {
    for (const auto& [name, value] : env)
        setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

class Child {
  public:
    // Runs `inChild` in a child process, which ends with status 127 if
    // `inChild` returns.
    explicit Child(const std::function<void()>& inChild) {
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ != 0) return;
        // Killed with the process that started it, also when that one ends
        // without unwinding (a crash, an abort, a kill).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        inChild();
        _exit(127);
    }
    // Runs `argv` with standard output and error in `output` and standard
    // input from `input`.
    Child(const std::vector<std::string>& argv, const std::filesystem::path& output, const Environment& env = {},
          const std::filesystem::path& input = "/dev/null")
        : Child([&] {
              const int out = open(output.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
              dup2(open(input.c_str(), O_RDONLY), STDIN_FILENO);
              dup2(out, STDOUT_FILENO);
              dup2(out, STDERR_FILENO);
              execArgv(argv, env);
          }) {}
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
        waitUntilReady([] { return false; }, deadline);
        return !running();
    }
    // Waits until `ready()`, the process ends or `deadline` passes; true if
    // the process runs and is ready.
    bool waitUntilReady(const std::function<bool()>& ready, Clock::time_point deadline) {
        for (auto pause = std::chrono::milliseconds(1); running() && !ready() && Clock::now() < deadline;
             pause = std::min(2 * pause, std::chrono::milliseconds(10)))
            std::this_thread::sleep_for(pause);
        return running() && ready();
    }
    // Waits until the process has bound UDP `port` on the loopback interface
    // (see daemon_harness.h).
    bool waitUntilUdpBound(int port, Clock::time_point deadline);
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
    // Its exit status once it has ended; 128 plus the signal's number when a
    // signal ended it, -1 while it runs.
    int exitStatus() {
        if (running() || pid_ <= 0) return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }
    bool exitedCleanly() { return exitStatus() == 0; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

struct ProcessResult {
    int status = -1; // as Child::exitStatus(); -1 when it was killed for running too long
    std::string out;
    std::string err;
};

// Runs `argv` in `directory` with `env` added to the environment and
// standard input from /dev/null, and collects what it wrote; kills it if it
// has not ended within `timeout`, and says so on `err`.
inline ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& directory = ".",
                                const Environment& env = {}, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    std::FILE* const out = std::tmpfile();
    std::FILE* const err = std::tmpfile();
    Child child([&] {
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        if (chdir(directory.c_str()) == 0) execArgv(argv, env);
    });
    const bool ended = child.waitUntil(Clock::now() + timeout);
    child.kill();
    const auto readBack = [](std::FILE* file) {
        std::string text;
        std::rewind(file);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, n);
        std::fclose(file);
        return text;
    };
    ProcessResult result{ended ? child.exitStatus() : -1, readBack(out), readBack(err)};
    if (!ended) result.err += argv[0] + " did not end within " + std::to_string(timeout.count()) + " s\n";
    return result;
}

// What runAsUnprivileged returns when it cannot give up root's privileges.
constexpr int kCannotDropPrivileges = 99;

// Runs `body` in a child process as the user and group nobody (65534) when
// this process runs as root (root reads and writes every file), as this
// user otherwise; returns the exit status, from `body`'s result (0 to 255).
inline int runAsUnprivileged(const std::function<int()>& body) {
    Child child([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(kCannotDropPrivileges);
        _exit(body() & 0xff);
    });
    child.waitUntil(Clock::now() + std::chrono::seconds(60));
    return child.exitStatus();
}

} // namespace quorvel_test
