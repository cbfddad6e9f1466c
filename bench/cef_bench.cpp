// The CEF line of the worked example: the library's renderer against the
// floor of fmt::format_to writing the same line from values that are
// already escaped; CEF_Log into the discarding appender against a bare
// forcedLog of the same line; and the catalogue: loading 100,000 lines, the
// heap of loading the hostile catalogues of the tests, and expanding a
// template from 10 entries and from 100,000.
//
// Argument of the line benchmarks: 0 for the worked example as it is, or a
// length in bytes that every text field of the example takes instead (the
// signature ID stays, so that the template still applies): filled with
// characters that need escaping, or, in the rows named _Typical, with URLs,
// paths and tokens that need a few escapes per hundred bytes.
#include "bench_support.h"
#include "cef/cef_field_table.h"
#include "cef/cef_line.h"
#include "cef/event_description_catalog.h"
#include "logging/log_emitter.h"
#include "logging/severity_levels.h"
#include "tests/support/hostile_catalogs.h"
#include "worked_examples.h"

#include <quorvel/quorvel.h>

#include <benchmark/benchmark.h>
#include <fmt/compile.h>
#include <fmt/format.h>
#include <log4cxx/logger.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using quorvel_bench::AllocationCounter;
using quorvel_bench::FieldText;
using quorvel_bench::fillCefWorkedExample;
using quorvel_bench::kCefTemplateLine;
namespace fs = std::filesystem;

// --- Catalogue files --------------------------------------------------------------
//
// Each catalogue lives in a directory of its own under a temporary directory
// that main() creates and removes. The catalogue of n entries holds the
// worked example's template and n - 1 others.

fs::path catalogRoot;

fs::path catalogDirectory(std::size_t entries) { return catalogRoot / std::to_string(entries); }

void writeCatalog(std::size_t entries) {
    const fs::path directory = catalogDirectory(entries);
    fs::create_directories(directory);
    std::ofstream file(directory / "OstradEventDesc.conf");
    // The worked example's entry sits in the middle of the file.
    for (std::size_t i = 1; i < entries; ++i) {
        if (i == entries / 2) file << kCefTemplateLine << '\n';
        file << 100000 + i << "=Event {signature} of {suser} from {src}: {outcome}\n";
    }
    if (entries / 2 == 0) file << kCefTemplateLine << '\n';
}

// Loads the catalogue in `directory` through the library's own path: the
// parameter service names the directory, the constructor reads the file.
std::unique_ptr<quorvel::EventDescriptionCatalog> loadCatalogFrom(const fs::path& directory) {
    setenv("VRQ_SERVER_CONFIGDIR", directory.c_str(), 1);
    return std::make_unique<quorvel::EventDescriptionCatalog>();
}

// Loads the catalogue of `entries` entries.
std::unique_ptr<quorvel::EventDescriptionCatalog> loadCatalog(std::size_t entries) {
    return loadCatalogFrom(catalogDirectory(entries));
}

// The catalogue the line benchmarks use: the 10-entry one.
const quorvel::EventDescriptionCatalog& smallCatalog() {
    static const std::unique_ptr<quorvel::EventDescriptionCatalog> catalog = loadCatalog(10);
    return *catalog;
}

// --- The fmt floor ---------------------------------------------------------------

// The values of the worked example's line, already escaped as the line
// needs them, and the message already expanded.
struct EscapedValues {
    std::string vendor, product, deviceVersion, signatureId, name;
    int version, severity;
    std::string deviceHost, time, timeZone;
    int sourcePort;
    std::string sourceUser, cn1Label;
    long cn1;
    std::string cs1Label, cs1, outcome, message;
};

std::string headerEscaped(const std::string& value) {
    std::string out;
    quorvel::appendEscapedCefValue(out, value, quorvel::CefEscaping::Header);
    return out;
}

std::string extensionEscaped(const std::string& value) {
    std::string out;
    quorvel::appendEscapedCefValue(out, value, quorvel::CefEscaping::Extension);
    return out;
}

EscapedValues escapedValues(const CEF_EVENT& event) {
    return EscapedValues{headerEscaped(event.getDeviceVendor()),
                         headerEscaped(event.getDeviceProduct()),
                         headerEscaped(event.getDeviceVersion()),
                         headerEscaped(event.getSignatureID()),
                         headerEscaped(event.getName()),
                         event.getVersion(),
                         event.getSeverity(),
                         extensionEscaped(event.getDeviceHostName()),
                         extensionEscaped(event.getTime()),
                         extensionEscaped(event.getTimeZone()),
                         event.getSourcePort(),
                         extensionEscaped(event.getSourceUserName()),
                         extensionEscaped(event.getCn1Label()),
                         event.getCn1(),
                         extensionEscaped(event.getcs1Label()),
                         extensionEscaped(event.getCs1()),
                         extensionEscaped(event.getOutcome()),
                         smallCatalog().message(event)};
}

