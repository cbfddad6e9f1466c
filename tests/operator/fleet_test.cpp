// The simulated fleet (examples/fleet/run) run once as an operator runs it:
// HOSTS enrolled hosts, each in namespaces of its own, relaying sealed lines
// for SECONDS to two collectors. quorvel-verify's verdict on each
// collector's files, with the auditor's registry, is held whole against
// what the hosts themselves logged: every host's ledger sound, every server
// session and forked child attested as the server, closed and verified line
// for line, no session missing.
//   fleet_test HOSTS SECONDS [gtest options]
// Exits 77 (skipped) when not run as root: the fleet needs namespaces.
#include "child_process.h"
#include "file_text.h"
#include "trail/epoch_record.h"
#include "trail/seal_keys.h"
#include "trail/seal_record.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace seal = quorvel::seal;
using nlohmann::json;
using quorvel_test::lines;
using quorvel_test::readFile;

int gHosts = 0;
int gSeconds = 0;

// The fleet's work directory, run once for all the tests; removed at the
// end unless a test failed.
class FleetRun : public testing::Environment {
  public:
    void SetUp() override {
        char pattern[] = "/tmp/quorvel-fleet-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        parent_ = pattern;
        work = parent_ + "/fleet";
        result = quorvel_test::runProcess({QUORVEL_FLEET_RUN, QUORVEL_BUILD_DIR, "--hosts", std::to_string(gHosts),
                                           "--seconds", std::to_string(gSeconds), "--work", work},
                                          ".", {}, std::chrono::seconds(600));
    }
    void TearDown() override {
        if (!testing::UnitTest::GetInstance()->Passed()) {
            std::printf("fleet files kept in %s\n", parent_.c_str());
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(parent_, ignored);
    }
    std::string file(const std::string& name) const { return work + "/" + name; }

    std::string work;
    quorvel_test::ProcessResult result;

  private:
    std::string parent_;
};
FleetRun* gFleet = nullptr;

std::string hostName(int host) { return "host" + std::to_string(host) + ".fleet.example.net"; }
std::string hostFile(int host, const std::string& name) {
    return gFleet->file("host" + std::to_string(host) + "/" + name);
}
const char* const kServerLogs[] = {"log/server-a.log", "log/server-b.log"};

bool startsWith(const std::string& line, const char* start) { return line.rfind(start, 0) == 0; }

// The verdict as quorvel-verify wrote it, without what differs from run to
// run beyond the hosts' own records: file names, the collection's end, and
// where and when each opening and last seal were read.
json comparable(json report) {
    report.erase("files");
    report.erase("collectionEnd");
    for (json& session : report["sessions"]) {
        session.erase("lastSealAt");
        for (json& opening : session["openings"]) {
            opening.erase("openedAt");
            opening.erase("place");
        }
    }
    std::sort(report["sessions"].begin(), report["sessions"].end(),
              [](const json& a, const json& b) { return a["session"] < b["session"]; });
    return report;
}

// The verdict the auditor should get for a collection holding every line
// the fleet's hosts logged, each once: written out from the hosts' own
// files (their seals and ledgers), with what every server session must be
// (attested as root running fleet-server, closed, each sealed line
// verified).
json expectedVerdict() {
    char exe[PATH_MAX] = {};
    EXPECT_NE(realpath(QUORVEL_FLEET_SERVER, exe), nullptr);
    // The servers run in this test's control group (unified hierarchy).
    std::string unit;
    for (const std::string& line : lines(readFile("/proc/self/cgroup")))
        if (startsWith(line, "0::")) unit = line.substr(3);
    json verdict = {
        {"lines", 0},
        {"eventLines", 0},
        {"sealLines", 0},
        {"prefixedLines", 0},
        {"complete", true},
        {"sessions", json::array()},
        {"strays", json::array()},
        {"unreadableSeals", json::array()},
        {"hosts", json::array()},
        {"unregisteredLedger", json::array()},
        {"unchecked", {{"longLines", 0}, {"sessions", 0}, {"openings", 0}, {"candidates", 0}, {"ledgerRecords", 0}}}};
    for (int host = 1; host <= gHosts; ++host) {
        std::map<std::string, json> sessions;
        for (const char* log : kServerLogs)
            for (const std::string& line : lines(readFile(hostFile(host, log)))) {
                verdict["lines"] = verdict["lines"].get<int>() + 1;
                const auto read = seal::readSeal(line);
                if (!read) { // the servers log events and seals only
                    verdict["eventLines"] = verdict["eventLines"].get<int>() + 1;
                    continue;
                }
                verdict["sealLines"] = verdict["sealLines"].get<int>() + 1;
                const seal::SealRecord& record = read->record;
                json& session = sessions[seal::toBase64(record.session)];
                if (record.opening) {
                    const seal::SessionOpening& opening = *record.opening;
                    EXPECT_TRUE(opening.attestation) << line;
                    const seal::Attestation attested =
                        opening.attestation ? opening.attestation->attestation : seal::Attestation{};
                    session["origin"] = {{"kind", "attested"},
                                         {"hostId", seal::toBase64(attested.hostId)},
                                         {"epoch", attested.epoch},
                                         {"number", attested.number},
                                         {"uid", 0},
                                         {"gid", 0},
                                         {"pid", opening.pid},
                                         {"exe", exe},
                                         {"unit", unit}};
                    session["openings"] = {{{"host", hostName(host)},
                                            {"module", opening.module},
                                            {"pid", opening.pid},
                                            {"lines", 32},
                                            {"millis", 1000},
                                            {"idleMillis", 60000}}};
                }
                session["seals"] = session.value("seals", 0) + 1;
                session["lastSeal"] = record.index;
                session["closed"] = record.end;
                session["verified"] = session.value("verified", std::size_t{0}) + record.tags.size();
            }
        for (auto& [id, session] : sessions) {
            session.update({{"session", id},
                            {"state", "opened"},
                            {"unanchored", json::array()},
                            {"vanished", false},
                            {"sealsRead", session["seals"]},
                            {"cutShort", false},
                            {"contestedLines", 0},
                            {"missing", json::array()},
                            {"gaps", json::array()},
                            {"notYetSealed", 0},
                            {"tailBound", 0},
                            {"failedMacs", json::array()},
                            {"faults", json::array()},
                            {"uncheckedSeals", 0},
                            {"duplicates", json::array()},
                            {"reordered", 0},
                            {"torn", json::array()},
                            {"foreignHost", json::array()},
                            {"explainedByUnopened", 0}});
            verdict["sessions"].push_back(session);
        }
        // The ledger: the enrollment, then one record per epoch (in parts),
        // each speaking from the epoch after the one before.
        const std::vector<std::string> ledger = lines(readFile(hostFile(host, "log/ledger.log")));
        verdict["lines"] = verdict["lines"].get<int>() + static_cast<int>(ledger.size());
        json agentDown = json::array();
        std::uint64_t last = 0;
        for (const std::string& line : ledger)
            if (const auto read = seal::readEpochRecord(line)) {
                last = read->record.epoch;
                if (read->record.from < read->record.epoch && read->record.part == 0)
                    agentDown.push_back({{"first", read->record.from}, {"last", read->record.epoch - 1}});
            }
        std::string fingerprint = readFile(hostFile(host, "enroll.out"));
        fingerprint = fingerprint.substr(fingerprint.find("fingerprint ") + 12, 39);
        verdict["hosts"].push_back({{"host", hostName(host)},
                                    {"fingerprint", fingerprint},
                                    {"fingerprintMatches", true},
                                    {"enrollmentOpens", true},
                                    {"records", ledger.size() - 1},
                                    {"epochs", {{"first", 0}, {"last", last}}},
                                    {"lost", json::array()},
                                    {"agentDown", agentDown},
                                    {"failedMacs", json::array()},
                                    {"conflicting", json::array()},
                                    {"fromTheFuture", json::array()},
                                    {"sessions", sessions.size()},
                                    {"missingSessions", json::array()},
                                    {"reusedNumbers", json::array()},
                                    {"stopped", false},
                                    {"sound", true}});
    }
    std::sort(verdict["sessions"].begin(), verdict["sessions"].end(),
              [](const json& a, const json& b) { return a["session"] < b["session"]; });
    return verdict;
}

// The untouched run: the script's own verdict (exit 0), and each
// collector's verdict whole.
TEST(Fleet, EveryEventOfEveryHostIsAccountedForAtBothCollectors) {
    ASSERT_EQ(gFleet->result.status, 0) << gFleet->result.out << gFleet->result.err;
    const json expected = expectedVerdict();
    ASSERT_EQ(expected["hosts"].size(), static_cast<std::size_t>(gHosts));
    for (const char* collector : {"a", "b"}) {
        const json report = json::parse(readFile(gFleet->file("verdict-" + std::string(collector) + ".json")));
        const json actual = comparable(report);
        EXPECT_TRUE(actual == expected) << "collector " << collector << ", what differs from the expected verdict: "
                                        << json::diff(expected, actual).dump(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 3 || (gHosts = std::atoi(argv[1])) <= 0 || (gSeconds = std::atoi(argv[2])) <= 0) {
        std::fprintf(stderr, "usage: fleet_test HOSTS SECONDS [gtest options]\n");
        return 2;
    }
    if (geteuid() != 0) {
        std::printf("skipped: the fleet needs root (network, PID and mount namespaces)\n");
        return 77;
    }
    gFleet = new FleetRun; // owned by gtest
    testing::AddGlobalTestEnvironment(gFleet);
    return RUN_ALL_TESTS();
}
