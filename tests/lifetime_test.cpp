// Process lifetime: short host processes initialise, log from four threads
// and end (main returns, or a thread calls exit) while their other threads
// are blocked. None may crash, hang or lose a line on the way out, and with
// sealing on every line must verify.
#include "capturing_appender.h"
#include "cef_test_support.h"
#include "child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kProcesses = 200;
constexpr int kRacingProcesses = 50;
constexpr int kThreads = 4;
constexpr int kEventsPerThread = 50;
constexpr auto kProcessDeadline = std::chrono::seconds(30);

// Runs the host in `mode`; kills it when it has not ended by the deadline.
quorvel_test::ProcessResult runHost(const std::string& mode,
                                    const std::string& properties = quorvel_test::testDataPath("lifetime.properties")) {
    return quorvel_test::runProcess({QUORVEL_LIFETIME_HOST, properties, mode, std::to_string(kEventsPerThread)}, ".",
                                    {}, kProcessDeadline);
}

// The events on standard output as before, sealed, the seals on standard
// error; quorvel-verify's keys in `dir`.
std::string sealedProperties(const quorvel_test::TempDir& dir) {
    const auto keygen =
        quorvel_test::runProcess({QUORVEL_VERIFY, "keygen", dir.file("auditor.pub"), dir.file("auditor.key")});
    EXPECT_EQ(keygen.status, 0) << keygen.err;
    return dir.write("sealed.properties",
                     quorvel_test::readFile(quorvel_test::testDataPath("lifetime.properties")) +
                         "quorvel.seal=on\nquorvel.seal.auditorKey=" +
                         quorvel_test::lines(quorvel_test::readFile(dir.file("auditor.pub"))).at(0) +
                         "\nlog4j.logger.quorvel.seal=INFO, ERR\nlog4j.additivity.quorvel.seal=false\n"
                         "log4j.appender.ERR=org.apache.log4j.ConsoleAppender\nlog4j.appender.ERR.Target=System.err\n"
                         "log4j.appender.ERR.layout=org.apache.log4j.PatternLayout\n"
                         "log4j.appender.ERR.layout.ConversionPattern=%m%n\n");
}

// Whether quorvel-verify accounts for every event of a host's `outcome`.
bool verifies(const quorvel_test::TempDir& dir, const quorvel_test::ProcessResult& outcome) {
    const auto verdict =
        quorvel_test::runProcess({QUORVEL_VERIFY, "--key", dir.file("auditor.key"), dir.write("out.log", outcome.out),
                                  dir.write("err.log", outcome.err)});
    return verdict.status == 0;
}

// A whole CEF line with its message, or a whole XDAS record.
bool isWholeLine(const std::string& line) {
    const bool cef = line.compare(0, 4, "CEF:") == 0 && line.find(" msg=") != std::string::npos;
    const bool xdas =
        line.compare(0, 9, " {\"Id\" : ") == 0 && line.size() >= 3 && line.compare(line.size() - 3, 3, "}}}") == 0;
    return cef || xdas;
}

// Counts the lines that are whole CEF lines or XDAS records; -1 when any
// line is neither, comes twice or is cut off.
int wholeLines(const std::string& output) {
    const std::vector<std::string> lines = quorvel_test::lines(output);
    std::set<std::string> seen;
    for (const std::string& line : lines)
        if (!isWholeLine(line) || !seen.insert(line).second) return -1;
    return !output.empty() && output.back() != '\n' ? -1 : static_cast<int>(lines.size());
}

TEST(Lifetime, ShortProcessesEndCleanlyWhileThreadsAreBlocked) {
    // The hosts inherit the catalogue's directory, so CEF lines carry a message.
    quorvel_test::CatalogDirectory catalog;
    catalog.write("101=User {suser} logged out\n");
    const std::string properties = sealedProperties(catalog);
    int crashed = 0, hung = 0, incomplete = 0;
    std::string firstFailure;
    for (int process = 0; process < kProcesses; ++process) {
        const std::string mode = process % 2 == 0 ? "return" : "exit";
        const quorvel_test::ProcessResult outcome = runHost(mode, properties);
        const bool complete = wholeLines(outcome.out) == kThreads * kEventsPerThread && verifies(catalog, outcome);
        if (outcome.status == -1) {
            ++hung;
        } else if (outcome.status != 0) {
            ++crashed;
        } else if (!complete) {
            ++incomplete;
        }
        if ((outcome.status != 0 || !complete) && firstFailure.empty()) {
            firstFailure = "mode " + mode + ", status " + std::to_string(outcome.status) + ", output:\n" +
                           outcome.out.substr(0, 2000) + outcome.err;
        }
    }
    EXPECT_EQ(hung, 0) << firstFailure;
    EXPECT_EQ(crashed, 0) << firstFailure;
    EXPECT_EQ(incomplete, 0) << firstFailure;
    RecordProperty("processes", kProcesses);
}

// Threads log on while main returns, and an exit handler registered after
// initialisation logs one event of each kind meanwhile: both of its lines
// arrive whole, the CEF line with its message and the XDAS record with the
// 64-byte host name, and every line the threads finished is whole. (A
// thread's line that exit cuts off is its own, not the handler's.)
TEST(Lifetime, ExitHandlerLogsWholeLinesWhileThreadsStillLog) {
    quorvel_test::CatalogDirectory catalog;
    catalog.write("101=User {suser} logged out\n");
    const std::string cefLine =
        "CEF:0||||101||4|rt=1700000000123 dtz=UTC spt=0 suser=atexit msg=User atexit logged out ";
    const std::string xdasRecord = R"( {"Id" : "atexit","Observer" : {"Entity" : {"SysName" : )"
                                   R"("lifetime-host-with-a-name-long-enough-for-the-heap.example.org.u"}},)"
                                   R"("Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 7}}})";
    for (int process = 0; process < kRacingProcesses; ++process) {
        SCOPED_TRACE("process " + std::to_string(process));
        const quorvel_test::ProcessResult outcome = runHost("racing");
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        int fromHandler = 0;
        for (const std::string& line : quorvel_test::lines(outcome.out)) {
            ASSERT_TRUE(isWholeLine(line)) << line;
            if (line.find("atexit") != std::string::npos) {
                const std::string fixed = quorvel_test::withFixedStamps(line);
                EXPECT_TRUE(fixed == cefLine || fixed == xdasRecord) << line;
                ++fromHandler;
            }
        }
        EXPECT_EQ(fromHandler, 2);
    }
}

} // namespace
