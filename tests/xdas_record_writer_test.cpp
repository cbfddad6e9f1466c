// The XDAS record as logged: whole lines, compared with records written out
// by hand, at the level each severity selects.
#include "capturing_appender.h"
#include "fake_resolver.h"
#include "stamps.h"
#include "worked_examples.h"
#include "xdas/xdas_record_writer.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <log4cxx/propertyconfigurator.h>

#include <clocale>
#include <cmath>
#include <utility>
#include <vector>

namespace {

namespace fake = quorvel_test::fake_resolver;
using quorvel_test::capturedLines;
using quorvel_test::testDataPath;
using quorvel_test::withFixedStamps;
using quorvel_test::XdasEventPtr;

// The record of `event` at the fixed time 1700000000.
std::string recordAt1700000000(I_XDAS_Event& event, std::string_view hostName = {}) {
    std::string out;
    quorvel::writeXdasRecord(event, hostName, 1700000000, out);
    return out;
}

// Initialises logging from `propertiesFile` with the host name "hostA", or
// with no host name when `hostName` is empty.
void initialise(const std::string& propertiesFile, const std::string& hostName) {
    if (hostName.empty()) {
        fake::failHostName();
    } else {
        fake::answerHostName(hostName);
        fake::answerCanonicalName(hostName);
    }
    ASSERT_EQ(initXDAS(testDataPath(propertiesFile)), 0);
}

const char* const kWorkedExample =
    R"( {"Id" : "42","Source" : "audit-svc","Observer" : {"Account" : {"Domain" : "d1","Name" : "server","Id" : "7"},)"
    R"("Entity" : {"SysAddr" : "10.0.0.1","SysName" : "hostA","SvcName" : "svc","SvcComp" : "comp"}},)"
    R"("Initiator" : {"Account" : {"Name" : "alice"},"Entity" : {"SysAddr" : "10.0.0.2"},)"
    R"("Assertions" : {"role" : "admin"}},"Target" : {"Data" : {"attr" : "mail"},"Account" : {"Name" : "bob"}},)"
    R"("Action" : {"Event" : {"Id" : "0.0.0.1","Name" : "LOGIN"},"Time" : {"Offset" : 1700000000},)"
    R"("Log" : {"Severity" : 7},"Outcome" : "0"}})";

TEST(XdasRecord, WorkedExampleIsWrittenByteForByte) {
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    quorvel_test::fillXdasWorkedExample(*event);
    EXPECT_EQ(recordAt1700000000(*event, "hostA"), kWorkedExample);
}

TEST(XdasRecord, WorkedExampleIsLoggedAtInfoUnderTheNamedLogger) {
    initialise("capture_info.properties", "hostA");
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    quorvel_test::fillXdasWorkedExample(*event);
    EXPECT_EQ(event->XDAS_Log("audit.xdas"), 0);
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].logger, "audit.xdas");
    EXPECT_EQ(lines[0].level, "INFO");
    EXPECT_EQ(withFixedStamps(lines[0].message), kWorkedExample);
}

TEST(XdasRecord, EveryFieldInItsPlace) {
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->setId("i");
    event->setSource("s");
    const auto fill = [](I_XDASAcc* account, I_XDASEntity* entity, const std::string& p) {
        account->setDomain(p + "d");
        account->setName(p + "n");
        account->setId(p + "i");
        entity->setSysAddr(p + "a");
        entity->setSysName(p + "s");
        entity->setSvcName(p + "sv");
        entity->setSvcComp(p + "c");
    };
    fill(event->getObserver()->getAccount(), event->getObserver()->getEntity(), "o");
    fill(event->getInitiator()->getAccount(), event->getInitiator()->getEntity(), "i");
    fill(event->getTarget()->getAccount(), event->getTarget()->getEntity(), "t");
    event->getInitiator()->setAssertions({{"a", "1"}, {"B", "2"}});
    event->getTarget()->setData({{"d", "4"}});
    I_XDASAction* action = event->getAction();
    action->getEvnt()->setId("ei");
    action->getEvnt()->setName("en");
    action->getEvnt()->setCorrelationID("ec");
    action->getEvnt()->setSubEvent("es");
    action->getLog()->setSeverity(5);
    action->setOutcome("oo");
    action->setExtendedOutcome("eo");
    action->setDetails("dd");
    EXPECT_EQ(recordAt1700000000(*event, "hostA"),
              R"( {"Id" : "i","Source" : "s","Observer" : {"Account" : {"Domain" : "od","Name" : "on","Id" : "oi"},)"
              R"("Entity" : {"SysAddr" : "oa","SysName" : "hostA","SvcName" : "osv","SvcComp" : "oc"}},)"
              R"("Initiator" : {"Account" : {"Domain" : "id","Name" : "in","Id" : "ii"},)"
              R"("Entity" : {"SysAddr" : "ia","SysName" : "is","SvcName" : "isv","SvcComp" : "ic"},)"
              R"("Assertions" : {"B" : "2","a" : "1"}},)"
              R"("Target" : {"Data" : {"d" : "4"},"Account" : {"Domain" : "td","Name" : "tn","Id" : "ti"},)"
              R"("Entity" : {"SysAddr" : "ta","SysName" : "ts","SvcName" : "tsv","SvcComp" : "tc"}},)"
              R"("Action" : {"Event" : {"Id" : "ei","Name" : "en","CorrelationID" : "ec","SubEvent" : "es"},)"
              R"("Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 5},)"
              R"("Outcome" : "oo","ExtendedOutcome" : "eo","Details" : "dd"}})");
}

