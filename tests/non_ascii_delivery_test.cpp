// Which bytes of a UTF-8 user name reach real appenders: a file appender
// writing UTF-8, a console appender and a syslog appender (to a socket of the
// test's own on the loopback interface), under the "C" locale and under a
// UTF-8 locale. CTest runs each case in a process of its own, so each sets
// its locale before anything is logged.
#include "capturing_appender.h"
#include "cef_test_support.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/propertyconfigurator.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

using quorvel_test::withFixedStamps;

// "Zoë Łukasz 日本 😀": characters of two, three and four bytes.
const std::string kUserName = "Zo\xC3\xAB \xC5\x81ukasz \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";

// Logs one CEF event and one XDAS event, each carrying kUserName, through a
// file appender (Encoding=UTF-8), a console appender on standard error, a
// syslog appender and the capturing appender, and keeps what each received.
class Delivery {
  public:
    explicit Delivery(const char* locale) {
        EXPECT_TRUE(std::setlocale(LC_ALL, locale)) << locale;
        socket_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        const timeval timeout{10, 0}; // a missing datagram fails the test instead of hanging it
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

        const std::string properties = directory_.file("delivery.properties");
        std::ofstream(properties) << "log4j.rootLogger=INFO, FILE, CONSOLE, SYSLOG, CAP\n"
                                  << "log4j.appender.FILE=org.apache.log4j.FileAppender\n"
                                  << "log4j.appender.FILE.File=" << directory_.file("file.log") << "\n"
                                  << "log4j.appender.FILE.Encoding=UTF-8\n"
                                  << "log4j.appender.FILE.layout=org.apache.log4j.PatternLayout\n"
                                  << "log4j.appender.FILE.layout.ConversionPattern=%m%n\n"
                                  << "log4j.appender.CONSOLE=org.apache.log4j.ConsoleAppender\n"
                                  << "log4j.appender.CONSOLE.Target=System.err\n"
                                  << "log4j.appender.CONSOLE.layout=org.apache.log4j.PatternLayout\n"
                                  << "log4j.appender.CONSOLE.layout.ConversionPattern=%m%n\n"
                                  << "log4j.appender.SYSLOG=org.apache.log4j.net.SyslogAppender\n"
                                  << "log4j.appender.SYSLOG.SyslogHost=127.0.0.1:" << ntohs(address.sin_port) << "\n"
                                  << "log4j.appender.SYSLOG.Facility=USER\n"
                                  << "log4j.appender.SYSLOG.layout=org.apache.log4j.PatternLayout\n"
                                  << "log4j.appender.SYSLOG.layout.ConversionPattern=%m\n"
                                  << "log4j.appender.CAP=CapturingAppender\n";

        // The console appender writes to standard error, sent to a file.
        const int savedError = dup(STDERR_FILENO);
        const int console = open(directory_.file("console.log").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        dup2(console, STDERR_FILENO);
        close(console);
        log4cxx::PropertyConfigurator::configure(log4cxx::File(properties));

        CEF_EVENT cef;
        cef.setSeverity(4);
        cef.setSourceUserName(kUserName);
        cef.CEF_Log("audit.cef");
        const auto xdas = quorvel_test::createXdasEvent();
        xdas->getInitiator()->getAccount()->setName(kUserName);
        xdas->XDAS_Log("audit.xdas");
        for (const auto& line : quorvel_test::capturedLines())
            captured_ += line.message + "\n";

        log4cxx::LogManager::shutdown(); // flushes and closes every appender
        fflush(stderr);
        dup2(savedError, STDERR_FILENO);
        close(savedError);
        for (int i = 0; i < 2; ++i) {
            char datagram[4096];
            const ssize_t size = recv(socket_, datagram, sizeof datagram, 0);
            EXPECT_GT(size, 0) << "no datagram from the syslog appender";
            if (size > 0) syslog_.append(datagram, static_cast<std::size_t>(size)).append("\n");
        }
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    ~Delivery() { close(socket_); }

    // What each destination received: the CEF line, then the XDAS record,
    // each ended by a line feed, with the clock stamps fixed.
    std::string file() const { return withFixedStamps(directory_.read("file.log")); }
    std::string console() const { return withFixedStamps(directory_.read("console.log")); }
    std::string syslog() const { return withFixedStamps(syslog_); }
    std::string captured() const { return withFixedStamps(captured_); }

  private:
    quorvel_test::CatalogDirectory directory_; // and no catalogue in it
    int socket_ = -1;
    std::string syslog_;
    std::string captured_;
};

const std::string kCefLine = "CEF:0||||||4|rt=1700000000123 dtz=UTC spt=0 suser=" + kUserName + " \n";
const std::string kRawRecord =
    " {\"Initiator\" : {\"Account\" : {\"Name\" : \"" + kUserName +
    "\"}},\"Action\" : {\"Time\" : {\"Offset\" : 1700000000},\"Log\" : {\"Severity\" : 7}}}\n";
const std::string kEscapedRecord =
    " {\"Initiator\" : {\"Account\" : {\"Name\" : \"Zo\\u00C3\\u00AB \\u00C5\\u0081ukasz "
    "\\u00E6\\u0097\\u00A5\\u00E6\\u009C\\u00AC \\u00F0\\u009F\\u0098\\u0080\"}},"
    "\"Action\" : {\"Time\" : {\"Offset\" : 1700000000},\"Log\" : {\"Severity\" : 7}}}\n";

// Under the "C" locale the library hands log4cxx the line's bytes as they
// are, so an appender that writes UTF-8 carries the name whole; the XDAS
// record is all ASCII there.
TEST(NonAsciiDelivery, CLocaleUtf8FileAppenderGetsTheBytes) {
    const Delivery delivery("C");
    EXPECT_EQ(delivery.captured(), kCefLine + kEscapedRecord);
    EXPECT_EQ(delivery.file(), kCefLine + kEscapedRecord);
}

// Under a UTF-8 locale every appender carries the name whole, in both kinds
// of line, and the record holds the characters themselves.
TEST(NonAsciiDelivery, Utf8LocaleEveryAppenderGetsTheBytes) {
    const Delivery delivery("C.UTF-8");
    EXPECT_EQ(delivery.captured(), kCefLine + kRawRecord);
    EXPECT_EQ(delivery.file(), kCefLine + kRawRecord);
    EXPECT_EQ(delivery.console(), kCefLine + kRawRecord);
    EXPECT_EQ(delivery.syslog(), "<14>" + kCefLine + "<14>" + kRawRecord);
}

} // namespace
