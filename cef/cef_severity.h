// The CEF severity codes and the log4cxx levels they select.
#pragma once

#include <log4cxx/level.h>

namespace quorvel {

// 1 TRACE, 2 DEBUG, 4 INFO, 6 WARN, 8 ERROR; a null pointer for any other code.
inline log4cxx::LevelPtr cefSeverityLevel(int code) {
    switch (code) {
    case 1: return log4cxx::Level::getTrace();
    case 2: return log4cxx::Level::getDebug();
    case 4: return log4cxx::Level::getInfo();
    case 6: return log4cxx::Level::getWarn();
    case 8: return log4cxx::Level::getError();
    default: return nullptr;
    }
}

} // namespace quorvel
