// Logging back end: one-time initialisation of log4cxx, the cached host name,
// and the two probes a caller may ask before building an event.
//
// These functions have plain, unmangled symbol names, yet take and return
// standard strings.
#pragma once

#include <string>

#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" {

// Configures log4cxx from the properties file `configPath` under `moduleName`
// (visible to the file as ${quorvel.module}) and caches the host's canonical
// name. Only the first successful call configures anything. Returns:
//   0  success, or already initialised under the same module name;
//   1  the properties file could not be read or applied (retry is allowed);
//   2  already initialised under a different module name;
//   otherwise the resolver's (negative) EAI_ code: logging is configured but
//   the host name stays empty.
// A file that is read is applied whatever it holds: an appender log4cxx
// cannot open (a log file in a missing directory) still gives 0, and drops
// what it is given; quorvel-preflight checks each appender's way out.
// Throws only when memory runs out.
int initSyslog(std::string configPath, std::string moduleName);

// initSyslog(configPath, "XDAS-").
int initXDAS(std::string configPath);

// The host's canonical name cached by the first successful initialisation;
// empty before it, and for good if the lookup failed.
std::string getCEFHostName();

// True when a CEF event of `severity` (1 TRACE, 2 DEBUG, 4 INFO, 6 WARN,
// 8 ERROR) would pass the root logger's effective level; false for any other
// code.
bool checkEventSeverity(int severity);

// True when at least one appender is attached to the root logger itself.
bool isAppenderEnabled();

// With sealing on (quorvel.seal=on in the properties file): writes the
// session's last seal, marked as its end, now, on the caller's thread. The
// library does this itself when the process exits normally; a host that
// shuts log4cxx down first (log4cxx::LogManager::shutdown(), which drains an
// AsyncAppender) calls this just before, or the trail ends without it. A line
// logged later gets a last seal of its own. Does nothing when sealing is off,
// and in a forked child that has not logged. Throws only when memory runs
// out; a seal log4cxx cannot write is lost like any line.
void closeSealedSession();

} // extern "C"

#ifdef __clang__
#pragma clang diagnostic pop
#endif
