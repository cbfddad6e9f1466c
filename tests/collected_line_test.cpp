// Collected lines read through the prefix grammars: each grammar on a line
// as its collector writes it, and the lines a forger would make a prefix
// swallow or hide a message in, which must be read as no prefix at all.
#include "trail/collected_line.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using namespace quorvel::trail;

struct Case {
    const char* name;
    std::string line;
    unsigned grammars;
    MessageKind kind;
    std::string host;
    std::string message;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const std::string kCef = "CEF:0|Acme|Bank|1.0|100|Login|4|suser=root";
const std::string kXdas = " {\"Id\" : \"x\"}";

// What the real programs write is read in tests/integration/collected_prefix_test.cpp;
// here, the shapes they did not write there, and the forgeries.
const Case kCases[] = {
    {"rfc3164 two-digit day, pid", "Dec 19 02:20:09 vm mod[123]: " + kXdas, kRfc3164, MessageKind::Event, "vm", kXdas},
    {"rfc3164 without a host, as syslog(3) sends it locally", "Dec  9 17:53:08 prog: " + kCef, kRfc3164,
     MessageKind::Event, "", kCef},
    {"rfc3339 Z", "2026-12-09T02:20:09.1Z vm.example.org mod: " + kCef, kRfc3339, MessageKind::Event, "vm.example.org",
     kCef},
    {"rfc5424 XDAS", "<86>1 2026-12-09T02:41:37.695733+00:00 vm mod 123 - -  " + kXdas, kRfc5424, MessageKind::Event,
     "vm", kXdas},
    // Rejections: the line is one message of its own, never the one after a
    // forged prefix.
    {"a prefix holding a CEF header", "CEF:0|A|B|1|100|x|4|suser=root: " + kCef, kEveryPrefix & ~kNoPrefix,
     MessageKind::Other, "", "CEF:0|A|B|1|100|x|4|suser=root: " + kCef},
    {"a tag with a blank", "my mod: " + kCef, kProgramTag, MessageKind::Other, "", "my mod: " + kCef},
    {"a tag with |", "a|b: " + kCef, kProgramTag, MessageKind::Other, "", "a|b: " + kCef},
    {"a tag with =", "suser=root: " + kCef, kProgramTag, MessageKind::Other, "", "suser=root: " + kCef},
    {"a grammar not accepted", "Dec  9 02:20:09 vm mod: " + kCef, kEveryPrefix & ~kRfc3164, MessageKind::Other, "",
     "Dec  9 02:20:09 vm mod: " + kCef},
    // Lookalikes: no record of the library's, but what a reader of events
    // would take for one, through a grammar or not.
    {"a blank before CEF: without a prefix", " " + kCef, kNoPrefix, MessageKind::Lookalike, "", " " + kCef},
    {"JSON without the blank, no grammar", "{\"Id\":\"x\"}", kRfc3339, MessageKind::Lookalike, "", "{\"Id\":\"x\"}"},
    {"JSON after a tag", "mod: \t{\"Id\":\"x\"}", kProgramTag, MessageKind::Lookalike, "", "\t{\"Id\":\"x\"}"},
};

class CollectedLineRead : public testing::TestWithParam<Case> {};

TEST_P(CollectedLineRead, ReadsTheMessageOnlyThroughAnAcceptedGrammar) {
    const Case& c = GetParam();
    const CollectedLine read = readCollectedLine(c.line, c.grammars);
    EXPECT_EQ(read.kind, c.kind);
    EXPECT_EQ(read.host, c.host);
    EXPECT_EQ(read.message, c.message);
    EXPECT_EQ(std::string(read.prefix) + std::string(read.message), c.line);
}

INSTANTIATE_TEST_SUITE_P(Lines, CollectedLineRead, testing::ValuesIn(kCases));

} // namespace

// An auditor's own prefix: read like a grammar, held to the same bytes, and
// refused when it is no expression at all.
TEST(CustomPrefix, ReadsItsPrefixAndNoMore) {
    const CustomPrefix custom("[0-9]+ <[a-z]+> ");
    EXPECT_EQ(readCollectedLine("1733 <audit> " + kCef, 0, &custom).message, kCef);
    const CustomPrefix greedy(".*> ");
    EXPECT_EQ(readCollectedLine("CEF:0|A|B|1|100|x|4|suser=root> " + kCef, 0, &greedy).kind, MessageKind::Other);
    // A record read through the prefix, although the bare line is a lookalike.
    EXPECT_EQ(readCollectedLine("  " + kCef, 0, std::make_unique<CustomPrefix>(" +").get()).kind, MessageKind::Event);
    EXPECT_THROW(CustomPrefix("(unclosed"), std::invalid_argument);
    EXPECT_THROW(CustomPrefix("(a+)\\1 "), std::invalid_argument); // unbounded cost on a hostile line
    EXPECT_NO_THROW(CustomPrefix("[a-z]+\\\\1 "));                 // an escaped backslash, then 1
}
