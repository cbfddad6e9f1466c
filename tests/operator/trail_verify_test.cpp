// A sealed trail attacked line by line: a host logs numbered CEF events with
// sealing on into a real file through log4cxx, forks a child that logs a
// session of its own, and quorvel-verify reads the file after each attack,
// with only what whoever writes a collector's file has (the auditor's public
// key among it), or a key taken from the host later. Every attack gets its
// verdict, every loss is named as loss, and the untouched file gets none.
#include "child_process.h"
#include "file_text.h"
#include "taken_keys.h"
#include "temp_dir.h"
#include "trail/seal_record.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace seal = quorvel::seal;
using Lines = std::vector<std::string>;
using quorvel_test::TempDir;

// A value a user chooses, logged like any other: it must not break the trail.
const std::string kSealLikeValue = "mallory quorvel-seal v=1 x";

// Logs `events` CEF events numbered "p-N" (and, in a forked child, `forked`
// numbered "c-N") with sealing on into `dir`/audit.log, a seal every 5 lines
// (the host pauses after every fifth event, so that the library's thread
// seals them before it goes on); both processes exit normally.
void runSealedHost(const TempDir& dir, const std::string& auditorKey, int events, int forked) {
    const std::string properties =
        dir.write("host.properties", "log4j.rootLogger=INFO, FILE\n"
                                     "log4j.appender.FILE=org.apache.log4j.FileAppender\n"
                                     "log4j.appender.FILE.File=" +
                                         dir.file("audit.log") +
                                         "\nlog4j.appender.FILE.layout=org.apache.log4j.PatternLayout\n"
                                         "log4j.appender.FILE.layout.ConversionPattern=%m%n\n"
                                         "quorvel.seal=on\nquorvel.seal.lines=5\nquorvel.seal.auditorKey=" +
                                         auditorKey + "\n");
    const auto log = [](const char* prefix, int from, int to) {
        for (int n = from; n < to; ++n) {
            CEF_EVENT event;
            event.setSignatureID("100");
            event.setSeverity(4);
            event.setCs1(prefix + std::to_string(n));
            if (n == 7) event.setSourceUserName(kSealLikeValue);
            event.CEF_Log("audit");
            if (n % 5 == 4) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    quorvel_test::Child host([&] {
        if (initSyslog(properties, "host") != 0) _exit(3);
        log("p-", 0, events / 2);
        if (forked > 0 && fork() == 0) {
            log("c-", 0, forked);
            std::exit(0);
        }
        int status = 0;
        wait(&status);
        log("p-", events / 2, events);
        std::exit(0);
    });
    ASSERT_TRUE(host.waitUntil(quorvel_test::Clock::now() + std::chrono::seconds(60)));
    ASSERT_EQ(host.exitStatus(), 0);
}

struct Trail {
    TempDir dir{"trail"};
    std::string auditorKey; // its public half
    Lines lines;
};

// A trail of 40 parent and 10 child events, and the auditor's keys for it.
const Trail& trail(const char* name) {
    static std::map<std::string, Trail> trails;
    Trail& made = trails[name];
    if (!made.lines.empty()) return made;
    const auto keygen = quorvel_test::runProcess(
        {QUORVEL_VERIFY, "keygen", made.dir.file("auditor.pub"), made.dir.file("auditor.key")});
    EXPECT_EQ(keygen.status, 0) << keygen.err;
    made.auditorKey = quorvel_test::lines(quorvel_test::readFile(made.dir.file("auditor.pub"))).at(0);
    runSealedHost(made.dir, made.auditorKey, 40, 10);
    made.lines = quorvel_test::lines(quorvel_test::readFile(made.dir.file("audit.log")));
    return made;
}

std::size_t indexOf(const Lines& lines, const std::string& text) {
    const auto at = std::find_if(lines.begin(), lines.end(),
                                 [&](const std::string& line) { return line.find(text) != std::string::npos; });
    EXPECT_NE(at, lines.end()) << text;
    return static_cast<std::size_t>(at - lines.begin());
}

seal::SealRecord recordAt(const Lines& lines, std::size_t at) { return seal::readSeal(lines.at(at))->record; }

// The seal line of the parent's session with index `index`; its last seal
// with -1.
std::size_t parentSeal(const Lines& lines, long index) {
    const std::string parent = "session=" + seal::toBase64(recordAt(lines, indexOf(lines, "index=0 ")).session);
    if (index >= 0) return indexOf(lines, parent + " index=" + std::to_string(index) + " ");
    std::size_t last = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(parent) != std::string::npos) last = i;
    return last;
}

int countOf(const std::string& sealLine) { return static_cast<int>(seal::readSeal(sealLine)->record.tags.size()); }

// The key of the parent's seal `index`, as whoever took the host over at
// that seal holds it.
seal::SealKey takenKey(const Lines& lines, std::uint64_t index) {
    const std::string secret = quorvel_test::lines(quorvel_test::readFile(trail("main").dir.file("auditor.key"))).at(0);
    return *quorvel_test::takenSealKey(recordAt(lines, parentSeal(lines, 0)), *seal::fromBase64<32>(secret), index);
}

// Makes the parent's seal `index` again with `change` applied and the key of
// seal `keyIndex`.
Lines reseal(Lines lines, std::uint64_t index, std::uint64_t keyIndex,
             const std::function<void(seal::SealRecord&)>& change) {
    const std::size_t at = parentSeal(lines, static_cast<long>(index));
    seal::SealRecord record = recordAt(lines, at);
    change(record);
    lines[at] = seal::writeSeal(record, seal::sealKeysOf(takenKey(lines, keyIndex)).mac);
    return lines;
}

// A session of the forger's own, opened with the auditor's public key (which
// every host's properties file holds) under `id`: an opening naming `host`,
// then a seal for each of `sealed`, vouching for its lines or, `spoiled`,
// carrying their locators with tags that fit none of them.
Lines sealsOf(const seal::SessionId& id, const std::string& host, const std::vector<Lines>& sealed,
              bool spoiled = false) {
    const auto auditor = seal::fromBase64<32>(trail("main").auditorKey);
    seal::SealKey key = seal::randomSealKey();
    seal::SealRecord record;
    record.session = id;
    record.time = 1700000000000;
    record.opening = seal::SessionOpening{
        host, "server", 1, sealed.front().size(), 1000, 60000, seal::encryptForAuditor(key, *auditor), std::nullopt};
    Lines seals = {seal::writeSeal(record, seal::sealKeysOf(key).mac)};
    record.opening.reset();
    for (const Lines& lines : sealed) {
        key = seal::nextSealKey(key);
        record.first += record.tags.size();
        ++record.index;
        record.end = &lines == &sealed.back();
        record.tags.clear();
        record.locators.clear();
        for (const std::string& line : lines) {
            record.tags.push_back(seal::tagOf(seal::sealKeysOf(key).tag, line));
            record.tags.back()[0] ^= spoiled;
            record.locators.push_back(seal::locatorOf(line));
        }
        seals.push_back(seal::writeSeal(record, seal::sealKeysOf(key).mac));
    }
    return seals;
}

Lines forgedSession(const seal::SessionId& id, const std::string& host, const std::string& forged) {
    const Lines seals = sealsOf(id, host, {{forged}});
    return {seals[0], forged, seals[1]};
}

const std::string kForged = "CEF:0|Acme|Bank|1.0|100|Login|4|suser=root outcome=success ";

Lines withInserted(Lines lines, std::size_t at, const Lines& inserted) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
    return lines;
}

