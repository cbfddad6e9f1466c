// The logger lookup of every logging call: the same logger object that
// log4cxx's own lookup by name gives, for names it hands over unconverted and
// for names log4cxx decodes first. And the string a call renders into.
#include "logging/log_emitter.h"

#include <log4cxx/logger.h>

#include <gtest/gtest.h>

#include <malloc.h>

#include <string>
#include <thread>

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
