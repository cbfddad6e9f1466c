#include "log_emitter.h"

namespace quorvel {

void emitLine(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, const std::string& line,
              const log4cxx::spi::LocationInfo& location) {
    if (!logger->isEnabledFor(level)) return;
    // The macros stream the message into a MessageBuffer first, which only
    // copies it; the line is handed over directly instead.
    logger->forcedLog(level, line, location);
}

} // namespace quorvel
