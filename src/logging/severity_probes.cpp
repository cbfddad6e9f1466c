// Probes a caller may ask before building an event.
#include <quorvel/logging.h>

#include "logging/severity_levels.h"

#include <log4cxx/logger.h>

extern "C" bool checkEventSeverity(int severity) {
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    if (!root) return false;
    const log4cxx::LevelPtr effective = root->getEffectiveLevel();
    if (!effective) return false;
    const log4cxx::LevelPtr& level = quorvel::cefSeverityLevel(severity);
    if (!level) return false;
    return level->isGreaterOrEqual(effective);
}

extern "C" bool isAppenderEnabled() {
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    return root && !root->getAllAppenders().empty();
}
