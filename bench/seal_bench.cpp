// The cost of sealing, against sealing off:
//
// - XDAS_Log and CEF_Log of the worked examples through a buffered
//   FileAppender on one thread and on two: the rows BM_*Log_Unsealed, or
//   with --sealed (before the benchmark's own options) BM_*Log_Sealed.
//   Sealing, once on, stays on for the process, so `make bench` runs the
//   program in turns, sealed and not, and compares the medians;
// - without --sealed, BM_VerifyTrail: quorvel-verify's engine over a trail
//   of each worked example, in lines per second on one core, and the seal
//   records' bytes against those of the events they cover, at the default
//   cadence.
//
// main() writes the trails first, each from a child process that logs and
// exits normally (so that its session closes), then initialises logging,
// sealed or not, and runs the benchmarks.
#include "bench_support.h"
#include "trail/seal_keys.h"
#include "trail/trail_verifier.h"
#include "worked_examples.h"

#include <quorvel/quorvel.h>

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
namespace seal = quorvel::seal;

const std::string kFileLogger = "bench.file";
const std::string kSealLogger = "bench.seals";
constexpr int kTrailEvents = 100000;

fs::path directory;
seal::AuditorPublicKey auditorPublic;
seal::AuditorSecretKey auditorSecret;

// bench.file to a buffered FileAppender, the seals (with `sealed`) to one of
// their own; with `trail`, sealing on and both through one unbuffered
// appender into `trail` (two appenders on one file would interleave the
// pieces log4cxx 1.0 writes a long line in).
fs::path writeProperties(const std::string& name, const fs::path& trail = {}, bool sealed = false) {
    const fs::path properties = directory / name;
    std::ofstream out(properties);
    const auto appender = [&](const char* id, const fs::path& file, bool buffered) {
        out << "log4j.appender." << id << "=org.apache.log4j.FileAppender\n"
            << "log4j.appender." << id << ".File=" << file.string() << "\n"
            << "log4j.appender." << id << ".BufferedIO=" << (buffered ? "true" : "false") << "\n"
            << "log4j.appender." << id << ".ImmediateFlush=" << (buffered ? "false" : "true") << "\n"
            << "log4j.appender." << id << ".layout=org.apache.log4j.PatternLayout\n"
            << "log4j.appender." << id << ".layout.ConversionPattern=%m%n\n";
    };
    out << "log4j.rootLogger=OFF\n";
    appender("FILE", trail.empty() ? directory / "events.log" : trail, trail.empty());
    appender("SEALS", directory / "seals.log", true);
    out << "log4j.logger." << kFileLogger << "=INFO, FILE\nlog4j.additivity." << kFileLogger << "=false\n"
        << "log4j.logger." << kSealLogger << "=INFO, " << (trail.empty() ? "SEALS" : "FILE") << "\nlog4j.additivity."
        << kSealLogger << "=false\n";
    if (!trail.empty() || sealed)
        out << "quorvel.seal=on\nquorvel.seal.logger=" << kSealLogger
            << "\nquorvel.seal.auditorKey=" << seal::toBase64(auditorPublic) << "\n";
    return properties;
}

void logXdas(int events) {
    const quorvel_bench::XdasEventPtr event = quorvel_bench::xdasWorkedExample();
    for (int i = 0; i < events; ++i)
        event->XDAS_Log(kFileLogger);
}

void logCef(int events) {
    CEF_EVENT event;
    quorvel_bench::fillCefWorkedExample(event);
    for (int i = 0; i < events; ++i)
        event.CEF_Log(kFileLogger);
}

