#include "logging/module_properties.h"

#include <log4cxx/helpers/exception.h>
#include <log4cxx/helpers/fileinputstream.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/propertyconfigurator.h>

#include <memory>

namespace quorvel {

bool readProperties(const log4cxx::File& file, log4cxx::helpers::Properties& properties) {
    try {
        properties.load(std::make_shared<log4cxx::helpers::FileInputStream>(file));
        return true;
    } catch (const log4cxx::helpers::IOException&) {
        return false;
    }
}

void configureForModule(log4cxx::helpers::Properties& properties, const std::string& moduleName) {
    properties.setProperty(LOG4CXX_STR("quorvel.module"), moduleName);
    // log4cxx applies the properties one by one and skips what it cannot
    // build. Its status says only whether an appender was added (log4cxx 1.8
    // reports a file of levels alone as not configured, 1.0 as configured),
    // so it is not the answer: a file that was read has been applied. The
    // repository is marked configured either way, so that log4cxx's
    // configure-on-first-use never replaces what the file set.
    log4cxx::PropertyConfigurator::configure(properties);
    log4cxx::LogManager::getLoggerRepository()->setConfigured(true);
}

} // namespace quorvel
