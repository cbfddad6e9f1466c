// Syslog end to end: a real rsyslogd, started by this test on the loopback
// interface with a configuration of its own, receives what a host process
// logs through log4cxx's SyslogAppender and writes each message to a file.
// Every event must arrive once, byte for byte as log4cxx was handed it (a
// file appender of the same host keeps that copy), in order per thread, and
// read back by the independent parsers it must hold exactly what was set.
#include "cef_parser.h"
#include "daemon_harness.h"
#include "stamps.h"
#include "syslog_events.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace syslog_e2e;
using quorvel_test::Child;
using quorvel_test::Clock;
using quorvel_test::lines;
using quorvel_test::readFile;

constexpr int kEvents = kThreads * kEventsPerThread;

// What a host set on the event that `sequenceText` names, as the parsed line
// must show it, its stamps fixed. The cached host name is taken from `parsed`.
nlohmann::json expectedXdas(const std::string& sequenceText, int thread, int event, const nlohmann::json& parsed) {
    nlohmann::json want = {
        {"Id", sequenceText},
        {"Source", "syslog-e2e"},
        {"Initiator",
         {{"Account", {{"Name", specials()}}}, {"Assertions", {{"role", specials()}, {specials(), "key"}}}}},
        {"Target", {{"Data", {{"attr", kUtf8Name}}}}},
        {"Action",
         {{"Event", {{"Name", "LOGIN"}}},
          {"Time", {{"Offset", 1700000000}}},
          {"Log", {{"Severity", 7}}},
          {"Details", padding(thread, event)}}},
    };
    if (parsed.contains("Observer"))
        want["Observer"] = {{"Entity", {{"SysName", parsed["/Observer/Entity/SysName"_json_pointer]}}}};
    return want;
}

// Reads one received line; returns the thread and event it belongs to, or
// -1 as the thread when the line is not one the host logged.
std::pair<int, int> checkLine(const std::string& received) {
    const std::string line = quorvel_test::withFixedStamps(received);
    std::string sequenceText;
    nlohmann::json parsedXdas;
    std::optional<quorvel_test::ParsedCefLine> parsedCef;
    if (line.compare(0, 4, "CEF:") == 0) {
        std::string error;
        parsedCef = quorvel_test::parseCefLine(line, &error);
        if (!parsedCef) {
            ADD_FAILURE() << "unreadable CEF line (" << error << "): " << line.substr(0, 300);
            return {-1, 0};
        }
        for (const auto& [key, value] : parsedCef->extension)
            if (key == "cs1") sequenceText = value;
    } else {
        try {
            parsedXdas = nlohmann::json::parse(line);
            sequenceText = parsedXdas.value("Id", "");
        } catch (const nlohmann::json::exception& e) {
            ADD_FAILURE() << "unreadable XDAS record (" << e.what() << "): " << line.substr(0, 300);
            return {-1, 0};
        }
    }
    int thread = -1, event = -1;
    if (std::sscanf(sequenceText.c_str(), "t%d-%d", &thread, &event) != 2 || thread < 0 || thread >= kThreads ||
        event < 0 || event >= kEventsPerThread || sequence(thread, event) != sequenceText) {
        ADD_FAILURE() << "a line the host did not log: " << line.substr(0, 300);
        return {-1, 0};
    }
    if (parsedCef) {
        EXPECT_EQ(event % 2, 1) << sequenceText;
        const std::array<std::string, 7> header{"0", "Vendor|" + specialsInHeaderReadBack(), "", "", "100", "e2e", "4"};
        EXPECT_EQ(parsedCef->header, header) << sequenceText;
        std::map<std::string, std::string> extension(parsedCef->extension.begin(), parsedCef->extension.end());
        EXPECT_EQ(extension.size(), parsedCef->extension.size()) << sequenceText;
        const std::map<std::string, std::string> want{
            {"rt", "1700000000123"},
            {"dtz", "UTC"},
            {"spt", "0"},
            {"suser", cefSpecialsReadBack()},
            {"src", "{suser}"},
            {"cs1Label", "sequence"},
            {"cs1", sequenceText},
            {"flexString1", padding(thread, event)},
            {"msg", cefMessage()},
        };
        EXPECT_TRUE(extension == want) << "CEF values differ from those set: " << sequenceText;
    } else {
        EXPECT_EQ(event % 2, 0) << sequenceText;
        EXPECT_TRUE(parsedXdas == expectedXdas(sequenceText, thread, event, parsedXdas))
            << "XDAS values differ from those set: " << line.substr(0, 600);
    }
    return {thread, event};
}

