#include "appender_routes.h"

#include <log4cxx/asyncappender.h>

#include <utility>

namespace quorvel_tools {

namespace {

// The routes from `appender` on, each starting with `before`.
void addRoutes(const log4cxx::AppenderPtr& appender, Route before, std::vector<Route>& routes) {
    before.push_back(appender);
    const auto async = log4cxx::cast<log4cxx::AsyncAppender>(appender);
    if (!async) {
        routes.push_back(std::move(before));
        return;
    }
    for (const log4cxx::AppenderPtr& fed : async->getAllAppenders())
        addRoutes(fed, before, routes);
}

} // namespace

log4cxx::LoggerList configuredLoggers() {
    log4cxx::LoggerList loggers = log4cxx::LogManager::getCurrentLoggers();
    loggers.insert(loggers.begin(), log4cxx::Logger::getRootLogger());
    return loggers;
}

std::vector<Route> routesOf(const log4cxx::LoggerPtr& logger) {
    std::vector<Route> routes;
    for (log4cxx::LoggerPtr at = logger; at; at = at->getAdditivity() ? at->getParent() : nullptr)
        for (const log4cxx::AppenderPtr& appender : at->getAllAppenders())
            addRoutes(appender, {}, routes);
    return routes;
}

std::shared_ptr<log4cxx::AppenderSkeleton> droppingAppender(const Route& route, const log4cxx::LevelPtr& level) {
    for (const log4cxx::AppenderPtr& appender : route) {
        const auto skeleton = log4cxx::cast<log4cxx::AppenderSkeleton>(appender);
        if (skeleton && !skeleton->isAsSevereAsThreshold(level)) return skeleton;
    }
    return nullptr;
}

} // namespace quorvel_tools
