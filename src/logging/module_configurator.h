// A property-file configurator that knows the module it configured for.
#pragma once

#include <log4cxx/file.h>

#include <string>

namespace quorvel {

// Reads the properties file, makes `moduleName` available to it as the
// variable ${quorvel.module}, and applies it with log4cxx's property
// configurator. True when the file was read and applied, whatever appenders
// it adds or leaves out; false when it cannot be read (missing, a directory,
// no permission). Stores nothing: the module in force is the initialisation
// state's.
bool configureForModule(const log4cxx::File& file, const std::string& moduleName);

} // namespace quorvel
