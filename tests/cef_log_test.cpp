// CEF_Log: the level each severity selects, the logger each call names, and
// the catalogue that the first call of the process loads. CTest runs every
// case in a process of its own, so each case sees its own first call.
#include "capturing_appender.h"
#include "cef_test_support.h"
#include "layout_file.h"
#include "worked_examples.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <log4cxx/logger.h>

#include <string>

namespace {

using quorvel_test::capturedLines;
using quorvel_test::CatalogDirectory;
using quorvel_test::testDataPath;
using quorvel_test::withFixedStamps;

// Root at INFO with the capturing appender.
void configureCapture() { ASSERT_NE(initXDAS(testDataPath("capture_info.properties")), 1); }

log4cxx::LoggerPtr loggerAt(const std::string& name, const log4cxx::LevelPtr& level) {
    const log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(name);
    logger->setLevel(level);
    return logger;
}

TEST(CefLog, WorkedExampleIsLoggedAtInfoUnderTheNamedLogger) {
    CatalogDirectory directory;
    directory.write("100=User {suser} logged in\n101=User {suser} logged out\n");
    configureCapture();
    CEF_EVENT event;
    quorvel_test::fillCefWorkedExample(event);
    EXPECT_EQ(event.CEF_Log("audit.cef"), 0);
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].logger, "audit.cef");
    EXPECT_EQ(lines[0].level, "INFO");
    EXPECT_EQ(withFixedStamps(lines[0].message),
              "CEF:0|ExampleVendor|ExampleProduct|1.0|100|Login|4|dvchost=host1 rt=1700000000123 dtz=UTC spt=0 "
              "suser=user1 cn1Label=Attempts cn1=3 cs1Label=Role cs1=admin outcome=success msg=User user1 logged in ");
}

// Each listed code is logged at its level when the logger enables exactly
// that level, and not at all when the logger's level is the next one up.
TEST(CefLog, EverySeverityCodeWithAndWithoutItsLevelEnabled) {
    CatalogDirectory directory;
    configureCapture();
    struct Case {
        int code;
        log4cxx::LevelPtr level;
        log4cxx::LevelPtr nextLevel;
        const char* name;
    };
    const Case cases[] = {
        {1, log4cxx::Level::getTrace(), log4cxx::Level::getDebug(), "TRACE"},
        {2, log4cxx::Level::getDebug(), log4cxx::Level::getInfo(), "DEBUG"},
        {4, log4cxx::Level::getInfo(), log4cxx::Level::getWarn(), "INFO"},
        {6, log4cxx::Level::getWarn(), log4cxx::Level::getError(), "WARN"},
        {8, log4cxx::Level::getError(), log4cxx::Level::getFatal(), "ERROR"},
    };
    std::size_t expectedCount = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        CEF_EVENT event;
        event.setSeverity(c.code);
        loggerAt("cef.off", c.nextLevel);
        EXPECT_EQ(event.CEF_Log("cef.off"), 0);
        loggerAt("cef.on", c.level);
        EXPECT_EQ(event.CEF_Log("cef.on"), 0);
        const auto lines = capturedLines();
        ASSERT_EQ(lines.size(), ++expectedCount);
        EXPECT_EQ(lines.back().logger, "cef.on");
        EXPECT_EQ(lines.back().level, c.name);
        EXPECT_EQ(withFixedStamps(lines.back().message),
                  "CEF:0||||||" + std::to_string(c.code) + "|rt=1700000000123 dtz=UTC spt=0 ");
    }
}

TEST(CefLog, SeverityErrorPassesALoggerAtWarn) {
    CatalogDirectory directory;
    configureCapture();
    loggerAt("cef.warn", log4cxx::Level::getWarn());
    CEF_EVENT event;
    event.setSeverity(8);
    event.CEF_Log("cef.warn");
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, "ERROR");
    EXPECT_EQ(withFixedStamps(lines[0].message), "CEF:0||||||8|rt=1700000000123 dtz=UTC spt=0 ");
}

TEST(CefLog, CodesOutsideTheTableAreNeverLogged) {
    CatalogDirectory directory;
    configureCapture();
    loggerAt("cef.all", log4cxx::Level::getAll());
    for (const int code : {0, 3, 5, 7, 9, 10, -1, -4, 100}) {
        CEF_EVENT event;
        event.setSeverity(code);
        EXPECT_EQ(event.CEF_Log("cef.all"), 0);
    }
    EXPECT_TRUE(capturedLines().empty());
}

TEST(CefLog, TwoLoggersGetTheSameLineAndLoggingLeavesTheRecordUnchanged) {
    CatalogDirectory directory;
    directory.write("7=Seen by {suser}\n");
    configureCapture();
    CEF_EVENT event;
    event.setSignatureID("7");
    event.setSourceUserName("ann");
    event.setSeverity(6);
    event.CEF_Log("audit.one");
    event.CEF_Log("audit.two");
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string expected = "CEF:0||||7||6|rt=1700000000123 dtz=UTC spt=0 suser=ann msg=Seen by ann ";
    EXPECT_EQ(lines[0].logger, "audit.one");
    EXPECT_EQ(lines[1].logger, "audit.two");
    EXPECT_EQ(withFixedStamps(lines[0].message), expected);
    EXPECT_EQ(lines[1].message, lines[0].message);
}

// The first call loads the catalogue even though its severity logs nothing;
// later edits of the file are not seen by this process.
TEST(CefLog, CatalogueIsLoadedByTheFirstCallAndNeverAgain) {
    CatalogDirectory directory;
    directory.write("7=First\n");
    configureCapture();
    CEF_EVENT event;
    event.setSignatureID("7");
    event.CEF_Log("audit.cef");
    directory.write("7=Second\n");
    event.setSeverity(4);
    event.CEF_Log("audit.cef");
    directory.removeFile();
    event.CEF_Log("audit.cef");
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(withFixedStamps(lines[0].message), "CEF:0||||7||4|rt=1700000000123 dtz=UTC spt=0 msg=First ");
    EXPECT_EQ(withFixedStamps(lines[1].message), "CEF:0||||7||4|rt=1700000000123 dtz=UTC spt=0 msg=First ");
}

TEST(CefLog, FileMissingAtTheFirstCallStaysMissingForTheProcess) {
    CatalogDirectory directory;
    configureCapture();
    CEF_EVENT event;
    event.setSignatureID("7");
    event.setSeverity(2);
    event.CEF_Log("audit.cef");
    directory.write("7=Too late\n");
    event.setSeverity(4);
    event.CEF_Log("audit.cef");
    const auto lines = capturedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(withFixedStamps(lines[0].message), "CEF:0||||7||4|rt=1700000000123 dtz=UTC spt=0 ");
}

// The call site both writers hand log4cxx, which a layout can print: the
// source file, the class and the method of the writer.
TEST(LogLocation, EachWriterNamesItsFileClassAndMethod) {
    const quorvel_test::LayoutFile file("%f %C %M%n");
    ASSERT_LE(initSyslog(file.properties(), "location"), 0);
    quorvel_test::createXdasEvent()->XDAS_Log("audit");
    CEF_EVENT cef;
    cef.setSeverity(4);
    cef.CEF_Log("audit");
    EXPECT_EQ(file.written(), "xdas_event.cpp XDAS_Event Write_Event_Array\ncef_log.cpp CEF_EVENT Write_CEF_Event\n");
}

} // namespace
