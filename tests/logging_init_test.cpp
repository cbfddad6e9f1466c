// One-time initialisation: every result of initSyslog and initXDAS, the
// cached host name, and the module name in force. The host-name lookup is
// answered by the fake resolver, never by the network.
#include "capturing_appender.h"
#include "child_process.h"
#include "fake_resolver.h"
#include "layout_file.h"
#include "skip_or_fail.h"
#include "temp_dir.h"

#include <quorvel/logging.h>

#include <gtest/gtest.h>
#include <log4cxx/logger.h>
#include <netdb.h>
#include <sys/stat.h>

#include <thread>
#include <utility>

namespace {

namespace fake = quorvel_test::fake_resolver;
using quorvel_test::capturedLines;
using quorvel_test::testDataPath;

const std::string kGoodFile = testDataPath("capture_info.properties");
const std::string kMissingFile = testDataPath("no_such_file.properties");

void answerResolvableHost() {
    fake::answerHostName("db7");
    fake::answerCanonicalName("db7.corp.example");
}

// The root logger's level, as the properties file in force set it.
std::string rootLevel() { return log4cxx::Logger::getRootLogger()->getEffectiveLevel()->toString(); }

TEST(Init, FirstCallConfiguresAndCachesTheCanonicalName) {
    answerResolvableHost();
    ASSERT_EQ(initXDAS(kGoodFile), 0);
    EXPECT_EQ(getCEFHostName(), "db7.corp.example");
    EXPECT_EQ(rootLevel(), "INFO");
    EXPECT_TRUE(isAppenderEnabled());

    EXPECT_EQ(fake::hostNameCalls(), 1);
    EXPECT_EQ(fake::lastHostNameLength(), 8191u);
    EXPECT_EQ(fake::lookupCalls(), 1);
    EXPECT_EQ(fake::lastLookupNode(), "db7");
    EXPECT_FALSE(fake::lastLookupHadService());
    EXPECT_EQ(fake::freeCalls(), 1);
}

TEST(Init, FailingGethostnameStillInitialisesWithoutName) {
    fake::failHostName();
    fake::answerCanonicalName("never.asked");
    EXPECT_EQ(initXDAS(kGoodFile), 0);
    EXPECT_EQ(getCEFHostName(), "");
    EXPECT_EQ(fake::lookupCalls(), 0);
    EXPECT_TRUE(isAppenderEnabled());
    // Initialised for good: no retry of the lookup.
    EXPECT_EQ(initXDAS(kGoodFile), 0);
    EXPECT_EQ(fake::hostNameCalls(), 1);
    EXPECT_EQ(getCEFHostName(), "");
}

TEST(Init, SecondCallWithTheSameModuleDoesNotConfigureAgain) {
    answerResolvableHost();
    ASSERT_EQ(initXDAS(kGoodFile), 0);
    log4cxx::Logger::getLogger("audit")->info("before");
    EXPECT_EQ(initXDAS(kGoodFile), 0);
    // A new configuration would have replaced the appender and its lines.
    ASSERT_EQ(capturedLines().size(), 1u);
    EXPECT_EQ(capturedLines()[0].message, "before");
    EXPECT_EQ(fake::lookupCalls(), 1);
}

TEST(Init, LaterPathIsNeverOpened) {
    answerResolvableHost();
    ASSERT_EQ(initXDAS(kGoodFile), 0);
    // A missing file would fail to configure, a different one change the level.
    EXPECT_EQ(initXDAS(kMissingFile), 0);
    EXPECT_EQ(initXDAS(testDataPath("capture_error.properties")), 0);
    EXPECT_EQ(rootLevel(), "INFO");
}

TEST(Init, DifferentModuleNameGivesTwo) {
    answerResolvableHost();
    ASSERT_EQ(initXDAS(kGoodFile), 0);
    EXPECT_EQ(initSyslog(kGoodFile, "XDAS-"), 0);
    EXPECT_EQ(initSyslog(kGoodFile, "XDAS"), 2);
    EXPECT_EQ(initSyslog(kMissingFile, ""), 2);
    EXPECT_EQ(initSyslog(kGoodFile, "XDAS-x"), 2);
    EXPECT_EQ(getCEFHostName(), "db7.corp.example");
}

TEST(Init, OwnModuleNameThenXdasGivesTwo) {
    answerResolvableHost();
    ASSERT_EQ(initSyslog(kGoodFile, "billing"), 0);
    EXPECT_EQ(initSyslog(kGoodFile, "billing"), 0);
    EXPECT_EQ(initXDAS(kGoodFile), 2);
}

TEST(Init, UnreadableFileGivesOneAndAGoodFileThenConfigures) {
    answerResolvableHost();
    EXPECT_EQ(initXDAS(kMissingFile), 1);
    EXPECT_EQ(initXDAS(testDataPath("")), 1); // a directory
    EXPECT_EQ(getCEFHostName(), "");
    EXPECT_EQ(fake::hostNameCalls(), 0);
    EXPECT_FALSE(isAppenderEnabled());
    // Not initialised, so another module name is no conflict.
    EXPECT_EQ(initSyslog(kGoodFile, "other"), 0);
    EXPECT_EQ(getCEFHostName(), "db7.corp.example");
    EXPECT_TRUE(isAppenderEnabled());
}

// What initSyslog makes of a properties file, the same on every log4cxx
// build: a file that can be read has been applied (its levels are in force)
// even when it adds no appender; only a file that cannot be read gives 1.
struct PropertiesFileCase {
    const char* name;
    const char* text;         // the file's contents; nullptr: see `kind`
    const char* kind;         // "file", "missing", "directory" or "unreadable"
    int result;               // what initSyslog returns
    const char* rootLevelSet; // the root logger's level after, for result 0
};

const PropertiesFileCase kPropertiesFileCases[] = {
    {"Empty", "", "file", 0, "DEBUG"},
    {"LevelsOnly", "log4j.rootLogger=WARN\nlog4j.logger.audit=ERROR\n", "file", 0, "WARN"},
    {"RootOff", "log4j.rootLogger=OFF\n", "file", 0, "OFF"},
    {"UndefinedAppender", "log4j.rootLogger=ERROR, NOPE\n", "file", 0, "ERROR"},
    {"UnknownAppenderClass", "log4j.rootLogger=ERROR, X\nlog4j.appender.X=org.example.NoSuchAppender\n", "file", 0,
     "ERROR"},
    {"Missing", nullptr, "missing", 1, nullptr},
    {"Directory", nullptr, "directory", 1, nullptr},
    {"Unreadable", "log4j.rootLogger=ERROR\n", "unreadable", 1, nullptr},
};

void PrintTo(const PropertiesFileCase& c, std::ostream* out) { *out << c.name; }

class InitPropertiesFile : public testing::TestWithParam<PropertiesFileCase> {};

TEST_P(InitPropertiesFile, ResultSaysWhetherTheFileWasApplied) {
    const PropertiesFileCase& c = GetParam();
    answerResolvableHost();
    const quorvel_test::TempDir directory("init");
    const std::string path = c.kind == std::string("directory") ? directory.path() : directory.file("test.properties");
    if (c.text != nullptr) directory.write("test.properties", c.text);
    int result = -1;
    if (c.kind == std::string("unreadable")) {
        chmod(path.c_str(), 0);
        result = quorvel_test::runAsUnprivileged([&] { return initSyslog(path, "files"); });
        if (result == quorvel_test::kCannotDropPrivileges) QUORVEL_SKIP_OR_FAIL("cannot drop root's privileges");
    } else {
        result = initSyslog(path, "files");
    }
    EXPECT_EQ(result, c.result);
    if (c.result == 0) {
        EXPECT_EQ(rootLevel(), c.rootLevelSet);
        EXPECT_EQ(initSyslog(kGoodFile, "other"), 2); // initialised, under "files"
    } else {
        EXPECT_EQ(fake::hostNameCalls(), 0); // not initialised
    }
}

INSTANTIATE_TEST_SUITE_P(Files, InitPropertiesFile, testing::ValuesIn(kPropertiesFileCases),
                         [](const testing::TestParamInfo<PropertiesFileCase>& info) { return info.param.name; });

class InitLookupFailure : public testing::TestWithParam<int> {};

TEST_P(InitLookupFailure, ReturnsTheResolverCodeOnceAndStaysWithoutName) {
    fake::answerHostName("db7");
    fake::failLookup(GetParam());
    EXPECT_EQ(initXDAS(kGoodFile), GetParam());
    EXPECT_EQ(getCEFHostName(), "");
    EXPECT_EQ(fake::freeCalls(), 0);
    EXPECT_TRUE(isAppenderEnabled());
    EXPECT_EQ(initXDAS(kGoodFile), 0);
    EXPECT_EQ(fake::lookupCalls(), 1);
    EXPECT_EQ(getCEFHostName(), "");
}

INSTANTIATE_TEST_SUITE_P(EaiCodes, InitLookupFailure, testing::Values(EAI_NONAME, EAI_AGAIN));

// The module name is the file's ${quorvel.module}; here a file appender's
// layout prints it in front of every message.
TEST(Init, ModuleNameReachesTheLayout) {
    answerResolvableHost();
    const quorvel_test::LayoutFile file("[${quorvel.module}] %p %m%n");
    ASSERT_EQ(initSyslog(file.properties(), "billing"), 0);
    log4cxx::Logger::getLogger("audit")->warn("hello");
    EXPECT_EQ(file.written(), "[billing] WARN hello\n");
}

// The first thread holds the lock inside the host-name lookup, the name
// already copied, while the second one arrives and waits for the lock. When
// it gets the lock it finds the library initialised and answers as a later
// call would: 0 for the module in force, 2 for another; it never configures.
class InitWaitingThread : public testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(InitWaitingThread, ComparesModuleNamesLikeALaterCall) {
    const auto [waitingModule, waitingResult] = GetParam();
    answerResolvableHost();
    fake::holdInsideFree();
    int first = -1;
    int second = -1;
    std::thread a([&] { first = initSyslog(kGoodFile, "A"); });
    fake::waitUntilInsideFree();
    std::thread b([&, module = waitingModule] {
        fake::watchNextLockOnThisThread();
        second = initSyslog(testDataPath("capture_error.properties"), module);
    });
    fake::waitForLockAttempt();
    // Not published until the first initialisation has finished.
    EXPECT_EQ(getCEFHostName(), "");
    fake::releaseFree();
    a.join();
    b.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, waitingResult);
    EXPECT_EQ(fake::hostNameCalls(), 1);
    EXPECT_EQ(fake::lookupCalls(), 1);
    EXPECT_EQ(rootLevel(), "INFO");
    EXPECT_EQ(initSyslog(kGoodFile, "A"), 0);
    EXPECT_EQ(initSyslog(kGoodFile, "B"), 2);
}

