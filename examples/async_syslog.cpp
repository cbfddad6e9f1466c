// Audit lines handed to the appenders on a background thread: an AsyncAppender
// in front of whatever the properties file attached to the root logger.
//
// From log4cxx 1.6 on, a properties file asks for this itself with
// log4j.asynchronous.root=true (examples/log4cxx-async.properties). Before 1.6
// the properties configurator can create an AsyncAppender but cannot attach
// another appender to it (only the XML configurator can), so a host that wants
// one wraps the root logger's appenders itself, once, right after initSyslog
// and before it logs. It leaves them as they are when the file already put
// them behind an AsyncAppender.
//
//   quorvel-async-example examples/log4cxx-syslog.properties
#include <quorvel/quorvel.h>

#include <log4cxx/asyncappender.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>

#include <cstdio>
#include <memory>

// Moves every appender of the root logger behind one AsyncAppender. Blocking
// makes a caller wait when the buffer is full instead of dropping events.
void putRootAppendersBehindAsync() {
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    for (const log4cxx::AppenderPtr& appender : root->getAllAppenders())
        if (log4cxx::cast<log4cxx::AsyncAppender>(appender)) return;
    const auto async = std::make_shared<log4cxx::AsyncAppender>();
    async->setName(LOG4CXX_STR("ASYNC"));
    async->setBufferSize(4096);
    async->setBlocking(true);
    for (const log4cxx::AppenderPtr& appender : root->getAllAppenders()) {
        async->addAppender(appender);
        root->removeAppender(appender);
    }
    log4cxx::helpers::Pool pool;
    async->activateOptions(pool);
    root->addAppender(async);
}

int main(int argc, char** argv) {
    const char* config = argc > 1 ? argv[1] : "examples/log4cxx-syslog.properties";
    if (initSyslog(config, "async-example") == 1) {
        std::fprintf(stderr, "cannot apply %s\n", config);
        return 1;
    }
    putRootAppendersBehindAsync();

    CEF_EVENT event;
    event.setDeviceVendor("ExampleVendor");
    event.setDeviceProduct("ExampleProduct");
    event.setSignatureID("100");
    event.setName("Login");
    event.setSeverity(4);
    event.setSourceUserName("user1");
    event.CEF_Log("audit.cef");

    // Drains the buffer and closes the appenders before the process ends; a
    // sealed session's last seal goes out first.
    closeSealedSession();
    log4cxx::LogManager::shutdown();
    return 0;
}