// Logging configured directly, without initialisation: no host name.
TEST(XdasRecord, FreshEventWithSeverityFourIsLoggedAtError) {
    log4cxx::PropertyConfigurator::configure(log4cxx::File(testDataPath("capture_info.properties")));
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->getAction()->getLog()->setSeverity(4);
    EXPECT_EQ(event->XDAS_Log("audit"), 0);
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, "ERROR");
    EXPECT_EQ(withFixedStamps(lines[0].message),
              R"( {"Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 4}}})");
}

TEST(XdasRecord, CachedHostNameIsTheObserverSysName) {
    initialise("capture_info.properties", "hostA");
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->getAction()->getLog()->setSeverity(4);
    event->XDAS_Log("audit");
    // The observer entity's own SysName is never shown; the others' are.
    event->getObserver()->getEntity()->setSysName("own-name");
    event->getInitiator()->getEntity()->setSysName("ini-host");
    event->getTarget()->getEntity()->setSysName("tgt-host");
    event->XDAS_Log("audit");
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(withFixedStamps(lines[0].message),
              R"( {"Observer" : {"Entity" : {"SysName" : "hostA"}},)"
              R"("Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 4}}})");
    EXPECT_EQ(
        withFixedStamps(lines[1].message),
        R"( {"Observer" : {"Entity" : {"SysName" : "hostA"}},"Initiator" : {"Entity" : {"SysName" : "ini-host"}},)"
        R"("Target" : {"Entity" : {"SysName" : "tgt-host"}},)"
        R"("Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 4}}})");
}

TEST(XdasRecord, ObserverOwnSysNameIsIgnoredWithoutHostName) {
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->getObserver()->getEntity()->setSysName("own-name");
    event->getObserver()->getEntity()->setSvcName("svc");
    EXPECT_EQ(recordAt1700000000(*event), R"( {"Observer" : {"Entity" : {"SvcName" : "svc"}},)"
                                          R"("Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 7}}})");
}

TEST(XdasRecord, EmptyAssertionsAndEmptyTargetAreLeftOut) {
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->getInitiator()->getAccount()->setId("u1");
    event->getInitiator()->setAssertions({{"a", ""}, {"b", ""}});
    event->getTarget()->setData({{"attr", ""}});
    event->getTarget()->getAccount()->setName("");
    EXPECT_EQ(recordAt1700000000(*event), R"( {"Initiator" : {"Account" : {"Id" : "u1"}},)"
                                          R"("Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 7}}})");
}

TEST(XdasRecord, EveryEscapeRule) {
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->setId("a\"b\\c/d");
    event->setSource("\b\f\n\r\t");
    event->getInitiator()->setAssertions({{"", "empty key"}, {"k\"", "v\n"}});
    event->getAction()->setDetails(std::string("\x01x\x7F\x1F\0", 5));
    EXPECT_EQ(recordAt1700000000(*event), R"( {"Id" : "a\"b\\c/d","Source" : "\b\f\n\r\t",)"
                                          R"("Initiator" : {"Assertions" : {"" : "empty key","k\"" : "v\n"}},)"
                                          R"("Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 7},)"
                                          R"("Details" : "\u0001x\u007F\u001F\u0000"}})");
}

TEST(XdasRecord, Utf8RecordUnderUtf8Locale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->getAction()->setDetails("caf\xC3\xA9 \xE2\x82\xAC \xE9!");
    EXPECT_EQ(recordAt1700000000(*event),
              " {\"Action\" : {\"Time\" : {\"Offset\" : 1700000000},\"Log\" : {\"Severity\" : 7},"
              "\"Details\" : \"caf\xC3\xA9 \xE2\x82\xAC \\u00E9!\"}}");
}

