// A module's log4cxx properties: the file read, and applied with the
// module's name available to it.
#pragma once

#include <log4cxx/file.h>
#include <log4cxx/helpers/properties.h>

#include <string>

namespace quorvel {

// Reads the properties file into `properties`; false when it cannot be read
// (missing, a directory, no permission).
bool readProperties(const log4cxx::File& file, log4cxx::helpers::Properties& properties);

// Makes `moduleName` available to the properties as the variable
// ${quorvel.module} and applies them with log4cxx's property configurator,
// whatever appenders they add or leave out. Stores nothing: the module in
// force is the initialisation state's.
void configureForModule(log4cxx::helpers::Properties& properties, const std::string& moduleName);

} // namespace quorvel
