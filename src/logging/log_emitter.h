// Handing a rendered line to log4cxx, shared by the XDAS and CEF writers.
#pragma once

#include <log4cxx/logger.h>

#include <string>

namespace quorvel {

// Hands `line` to `logger` at `level`, which the caller has found enabled
// (logger->isEnabledFor(level)) before rendering the line, as log4cxx's
// per-level logging macros test before they build a message.
void emitLine(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, const std::string& line,
              const log4cxx::spi::LocationInfo& location);

} // namespace quorvel
