// Logging a CEF event: the process's one catalogue, the line, and the level
// that the event's severity selects.
#include <quorvel/cef_event.h>

#include "cef/cef_line.h"
#include "cef/event_description_catalog.h"
#include "logging/log_emitter.h"
#include "logging/no_destructor.h"
#include "logging/severity_levels.h"

#include <log4cxx/logger.h>

#include <utility>

void CEF_EVENT::Write_CEF_Event(std::string loggerName) {
    const log4cxx::LoggerPtr logger = quorvel::loggerNamed(loggerName);
    // Loaded by the first call of the process, whatever its severity; a
    // construction that throws is retried by the next call. Never destroyed:
    // threads and exit handlers may log while the process exits.
    static const quorvel::NoDestructor<const quorvel::EventDescriptionCatalog> catalog;
    const log4cxx::LevelPtr& level = quorvel::cefSeverityLevel(Severity);
    if (!level || !logger->isEnabledFor(level)) return; // nothing is rendered for a call that cannot log
    quorvel::LineString line;
    quorvel::renderCefLine(*catalog, *this, line.text());
    quorvel::emitLine(logger, level, line, QUORVEL_LOCATION);
}

int CEF_EVENT::CEF_Log(std::string loggerName) {
    Write_CEF_Event(std::move(loggerName));
    return 0;
}
