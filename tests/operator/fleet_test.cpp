// The simulated fleet (examples/fleet/run) run once as an operator runs it:
// HOSTS enrolled hosts, each in namespaces of its own, relaying sealed lines
// for SECONDS to two collectors. quorvel-verify's verdict on each
// collector's files, with the auditor's registry, is held whole against
// what the hosts themselves logged: every host's ledger sound, every server
// session and forked child attested as the server, closed and verified line
// for line, no session missing. Then each attack on copies of the
// collected files, and on two hosts that run beside the fleet for attacks
// that need a host's help, gets its verdict.
//   fleet_test HOSTS SECONDS [gtest options]
// Exits 77 (skipped) when not run as root: the fleet needs namespaces.
#include "child_process.h"
#include "file_text.h"
#include "taken_keys.h"
#include "trail/epoch_record.h"
#include "trail/seal_keys.h"
#include "trail/seal_record.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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
        chmod(pattern, 0755); // the user nobody runs a program on an attack host
        parent_ = pattern;
        work = parent_ + "/fleet";
        result = quorvel_test::runProcess({QUORVEL_FLEET_RUN, QUORVEL_BUILD_DIR, "--hosts", std::to_string(gHosts),
                                           "--seconds", std::to_string(gSeconds), "--work", work, "--attack-hosts"},
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
std::string fingerprint(int host) {
    const std::string enrolled = readFile(hostFile(host, "enroll.out"));
    return enrolled.substr(enrolled.find("fingerprint ") + 12, 39);
}
std::string serverExe() {
    char exe[PATH_MAX] = {};
    EXPECT_NE(realpath(QUORVEL_FLEET_SERVER, exe), nullptr);
    return exe;
}

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
json expectedVerdict(const std::string& exe, const std::string& unit) {
    json verdict = json::parse(R"({"lines": 0, "eventLines": 0, "sealLines": 0, "prefixedLines": 0, "complete": true,
        "sessions": [], "strays": [], "unreadableSeals": [], "hosts": [], "unregisteredLedger": [], "unchecked":
        {"longLines": 0, "sessions": 0, "openings": 0, "candidates": 0, "ledgerRecords": 0}})");
    const json clean = json::parse(R"({"state": "opened", "unanchored": [], "vanished": false, "cutShort": false,
        "contestedLines": 0, "missing": [], "gaps": [], "notYetSealed": 0, "tailBound": 0, "failedMacs": [],
        "faults": [], "uncheckedSeals": 0, "duplicates": [], "reordered": 0, "torn": [], "foreignHost": [],
        "explainedByUnopened": 0})");
    const json sound = json::parse(R"({"fingerprintMatches": true, "enrollmentOpens": true, "lost": [],
        "failedMacs": [], "conflicting": [], "fromTheFuture": [], "missingSessions": [], "reusedNumbers": [],
        "stopped": false, "sound": true})");
    const auto add = [&](const char* count, std::size_t more) { verdict[count] = verdict[count].get<int>() + more; };
    for (int host = 1; host <= gHosts; ++host) {
        std::map<std::string, json> sessions;
        for (const char* log : kServerLogs)
            for (const std::string& line : lines(readFile(hostFile(host, log)))) {
                add("lines", 1);
                const auto read = seal::readSeal(line);
                add(read ? "sealLines" : "eventLines", 1); // the servers log events and seals only
                if (!read) continue;
                const seal::SealRecord& record = read->record;
                json& session = sessions[seal::toBase64(record.session)];
                if (record.opening) {
                    const seal::SessionOpening& opening = *record.opening;
                    EXPECT_TRUE(opening.attestation) << line;
                    const auto attested = opening.attestation.value_or(seal::CarriedAttestation{}).attestation;
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
                session["sealsRead"] = session["seals"] = session.value("seals", 0) + 1;
                session["lastSeal"] = record.index;
                session["closed"] = record.end;
                session["verified"] = session.value("verified", std::size_t{0}) + record.tags.size();
            }
        for (auto& [id, session] : sessions) {
            session.update(clean);
            session["session"] = id;
            verdict["sessions"].push_back(session);
        }
        // The ledger: the enrollment, then one record per epoch (in parts);
        // a record that speaks from an earlier epoch says the agent was down.
        const std::vector<std::string> ledger = lines(readFile(hostFile(host, "log/ledger.log")));
        add("lines", ledger.size());
        json agentDown = json::array();
        std::uint64_t last = 0;
        for (const std::string& line : ledger)
            if (const auto read = seal::readEpochRecord(line)) {
                last = read->record.epoch;
                if (read->record.from < read->record.epoch && read->record.part == 0)
                    agentDown.push_back({{"first", read->record.from}, {"last", read->record.epoch - 1}});
            }
        json entry = sound;
        entry.update({{"host", hostName(host)},
                      {"fingerprint", fingerprint(host)},
                      {"records", ledger.size() - 1},
                      {"epochs", {{"first", 0}, {"last", last}}},
                      {"agentDown", agentDown},
                      {"sessions", sessions.size()}});
        verdict["hosts"].push_back(entry);
    }
    return comparable(verdict);
}

