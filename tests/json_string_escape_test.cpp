// String values of the XDAS record: the escapes, and bytes from 0x80 up under
// the default locale and under a UTF-8 locale.
#include "xdas/json_string_escape.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

std::string escaped(std::string_view value) {
    std::string out = "prefix:";
    quorvel::appendJsonString(out, value);
    return out;
}

TEST(JsonString, AppendsQuotedAndEscaped) {
    EXPECT_EQ(escaped(""), R"(prefix:"")");
    EXPECT_EQ(escaped("plain ASCII ~ /"), R"(prefix:"plain ASCII ~ /")");
    EXPECT_EQ(escaped("\"\\\b\f\n\r\t"), R"(prefix:"\"\\\b\f\n\r\t")");
    EXPECT_EQ(escaped(std::string("\0\x01\x0B\x1F\x7F", 5)), R"(prefix:"\u0000\u0001\u000B\u001F\u007F")");
}

TEST(JsonString, DefaultLocaleEscapesEveryHighByte) {
    EXPECT_EQ(escaped("caf\xC3\xA9"), R"(prefix:"caf\u00C3\u00A9")");
    EXPECT_EQ(escaped("\xE2\x82\xAC\x80\xFF"), R"(prefix:"\u00E2\u0082\u00AC\u0080\u00FF")");
}

class JsonStringUtf8 : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }
};

TEST_F(JsonStringUtf8, PrintableCharactersStayWhole) {
    EXPECT_EQ(escaped("caf\xC3\xA9"), "prefix:\"caf\xC3\xA9\"");
    EXPECT_EQ(escaped("\xE2\x82\xAC 5"), "prefix:\"\xE2\x82\xAC 5\"");
    EXPECT_EQ(escaped("\xF0\x9F\x98\x80"), "prefix:\"\xF0\x9F\x98\x80\"");
    EXPECT_EQ(escaped("a\"\n\x01"), R"(prefix:"a\"\n\u0001")");
}

TEST_F(JsonStringUtf8, IllFormedSequencesAreEscapedByteByByte) {
    EXPECT_EQ(escaped("x\xE9y"), R"(prefix:"x\u00E9y")");       // lone lead byte
    EXPECT_EQ(escaped("\xE2\x82"), R"(prefix:"\u00E2\u0082")"); // truncated at the end
    EXPECT_EQ(escaped(std::string("\xE2\x82") + "A"),
              R"(prefix:"\u00E2\u0082A")");                                         // truncated before ASCII
    EXPECT_EQ(escaped("\xC0\xAF"), R"(prefix:"\u00C0\u00AF")");                     // overlong "/"
    EXPECT_EQ(escaped("\xE0\x80\xAF"), R"(prefix:"\u00E0\u0080\u00AF")");           // overlong, three bytes
    EXPECT_EQ(escaped("\xED\xA0\x80"), R"(prefix:"\u00ED\u00A0\u0080")");           // surrogate
    EXPECT_EQ(escaped("\xF4\x90\x80\x80"), R"(prefix:"\u00F4\u0090\u0080\u0080")"); // beyond U+10FFFF
    EXPECT_EQ(escaped("\x82"), R"(prefix:"\u0082")");                               // lone continuation
    // The bad bytes are escaped; the good character after them stays whole.
    EXPECT_EQ(escaped("\xE2\x82\xE2\x82\xAC"), "prefix:\"\\u00E2\\u0082\xE2\x82\xAC\"");
}

TEST_F(JsonStringUtf8, NonPrintableCharactersAreEscapedByteByByte) {
    EXPECT_EQ(escaped("\xC2\x85"), R"(prefix:"\u00C2\u0085")"); // U+0085, next line
    EXPECT_EQ(escaped(std::string("\xC2\x9F") + "z"),
              R"(prefix:"\u00C2\u009Fz")"); // U+009F
}

} // namespace
