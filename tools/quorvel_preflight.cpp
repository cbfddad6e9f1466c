// quorvel-preflight: says, for a host's log4cxx properties file, whether each
// appender can deliver an audit line now and, with sealing on, whether the
// trail can verify what they deliver; logs one test event through the
// configured path when asked.
#include "appender_routes.h"
#include "delivery_checks.h"
#include "log4cxx_diagnostics.h"
#include "seal_path_checks.h"
#include "tool_arguments.h"
#include "tool_error.h"
#include "trail/sealed_initialisation.h"

#include <quorvel/quorvel.h>

#include <log4cxx/helpers/exception.h>
#include <log4cxx/helpers/fileinputstream.h>
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/logger.h>

#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using quorvel_tools::AppenderCheck;
using quorvel_tools::Delivery;
using quorvel_tools::ToolError;

constexpr const char* kProgram = "quorvel-preflight";
constexpr const char* kUsage =
    "usage: quorvel-preflight PROPERTIES [--send] [--logger NAME] [--module NAME] [--verbose]\n"
    "Applies the log4cxx properties file as a host would and says, for each appender, whether it can deliver\n"
    "an audit line now. --send also logs one test CEF event under the logger NAME (default\n"
    "quorvel.preflight). With sealing on, also checks that seals reach an appender whole and that no\n"
    "appender drops event lines. Exit status 0 when some path can deliver (or cannot be known from here)\n"
    "and the seal path has no failure, 1 otherwise, 2 for a usage error or a file that cannot be applied.\n";

struct Options {
    std::string properties;
    std::string logger = "quorvel.preflight";
    std::string module = "XDAS-";
    bool send = false;
    bool verbose = false;
};

Options parseOptions(quorvel_tools::Arguments args) {
    Options options;
    while (!args.done()) {
        const std::string arg = args.next();
        const auto value = [&] { return args.valueOf(arg); };
        if (quorvel_tools::asksForHelp(arg)) {
            throw quorvel_tools::HelpAsked{kUsage};
        } else if (arg == "--send") {
            options.send = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--logger") {
            options.logger = value();
        } else if (arg == "--module") {
            options.module = value();
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw ToolError{"unknown option " + arg + " (see --help)"};
        } else if (!options.properties.empty()) {
            throw ToolError{"more than one PROPERTIES file given (see --help)"};
        } else {
            options.properties = arg;
        }
    }
    if (options.properties.empty()) throw ToolError{"PROPERTIES is required (see --help)"};
    return options;
}

// Every appender some logger has, with the loggers that have it.
std::map<log4cxx::AppenderPtr, std::vector<std::string>> configuredAppenders() {
    std::map<log4cxx::AppenderPtr, std::vector<std::string>> appenders;
    for (const log4cxx::LoggerPtr& logger : quorvel_tools::configuredLoggers())
        for (const log4cxx::AppenderPtr& appender : logger->getAllAppenders())
            appenders[appender].push_back(logger->getName());
    return appenders;
}

const char* verdictText(Delivery delivery) {
    switch (delivery) {
    case Delivery::Can: return "can deliver";
    case Delivery::Cannot: return "CANNOT DELIVER";
    case Delivery::Unknown: return "cannot tell";
    }
    return "";
}

// Prints every check; the number of paths (appenders of loggers) that can
// deliver or cannot be known, and of all paths.
std::pair<int, int> report(const std::map<log4cxx::AppenderPtr, std::vector<std::string>>& appenders,
                           const log4cxx::helpers::Properties& properties) {
    int open = 0, all = 0;
    for (const auto& [appender, loggers] : appenders) {
        std::string names;
        for (const std::string& logger : loggers)
            names += (names.empty() ? "" : ", ") + logger;
        for (const AppenderCheck& check : quorvel_tools::checkAppender(appender, properties)) {
            std::cout << std::string(2 + 2 * static_cast<std::size_t>(check.depth), ' ') << check.name << " ("
                      << check.kind << (check.depth == 0 ? ", of " + names : std::string())
                      << "): " << verdictText(check.delivery) << ": " << check.findings << '\n';
            if (check.depth > 0) continue;
            ++all;
            open += check.delivery != Delivery::Cannot;
        }
    }
    return {open, all};
}

