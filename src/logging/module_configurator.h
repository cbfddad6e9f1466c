// A property-file configurator that knows the module it configured for.
#pragma once

#include <log4cxx/file.h>

#include <string>

namespace quorvel {

// Reads the properties file, makes `moduleName` available to it as the
// variable ${quorvel.module}, and applies it with log4cxx's property
// configurator. Returns 0 when the file was read and applied, whatever
// appenders it adds or leaves out; 1 when it cannot be read (missing, a
// directory, no permission).
int configureForModule(const log4cxx::File& file, std::string moduleName);

// The module of the last successful configureForModule(), or the empty
// string before any. Safe to call from any thread.
std::string configuredModuleName();

} // namespace quorvel
