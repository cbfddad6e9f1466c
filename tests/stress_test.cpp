// Concurrency: eight threads log XDAS and CEF events under several loggers,
// sealed, while other threads initialise again and ask the probes. Every line
// must reach the appender whole and exactly once, and the seals must number
// every line once, in runs that follow one another, none longer than the
// cadence, and none sealed later than the cadence's time after it was logged
// (plus the slack a busy machine's scheduler takes).
#include "capturing_appender.h"
#include "cef_test_support.h"
#include "fake_resolver.h"
#include "file_text.h"
#include "trail/seal_record.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kLoggingThreads = 8;
constexpr int kEventsPerThread = 50000;
const char* const kLoggers[] = {"audit", "audit.login", "security", "security.cef.deep"};
constexpr int kLoggerCount = sizeof kLoggers / sizeof kLoggers[0];
const char* const kHostName = "stress.example";

// Even sequence numbers are CEF events, odd ones XDAS events.
bool isCef(int sequence) { return sequence % 2 == 0; }
const char* loggerOf(int thread, int sequence) { return kLoggers[(thread + sequence) % kLoggerCount]; }
std::string userOf(int thread, int sequence) {
    return "user-" + std::to_string(thread) + "-" + std::to_string(sequence);
}

// The line each event must arrive as, its stamps fixed (withFixedStamps).
std::string expectedLine(int thread, int sequence) {
    const std::string user = userOf(thread, sequence);
    const std::string address = "10.0.0." + std::to_string(thread);
    if (isCef(sequence)) {
        return "CEF:0|Quorvel|Stress|1.0|S|event t" + std::to_string(thread) + " i" + std::to_string(sequence) +
               "|4|rt=1700000000123 dtz=UTC src=" + address + " spt=0 suser=" + user + " cs1=a\\=b\\\\c|d msg=Stress " +
               user + " from " + address + " ";
    }
    return std::string(" {\"Id\" : \"t") + std::to_string(thread) + "-i" + std::to_string(sequence) +
           "\",\"Source\" : \"stress\",\"Observer\" : {\"Entity\" : {\"SysName\" : \"" + kHostName +
           "\"}},\"Initiator\" : {\"Account\" : {\"Name\" : \"" + user +
           "\"}},\"Action\" : {\"Event\" : {\"Name\" : \"LOGIN\"},\"Time\" : {\"Offset\" : 1700000000},\"Log\" : "
           "{\"Severity\" : 7},\"Outcome\" : \"o\\\"k\"}}";
}

// Checks every line it receives against the line its thread and sequence
// number (read back from the line) must give, and marks it as seen.
class VerifyingAppender : public log4cxx::AppenderSkeleton {
  public:
    VerifyingAppender() : seen_(kLoggingThreads * kEventsPerThread) {}

    void close() override {}
    bool requiresLayout() const override { return false; }

    int received() const { return received_; }
    int duplicates() const { return duplicates_; }
    int mismatches() const { return mismatches_; }
    std::string firstMismatch() const { return firstMismatch_; }
    int seenCount() const {
        int count = 0;
        for (const unsigned char seen : seen_)
            count += seen;
        return count;
    }

  protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override {
        const std::string& message = event->getRenderedMessage();
        int thread = -1;
        int sequence = -1;
        if (message.compare(0, 4, "CEF:") == 0) {
            std::sscanf(message.c_str(), "CEF:0|Quorvel|Stress|1.0|S|event t%d i%d", &thread, &sequence);
        } else {
            std::sscanf(message.c_str(), " {\"Id\" : \"t%d-i%d\"", &thread, &sequence);
        }
        const bool known = thread >= 0 && thread < kLoggingThreads && sequence >= 0 && sequence < kEventsPerThread;
        const bool whole = known && quorvel_test::withFixedStamps(message) == expectedLine(thread, sequence) &&
                           event->getLoggerName() == loggerOf(thread, sequence) &&
                           event->getLevel()->toInt() == log4cxx::Level::INFO_INT;

        const std::lock_guard<std::mutex> lock(mutex_);
        ++received_;
        logged_.push_back({quorvel::seal::locatorOf(message), event->getTimeStamp() / 1000});
        if (!whole) {
            if (mismatches_++ == 0) firstMismatch_ = event->getLoggerName() + ": " + message;
            return;
        }
        unsigned char& seen = seen_[static_cast<std::size_t>(thread * kEventsPerThread + sequence)];
        if (seen) ++duplicates_;
        seen = 1;
    }

