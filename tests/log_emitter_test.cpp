// The logger lookup of every logging call: the same logger object that
// log4cxx's own lookup by name gives, for names it hands over unconverted and
// for names log4cxx decodes first, also after the host has cleared, shut down
// or reset log4cxx. And the string a call renders into.
#include "logging/log_emitter.h"

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <log4cxx/hierarchy.h>
#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>

#include <gtest/gtest.h>

#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace {

TEST(LoggerNamed, GivesTheLoggerThatLog4cxxGivesForTheSameName) {
    using namespace std::string_literals;
    const std::string names[] = {
        "audit", "audit.cef.login", "", "\x01\x7F"s, "with\0nul"s, "caf\xC3\xA9", "bad\xFF", "\xC3\xA9t\xC3\xA9",
    };
    for (const std::string& name : names) {
        const log4cxx::LoggerPtr ours = quorvel::loggerNamed(name);
        EXPECT_EQ(ours, log4cxx::Logger::getLogger(name)) << "name of " << name.size() << " bytes";
        EXPECT_EQ(quorvel::loggerNamed(name), ours) << "name of " << name.size() << " bytes";
    }
}

// In a child process configured on first use from a properties file in
// `dir`: finds the logger "probe" with `lookup` (at WARN), has the file give
// it ERROR, does the host's `action` and finds it again; ends with the level
// it then has, plus 100 if that is not the logger log4cxx's lookup gives.
int levelAfter(log4cxx::LoggerPtr (*lookup)(const std::string&), void (*action)(), const quorvel_test::TempDir& dir) {
    const auto configure = [&](const std::string& level) {
        return dir.write("probe.properties", "log4j.logger.probe=" + level +
                                                 ", F\nlog4j.appender.F=org.apache.log4j.FileAppender\n"
                                                 "log4j.appender.F.File=/dev/null\n"
                                                 "log4j.appender.F.layout=org.apache.log4j.SimpleLayout\n");
    };
    quorvel_test::Child child([&] {
        setenv("LOG4CXX_CONFIGURATION", configure("WARN").c_str(), 1);
        lookup("probe");
        configure("ERROR");
        action();
        const log4cxx::LoggerPtr found = lookup("probe");
        const log4cxx::LevelPtr level = found->getLevel();
        _exit((level ? level->toInt() / 10000 % 100 : 99) + (found == log4cxx::Logger::getLogger("probe") ? 0 : 100));
    });
    return child.waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(30)) ? child.exitStatus() : -1;
}

TEST(LoggerNamed, FollowsWhatTheHostDoesToLog4cxxAsLog4cxxsLookupDoes) {
    const std::pair<const char*, void (*)()> actions[] = {
        {"nothing", [] {}},
        {"Hierarchy::clear",
         [] { std::static_pointer_cast<log4cxx::Hierarchy>(log4cxx::LogManager::getLoggerRepository())->clear(); }},
        {"LogManager::shutdown", [] { log4cxx::LogManager::shutdown(); }},
        {"LogManager::resetConfiguration", [] { log4cxx::LogManager::resetConfiguration(); }},
    };
    quorvel_test::TempDir dir("lookup");
    for (const auto& [name, action] : actions) {
        const int expected = levelAfter(log4cxx::Logger::getLogger, action, dir);
        ASSERT_TRUE(expected >= 0 && expected < 100) << "log4cxx's lookup after " << name << ": " << expected;
        EXPECT_EQ(levelAfter(quorvel::loggerNamed, action, dir), expected) << "after " << name;
    }
}

// A call made while the thread's string is in use (an appender that logs)
// renders into a string of its own, and a thread keeps no long line's memory.
TEST(LineString, NestedCallsDoNotShareAndLongLinesAreNotKept) {
    {
        quorvel::LineString outer;
        outer.text() = "outer line";
        quorvel::LineString{}.text() = "inner";
        EXPECT_EQ(outer.text(), "outer line");
    }
    // A long line's block is mapped on its own.
    const auto heapInUse = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const std::size_t before = heapInUse();
    quorvel::LineString{}.text().assign(std::size_t{1} << 20, 'x');
    EXPECT_LT(heapInUse(), before + quorvel::LineString::kKeptLineCapacity);
}

// Destructors that run after the thread's string is released (of objects
// the thread made before its first line) may still log.
TEST(LineString, LinesRenderedAsTheThreadEnds) {
    static std::string lastLine;
    struct LogsWhenDestroyed {
        ~LogsWhenDestroyed() { lastLine = quorvel::LineString{}.text().assign(300, 'x'); }
    };
    std::thread([] {
        thread_local LogsWhenDestroyed logsWhenDestroyed; // made first, destroyed last
        quorvel::LineString{}.text().assign(300, 'y');
    }).join();
    EXPECT_EQ(lastLine, std::string(300, 'x'));
}

} // namespace
