// The sealed session's ledger without threads, driven with times of the
// test's choosing: what each seal covers, when the next one falls due, and
// what a forked child's copy keeps; the session without its thread; and the
// settings that initialisation refuses because a seal could not be bounded
// as declared.
#include "capturing_appender.h"
#include "trail/seal_ledger.h"
#include "trail/seal_record.h"
#include "trail/seal_worker.h"

#include <log4cxx/file.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/propertyconfigurator.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

namespace seal = quorvel::seal;
using quorvel::SealLedger;
using Clock = SealLedger::Clock;
using std::chrono::milliseconds;

struct Auditor {
    Auditor() { seal::makeAuditorKeys(publicKey, secretKey); }
    seal::AuditorPublicKey publicKey;
    seal::AuditorSecretKey secretKey;
};

quorvel::SealSettings settingsFor(const Auditor& auditor, std::uint64_t lines = 3) {
    quorvel::SealSettings settings;
    settings.auditor = auditor.publicKey;
    settings.lines = lines;
    settings.millis = 100;
    settings.idleMillis = 1000;
    return settings;
}

// The opening covers no line; each seal then covers the lines logged since
// the one before, numbered on, each line tagged and the seal MACed with the
// keys of its index, which follow from the first key the auditor decrypts.
TEST(SealLedger, SealsCoverTheLinesSinceTheLastUnderTheKeysOfTheirIndex) {
    ASSERT_TRUE(seal::cryptoReady());
    const Auditor auditor;
    SealLedger ledger(settingsFor(auditor), "host-a", "server");
    const Clock::time_point t0 = Clock::now();
    ledger.begin(4242);
    std::vector<std::string> seals = {ledger.open(std::nullopt, t0, 1700000000000)};
    const std::vector<std::vector<std::string>> runs = {{}, {"CEF:0|a", "CEF:0|b"}, {"CEF:0|c"}, {}};
    for (std::size_t i = 1; i < runs.size(); ++i) {
        for (const std::string& line : runs[i])
            ledger.record(line, t0);
        seals.push_back(ledger.cut(i + 1 == runs.size(), t0, 1700000000001));
    }
    std::optional<seal::SealKey> key;
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < seals.size(); ++i, key = seal::nextSealKey(*key)) {
        const auto read = seal::readSeal(seals[i]);
        ASSERT_TRUE(read) << seals[i];
        const seal::SealRecord& record = read->record;
        ASSERT_EQ(record.opening.has_value(), i == 0) << seals[i];
        if (i == 0) key = seal::decryptAsAuditor(record.opening->key, auditor.publicKey, auditor.secretKey);
        ASSERT_TRUE(key);
        const seal::SealKeys keys = seal::sealKeysOf(*key);
        EXPECT_TRUE(seal::sameMac(seal::macOf(keys.mac, read->signedText), read->mac)) << seals[i];
        EXPECT_EQ(std::make_tuple(record.index, record.first, record.end), std::make_tuple(i, next, i == 3));
        ASSERT_EQ(record.tags.size(), runs[i].size()) << seals[i];
        for (std::size_t l = 0; l < runs[i].size(); ++l)
            EXPECT_EQ(std::make_pair(record.tags[l], record.locators[l]),
                      std::make_pair(seal::tagOf(keys.tag, runs[i][l]), seal::locatorOf(runs[i][l])));
        next += runs[i].size();
    }
}

