#include "capturing_appender.h"

#include <gtest/gtest.h>
#include <log4cxx/logger.h>

namespace quorvel_test {

// What IMPLEMENT_LOG4CXX_OBJECT defines, written out because that macro only
// works at global scope. The registration lets properties files name the
// class.
const log4cxx::helpers::Class& CapturingAppender::getClass() const { return getStaticClass(); }
const log4cxx::helpers::Class& CapturingAppender::getStaticClass() {
    static ClazzCapturingAppender theClass;
    return theClass;
}
const log4cxx::helpers::ClassRegistration& CapturingAppender::registerClass() {
    static log4cxx::helpers::ClassRegistration registration(CapturingAppender::getStaticClass);
    return registration;
}
namespace {
const log4cxx::helpers::ClassRegistration& capturingAppenderRegistration = CapturingAppender::registerClass();
} // namespace

CapturingAppender::CapturingAppender() = default;

void CapturingAppender::append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) {
    CapturedLine line{event->getLoggerName(), event->getLevel()->toString(), event->getRenderedMessage()};
    const std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
}

std::vector<CapturedLine> CapturingAppender::lines() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<CapturedLine> capturedLines(const std::string& appenderName) {
    const auto appender = log4cxx::Logger::getRootLogger()->getAppender(appenderName);
    const auto capturing = log4cxx::cast<CapturingAppender>(appender);
    if (!capturing) {
        ADD_FAILURE() << "no capturing appender named " << appenderName << " on the root logger";
        return {};
    }
    return capturing->lines();
}

std::string testDataPath(const std::string& fileName) { return std::string(QUORVEL_TEST_DATA_DIR) + "/" + fileName; }

} // namespace quorvel_test
