#include "seal_path_checks.h"

#include "appender_routes.h"
#include "logging/severity_levels.h"
#include "trail/seal_record.h"

#include <log4cxx/helpers/pool.h>
#include <log4cxx/layout.h>
#include <log4cxx/net/syslogappender.h>
#include <log4cxx/spi/loggingevent.h>

#include <map>
#include <memory>
#include <set>

namespace quorvel_tools {

namespace {

using quorvel::SealSettings;

std::string described(const log4cxx::AppenderPtr& appender) {
    return appender->getName() + " (" + appender->getClass().getName() + ")";
}

std::string thresholdOf(const log4cxx::AppenderSkeleton& appender) {
    return "its Threshold " + appender.getThreshold()->toString();
}

// The length of `message` as `appender`'s layout writes it in a line of
// `logger`, which is what a SyslogAppender measures against its
// MaxMessageLength.
std::size_t laidOutBytes(const log4cxx::AppenderPtr& appender, const std::string& logger, const std::string& message) {
    const log4cxx::LayoutPtr layout = appender->getLayout();
    if (!layout) return message.size();
    const auto line = std::make_shared<log4cxx::spi::LoggingEvent>(
        logger, quorvel::severityLevels().info, message, log4cxx::spi::LocationInfo::getLocationUnavailable());
    log4cxx::LogString text;
    log4cxx::helpers::Pool pool;
    layout->format(text, line, pool);
    return text.size();
}

// The most lines a seal may cover for its longest line, with `overhead`
// bytes of layout, to fit in `limit` bytes; 0 when not even one line fits.
std::uint64_t linesThatFit(SealSettings settings, std::string_view module, std::size_t overhead, std::size_t limit) {
    std::uint64_t fits = 0, tooMany = quorvel::kMostSealLines + 1;
    while (tooMany - fits > 1) {
        settings.lines = fits + (tooMany - fits) / 2;
        if (quorvel::longestSealBytes(settings, module) + overhead <= limit)
            fits = settings.lines;
        else
            tooMany = settings.lines;
    }
    return fits;
}

// Each SyslogAppender that seals reach and that would send the longest seal
// line in pieces, which no longer verify.
void checkSealLength(const SealSettings& settings, std::string_view module, const std::vector<Route>& routes,
                     std::vector<SealPathFinding>& findings) {
    std::string longest(quorvel::seal::kSealMarker);
    longest.resize(quorvel::longestSealBytes(settings, module), 'x');
    std::set<log4cxx::AppenderPtr> reported;
    for (const Route& route : routes) {
        const auto syslog = log4cxx::cast<log4cxx::net::SyslogAppender>(route.back());
        if (!syslog || droppingAppender(route, quorvel::severityLevels().info) || !reported.insert(syslog).second)
            continue;
        const std::size_t bytes = laidOutBytes(syslog, settings.logger, longest);
        const auto limit = static_cast<std::size_t>(syslog->getMaxMessageLength());
        if (bytes <= limit) continue;
        const std::uint64_t fits = linesThatFit(settings, module, bytes - longest.size(), limit);
        findings.push_back(
            {true, described(syslog) + ": SPLITS SEALS: the longest seal line, " + std::to_string(longest.size()) +
                       " bytes, is " + std::to_string(bytes) + " with its layout, over its MaxMessageLength " +
                       std::to_string(limit) + " (log4cxx sends it in pieces, which do not verify): set " +
                       (fits > 0 ? "quorvel.seal.lines to " + std::to_string(fits) + " or less, or " : "") +
                       "MaxMessageLength to " + std::to_string(bytes) + " or more"});
    }
}

// A failure when no appender that the seal logger reaches takes a seal,
// which is logged at INFO whatever the logger's level.
void checkSealsTaken(const std::string& logger, const std::vector<Route>& routes,
                     std::vector<SealPathFinding>& findings) {
    std::string drops;
    for (const Route& route : routes) {
        const auto dropping = droppingAppender(route, quorvel::severityLevels().info);
        if (!dropping) return;
        drops += (drops.empty() ? "" : ", ") + dropping->getName() + " by " + thresholdOf(*dropping);
    }
    findings.push_back({true, logger + ": SEALS REACH NO APPENDER: " +
                                  (routes.empty() ? "it reaches no appender that writes lines"
                                                  : "each one it reaches drops an INFO line (" + drops + ")") +
                                  ": nothing vouches for the event lines; give it an appender that lets INFO through"});
}

// The levels at which one appender drops lines of one logger.
struct DroppedLines {
    std::string levels;        // from the least severe, comma-separated
    bool takenNowhere = false; // no appender of the logger takes one of them
};

std::string droppedText(const std::string& logger, const std::string& appender, const std::string& threshold,
                        const DroppedLines& dropped) {
    const std::string where = appender + ", lines of " + logger + ": ";
    const std::string what = " at " + dropped.levels + " (" + threshold + "): ";
    if (dropped.takenNowhere)
        return where + "DROPS EVENT LINES" + what +
               "no appender takes them, and the verifier reports each one missing for good; lower the Threshold, or "
               "raise the level of " +
               logger + " so that they are not logged";
    return where + "warning: drops event lines" + what +
           "another appender takes them, but in a trail collected from this one alone they are missing";
}

// Each appender whose threshold drops lines that `logger` logs: numbered by
// the library before log4cxx drops them, they are missing for good in the
// trail.
void checkEventLines(const log4cxx::LoggerPtr& logger, std::vector<SealPathFinding>& findings) {
    const std::vector<Route> routes = routesOf(logger);
    std::map<log4cxx::AppenderPtr, DroppedLines> dropped;
    for (const log4cxx::LevelPtr* level : quorvel::severityLevels().selectable()) {
        if (!logger->isEnabledFor(*level)) continue;
        std::set<log4cxx::AppenderPtr> dropping;
        std::size_t routesDropping = 0;
        for (const Route& route : routes)
            if (const auto appender = droppingAppender(route, *level)) {
                dropping.insert(appender);
                ++routesDropping;
            }
        for (const log4cxx::AppenderPtr& appender : dropping) {
            DroppedLines& lines = dropped[appender];
            lines.levels += (lines.levels.empty() ? "" : ", ") + (*level)->toString();
            lines.takenNowhere |= routesDropping == routes.size();
        }
    }
    for (const auto& [appender, lines] : dropped)
        findings.push_back(
            {lines.takenNowhere, droppedText(logger->getName(), described(appender),
                                             thresholdOf(*log4cxx::cast<log4cxx::AppenderSkeleton>(appender)), lines)});
}

} // namespace

std::vector<SealPathFinding> checkSealPath(const SealSettings& settings, std::string_view module) {
    std::vector<SealPathFinding> findings;
    const log4cxx::LoggerPtr sealLogger = log4cxx::Logger::getLogger(settings.logger);
    const std::vector<Route> sealRoutes = routesOf(sealLogger);
    checkSealLength(settings, module, sealRoutes, findings);
    checkSealsTaken(settings.logger, sealRoutes, findings);
    for (const log4cxx::LoggerPtr& logger : configuredLoggers())
        if (logger != sealLogger) checkEventLines(logger, findings);
    return findings;
}

} // namespace quorvel_tools