// The seals in a file of their own, given before the events' file.
Lines sealsFirst(const Lines& lines) {
    Lines seals, events;
    for (const std::string& line : lines)
        (line.rfind("quorvel-seal ", 0) == 0 ? seals : events).push_back(line);
    seals.insert(seals.end(), events.begin(), events.end());
    return seals;
}

Lines without(Lines lines, std::size_t at) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    return lines;
}

// What the verifier says, as counts summed over the sessions; absent: 0.
using Counts = std::map<std::string, int>;

Counts counts(Counts c) {
    for (auto at = c.begin(); at != c.end();)
        at = at->second == 0 ? c.erase(at) : std::next(at);
    return c;
}

Counts countsOf(const nlohmann::json& report) {
    Counts tally;
    for (const auto& stray : report["strays"])
        ++tally["lines:" + stray["kind"].get<std::string>()];
    for (const auto& session : report["sessions"]) {
        ++tally[session["state"].get<std::string>()];
        for (const char* list : {"missing", "gaps", "failedMacs", "torn", "foreignHost"})
            tally[list] += static_cast<int>(session[list].size());
        for (const auto& fault : session["faults"])
            ++tally[fault["kind"].get<std::string>()];
        for (const auto& duplicate : session["duplicates"]) {
            // One file: a copy's original lies before it.
            const int original = duplicate["original"]["line"].get<int>();
            if (original < 1 || original >= duplicate["place"]["line"].get<int>())
                ++tally["copies without their original"];
            else
                ++tally[duplicate["replayed"].get<bool>() ? "replayed" : "resends"];
        }
        tally["reordered"] += session["reordered"].get<int>();
        tally["cutShort"] += session["cutShort"].get<bool>();
        tally["uncheckedSeals"] += session["uncheckedSeals"].get<int>();
    }
    tally["complete"] = report["complete"].get<bool>();
    return counts(tally);
}