TEST(XdasRecord, ClockBeyondYear2038IsWrittenInFull) {
    const XdasEventPtr event = quorvel_test::createXdasEvent();
    event->getAction()->getLog()->setSeverity(3);
    std::string out;
    quorvel::writeXdasRecord(*event, {}, 2147483648, out);
    EXPECT_EQ(out, R"( {"Action" : {"Time" : {"Offset" : 2147483648},"Log" : {"Severity" : 3}}})");
    quorvel::writeXdasRecord(*event, {}, 4102444800, out);
    EXPECT_EQ(out, R"( {"Action" : {"Time" : {"Offset" : 4102444800},"Log" : {"Severity" : 3}}})");
}

// XDAS_Log goes through the virtual Write_Event_Array.
TEST(XdasRecord, XdasLogHonoursAnOverride) {
    struct Recording : XDAS_Event {
        void Write_Event_Array(std::string loggerName) override { names.push_back(loggerName); }
        std::vector<std::string> names;
    } event;
    EXPECT_EQ(event.XDAS_Log("audit.override"), 0);
    EXPECT_EQ(event.names, std::vector<std::string>{"audit.override"});
}

// The record reads the event through its virtual getters.
TEST(XdasRecord, OverriddenGettersAreHonoured) {
    struct Overriding : XDAS_Event {
        std::string getSource() override { return "from-override"; }
    } event;
    event.setSource("stored");
    EXPECT_EQ(
        recordAt1700000000(event),
        R"( {"Source" : "from-override","Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 7}}})");
}

// Components of classes derived from the library's own are read through
// their getters, not in place.
TEST(XdasRecord, DerivedComponentsAreReadThroughTheirGetters) {
    struct Acc : XDASAcc {
        std::string getName() override { return "acc"; }
    };
    struct Entity : XDASEntity {
        std::string getSvcName() override { return "svc"; }
    };
    struct Evnt : XDASEvnt {
        std::string getName() override { return "evnt"; }
    };
    struct Action : XDASAction {
        I_XDASEvnt* getEvnt() override { return &evnt; }
        std::string getDetails() override { return "details"; }
        Evnt evnt;
    };
    struct Initiator : XDASInitiator {
        I_XDASAcc* getAccount() override { return &acc; }
        I_XDASEntity* getEntity() override { return &entity; }
        Acc acc;
        Entity entity;
    };
    struct Event : XDAS_Event {
        I_XDASInitiator* getInitiator() override { return &initiator; }
        I_XDASAction* getAction() override { return &action; }
        Initiator initiator;
        Action action;
    } event;
    EXPECT_EQ(recordAt1700000000(event),
              R"( {"Initiator" : {"Account" : {"Name" : "acc"},"Entity" : {"SvcName" : "svc"}},"Action" : {"Event" : )"
              R"({"Name" : "evnt"},"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 7},"Details" : "details"}})");
}

// A call at a level the logger does not pass renders nothing: the event is
// not even read.
TEST(XdasRecord, NothingIsReadForACallThatCannotLog) {
    ASSERT_NE(initXDAS(testDataPath("capture_error.properties")), 1);
    struct Counting : XDAS_Event {
        int reads = 0;
        std::string getSource() override {
            ++reads;
            return "s";
        }
    } event;
    event.getAction()->getLog()->setSeverity(7); // INFO, below the root's ERROR
    event.XDAS_Log("audit");
    EXPECT_EQ(event.reads, 0);
    event.getAction()->getLog()->setSeverity(4); // ERROR
    event.XDAS_Log("audit");
    EXPECT_EQ(event.reads, 1);
    EXPECT_EQ(capturedLines().size(), 1u);
}

// Assertions and data from overridden getters may hold values of any JSON
// type: each is written as JSON (objects and arrays whole), and only an
// empty string member is still left out.
TEST(XdasRecord, OverriddenAssertionAndDataValuesOfEveryTypeAreWrittenAsJson) {
    using json_spirit::Array;
    using json_spirit::Object;
    using json_spirit::Pair;
    using json_spirit::Value;
    struct Initiator : XDASInitiator {
        Object object;
        Object getIni_Ass_Obj() override { return object; }
    };
    struct Target : XDASTarget {
        Object object;
        Object getTarg_Data_Obj() override { return object; }
    };
    struct Event : XDAS_Event {
        Initiator initiator;
        Target target;
        I_XDASInitiator* getInitiator() override { return &initiator; }
        I_XDASTarget* getTarget() override { return &target; }
    };
    const struct {
        Value value;
        const char* written;
    } cases[] = {
        {Value(42), "42"},
        {Value(std::int64_t{-5000000000}), "-5000000000"},
        {Value(1.5), "1.5"},
        {Value(2.0), "2.0"},
        {Value(std::nan("")), "null"},
        {Value(true), "true"},
        {Value(false), "false"},
        {Value(), "null"},
        {Value(Array{Value(1), Value("x\""), Value(Array{})}), R"([1,"x\"",[]])"},
        {Value(Object{Pair("k", "v"), Pair("e", ""), Pair("n", Value(Object{}))}), R"({"k" : "v","e" : "","n" : {}})"},
    };
    for (const auto& c : cases) {
        Event event;
        event.initiator.object = {Pair("a", c.value), Pair("empty", "")};
        event.target.object = {Pair("d", c.value)};
        EXPECT_EQ(recordAt1700000000(event), std::string(R"( {"Initiator" : {"Assertions" : {"a" : )") + c.written +
                                                 R"(}},"Target" : {"Data" : {"d" : )" + c.written +
                                                 R"(}},"Action" : {"Time" : {"Offset" : 1700000000},)"
                                                 R"("Log" : {"Severity" : 7}}})");
    }
}

