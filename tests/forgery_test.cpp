// Attempts to forge fields: values that hold separators, escapes, line
// breaks, "CEF:0|" and " suser=", placeholders inside template values, JSON
// quotes and control characters. Read back by the independent parsers, each
// line must hold exactly the fields that were set, with exactly their
// values, on one physical line.
#include "cef_parser.h"
#include "cef_test_support.h"
#include "event_fields.h"
#include "xdas/xdas_record_writer.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Every attack is tried alone and between other text.
std::vector<std::string> withSurroundings(const std::vector<std::string>& attacks) {
    std::vector<std::string> values;
    for (const std::string& attack : attacks) {
        values.push_back(attack);
        values.push_back("a" + attack + "z");
    }
    return values;
}

const std::vector<std::string> kCefAttacks = withSurroundings({
    "\n",
    "\r",
    "\r\n",
    "\t",
    "|",
    "=",
    "\\",
    "\\\\",
    "\\=",
    "\\|",
    "\\n",
    "a\\",
    " ",
    "  ",
    "CEF:0|",
    "|CEF:0|evil|evil|1|1|evil|10|suser=root",
    "\nCEF:0|evil|evil|1|1|evil|10|suser=root ",
    "\r\nCEF:0|evil|evil|1|1|evil|10|",
    " suser=",
    " suser=root",
    "x suser=root msg=forged ",
    "x\\ suser=root",
    "\\ suser\\=root",
    "=\\=",
    " suser\\",
    "{src}",
    "{suser}",
    "{cs1}",
    "{msg}",
});

// The template expanded for signature 100: the raw values in its slots.
const char* const kCatalog = "100=User {suser} from {src} did {cs1}\n";

TEST(Forgery, CefTextFieldsHoldOnlyTheirOwnValue) {
    quorvel_test::CatalogDirectory directory;
    directory.write(kCatalog);
    const quorvel::EventDescriptionCatalog catalog;
    int attempts = 0;
    for (const auto& field : quorvel_test::cefTextFields()) {
        for (const std::string& value : kCefAttacks) {
            SCOPED_TRACE(std::string(field.key) + " = \"" + value + "\"");
            ++attempts;
            CEF_EVENT event;
            event.setSeverity(4);
            std::array<std::string, 7> header{"0", "", "", "", "100", "", "4"};
            std::map<std::string, std::string> expected{{"spt", "0"}};
            if (field.headerIndex != 4) event.setSignatureID("100");
            (event.*field.set)(value);
            if (field.headerIndex >= 0)
                header[field.headerIndex] = value;
            else
                expected[field.key] = value;
            // A pair label brings its number along.
            const std::string key = field.key;
            if (key.size() == 8 && key.compare(0, 2, "cn") == 0 && key.compare(3, 5, "Label") == 0)
                expected[key.substr(0, 3)] = "0";
            if (key.compare(0, 10, "flexNumber") == 0) expected[key.substr(0, 11)] = "0";
            if (header[4] == "100") {
                const auto slot = [&](const char* name) { return key == name ? value : std::string(); };
                expected["msg"] = "User " + slot("suser") + " from " + slot("src") + " did " + slot("cs1");
            }

            std::string line;
            quorvel::renderCefLine(catalog, event, line);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
            std::string error;
            const auto parsed = quorvel_test::parseCefLine(line, &error);
            ASSERT_TRUE(parsed) << error << "\n" << line;
            EXPECT_EQ(parsed->header, header) << line;
            std::map<std::string, std::string> extension(parsed->extension.begin(), parsed->extension.end());
            EXPECT_EQ(extension.size(), parsed->extension.size()) << line;
            EXPECT_EQ(extension.erase("rt") + extension.erase("dtz"), 2u) << line;
            EXPECT_EQ(extension, expected) << line;
        }
    }
    EXPECT_EQ(attempts, 42 * 58);
}

// Each template value names the other's placeholder; the message shows the
// values as text and expands nothing twice.
TEST(Forgery, PlaceholdersInsideTemplateValuesStayText) {
    quorvel_test::CatalogDirectory directory;
    directory.write(kCatalog);
    const quorvel::EventDescriptionCatalog catalog;
    CEF_EVENT event;
    event.setSignatureID("100");
    event.setSourceUserName("{src}");
    event.setSourceAddress("{suser} suser=root");
    event.setCs1("{cs1}{msg}");
    std::string line;
    quorvel::renderCefLine(catalog, event, line);
    const auto parsed = quorvel_test::parseCefLine(line);
    ASSERT_TRUE(parsed) << line;
    ASSERT_FALSE(parsed->extension.empty());
    EXPECT_EQ(parsed->extension.back(),
              (std::pair<std::string, std::string>{"msg", "User {src} from {suser} suser=root did {cs1}{msg}"}));
}

struct EventDeleter {
    void operator()(I_XDAS_Event* event) const { destroy(event); }
};

std::vector<std::string> xdasAttacks() {
    std::vector<std::string> attacks = {
        "\"",
        "\\",
        "\\\"",
        "\"}",
        "\"]",
        "\",\"Id\" : \"forged",
        "\"},\"Action\" : {\"Outcome\" : \"0",
        "\\u0022",
        "\\u0000",
        "/",
        "\n {\"Id\" : \"forged\"}",
        "\r\n",
    };
    for (int c = 0; c < 0x20; ++c)
        attacks.push_back(std::string(1, static_cast<char>(c)));
    attacks.push_back("\x7F");
    return withSurroundings(attacks);
}

// The record holds one field (or one assertion, one data member, or the
// cached host name) set to an attack; the parsed record has that value
// exactly where it was set, and nothing else but the time and severity.
TEST(Forgery, XdasStringsKeysAndHostNameHoldOnlyTheirOwnValue) {
    int attempts = 0;
    const auto check = [&](const std::string& value, auto&& setUp) {
        ++attempts;
        std::unique_ptr<I_XDAS_Event, EventDeleter> event(create());
        nlohmann::json want = nlohmann::json::object();
        std::string hostName;
        setUp(*event, want, hostName);
        want["Action"]["Time"]["Offset"] = 1700000000;
        want["Action"]["Log"]["Severity"] = 7;
        std::string record;
        quorvel::writeXdasRecord(*event, hostName, 1700000000, record);
        for (const char c : record)
            ASSERT_GE(static_cast<unsigned char>(c), 0x20) << record;
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(record)) << record;
        EXPECT_EQ(parsed, want) << record;
        (void)value;
    };
    for (const std::string& value : xdasAttacks()) {
        SCOPED_TRACE("value \"" + value + "\"");
        for (const auto& field : quorvel_test::xdasTextFields())
            check(value, [&](I_XDAS_Event& event, nlohmann::json& want, std::string&) {
                field.set(event, value);
                want[nlohmann::json::json_pointer(field.pointer)] = value;
            });
        check(value, [&](I_XDAS_Event& event, nlohmann::json& want, std::string&) {
            event.getInitiator()->setAssertions({{value, "v"}, {"k", value}});
            want["Initiator"]["Assertions"] = {{value, "v"}, {"k", value}};
        });
        check(value, [&](I_XDAS_Event& event, nlohmann::json& want, std::string&) {
            event.getTarget()->setData({{value, "v"}, {"k", value}});
            want["Target"]["Data"] = {{value, "v"}, {"k", value}};
        });
        check(value, [&](I_XDAS_Event&, nlohmann::json& want, std::string& hostName) {
            hostName = value;
            want["Observer"]["Entity"]["SysName"] = value;
        });
    }
    EXPECT_EQ(attempts, 90 * 32);
}

} // namespace