// Runs quorvel-verify on `lines` as one file, for JSON and for people: both
// must agree with the exit status, and the report for people holds exactly
// one result line, its last.
Counts verify(const Trail& made, const Lines& lines, const std::vector<std::string>& options) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    const std::string file = made.dir.write("attacked.log", text);
    // The collection ends long after the host: a session without its
    // closing seal is cut short by then.
    std::vector<std::string> command = {QUORVEL_VERIFY, "--key", made.dir.file("auditor.key"), "--at", "9999999999999"};
    command.insert(command.end(), options.begin(), options.end());
    command.push_back(file);
    std::vector<std::string> json = command;
    json.insert(json.begin() + 1, {"--json", "-"});
    const auto forPeople = quorvel_test::runProcess(command);
    const auto result = quorvel_test::runProcess(json);
    const nlohmann::json report = nlohmann::json::parse(result.out); // throws on invalid UTF-8
    const Lines reportLines = quorvel_test::lines(forPeople.out);
    EXPECT_EQ(std::count_if(reportLines.begin(), reportLines.end(),
                            [](const std::string& line) { return line.rfind("result:", 0) == 0; }),
              1)
        << forPeople.out;
    EXPECT_EQ(reportLines.back(), forPeople.status == 0 ? "result: every event is accounted for"
                                                        : "result: NOT every event is accounted for")
        << forPeople.out;
    EXPECT_EQ(result.status, forPeople.status);
    EXPECT_EQ(result.status == 0, report.value("complete", false)) << result.out;
    return countsOf(report);
}

struct Attack {
    const char* name;
    std::function<Lines(const Lines&)> apply;
    std::function<Counts(const Lines&)> expected; // from the untouched lines
    std::vector<std::string> options = {};
};

void PrintTo(const Attack& attack, std::ostream* out) { *out << attack.name; }

class TrailVerify : public testing::TestWithParam<Attack> {};

TEST_P(TrailVerify, EveryAttackGetsItsVerdict) {
    ASSERT_TRUE(seal::cryptoReady());
    const Lines& untouched = trail("main").lines;
    EXPECT_EQ(verify(trail("main"), GetParam().apply(untouched), GetParam().options), GetParam().expected(untouched));
}

// Both sessions opened; what each attack adds to that.
Counts intact(Counts more) {
    more["opened"] += 2;
    return counts(more);
}

