// Process lifetime: short host processes initialise, log from four threads
// and end (main returns, or a thread calls exit) while their other threads
// are blocked. None may crash, hang or lose a line on the way out.
#include "capturing_appender.h"
#include "cef_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kProcesses = 200;
constexpr int kThreads = 4;
constexpr int kEventsPerThread = 50;
constexpr auto kProcessDeadline = std::chrono::seconds(30);

struct Outcome {
    bool started = false;
    bool hung = false;
    int status = 0;
    std::string output;
};

// Runs the host in `mode`, collecting its standard output; kills it when it
// has not ended by the deadline.
Outcome runHost(const std::string& mode) {
    Outcome outcome;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return outcome;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    const std::string properties = quorvel_test::testDataPath("lifetime.properties");
    const std::string events = std::to_string(kEventsPerThread);
    char* const argv[] = {const_cast<char*>(QUORVEL_LIFETIME_HOST), const_cast<char*>(properties.c_str()),
                          const_cast<char*>(mode.c_str()), const_cast<char*>(events.c_str()), nullptr};
    pid_t pid = 0;
    outcome.started = posix_spawn(&pid, QUORVEL_LIFETIME_HOST, &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (!outcome.started) {
        close(pipeEnds[0]);
        return outcome;
    }

    const auto deadline = std::chrono::steady_clock::now() + kProcessDeadline;
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.hung = true;
            break;
        }
        pollfd readable{pipeEnds[0], POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0) break; // the process and everything it started closed the pipe
        outcome.output.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeEnds[0]);
    if (outcome.hung) kill(pid, SIGKILL);
    waitpid(pid, &outcome.status, 0);
    return outcome;
}

// Counts the lines that are whole CEF lines or XDAS records; -1 when any
// line is neither or comes twice.
int wholeLines(const std::string& output) {
    std::set<std::string> seen;
    int count = 0;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) return -1; // a cut-off last line
        const std::string line = output.substr(start, end - start);
        const bool cef = line.compare(0, 4, "CEF:") == 0 && line.find(" msg=") != std::string::npos;
        const bool xdas = line.compare(0, 9, " {\"Id\" : ") == 0 && line.compare(line.size() - 3, 3, "}}}") == 0;
        if ((!cef && !xdas) || !seen.insert(line).second) return -1;
        ++count;
        start = end + 1;
    }
    return count;
}

TEST(Lifetime, ShortProcessesEndCleanlyWhileThreadsAreBlocked) {
    // The hosts inherit the catalogue's directory, so CEF lines carry a message.
    quorvel_test::CatalogDirectory catalog;
    catalog.write("101=User {suser} logged out\n");
    int started = 0, crashed = 0, hung = 0, incomplete = 0;
    std::string firstFailure;
    for (int process = 0; process < kProcesses; ++process) {
        const std::string mode = process % 2 == 0 ? "return" : "exit";
        const Outcome outcome = runHost(mode);
        if (!outcome.started) {
            ADD_FAILURE() << "cannot start " << QUORVEL_LIFETIME_HOST;
            return;
        }
        ++started;
        const bool clean = WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0;
        const bool complete = wholeLines(outcome.output) == kThreads * kEventsPerThread;
        if (outcome.hung) {
            ++hung;
        } else if (!clean) {
            ++crashed;
        } else if (!complete) {
            ++incomplete;
        }
        if ((outcome.hung || !clean || !complete) && firstFailure.empty()) {
            firstFailure = "mode " + mode + ", status " + std::to_string(outcome.status) + ", output:\n" +
                           outcome.output.substr(0, 2000);
        }
    }
    EXPECT_EQ(started, kProcesses);
    EXPECT_EQ(hung, 0) << firstFailure;
    EXPECT_EQ(crashed, 0) << firstFailure;
    EXPECT_EQ(incomplete, 0) << firstFailure;
    RecordProperty("processes", started);
}

} // namespace
