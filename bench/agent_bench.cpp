// What a session's opening costs with the host agent's attestation, against
// one without, and what reporting a seal to the agent costs:
//
// - BM_SessionOpening_Unattested: a new session's keys, its first key
//   encrypted to the auditor, and its opening seal: what every opening pays;
// - BM_SessionOpening_Attested: the same with the agent asked on its socket
//   and its attestation carried in the seal, the connection then closed;
//   each opening finds the agent idle;
// - BM_SealReport: one seal of the default cadence (256 lines) reported on
//   an attested connection: its line's digest and the report sent.
//
// main() enrolls a host in a temporary directory with quorvel-sealagent,
// runs the agent on a socket there (one-minute epochs) for the benchmarks,
// then stops it and removes the directory.
#include "bench_support.h"
#include "tests/support/child_process.h"
#include "trail/agent_client.h"
#include "trail/epoch_record.h"
#include "trail/seal_ledger.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
namespace seal = quorvel::seal;

constexpr std::chrono::milliseconds kAgentBound{1000};

fs::path directory;
seal::AuditorPublicKey auditor{};

quorvel::SealSettings settings() {
    quorvel::SealSettings made;
    made.logger = "bench.seals";
    made.auditor = auditor;
    return made;
}

std::string socketPath() { return (directory / "agent.sock").string(); }

void BM_SessionOpening_Unattested(benchmark::State& state) {
    quorvel::SealLedger ledger(settings(), "bench-host", "bench");
    for (auto _ : state) {
        ledger.begin(1);
        benchmark::DoNotOptimize(ledger.open(std::nullopt, quorvel::SealLedger::Clock::now(), 1700000000000));
    }
}
BENCHMARK(BM_SessionOpening_Unattested)->UseRealTime();

void BM_SessionOpening_Attested(benchmark::State& state) {
    quorvel::SealLedger ledger(settings(), "bench-host", "bench");
    seal::AgentLink link;
    for (auto _ : state) {
        // An opening finds the agent idle, as a host's rare openings do (the
        // agent syncs each session number to disk after its answer).
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        state.ResumeTiming();
        auto attestation = link.attest(socketPath(), kAgentBound, ledger.begin(1));
        if (!attestation) {
            state.SkipWithError("the agent gave no attestation");
            break;
        }
        benchmark::DoNotOptimize(ledger.open(std::move(attestation), quorvel::SealLedger::Clock::now(), 1700000000000));
        link.drop();
    }
}
BENCHMARK(BM_SessionOpening_Attested)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_SealReport(benchmark::State& state) {
    quorvel::SealLedger ledger(settings(), "bench-host", "bench");
    seal::AgentLink link;
    if (!link.attest(socketPath(), kAgentBound, ledger.begin(1))) {
        state.SkipWithError("the agent gave no attestation");
        return;
    }
    // A seal line of 256 lines, about as long as the default cadence makes.
    const std::string line(3300, 's');
    std::uint64_t index = 0;
    for (auto _ : state)
        link.report({++index, seal::recordDigest(line), false});
}
BENCHMARK(BM_SealReport);

bool run(const std::vector<std::string>& command) { return quorvel_test::runProcess(command).status == 0; }

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!seal::cryptoReady()) return 1;
    char made[] = "/tmp/quorvel-agent-bench-XXXXXX";
    if (mkdtemp(made) == nullptr) return 1;
    directory = made;
    seal::AuditorSecretKey secret;
    seal::makeAuditorKeys(auditor, secret);
    seal::erase(secret);
    std::ofstream(directory / "auditor.pub") << seal::toBase64(auditor) << '\n';
    std::ofstream(directory / "agent.properties")
        << "log4j.rootLogger=OFF\nlog4j.appender.F=org.apache.log4j.FileAppender\nlog4j.appender.F.File="
        << (directory / "ledger.log").string()
        << "\nlog4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
           "log4j.appender.F.layout.ConversionPattern=%m%n\nlog4j.logger.quorvel.ledger=INFO, F\n";
    const std::string state = (directory / "agent.state").string();
    int status = 1;
    if (run({QUORVEL_SEALAGENT, "enroll", "--state", state, "--auditor-key", (directory / "auditor.pub").string(),
             "--record", (directory / "enroll.rec").string()})) {
        quorvel_test::Child agent({QUORVEL_SEALAGENT, "run", "--state", state, "--properties",
                                   (directory / "agent.properties").string(), "--socket", socketPath()},
                                  directory / "agent.out");
        if (agent.waitUntilReady([] { return fs::exists(socketPath()); },
                                 quorvel_test::Clock::now() + std::chrono::seconds(15))) {
            benchmark::RunSpecifiedBenchmarks();
            status = 0;
        } else {
            std::fprintf(stderr, "agent_bench: the agent did not start\n");
        }
        agent.stop(std::chrono::seconds(5));
    } else {
        std::fprintf(stderr, "agent_bench: quorvel-sealagent enroll failed\n");
    }
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(directory, ignored);
    return status;
}
