// quorvel-emit: logs one CEF or XDAS event through libquorvel from the command
// line, so that operators can test a logging pipeline end to end.
#include "cef_field_setter.h"
#include "field_assignment.h"
#include "log4cxx_diagnostics.h"
#include "logging/severity_levels.h"
#include "tool_arguments.h"
#include "tool_error.h"
#include "xdas_field_names.h"

#include <quorvel/quorvel.h>

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/logger.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <netdb.h>
#include <optional>
#include <string>
#include <vector>

namespace quorvel_tools {

// log4cxx's class macros name the helpers namespace, and from log4cxx 1.6 on
// LogString too, unqualified.
namespace helpers = log4cxx::helpers;
using log4cxx::LogString;

// Keeps the messages that reach the logger it is attached to: what was
// logged, for --print and for telling the operator when nothing was.
class EmitCapture : public log4cxx::AppenderSkeleton {
  public:
    DECLARE_LOG4CXX_OBJECT(EmitCapture)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(EmitCapture)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void close() override {}
    bool requiresLayout() const override { return false; }
    const std::vector<std::string>& messages() const { return messages_; }

  protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override {
        messages_.push_back(event->getRenderedMessage());
    }

  private:
    std::vector<std::string> messages_;
};

// What IMPLEMENT_LOG4CXX_OBJECT defines, written out because that macro only
// works at global scope; the class is never named in a properties file.
const helpers::Class& EmitCapture::getClass() const { return getStaticClass(); }
const helpers::Class& EmitCapture::getStaticClass() {
    static ClazzEmitCapture theClass;
    return theClass;
}

} // namespace quorvel_tools

