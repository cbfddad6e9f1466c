// Finding the logger of a call and handing it the rendered line, shared by
// the XDAS and CEF writers.
#pragma once

#include <log4cxx/logger.h>
#include <log4cxx/spi/location/locationinfo.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// The logger that log4cxx::Logger::getLogger(name) gives, looked up anew on
// every call so that whatever the host does to log4cxx in between (another
// configuration, another repository, loggers removed) is followed.
log4cxx::LoggerPtr loggerNamed(const std::string& name);

// The string a call renders its line into. Where log4cxx copies the line it
// is handed (log4cxx 1.0), it is the calling thread's own, kept between calls
// so that a line costs no allocation of its own and no zeroing of new bytes;
// a thread keeps at most kKeptLineCapacity bytes for it. Where log4cxx takes
// the line over, and for a call made while the thread's string is in use (by
// an appender that logs, say), and for one made after the thread's string
// was released at the thread's end, it is a new string.
class LineString {
  public:
    static constexpr std::size_t kKeptLineCapacity = 64 * 1024;

    LineString();
    ~LineString();
    LineString(const LineString&) = delete;
    LineString& operator=(const LineString&) = delete;

    std::string& text() { return *text_; }

  private:
    std::string own_;
    std::string* text_; // own_, or the thread's kept string
};

// The part of the path `file` after its last separator, as
// log4cxx::spi::LocationInfo::calcShortFileName gives it, but certain to be
// found when compiling (see QUORVEL_LOCATION).
constexpr const char* shortFileName(std::string_view file) {
    return file.data() + (file.rfind(LOG4CXX_SHORT_FILENAME_SPLIT_CHAR) + 1); // the whole path without one
}

// The location of the code that expands it, as log4cxx's own logging macros
// give it: the file, its short name, the function's signature as the
// compiler spells it, and the line. The short name is found when compiling
// rather than by a scan of the path on every call.
#define QUORVEL_LOCATION                                                                                               \
    ::log4cxx::spi::LocationInfo(                                                                                      \
        __FILE__,                                                                                                      \
        [] {                                                                                                           \
            constexpr const char* shortName = ::quorvel::shortFileName(__FILE__);                                      \
            return shortName;                                                                                          \
        }(),                                                                                                           \
        __PRETTY_FUNCTION__, __LINE__)

// Hands `line`, which it may keep, to `logger` at `level`, which the caller
// has found enabled (logger->isEnabledFor(level)) before rendering the line,
// as log4cxx's per-level logging macros test before they build a message.
// The event's location is the caller's (QUORVEL_LOCATION). The line
// observer, if one is registered, sees the line first.
void emitLine(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, LineString& line,
              const log4cxx::spi::LocationInfo& location);

// Hands a record of the logging core's user (a seal, say) to the logger
// named `loggerName` at INFO, whatever level the logger has, unobserved: it
// is not an event to be filtered.
void emitSealLine(const std::string& loggerName, std::string&& line);

} // namespace quorvel