  public:
    // Each line's locator, and when it was logged (ms since the epoch).
    std::vector<std::pair<quorvel::seal::LineLocator, std::int64_t>> logged_;

  private:
    mutable std::mutex mutex_;
    std::vector<unsigned char> seen_;
    int received_ = 0;
    int duplicates_ = 0;
    int mismatches_ = 0;
    std::string firstMismatch_;
};

void logCef(int thread, int sequence) {
    CEF_EVENT event;
    event.setDeviceVendor("Quorvel");
    event.setDeviceProduct("Stress");
    event.setDeviceVersion("1.0");
    event.setSignatureID("S");
    event.setName("event t" + std::to_string(thread) + " i" + std::to_string(sequence));
    event.setSeverity(4);
    event.setSourceAddress("10.0.0." + std::to_string(thread));
    event.setSourceUserName(userOf(thread, sequence));
    event.setCs1("a=b\\c|d");
    EXPECT_EQ(event.CEF_Log(loggerOf(thread, sequence)), 0);
}

void logXdas(int thread, int sequence) {
    const auto event = quorvel_test::createXdasEvent();
    event->setId("t" + std::to_string(thread) + "-i" + std::to_string(sequence));
    event->setSource("stress");
    event->getInitiator()->getAccount()->setName(userOf(thread, sequence));
    event->getAction()->getEvnt()->setName("LOGIN");
    event->getAction()->getLog()->setSeverity(7);
    event->getAction()->setOutcome("o\"k");
    EXPECT_EQ(event->XDAS_Log(loggerOf(thread, sequence)), 0);
}

// The first line number after the seals in `file`, which must cover the
// lines from 0 on in runs that follow one another, none longer than the
// default cadence of 256 lines however fast the threads log; 0 when they do
// not.
std::uint64_t linesSealed(const std::string& file) {
    std::map<std::uint64_t, quorvel::seal::SealRecord> seals;
    for (const std::string& line : quorvel_test::lines(quorvel_test::readFile(file)))
        if (const auto seal = quorvel::seal::readSeal(line)) seals[seal->record.index] = seal->record;
    std::uint64_t next = 0;
    for (const auto& [index, record] : seals) {
        if (record.first != next || record.tags.size() > 256) return 0;
        next += record.tags.size();
    }
    return next;
}

// The longest time a line waited for the seal that covers it, in ms: the
// seal's time less the latest time a line with the seal's locator was
// logged at. Another line sharing the locator can only shorten it, as can
// the moment log4cxx stamps a line, after the library numbered it.
std::int64_t longestWait(const std::string& file,
                         std::vector<std::pair<quorvel::seal::LineLocator, std::int64_t>> logged) {
    std::sort(logged.begin(), logged.end());
    std::int64_t longest = 0;
    for (const std::string& line : quorvel_test::lines(quorvel_test::readFile(file))) {
        const auto seal = quorvel::seal::readSeal(line);
        if (!seal) continue;
        for (const quorvel::seal::LineLocator& locator : seal->record.locators) {
            const auto last = std::upper_bound(logged.begin(), logged.end(), std::make_pair(locator, INT64_MAX));
            if (last != logged.begin() && std::prev(last)->first == locator)
                longest = std::max(longest, static_cast<std::int64_t>(seal->record.time) - std::prev(last)->second);
        }
    }
    return longest;
}