namespace {

using quorvel_tools::ToolError;

constexpr const char* kProgram = "quorvel-emit";

const char* const kUsage =
    "usage: quorvel-emit cef  --config FILE --logger NAME [--module NAME] [--set Field=value]... [--print]\n"
    "       quorvel-emit xdas --config FILE --logger NAME [--module NAME] [--set field.path=value]...\n"
    "                         [--assertion key=value]... [--data key=value]... [--print]\n"
    "       quorvel-emit cef|xdas --list-fields\n"
    "\n"
    "Initialises logging with initSyslog(FILE, module) (the module defaults to\n"
    "\"XDAS-\", what initXDAS uses), builds one event from the --set options and\n"
    "logs it under the log4cxx logger NAME, exactly as a server would.\n"
    "\n"
    "  --set Field=value   CEF fields by setter name (SourceUserName) or CEF key\n"
    "                      (suser); XDAS fields by path (initiator.account.Name,\n"
    "                      action.log.Severity). --list-fields shows them all.\n"
    "  --assertion k=v     an XDAS initiator assertion (repeatable)\n"
    "  --data k=v          an XDAS target data item (repeatable)\n"
    "  --print             also write the logged line to standard output\n"
    "  --verbose           show log4cxx's own diagnostics\n"
    "\n"
    "Exit status: 0 logged; 1 the configuration failed or nothing was logged\n"
    "(level disabled, CEF severity outside 1, 2, 4, 6, 8); 2 usage error,\n"
    "unknown field or bad number (nothing is logged then).\n";

enum class Kind { Cef, Xdas };

struct Options {
    Kind kind = Kind::Cef;
    std::string config;
    std::string logger;
    std::string module = "XDAS-";
    std::vector<quorvel_tools::Assignment> sets;
    std::map<std::string, std::string> assertions;
    std::map<std::string, std::string> data;
    bool print = false;
    bool verbose = false;
    bool listFields = false;
};

quorvel_tools::Assignment assignmentOf(const std::string& option, const std::string& text) {
    const auto assignment = quorvel_tools::parseAssignment(text);
    if (!assignment) throw ToolError{option + " " + text + ": expected name=value"};
    return *assignment;
}

Options parseOptions(quorvel_tools::Arguments args) {
    if (args.done()) throw ToolError{"missing event kind, cef or xdas (see --help)"};
    const std::string kind = args.next();
    if (quorvel_tools::asksForHelp(kind)) throw quorvel_tools::HelpAsked{kUsage};
    if (kind != "cef" && kind != "xdas") throw ToolError{"unknown event kind " + kind + ", expected cef or xdas"};
    Options options;
    options.kind = kind == "cef" ? Kind::Cef : Kind::Xdas;
    std::optional<std::string> config, logger;
    while (!args.done()) {
        const std::string arg = args.next();
        const auto value = [&] { return args.valueOf(arg); };
        if (arg == "--config")
            config = value();
        else if (arg == "--logger")
            logger = value();
        else if (arg == "--module")
            options.module = value();
        else if (arg == "--set")
            options.sets.push_back(assignmentOf(arg, value()));
        else if (arg == "--print")
            options.print = true;
        else if (arg == "--verbose")
            options.verbose = true;
        else if (arg == "--list-fields")
            options.listFields = true;
        else if (quorvel_tools::asksForHelp(arg)) {
            throw quorvel_tools::HelpAsked{kUsage};
        } else if (options.kind == Kind::Xdas && (arg == "--assertion" || arg == "--data")) {
            const auto item = assignmentOf(arg, value());
            (arg == "--assertion" ? options.assertions : options.data)[item.name] = item.value;
        } else {
            throw ToolError{"unknown option " + arg + " for " + kind + " events (see --help)"};
        }
    }
    if (options.listFields) return options;
    if (!config) throw ToolError{"--config FILE is required (see --help)"};
    if (!logger) throw ToolError{"--logger NAME is required (see --help)"};
    options.config = *config;
    options.logger = *logger;
    return options;
}

void listFields(Kind kind) {
    if (kind == Kind::Cef) {
        const auto list = [](const quorvel::CefField& field) {
            if (quorvel_tools::findSettableCefField(field.name) == nullptr) return; // the construction stamps
            std::cout << field.name;
            if (!field.key.empty() && field.key != field.name) std::cout << " (" << field.key << ")";
            if (field.key.empty()) std::cout << " (stored only, never in the line)";
            if (field.kind != quorvel::CefFieldKind::Text) std::cout << ": number";
            std::cout << '\n';
        };
        std::for_each(quorvel::CefFieldTable.begin(), quorvel::CefFieldTable.end(), list);
        std::for_each(quorvel::CefStoredFields.begin(), quorvel::CefStoredFields.end(), list);
    } else {
        for (const quorvel_tools::XdasFieldName& field : quorvel_tools::xdasFieldNames())
            std::cout << field.name << (field.numeric ? ": number" : "") << '\n';
    }
}

void setXdas(I_XDAS_Event& event, const quorvel_tools::Assignment& set) {
    const quorvel_tools::XdasFieldName* field = quorvel_tools::findXdasField(set.name);
    if (field == nullptr) throw ToolError{"--set " + set.name + ": no XDAS field has that name (see --list-fields)"};
    int number = 0;
    if (field->numeric) {
        const auto parsed = quorvel_tools::parseNumber<int>(set.value);
        if (!parsed) throw ToolError{"--set " + set.name + "=" + set.value + ": not a decimal int"};
        number = *parsed;
    }
    field->set(event, set.value, number);
}

// Why an event of `level` logged under `logger` reached no appender of ours.
std::string whyNotLogged(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level) {
    if (!level) return "its CEF severity selects no level (use 1, 2, 4, 6 or 8)";
    return "logger " + logger->getName() + " does not enable level " + level->toString() + " (its level is " +
           logger->getEffectiveLevel()->toString() + ")";
}

// True when some configured appender receives what `logger` logs.
bool hasConfiguredAppender(log4cxx::LoggerPtr logger, const log4cxx::AppenderPtr& ours) {
    for (; logger; logger = logger->getParent()) {
        for (const auto& appender : logger->getAllAppenders())
            if (appender != ours) return true;
        if (!logger->getAdditivity()) break;
    }
    return false;
}

// The event the options describe, of either kind. Every field is set before
// anything is configured, so that a bad option logs nothing.
struct Events {
    CEF_EVENT cef;
    std::unique_ptr<I_XDAS_Event, decltype(&destroy)> xdas{create(), &destroy};
};

void fillEvent(const Options& options, Events& events) {
    for (const quorvel_tools::Assignment& set : options.sets) {
        if (options.kind == Kind::Cef)
            quorvel_tools::setCefField(events.cef, set, " (see --list-fields)");
        else
            setXdas(*events.xdas, set);
    }
    if (!options.assertions.empty()) events.xdas->getInitiator()->setAssertions(options.assertions);
    if (!options.data.empty()) events.xdas->getTarget()->setData(options.data);
}

// Initialises logging from the options' configuration; a configuration that
// cannot be applied ends the tool (status 1), a host name that does not
// resolve is only told.
void initialise(const Options& options) {
    log4cxx::helpers::LogLog::setQuietMode(!options.verbose);
    const int status = initSyslog(options.config, options.module);
    if (status == 1) throw ToolError{"cannot read or apply the log4cxx configuration " + options.config, 1};
    if (status != 0) {
        std::cerr << kProgram << ": warning: the host name does not resolve (" << gai_strerror(status)
                  << "); XDAS records will lack the observer's SysName\n";
    }
}

// Logs the event through the options' logger and returns what reached it;
// nothing reaching it ends the tool (status 1), no configured appender
// receiving it is only told.
std::vector<std::string> logEvent(const Options& options, Events& events) {
    const log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(options.logger);
    const auto capture = std::make_shared<quorvel_tools::EmitCapture>();
    logger->addAppender(capture);
    log4cxx::LevelPtr level;
    if (options.kind == Kind::Cef) {
        level = quorvel::cefSeverityLevel(events.cef.getSeverity());
        events.cef.CEF_Log(options.logger);
    } else {
        const int severity = events.xdas->getAction()->getLog()->getSeverity();
        level = quorvel::xdasSeverityLevel(quorvel::normaliseXdasSeverity(severity));
        events.xdas->XDAS_Log(options.logger);
    }
    logger->removeAppender(capture);
    if (capture->messages().empty()) throw ToolError{"nothing logged: " + whyNotLogged(logger, level), 1};
    if (!hasConfiguredAppender(logger, capture)) {
        std::cerr << kProgram << ": warning: logged, but no appender in " << options.config << " receives logger "
                  << options.logger << '\n';
    }
    return capture->messages();
}

int run(const Options& options) {
    if (options.listFields) {
        listFields(options.kind);
        return 0;
    }
    Events events;
    fillEvent(options, events);
    initialise(options);
    const std::vector<std::string> logged = logEvent(options, events);
    if (options.print) {
        for (const std::string& message : logged)
            std::cout << message << '\n';
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    quorvel_tools::colourLog4cxxDiagnosticsOnlyOnATerminal();
    return quorvel_tools::runTool(kProgram, [&] { return run(parseOptions({argc, argv})); });
}
