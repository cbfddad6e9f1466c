// What auditing a day of a fleet costs: quorvel-verify's engine on a day's
// collection of H enrolled hosts (5, 10, 20: its growth with hosts), with
// the auditor's registry, and the ledger's bytes per host and day.
//
// - BM_VerifyFleetDay/H: each host enrolled with one-minute epochs runs two
//   sealed servers all day, each logging one event every ten seconds at the
//   library's default cadence (a seal a second after the first line it
//   covers, a checkpoint a minute), their openings attested; each epoch's
//   record names their openings, checkpoints and latest seals, the last one
//   their end seals. One file per host, as a collector writes it. The
//   collection is written before the timing, with the library's own seal
//   ledger, records and keys and simulated clocks; the verdict must be
//   complete, or the benchmark fails. Counters: the collection's lines,
//   and ledger_bytes_per_host_day (the enrollment and the day's epoch
//   records of one host).
#include "trail/epoch_record.h"
#include "trail/seal_ledger.h"
#include "trail/trail_verifier.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace seal = quorvel::seal;
namespace trail = quorvel::trail;
using Clock = quorvel::SealLedger::Clock;

constexpr std::uint64_t kDayStart = 1767225600000; // 2026-01-01T00:00:00Z
constexpr std::uint64_t kEpochMillis = 60000;
constexpr std::uint64_t kEpochs = 24 * 60;
constexpr std::uint64_t kEventEveryMillis = 10000;
constexpr std::size_t kServers = 2;
constexpr std::size_t kMostRecordBytes = 4096; // the agent's default

seal::AuditorPublicKey auditorPublic{};
seal::AuditorSecretKey auditorSecret{};

Clock::time_point steady(std::uint64_t millis) { return Clock::time_point(std::chrono::milliseconds(millis)); }

// One sealed server of a host: its session's ledger, and what the epoch
// under way's record will name of it.
struct Server {
    Server(const quorvel::SealSettings& settings, const std::string& host, std::uint64_t n)
        : ledger(settings, host, "server" + std::to_string(n)), number(n), nextEvent(n * kEventEveryMillis / kServers) {
    }

    quorvel::SealLedger ledger;
    std::uint64_t number;
    std::uint64_t nextEvent;
    std::uint64_t events = 0;
    std::optional<seal::SessionEntry> opened, checkpoint, latest;
};

class HostDay {
  public:
    HostDay(std::size_t host, std::ofstream& out) : out_(out), name_("host" + std::to_string(host) + ".fleet") {
        seal::HostSeed seed = seal::randomSealKey();
        keys_.begin(seed);
        seal::Enrollment enrollment{{}, name_, kDayStart, kEpochMillis, seal::encryptForAuditor(seed, auditorPublic)};
        seal::erase(seed);
        enrollment.hostId[0] = static_cast<unsigned char>(host);
        enrollment.hostId[1] = static_cast<unsigned char>(host >> 8);
        hostId_ = enrollment.hostId;
        const std::string line = seal::writeEnrollment(enrollment, keys_.key());
        registered = {seal::fingerprintOf(line), line};
        previous_ = seal::recordDigest(line);
        ledgerBytes = line.size() + 1;
    }

    // The day: each millisecond something happens at, in order.
    void run() {
        quorvel::SealSettings settings;
        settings.auditor = auditorPublic;
        settings.logger = "quorvel.seal";
        settings.agent = "/run/quorvel/sealagent.sock";
        for (std::uint64_t n = 0; n < kServers; ++n) {
            open(servers_.emplace_back(settings, name_, n));
        }
        for (std::uint64_t epoch = 0; epoch < kEpochs; ++epoch) {
            const std::uint64_t end = (epoch + 1) * kEpochMillis;
            for (std::uint64_t now; (now = nextMoment()) < end;)
                step(now);
            if (epoch + 1 == kEpochs)
                for (Server& server : servers_)
                    seal(server, end - 1, true);
            closeEpoch(epoch);
        }
    }

    trail::RegisteredHost registered;
    std::uint64_t ledgerBytes = 0;
    std::uint64_t lines = 0;

  private:
    void write(const std::string& line) {
        out_ << line << '\n';
        ++lines;
    }

