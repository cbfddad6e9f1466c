#include "logging/log_emitter.h"

#include "logging/line_observer.h"
#include "logging/severity_levels.h"

#include <log4cxx/logmanager.h>

#include <algorithm>
#include <type_traits>
#include <utility>

namespace quorvel {

log4cxx::LoggerPtr loggerNamed(const std::string& name) {
#if LOG4CXX_LOGCHAR_IS_UTF8
    // log4cxx decodes a name from the process's charset into its own UTF-8
    // text first, which costs about a third of the lookup. Bytes 0x01 to 0x7F
    // decode to themselves in every charset the C library offers, so such a
    // name is handed over as it is; any other name takes log4cxx's decoding.
    const bool plainAscii = std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte != 0 && byte < 0x80;
    });
    if (plainAscii) return log4cxx::LogManager::getLoggerLS(name);
#endif
    return log4cxx::Logger::getLogger(name);
}

namespace {

// Whether this log4cxx's Logger takes a line that it may keep
// (addEvent(level, std::string&&, location), in the releases after 1.0).
template <class Logger, class = void> struct TakesLineToKeep : std::false_type {};
template <class Logger>
struct TakesLineToKeep<Logger, std::void_t<decltype(std::declval<const Logger&>().addEvent(
                                   std::declval<const log4cxx::LevelPtr&>(), std::declval<std::string&&>(),
                                   std::declval<const log4cxx::spi::LocationInfo&>()))>> : std::true_type {};

template <class Logger>
void handOver(const Logger& logger, const log4cxx::LevelPtr& level, std::string&& line,
              const log4cxx::spi::LocationInfo& location) {
#if LOG4CXX_LOGCHAR_IS_UTF8
    // log4cxx keeps its text as UTF-8 bytes here, and the line's bytes are the
    // message as they are: handed over unconverted, moved into the event
    // where log4cxx takes it so, copied into it otherwise. forcedLog would
    // first decode the line from the process's locale, which under the "C"
    // locale turns every byte from 0x80 up into "?".
    if constexpr (TakesLineToKeep<Logger>::value)
        logger.addEvent(level, std::move(line), location);
    else
        logger.forcedLogLS(level, line, location);
#else
    logger.forcedLog(level, line, location);
#endif
}

} // namespace

void emitLine(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, std::string&& line, const char* file,
              const char* function, int lineNumber) {
    if (LineObserver* observer = lineObserver()) observer->observe(line);
    // The logging macros stream the message into a MessageBuffer first, which
    // only copies it; the line is handed over directly instead.
    const log4cxx::spi::LocationInfo location(file, log4cxx::spi::LocationInfo::calcShortFileName(file), function,
                                              lineNumber);
    handOver(*logger, level, std::move(line), location);
}

void emitSealLine(const std::string& loggerName, std::string&& line) {
    const log4cxx::spi::LocationInfo location(__FILE__, log4cxx::spi::LocationInfo::calcShortFileName(__FILE__),
                                              __PRETTY_FUNCTION__, __LINE__);
    handOver(*loggerNamed(loggerName), severityLevels().info, std::move(line), location);
}

} // namespace quorvel