// The worked example's line from ready values, with a compiled format string
// into a reused memory buffer, as fmt's documentation advises for speed.
void fmtLine(fmt::memory_buffer& out, const EscapedValues& v) {
    fmt::format_to(std::back_inserter(out),
                   FMT_COMPILE("CEF:{}|{}|{}|{}|{}|{}|{}|dvchost={} rt={} dtz={} spt={} suser={} cn1Label={} cn1={} "
                               "cs1Label={} cs1={} outcome={} msg={} "),
                   v.version, v.vendor, v.product, v.deviceVersion, v.signatureId, v.name, v.severity, v.deviceHost,
                   v.time, v.timeZone, v.sourcePort, v.sourceUser, v.cn1Label, v.cn1, v.cs1Label, v.cs1, v.outcome,
                   v.message);
}

// --- Line benchmarks -------------------------------------------------------------

void cefLineQuorvel(benchmark::State& state, FieldText kind) {
    CEF_EVENT event;
    fillCefWorkedExample(event, static_cast<std::size_t>(state.range(0)), kind);
    const quorvel::EventDescriptionCatalog& catalog = smallCatalog();
    // Both renderers must write the same line.
    std::string check;
    quorvel::renderCefLine(catalog, event, check);
    fmt::memory_buffer floor;
    fmtLine(floor, escapedValues(event));
    if (check != fmt::to_string(floor)) {
        state.SkipWithError("the library's line and the fmt floor's line differ");
        return;
    }
    std::size_t bytes = 0;
    AllocationCounter allocations(state);
    for (auto _ : state) {
        quorvel::LineString line; // the string CEF_Log renders into
        quorvel::renderCefLine(catalog, event, line.text());
        bytes += line.text().size();
        benchmark::DoNotOptimize(line.text().data());
    }
    allocations.report();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void cefLineFmtFloor(benchmark::State& state, FieldText kind) {
    CEF_EVENT event;
    fillCefWorkedExample(event, static_cast<std::size_t>(state.range(0)), kind);
    const EscapedValues values = escapedValues(event);
    fmt::memory_buffer out;
    std::size_t bytes = 0;
    AllocationCounter allocations(state);
    for (auto _ : state) {
        out.clear();
        fmtLine(out, values);
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    allocations.report();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_CefLine_Quorvel(benchmark::State& state) { cefLineQuorvel(state, FieldText::EscapeHeavy); }
void BM_CefLine_FmtFloor(benchmark::State& state) { cefLineFmtFloor(state, FieldText::EscapeHeavy); }
void BM_CefLine_Quorvel_Typical(benchmark::State& state) { cefLineQuorvel(state, FieldText::Typical); }
void BM_CefLine_FmtFloor_Typical(benchmark::State& state) { cefLineFmtFloor(state, FieldText::Typical); }

BENCHMARK(BM_CefLine_Quorvel)->Arg(0)->Arg(2048)->Arg(4096);
BENCHMARK(BM_CefLine_FmtFloor)->Arg(0)->Arg(2048)->Arg(4096);
BENCHMARK(BM_CefLine_Quorvel_Typical)->Arg(4096);
BENCHMARK(BM_CefLine_FmtFloor_Typical)->Arg(4096);

// --- Logging benchmarks -------------------------------------------------------------

// CEF_Log of the worked example into the discarding appender: the whole
// call, at an enabled level (INFO on bench.enabled) and a disabled one. The
// process's catalogue is the 10-entry one (main() names its directory).
void cefLog(benchmark::State& state, const std::string& loggerName) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    CEF_EVENT event;
    fillCefWorkedExample(event, 0);
    AllocationCounter allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(event.CEF_Log(loggerName));
    allocations.report();
}

void BM_CefLog_Enabled(benchmark::State& state) { cefLog(state, quorvel_bench::kEnabledLogger); }
void BM_CefLog_Disabled(benchmark::State& state) { cefLog(state, quorvel_bench::kDisabledLogger); }

// The baseline: the line CEF_Log hands over, passed straight to forcedLog of
// the same logger.
void BM_CefForcedLog(benchmark::State& state) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    CEF_EVENT event;
    fillCefWorkedExample(event, 0);
    quorvel_bench::runBareForcedLog(state, quorvel_bench::cefLoggedLine(smallCatalog(), event));
}

// The same line from a caller of log4cxx itself: logger by name, level test,
// forcedLog; at the enabled and at the disabled logger.
void cefBareByName(benchmark::State& state, const std::string& loggerName) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    CEF_EVENT event;
    fillCefWorkedExample(event, 0);
    quorvel_bench::runBareByName(state, loggerName, quorvel_bench::cefLoggedLine(smallCatalog(), event));
}

void BM_CefBareByName_Enabled(benchmark::State& state) { cefBareByName(state, quorvel_bench::kEnabledLogger); }
void BM_CefBareByName_Disabled(benchmark::State& state) { cefBareByName(state, quorvel_bench::kDisabledLogger); }

