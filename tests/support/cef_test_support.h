// Helpers for CEF tests: a catalogue file in a directory of its own that the
// parameter service names, and the construction stamps of a logged line
// replaced by fixed ones so whole lines can be compared with lines written
// out by hand.
#pragma once

#include "cef/cef_line.h"
#include "cef/event_description_catalog.h"
#include "temp_dir.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

namespace quorvel_test {

// A fresh temporary directory named by VRQ_SERVER_CONFIGDIR for as long as
// the object lives; write() puts OstradEventDesc.conf into it.
class CatalogDirectory : public TempDir {
  public:
    CatalogDirectory() : TempDir("cef") { setenv("VRQ_SERVER_CONFIGDIR", path().c_str(), 1); }

    using TempDir::file;
    using TempDir::write;

    // Replaces the catalogue file with exactly `content` (bytes as given).
    void write(const std::string& content) const { write("OstradEventDesc.conf", content); }
    void removeFile() const { std::remove(file().c_str()); }
    std::string file() const { return file("OstradEventDesc.conf"); }
};

// The event of the worked example: a login by user1 at INFO, signature 100.
inline void fillWorkedExample(CEF_EVENT& event) {
    event.setDeviceVendor("ExampleVendor");
    event.setDeviceProduct("ExampleProduct");
    event.setDeviceVersion("1.0");
    event.setSignatureID("100");
    event.setName("Login");
    event.setSeverity(4);
    event.setDeviceHostName("host1");
    event.setSourceUserName("user1");
    event.setCn1Label("Attempts");
    event.setCn1(3);
    event.setcs1Label("Role");
    event.setCs1("admin");
    event.setOutcome("success");
}

// The abbreviation of the local time zone now, as the tests expect it.
inline std::string localZone() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_zone ? local.tm_zone : "";
}

// `line` with its "rt" and "dtz" items replaced by rt=1700000000123 and
// dtz=UTC, after checking that rt is the current time in milliseconds (to
// within a minute) and dtz the local zone.
inline std::string withFixedStamp(const std::string& line) {
    static const std::regex stamp("([| ])rt=([0-9]+) dtz=([^ ]*) ");
    std::smatch match;
    if (!std::regex_search(line, match, stamp)) {
        ADD_FAILURE() << "no rt and dtz items in: " << line;
        return line;
    }
    const long long nowMillis =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_NEAR(static_cast<double>(std::stoll(match[2])), static_cast<double>(nowMillis), 60000.0) << line;
    EXPECT_EQ(match[3], localZone()) << line;
    return match.prefix().str() + match[1].str() + "rt=1700000000123 dtz=UTC " + match.suffix().str();
}

// The line of `event` rendered against a catalogue read from a file holding
// exactly `catalog`, its stamps fixed by withFixedStamp().
inline std::string renderedLine(const CEF_EVENT& event, const std::string& catalog = "") {
    CatalogDirectory directory;
    directory.write(catalog);
    const quorvel::EventDescriptionCatalog descriptions;
    std::string line = "left over";
    quorvel::renderCefLine(descriptions, event, line);
    return withFixedStamp(line);
}

} // namespace quorvel_test
