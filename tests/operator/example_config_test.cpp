// Every example properties file applies through initSyslog and leaves an
// appender on the root logger; each file in a process of its own. And the
// host-side AsyncAppender of examples/async_syslog.cpp delivers its event.
#include "child_process.h"
#include "stamps.h"
#include "temp_dir.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> exampleProperties() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(QUORVEL_EXAMPLES_DIR)) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            const std::string suffix = ".properties";
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ExampleProperties : public testing::TestWithParam<std::string> {};

TEST_P(ExampleProperties, AppliesThroughInitSyslogWithAnAppenderOnTheRootLogger) {
    // File appenders write relative paths into a directory of the test's own.
    const quorvel_test::TempDir directory("example");
    ASSERT_EQ(chdir(directory.path().c_str()), 0);
    const int status = initSyslog(std::string(QUORVEL_EXAMPLES_DIR) + "/" + GetParam(), "examples");
    EXPECT_TRUE(status == 0 || status < 0) << "initSyslog returned " << status; // < 0: host name unresolved
    EXPECT_TRUE(isAppenderEnabled());
    EXPECT_TRUE(checkEventSeverity(4));
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleProperties, testing::ValuesIn(exampleProperties()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.find('.'));
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

// With the plain console file the example adds the AsyncAppender; with the
// asynchronous-root file, log4cxx 1.6 and later have added it already.
TEST(ExampleAsyncAppender, DeliversTheEventOnceBeforeTheProcessEnds) {
    setenv("VRQ_SERVER_CONFIGDIR", QUORVEL_EXAMPLES_DIR, 1);
    for (const char* properties : {"log4cxx.properties", "log4cxx-async.properties"}) {
        const auto result = quorvel_test::runProcess(
            {QUORVEL_ASYNC_EXAMPLE, std::string(QUORVEL_EXAMPLES_DIR) + "/" + properties}, QUORVEL_EXAMPLES_DIR);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(quorvel_test::withFixedStamps(result.out),
                  "INFO  [async-example] audit.cef:CEF:0|ExampleVendor|ExampleProduct||100|Login|4|"
                  "rt=1700000000123 dtz=UTC spt=0 suser=user1 msg=User user1 logged in \n")
            << properties;
    }
}

} // namespace
