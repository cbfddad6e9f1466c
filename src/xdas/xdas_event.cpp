// The XDAS event: its own fields, its components, and its logging.
#include <quorvel/xdas.h>

#include "logging/host_identity.h"
#include "logging/log_emitter.h"
#include "logging/severity_levels.h"
#include "xdas/xdas_record_writer.h"

#include <ctime>
#include <utility>

XDAS_Event::XDAS_Event() = default;
XDAS_Event::~XDAS_Event() = default;

void XDAS_Event::setId(std::string id) { Id = std::move(id); }
void XDAS_Event::setSource(std::string source) { Source = std::move(source); }
std::string XDAS_Event::getId() { return Id; }
std::string XDAS_Event::getSource() { return Source; }
I_XDASObserver* XDAS_Event::getObserver() { return &observer; }
I_XDASInitiator* XDAS_Event::getInitiator() { return &initiator; }
I_XDASTarget* XDAS_Event::getTarget() { return &target; }
I_XDASAction* XDAS_Event::getAction() { return &action; }

void XDAS_Event::Write_Event_Array(std::string loggerName) {
    const log4cxx::LoggerPtr logger = quorvel::loggerNamed(loggerName);
    const log4cxx::LevelPtr& level =
        quorvel::xdasSeverityLevel(quorvel::normaliseXdasSeverity(getAction()->getLog()->getSeverity()));
    if (!logger->isEnabledFor(level)) return; // nothing is rendered for a call that cannot log
    quorvel::LineString record;
    const std::int64_t now = std::time(nullptr);
    quorvel::writeXdasRecord(*this, quorvel::publishedHostName(), now, record.text());
    quorvel::emitLine(logger, level, record, QUORVEL_LOCATION);
}

int XDAS_Event::XDAS_Log(std::string loggerName) {
    Write_Event_Array(std::move(loggerName));
    return 0;
}

extern "C" I_XDAS_Event* create() { return new XDAS_Event(); }

extern "C" void destroy(I_XDAS_Event* event) { delete event; }