TEST(SyslogEndToEnd, EveryEventArrivesOnceWholeAndInOrderThroughRsyslog) {
    const std::string rsyslogd = quorvel_test::findRsyslogd();
    ASSERT_FALSE(rsyslogd.empty()) << "rsyslogd is not installed: this test needs the Debian package rsyslog "
                                      "(scripts/install-deps installs it, as root)";
    const quorvel_test::TempDir directory("syslog");
    const fs::path dir = directory.path();
    fs::create_directory(dir / "work");
    const int port = quorvel_test::freeLoopbackPort(SOCK_DGRAM);

    // rsyslog: UDP on the loopback interface only, messages up to 64 KiB,
    // control characters kept as they are, each message written as received
    // after its priority, one per line, in arrival order.
    quorvel_test::writeUdpToFileRsyslogConfig(dir / "rsyslog.conf", dir / "work", port, dir / "received.log");
    // The host: syslog to that port, and the same messages to a file as the
    // record of what log4cxx was handed.
    std::ofstream(dir / "host.properties") << "log4j.rootLogger=INFO, SYSLOG, SENT\n"
                                           << "log4j.appender.SYSLOG=org.apache.log4j.net.SyslogAppender\n"
                                           << "log4j.appender.SYSLOG.SyslogHost=127.0.0.1:" << port << "\n"
                                           << "log4j.appender.SYSLOG.Facility=AUTHPRIV\n"
                                           << "log4j.appender.SYSLOG.MaxMessageLength=65000\n"
                                           << "log4j.appender.SYSLOG.layout=org.apache.log4j.PatternLayout\n"
                                           << "log4j.appender.SYSLOG.layout.ConversionPattern=%m\n"
                                           << "log4j.appender.SENT=org.apache.log4j.FileAppender\n"
                                           << "log4j.appender.SENT.File=" << (dir / "sent.log").string() << "\n"
                                           << "log4j.appender.SENT.Encoding=UTF-8\n"
                                           << "log4j.appender.SENT.layout=org.apache.log4j.PatternLayout\n"
                                           << "log4j.appender.SENT.layout.ConversionPattern=%m%n\n";
    std::ofstream(dir / "OstradEventDesc.conf") << kCatalog;

    Child daemon(quorvel_test::rsyslogdCommand(rsyslogd, dir / "rsyslog.conf"), dir / "rsyslogd.out");
    ASSERT_TRUE(daemon.waitUntilUdpBound(port, Clock::now() + std::chrono::seconds(20)))
        << "rsyslogd did not start listening on 127.0.0.1:" << port << ":\n"
        << readFile(dir / "rsyslogd.out");

    Child host({QUORVEL_SYSLOG_HOST, (dir / "host.properties").string()}, dir / "host.out",
               {{"VRQ_SERVER_CONFIGDIR", dir.string()}});
    ASSERT_TRUE(host.waitUntil(Clock::now() + std::chrono::seconds(120))) << "the host did not finish in 120 s";
    ASSERT_TRUE(host.exitedCleanly()) << "the host failed:\n" << readFile(dir / "host.out");

    // Until every message is written, or rsyslog has had a minute.
    const auto writeDeadline = Clock::now() + std::chrono::seconds(60);
    while (lines(readFile(dir / "received.log")).size() < static_cast<std::size_t>(kEvents) &&
           Clock::now() < writeDeadline && daemon.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    daemon.stop(std::chrono::seconds(10));

    const std::vector<std::string> sent = lines(readFile(dir / "sent.log"));
    const std::vector<std::string> received = lines(readFile(dir / "received.log"));
    EXPECT_EQ(sent.size(), static_cast<std::size_t>(kEvents));
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kEvents))
        << "rsyslogd wrote a different number of messages; its output:\n"
        << readFile(dir / "rsyslogd.out");

    // Per thread, the lines rsyslog wrote must be the lines log4cxx was
    // handed, in the same order, and number 0, 1, 2, ... of that thread.
    std::vector<std::vector<std::string>> sentByThread(kThreads), receivedByThread(kThreads);
    for (const std::string& line : sent) {
        const auto [thread, event] = checkLine(line);
        if (thread >= 0) sentByThread[thread].push_back(line);
    }
    std::size_t longest = 0;
    for (const std::string& line : received) {
        const auto [thread, event] = checkLine(line);
        if (thread < 0) continue;
        EXPECT_EQ(event, static_cast<int>(receivedByThread[thread].size())) << "out of order in thread " << thread;
        receivedByThread[thread].push_back(line);
        longest = std::max(longest, line.size());
    }
    for (int thread = 0; thread < kThreads; ++thread) {
        ASSERT_EQ(receivedByThread[thread].size(), sentByThread[thread].size()) << "thread " << thread;
        for (std::size_t i = 0; i < sentByThread[thread].size(); ++i) {
            const std::string& want = sentByThread[thread][i];
            const std::string& got = receivedByThread[thread][i];
            if (got == want) continue;
            const auto difference = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
            ADD_FAILURE() << "thread " << thread << " line " << i << " differs at byte "
                          << (difference.first - want.begin()) << " (sent " << want.size() << " bytes, received "
                          << got.size() << ")";
        }
    }
    // The line of almost 64 KiB arrived whole.
    EXPECT_GT(longest, 64000u);
    RecordProperty("events", kEvents);
    RecordProperty("longest_line", static_cast<int>(longest));
}

} // namespace