const Attack kAttacks[] = {
    {"Untouched", [](Lines l) { return l; },
     [](const Lines&) {
         return intact({{"complete", 1}});
     }},
    {"SealsInAFileOfTheirOwn", sealsFirst,
     [](const Lines&) {
         return intact({{"complete", 1}});
     }},
    {"EventsInAFileOfTheirOwnAfterSealsLeft",
     sealsFirst,
     [](const Lines&) {
         return intact({{"complete", 1}});
     },
     {"--seal-window", "1"}},
    {"LineLongAfterItsSeal",
     [](Lines l) {
         const std::string moved = l[indexOf(l, "cs1=p-3 ")];
         return withInserted(without(l, indexOf(l, "cs1=p-3 ")), l.size() - 1, {moved});
     },
     [](const Lines&) {
         return intact({{"complete", 1}, {"reordered", 1}});
     },
     {"--seal-window", "2", "--resend-window", "3"}},
    {"SessionsInterleavedByACollector",
     [](const Lines& l) {
         // The child's lines spread evenly among the parent's, each
         // session's own order kept.
         const std::size_t parentOpening = indexOf(l, "index=0 ");
         const Lines after(l.begin() + static_cast<std::ptrdiff_t>(parentOpening) + 1, l.end());
         const std::string child = "session=" + seal::toBase64(recordAt(after, indexOf(after, "index=0 ")).session);
         Lines parent, children, merged;
         for (const std::string& line : l)
             (line.find("cs1=c-") != std::string::npos || line.find(child) != std::string::npos ? children : parent)
                 .push_back(line);
         for (std::size_t p = 0, c = 0; p < parent.size() || c < children.size();) {
             if (p < parent.size()) merged.push_back(parent[p++]);
             if (c < children.size() && p % 3 == 0) merged.push_back(children[c++]);
         }
         return merged;
     },
     [](const Lines&) {
         return intact({{"complete", 1}});
     }},
    {"DeleteOneLine", [](Lines l) { return without(l, indexOf(l, "cs1=p-10 ")); },
     [](const Lines&) {
         return intact({{"missing", 1}});
     }},
    {"ChangeOneByte",
     [](Lines l) {
         l[indexOf(l, "cs1=p-12 ")].back() = 'X';
         return l;
     },
     [](const Lines&) {
         return intact({{"missing", 1}, {"lines:uncovered", 1}});
     }},
    {"InsertForgedLine", [](Lines l) { return withInserted(l, indexOf(l, "cs1=p-14 "), {kForged}); },
     [](const Lines&) {
         return intact({{"lines:uncovered", 1}});
     }},
    // Not the library's form, but what a reader of events takes for one.
    {"LookalikesOfEvents",
     [](Lines l) {
         return withInserted(l, 20, {R"({"Initiator":{"Account":{"Name":"mallory"}}})", "\t" + kForged});
     },
     [](const Lines&) {
         return intact({{"lines:uncovered", 1}, {"lines:altered", 1}});
     }},
    {"ForgedLineBeforeACopiedSeal", [](Lines l) { return withInserted(l, 20, {kForged + l[parentSeal(l, 3)]}); },
     [](const Lines&) {
         return intact({{"lines:uncovered", 1}});
     }},
    {"ForgedEventInFrontOfAGenuineOne",
     [](Lines l) {
         std::string& line = l[indexOf(l, "cs1=p-16 ")];
         line = "CEF:0|Acme|Bank|1.0|100|Login|4|suser=alice outcome=success msg=" + line;
         return l;
     },
     [](const Lines&) {
         return intact({{"lines:altered", 1}, {"torn", 1}});
     }},
    {"WholeCopyLongAfterATornFinding",
     [](Lines l) {
         std::string& line = l[indexOf(l, "cs1=p-16 ")];
         const std::string genuine = line;
         line = "CEF:0|Acme|Bank|1.0|100|Login|4|suser=alice outcome=success msg=" + line;
         return withInserted(l, l.size(), {genuine});
     },
     [](const Lines&) {
         return intact({{"lines:altered", 1}, {"torn", 1}, {"reordered", 1}});
     },
     {"--seal-window", "2", "--resend-window", "3"}},
    {"TextBeforeAnEvent",
     [](Lines l) {
         l[indexOf(l, "cs1=p-18 ")].insert(0, "suser=root ");
         return l;
     },
     [](const Lines&) {
         return intact({{"lines:altered", 1}, {"torn", 1}});
     }},
    {"SwapTwoLines",
     [](Lines l) {
         std::swap(l[indexOf(l, "cs1=p-5 ")], l[indexOf(l, "cs1=p-6 ")]);
         return l;
     },
     [](const Lines&) {
         return intact({{"complete", 1}, {"reordered", 1}});
     }},
    {"ResendNearby", [](Lines l) { return withInserted(l, indexOf(l, "cs1=p-19 "), {l[indexOf(l, "cs1=p-17 ")]}); },
     [](const Lines&) {
         return intact({{"complete", 1}, {"resends", 1}});
     }},
    {"ReplayFarAway",
     [](Lines l) { return withInserted(l, l.size(), Lines(5, l[indexOf(l, "cs1=p-2 ")])); },
     [](const Lines&) {
         return intact({{"replayed", 5}});
     },
     {"--resend-window", "10"}},
    {"LoseOneSeal", [](Lines l) { return without(l, parentSeal(l, 2)); },
     [](const Lines& l) {
         return intact({{"gaps", 1}, {"lines:lostSeal", countOf(l[parentSeal(l, 2)])}});
     }},
    {"LoseTheLastSeals",
     [](Lines l) {
         // The closing seal and the one before it, which covers the last lines.
         l = without(l, parentSeal(l, -1));
         return without(l, parentSeal(l, -1));
     },
     [](const Lines& l) {
         const int tail = countOf(l[parentSeal(l, -1)]) + countOf(l[parentSeal(without(l, parentSeal(l, -1)), -1)]);
         return intact({{"cutShort", 1}, {"lines:openTail", tail}});
     }},
    {"CutTheTail",
     [](Lines l) {
         // The parent's last events and seals: lines whose seal went with
         // them are its open tail, at most one seal's worth.
         l.erase(l.begin() + static_cast<std::ptrdiff_t>(indexOf(l, "cs1=p-30 ")), l.end());
         return l;
     },
     [](const Lines& l) {
         const std::size_t cut = indexOf(l, "cs1=p-30 ");
         int strays = 0;
         for (std::size_t i = 0; i < cut; ++i)
             strays += l[i].rfind("CEF:", 0) == 0;
         for (std::size_t i = 0; i < cut; ++i)
             if (l[i].find("session=" + seal::toBase64(recordAt(l, parentSeal(l, 0)).session)) != std::string::npos)
                 strays -= countOf(l[i]);
         strays -= 10; // the child's
         return intact({{"cutShort", 1}, {"lines:openTail", strays}});
     }},
    {"ReplaySealOfAnotherSession",
     [](Lines l) {
         const Lines& other = trail("other").lines;
         return withInserted(l, 3, {other[indexOf(other, "index=1 ")]});
     },
     [](const Lines&) {
         return intact({{"unopened", 1}});
     }},
    {"StartOverWithoutOpeningSeal", [](Lines l) { return without(l, parentSeal(l, 0)); },
     [](const Lines&) {
         return counts({{"opened", 1}, {"unopened", 1}, {"lines:unopened", 40}});
     }},
    {"JunkSealDoesNotExplainALaterForgery",
     [](Lines l) {
         seal::SealRecord junk = recordAt(l, parentSeal(l, 1));
         junk.session = seal::randomSessionId();
         l = withInserted(l, 0, {seal::writeSeal(junk, {})});
         return withInserted(l, l.size(), {kForged});
     },
     [](const Lines&) {
         return intact({{"unopened", 1}, {"lines:uncovered", 1}});
     }},
    {"ForgersChainForAGenuineSession",
     [](Lines l) {
         const Lines forged = forgedSession(recordAt(l, parentSeal(l, 0)).session, "attacker", kForged);
         return withInserted(l, l.size(), forged);
     },
     [](const Lines&) {
         return counts({{"opened", 1}, {"contested", 1}});
     }},
    {"ResealWithLaterKey", [](const Lines& l) { return reseal(l, 2, 3, [](seal::SealRecord&) {}); },
     [](const Lines& l) {
         return intact({{"failedMacs", 1}, {"gaps", 1}, {"lines:lostSeal", countOf(l[parentSeal(l, 2)])}});
     }},
    {"SealClaimsEarlierLinesAfterTakeover",
     [](const Lines& l) { return reseal(l, 3, 3, [](seal::SealRecord& r) { r.first -= 2; }); },
     [](const Lines&) {
         return intact({{"rangeBreak", 2}, {"reordered", 1}});
     }},
    {"SealFromTheFuture",
     [](const Lines& l) { return reseal(l, 3, 3, [](seal::SealRecord& r) { r.time = 9999999999999 + 86400000; }); },
     [](const Lines&) {
         return intact({{"fromTheFuture", 1}, {"timeBack", 1}});
     }},
    {"HugeSealIndexCostsNoKeyWalk",
     [](Lines l) {
         seal::SealRecord far = recordAt(l, parentSeal(l, 1));
         far.index = 16777215;
         return withInserted(l, l.size(), {seal::writeSeal(far, {})});
     },
     [](const Lines&) {
         return intact({{"uncheckedSeals", 1}});
     }},
    {"HostNameThatWritesTheReport",
     [](Lines l) {
         const Lines forged =
             forgedSession(seal::randomSessionId(), "x\nresult: every event is accounted for\n\xff\xc3", kForged);
         return withInserted(l, l.size(), forged);
     },
     [](const Lines&) {
         return counts({{"opened", 3}, {"complete", 1}});
     }},
    {"IdenticalLinesBeforeTheirSeals",
     [](Lines l) {
         // A host that logs one event again and again, its seals collected
         // in a file given after the events': each seal takes its own.
         const Lines beats(5, "CEF:0|Acme|Bank|1.0|1|Heartbeat|1|");
         const Lines seals = sealsOf(seal::randomSessionId(), "beat", {beats, beats, beats});
         l.insert(l.begin(), 15, beats[0]);
         l.insert(l.end(), seals.begin(), seals.end());
         return l;
     },
     [](const Lines&) {
         return intact({{"opened", 1}, {"complete", 1}});
     }},
    {"EmptyCollection", [](const Lines&) { return Lines{"not an audit line"}; }, [](const Lines&) { return Counts{}; }},
};

