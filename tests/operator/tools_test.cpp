// The operators' tools, run as an operator runs them: what they print, their
// exit status, and that a failed quorvel-emit logs nothing.
#include "child_process.h"
#include "stamps.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using quorvel_test::ProcessResult;
using quorvel_test::runProcess;
using quorvel_test::TempDir;
using quorvel_test::withFixedStamps;

ProcessResult catalogCheck(std::vector<std::string> args) {
    args.insert(args.begin(), QUORVEL_CATALOG_CHECK);
    return runProcess(args);
}

TEST(CatalogCheck, ReportsWhatTheLibraryWouldDoSilentlyLineByLine) {
    TempDir dir;
    const char content[] = "100=User {suser} logged in\n"
                           "100=Second definition\n"
                           " 101 =Blanks around\n"
                           "102={SUSER} from { src } to {dpt}\n"
                           "103=   \n"
                           "\n"
                           "4711\n"
                           "104=Windows {suser}\r\n"
                           "105=a\0b\n"
                           "=Unnamed event\n"
                           "106=A template longer than forty bytes in all\n"
                           "107=a=b\\t \\= \\\\ {suser}\n";
    const std::string file = dir.write("c.conf", std::string(content, sizeof content - 1));
    const ProcessResult result = catalogCheck({"--max-length", "40", file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              file + ":2: identifier \"100\" is already defined on line 1; this line is ignored\n" + file +
                  ":3: identifier \" 101 \" has blanks around it, which are kept: events with signature ID \"101\" do "
                  "not match it\n" +
                  file + ":4: placeholder \"{SUSER}\" is dropped from the message: wrong case; write {suser}\n" + file +
                  ":4: placeholder \"{ src }\" is dropped from the message: blanks inside the braces; write {src}\n" +
                  file + ":4: placeholder \"{dpt}\" is dropped from the message: no field has that name\n" + file +
                  ":5: empty template: events with identifier \"103\" get no message\n" + file +
                  ":6: empty line: defines the empty identifier, with no message\n" + file +
                  ":7: no \"=\": the whole line, \"4711\", is both the identifier and the template\n" + file +
                  ":8: carriage return at the end of the line (DOS line endings?): the library drops it here\n" + file +
                  ":9: NUL byte at column 6; appenders and syslog may cut the message there\n" + file +
                  ":10: identifier \"\" is already defined on line 6; this line is ignored\n" + file +
                  ":11: line is 45 bytes long, more than 40 (--max-length); syslog may cut such messages\n" + file +
                  ":12: column 6: \"=\" not escaped; the line will end in msg=a=b\\t \\= \\\\ {suser} (placeholders "
                  "filled), which CEF parsers split or reject there. Write \\= for a literal \"=\".\n" +
                  file +
                  ":12: column 8: backslash that starts no escape; the line will end in msg=a=b\\t \\= \\\\ {suser} "
                  "(placeholders filled), which CEF parsers split or reject there. Write \\\\ for a literal "
                  "backslash.\n" +
                  file + ": 12 lines, 14 findings\n");
}

TEST(CatalogCheck, RendersTheMessageOrSaysWhyThereIsNone) {
    TempDir dir;
    const std::string file =
        dir.write("c.conf", "102=Login failed for {suser} from {src} after {cn1} attempts\n103=\n104={suser}\n");
    ProcessResult result = catalogCheck(
        {file, "--render", "102", "--set", "suser=a=b", "--set", "SourceAddress=10.0.0.1", "--set", "Cn1=3"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Login failed for a\\=b from 10.0.0.1 after 3 attempts\n");

    result = catalogCheck({file, "--render", "999"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "quorvel-catalog-check: no message for \"999\": the catalogue has no entry for it\n");
    EXPECT_EQ(catalogCheck({file, "--render", "103"}).err,
              "quorvel-catalog-check: no message for \"103\": its template is empty\n");
    EXPECT_EQ(catalogCheck({file, "--render", "104"}).err,
              "quorvel-catalog-check: no message for \"104\": its template's fields are all empty\n");
}

TEST(CatalogCheck, UsageErrorsAndUnreadableFilesGiveOneLineAndStatusTwo) {
    TempDir dir;
    const std::string file = dir.write("c.conf", "100=User {suser}\n");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{dir.path() + "/missing.conf"}, "cannot read " + dir.path() + "/missing.conf: No such file or directory"},
        {{dir.path()}, "cannot read " + dir.path() + ": Is a directory"},
        {{"--colour", file}, "unknown option --colour (see --help)"},
        {{file, file}, "more than one catalogue file given (see --help)"},
        {{file, "--set", "suser=x"}, "--set needs --render ID (see --help)"},
        {{file, "--render"}, "--render needs a value (see --help)"},
        {{file, "--render", "100", "--set", "suser"}, "--set suser: expected Field=value"},
        {{file, "--render", "100", "--set", "SourceUser=x"}, "--set SourceUser: no CEF field has that name"},
        {{file, "--render", "100", "--set", "cn1=12x"}, "--set cn1=12x: not a decimal long"},
        {{file, "--render", "100", "--set", "SourcePort=99999999999"},
         "--set SourcePort=99999999999: not a decimal int"},
        {{"--max-length", "0", file}, "--max-length 0: not a positive decimal number"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = catalogCheck(c.args);
        EXPECT_EQ(result.status, 2) << c.err;
        EXPECT_EQ(result.out, "") << c.err;
        EXPECT_EQ(result.err, "quorvel-catalog-check: " + c.err + "\n");
    }
}

// A file appender writing "LEVEL logger message" lines to audit.log in the
// directory the tool runs in.
const char* const kFileConfig = "log4j.rootLogger=TRACE, F\n"
                                "log4j.appender.F=org.apache.log4j.FileAppender\n"
                                "log4j.appender.F.File=audit.log\n"
                                "log4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
                                "log4j.appender.F.layout.ConversionPattern=%p %c %m%n\n"
                                "log4j.logger.quiet=ERROR\n";

// Runs quorvel-emit in `dir`. Its warning that this machine's host name does
// not resolve (as in a container without the name in /etc/hosts) is taken
// out of what it wrote to standard error: it depends on the machine only.
ProcessResult emit(const TempDir& dir, std::vector<std::string> args, const quorvel_test::Environment& env = {}) {
    args.insert(args.begin(), QUORVEL_EMIT);
    ProcessResult result = runProcess(args, dir.path(), env);
    result.err = std::regex_replace(result.err,
                                    std::regex("quorvel-emit: warning: the host name does not resolve "
                                               "\\([^)]*\\); XDAS records will lack the observer's "
                                               "SysName\n"),
                                    "");
    return result;
}

TEST(Emit, ErrorsGiveOneLineAndLogNothing) {
    TempDir dir;
    const std::string config = dir.write("file.properties", kFileConfig);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{}, 2, "missing event kind, cef or xdas (see --help)"},
        {{"json"}, 2, "unknown event kind json, expected cef or xdas"},
        {{"cef", "--logger", "audit"}, 2, "--config FILE is required (see --help)"},
        {{"cef", "--config", config}, 2, "--logger NAME is required (see --help)"},
        {{"cef", "--config", config, "--logger", "audit", "--assertion", "a=b"},
         2,
         "unknown option --assertion for cef events (see --help)"},
        {{"cef", "--config", config, "--logger", "audit", "--set", "Severity=4", "--set", "SourceUser=alice"},
         2,
         "--set SourceUser: no CEF field has that name (see --list-fields)"},
        {{"cef", "--config", config, "--logger", "audit", "--set", "Severity=high"},
         2,
         "--set Severity=high: not a decimal int"},
        {{"cef", "--config", config, "--logger", "audit", "--set", "Cn1=1.5"}, 2, "--set Cn1=1.5: not a decimal long"},
        {{"xdas", "--config", config, "--logger", "audit", "--set", "initiator.Name=alice"},
         2,
         "--set initiator.Name: no XDAS field has that name (see --list-fields)"},
        {{"xdas", "--config", config, "--logger", "audit", "--set", "action.log.Severity="},
         2,
         "--set action.log.Severity=: not a decimal int"},
        {{"xdas", "--config", config, "--logger", "audit", "--data", "novalue"},
         2,
         "--data novalue: expected name=value"},
        {{"cef", "--config", dir.path() + "/missing.properties", "--logger", "audit", "--set", "Severity=4"},
         1,
         "cannot read or apply the log4cxx configuration " + dir.path() + "/missing.properties"},
        {{"cef", "--config", config, "--logger", "audit", "--set", "Severity=5"},
         1,
         "nothing logged: its CEF severity selects no level (use 1, 2, 4, 6 or 8)"},
        {{"xdas", "--config", config, "--logger", "quiet", "--set", "action.log.Severity=5"},
         1,
         "nothing logged: logger quiet does not enable level WARN (its level is ERROR)"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = emit(dir, c.args);
        EXPECT_EQ(result.status, c.status) << c.err;
        EXPECT_EQ(result.out, "") << c.err;
        EXPECT_EQ(result.err, "quorvel-emit: " + c.err + "\n");
        EXPECT_EQ(dir.read("audit.log"), "") << c.err;
    }
}

TEST(Emit, LogsOneEventThroughTheConfigurationAndPrintsIt) {
    TempDir dir;
    const std::string config = dir.write("file.properties", kFileConfig);
    // Fields by setter name and by CEF key; DestinationPort is stored only.
    ProcessResult result =
        emit(dir, {"cef",   "--config",          config,  "--logger",           "audit.cef", "--print",
                   "--set", "DeviceVendor=ACME", "--set", "product=Gate",       "--set",     "SignatureID=100",
                   "--set", "Severity=6",        "--set", "suser=alice",        "--set",     "Cn1Label=Attempts",
                   "--set", "cn1=5000000000",    "--set", "DestinationPort=22", "--set",     "Reason=x=y"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string cefLine = "CEF:0|ACME|Gate||100||6|rt=1700000000123 dtz=UTC spt=0 suser=alice "
                                "cn1Label=Attempts cn1=5000000000 reason=x\\=y \n";
    EXPECT_EQ(withFixedStamps(result.out), cefLine);

    result = emit(dir, {"xdas",        "--config",
                        config,        "--logger",
                        "audit.xdas",  "--print",
                        "--module",    "XDAS-",
                        "--set",       "initiator.account.Name=alice",
                        "--set",       "target.entity.SvcName=ldap",
                        "--set",       "action.log.Severity=4",
                        "--set",       "action.event.Name=LOGIN",
                        "--assertion", "role=admin",
                        "--data",      "attr=mail"});
    EXPECT_EQ(result.status, 0) << result.err;
    // The observer's SysName is this machine's name, where it resolves.
    const std::regex observer(R"("Observer" : \{"Entity" : \{"SysName" : "[^"]*"\}\},)");
    const std::string xdasRecord =
        R"( {"Initiator" : {"Account" : {"Name" : "alice"},"Assertions" : {"role" : "admin"}},)"
        R"("Target" : {"Data" : {"attr" : "mail"},"Entity" : {"SvcName" : "ldap"}},)"
        R"("Action" : {"Event" : {"Name" : "LOGIN"},"Time" : {"Offset" : 1700000000},"Log" : {"Severity" : 4}}})"
        "\n";
    EXPECT_EQ(std::regex_replace(withFixedStamps(result.out), observer, ""), xdasRecord);

    // Both went through the configured appender as well.
    EXPECT_EQ(std::regex_replace(withFixedStamps(dir.read("audit.log")), observer, ""),
              "WARN audit.cef " + cefLine + "ERROR audit.xdas " + xdasRecord);
}

// log4cxx's own diagnostics reach a pipe or a file as plain text. The log4cxx
// builds that colour them (1.6 and later) colour them there too unless
// LOG4CXX_COLOR=false, which quorvel-emit sets when standard error is no
// terminal. Asked for colour (LOG4CXX_COLOR=true, which the tool leaves as
// it is), the build shows whether it colours at all: where it never does
// (1.0), there is no colour to check for, only the diagnostics.
TEST(Emit, VerboseDiagnosticsInAPipeAreUncoloured) {
    TempDir dir;
    const std::string config =
        dir.write("broken.properties", "log4j.rootLogger=INFO, X\nlog4j.appender.X=org.example.NoSuchAppender\n");
    const std::vector<std::string> args{"cef",   "--config", config,       "--logger",
                                        "audit", "--set",    "Severity=4", "--verbose"};
    const ProcessResult result = emit(dir, args);
    EXPECT_NE(result.err.find("log4cxx"), std::string::npos) << result.err;
    const bool colours = emit(dir, args, {{"LOG4CXX_COLOR", "true"}}).err.find('\033') != std::string::npos;
    RecordProperty("log4cxx_colours_diagnostics", colours ? "yes" : "no");
    if (!colours) return;
    EXPECT_EQ(result.err.find('\033'), std::string::npos) << result.err;
}

} // namespace

namespace {

// Every tool ends alike: --help prints its usage and ends 0; an unknown
// option is one line and status 2; a logging call that throws (a datagram
// too long for UDP) is one line and status 1, never a crash.
TEST(Tools, HelpUnknownOptionsAndLoggingFailuresEndAlike) {
    TempDir dir;
    const std::string udp = dir.write("udp.properties", "log4j.rootLogger=INFO, S\n"
                                                        "log4j.appender.S=org.apache.log4j.net.SyslogAppender\n"
                                                        "log4j.appender.S.SyslogHost=127.0.0.1:9\n"
                                                        "log4j.appender.S.MaxMessageLength=200000\n"
                                                        "log4j.appender.S.layout=org.apache.log4j.PatternLayout\n"
                                                        "log4j.appender.S.layout.ConversionPattern=%m\n");
    const struct {
        std::string tool;
        std::vector<std::string> args;
        int status;
        std::string err; // its start; none: nothing
    } cases[] = {
        {QUORVEL_CATALOG_CHECK, {"--help"}, 0, ""},
        {QUORVEL_EMIT, {"cef", "--help"}, 0, ""},
        {QUORVEL_VERIFY, {"--help"}, 0, ""},
        {QUORVEL_PREFLIGHT, {"--help"}, 0, ""},
        {QUORVEL_SEALAGENT, {"-h"}, 0, ""},
        {QUORVEL_CATALOG_CHECK, {"--bogus"}, 2, "quorvel-catalog-check: unknown option --bogus (see --help)\n"},
        {QUORVEL_EMIT, {"xdas", "--bogus"}, 2, "quorvel-emit: unknown option --bogus for xdas events (see --help)\n"},
        {QUORVEL_VERIFY, {"--bogus"}, 2, "quorvel-verify: unknown option --bogus (see --help)\n"},
        {QUORVEL_PREFLIGHT, {"--bogus"}, 2, "quorvel-preflight: unknown option --bogus (see --help)\n"},
        {QUORVEL_SEALAGENT, {"run", "--bogus", "x"}, 2, "quorvel-sealagent: unknown option --bogus (see --help)\n"},
        {QUORVEL_EMIT,
         {"cef", "--config", udp, "--logger", "audit", "--set", "Severity=4", "--set",
          "SourceUserName=" + std::string(70000, 'a')},
         1,
         "quorvel-emit: "},
    };
    for (const auto& c : cases) {
        const ProcessResult result = runProcess([&] {
            std::vector<std::string> argv{c.tool};
            argv.insert(argv.end(), c.args.begin(), c.args.end());
            return argv;
        }());
        const std::string what = c.tool + " " + c.args.front();
        EXPECT_EQ(result.status, c.status) << what << ": " << result.err;
        if (c.status == 0) {
            EXPECT_EQ(result.out.rfind("usage: ", 0), 0u) << what;
            EXPECT_EQ(result.err, "") << what;
            continue;
        }
        EXPECT_EQ(result.out, "") << what;
        EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << what << ": " << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << what << ": " << result.err;
    }
}

} // namespace