// CEF_Log's own steps (the level, the line, the hand-over) in the
// benchmark's loop, with the logger looked up on every call as CEF_Log looks
// it up (which BM_CefLog_Enabled checks this loop against) and with the
// logger found once before the loop: the two differ by what the lookup costs
// inside the call.
template <bool lookUpEachCall> void cefSteps(benchmark::State& state) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    CEF_EVENT event;
    fillCefWorkedExample(event, 0);
    const quorvel::EventDescriptionCatalog& catalog = smallCatalog();
    const std::string& name = quorvel_bench::kEnabledLogger;
    const log4cxx::LoggerPtr found = quorvel::loggerNamed(name);
    for (auto _ : state) {
        const log4cxx::LoggerPtr logger = lookUpEachCall ? quorvel::loggerNamed(name) : found;
        const log4cxx::LevelPtr& level = quorvel::cefSeverityLevel(event.getSeverity());
        if (!level || !logger->isEnabledFor(level)) continue;
        quorvel::LineString line;
        quorvel::renderCefLine(catalog, event, line.text());
        quorvel::emitLine(logger, level, line, QUORVEL_LOCATION);
    }
}

void BM_CefSteps_LoggerNamed(benchmark::State& state) { cefSteps<true>(state); }
void BM_CefSteps_LoggerFound(benchmark::State& state) { cefSteps<false>(state); }

// A logger lookup by name for an existing logger, alone: log4cxx's
// getLogger, as the bare caller looks its logger up, and the library's own,
// which every XDAS_Log and CEF_Log call makes before anything else (part of
// the whole call that no rendering can save).
template <log4cxx::LoggerPtr (*lookup)(const std::string&)> void loggerLookup(benchmark::State& state) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    const std::string& name = quorvel_bench::kEnabledLogger;
    AllocationCounter allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(lookup(name));
    allocations.report();
}

void BM_GetLogger(benchmark::State& state) { loggerLookup<log4cxx::Logger::getLogger>(state); }
void BM_LoggerNamed(benchmark::State& state) { loggerLookup<quorvel::loggerNamed>(state); }

BENCHMARK(BM_CefLog_Enabled);
BENCHMARK(BM_CefLog_Disabled);
BENCHMARK(BM_CefForcedLog);
BENCHMARK(BM_CefBareByName_Enabled);
BENCHMARK(BM_CefBareByName_Disabled);
BENCHMARK(BM_CefSteps_LoggerNamed);
BENCHMARK(BM_CefSteps_LoggerFound);
BENCHMARK(BM_GetLogger);
BENCHMARK(BM_LoggerNamed);

// --- Catalogue benchmarks -----------------------------------------------------------

// Constructing the catalogue: locating, reading and compiling the file.
void BM_CatalogLoad(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(loadCatalog(entries));
}

// Expanding the worked example's template, found among `entries` entries,
// into a fresh message string.
void BM_CatalogExpand(benchmark::State& state) {
    const auto catalog = loadCatalog(static_cast<std::size_t>(state.range(0)));
    CEF_EVENT event;
    fillCefWorkedExample(event, 0);
    {
        if (catalog->message(event) != "User user1 logged in") {
            state.SkipWithError("the template did not expand to the worked example's message");
            return;
        }
    }
    AllocationCounter allocations(state);
    for (auto _ : state) {
        const std::string message = catalog->message(event);
        benchmark::DoNotOptimize(message.data());
    }
    allocations.report();
}

// The heap of loading the tests' two hostile catalogues, of two 16 MiB lines
// and of a million short lines, as ratios to their file sizes: the most in
// use during the load (counters long_lines_peak, million_lines_peak) and what
// the catalogue keeps (long_lines_kept, million_lines_kept). The files are
// written before the loop and removed after it.
void BM_CatalogLoadMemory(benchmark::State& state) {
    struct HostileFile {
        std::string name;
        fs::path directory;
        double size;
        double peak = 0, kept = 0;
    };
    std::vector<HostileFile> files;
    const auto write = [&files](const std::string& name, const std::string& content) {
        const fs::path directory = catalogRoot / name;
        fs::create_directories(directory);
        std::ofstream(directory / "OstradEventDesc.conf", std::ios::binary) << content;
        files.push_back(HostileFile{name, directory, static_cast<double>(content.size())});
    };
    write("long_lines",
          quorvel_test::longLinesCatalog(quorvel_test::longTextTemplate(), quorvel_test::longPlaceholderTemplate()));
    write("million_lines", quorvel_test::millionLinesCatalog());
    for (auto _ : state) {
        for (HostileFile& file : files) {
            quorvel_bench::HeapMeter meter;
            const auto catalog = loadCatalogFrom(file.directory);
            file.peak = static_cast<double>(meter.peak()) / file.size;
            file.kept = static_cast<double>(meter.kept()) / file.size;
        }
    }
    for (const HostileFile& file : files) {
        state.counters[file.name + "_peak"] = file.peak;
        state.counters[file.name + "_kept"] = file.kept;
        fs::remove_all(file.directory);
    }
}

BENCHMARK(BM_CatalogLoad)->Arg(10)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogLoadMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogExpand)->Arg(10)->Arg(100000);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    char pattern[] = "/tmp/quorvel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    catalogRoot = pattern;
    writeCatalog(10);
    writeCatalog(100000);
    // The catalogue that CEF_Log loads on its first call.
    setenv("VRQ_SERVER_CONFIGDIR", catalogDirectory(10).c_str(), 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(catalogRoot);
    return 0;
}
