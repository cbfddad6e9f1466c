// One property, two inputs: every value set on an event comes back exactly as
// it was set when the line is read by a parser the library does not use (the
// tests' own CEF parser, a general JSON parser for XDAS records), and no value
// can add, remove or alter another field or break the line. The inputs are
// hostile strings (separators, escapes, line breaks, "CEF:0|" and " suser=",
// placeholders, JSON quotes, control characters), each set alone, and random
// values from all 256 bytes (or UTF-8 text under a UTF-8 locale), set in
// every field at once.
#include "cef_parser.h"
#include "cef_test_support.h"
#include "event_fields.h"
#include "logging/log_emitter.h"
#include "xdas/xdas_record_writer.h"
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <clocale>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Every attack alone and between other text.
std::vector<std::string> withSurroundings(const std::vector<std::string>& attacks) {
    std::vector<std::string> values;
    for (const std::string& attack : attacks) {
        values.push_back(attack);
        values.push_back("a" + attack + "z");
    }
    return values;
}

// Up to `maxLength` bytes, each of any value.
std::string randomBytes(std::mt19937& random, std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string value(length(random), '\0');
    for (char& c : value)
        c = static_cast<char>(byte(random));
    return value;
}

// --- CEF ---------------------------------------------------------------------

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
    std::string(1, '\0'),
});

// The template of signature 100: its slots hold the raw values.
const char* const kCatalog = "100=User {suser} from {src} did {cs1}\n";

// What one CEF event is given: text values by the field's key, and numbers.
struct CefInput {
    std::map<std::string, std::string> text;
    int version = 0, severity = 0, port = 0;
    long cn[3] = {};
    int flexNumber[2] = {};
};

// The header and the extension items (less rt and dtz) that the line of
// `input` must hold, from the line format's rules.
std::pair<std::array<std::string, 7>, std::map<std::string, std::string>> expectedCefContent(const CefInput& input) {
    // What a parser reads back for a set value: the value, each byte that
    // has no escape there and cannot stand raw as U+FFFD: NUL, and in the
    // header line feed and carriage return.
    using namespace std::string_view_literals;
    const auto valueOf = [&](const std::string& key, std::string_view replaced = "\0"sv) {
        const auto found = input.text.find(key);
        std::string value = found == input.text.end() ? std::string() : found->second;
        for (std::size_t at; (at = value.find_first_of(replaced)) != std::string::npos;)
            value.replace(at, 1, "\xEF\xBF\xBD");
        return value;
    };
    // A header number is digits: a negative one is written as 0.
    std::array<std::string, 7> header{std::to_string(std::max(input.version, 0)), "", "", "", "", "",
                                      std::to_string(std::max(input.severity, 0))};
    std::map<std::string, std::string> extension{{"spt", std::to_string(input.port)}};
    for (const auto& field : quorvel_test::cefTextFields()) {
        if (field.headerIndex >= 0)
            header[field.headerIndex] = valueOf(field.key, "\0\n\r"sv);
        else if (const std::string value = valueOf(field.key); !value.empty())
            extension[field.key] = value;
    }
    // A pair's number is written only with its label.
    for (int i = 0; i < 3; ++i)
        if (extension.count("cn" + std::to_string(i + 1) + "Label"))
            extension["cn" + std::to_string(i + 1)] = std::to_string(input.cn[i]);
    for (int i = 0; i < 2; ++i)
        if (extension.count("flexNumber" + std::to_string(i + 1) + "Label"))
            extension["flexNumber" + std::to_string(i + 1)] = std::to_string(input.flexNumber[i]);
    if (valueOf("signature") == "100")
        extension["msg"] = "User " + valueOf("suser") + " from " + valueOf("src") + " did " + valueOf("cs1");
    return {header, extension};
}

// Each attack in each text field alone, in an event of signature 100.
std::vector<CefInput> hostileCefInputs() {
    std::vector<CefInput> inputs;
    for (const auto& field : quorvel_test::cefTextFields()) {
        for (const std::string& value : kCefAttacks) {
            CefInput input;
            input.severity = 4;
            input.text["signature"] = "100";
            input.text[field.key] = value;
            inputs.push_back(input);
        }
    }
    return inputs;
}

