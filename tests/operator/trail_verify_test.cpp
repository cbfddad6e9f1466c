// A sealed trail attacked line by line: a host logs numbered CEF events with
// sealing on into a real file through log4cxx, forks a child that logs a
// session of its own, and quorvel-verify reads the file after each tampering.
// Every attack gets its verdict, and the untouched file gets none.
#include "child_process.h"
#include "file_text.h"
#include "logging/seal_record.h"
#include "temp_dir.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

namespace seal = quorvel::seal;
using Lines = std::vector<std::string>;
using quorvel_test::TempDir;

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

// The seal line of the parent's session with index `index`.
std::size_t parentSeal(const Lines& lines, std::uint64_t index) {
    const std::string parent = seal::toBase64(seal::readSeal(lines[indexOf(lines, "index=0 ")])->record.session);
    return indexOf(lines, "session=" + parent + " index=" + std::to_string(index) + " ");
}

// What the verifier says, summed over the sessions.
struct Verdict {
    bool complete = true;
    int missing = 0, uncovered = 0, unverifiable = 0, lostSeals = 0, failedMacs = 0, duplicates = 0, reordered = 0,
        cutShort = 0, unopened = 0;
    // An expected `unverifiable` of -1 stands for any number.
    bool operator==(const Verdict& o) const {
        return std::tie(complete, missing, uncovered, lostSeals, failedMacs, duplicates, reordered, cutShort,
                        unopened) == std::tie(o.complete, o.missing, o.uncovered, o.lostSeals, o.failedMacs,
                                              o.duplicates, o.reordered, o.cutShort, o.unopened) &&
               (unverifiable == o.unverifiable || unverifiable == -1 || o.unverifiable == -1);
    }
};

void PrintTo(const Verdict& v, std::ostream* out) {
    *out << "complete " << v.complete << " missing " << v.missing << " uncovered " << v.uncovered << " unverifiable "
         << v.unverifiable << " lostSeals " << v.lostSeals << " failedMacs " << v.failedMacs << " duplicates "
         << v.duplicates << " reordered " << v.reordered << " cutShort " << v.cutShort << " unopened " << v.unopened;
}

Verdict verify(const Trail& made, const Lines& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    const std::string file = made.dir.write("tampered.log", text);
    // The collection ends ten minutes after the host: a session without its
    // closing seal is cut short by then.
    const auto result = quorvel_test::runProcess(
        {QUORVEL_VERIFY, "--key", made.dir.file("auditor.key"), "--json", "-", "--at", "9999999999999", file});
    EXPECT_EQ(result.status == 0, nlohmann::json::parse(result.out).value("complete", false)) << result.out;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    Verdict verdict;
    verdict.complete = report["complete"];
    verdict.uncovered = static_cast<int>(report["uncovered"].size());
    verdict.unverifiable = static_cast<int>(report["unverifiable"].size());
    for (const auto& session : report["sessions"]) {
        verdict.missing += static_cast<int>(session["missing"].size());
        verdict.lostSeals += static_cast<int>(session["lostSeals"].size());
        verdict.failedMacs += static_cast<int>(session["failedMacs"].size());
        verdict.duplicates += session["duplicates"].get<int>();
        verdict.reordered += session["reordered"].get<int>();
        verdict.cutShort += session["cutShort"].get<bool>();
        verdict.unopened += !session["opened"].get<bool>();
    }
    return verdict;
}

// Re-makes the parent's seal 2 with the MAC key of seal 3, as someone who
// took the host over at seal 3 could.
Lines resealWithLaterKey(Lines lines) {
    const auto opening = seal::readSeal(lines[parentSeal(lines, 0)]);
    const std::string secret = quorvel_test::lines(quorvel_test::readFile(trail("main").dir.file("auditor.key"))).at(0);
    const auto secretKey = seal::fromBase64<32>(secret);
    auto key = seal::decryptAsAuditor(opening->record.opening->key, seal::publicKeyOf(*secretKey), *secretKey);
    for (int i = 0; i < 3; ++i)
        key = seal::nextSealKey(*key);
    const std::size_t at = parentSeal(lines, 2);
    lines[at] = seal::writeSeal(seal::readSeal(lines[at])->record, seal::sealKeysOf(*key).mac);
    return lines;
}