    void open(Server& server) {
        seal::Attestation attestation{hostId_,
                                      0,
                                      server.number,
                                      0,
                                      0,
                                      4242 + server.number,
                                      "/usr/sbin/server",
                                      "/system.slice/server.service",
                                      server.ledger.begin(4242 + server.number)};
        const auto signedBy = seal::readAttestation(seal::writeAttestation(attestation, keys_.key()));
        const std::string line =
            server.ledger.open(seal::CarriedAttestation{attestation, signedBy->mac}, steady(0), kDayStart);
        server.opened = seal::SessionEntry{server.number, 0, seal::SessionEvent::Opened, seal::recordDigest(line)};
        write(line);
    }

    std::uint64_t nextMoment() const {
        std::uint64_t next = UINT64_MAX;
        for (const Server& server : servers_) {
            next = std::min(next, server.nextEvent);
            const auto due = server.ledger.nextDue();
            next = std::min(next,
                            static_cast<std::uint64_t>(
                                std::chrono::duration_cast<std::chrono::milliseconds>(due.time_since_epoch()).count()));
        }
        return next;
    }

    void step(std::uint64_t now) {
        for (Server& server : servers_) {
            if (server.ledger.nextDue() <= steady(now)) seal(server, now, false);
            if (server.nextEvent == now) {
                const std::string line =
                    "CEF:0|Acme|Bank|1.0|100|Login|4|suser=alice cnt=" + std::to_string(server.events++) +
                    " dvchost=" + name_;
                server.ledger.record(line, steady(now));
                write(line);
                server.nextEvent += kEventEveryMillis;
            }
        }
    }

    void seal(Server& server, std::uint64_t now, bool end) {
        const std::string line = server.ledger.cut(end, steady(now), kDayStart + now);
        const seal::SessionEntry entry{server.number, server.ledger.lastIndex(),
                                       end ? seal::SessionEvent::Ended : seal::SessionEvent::Live,
                                       seal::recordDigest(line)};
        if (server.ledger.lastCheckpointed() && !server.checkpoint) {
            server.checkpoint = entry;
            server.checkpoint->event = seal::SessionEvent::Checkpoint;
        }
        server.latest = entry;
        write(line);
    }

    // The epoch's record, in parts as the agent writes them, chained on.
    void closeEpoch(std::uint64_t epoch) {
        seal::EpochRecord whole{hostId_, epoch, epoch, {}, 0, false, {}};
        for (Server& server : servers_) {
            for (auto* named : {&server.opened, &server.checkpoint, &server.latest})
                if (*named) whole.sessions.push_back(**named);
            server.opened.reset();
            server.checkpoint.reset();
        }
        keys_.advanceTo(epoch);
        for (seal::EpochRecord& part : seal::splitEpochRecord(whole, kMostRecordBytes)) {
            part.previous = previous_;
            const std::string line = seal::writeEpochRecord(part, keys_.key());
            previous_ = seal::recordDigest(line);
            ledgerBytes += line.size() + 1;
            write(line);
        }
    }

    std::ofstream& out_;
    const std::string name_;
    seal::HostEpochKeys keys_;
    seal::HostId hostId_{};
    seal::Bytes32 previous_{};
    std::deque<Server> servers_;
};

void BM_VerifyFleetDay(benchmark::State& state) {
    const auto hosts = static_cast<std::size_t>(state.range(0));
    char made[] = "/tmp/quorvel-fleet-bench-XXXXXX";
    if (mkdtemp(made) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const fs::path directory = made;
    trail::VerifyOptions options;
    options.secretKey = &auditorSecret;
    options.at = kDayStart + kEpochs * kEpochMillis + 1000;
    std::vector<std::string> files;
    std::uint64_t lines = 0, ledgerBytes = 0;
    for (std::size_t host = 0; host < hosts; ++host) {
        files.push_back((directory / ("host" + std::to_string(host) + ".log")).string());
        std::ofstream out(files.back());
        HostDay day(host, out);
        day.run();
        options.registry.push_back(day.registered);
        lines += day.lines;
        ledgerBytes += day.ledgerBytes;
    }
    for (auto _ : state) {
        const trail::TrailVerdict verdict = trail::verifyTrail(files, options);
        if (!verdict.complete() || verdict.hosts.size() != hosts)
            state.SkipWithError("the day's verdict is not complete");
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["ledger_bytes_per_host_day"] = static_cast<double>(ledgerBytes) / static_cast<double>(hosts);
    std::error_code ignored;
    fs::remove_all(directory, ignored);
}
BENCHMARK(BM_VerifyFleetDay)->Arg(5)->Arg(10)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!seal::cryptoReady()) return 1;
    seal::makeAuditorKeys(auditorPublic, auditorSecret);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
