// Throughput through real log4cxx appenders: XDAS_Log and CEF_Log of the
// worked examples against a caller that hands log4cxx the same ready line
// itself (logger by name, level test, forcedLog), on one thread and on two,
// into two appender paths:
//
// - a FileAppender with buffered output (BufferedIO, no flush per event)
//   writing to a file;
// - a SyslogAppender sending UDP to a real rsyslogd on 127.0.0.1, which writes
//   what it receives to a file.
//
// main() writes the run's files into a temporary directory (the catalogue,
// the rsyslog configuration, the log4cxx properties), starts rsyslogd,
// initialises logging through the library, runs the benchmarks, stops
// rsyslogd and removes the directory. Each row reports items_per_second, the
// events logged per second of wall-clock time by all its threads together.
#include "bench_support.h"
#include "tests/support/daemon_harness.h"
#include "worked_examples.h"

#include <quorvel/quorvel.h>

#include <benchmark/benchmark.h>
#include <log4cxx/logger.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quorvel_bench::AllocationCounter;
using quorvel_test::Child;
using quorvel_test::Clock;

// The loggers of the two paths, as the run's properties configure them.
const std::string kFileLogger = "bench.file";
const std::string kSyslogLogger = "bench.syslog";

// Why the rows of the syslog path cannot run; empty while rsyslogd listens
// and has received the probe line.
std::string syslogUnavailable;

// Where rsyslogd writes what it receives.
fs::path received;

// --- The run's files -----------------------------------------------------------

// The catalogue with the worked example's template, found through the
// parameter service as in production.
void writeCatalog(const fs::path& directory) {
    std::ofstream(directory / "OstradEventDesc.conf") << quorvel_bench::kCefTemplateLine << '\n';
    setenv("VRQ_SERVER_CONFIGDIR", directory.c_str(), 1);
}

// Both paths: bench.file to a buffered FileAppender, bench.syslog to a
// SyslogAppender sending to 127.0.0.1:`port`; each line is the message alone.
fs::path writeProperties(const fs::path& directory, int port) {
    const fs::path properties = directory / "appenders.properties";
    std::ofstream(properties) << "log4j.rootLogger=OFF\n"
                              << "log4j.appender.FILE=org.apache.log4j.FileAppender\n"
                              << "log4j.appender.FILE.File=" << (directory / "file-appender.log").string() << "\n"
                              << "log4j.appender.FILE.Append=false\n"
                              << "log4j.appender.FILE.BufferedIO=true\n"
                              << "log4j.appender.FILE.ImmediateFlush=false\n"
                              << "log4j.appender.FILE.Encoding=UTF-8\n"
                              << "log4j.appender.FILE.layout=org.apache.log4j.PatternLayout\n"
                              << "log4j.appender.FILE.layout.ConversionPattern=%m%n\n"
                              << "log4j.appender.SYSLOG=org.apache.log4j.net.SyslogAppender\n"
                              << "log4j.appender.SYSLOG.SyslogHost=127.0.0.1:" << port << "\n"
                              << "log4j.appender.SYSLOG.Facility=AUTHPRIV\n"
                              << "log4j.appender.SYSLOG.layout=org.apache.log4j.PatternLayout\n"
                              << "log4j.appender.SYSLOG.layout.ConversionPattern=%m\n"
                              << "log4j.logger." << kFileLogger << "=INFO, FILE\n"
                              << "log4j.additivity." << kFileLogger << "=false\n"
                              << "log4j.logger." << kSyslogLogger << "=INFO, SYSLOG\n"
                              << "log4j.additivity." << kSyslogLogger << "=false\n";
    return properties;
}

// --- rsyslogd ----------------------------------------------------------------------