// A sealed trail in `trail`, written by a child process that logs with
// `log` and exits normally.
bool writeTrail(const fs::path& trail, void (*log)(int)) {
    const pid_t child = fork();
    if (child == 0) {
        if (initXDAS(writeProperties("trail.properties", trail).string()) != 0) _exit(1);
        log(kTrailEvents);
        std::exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Seal bytes against event bytes in `trail`.
double sealShare(const fs::path& trail) {
    std::ifstream in(trail);
    double sealBytes = 0, eventBytes = 0;
    for (std::string line; std::getline(in, line);)
        (line.rfind(seal::kSealMarker, 0) == 0 ? sealBytes : eventBytes) += static_cast<double>(line.size() + 1);
    return eventBytes > 0 ? sealBytes / eventBytes : 0;
}

void xdasRow(benchmark::State& state) {
    const quorvel_bench::XdasEventPtr event = quorvel_bench::xdasWorkedExample();
    for (auto _ : state)
        benchmark::DoNotOptimize(event->XDAS_Log(kFileLogger));
    state.SetItemsProcessed(state.iterations());
}

void cefRow(benchmark::State& state) {
    CEF_EVENT event;
    quorvel_bench::fillCefWorkedExample(event);
    for (auto _ : state)
        benchmark::DoNotOptimize(event.CEF_Log(kFileLogger));
    state.SetItemsProcessed(state.iterations());
}

// The engine of quorvel-verify over the trail of both worked examples.
void BM_VerifyTrail(benchmark::State& state) {
    quorvel::trail::VerifyOptions options;
    options.secretKey = &auditorSecret;
    const std::vector<std::string> files = {(directory / "cef-trail.log").string(),
                                            (directory / "xdas-trail.log").string()};
    std::uint64_t lines = 0;
    bool complete = true;
    for (auto _ : state) {
        const quorvel::trail::TrailVerdict verdict = quorvel::trail::verifyTrail(files, options);
        lines += verdict.lines;
        complete = complete && verdict.complete();
    }
    if (!complete) state.SkipWithError("the trails do not verify");
    state.SetItemsProcessed(static_cast<std::int64_t>(lines));
    state.counters["cef_seal_share"] = sealShare(directory / "cef-trail.log");
    state.counters["xdas_seal_share"] = sealShare(directory / "xdas-trail.log");
}

void onOneAndTwoThreads(benchmark::internal::Benchmark* benchmark) {
    benchmark->MinTime(0.2)->UseRealTime()->Threads(1)->Threads(2);
}

void registerRows(bool sealed) {
    const std::string mode = sealed ? "_Sealed" : "_Unsealed";
    benchmark::RegisterBenchmark(("BM_XdasLog" + mode).c_str(), xdasRow)->Apply(onOneAndTwoThreads);
    benchmark::RegisterBenchmark(("BM_CefLog" + mode).c_str(), cefRow)->Apply(onOneAndTwoThreads);
    if (!sealed) benchmark::RegisterBenchmark("BM_VerifyTrail", BM_VerifyTrail)->Unit(benchmark::kMillisecond);
}

int run(bool sealed) {
    std::ofstream(directory / "OstradEventDesc.conf") << quorvel_bench::kCefTemplateLine << '\n';
    setenv("VRQ_SERVER_CONFIGDIR", directory.c_str(), 1);
    if (!seal::cryptoReady()) return 1;
    seal::makeAuditorKeys(auditorPublic, auditorSecret);
    if (!sealed &&
        (!writeTrail(directory / "cef-trail.log", logCef) || !writeTrail(directory / "xdas-trail.log", logXdas))) {
        std::fprintf(stderr, "the child processes did not write their trails\n");
        return 1;
    }
    const int status = initXDAS(writeProperties("bench.properties", {}, sealed).string());
    if (status != 0) {
        std::fprintf(stderr, "initXDAS failed with status %d\n", status);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool sealed = argc > 1 && std::string(argv[1]) == "--sealed";
    if (sealed) argv[1] = argv[0], --argc, ++argv;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerRows(sealed);
    char pattern[] = "/tmp/quorvel-seal-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    directory = pattern;
    const int status = run(sealed);
    benchmark::Shutdown();
    if (!std::getenv("QUORVEL_BENCH_KEEP")) fs::remove_all(directory);
    return status;
}
