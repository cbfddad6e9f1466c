// The XDAS record as logged: whole lines, compared with records written out
// by hand, at the level each severity selects.
#include "capturing_appender.h"
#include "xdas_record_writer.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <memory>
#include <regex>

namespace {

using quorvel_test::capturedLines;
using quorvel_test::testDataPath;

struct EventDeleter {
    void operator()(I_XDAS_Event* event) const { destroy(event); }
};
using EventPtr = std::unique_ptr<I_XDAS_Event, EventDeleter>;

EventPtr makeEvent() { return EventPtr(create()); }

// The record of `event` at the fixed time 1700000000, without host name.
std::string recordAt1700000000(I_XDAS_Event& event, std::string_view hostName = {}) {
    std::string out;
    quorvel::writeXdasRecord(event, hostName, 1700000000, out);
    return out;
}

// Replaces the logged "Offset" (the clock) by 1700000000 after checking it is
// the current time.
std::string withFixedOffset(const std::string& line) {
    static const std::regex offset(R"("Offset" : (-?\d+))");
    std::smatch match;
    EXPECT_TRUE(std::regex_search(line, match, offset)) << line;
    if (match.empty()) return line;
    EXPECT_NEAR(std::stoll(match[1]), static_cast<long long>(std::time(nullptr)), 5);
    return std::regex_replace(line, offset, "\"Offset\" : 1700000000");
}

void fillWorkedExample(I_XDAS_Event& event) {
    event.setId("42");
    event.setSource("audit-svc");
    I_XDASObserver* observer = event.getObserver();
    observer->getAccount()->setDomain("d1");
    observer->getAccount()->setName("server");
    observer->getAccount()->setId("7");
    observer->getEntity()->setSysAddr("10.0.0.1");
    observer->getEntity()->setSvcName("svc");
    observer->getEntity()->setSvcComp("comp");
    event.getInitiator()->getAccount()->setName("alice");
    event.getInitiator()->getEntity()->setSysAddr("10.0.0.2");
    event.getInitiator()->setAssertions({{"role", "admin"}, {"x", ""}});
    event.getTarget()->setData({{"attr", "mail"}});
    event.getTarget()->getAccount()->setName("bob");
    event.getAction()->getEvnt()->setId("0.0.0.1");
    event.getAction()->getEvnt()->setName("LOGIN");
    event.getAction()->getLog()->setSeverity(7);
    event.getAction()->setOutcome("0");
}

const char* const kWorkedExample =
    R"( {"Id" : "42","Source" : "audit-svc","Observer" : {"Account" : {"Domain" : "d1","Name" : "server","Id" : "7"},)"
    R"("Entity" : {"SysAddr" : "10.0.0.1","SysName" : "hostA","SvcName" : "svc","SvcComp" : "comp"}},)"
    R"("Initiator" : {"Account" : {"Name" : "alice"},"Entity" : {"SysAddr" : "10.0.0.2"},)"
    R"("Assertions" : {"role" : "admin"}},"Target" : {"Data" : {"attr" : "mail"},"Account" : {"Name" : "bob"}},)"
    R"("Action" : {"Event" : {"Id" : "0.0.0.1","Name" : "LOGIN"},"Time" : {"Offset" : 1700000000},)"
    R"("Log" : {"Severity" : 7},"Outcome" : "0"}})";

TEST(XdasRecord, WorkedExampleIsWrittenByteForByte) {
    const EventPtr event = makeEvent();
    fillWorkedExample(*event);
    EXPECT_EQ(recordAt1700000000(*event, "hostA"), kWorkedExample);
}

TEST(XdasRecord, WorkedExampleIsLoggedAtInfoUnderTheNamedLogger) {
    ASSERT_EQ(initXDAS(testDataPath("capture_info.properties")), 0);
    const EventPtr event = makeEvent();
    fillWorkedExample(*event);
    EXPECT_EQ(event->XDAS_Log("audit.xdas"), 0);
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].logger, "audit.xdas");
    EXPECT_EQ(lines[0].level, "INFO");
    std::string expected = kWorkedExample;
    expected.replace(expected.find("hostA"), 5, getCEFHostName());
    if (getCEFHostName().empty()) expected.replace(expected.find(",\"SysName\" : \"\""), 15, "");
    EXPECT_EQ(withFixedOffset(lines[0].message), expected);
}

} // namespace
