// Collected prefixes on real lines: a sealed host logs CEF and XDAS events
// through log4cxx to a real rsyslogd on the loopback interface, under a
// layout of the message alone and one of "${quorvel.module}: " and the
// message, and rsyslogd writes what it received with each of its usual
// templates; the host also writes the events to files of its own through
// log4cxx's FileAppender. quorvel-verify, told the prefix each file carries,
// must verify every event in it, and must not read the prefixed lines as
// events when told they carry none.
#include "daemon_harness.h"
#include "temp_dir.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using quorvel_test::Child;
using quorvel_test::Clock;
using quorvel_test::readFile;

constexpr int kEventsOfEachKind = 3;

// Logs kEventsOfEachKind CEF and as many XDAS events through log4cxx,
// configured from `properties` with sealing on, and exits, which writes the
// session's closing seal.
[[noreturn]] void runHost(const std::string& properties) {
    if (initSyslog(properties, "quorvel-prefix") != 0) std::_Exit(3);
    for (int n = 0; n < kEventsOfEachKind; ++n) {
        CEF_EVENT cef;
        cef.setSignatureID("100");
        cef.setName("prefix test");
        cef.setSeverity(4);
        cef.setSourceUserName("user " + std::to_string(n));
        cef.CEF_Log("audit.cef");
        const auto xdas = quorvel_test::createXdasEvent();
        xdas->setId("xdas-" + std::to_string(n));
        xdas->getAction()->getEvnt()->setName("LOGIN");
        xdas->XDAS_Log("audit.xdas");
    }
    std::exit(0);
}

// An rsyslog input on `port` whose ruleset writes every message into
// `dir`/NAME-TEMPLATE.log with each template.
std::string rsyslogInput(const std::string& name, int port, const std::filesystem::path& dir) {
    std::string text = "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" + std::to_string(port) + "\" ruleset=\"" +
                       name + "\")\nruleset(name=\"" + name + "\") {\n";
    for (const char* templateName :
         {"RSYSLOG_TraditionalFileFormat", "RSYSLOG_FileFormat", "RSYSLOG_SyslogProtocol23Format", "rawAfterPri"})
        text += "  action(type=\"omfile\" file=\"" + (dir / (name + "-" + templateName + ".log")).string() +
                "\" template=\"" + templateName + "\")\n";
    return text + "}\n";
}

struct Row {
    const char* layout; // how the host's appender wrote the line
    const char* file;
    const char* prefixes; // what the auditor tells quorvel-verify
    bool verified;        // whether every event is then verified
};

// Under a layout of the message alone, rsyslog's parser takes a CEF line's
// "CEF:" for the program tag and writes a blank after it (or moves it into
// APP-NAME), and a seal's "quorvel-seal" for the host name: only the raw
// message keeps those lines whole.
const Row kRows[] = {
    {"syslog %m", "plain-RSYSLOG_TraditionalFileFormat.log", "rfc3164", false},
    {"syslog %m", "plain-RSYSLOG_FileFormat.log", "rfc3339", false},
    {"syslog %m", "plain-RSYSLOG_SyslogProtocol23Format.log", "rfc5424", false},
    {"syslog %m", "plain-rawAfterPri.log", "none", true},
    {"syslog ${quorvel.module}: %m", "tagged-RSYSLOG_TraditionalFileFormat.log", "rfc3164", true},
    {"syslog ${quorvel.module}: %m", "tagged-RSYSLOG_FileFormat.log", "rfc3339", true},
    {"syslog ${quorvel.module}: %m", "tagged-RSYSLOG_SyslogProtocol23Format.log", "rfc5424", true},
    {"syslog ${quorvel.module}: %m", "tagged-rawAfterPri.log", "tag", true},
    {"file %m%n", "file-plain.log", "none", true},
    // examples/log4cxx-file.properties, read only through its own grammar.
    {"file %d{ISO8601} %-5p [${quorvel.module}] %c %m%n", "file-stamped.log", "file-layout", true},
    {"file %d{ISO8601} %-5p [${quorvel.module}] %c %m%n", "file-stamped.log", "none,rfc3164,rfc3339,rfc5424,tag",
     false},
};

// Runs quorvel-verify on `file` with `prefixes`; its JSON report.
nlohmann::json verify(const quorvel_test::TempDir& dir, const std::string& file, const std::string& prefixes) {
    const auto result = quorvel_test::runProcess(
        {QUORVEL_VERIFY, "--json", "-", "--key", dir.file("auditor.key"), "--prefix", prefixes, dir.file(file)});
    EXPECT_EQ(result.err, "");
    nlohmann::json report = nlohmann::json::parse(result.out, nullptr, false);
    EXPECT_EQ(result.status == 0, report.value("complete", false)) << result.out;
    return report;
}

