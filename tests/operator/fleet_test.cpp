// The simulated fleet (examples/fleet/run --attack-hosts) run once as an
// operator runs it: HOSTS enrolled hosts relaying sealed lines for SECONDS
// to two collectors. Each collector's verdict, with the auditor's registry,
// is whole what the verifier says of the hosts' own files, and says every
// session is attested as the server, closed and verified line for line,
// every ledger sound, no session missing. Then each attack on copies of the
// collected files, or on the two hosts that run beside the fleet for it,
// gets its verdict.
//   fleet_test HOSTS SECONDS [gtest options]; 77 (skipped) when not root, or
// 1 where QUORVEL_REQUIRE_ALL_TESTS is set.
#include "child_process.h"
#include "file_text.h"
#include "skip_or_fail.h"
#include "taken_keys.h"
#include "trail/epoch_record.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

namespace {

namespace seal = quorvel::seal;
using nlohmann::json;
using quorvel_test::lines;
using quorvel_test::readFile;
using Lines = std::vector<std::string>;
using Collection = std::map<int, Lines>; // files by host number

int gHosts = 0;
std::string gWork;
quorvel_test::ProcessResult gRun;

std::string file(const std::string& name) { return gWork + "/" + name; }
std::string hostName(int host) { return "host" + std::to_string(host) + ".fleet.example.net"; }
// What the host logged: its servers' files, an intruder's, then its ledger.
Lines logged(int host) {
    Lines all;
    for (const char* log : {"/log/server-a.log", "/log/server-b.log", "/log/intruder.log", "/log/ledger.log"})
        for (const std::string& line : lines(readFile(file("host" + std::to_string(host) + log))))
            all.push_back(line);
    return all;
}

// A verdict without where each line was read, and without a relay's
// resends (copies of lines found near their first, which the collectors
// may hold and the hosts' files do not): the line counts go, and the
// copies that are not replays.
json comparable(json report) {
    for (const char* count : {"files", "lines", "eventLines", "sealLines"})
        report.erase(count);
    for (json& session : report["sessions"]) {
        for (json& opening : session["openings"])
            opening.erase("place");
        json& copies = session["duplicates"];
        copies.erase(std::remove_if(copies.begin(), copies.end(), [](const json& d) { return !d["replayed"]; }),
                     copies.end());
        for (json& copy : copies)
            copy.erase("place"), copy.erase("original");
    }
    std::sort(report["sessions"].begin(), report["sessions"].end(),
              [](const json& a, const json& b) { return a["session"] < b["session"]; });
    return report;
}

// quorvel-verify's JSON verdict on copies of `collection` with the registry
// of the fleet's hosts (and of host `extra`, when not 0), the collection
// ending where the untouched run's ended (and a window from `from`, unless
// 0).
json verified(const Collection& collection, int extra = 0, std::uint64_t from = 0) {
    const std::string dir = file("audit");
    std::filesystem::create_directories(dir);
    const std::string at = json::parse(readFile(file("verdict-a.json")))["collectionEnd"].dump();
    Lines command = {QUORVEL_VERIFY, "--key", file("auditor.key"), "--prefix", "none", "--json", "-", "--at", at};
    command.insert(command.end(), {"--registry", dir + "/registry"});
    if (from != 0) command.insert(command.end(), {"--from", std::to_string(from)});
    const Lines all = lines(readFile(file("registry-all")));
    std::ofstream registry(dir + "/registry");
    for (int host = 1; host <= gHosts; ++host)
        registry << all.at(host - 1) << "\n";
    if (extra != 0) registry << all.at(extra - 1) << "\n";
    registry.close();
    for (const auto& [host, hostLines] : collection) {
        command.push_back(dir + "/" + std::to_string(host) + ".log");
        std::ofstream out(command.back());
        for (const std::string& line : hostLines)
            out << line << "\n";
    }
    return json::parse(quorvel_test::runProcess(command).out);
}

// The words for `lines` lines of an open tail: none when the end seal cut
// off covered none.
std::string tailWords(std::size_t lines) { return lines == 0 ? "" : "lines openTail " + std::to_string(lines) + ", "; }

// A verdict in a few words: whether complete; each session not attested as
// root running fleet-server, verified from a checkpoint after the window's
// start, cut short, unanchored, with lines missing or seals lost, and lines
// found again; lines no seal covers; each registered host with a fault.
std::string words(const json& report) {
    char exe[PATH_MAX] = {};
    EXPECT_NE(realpath(QUORVEL_FLEET_SERVER, exe), nullptr);
    std::map<std::string, int> tally;
    for (const json& session : report["sessions"]) {
        const json& origin = session["origin"];
        const bool attested = origin["kind"] == "attested";
        if (!attested || origin["uid"] != 0 || origin["exe"] != exe)
            ++tally[origin["kind"].get<std::string>() +
                    (attested ? " as " + origin["uid"].dump() + " running " +
                                    std::filesystem::path(origin["exe"]).filename().string()
                              : "")];
        tally["checkpoint late"] += origin["kind"] == "checkpointed" && report["windowFrom"] != 0 &&
                                    session["openings"][0]["openedAt"] > report["windowFrom"];
        tally["not closed"] += !session["closed"].get<bool>();
        tally["cut short"] += session["cutShort"].get<bool>();
        tally["unanchored"] += !session["unanchored"].empty();
        tally["missing lines"] += !session["missing"].empty() || !session["gaps"].empty();
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
        words += "; " + host["host"].get<std::string>() + ":" + (host["records"] == 0 ? " no ledger" : "");
        for (const json& missing : host["missingSessions"])
            words += " missing " + missing["first"].dump() + ".." + missing["last"].dump();
        words += host["stopped"] ? " stopped" : "";
    }
    return words;
}

// The untouched run: the script's own verdict (exit 0); each collector's
// verdict whole the verdict on what the hosts logged, and complete, with
// each host's sessions counted from its own files.
TEST(Fleet, EveryEventOfEveryHostIsAccountedForAtBothCollectors) {
    ASSERT_EQ(gRun.status, 0) << gRun.out << gRun.err;
    Collection hostFiles;
    for (int host = 1; host <= gHosts; ++host)
        hostFiles[host] = logged(host);
    const json report = verified(hostFiles);
    EXPECT_EQ(words(report), "complete");
    ASSERT_EQ(report["hosts"].size(), static_cast<std::size_t>(gHosts));
    for (int host = 1; host <= gHosts; ++host)
        EXPECT_EQ(report["hosts"][host - 1]["sessions"],
                  std::count_if(hostFiles[host].begin(), hostFiles[host].end(), [](const std::string& line) {
                      return line.rfind("quorvel-seal ", 0) == 0 && line.find(" index=0 ") != std::string::npos;
                  }));
    const json fromHosts = comparable(report);
    for (const char* collector : {"a", "b"}) {
        const json atCollector = comparable(json::parse(readFile(file("verdict-" + std::string(collector) + ".json"))));
        EXPECT_TRUE(atCollector == fromHosts)
            << "collector " << collector
            << " differs from what the hosts logged: " << json::diff(fromHosts, atCollector).dump(1);
    }
}

// Each attack on copies of what the hosts logged (the collectors hold the
// same, as the test above shows, and a relay's resends besides), or on the
// hosts that --attack-hosts adds (the user nobody on host N+1, the agent
// killed on host N+2), and the verdict it gets. The attacks on one host's sessions
// are made on host 2, which does not restart its agent: a restarted agent
// names none of the sessions it attested before.
TEST(Fleet, EachAttackOnTheFleetGetsItsVerdict) {
    ASSERT_EQ(gRun.status, 0) << gRun.out << gRun.err;
    Collection untouched;
    for (int host = 1; host <= gHosts; ++host)
        untouched[host] = logged(host);
    // Host 2's sessions by id, their seals in order: a forked child between
    // others (two seals, a number neither among the first nor the last),
    // and the longest server session.
    const Lines& host2 = untouched[2];
    std::map<std::string, std::vector<seal::SealRecord>> seals;
    for (const std::string& line : host2)
        if (const auto read = seal::readSeal(line)) seals[seal::toBase64(read->record.session)].push_back(read->record);
    for (auto& [id, chain] : seals)
        std::sort(chain.begin(), chain.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    std::string child, server;
    for (const auto& [id, chain] : seals) {
        const std::uint64_t number = chain[0].opening->attestation->attestation.number;
        if (chain.size() == 2 && child.empty() && number > 2 && number + 2 < seals.size()) child = id;
        if (server.empty() || chain.size() > seals.at(server).size()) server = id;
    }
    ASSERT_FALSE(child.empty());
    const seal::SessionOpening& childOpening = *seals.at(child)[0].opening;
    const std::string childNumber = std::to_string(childOpening.attestation->attestation.number);
    const auto ofChild = [&](const std::string& line) {
        return line.find(child) != std::string::npos ||
               line.find(childOpening.module + "-" + std::to_string(childOpening.pid) + "-") != std::string::npos;
    };
    const auto without = [&](const std::function<bool(const std::string&)>& gone) {
        Lines fewer = host2;
        fewer.erase(std::remove_if(fewer.begin(), fewer.end(), gone), fewer.end());
        return fewer;
    };
    const auto auditor = *seal::fromBase64<32>(lines(readFile(file("auditor.pub"))).at(0));
    const auto secret = *seal::fromBase64<32>(lines(readFile(file("auditor.key"))).at(0));
    // `count` events of the attacker's own, sealed by `record` with `key`
    // (the record's tags and locators theirs).
    const auto sealedOver = [](seal::SealRecord record, const seal::SealKey& key, std::size_t count) {
        Lines made;
        record.tags.clear(), record.locators.clear();
        for (std::size_t i = 0; i < count; ++i) {
            made.push_back("CEF:0|Example|fleet|1.0|100|login|4|suser=mallory cs1=" + std::to_string(i) + " ");
            record.tags.push_back(seal::tagOf(seal::sealKeysOf(key).tag, made.back()));
            record.locators.push_back(seal::locatorOf(made.back()));
        }
        made.push_back(seal::writeSeal(record, seal::sealKeysOf(key).mac));
        return made;
    };
    // The collector makes a session for host 2: the child's opening (its
    // attestation too) under an id and first key of its own, one event.
    // `attestation`, when given, signed anew under `epochKey` for the new
    // session, dated `time`.
    const auto withChildCopy = [&](std::optional<seal::Attestation> attestation, const seal::EpochKey& epochKey,
                                   std::uint64_t time) {
        Lines made = host2;
        seal::SealRecord opening = seals.at(child)[0], covering = seals.at(child)[1];
        opening.session = covering.session = seal::randomSessionId();
        if (attestation) {
            opening.opening->attestation->attestation = *attestation;
            opening.time = covering.time = time;
        }
        const seal::SealKey first = quorvel_test::forgeOpening(opening, auditor, attestation ? &epochKey : nullptr);
        made.push_back(seal::writeSeal(opening, seal::sealKeysOf(first).mac));
        for (const std::string& line : sealedOver(covering, seal::nextSealKey(first), 1))
            made.push_back(line);
        return made;
    };
    const Lines fabricated = withChildCopy(std::nullopt, {}, 0);
    // Whoever takes host 2 at the end holds the key of its last epoch, and
    // attests a session of its own making with the next number: dated in
    // that epoch, it holds (the host lies from then on); dated before, not.
    const std::string registered = lines(readFile(file("registry-all"))).at(1);
    const std::string enrollmentLine = registered.substr(registered.find(' ') + 1); // the record reads into it
    const auto enrollment = seal::readEnrollment(enrollmentLine);
    ASSERT_TRUE(enrollment);
    seal::HostSeed seed;
    ASSERT_TRUE(seal::openEnrollment(*enrollment, auditor, secret, seed));
    seal::Attestation taken = seals.at(child)[0].opening->attestation->attestation;
    for (const auto& [id, chain] : seals)
        taken.number = std::max(taken.number, chain[0].opening->attestation->attestation.number + 1);
    for (const std::string& line : host2)
        if (const auto record = seal::readEpochRecord(line)) taken.epoch = std::max(taken.epoch, record->record.epoch);
    seal::EpochKey takenKey;
    seal::epochKeyFromSeed(seed, taken.epoch, takenKey);
    const std::uint64_t takenEpochStart = enrollment->record.time + taken.epoch * enrollment->record.epochMillis;
    // Whoever takes host 2 at a seal of the server's session that an epoch
    // record names (live) makes that seal again with the key it then holds,
    // over events of its own; the collector deletes the seal's own lines.
    Lines resealed;
    {
        const std::vector<seal::SealRecord>& chain = seals.at(server);
        std::uint64_t index = 0;
        for (const std::string& line : host2)
            if (const auto record = seal::readEpochRecord(line))
                for (const seal::SessionEntry& named : record->record.sessions)
                    if (named.number == chain[0].opening->attestation->attestation.number &&
                        named.event == seal::SessionEvent::Live && index == 0)
                        index = named.index;
        const seal::SealRecord& original = chain.at(index);
        const seal::SealKey key = *quorvel_test::takenSealKey(chain[0], secret, index);
        for (const std::string& line : host2)
            if (line.find(server + " index=" + std::to_string(index) + " ") != std::string::npos) {
                for (const std::string& made : sealedOver(original, key, original.tags.size()))
                    resealed.push_back(made);
            } else if (std::count(original.tags.begin(), original.tags.end(),
                                  seal::tagOf(seal::sealKeysOf(key).tag, line)) == 0) {
                resealed.push_back(line);
            }
    }
    // The server session's opening, and its seals and lines before the
    // first checkpoint the ledger names, rotated away; the windows start at
    // it and at the start of the epoch whose record names it.
    Lines rotated;
    std::uint64_t windowFrom = 0, checkpointAt = 0;
    {
        const std::vector<seal::SealRecord>& chain = seals.at(server);
        const std::uint64_t number = chain[0].opening->attestation->attestation.number;
        std::uint64_t epoch = 0, index = 0;
        for (const std::string& line : host2)
            if (const auto record = seal::readEpochRecord(line); record && index == 0)
                for (const seal::SessionEntry& named : record->record.sessions)
                    if (named.number == number && named.event == seal::SessionEvent::Checkpoint && index == 0)
                        epoch = record->record.epoch, index = named.index;
        ASSERT_NE(index, 0u) << "no record names a checkpoint of host 2's server session";
        windowFrom = enrollment->record.time + epoch * enrollment->record.epochMillis;
        checkpointAt = chain.at(index).time;
        const std::string who = chain[0].opening->module + "-" + std::to_string(chain[0].opening->pid) + "-";
        const std::uint64_t first = chain.at(index).first;
        for (const std::string& line : host2) {
            const auto seal = seal::readSeal(line);
            const std::size_t at = line.find(who);
            const bool before = seal ? line.find(server) != std::string::npos && seal->record.index < index
                                     : at != std::string::npos && std::stoull(line.substr(at + who.size())) < first;
            if (!before) rotated.push_back(line);
        }
    }
    Lines replayed = host2;
    std::copy_if(host2.begin(), host2.end(), std::back_inserter(replayed), ofChild);
    // The sessions on the host whose agent was killed that opened without it.
    int unattested = 0;
    for (const std::string& line : logged(gHosts + 2))
        if (const auto read = seal::readSeal(line); read && read->record.opening)
            unattested += !read->record.opening->attestation;
    // Each attack: host 2's files as the attack leaves them (none: deleted),
    // or the files of a host that --attack-hosts adds, registered too.
    const struct {
        const char* attack;
        int host;
        Lines lines;
        std::string verdict;
        std::uint64_t from = 0;
    } attacks[] = {
        {"the collector fabricates a session for host 2 (a real attestation moved onto it)", 2, fabricated,
         "incomplete, failed 1"},
        {"whoever takes host 2 at the end makes a session dated in its epoch: it holds", 2,
         withChildCopy(taken, takenKey, takenEpochStart + 1), "complete"},
        {"whoever takes host 2 at the end makes a session dated before its epoch: its attestation fails", 2,
         withChildCopy(taken, takenKey, takenEpochStart - 1), "incomplete, failed 1"},
        {"the user nobody runs a sealed program under a server's module name: attested as that user and program",
         gHosts + 1, logged(gHosts + 1), "complete, attested as 65534 running quorvel-emit 1"},
        {"the collector deletes a forked child's session whole", 2, without(ofChild),
         "incomplete; " + hostName(2) + ": missing " + childNumber + ".." + childNumber},
        {"the collector cuts a server session's tail with its end seal", 2, without([&](const std::string& l) {
             return l.find(server) != std::string::npos && l.find(" end=1 ") != std::string::npos;
         }),
         "incomplete, " + tailWords(seals.at(server).back().tags.size()) + "not closed 1, unanchored 1"},
        {"host 2 taken at a named seal: the seal made again over events of the taker's own", 2, resealed,
         "incomplete, unanchored 1"},
        {"the collector replays a forked child's session at the end: a copy of a seal counts once", 2, replayed,
         "complete, resent " + std::to_string(seals.at(child)[1].tags.size())},
        {"the agent killed on a host during the run", gHosts + 2, logged(gHosts + 2),
         "incomplete, unattested " + std::to_string(unattested) + "; " + hostName(gHosts + 2) + ": stopped"},
        {"every file of host 2 deleted", 2, {}, "incomplete; " + hostName(2) + ": no ledger stopped"},
        {"a server session's opening rotated away: its checkpoint verifies the rest, the ledger names the opening", 2,
         rotated, "incomplete, checkpointed 1, unanchored 1"},
        {"the same audited as a window from that checkpoint on", 2, rotated, "complete, checkpointed 1",
         std::max(windowFrom, checkpointAt)},
        {"the same from the start of that epoch: what the session logged before the checkpoint could be gone", 2,
         rotated,
         windowFrom < checkpointAt ? "incomplete, checkpoint late 1, checkpointed 1" : "complete, checkpointed 1",
         windowFrom},
    };
    for (const auto& a : attacks) {
        Collection collection = untouched;
        collection[a.host] = a.lines;
        if (a.lines.empty()) collection.erase(a.host);
        EXPECT_EQ(words(verified(collection, a.host > gHosts ? a.host : 0, a.from)), a.verdict) << a.attack;
    }
}

// Skipped (77) with `why`, or failed where every test is required to run.
int cannotRunHere(std::string why) {
    while (!why.empty() && why.back() == '\n')
        why.pop_back();
    const bool required = quorvel_test::allTestsRequired();
    std::printf("%s: %s\n", required ? "failed (QUORVEL_REQUIRE_ALL_TESTS)" : "skipped", why.c_str());
    return required ? 1 : 77;
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 3 || (gHosts = std::atoi(argv[1])) < 2 || std::atoi(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: fleet_test HOSTS(2 or more) SECONDS [gtest options]\n");
        return 2;
    }
    if (geteuid() != 0) return cannotRunHere("the fleet needs root (network, PID and mount namespaces)");
    // Readable by the user nobody, who runs a program on an attack host.
    char parent[] = "/tmp/quorvel-fleet-test-XXXXXX";
    if (mkdtemp(parent) == nullptr || chmod(parent, 0755) != 0) return 1;
    gWork = std::string(parent) + "/fleet";
    gRun = quorvel_test::runProcess({QUORVEL_FLEET_RUN, QUORVEL_BUILD_DIR, "--hosts", argv[1], "--seconds", argv[2],
                                     "--work", gWork, "--attack-hosts"},
                                    ".", {}, std::chrono::seconds(600));
    std::error_code ignored;
    if (gRun.status == 77) {
        std::filesystem::remove_all(parent, ignored);
        return cannotRunHere(gRun.err);
    }
    const int status = RUN_ALL_TESTS();
    if (status == 0) std::filesystem::remove_all(parent, ignored);
    if (status != 0) std::printf("fleet files kept in %s\n", parent);
    return status;
}