TEST(Stress, EveryEventArrivesWholeOnceWhileOthersInitialiseAndProbe) {
    quorvel_test::fake_resolver::answerHostName("stress");
    quorvel_test::fake_resolver::answerCanonicalName(kHostName);
    quorvel_test::CatalogDirectory catalog;
    catalog.write("S=Stress {suser} from {src}\n");
    quorvel::seal::AuditorPublicKey auditor;
    quorvel::seal::AuditorSecretKey secret;
    ASSERT_TRUE(quorvel::seal::cryptoReady());
    quorvel::seal::makeAuditorKeys(auditor, secret);
    const std::string seals = catalog.file("seals.log");
    const std::string properties = catalog.write(
        "sealed.properties",
        quorvel_test::readFile(quorvel_test::testDataPath("capture_all.properties")) +
            "quorvel.seal=on\nquorvel.seal.millis=50\nquorvel.seal.auditorKey=" + quorvel::seal::toBase64(auditor) +
            "\nlog4j.logger.quorvel.seal=INFO, SEALS\nlog4j.additivity.quorvel.seal=false\n"
            "log4j.appender.SEALS=org.apache.log4j.FileAppender\nlog4j.appender.SEALS.File=" +
            seals +
            "\nlog4j.appender.SEALS.layout=org.apache.log4j.PatternLayout\n"
            "log4j.appender.SEALS.layout.ConversionPattern=%m%n\n");
    ASSERT_EQ(initSyslog(properties, "stress"), 0);
    const auto appender = std::make_shared<VerifyingAppender>();
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    root->removeAllAppenders();
    root->addAppender(appender);

    std::atomic<bool> logging{true};
    std::atomic<int> wrongInitResults{0};
    std::atomic<int> wrongProbeResults{0};
    std::atomic<long> sideCalls{0};
    std::vector<std::thread> sideThreads;
    sideThreads.emplace_back([&] {
        while (logging) {
            if (initSyslog(properties, "stress") != 0) ++wrongInitResults;
            if (initSyslog(quorvel_test::testDataPath("capture_off.properties"), "other") != 2) ++wrongInitResults;
            if (initXDAS(properties) != 2) ++wrongInitResults;
            ++sideCalls;
        }
    });
    sideThreads.emplace_back([&] {
        while (logging) {
            if (!checkEventSeverity(1) || !checkEventSeverity(8) || checkEventSeverity(3)) ++wrongProbeResults;
            if (!isAppenderEnabled()) ++wrongProbeResults;
            if (getCEFHostName() != kHostName) ++wrongProbeResults;
            ++sideCalls;
        }
    });

    std::vector<std::thread> loggingThreads;
    for (int thread = 0; thread < kLoggingThreads; ++thread) {
        loggingThreads.emplace_back([thread] {
            for (int sequence = 0; sequence < kEventsPerThread; ++sequence) {
                if (isCef(sequence)) {
                    logCef(thread, sequence);
                } else {
                    logXdas(thread, sequence);
                }
            }
        });
    }
    for (std::thread& thread : loggingThreads)
        thread.join();
    logging = false;
    for (std::thread& thread : sideThreads)
        thread.join();

    const int total = kLoggingThreads * kEventsPerThread;
    EXPECT_EQ(appender->mismatches(), 0) << "first: " << appender->firstMismatch();
    EXPECT_EQ(appender->duplicates(), 0);
    EXPECT_EQ(appender->received(), total);
    EXPECT_EQ(appender->seenCount(), total);
    EXPECT_EQ(wrongInitResults, 0);
    EXPECT_EQ(wrongProbeResults, 0);
    EXPECT_GT(sideCalls, 0);
    // The lines still pending when logging stopped are sealed within 50 ms.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (linesSealed(seals) < static_cast<std::uint64_t>(total) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(linesSealed(seals), static_cast<std::uint64_t>(total)) << "seals in " << seals;
    // 50 ms declared; a scheduler on a loaded machine (231 ms seen with two
    // builds beside the test on two cores), or a sanitizer, takes more.
    const std::int64_t waited = longestWait(seals, appender->logged_);
    EXPECT_LE(waited, 50 + 950) << "seals in " << seals;
    RecordProperty("longest_wait_ms", static_cast<int>(waited));
    RecordProperty("events", total);
}

} // namespace
