// The two severity code spaces and the log4cxx levels they select. XDAS and
// CEF number the levels differently; a code of one kind is never read as the
// other.
#pragma once

#include "logging/no_destructor.h"

#include <log4cxx/level.h>

#include <array>

namespace quorvel {

// XDAS: 3, 4, 5, 7, 8 and 9 stay as they are; every other code becomes 7.
inline int normaliseXdasSeverity(int code) {
    switch (code) {
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 9: return code;
    default: return 7;
    }
}

// The six levels the two tables select, fetched from log4cxx once and held
// for the life of the process: a logging call reads them through a reference,
// without touching their shared reference counts, which threads logging at
// the same time would otherwise pass between their caches on every call.
struct SeverityLevels {
    log4cxx::LevelPtr trace = log4cxx::Level::getTrace();
    log4cxx::LevelPtr debug = log4cxx::Level::getDebug();
    log4cxx::LevelPtr info = log4cxx::Level::getInfo();
    log4cxx::LevelPtr warn = log4cxx::Level::getWarn();
    log4cxx::LevelPtr error = log4cxx::Level::getError();
    log4cxx::LevelPtr fatal = log4cxx::Level::getFatal();
    log4cxx::LevelPtr none; // for a code that selects no level

    // The six, from the least severe to the most.
    std::array<const log4cxx::LevelPtr*, 6> selectable() const {
        return {&trace, &debug, &info, &warn, &error, &fatal};
    }
};

// Built by the first call, never destroyed: threads and exit handlers may log
// while the process exits.
inline const SeverityLevels& severityLevels() {
    static const NoDestructor<const SeverityLevels> levels;
    return *levels;
}

// XDAS: the level of a normalised code: 3 FATAL, 4 ERROR, 5 WARN, 7 INFO,
// 8 DEBUG, 9 TRACE.
inline const log4cxx::LevelPtr& xdasSeverityLevel(int normalisedCode) {
    const SeverityLevels& levels = severityLevels();
    switch (normalisedCode) {
    case 3: return levels.fatal;
    case 4: return levels.error;
    case 5: return levels.warn;
    case 8: return levels.debug;
    case 9: return levels.trace;
    default: return levels.info;
    }
}

// CEF: 1 TRACE, 2 DEBUG, 4 INFO, 6 WARN, 8 ERROR; a null pointer for any other
// code.
inline const log4cxx::LevelPtr& cefSeverityLevel(int code) {
    const SeverityLevels& levels = severityLevels();
    switch (code) {
    case 1: return levels.trace;
    case 2: return levels.debug;
    case 4: return levels.info;
    case 6: return levels.warn;
    case 8: return levels.error;
    default: return levels.none;
    }
}

// Builds the levels during initialisation, before the host sets up exit
// handlers or static objects that may still log.
inline void constructSeverityLevels() { severityLevels(); }

} // namespace quorvel