// Every text field and every number set at random, 300 times.
std::vector<CefInput> randomCefInputs() {
    std::mt19937 random(20240501);
    std::uniform_int_distribution<int> number(-100000, 100000);
    std::vector<CefInput> inputs(300);
    for (std::size_t round = 0; round < inputs.size(); ++round) {
        CefInput& input = inputs[round];
        for (const auto& field : quorvel_test::cefTextFields())
            input.text[field.key] = randomBytes(random, round % 10 == 0 ? 2000 : 24);
        input.version = number(random), input.severity = number(random), input.port = number(random);
        input.cn[0] = number(random) * 100000L, input.cn[1] = number(random), input.cn[2] = number(random);
        input.flexNumber[0] = number(random), input.flexNumber[1] = number(random);
    }
    return inputs;
}

CEF_EVENT cefEventOf(const CefInput& input) {
    CEF_EVENT event;
    for (const auto& field : quorvel_test::cefTextFields())
        if (const auto found = input.text.find(field.key); found != input.text.end()) (event.*field.set)(found->second);
    event.setVersion(input.version);
    event.setSeverity(input.severity);
    event.setSourcePort(input.port);
    event.setCn1(input.cn[0]);
    event.setCn2(input.cn[1]);
    event.setCn3(input.cn[2]);
    event.setFlexNumber1(input.flexNumber[0]);
    event.setFlexNumber2(input.flexNumber[1]);
    return event;
}

struct CefInputs {
    const char* name;
    std::vector<CefInput> (*make)();
    std::size_t count;
};

void PrintTo(const CefInputs& inputs, std::ostream* out) { *out << inputs.name; }

class CefRoundTrip : public testing::TestWithParam<CefInputs> {};

TEST_P(CefRoundTrip, LineHoldsExactlyTheFieldsSet) {
    quorvel_test::CatalogDirectory directory;
    directory.write(kCatalog);
    const quorvel::EventDescriptionCatalog catalog;
    const std::vector<CefInput> inputs = GetParam().make();
    ASSERT_EQ(inputs.size(), GetParam().count);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        quorvel::LineString rendered; // as CEF_Log has, holding the line before
        quorvel::renderCefLine(catalog, cefEventOf(inputs[i]), rendered.text());
        const std::string& line = rendered.text();
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        std::string error;
        const auto parsed = quorvel_test::parseCefLine(line, &error);
        ASSERT_TRUE(parsed) << error << "\n" << line;
        const auto [header, expected] = expectedCefContent(inputs[i]);
        EXPECT_EQ(parsed->header, header) << line;
        std::map<std::string, std::string> extension(parsed->extension.begin(), parsed->extension.end());
        EXPECT_EQ(extension.size(), parsed->extension.size()) << "a key appears twice: " << line;
        EXPECT_EQ(extension.erase("rt") + extension.erase("dtz"), 2u) << line;
        EXPECT_EQ(extension, expected) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, CefRoundTrip,
                         testing::Values(CefInputs{"HostileStrings", hostileCefInputs, 42 * 60},
                                         CefInputs{"RandomBytes", randomCefInputs, 300}),
                         [](const testing::TestParamInfo<CefInputs>& info) { return info.param.name; });