// The level of each severity and what passes each root level: the level
// logged and the severity written, in the order the events were logged.
struct LevelCase {
    const char* propertiesFile;
    std::vector<std::pair<std::string, int>> logged;
};

void PrintTo(const LevelCase& levelCase, std::ostream* out) { *out << levelCase.propertiesFile; }

// The record of an otherwise empty event that writes `severity`.
std::string severityOnlyRecord(int severity) {
    return R"( {"Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : )" + std::to_string(severity) +
           "}}}";
}

class XdasSeverityLevels : public testing::TestWithParam<LevelCase> {};

TEST_P(XdasSeverityLevels, EachSeverityAtItsLevelWhereEnabled) {
    initialise(GetParam().propertiesFile, "");
    for (const int severity : {3, 4, 5, 7, 8, 9, 6, 0, 10, -1}) {
        const XdasEventPtr event = quorvel_test::createXdasEvent();
        event->getAction()->getLog()->setSeverity(severity);
        EXPECT_EQ(event->XDAS_Log("audit.xdas"), 0);
    }
    std::vector<std::pair<std::string, std::string>> logged;
    for (const auto& line : capturedLines())
        logged.emplace_back(line.level, withFixedStamps(line.message));
    std::vector<std::pair<std::string, std::string>> expected;
    for (const auto& [level, severity] : GetParam().logged)
        expected.emplace_back(level, severityOnlyRecord(severity));
    EXPECT_EQ(logged, expected);
}

const std::vector<std::pair<std::string, int>> kAllLevels = {{"FATAL", 3}, {"ERROR", 4}, {"WARN", 5}, {"INFO", 7},
                                                             {"DEBUG", 8}, {"TRACE", 9}, {"INFO", 7}, {"INFO", 7},
                                                             {"INFO", 7},  {"INFO", 7}};

INSTANTIATE_TEST_SUITE_P(
    RootLevels, XdasSeverityLevels,
    testing::Values(
        LevelCase{"capture_all.properties", kAllLevels}, LevelCase{"capture_trace.properties", kAllLevels},
        LevelCase{"capture_debug.properties",
                  {{"FATAL", 3},
                   {"ERROR", 4},
                   {"WARN", 5},
                   {"INFO", 7},
                   {"DEBUG", 8},
                   {"INFO", 7},
                   {"INFO", 7},
                   {"INFO", 7},
                   {"INFO", 7}}},
        LevelCase{
            "capture_info.properties",
            {{"FATAL", 3}, {"ERROR", 4}, {"WARN", 5}, {"INFO", 7}, {"INFO", 7}, {"INFO", 7}, {"INFO", 7}, {"INFO", 7}}},
        LevelCase{"capture_warn.properties", {{"FATAL", 3}, {"ERROR", 4}, {"WARN", 5}}},
        LevelCase{"capture_error.properties", {{"FATAL", 3}, {"ERROR", 4}}},
        LevelCase{"capture_fatal.properties", {{"FATAL", 3}}}, LevelCase{"capture_off.properties", {}}),
    [](const testing::TestParamInfo<LevelCase>& info) {
        std::string name = info.param.propertiesFile;
        return name.substr(8, name.find('.') - 8); // capture_<level>.properties
    });

// The named logger's own level decides, not the root's.
TEST(XdasRecord, NamedLoggerLevelDecides) {
    initialise("named_logger_debug.properties", "");
    for (const int severity : {9, 8}) {
        const XdasEventPtr event = quorvel_test::createXdasEvent();
        event->getAction()->getLog()->setSeverity(severity);
        event->XDAS_Log("audit");
    }
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, "DEBUG");
    EXPECT_EQ(withFixedStamps(lines[0].message),
              R"( {"Action" : {"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 8}}})");
}

} // namespace