// With sealing on, prints what the seal path needs and lacks, and whether
// the sealing thread runs; the number of failures.
int reportSealPath(const Options& options, const log4cxx::helpers::Properties& properties) {
    const quorvel::SealSetup setup = quorvel::readSealSetup(properties, options.module);
    if (!setup.on) return 0;
    std::cout << "sealing on: seals go to the logger " << setup.settings.logger << ", the longest line "
              << quorvel::longestSealBytes(setup.settings, options.module) << " bytes\n";
    int failures = 0;
    if (quorvel::SealWorker* session = quorvel::sealedSession()) {
        std::cout << (session->threadRunning() ? "  the sealing thread runs\n"
                                               : "  the sealing thread could not start: logging callers cut every "
                                                 "seal themselves, so nothing goes unsealed, but no seal is cut while "
                                                 "the host logs nothing (idle seals are not written)\n");
        const quorvel::SealSettings& settings = setup.settings;
        if (!settings.agent.empty() && session->attested()) {
            std::cout << "  the host agent at " << settings.agent << " attested this session\n";
        } else if (!settings.agent.empty()) {
            std::cout << "  NOT ATTESTED: the host agent at " << settings.agent << " gave no attestation within "
                      << settings.agentMillis << " ms: sessions open unattested, which the auditor's registry counts "
                      << "against them; start quorvel-sealagent, or raise quorvel.seal.agentMillis\n";
            ++failures;
        }
    }
    for (const quorvel_tools::SealPathFinding& finding : quorvel_tools::checkSealPath(setup.settings, options.module)) {
        std::cout << "  " << finding.text << '\n';
        failures += finding.failure;
    }
    return failures;
}

void sendTestEvent(const Options& options) {
    CEF_EVENT event;
    event.setDeviceVendor("quorvel");
    event.setDeviceProduct("quorvel-preflight");
    event.setSignatureID("quorvel-preflight");
    event.setName("pre-flight test event");
    event.setSeverity(4);
    event.setDeviceHostName(getCEFHostName());
    try {
        event.CEF_Log(options.logger);
    } catch (const std::exception& error) {
        throw ToolError{"the test event did not go out: " + std::string(error.what()), 1};
    }
    std::cout << "sent one test event (CEF, signature ID quorvel-preflight) at INFO under " << options.logger << '\n';
}

// The properties file as log4cxx reads it; nothing when it cannot be read.
std::unique_ptr<log4cxx::helpers::Properties> propertiesOf(const std::string& path) {
    auto properties = std::make_unique<log4cxx::helpers::Properties>();
    try {
        properties->load(std::make_shared<log4cxx::helpers::FileInputStream>(path));
    } catch (const log4cxx::helpers::IOException&) {
        return nullptr;
    }
    return properties;
}

int run(const Options& options) {
    log4cxx::helpers::LogLog::setQuietMode(!options.verbose);
    const bool applied = initSyslog(options.properties, options.module) != 1;
    const std::unique_ptr<log4cxx::helpers::Properties> read = propertiesOf(options.properties);
    if (!applied) {
        // Sealing asked for with a setting that cannot hold is one reason;
        // say which.
        const quorvel::SealSetup seal = read ? quorvel::readSealSetup(*read, options.module) : quorvel::SealSetup{};
        throw ToolError{"cannot read or apply the log4cxx configuration " + options.properties +
                        (seal.valid ? std::string() : ": " + seal.fault)};
    }
    if (!read) throw ToolError{"cannot read " + options.properties};
    const log4cxx::helpers::Properties& properties = *read;
    std::cout << options.properties << ":\n";
    const auto [open, all] = report(configuredAppenders(), properties);
    const int sealFailures = reportSealPath(options, properties);
    if (options.send) sendTestEvent(options);
    std::cout << open << " of " << all << " paths can deliver or cannot be known from here\n";
    if (sealFailures > 0)
        std::cout << sealFailures << (sealFailures == 1 ? " failure" : " failures") << " on the seal path\n";
    return open > 0 && sealFailures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    quorvel_tools::colourLog4cxxDiagnosticsOnlyOnATerminal();
    return quorvel_tools::runTool(kProgram, [&] { return run(parseOptions({argc, argv})); });
}
