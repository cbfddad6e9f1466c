#include "logging/log_emitter.h"

#include "logging/line_observer.h"
#include "logging/severity_levels.h"

#include <log4cxx/hierarchy.h>
#include <log4cxx/logmanager.h>

#include <algorithm>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace quorvel {

namespace {

#if LOG4CXX_LOGCHAR_IS_UTF8
// What log4cxx's LogManager::getLoggerLS(name) gives: the logger of that name
// in the current repository, which is configured first if it is not, and
// which makes the logger if it has none. log4cxx's way wraps the configuring
// in a std::function on every call (an allocation) and fetches the root
// logger for a logger it might make. Where the repository is log4cxx's own
// Hierarchy, is configured and has the logger, the same logger is found
// without those steps; any other case takes log4cxx's way.
log4cxx::LoggerPtr loggerNamedLS(const std::string& name) {
    const log4cxx::spi::LoggerRepositoryPtr current = log4cxx::LogManager::getLoggerRepository();
    log4cxx::spi::LoggerRepository* const repository = current.get();
    if (repository && typeid(*repository) == typeid(log4cxx::Hierarchy) && repository->isConfigured())
        if (log4cxx::LoggerPtr logger = repository->exists(name)) return logger;
    return log4cxx::LogManager::getLoggerLS(name);
}
#endif

} // namespace

log4cxx::LoggerPtr loggerNamed(const std::string& name) {
#if LOG4CXX_LOGCHAR_IS_UTF8
    // log4cxx decodes a name from the process's charset into its own UTF-8
    // text first, which costs about a third of the lookup. Bytes 0x01 to 0x7F
    // decode to themselves in every charset the C library offers, so such a
    // name is handed over as it is; any other name takes log4cxx's decoding.
    const bool plainAscii = std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte != 0 && byte < 0x80;
    });
    if (plainAscii) return loggerNamedLS(name);
#endif
    return log4cxx::Logger::getLogger(name);
}

namespace {

// Whether this log4cxx's Logger takes a line that it may keep
// (addEvent(level, std::string&&, location), in the releases after 1.0).
template <class Logger, class = void> struct TakesLineToKeep : std::false_type {};
template <class Logger>
struct TakesLineToKeep<Logger, std::void_t<decltype(std::declval<const Logger&>().addEvent(
                                   std::declval<const log4cxx::LevelPtr&>(), std::declval<std::string&&>(),
                                   std::declval<const log4cxx::spi::LocationInfo&>()))>> : std::true_type {};

// Whether log4cxx copies the line it is handed, so that the string it was
// rendered into can be kept for the next.
constexpr bool kLog4cxxCopiesLine = !(LOG4CXX_LOGCHAR_IS_UTF8 && TakesLineToKeep<log4cxx::Logger>::value);

template <class Logger>
void handOver(const Logger& logger, const log4cxx::LevelPtr& level, std::string& line,
              const log4cxx::spi::LocationInfo& location) {
#if LOG4CXX_LOGCHAR_IS_UTF8
    // log4cxx keeps its text as UTF-8 bytes here, and the line's bytes are the
    // message as they are: handed over unconverted, moved into the event
    // where log4cxx takes it so, copied into it otherwise. forcedLog would
    // first decode the line from the process's locale, which under the "C"
    // locale turns every byte from 0x80 up into "?".
    if constexpr (TakesLineToKeep<Logger>::value)
        logger.addEvent(level, std::move(line), location);
    else
        logger.forcedLogLS(level, line, location);
#else
    logger.forcedLog(level, line, location);
#endif
}

// The calling thread's string for its lines, made by its first line and
// released when the thread ends. Trivially destructible, so that a call made
// after the release (by an exit handler, or by the destructor of an object
// the thread made before its first line) still reads that it is gone.
struct KeptLine {
    std::string* text;
    bool inUse;
    bool released;
};
thread_local KeptLine keptLine{};

struct KeptLineRelease {
    ~KeptLineRelease() {
        delete keptLine.text;
        keptLine = KeptLine{nullptr, false, true};
    }
};

std::string* makeKeptLine() {
    thread_local KeptLineRelease release; // at the thread's end
    return new std::string;
}

} // namespace

LineString::LineString() : text_(&own_) {
    if constexpr (kLog4cxxCopiesLine) {
        KeptLine& kept = keptLine;
        if (kept.inUse || kept.released) return;
        if (kept.text == nullptr) kept.text = makeKeptLine();
        kept.inUse = true;
        text_ = kept.text;
    }
}

LineString::~LineString() {
    if (text_ == &own_) return;
    // A thread that logged one long line does not hold its memory for good.
    if (text_->capacity() > kKeptLineCapacity) std::string().swap(*text_);
    keptLine.inUse = false;
}

void emitLine(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, LineString& line,
              const log4cxx::spi::LocationInfo& location) {
    if (LineObserver* observer = lineObserver()) observer->observe(line.text());
    // The logging macros stream the message into a MessageBuffer first, which
    // only copies it; the line is handed over directly instead.
    handOver(*logger, level, line.text(), location);
}

void emitSealLine(const std::string& loggerName, std::string&& line) {
    handOver(*loggerNamed(loggerName), severityLevels().info, line, QUORVEL_LOCATION);
}

} // namespace quorvel
