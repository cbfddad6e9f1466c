// The ways a line logged under a logger takes through log4cxx's appenders,
// and where on such a way a line of a given level stops.
#pragma once

#include <log4cxx/appender.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/level.h>
#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>

#include <memory>
#include <vector>

namespace quorvel_tools {

// The appenders a line passes through, from one the logger reaches to the
// one that writes it (behind AsyncAppenders, the appenders they feed).
using Route = std::vector<log4cxx::AppenderPtr>;

// The root logger, then every other logger log4cxx holds: those the
// properties file names and those logged under since.
log4cxx::LoggerList configuredLoggers();

// Every route of a line logged under `logger`: through its own appenders,
// then its ancestors' for as long as additivity holds.
std::vector<Route> routesOf(const log4cxx::LoggerPtr& logger);

// The first appender on `route` whose Threshold drops a line of `level`;
// null when the line reaches the appender that writes it. A threshold is
// all that drops a line there: log4cxx's property configurator attaches no
// filters.
std::shared_ptr<log4cxx::AppenderSkeleton> droppingAppender(const Route& route, const log4cxx::LevelPtr& level);

} // namespace quorvel_tools
