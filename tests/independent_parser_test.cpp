// Lines read back by parsers the library does not share: XDAS records by a
// general JSON parser, CEF lines by the tests' own CEF parser. Values drawn
// from all 256 byte values must come back exactly as they were set.
#include "cef_parser.h"
#include "cef_test_support.h"
#include "event_fields.h"
#include "xdas/xdas_record_writer.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <clocale>
#include <map>
#include <memory>
#include <random>
#include <string>

namespace {

using quorvel_test::parseCefLine;

// Up to `maxLength` bytes, each of any value.
std::string randomBytes(std::mt19937& random, std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string value(length(random), '\0');
    for (char& c : value)
        c = static_cast<char>(byte(random));
    return value;
}

TEST(CefParser, ReadsHandWrittenLines) {
    const auto parsed = parseCefLine("CEF:0|V\\|x|P\\\\|1=2|s|a\\nb|4|suser=a b\\=c\\\\ src=\\n\\r\\t| msg=x  ");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->header, (std::array<std::string, 7>{"0", "V|x", "P\\", "1=2", "s", "a\nb", "4"}));
    const std::vector<std::pair<std::string, std::string>> extension = {
        {"suser", "a b=c\\"}, {"src", "\n\r\t|"}, {"msg", "x "}};
    EXPECT_EQ(parsed->extension, extension);
    EXPECT_TRUE(parseCefLine("CEF:0|||||||"));
}

