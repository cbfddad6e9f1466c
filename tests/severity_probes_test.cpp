// The probes: which CEF severity codes pass the root logger's level, and
// whether the root logger has an appender.
#include "capturing_appender.h"

#include <quorvel/logging.h>

#include <gtest/gtest.h>
#include <log4cxx/logger.h>
#include <log4cxx/propertyconfigurator.h>

#include <set>

namespace {

using quorvel_test::testDataPath;

void configure(const std::string& propertiesFile) {
    log4cxx::PropertyConfigurator::configure(log4cxx::File(testDataPath(propertiesFile)));
}

struct RootLevelCase {
    const char* propertiesFile;
    std::set<int> passing; // of the codes 1, 2, 4, 6 and 8
};

void PrintTo(const RootLevelCase& levelCase, std::ostream* out) { *out << levelCase.propertiesFile; }

class SeverityGate : public testing::TestWithParam<RootLevelCase> {};

TEST_P(SeverityGate, CodesPassingTheRootLevel) {
    configure(GetParam().propertiesFile);
    std::set<int> passing;
    for (const int code : {1, 2, 4, 6, 8}) {
        if (checkEventSeverity(code)) passing.insert(code);
    }
    EXPECT_EQ(passing, GetParam().passing);
    for (const int code : {0, 3, 5, 7, 9, 10, -1})
        EXPECT_FALSE(checkEventSeverity(code)) << code;
}

INSTANTIATE_TEST_SUITE_P(RootLevels, SeverityGate,
                         testing::Values(RootLevelCase{"capture_trace.properties", {1, 2, 4, 6, 8}},
                                         RootLevelCase{"capture_all.properties", {1, 2, 4, 6, 8}},
                                         RootLevelCase{"capture_debug.properties", {2, 4, 6, 8}},
                                         RootLevelCase{"capture_info.properties", {4, 6, 8}},
                                         RootLevelCase{"capture_warn.properties", {6, 8}},
                                         RootLevelCase{"capture_error.properties", {8}},
                                         RootLevelCase{"capture_fatal.properties", {}},
                                         RootLevelCase{"capture_off.properties", {}}),
                         [](const testing::TestParamInfo<RootLevelCase>& info) {
                             const std::string name = info.param.propertiesFile;
                             return name.substr(8, name.find('.') - 8); // capture_<level>.properties
                         });

// Only the root logger's level counts, not that of a named logger.
TEST(SeverityGate, NamedLoggerLevelDoesNotCount) {
    configure("named_logger_debug.properties");
    EXPECT_FALSE(checkEventSeverity(2));
    EXPECT_FALSE(checkEventSeverity(6));
    EXPECT_TRUE(checkEventSeverity(8));
}

TEST(AppenderProbe, AppendersOnNamedLoggersOnlyDoNotCount) {
    configure("appender_on_named_only.properties");
    ASSERT_EQ(log4cxx::Logger::getLogger("audit")->getAllAppenders().size(), 1u);
    ASSERT_EQ(log4cxx::Logger::getLogger("audit.cef")->getAllAppenders().size(), 1u);
    EXPECT_FALSE(isAppenderEnabled());
}

TEST(AppenderProbe, OneAppenderOnTheRootLogger) {
    configure("capture_info.properties");
    EXPECT_TRUE(isAppenderEnabled());
}

} // namespace
