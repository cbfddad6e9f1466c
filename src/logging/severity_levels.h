// The two severity code spaces and the log4cxx levels they select. XDAS and
// CEF number the levels differently; a code of one kind is never read as the
// other.
#pragma once

#include <log4cxx/level.h>

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

// XDAS: the level of a normalised code: 3 FATAL, 4 ERROR, 5 WARN, 7 INFO,
// 8 DEBUG, 9 TRACE.
inline log4cxx::LevelPtr xdasSeverityLevel(int normalisedCode) {
    switch (normalisedCode) {
    case 3: return log4cxx::Level::getFatal();
    case 4: return log4cxx::Level::getError();
    case 5: return log4cxx::Level::getWarn();
    case 8: return log4cxx::Level::getDebug();
    case 9: return log4cxx::Level::getTrace();
    default: return log4cxx::Level::getInfo();
    }
}

// CEF: 1 TRACE, 2 DEBUG, 4 INFO, 6 WARN, 8 ERROR; a null pointer for any other
// code.
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

// Has log4cxx build every level object the two tables return. log4cxx builds
// them at first use and destroys them at exit in the reverse order; built
// during initialisation, they outlive every exit handler and static object
// the host sets up afterwards, which may still log.
inline void constructSeverityLevels() {
    for (const auto level : {&log4cxx::Level::getTrace, &log4cxx::Level::getDebug, &log4cxx::Level::getInfo,
                             &log4cxx::Level::getWarn, &log4cxx::Level::getError, &log4cxx::Level::getFatal})
        level();
}

} // namespace quorvel