TEST(CefParser, RejectsMalformedLines) {
    for (const char* line : {
             "CEF:0|V|P|1|s|n|",            // six header values
             "CEF:0|V|P|1|s|n\\x|4|",       // undefined header escape
             "CEF:0|V|P|1|s|n|4|a=b\\| ",   // "|" escaped in an extension value
             "CEF:0|V|P|1|s|n|4|a=b",       // no blank after the last item
             "CEF:0|V|P|1|s|n|4|junk a=b ", // text before the first key
             "CEF:0|V|P|1|s|n|4|a=b=c ",    // unescaped "=" in a value
             "CEF:0|V|P|1|s|n|4|a=b\\ ",    // value ends in a lone backslash
             "CEF:1|V|P|1|s|n|4|=b ",       // no key
             "XEF:0|V|P|1|s|n|4|",
         }) {
        std::string error;
        EXPECT_FALSE(parseCefLine(line, &error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
}

// Every text field, the numbers and the pair labels set at random; the parsed
// line has exactly the set fields with exactly their values.
TEST(IndependentParsers, CefLinesGiveBackRandomBytes) {
    quorvel_test::CatalogDirectory directory; // no catalogue: no msg item
    const quorvel::EventDescriptionCatalog catalog;
    std::mt19937 random(20240501);
    std::uniform_int_distribution<int> number(-100000, 100000);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        CEF_EVENT event;
        std::array<std::string, 7> header;
        std::map<std::string, std::string> expected;
        for (const auto& field : quorvel_test::cefTextFields()) {
            std::string value = randomBytes(random, round % 10 == 0 ? 2000 : 24);
            (event.*field.set)(value);
            if (quorvel::isEmptyCefText(value)) value.clear(); // an empty value is not written
            if (field.headerIndex >= 0)
                header[field.headerIndex] = value;
            else if (!value.empty())
                expected[field.key] = value;
        }
        const int version = number(random), severity = number(random), port = number(random);
        const long cn[3] = {number(random) * 100000L, number(random), number(random)};
        const int flex[2] = {number(random), number(random)};
        event.setVersion(version);
        event.setSeverity(severity);
        event.setSourcePort(port);
        event.setCn1(cn[0]);
        event.setCn2(cn[1]);
        event.setCn3(cn[2]);
        event.setFlexNumber1(flex[0]);
        event.setFlexNumber2(flex[1]);
        header[0] = std::to_string(version);
        header[6] = std::to_string(severity);
        expected["spt"] = std::to_string(port);
        // A pair's value is written only with its label.
        for (int i = 0; i < 3; ++i)
            if (expected.count("cn" + std::to_string(i + 1) + "Label"))
                expected["cn" + std::to_string(i + 1)] = std::to_string(cn[i]);
        for (int i = 0; i < 2; ++i)
            if (expected.count("flexNumber" + std::to_string(i + 1) + "Label"))
                expected["flexNumber" + std::to_string(i + 1)] = std::to_string(flex[i]);

        std::string line;
        quorvel::renderCefLine(catalog, event, line);
        std::string error;
        const auto parsed = parseCefLine(line, &error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_EQ(parsed->header, header);
        std::map<std::string, std::string> extension(parsed->extension.begin(), parsed->extension.end());
        EXPECT_EQ(extension.size(), parsed->extension.size()) << "a key appears twice";
        EXPECT_EQ(extension.erase("dtz"), 1u);
        EXPECT_EQ(extension.count("rt"), 1u);
        extension.erase("rt");
        EXPECT_EQ(extension, expected);
    }
}

struct EventDeleter {
    void operator()(I_XDAS_Event* event) const { destroy(event); }
};

// The parsed record of an event whose string fields, assertions, target data
// and the cached host name hold random values; `expected` is what a JSON
// parser must give back for a set value.
void checkRandomXdasRecords(std::mt19937& random, std::string (*randomValue)(std::mt19937&),
                            std::string (*expected)(const std::string&)) {
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::unique_ptr<I_XDAS_Event, EventDeleter> event(create());
        nlohmann::json want = nlohmann::json::object();
        for (const auto& field : quorvel_test::xdasTextFields()) {
            const std::string value = randomValue(random);
            field.set(*event, value);
            if (!value.empty()) want[nlohmann::json::json_pointer(field.pointer)] = expected(value);
        }
        std::map<std::string, std::string> assertions, data;
        for (int i = 0; i < round % 4; ++i) {
            assertions[randomValue(random)] = randomValue(random);
            data[randomValue(random)] = randomValue(random);
        }
        event->getInitiator()->setAssertions(assertions);
        event->getTarget()->setData(data);
        for (const auto& [key, value] : assertions)
            if (!value.empty()) want["Initiator"]["Assertions"][expected(key)] = expected(value);
        for (const auto& [key, value] : data)
            if (!value.empty()) want["Target"]["Data"][expected(key)] = expected(value);
        const std::string hostName = randomValue(random);
        if (!hostName.empty()) want["Observer"]["Entity"]["SysName"] = expected(hostName);
        event->getAction()->getLog()->setSeverity(8);
        want["Action"]["Time"]["Offset"] = -12345;
        want["Action"]["Log"]["Severity"] = 8;

        std::string record;
        quorvel::writeXdasRecord(*event, hostName, -12345, record);
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(record)) << record;
        EXPECT_EQ(parsed, want) << record;
    }
}

// Under the "C" locale every byte from 0x80 up is escaped as \u00XX, so the
// parsed text is each byte as the code point of its value.
TEST(IndependentParsers, XdasRecordsGiveBackRandomBytesUnderTheCLocale) {
    ASSERT_TRUE(std::setlocale(LC_ALL, "C"));
    std::mt19937 random(20240502);
    checkRandomXdasRecords(
        random, [](std::mt19937& r) { return randomBytes(r, 24); }, quorvel_test::bytesAsCodePoints);
}

// Under a UTF-8 locale, UTF-8 text (printable characters of every length,
// mixed with any ASCII byte) comes back unchanged.
TEST(IndependentParsers, XdasRecordsGiveBackUtf8TextUnderAUtf8Locale) {
    ASSERT_TRUE(std::setlocale(LC_ALL, "C.UTF-8"));
    std::mt19937 random(20240503);
    checkRandomXdasRecords(
        random,
        [](std::mt19937& r) {
            static const char* const pieces[] = {"\xC3\xA9",     "\xC5\x81",         "\xE2\x82\xAC",
                                                 "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xC2\xA0"};
            std::uniform_int_distribution<int> pick(0, 133);
            std::string value;
            for (int n = std::uniform_int_distribution<int>(0, 16)(r); n > 0; --n) {
                const int p = pick(r);
                if (p < 128)
                    value += static_cast<char>(p);
                else
                    value += pieces[p - 128];
            }
            return value;
        },
        [](const std::string& value) { return value; });
}

} // namespace
