// The catalogue: how its file is read and its templates compiled and
// expanded, shown through the "msg" item of whole lines.
#include "cef_test_support.h"
#include "compiled_template_parts.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <istream>
#include <optional>
#include <streambuf>
#include <string>
#include <utility>

namespace {

using quorvel::EventDescriptionCatalog;
using quorvel_test::renderedLine;

const char* const kPlain = "CEF:0||||";

// The line of an event with only its signature ID (and the given user and
// address) set, for the header of which the tests below are written.
CEF_EVENT eventWith(const std::string& signature, const std::string& user = "", const std::string& address = "") {
    CEF_EVENT event;
    event.setSignatureID(signature);
    event.setSourceUserName(user);
    event.setSourceAddress(address);
    return event;
}

TEST(CefCatalog, PlaceholdersAreFilledAndAnEmptyTextValueLeavesItsBlanks) {
    const std::string catalog = "100=User {suser} logged in from {src}\n";
    EXPECT_EQ(renderedLine(eventWith("100", "user1", "10.0.0.1"), catalog),
              std::string(kPlain) + "100||0|rt=1700000000123 dtz=UTC src=10.0.0.1 spt=0 suser=user1 "
                                    "msg=User user1 logged in from 10.0.0.1 ");
    EXPECT_EQ(renderedLine(eventWith("100", "user1"), catalog),
              std::string(kPlain) +
                  "100||0|rt=1700000000123 dtz=UTC spt=0 suser=user1 msg=User user1 logged in from  ");
}

TEST(CefCatalog, CompiledTemplateKeepsKnownPlaceholdersAndRecordsTheirRows) {
    const std::string compiledTemplate = quorvel_test::compiledTemplate("User {suser} logged in from {src}{SUSER}");
    const quorvel::EventDescTemplate compiled(compiledTemplate);
    EXPECT_EQ(quorvel_test::templateText(compiled), "User {suser} logged in from {src}");
    const auto placeholders = quorvel_test::placeholdersOf(compiled);
    ASSERT_EQ(placeholders.size(), 2u);
    EXPECT_EQ(placeholders[0].field->key, "suser");
    EXPECT_EQ(placeholders[0].offset, 5u);
    EXPECT_EQ(placeholders[1].field->key, "src");
    EXPECT_EQ(placeholders[1].offset, 28u);
}

TEST(CefCatalog, RepeatedPlaceholderIsFilledEverywhereAndTemplateTextIsNotEscaped) {
    const std::string catalog = "1={suser} is {suser}\n2=a=b \\ c\t\n3=x={suser}\n";
    EXPECT_EQ(renderedLine(eventWith("1", "u"), catalog),
              std::string(kPlain) + "1||0|rt=1700000000123 dtz=UTC spt=0 suser=u msg=u is u ");
    EXPECT_EQ(renderedLine(eventWith("2"), catalog),
              std::string(kPlain) + "2||0|rt=1700000000123 dtz=UTC spt=0 msg=a=b \\ c ");
    // The substituted value carries the extension escaping, the template's
    // own "=" stays bare.
    EXPECT_EQ(renderedLine(eventWith("3", "a=b\\c\nd"), catalog),
              std::string(kPlain) + "3||0|rt=1700000000123 dtz=UTC spt=0 suser=a\\=b\\\\c\\nd msg=x=a\\=b\\\\c\\nd ");
}

TEST(CefCatalog, TemplateOfAnEmptyTextFieldAloneGivesNoMsgItem) {
    EXPECT_EQ(renderedLine(eventWith("1"), "1={suser}\n"),
              std::string(kPlain) + "1||0|rt=1700000000123 dtz=UTC spt=0 ");
}

TEST(CefCatalog, NumbersAreAlwaysSubstitutedWhateverTheirLabels) {
    CEF_EVENT event = eventWith("5");
    event.setCn1(42);
    event.setSeverity(4);
    EXPECT_EQ(renderedLine(event, "5=v{version} s{severity} cn1 {cn1} port {spt} fn {flexNumber1}\n"),
              std::string(kPlain) + "5||4|rt=1700000000123 dtz=UTC spt=0 msg=v0 s4 cn1 42 port 0 fn 0 ");
}

// A header value substituted into a message gets the extension escaping,
// not the header's.
TEST(CefCatalog, HeaderFieldsInMessagesUseExtensionEscaping) {
    CEF_EVENT event = eventWith("6");
    event.setName("x=y|z");
    EXPECT_EQ(renderedLine(event, "6=Event {name}\n"),
              R"(CEF:0||||6|x=y\|z|0|rt=1700000000123 dtz=UTC spt=0 msg=Event x\=y|z )");
}

TEST(CefCatalog, UnknownAndMisspelledPlaceholdersAreDroppedAtLoad) {
    const std::string catalog =
        "1=Login by {dpt} done\n2=a{SUSER}b{ suser }c{suser }d\n3={DeviceDnsDomain}{fileType}x\n";
    CEF_EVENT event = eventWith("1", "u");
    event.setDestinationPort(443);
    EXPECT_EQ(renderedLine(event, catalog),
              std::string(kPlain) + "1||0|rt=1700000000123 dtz=UTC spt=0 suser=u msg=Login by  done ");
    EXPECT_EQ(renderedLine(eventWith("2", "u"), catalog),
              std::string(kPlain) + "2||0|rt=1700000000123 dtz=UTC spt=0 suser=u msg=abcd ");
    EXPECT_EQ(renderedLine(eventWith("3"), catalog),
              std::string(kPlain) + "3||0|rt=1700000000123 dtz=UTC spt=0 msg=x ");
}

TEST(CefCatalog, NestedAndLoneBraces) {
    const std::string catalog = "1={{suser}}\n2=a { b\n3=b } c\n4=a{b\rc}d {suser}\n5={x{suser}y}{src}\n";
    EXPECT_EQ(renderedLine(eventWith("1", "u"), catalog),
              std::string(kPlain) + "1||0|rt=1700000000123 dtz=UTC spt=0 suser=u msg=} ");
    EXPECT_EQ(renderedLine(eventWith("2"), catalog),
              std::string(kPlain) + "2||0|rt=1700000000123 dtz=UTC spt=0 msg=a { b ");
    EXPECT_EQ(renderedLine(eventWith("3"), catalog),
              std::string(kPlain) + "3||0|rt=1700000000123 dtz=UTC spt=0 msg=b } c ");
    // A carriage return stops a token: the first brace stays literal text.
    EXPECT_EQ(renderedLine(eventWith("4", "u"), catalog),
              std::string(kPlain) + "4||0|rt=1700000000123 dtz=UTC spt=0 suser=u msg=a{b\rc}d u ");
    EXPECT_EQ(renderedLine(eventWith("5", "u", "A"), catalog),
              std::string(kPlain) + "5||0|rt=1700000000123 dtz=UTC src=A spt=0 suser=u msg=y}A ");
}

// Each placeholder is filled at its own position: a value that looks like a
// placeholder is never taken for one.
TEST(CefCatalog, SubstitutedPlaceholderTextIsNotExpandedAndStealsNothing) {
    const std::string catalog = "1={suser} at {src}\n2={suser}{suser} {cs1}\n";
    EXPECT_EQ(renderedLine(eventWith("1", "{src}", "A"), catalog),
              std::string(kPlain) + "1||0|rt=1700000000123 dtz=UTC src=A spt=0 suser={src} msg={src} at A ");
    CEF_EVENT event = eventWith("2", "{suser}");
    event.setCs1("{cs1}");
    EXPECT_EQ(renderedLine(event, catalog), std::string(kPlain) + "2||0|rt=1700000000123 dtz=UTC spt=0 "
                                                                  "suser={suser} cs1={cs1} msg={suser}{suser} {cs1} ");
}

TEST(CefCatalog, LineRulesFirstEqualsBlanksInIdentifiersAndLinesWithoutEquals) {
    const std::string catalog = "5=a=b\n 6=lead\n4711\n4711 = Text\n8=  kept \v\f\t \n9=no final line feed";
    EXPECT_EQ(renderedLine(eventWith("5"), catalog),
              std::string(kPlain) + "5||0|rt=1700000000123 dtz=UTC spt=0 msg=a=b ");
    EXPECT_EQ(renderedLine(eventWith("6"), catalog), std::string(kPlain) + "6||0|rt=1700000000123 dtz=UTC spt=0 ");
    EXPECT_EQ(renderedLine(eventWith(" 6"), catalog),
              std::string(kPlain) + " 6||0|rt=1700000000123 dtz=UTC spt=0 msg=lead ");
    EXPECT_EQ(renderedLine(eventWith("4711"), catalog),
              std::string(kPlain) + "4711||0|rt=1700000000123 dtz=UTC spt=0 msg=4711 ");
    EXPECT_EQ(renderedLine(eventWith("4711 "), catalog),
              std::string(kPlain) + "4711 ||0|rt=1700000000123 dtz=UTC spt=0 msg= Text ");
    EXPECT_EQ(renderedLine(eventWith("8"), catalog),
              std::string(kPlain) + "8||0|rt=1700000000123 dtz=UTC spt=0 msg=  kept ");
    EXPECT_EQ(renderedLine(eventWith("9"), catalog),
              std::string(kPlain) + "9||0|rt=1700000000123 dtz=UTC spt=0 msg=no final line feed ");
}

TEST(CefCatalog, FirstLineOfAnIdentifierCountsEvenWithAnEmptyTemplate) {
    const std::string catalog = "7=first\n7=second\n8=\n8=later\n";
    EXPECT_EQ(renderedLine(eventWith("7"), catalog),
              std::string(kPlain) + "7||0|rt=1700000000123 dtz=UTC spt=0 msg=first ");
    EXPECT_EQ(renderedLine(eventWith("8"), catalog), std::string(kPlain) + "8||0|rt=1700000000123 dtz=UTC spt=0 ");
}

TEST(CefCatalog, EmptyIdentifierFromAnEmptyLineOrALineStartingWithEquals) {
    EXPECT_EQ(renderedLine(eventWith(""), "1=one\n=Unnamed event\n"),
              "CEF:0||||||0|rt=1700000000123 dtz=UTC spt=0 msg=Unnamed event ");
    EXPECT_EQ(renderedLine(eventWith(""), "1=one\n\n=Unnamed event\n"), "CEF:0||||||0|rt=1700000000123 dtz=UTC spt=0 ");
}

TEST(CefCatalog, CrLfLinesLoseTheirCarriageReturnOnlyInTemplates) {
    const std::string catalog = "1=One {suser}\r\n4712\r\n";
    EXPECT_EQ(renderedLine(eventWith("1", "u"), catalog),
              std::string(kPlain) + "1||0|rt=1700000000123 dtz=UTC spt=0 suser=u msg=One u ");
    EXPECT_EQ(renderedLine(eventWith("4712"), catalog),
              std::string(kPlain) + "4712||0|rt=1700000000123 dtz=UTC spt=0 ");
    // The identifier keeps its carriage return, which the header shows as U+FFFD.
    EXPECT_EQ(renderedLine(eventWith("4712\r"), catalog),
              std::string(kPlain) + "4712\xEF\xBF\xBD||0|rt=1700000000123 dtz=UTC spt=0 msg=4712 ");
}

TEST(CefCatalog, LookupOfAbsentOrEmptyEntriesAddsNothing) {
    quorvel_test::CatalogDirectory directory;
    directory.write("1=\n");
    const EventDescriptionCatalog catalog;
    for (const char* signature : {"1", "2"}) {
        const CEF_EVENT event = eventWith(signature);
        EXPECT_EQ(catalog.message(event), "");
    }
    ASSERT_NE(catalog.find("1"), std::nullopt);
    EXPECT_EQ(quorvel_test::templateText(*catalog.find("1")), "");
    EXPECT_EQ(catalog.find("2"), std::nullopt);
}

// A stream that cannot tell its size and hands out three bytes at a time, so
// that the catalogue makes its room as it reads, in the middle of lines.
class TrickleBuffer : public std::streambuf {
  public:
    explicit TrickleBuffer(std::string bytes) : bytes_(std::move(bytes)) {}