int countOf(const std::string& sealLine) { return static_cast<int>(seal::readSeal(sealLine)->record.tags.size()); }

struct Attack {
    const char* name;
    std::function<Lines(Lines)> apply;
    std::function<Verdict(const Lines&)> expected; // from the untouched lines
};

void PrintTo(const Attack& attack, std::ostream* out) { *out << attack.name; }

class TrailVerify : public testing::TestWithParam<Attack> {};

TEST_P(TrailVerify, EveryAttackGetsItsVerdict) {
    ASSERT_TRUE(seal::cryptoReady());
    const Lines& untouched = trail("main").lines;
    EXPECT_EQ(verify(trail("main"), GetParam().apply(untouched)), GetParam().expected(untouched));
}

Lines without(Lines lines, std::size_t at) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    return lines;
}

const Attack kAttacks[] = {
    {"Untouched", [](Lines l) { return l; }, [](const Lines&) { return Verdict{}; }},
    {"DeleteOneLine", [](Lines l) { return without(l, indexOf(l, "cs1=p-10 ")); },
     [](const Lines&) {
         return Verdict{false, 1};
     }},
    {"ChangeOneByte",
     [](Lines l) {
         l[indexOf(l, "cs1=p-12 ")].back() = 'X';
         return l;
     },
     [](const Lines&) {
         return Verdict{false, 1, 1};
     }},
    {"InsertForgedLine",
     [](Lines l) {
         const std::size_t at = indexOf(l, "cs1=p-14 ");
         l.insert(l.begin() + static_cast<std::ptrdiff_t>(at), "CEF:0||||100||4|rt=1 dtz=UTC spt=0 cs1=p-forged ");
         return l;
     },
     [](const Lines&) {
         return Verdict{false, 0, 1};
     }},
    {"SwapTwoLines",
     [](Lines l) {
         std::swap(l[indexOf(l, "cs1=p-5 ")], l[indexOf(l, "cs1=p-6 ")]);
         return l;
     },
     [](const Lines&) { return Verdict{true, 0, 0, 0, 0, 0, 0, 1}; }},
    {"DuplicateLine",
     [](Lines l) {
         l.insert(l.begin() + static_cast<std::ptrdiff_t>(indexOf(l, "cs1=p-17 ")), l[indexOf(l, "cs1=p-17 ")]);
         return l;
     },
     [](const Lines&) { return Verdict{true, 0, 0, 0, 0, 0, 1}; }},
    {"DeleteSeal", [](Lines l) { return without(l, parentSeal(l, 2)); },
     [](const Lines& l) {
         return Verdict{false, 0, 0, countOf(l[parentSeal(l, 2)]), 1};
     }},
    {"CutTheTail",
     [](Lines l) {
         // The parent's last events and its closing seal; the lines before
         // them whose seal went with them cannot be verified.
         l.erase(l.begin() + static_cast<std::ptrdiff_t>(indexOf(l, "cs1=p-30 ")), l.end());
         return l;
     },
     [](const Lines&) { return Verdict{false, 0, 0, -1, 0, 0, 0, 0, 1}; }},
    {"ReplaySealOfAnotherSession",
     [](Lines l) {
         const Lines& other = trail("other").lines;
         l.insert(l.begin() + 3, other[indexOf(other, "index=1 ")]);
         return l;
     },
     [](const Lines&) { return Verdict{false, 0, 0, 0, 0, 0, 0, 0, 0, 1}; }},
    {"ResealWithLaterKey", resealWithLaterKey,
     [](const Lines& l) { return Verdict{false, 0, 0, countOf(l[parentSeal(l, 2)]), 1, 1}; }},
    {"StartOverWithoutOpeningSeal", [](Lines l) { return without(l, parentSeal(l, 0)); },
     [](const Lines&) { return Verdict{false, 0, 0, 40, 0, 0, 0, 0, 0, 1}; }},
};

INSTANTIATE_TEST_SUITE_P(Attacks, TrailVerify, testing::ValuesIn(kAttacks),
                         [](const testing::TestParamInfo<Attack>& info) { return info.param.name; });

} // namespace