TEST(CollectedPrefix, EveryEventIsVerifiedThroughTheMatchingPrefixOnly) {
    const std::string rsyslogd = quorvel_test::findRsyslogd();
    ASSERT_FALSE(rsyslogd.empty()) << "rsyslogd is not installed: this test needs the Debian package rsyslog "
                                      "(scripts/install-deps installs it, as root)";
    const quorvel_test::TempDir directory("prefix");
    const std::filesystem::path dir = directory.path();
    std::filesystem::create_directory(dir / "work");
    const auto keygen = quorvel_test::runProcess(
        {QUORVEL_VERIFY, "keygen", directory.file("auditor.pub"), directory.file("auditor.key")});
    ASSERT_EQ(keygen.status, 0) << keygen.err;
    const std::string auditorKey = quorvel_test::lines(directory.read("auditor.pub")).at(0);

    const int plainPort = quorvel_test::freeLoopbackPort(SOCK_DGRAM);
    const int taggedPort = quorvel_test::freeLoopbackPort(SOCK_DGRAM);
    directory.write("rsyslog.conf",
                    "global(workDirectory=\"" + (dir / "work").string() +
                        "\" maxMessageSize=\"64k\" parser.escapeControlCharactersOnReceive=\"off\")\n"
                        "main_queue(queue.workerThreads=\"1\")\n"
                        "module(load=\"imudp\")\n"
                        "template(name=\"rawAfterPri\" type=\"string\" string=\"%rawmsg-after-pri%\\n\")\n" +
                        rsyslogInput("plain", plainPort, dir) + rsyslogInput("tagged", taggedPort, dir));
    // Seal records go to the root logger's appenders, beside the events.
    const auto appender = [](const std::string& name, const std::string& settings, const std::string& pattern) {
        const std::string a = "log4j.appender." + name;
        return a + "=org.apache.log4j." + settings + a + ".layout=org.apache.log4j.PatternLayout\n" + a +
               ".layout.ConversionPattern=" + pattern + "\n";
    };
    const auto syslog = [](const std::string& name, int port) {
        const std::string a = "\nlog4j.appender." + name;
        return "net.SyslogAppender" + a + ".SyslogHost=127.0.0.1:" + std::to_string(port) + a + ".Facility=AUTHPRIV" +
               a + ".MaxMessageLength=65000\n";
    };
    const auto file = [&](const std::string& name, const std::string& path) {
        return "FileAppender\nlog4j.appender." + name + ".File=" + directory.file(path) + "\n";
    };
    const std::string properties = directory.write(
        "host.properties",
        "log4j.rootLogger=INFO, PLAIN, TAGGED, FILE, STAMPED\n" + appender("PLAIN", syslog("PLAIN", plainPort), "%m") +
            appender("TAGGED", syslog("TAGGED", taggedPort), "${quorvel.module}: %m") +
            appender("FILE", file("FILE", "file-plain.log"), "%m%n") +
            appender("STAMPED", file("STAMPED", "file-stamped.log"), "%d{ISO8601} %-5p [${quorvel.module}] %c %m%n") +
            "quorvel.seal=on\nquorvel.seal.auditorKey=" + auditorKey + "\n");

    // rsyslogd stamps lines in a zone west of UTC by a fraction of an hour.
    Child daemon(quorvel_test::rsyslogdCommand(rsyslogd, dir / "rsyslog.conf"), dir / "rsyslogd.out",
                 {{"TZ", "QVT3:30"}});
    const auto startDeadline = Clock::now() + std::chrono::seconds(20);
    ASSERT_TRUE(daemon.waitUntilUdpBound(plainPort, startDeadline) &&
                daemon.waitUntilUdpBound(taggedPort, startDeadline))
        << "rsyslogd did not start listening:\n"
        << readFile(dir / "rsyslogd.out");
    Child host([&] { runHost(properties); });
    ASSERT_TRUE(host.waitUntil(Clock::now() + std::chrono::seconds(30)) && host.exitedCleanly())
        << "the host did not log its events and exit cleanly within 30 s";
    // Until rsyslogd has written the closing seal into every file, or has
    // had 20 s; it closes its files when it stops.
    const auto written = [&] {
        for (const Row& row : kRows)
            if (readFile(dir / row.file).find(" end=1 ") == std::string::npos) return false;
        return true;
    };
    daemon.waitUntilReady(written, Clock::now() + std::chrono::seconds(20));
    daemon.stop(std::chrono::seconds(10));
    ASSERT_TRUE(written()) << "rsyslogd did not write every file:\n" << readFile(dir / "rsyslogd.out");

    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.layout) + ", " + row.file + ", --prefix " + row.prefixes);
        const nlohmann::json report = verify(directory, row.file, row.prefixes);
        EXPECT_EQ(report.value("complete", false), row.verified) << report.dump(1);
        if (!row.verified) continue;
        ASSERT_EQ(report["sessions"].size(), 1u) << report.dump(1);
        EXPECT_EQ(report["sessions"][0]["verified"], 2 * kEventsOfEachKind) << report.dump(1);
        if (std::string(row.prefixes) == "none") continue;
        EXPECT_FALSE(verify(directory, row.file, "none").value("complete", true));
    }
}

} // namespace