// rsyslogd receiving UDP on 127.0.0.1:`port` and writing each message to
// `received`; null, with syslogUnavailable saying why, when
// it is not installed or does not start listening within 20 seconds.
std::unique_ptr<Child> startRsyslogd(const fs::path& directory, int port) {
    const std::string rsyslogd = quorvel_test::findRsyslogd();
    if (rsyslogd.empty()) {
        syslogUnavailable = "rsyslogd is not installed: the syslog rows need the Debian package rsyslog "
                            "(scripts/install-deps installs it, as root)";
        return nullptr;
    }
    fs::create_directory(directory / "rsyslog-work");
    quorvel_test::writeUdpToFileRsyslogConfig(directory / "rsyslog.conf", directory / "rsyslog-work", port, received);
    auto daemon = std::make_unique<Child>(quorvel_test::rsyslogdCommand(rsyslogd, directory / "rsyslog.conf"),
                                          directory / "rsyslogd.out");
    if (daemon->waitUntilUdpBound(port, Clock::now() + 20s)) return daemon;
    syslogUnavailable = "rsyslogd did not start listening on 127.0.0.1:" + std::to_string(port) + ": " +
                        quorvel_test::readFile(directory / "rsyslogd.out");
    return nullptr;
}

// Logs one line through the syslog path and waits, 10 seconds at most, until
// rsyslogd has written it; otherwise syslogUnavailable says so. The rows
// then measure a path that delivers.
void probeSyslogPath() {
    static const std::string kProbe = "appender-bench probe";
    LOG4CXX_INFO(log4cxx::Logger::getLogger(kSyslogLogger), kProbe);
    const auto deadline = Clock::now() + 10s;
    while (quorvel_test::readFile(received).find(kProbe) == std::string::npos) {
        if (Clock::now() >= deadline) {
            syslogUnavailable = "rsyslogd did not receive the probe line through the SyslogAppender in 10 s";
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
}

// Waits until rsyslogd has written what earlier runs sent it: until
// `received` has not grown for 30 ms, 10 seconds at most. A run that starts
// while the daemon still works through the backlog of the one before shares
// the processors with it, and would pay for the run before.
void waitForRsyslogdBacklog() {
    const auto deadline = Clock::now() + 10s;
    std::error_code unreadable;
    std::uintmax_t size = fs::file_size(received, unreadable);
    for (std::uintmax_t before = size + 1; size != before && Clock::now() < deadline;) {
        std::this_thread::sleep_for(30ms);
        before = size;
        size = fs::file_size(received, unreadable);
    }
}

// --- Benchmarks ----------------------------------------------------------------------

// Whether the rows of `loggerName` can run; marks the benchmark skipped,
// with the reason, when they cannot. A run of the syslog path starts once
// rsyslogd has caught up.
bool pathReady(benchmark::State& state, const std::string& loggerName) {
    if (loggerName != kSyslogLogger) return true;
    if (!syslogUnavailable.empty()) {
        state.SkipWithError(syslogUnavailable.c_str());
        return false;
    }
    if (state.thread_index() == 0) waitForRsyslogdBacklog();
    return true;
}

// The catalogue for the bare CEF line, read from the file CEF_Log reads.
const quorvel::EventDescriptionCatalog& catalog() {
    static const quorvel::EventDescriptionCatalog instance;
    return instance;
}

// XDAS_Log of the worked example, each thread with an event of its own.
void xdasLog(benchmark::State& state, const std::string& loggerName) {
    if (!pathReady(state, loggerName)) return;
    const quorvel_bench::XdasEventPtr event = quorvel_bench::xdasWorkedExample();
    AllocationCounter allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(event->XDAS_Log(loggerName));
    allocations.report();
    state.SetItemsProcessed(state.iterations());
}

// The line XDAS_Log hands over, from a caller of log4cxx itself.
void xdasBareByName(benchmark::State& state, const std::string& loggerName) {
    if (!pathReady(state, loggerName)) return;
    const quorvel_bench::XdasEventPtr event = quorvel_bench::xdasWorkedExample();
    quorvel_bench::runBareByName(state, loggerName, quorvel_bench::xdasLoggedLine(*event));
    state.SetItemsProcessed(state.iterations());
}

// CEF_Log of the worked example, each thread with an event of its own.
void cefLog(benchmark::State& state, const std::string& loggerName) {
    if (!pathReady(state, loggerName)) return;
    CEF_EVENT event;
    quorvel_bench::fillCefWorkedExample(event);
    AllocationCounter allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(event.CEF_Log(loggerName));
    allocations.report();
    state.SetItemsProcessed(state.iterations());
}

// The line CEF_Log hands over, from a caller of log4cxx itself.
void cefBareByName(benchmark::State& state, const std::string& loggerName) {
    if (!pathReady(state, loggerName)) return;
    CEF_EVENT event;
    quorvel_bench::fillCefWorkedExample(event);
    quorvel_bench::runBareByName(state, loggerName, quorvel_bench::cefLoggedLine(catalog(), event));
    state.SetItemsProcessed(state.iterations());
}

void BM_XdasLog_File(benchmark::State& state) { xdasLog(state, kFileLogger); }
void BM_XdasBareByName_File(benchmark::State& state) { xdasBareByName(state, kFileLogger); }
void BM_CefLog_File(benchmark::State& state) { cefLog(state, kFileLogger); }
void BM_CefBareByName_File(benchmark::State& state) { cefBareByName(state, kFileLogger); }
void BM_XdasLog_Rsyslog(benchmark::State& state) { xdasLog(state, kSyslogLogger); }
void BM_XdasBareByName_Rsyslog(benchmark::State& state) { xdasBareByName(state, kSyslogLogger); }
void BM_CefLog_Rsyslog(benchmark::State& state) { cefLog(state, kSyslogLogger); }
void BM_CefBareByName_Rsyslog(benchmark::State& state) { cefBareByName(state, kSyslogLogger); }

// Every row: one thread and two, timed by the wall clock, a fifth of a second
// per run, so that five repetitions of all rows take about half a minute.
void onOneAndTwoThreads(benchmark::internal::Benchmark* benchmark) {
    benchmark->MinTime(0.2)->UseRealTime()->Threads(1)->Threads(2);
}

BENCHMARK(BM_XdasLog_File)->Apply(onOneAndTwoThreads);
BENCHMARK(BM_XdasBareByName_File)->Apply(onOneAndTwoThreads);
BENCHMARK(BM_CefLog_File)->Apply(onOneAndTwoThreads);
BENCHMARK(BM_CefBareByName_File)->Apply(onOneAndTwoThreads);
BENCHMARK(BM_XdasLog_Rsyslog)->Apply(onOneAndTwoThreads);
BENCHMARK(BM_XdasBareByName_Rsyslog)->Apply(onOneAndTwoThreads);
BENCHMARK(BM_CefLog_Rsyslog)->Apply(onOneAndTwoThreads);
BENCHMARK(BM_CefBareByName_Rsyslog)->Apply(onOneAndTwoThreads);

// Runs the benchmarks with the run's files in `directory` and rsyslogd
// running; stops rsyslogd afterwards (SIGTERM, SIGKILL after 10 seconds). A
// failure that skips the unwinding still ends rsyslogd: it dies with this
// process. Returns the program's exit status.
int runWithAppenders(const fs::path& directory) {
    const int port = quorvel_test::freeLoopbackPort(SOCK_DGRAM);
    received = directory / "received.log";
    writeCatalog(directory);
    const fs::path properties = writeProperties(directory, port);
    const std::unique_ptr<Child> rsyslogd = startRsyslogd(directory, port);
    const int status = initXDAS(properties.string());
    if (status != 0) {
        std::fprintf(stderr, "initXDAS(%s) failed with status %d\n", properties.c_str(), status);
        return 1;
    }
    if (rsyslogd) probeSyslogPath();
    benchmark::RunSpecifiedBenchmarks();
    if (rsyslogd) rsyslogd->stop(10s);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    char pattern[] = "/tmp/quorvel-appender-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const int status = runWithAppenders(pattern);
    benchmark::Shutdown();
    fs::remove_all(pattern);
    return status;
}
