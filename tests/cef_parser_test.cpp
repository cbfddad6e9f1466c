// The tests' own CEF parser, which the round-trip and syslog tests read lines
// with: it takes what the format allows and rejects what it does not.
#include "cef_parser.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace {

using quorvel_test::parseCefLine;

TEST(CefParser, ReadsHandWrittenLines) {
    const auto parsed = parseCefLine("CEF:0|V\\|x|P\\\\|1=2|s|a\tb|4|suser=a b\\=c\\\\ src=\\n\\r\t| msg=x  ");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->header, (std::array<std::string, 7>{"0", "V|x", "P\\", "1=2", "s", "a\tb", "4"}));
    const std::vector<std::pair<std::string, std::string>> extension = {
        {"suser", "a b=c\\"}, {"src", "\n\r\t|"}, {"msg", "x "}};
    EXPECT_EQ(parsed->extension, extension);
    EXPECT_TRUE(parseCefLine("CEF:0|||||||"));
}

TEST(CefParser, RejectsMalformedLines) {
    for (const char* line : {
             "CEF:0|V|P|1|s|n|",            // six header values
             "CEF:0|V|P|1|s|n\\x|4|",       // undefined header escape
             "CEF:0|V|P|1|s|n\\n|4|",       // no line-break escape in a header
             "CEF:0|V|P|1|s|n|4|a=b\\t ",   // nor a tab in an extension value
             "CEF:0|V|P|1|s|n\n|4|",        // a raw line break
             "CEF:-1|V|P|1|s|n|4|",         // a version that is not digits
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

} // namespace