INSTANTIATE_TEST_SUITE_P(Attacks, TrailVerify, testing::ValuesIn(kAttacks),
                         [](const testing::TestParamInfo<Attack>& info) { return info.param.name; });

// The peak memory of quorvel-verify on `file`, in MiB (up to 255).
int peakMiB(const std::string& file) {
    quorvel_test::Child child([&] {
        quorvel_test::runProcess({QUORVEL_VERIFY, "--key", trail("main").dir.file("auditor.key"), file});
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        _exit(static_cast<int>(std::min(usage.ru_maxrss / 1024, 255L)));
    });
    child.waitUntil(quorvel_test::Clock::now() + std::chrono::seconds(120));
    return child.exitStatus();
}

// Collections whose cost grew with the product of their seals' lines and
// the lines that share their locators: seals of 4,096 lines, all with the
// locator of the 20,000 lines before them and none with their tag. Each
// gets its verdict, well within the time runProcess allows and in bounded
// memory.
TEST(TrailVerifyCost, IdenticalLocatorsCostEachLineABoundedSearch) {
    const Lines same(4096, "CEF:same");
    for (const int seals : {1, 16}) {
        Lines lines(20000, same[0]);
        const Lines sealLines = sealsOf(seal::randomSessionId(), "evil", std::vector<Lines>(seals, same), true);
        lines.insert(lines.end(), sealLines.begin(), sealLines.end());
        EXPECT_EQ(verify(trail("main"), lines, {}),
                  counts({{"opened", 1}, {"missing", seals * 4096}, {"lines:uncovered", 20000}}))
            << seals << " seals";
        EXPECT_LT(peakMiB(trail("main").dir.file("attacked.log")), 200) << seals << " seals";
    }
}

} // namespace
