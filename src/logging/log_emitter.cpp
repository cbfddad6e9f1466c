#include "logging/log_emitter.h"

namespace quorvel {

void emitLine(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, const std::string& line,
              const log4cxx::spi::LocationInfo& location) {
#if LOG4CXX_LOGCHAR_IS_UTF8
    // The logging macros stream the message into a MessageBuffer first, which
    // only copies it; the line is handed over directly instead. log4cxx keeps
    // its text as UTF-8 bytes here. forcedLog would first decode the line from
    // the process's locale, which under the "C" locale turns every byte from
    // 0x80 up into "?"; the line's bytes are the message as they are, so they
    // are handed over unconverted.
    logger->forcedLogLS(level, line, location);
#else
    logger->forcedLog(level, line, location);
#endif
}

} // namespace quorvel