// The untouched run: the script's own verdict (exit 0), and each
// collector's verdict whole.
TEST(Fleet, EveryEventOfEveryHostIsAccountedForAtBothCollectors) {
    ASSERT_EQ(gFleet->result.status, 0) << gFleet->result.out << gFleet->result.err;
    // The servers run in this test's control group (unified hierarchy).
    std::string unit;
    for (const std::string& line : lines(readFile("/proc/self/cgroup")))
        if (startsWith(line, "0::")) unit = line.substr(3);
    const json expected = expectedVerdict(serverExe(), unit);
    ASSERT_EQ(expected["hosts"].size(), static_cast<std::size_t>(gHosts));
    for (const char* collector : {"a", "b"}) {
        const json actual =
            comparable(json::parse(readFile(gFleet->file("verdict-" + std::string(collector) + ".json"))));
        EXPECT_TRUE(actual == expected) << "collector " << collector << ", what differs from the expected verdict: "
                                        << json::diff(expected, actual).dump(1);
    }
}

// What quorvel-verify says of copies of collector a's files `collection`
// (one per host) with the registry of the hosts `registered`, as of the
// untouched run's end, in a few words: whether complete; each session not
// attested as root running fleet-server, cut short, unanchored, with lost
// seals or replayed lines; lines no seal covers; each host with a fault.
using Collection = std::map<int, std::vector<std::string>>;
std::string verdictWords(const Collection& collection, const std::vector<int>& registered, std::uint64_t at) {
    const std::string dir = gFleet->file("attack");
    std::filesystem::create_directories(dir);
    std::vector<std::string> command = {QUORVEL_VERIFY,
                                        "--key",
                                        gFleet->file("auditor.key"),
                                        "--prefix",
                                        "none",
                                        "--json",
                                        "-",
                                        "--at",
                                        std::to_string(at),
                                        "--registry",
                                        dir + "/registry"};
    std::ofstream registry(dir + "/registry");
    for (int host : registered)
        registry << lines(readFile(gFleet->file("registry-all"))).at(host - 1) << "\n";
    registry.close();
    for (const auto& [host, lines] : collection) {
        command.push_back(dir + "/" + std::to_string(host) + ".log");
        std::ofstream file(command.back());
        for (const std::string& line : lines)
            file << line << "\n";
    }
    const json report = json::parse(quorvel_test::runProcess(command).out);
    std::map<std::string, int> tally;
    for (const json& session : report["sessions"]) {
        const json& origin = session["origin"];
        if (origin["kind"] != "attested" || origin["uid"] != 0 || origin["exe"] != serverExe())
            ++tally[origin["kind"].get<std::string>() +
                    (origin["kind"] == "attested" ? " as " + origin["uid"].dump() + " running " +
                                                        std::filesystem::path(origin["exe"]).filename().string()
                                                  : "")];
        tally["cut short"] += session["cutShort"].get<bool>();
        tally["unanchored"] += !session["unanchored"].empty();
        tally["lost seals"] += !session["gaps"].empty();
        for (const json& duplicate : session["duplicates"])
            ++tally[duplicate["replayed"].get<bool>() ? "replayed" : "resent"];
    }
    for (const json& stray : report["strays"])
        ++tally["lines " + stray["kind"].get<std::string>()];
    std::string words = report["complete"] ? "complete" : "incomplete";
    for (const auto& [what, count] : tally)
        if (count != 0) words += ", " + what + " " + std::to_string(count);
    for (const json& host : report["hosts"]) {
        if (host["sound"] && host["missingSessions"].empty()) continue;
        words += "; " + host["host"].get<std::string>() + ":";
        if (host["records"] == 0) words += " no ledger";
        for (const json& missing : host["missingSessions"])
            words += " missing " + missing["first"].dump() + ".." + missing["last"].dump();
        if (host["stopped"]) words += " stopped";
    }
    return words;
}

