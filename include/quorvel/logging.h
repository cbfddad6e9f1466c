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

} // extern "C"

#ifdef __clang__
#pragma clang diagnostic pop
#endif
