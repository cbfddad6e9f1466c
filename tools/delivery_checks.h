// What each kind of log4cxx appender needs to deliver a line now, checked on
// this host: a file that can be written and the space left for it, the local
// syslog socket present and reading, a UDP target on this host listening, an
// asynchronous buffer's mode. What cannot be known from here (a remote UDP
// target) is said to be unknown.
#pragma once

#include <log4cxx/appender.h>
#include <log4cxx/helpers/properties.h>

#include <string>
#include <vector>

namespace quorvel_tools {

enum class Delivery { Can, Cannot, Unknown };

struct AppenderCheck {
    std::string name; // the appender's name in the properties file
    std::string kind; // its log4cxx class
    Delivery delivery = Delivery::Unknown;
    std::string findings; // what was checked and found, for people
    int depth = 0;        // 1 for an appender behind an AsyncAppender, ...
};

// Checks `appender`, which `properties` (the file it came from) may describe,
// and, behind an AsyncAppender, the appenders it feeds (each after it, one
// level deeper).
std::vector<AppenderCheck> checkAppender(const log4cxx::AppenderPtr& appender,
                                         const log4cxx::helpers::Properties& properties, int depth = 0);

} // namespace quorvel_tools