// When the next seal falls due, after what happened since the last, with
// cadence numbers of any size.
TEST(SealLedger, NextSealFallsDueByCountByTimeOrWhenIdleNeverInThePast) {
    ASSERT_TRUE(seal::cryptoReady());
    const Auditor auditor;
    const Clock::time_point t0 = Clock::now();
    const Clock::time_point never = Clock::time_point::max();
    const struct {
        const char* what;
        std::uint64_t millis;
        std::uint64_t idleMillis;
        int lines; // logged 10 ms apart from t0 + 10 ms
        Clock::time_point due;
        Clock::time_point look; // when the thread looks again at t0 + 500 ms: within a period with no line
    } cases[] = {
        {"no line: idle time after the last seal", 100, 1000, 0, t0 + milliseconds(1000), t0 + milliseconds(600)},
        {"a line: its own time after the first", 100, 1000, 2, t0 + milliseconds(110), t0 + milliseconds(110)},
        {"the count reached: at once", 100, 1000, 3, Clock::time_point::min(), Clock::time_point::min()},
        {"a time beyond the clock: never", 10000000000000, 1000, 1, never, never},
        {"an idle time beyond the clock: never", 100, UINT64_MAX, 0, never, t0 + milliseconds(600)},
    };
    for (const auto& c : cases) {
        quorvel::SealSettings settings = settingsFor(auditor);
        settings.millis = c.millis;
        settings.idleMillis = c.idleMillis;
        SealLedger ledger(settings, "host-a", "server");
        ledger.begin(1);
        ledger.open(std::nullopt, t0, 0);
        for (int line = 1; line <= c.lines; ++line)
            ledger.record("CEF:0|" + std::to_string(line), t0 + milliseconds(10 * line));
        EXPECT_EQ(ledger.nextDue(), c.due) << c.what;
        EXPECT_EQ(ledger.nextLook(t0 + milliseconds(500)), c.look) << c.what;
    }
}

// A forked child's copy: nothing waiting, and a session of its own once it
// begins again, whose first seal covers only the child's line.
TEST(SealLedger, AForkedCopyForgetsItsParentsLinesAndOpensASessionOfItsOwn) {
    ASSERT_TRUE(seal::cryptoReady());
    const Auditor auditor;
    SealLedger ledger(settingsFor(auditor), "host-a", "server");
    const Clock::time_point t0 = Clock::now();
    ledger.begin(1);
    const auto parent = seal::readSeal(ledger.open(std::nullopt, t0, 0));
    ledger.record("CEF:0|parent", t0);
    ledger.forget();
    ledger.begin(2);
    const auto child = seal::readSeal(ledger.open(std::nullopt, t0, 0));
    ledger.record("CEF:0|child", t0);
    const auto first = seal::readSeal(ledger.cut(false, t0, 0));
    ASSERT_TRUE(parent && child && first);
    EXPECT_NE(child->record.session, parent->record.session);
    EXPECT_EQ(std::make_pair(first->record.first, first->record.tags.size()), std::make_pair(0ul, 1ul));
}

// A session whose thread is never started (open() is not called), its seals
// captured.
std::unique_ptr<quorvel::SealWorker> workerWithoutThread(const Auditor& auditor) {
    log4cxx::PropertyConfigurator::configure(log4cxx::File(quorvel_test::testDataPath("capture_all.properties")));
    quorvel::SealSettings settings = settingsFor(auditor);
    settings.logger = "seals";
    return std::make_unique<quorvel::SealWorker>(settings, "host-a", "server");
}

// A session whose thread never started (it could not be created): the
// logging calls cut every seal themselves, when the count is reached and when
// the first waiting line has waited its time, so that nothing goes unsealed.
TEST(SealWorker, WithoutItsThreadTheLoggingCallsCutEverySealThatFallsDue) {
    ASSERT_TRUE(seal::cryptoReady());
    const Auditor auditor;
    const std::unique_ptr<quorvel::SealWorker> worker = workerWithoutThread(auditor);
    for (const char* line : {"CEF:0|a", "CEF:0|b", "CEF:0|c", "CEF:0|d"})
        worker->observe(line);
    std::this_thread::sleep_for(milliseconds(150)); // beyond `millis` and a coarse clock's tick
    worker->observe("CEF:0|e");
    std::vector<std::pair<std::uint64_t, std::size_t>> seals; // first line, lines covered
    for (const quorvel_test::CapturedLine& captured : quorvel_test::capturedLines())
        if (const auto read = seal::readSeal(captured.message))
            seals.emplace_back(read->record.first, read->record.tags.size());
    EXPECT_EQ(seals, (std::vector<std::pair<std::uint64_t, std::size_t>>{{0, 3}, {3, 2}}));
}