// The seals of a host's sessions as collector a holds them, by session, in
// the order they were collected; and the lines of one process's events.
std::map<std::string, std::vector<seal::SealRecord>> sealsOf(const std::vector<std::string>& collected) {
    std::map<std::string, std::vector<seal::SealRecord>> seals;
    for (const std::string& line : collected)
        if (const auto read = seal::readSeal(line)) seals[seal::toBase64(read->record.session)].push_back(read->record);
    return seals;
}
std::vector<std::string> without(std::vector<std::string> lines, const std::function<bool(const std::string&)>& gone) {
    lines.erase(std::remove_if(lines.begin(), lines.end(), gone), lines.end());
    return lines;
}
bool ofProcess(const std::string& line, const seal::SessionOpening& opening, const std::string& session) {
    return line.find(session) != std::string::npos ||
           line.find(opening.module + "-" + std::to_string(opening.pid) + "-") != std::string::npos;
}

// Each attack on copies of collector a's files, or on the hosts that
// --attack-hosts adds (the user nobody on host N+1, the agent killed on
// host N+2), and the verdict it gets.
TEST(Fleet, EachAttackOnTheFleetGetsItsVerdict) {
    ASSERT_EQ(gFleet->result.status, 0) << gFleet->result.out << gFleet->result.err;
    const auto collected = [](int host) {
        return lines(readFile(gFleet->file("collector-a/10.77.0." + std::to_string(10 + host) + ".log")));
    };
    Collection untouched;
    std::vector<int> registered;
    for (int host = 1; host <= gHosts; ++host) {
        untouched[host] = collected(host);
        registered.push_back(host);
    }
    // The fleet's hosts and one host that --attack-hosts adds.
    const auto andHost = [&](int host) {
        Collection collection = untouched;
        collection[host] = collected(host);
        return collection;
    };
    const auto registeredAnd = [&](int host) {
        std::vector<int> more = registered;
        more.push_back(host);
        return more;
    };
    // Host 2's sessions: a forked child between others (two seals, a number
    // neither the first nor the last), and the longest server session.
    // The attacks on one host's sessions are made on host 2, which does not
    // restart its agent: a restarted agent follows none of the sessions it
    // attested before (they are named no further).
    const std::vector<std::string>& host2 = untouched[2];
    const auto seals = sealsOf(host2);
    std::string child, server;
    for (const auto& [id, chain] : seals) {
        const std::uint64_t number = chain[0].opening->attestation->attestation.number;
        if (chain.size() == 2 && child.empty() && number > 2 && number + 2 < seals.size()) child = id;
        if (server.empty() || chain.size() > seals.at(server).size()) server = id;
    }
    ASSERT_FALSE(child.empty());
    const seal::SessionOpening& childOpening = *seals.at(child)[0].opening;
    const std::string childNumber = std::to_string(childOpening.attestation->attestation.number);
    const auto withHost2 = [&](std::vector<std::string> lines) {
        Collection collection = untouched;
        collection[2] = std::move(lines);
        return collection;
    };
    const std::string auditorKey = lines(readFile(gFleet->file("auditor.pub"))).at(0);
    const auto secret = seal::fromBase64<32>(lines(readFile(gFleet->file("auditor.key"))).at(0));
    // A session the collector makes for host 2: the child's opening (its
    // attestation too) under a session id and first key of its own, and one
    // event sealed with that key.
    const auto fabricated = [&] {
        seal::SealRecord opening = seals.at(child)[0];
        opening.session = seal::randomSessionId();
        const seal::SealKey first = seal::randomSealKey();
        opening.opening->key = seal::encryptForAuditor(first, *seal::fromBase64<32>(auditorKey));
        seal::SealRecord covering = seals.at(child)[1];
        covering.session = opening.session;
        const std::string forged = "CEF:0|Example|fleet|1.0|100|login|4|suser=mallory ";
        covering.tags = {seal::tagOf(seal::sealKeysOf(seal::nextSealKey(first)).tag, forged)};
        covering.locators = {seal::locatorOf(forged)};
        std::vector<std::string> lines = host2;
        for (const std::string& line : {seal::writeSeal(opening, seal::sealKeysOf(first).mac), forged,
                                        seal::writeSeal(covering, seal::sealKeysOf(seal::nextSealKey(first)).mac)})
            lines.push_back(line);
        return lines;
    }();
    // Whoever takes host 2 at a seal of the server's session that an epoch
    // record names (live) makes that seal again, with the key it then holds,
    // over lines of its own in place of the seal's; the collector deletes
    // the seal's own lines.
    const auto resealed = [&] {
        const std::vector<seal::SealRecord>& chain = seals.at(server);
        const std::uint64_t number = chain[0].opening->attestation->attestation.number;
        std::uint64_t index = 0;
        for (const std::string& line : host2)
            if (const auto record = seal::readEpochRecord(line))
                for (const seal::SessionEntry& named : record->record.sessions)
                    if (named.number == number && named.event == seal::SessionEvent::Live && index == 0)
                        index = named.index;
        seal::SealRecord remade = chain.at(index);
        const seal::SealKeys keys = seal::sealKeysOf(*quorvel_test::takenSealKey(chain[0], *secret, index));
        std::vector<std::string> lines;
        for (const std::string& line : host2) {
            const bool covered =
                std::find(remade.tags.begin(), remade.tags.end(), seal::tagOf(keys.tag, line)) != remade.tags.end();
            if (line.find(" index=" + std::to_string(index) + " ") != std::string::npos &&
                line.find(server) != std::string::npos) {
                for (std::size_t i = 0; i < remade.tags.size(); ++i) {
                    lines.push_back("CEF:0|Example|fleet|1.0|100|login|4|suser=mallory cs1=" + std::to_string(i) + " ");
                    remade.tags[i] = seal::tagOf(keys.tag, lines.back());
                    remade.locators[i] = seal::locatorOf(lines.back());
                }
                lines.push_back(seal::writeSeal(remade, keys.mac));
            } else if (!covered) {
                lines.push_back(line);
            }
        }
        return lines;
    }();
    std::vector<std::string> replayed = host2;
    for (const std::string& line : host2)
        if (ofProcess(line, childOpening, child)) replayed.push_back(line);
    // The sessions on the host whose agent was killed that opened without it.
    int unattested = 0;
    for (const char* log : kServerLogs)
        for (const std::string& line : lines(readFile(hostFile(gHosts + 2, log))))
            if (const auto read = seal::readSeal(line); read && read->record.opening)
                unattested += !read->record.opening->attestation;
    const std::string last = hostName(gHosts + 2);
    const struct {
        const char* attack;
        Collection collection;
        std::vector<int> registry;
        std::string verdict;
    } attacks[] = {
        {"the collector fabricates a session for host 2 (a real attestation moved onto it)", withHost2(fabricated),
         registered, "incomplete, failed 1"},
        {"the user nobody runs a sealed program under a server's module name: attested as that user and program",
         andHost(gHosts + 1), registeredAnd(gHosts + 1), "complete, attested as 65534 running quorvel-emit 1"},
        {"the collector deletes a forked child's session whole",
         withHost2(without(host2, [&](const std::string& l) { return ofProcess(l, childOpening, child); })), registered,
         "incomplete; " + hostName(2) + ": missing " + childNumber + ".." + childNumber},
        {"the collector cuts a server session's tail with its end seal",
         withHost2(without(host2,
                           [&](const std::string& l) {
                               return l.find(server) != std::string::npos && l.find(" end=1 ") != std::string::npos;
                           })),
         registered,
         "incomplete, lines openTail " + std::to_string(seals.at(server).back().tags.size()) + ", unanchored 1"},
        {"host 2 taken at a named seal: the seal made again over lines of the taker's own", withHost2(resealed),
         registered, "incomplete, unanchored 1"},
        {"the collector replays a forked child's session at the end", withHost2(replayed), registered,
         "complete, resent " + std::to_string(seals.at(child)[1].tags.size())}, // a copy of a seal counts once
        {"the agent killed on a host during the run", andHost(gHosts + 2), registeredAnd(gHosts + 2),
         "incomplete, unattested " + std::to_string(unattested) + "; " + last + ": stopped"},
        {"every file of host 2 deleted",
         [&] {
             Collection fewer = untouched;
             fewer.erase(2);
             return fewer;
         }(),
         registered, "incomplete; " + hostName(2) + ": no ledger stopped"},
    };
    const std::uint64_t at = json::parse(readFile(gFleet->file("verdict-a.json")))["collectionEnd"];
    for (const auto& a : attacks)
        EXPECT_EQ(verdictWords(a.collection, a.registry, at), a.verdict) << a.attack;
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
