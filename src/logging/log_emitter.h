// Handing a rendered line to log4cxx, shared by the XDAS and CEF writers.
#pragma once

#include <log4cxx/logger.h>

#include <string>

namespace quorvel {

// Logs `line` under `logger` at `level` when the logger enables that level,
// as log4cxx's per-level logging macros do; otherwise does nothing.
void emitLine(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, const std::string& line,
              const log4cxx::spi::LocationInfo& location);

} // namespace quorvel