INSTANTIATE_TEST_SUITE_P(Modules, InitWaitingThread, testing::Values(std::make_pair("A", 0), std::make_pair("B", 2)),
                         [](const testing::TestParamInfo<std::pair<const char*, int>>& info) {
                             return std::string(info.param.first == std::string("A") ? "Same" : "Other") + "Module";
                         });

// Without ordering: exactly one thread configures; the other, with another
// module name, gets 2 whether it waited for the lock or not.
TEST(Init, TwoThreadsConfigureExactlyOnce) {
    fake::answerHostName("db7");
    fake::failLookup(EAI_AGAIN);
    int results[2] = {-1, -1};
    std::thread a([&] { results[0] = initSyslog(kGoodFile, "A"); });
    std::thread b([&] { results[1] = initSyslog(kGoodFile, "B"); });
    a.join();
    b.join();
    EXPECT_EQ(fake::lookupCalls(), 1);
    const int winner = results[0] == EAI_AGAIN ? 0 : 1;
    ASSERT_EQ(results[winner], EAI_AGAIN);
    EXPECT_EQ(results[1 - winner], 2);
    const std::string winnerModule = winner == 0 ? "A" : "B";
    const std::string otherModule = winner == 0 ? "B" : "A";
    EXPECT_EQ(initSyslog(kGoodFile, winnerModule), 0);
    EXPECT_EQ(initSyslog(kGoodFile, otherModule), 2);
}

} // namespace
