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
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr int kProcesses = 200;
constexpr int kRacingProcesses = 50;
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

// A whole CEF line with its message, or a whole XDAS record.
bool isWholeLine(const std::string& line) {
    const bool cef = line.compare(0, 4, "CEF:") == 0 && line.find(" msg=") != std::string::npos;
    const bool xdas =
        line.compare(0, 9, " {\"Id\" : ") == 0 && line.size() >= 3 && line.compare(line.size() - 3, 3, "}}}") == 0;
    return cef || xdas;
}

// The lines of `output` that end in a line feed, and whether text follows
// the last of them.
std::pair<std::vector<std::string>, bool> terminatedLines(const std::string& output) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(output.substr(start, end - start));
    return {lines, start < output.size()};
}

// Counts the lines that are whole CEF lines or XDAS records; -1 when any
// line is neither, comes twice or is cut off.
int wholeLines(const std::string& output) {
    const auto [lines, cutOff] = terminatedLines(output);
    std::set<std::string> seen;
    for (const std::string& line : lines)
        if (!isWholeLine(line) || !seen.insert(line).second) return -1;
    return cutOff ? -1 : static_cast<int>(lines.size());
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

// Threads log on while main returns, and an exit handler registered after
// initialisation logs one event of each kind meanwhile: both of its lines
// arrive whole, the CEF line with its message and the XDAS record with the
// 64-byte host name, and every line the threads finished is whole. (A
// thread's line that exit cuts off is its own, not the handler's.)
TEST(Lifetime, ExitHandlerLogsWholeLinesWhileThreadsStillLog) {
    quorvel_test::CatalogDirectory catalog;
    catalog.write("101=User {suser} logged out\n");
    const std::string cefLine = "CEF:0||||101||4|rt=T spt=0 suser=atexit msg=User atexit logged out ";
    const std::string xdasRecord = R"( {"Id" : "atexit","Observer" : {"Entity" : {"SysName" : )"
                                   R"("lifetime-host-with-a-name-long-enough-for-the-heap.example.org.u"}},)"
                                   R"("Action" : {"Time" : {"Offset" : T},"Log" : {"Severity" : 7}}})";
    const std::regex time("rt=[0-9]+ dtz=[A-Za-z0-9+-]+ "), offset("\"Offset\" : [0-9]+");
    for (int process = 0; process < kRacingProcesses; ++process) {
        SCOPED_TRACE("process " + std::to_string(process));
        const Outcome outcome = runHost("racing");
        ASSERT_TRUE(outcome.started) << "cannot start " << QUORVEL_LIFETIME_HOST;
        ASSERT_FALSE(outcome.hung);
        ASSERT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0) << outcome.status;
        int fromHandler = 0;
        for (const std::string& line : terminatedLines(outcome.output).first) {
            ASSERT_TRUE(isWholeLine(line)) << line;
            const std::string normalised =
                std::regex_replace(std::regex_replace(line, time, "rt=T "), offset, "\"Offset\" : T");
            if (normalised.find("atexit") != std::string::npos) {
                EXPECT_TRUE(normalised == cefLine || normalised == xdasRecord) << line;
                ++fromHandler;
            }
        }
        EXPECT_EQ(fromHandler, 2);
    }
}

} // namespace