  private:
    int_type underflow() override {
        if (at_ == bytes_.size()) return traits_type::eof();
        const std::size_t count = std::min<std::size_t>(3, bytes_.size() - at_);
        setg(bytes_.data() + at_, bytes_.data() + at_, bytes_.data() + at_ + count);
        at_ += count;
        return traits_type::to_int_type(*gptr());
    }

    std::string bytes_;
    std::size_t at_ = 0;
};

TEST(CefCatalog, StreamThatCannotTellItsSizeIsReadWhole) {
    const std::string text(1000, 'x');
    TrickleBuffer buffer("1=" + text + " {suser}\n2\n3=last {suser}");
    std::istream lines(&buffer);
    const EventDescriptionCatalog catalog(lines);
    EXPECT_EQ(catalog.message(eventWith("1", "u")), text + " u");
    EXPECT_EQ(catalog.message(eventWith("2")), "2");
    EXPECT_EQ(catalog.message(eventWith("3", "u")), "last u");
}

TEST(CefCatalog, DirectoryIsUsedAsGivenWithADoubledSlash) {
    quorvel_test::CatalogDirectory directory;
    directory.write("1=found\n");
    setenv("VRQ_SERVER_CONFIGDIR", (directory.path() + "/").c_str(), 1);
    const EventDescriptionCatalog catalog;
    ASSERT_NE(catalog.find("1"), std::nullopt);
    EXPECT_EQ(quorvel_test::templateText(*catalog.find("1")), "found");
}

} // namespace