// Each template value names the other's placeholder; the message shows the
// values as text and expands nothing twice.
TEST(CefRoundTrip, PlaceholdersInsideTemplateValuesStayText) {
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

// --- XDAS --------------------------------------------------------------------

// What one XDAS event is given: string fields by JSON pointer, assertions,
// target data and the cached host name.
struct XdasInput {
    std::map<std::string, std::string> text;
    std::map<std::string, std::string> assertions, data;
    std::string hostName;
};

// The record `input` must parse back to, each set text passed through
// `reading` (what a JSON reader gives back for it under the locale in force).
nlohmann::json expectedRecord(const XdasInput& input, const std::function<std::string(const std::string&)>& reading) {
    nlohmann::json want = nlohmann::json::object();
    for (const auto& [pointer, value] : input.text)
        if (!value.empty()) want[nlohmann::json::json_pointer(pointer)] = reading(value);
    for (const auto& [key, value] : input.assertions)
        if (!value.empty()) want["Initiator"]["Assertions"][reading(key)] = reading(value);
    for (const auto& [key, value] : input.data)
        if (!value.empty()) want["Target"]["Data"][reading(key)] = reading(value);
    if (!input.hostName.empty()) want["Observer"]["Entity"]["SysName"] = reading(input.hostName);
    want["Action"]["Time"]["Offset"] = 1700000000;
    want["Action"]["Log"]["Severity"] = 7;
    return want;
}

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

// Each attack alone in each string field, as both key and value of an
// assertion and of a data member, and as the cached host name.
std::vector<XdasInput> hostileXdasInputs() {
    std::vector<XdasInput> inputs;
    for (const std::string& value : xdasAttacks()) {
        for (const auto& field : quorvel_test::xdasTextFields())
            inputs.push_back(XdasInput{{{field.pointer, value}}, {}, {}, ""});
        inputs.push_back(XdasInput{{}, {{value, "v"}, {"k", value}}, {}, ""});
        inputs.push_back(XdasInput{{}, {}, {{value, "v"}, {"k", value}}, ""});
        inputs.push_back(XdasInput{{}, {}, {}, value});
    }
    return inputs;
}

// Every string field, a few assertions and data members and the host name
// set from `randomValue`, 300 times.
std::vector<XdasInput> randomXdasInputs(std::uint32_t seed, std::string (*randomValue)(std::mt19937&)) {
    std::mt19937 random(seed);
    std::vector<XdasInput> inputs(300);
    for (std::size_t round = 0; round < inputs.size(); ++round) {
        XdasInput& input = inputs[round];
        for (const auto& field : quorvel_test::xdasTextFields())
            input.text[field.pointer] = randomValue(random);
        for (std::size_t i = 0; i < round % 4; ++i) {
            input.assertions[randomValue(random)] = randomValue(random);
            input.data[randomValue(random)] = randomValue(random);
        }
        input.hostName = randomValue(random);
    }
    return inputs;
}

std::string utf8Text(std::mt19937& random) {
    static const char* const pieces[] = {"\xC3\xA9",     "\xC5\x81",         "\xE2\x82\xAC",
                                         "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xC2\xA0"};
    std::uniform_int_distribution<int> pick(0, 133);
    std::string value;
    for (int n = std::uniform_int_distribution<int>(0, 16)(random); n > 0; --n) {
        const int p = pick(random);
        if (p < 128)
            value += static_cast<char>(p);
        else
            value += pieces[p - 128];
    }
    return value;
}

struct XdasInputs {
    const char* name;
    const char* locale;
    std::vector<XdasInput> (*make)();
    std::string (*reading)(const std::string&);
};

void PrintTo(const XdasInputs& inputs, std::ostream* out) { *out << inputs.name; }

class XdasRoundTrip : public testing::TestWithParam<XdasInputs> {};

TEST_P(XdasRoundTrip, RecordHoldsExactlyTheFieldsSet) {
    ASSERT_TRUE(std::setlocale(LC_ALL, GetParam().locale));
    const std::vector<XdasInput> inputs = GetParam().make();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        const XdasInput& input = inputs[i];
        const auto event = quorvel_test::createXdasEvent();
        for (const auto& field : quorvel_test::xdasTextFields())
            if (const auto found = input.text.find(field.pointer); found != input.text.end())
                field.set(*event, found->second);
        event->getInitiator()->setAssertions(input.assertions);
        event->getTarget()->setData(input.data);
        quorvel::LineString rendered; // as XDAS_Log has, holding the record before
        quorvel::writeXdasRecord(*event, input.hostName, 1700000000, rendered.text());
        const std::string& record = rendered.text();
        for (const char c : record)
            ASSERT_GE(static_cast<unsigned char>(c), 0x20) << record; // one physical line, no control bytes
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(record)) << record;
        EXPECT_EQ(parsed, expectedRecord(input, GetParam().reading)) << record;
    }
}

std::string asSet(const std::string& value) { return value; }

INSTANTIATE_TEST_SUITE_P(Inputs, XdasRoundTrip,
                         testing::Values(XdasInputs{"HostileStrings", "C", hostileXdasInputs, asSet},
                                         // Under "C" every byte from 0x80 up is written as \u00XX, read back as
                                         // the code point of its value.
                                         XdasInputs{"RandomBytesUnderTheCLocale", "C",
                                                    [] {
                                                        return randomXdasInputs(20240502, [](std::mt19937& r) {
                                                            return randomBytes(r, 24);
                                                        });
                                                    },
                                                    quorvel_test::bytesAsCodePoints},
                                         // Under a UTF-8 locale, UTF-8 text comes back unchanged.
                                         XdasInputs{"Utf8TextUnderAUtf8Locale", "C.UTF-8",
                                                    [] { return randomXdasInputs(20240503, utf8Text); }, asSet}),
                         [](const testing::TestParamInfo<XdasInputs>& info) { return info.param.name; });

} // namespace