// After the last seal no key stays in memory; a line logged after it (an
// exit handler's, say) gets a session of its own, opened, sealed and closed
// at once, and its keys are erased again.
TEST(SealWorker, AfterTheLastSealNoKeyStaysAndALateLineIsSealedAlone) {
    ASSERT_TRUE(seal::cryptoReady());
    const Auditor auditor;
    const std::unique_ptr<quorvel::SealWorker> worker = workerWithoutThread(auditor);
    const auto erased = [&] {
        const seal::SealingKeys& keys = worker->keys();
        const auto zero = [](const auto& bytes) {
            return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; });
        };
        return zero(keys.key()) && zero(keys.tagKey()) && zero(keys.macKey());
    };
    worker->observe("CEF:0|a");
    worker->close();
    EXPECT_TRUE(erased());
    worker->observe("CEF:0|late");
    EXPECT_TRUE(erased());
    // (session, index, first, lines covered, end)
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t, std::size_t, bool>> seals;
    for (const quorvel_test::CapturedLine& captured : quorvel_test::capturedLines())
        if (const auto read = seal::readSeal(captured.message))
            seals.emplace_back(seal::toBase64(read->record.session), read->record.index, read->record.first,
                               read->record.tags.size(), read->record.end);
    ASSERT_EQ(seals.size(), 3u);
    const std::string first = std::get<0>(seals[0]), late = std::get<0>(seals[1]);
    EXPECT_NE(first, late);
    EXPECT_EQ(seals, (decltype(seals){{first, 1, 0, 1, true}, {late, 0, 0, 0, false}, {late, 1, 0, 1, true}}));
}

// Settings that cannot hold their promise are refused, naming the key that
// fails: a seal must fit the path's longest line, whatever the host's name
// and, with an agent, its attestation and a checkpoint; the agent is named by
// an absolute path, asked within a bound; a value is a whole number alone
// (a properties file has no comment after a value).
TEST(SealSettings, RefusesWhatNoSealCouldFitNamingTheKey) {
    ASSERT_TRUE(seal::cryptoReady());
    const Auditor auditor;
    const struct {
        const char* settings;
        std::string fault; // its start; empty: valid
    } cases[] = {
        {"", ""},
        {"quorvel.seal.lines=4097\nquorvel.seal.maxBytes=100000\n", "quorvel.seal.lines=4097: not a whole number"},
        {"quorvel.seal.lines=4096\n", "quorvel.seal.maxBytes=4096: the longest seal"},
        {"quorvel.seal.lines=4096\nquorvel.seal.maxBytes=49800\n", ""},
        {"quorvel.seal.lines=1\nquorvel.seal.maxBytes=500\n", "quorvel.seal.maxBytes=500: the longest seal"},
        {"quorvel.seal.idleMillis=10000000000000\n", ""},
        {"quorvel.seal.maxBytes=0\n", "quorvel.seal.maxBytes=0: not a whole number"},
        {"quorvel.seal.lines=256                # a seal at the latest\n", "quorvel.seal.lines=256   "},
        {"quorvel.seal.lines=1\nquorvel.seal.maxBytes=1024\n", ""},
        {"quorvel.seal.agent=on\nquorvel.seal.lines=1\nquorvel.seal.maxBytes=1024\n",
         "quorvel.seal.maxBytes=1024: the longest seal"}, // the attestation
        {"quorvel.seal.agent=on\nquorvel.seal.agentMillis=10000\n", ""},
        {"quorvel.seal.agent=on\nquorvel.seal.agentMillis=10001\n", "quorvel.seal.agentMillis=10001: not a whole"},
        {"quorvel.seal.agent=sealagent.sock\n", "quorvel.seal.agent=sealagent.sock: not off, on or an absolute path"},
        {"quorvel.seal.agent=/run/quorvel/sealagent.sock\n", ""},
        {"quorvel.seal.auditorKey=0V-Bw7\n", "quorvel.seal.auditorKey=0V-Bw7: not a public key"},
        {"quorvel.seal.checkpointMillis=0\n", "quorvel.seal.checkpointMillis=0: not a whole number"},
    };
    for (const auto& c : cases) {
        log4cxx::helpers::Properties properties;
        properties.setProperty(LOG4CXX_STR("quorvel.seal"), LOG4CXX_STR("on"));
        properties.setProperty(LOG4CXX_STR("quorvel.seal.auditorKey"), seal::toBase64(auditor.publicKey));
        std::istringstream lines(c.settings);
        for (std::string line; std::getline(lines, line);)
            properties.setProperty(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
        const quorvel::SealSetup setup = quorvel::readSealSetup(properties, "server");
        EXPECT_EQ(setup.valid, c.fault.empty()) << c.settings;
        EXPECT_EQ(setup.fault.substr(0, c.fault.size()), c.fault) << c.settings;
    }
}

} // namespace
