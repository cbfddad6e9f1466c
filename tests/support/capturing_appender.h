// A log4cxx appender for tests: it keeps every event it receives, so a test
// can compare whole logged lines and their levels. Properties files name it
// by its class, CapturingAppender.
#pragma once

#include <log4cxx/appenderskeleton.h>

#include <mutex>
#include <string>
#include <vector>

namespace quorvel_test {

// log4cxx's class macros name the helpers namespace, and from log4cxx 1.6 on
// LogString too, unqualified.
namespace helpers = log4cxx::helpers;
using log4cxx::LogString;

struct CapturedLine {
    std::string logger;
    std::string level; // "TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"
    std::string message;
};

class CapturingAppender : public log4cxx::AppenderSkeleton {
  public:
    DECLARE_LOG4CXX_OBJECT(CapturingAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(CapturingAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    CapturingAppender();

    std::vector<CapturedLine> lines() const;

    void close() override {}
    bool requiresLayout() const override { return false; }

  protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool& pool) override;

  private:
    mutable std::mutex mutex_;
    std::vector<CapturedLine> lines_;
};

// The lines captured by the appender of that name on the root logger; fails
// the calling test (and returns nothing) when there is no such appender.
std::vector<CapturedLine> capturedLines(const std::string& appenderName = "CAP");

// The directory of the tests' data files (properties files, catalogues).
std::string testDataPath(const std::string& fileName);

} // namespace quorvel_test
