// The CEF line as rendered: whole lines, compared with lines written out by
// hand, for the header, the singles, the pairs, the escapes and the message.
#include "cef_test_support.h"
#include "worked_examples.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using quorvel_test::CatalogDirectory;
using quorvel_test::withFixedStamps;

std::string lineOf(const CEF_EVENT& event, const std::string& catalog = "") {
    return quorvel_test::renderedLine(event, catalog);
}

TEST(CefLine, WorkedExample) {
    CEF_EVENT event;
    quorvel_test::fillCefWorkedExample(event);
    EXPECT_EQ(lineOf(event, "100=User {suser} logged in\n"),
              "CEF:0|ExampleVendor|ExampleProduct|1.0|100|Login|4|dvchost=host1 rt=1700000000123 dtz=UTC spt=0 "
              "suser=user1 cn1Label=Attempts cn1=3 cs1Label=Role cs1=admin outcome=success msg=User user1 logged in ");
}

TEST(CefLine, DefaultRecordHasSevenSeparatorsAndOnlyTheAlwaysPresentItems) {
    const CEF_EVENT event;
    EXPECT_EQ(lineOf(event), "CEF:0||||||0|rt=1700000000123 dtz=UTC spt=0 ");
}

// Every renderable field set to a value of its own shows the line's order;
// the eight fields without a key never show.
TEST(CefLine, EveryFieldInLineOrderAndUnrenderedFieldsLeftOut) {
    CEF_EVENT event;
    event.setVersion(1);
    event.setDeviceVendor("V");
    event.setDeviceProduct("P");
    event.setDeviceVersion("DV");
    event.setSignatureID("S");
    event.setName("N");
    event.setSeverity(6);
    event.setDeviceDnsDomain("XDEVDNS");
    event.setDeviceHostName("dh");
    event.setDeviceAddress("1.1.1.1");
    event.setSourceDnsDomain("XSRCDNS");
    event.setSourceUserId("XSRCUID");
    event.setSourceUserName("su");
    event.setSourceAddress("2.2.2.2");
    event.setSourceHostName("sh");
    event.setDestinationDnsDomain("XDSTDNS");
    event.setDestinationUserId("XDSTUID");
    event.setDestinationUserName("du");
    event.setDestinationAddress("3.3.3.3");
    event.setDestinationServiceName("dsn");
    event.setDestinationHostName("dho");
    event.setCs1("c1");
    event.setCs2("c2");
    event.setCs3("c3");
    event.setCs4("c4");
    event.setCs5("c5");
    event.setCs6("c6");
    event.setCn1(-1);
    event.setCn2(5000000000);
    event.setCn3(3);
    event.setFlexString1("f1");
    event.setFlexString2("f2");
    event.setReason("re");
    event.setOutcome("ou");
    event.setcs1Label("CL1");
    event.setcs2Label("CL2");
    event.setcs3Label("CL3");
    event.setcs4Label("CL4");
    event.setcs5Label("CL5");
    event.setcs6Label("CL6");
    event.setFlexNumber1(-7);
    event.setFlexNumber2(8);
    event.setFileType(99);
    event.setCat("ca");
    event.setCn1Label("L1");
    event.setCn2Label("L2");
    event.setCn3Label("L3");
    event.setFlexString1Label("FL1");
    event.setFlexString2Label("FL2");
    event.setFlexNumber1Label("NL1");
    event.setFlexNumber2Label("NL2");
    event.setC6a1("::1");
    event.setC6a2("::2");
    event.setC6a3("XC6A3");
    event.setSourcePort(22);
    event.setDestinationPort(443);
    event.setSourceServiceName("ssn");
    event.setSourceProcessName("sp");
    EXPECT_EQ(lineOf(event),
              "CEF:1|V|P|DV|S|N|6|dvc=1.1.1.1 c6a1=::1 dvchost=dh rt=1700000000123 dtz=UTC sourceServiceName=ssn "
              "sproc=sp src=2.2.2.2 c6a2=::2 spt=22 shost=sh suser=su dst=3.3.3.3 dhost=dho "
              "destinationServiceName=dsn duser=du cn1Label=L1 cn1=-1 cn2Label=L2 cn2=5000000000 cn3Label=L3 cn3=3 "
              "cs1Label=CL1 cs1=c1 cs2Label=CL2 cs2=c2 cs3Label=CL3 cs3=c3 cs4Label=CL4 cs4=c4 cs5Label=CL5 cs5=c5 "
              "cs6Label=CL6 cs6=c6 flexString1Label=FL1 flexString1=f1 flexString2Label=FL2 flexString2=f2 "
              "flexNumber1Label=NL1 flexNumber1=-7 flexNumber2Label=NL2 flexNumber2=8 cat=ca reason=re outcome=ou ");
}

TEST(CefLine, PairValuesAppearOnlyWithTheirLabels) {
    CEF_EVENT event;
    event.setCn1(42);        // no label: neither item
    event.setCn2Label("L");  // label, value left at 0: both items
    event.setFlexNumber1(5); // no label: neither item
    event.setFlexNumber2Label("M");
    EXPECT_EQ(lineOf(event),
              "CEF:0||||||0|rt=1700000000123 dtz=UTC spt=0 cn2Label=L cn2=0 flexNumber2Label=M flexNumber2=0 ");
}

TEST(CefLine, CsAndFlexStringLabelsAndValuesAreIndependentItems) {
    CEF_EVENT event;
    event.setCs1("V");
    event.setcs2Label("L");
    event.setFlexString1Label("FL");
    event.setFlexString2("fv");
    EXPECT_EQ(lineOf(event),
              "CEF:0||||||0|rt=1700000000123 dtz=UTC spt=0 cs1=V cs2Label=L flexString1Label=FL flexString2=fv ");
}

// A NUL byte, which would end the line on an appender that passes it on as
// a C string, is written as U+FFFD wherever it stands, first byte included:
// nothing after it is lost and the value stays visible.
TEST(CefLine, NulBytesAreWrittenAsTheReplacementCharacterAndHideNothing) {
    CEF_EVENT event;
    event.setName(std::string("\0n", 2));
    event.setSourceUserName(std::string("mallory\0x", 9));
    event.setSourceAddress("10.6.6.6");
    event.setcs1Label(std::string(1, '\0'));
    event.setOutcome("failure");
    event.setSourcePort(-1);
    EXPECT_EQ(lineOf(event), "CEF:0|||||\xEF\xBF\xBDn|0|rt=1700000000123 dtz=UTC src=10.6.6.6 spt=-1 "
                             "suser=mallory\xEF\xBF\xBDx cs1Label=\xEF\xBF\xBD outcome=failure ");
}

// Header values carry only the escapes CEF defines there (\\ and \|), so no
// value can shift the header and strict parsers accept the line: "=" and tab
// stay bare, a line break has no escape and is written as U+FFFD, and a
// negative version, which no reader accepts, as 0.
TEST(CefLine, HeaderValuesCarryOnlyTheHeaderEscapes) {
    CEF_EVENT event;
    event.setVersion(-1);
    event.setDeviceVendor("a|b");
    event.setDeviceProduct("c=d");
    event.setDeviceVersion("e\\f");
    event.setSignatureID("g\nh");
    event.setName("i\rj\tk|");
    event.setSeverity(8);
    EXPECT_EQ(lineOf(event),
              "CEF:0|a\\|b|c=d|e\\\\f|g\xEF\xBF\xBDh|i\xEF\xBF\xBDj\tk\\||8|rt=1700000000123 dtz=UTC spt=0 ");
}

TEST(CefLine, ForgedHeaderFieldsStayInsideTheirValue) {
    CEF_EVENT event;
    event.setDeviceVendor("Acme");
    event.setName("x|9|forged");
    event.setSeverity(1);
    EXPECT_EQ(lineOf(event), R"(CEF:0|Acme||||x\|9\|forged|1|rt=1700000000123 dtz=UTC spt=0 )");
}

TEST(CefLine, ExtensionValuesEscapeBackslashEqualsAndLineBreaksOnly) {
    CEF_EVENT event;
    event.setSourceUserName("a\\b=c");
    event.setDestinationUserName("l1\nl2\rl3\tl4");
    event.setCs1("x|y");
    event.setCs2("already\\n escaped");
    event.setCs3("ctl\x01\x7f\xc3\xa9");
    event.setReason("==\\\\");
    EXPECT_EQ(lineOf(event), "CEF:0||||||0|rt=1700000000123 dtz=UTC spt=0 suser=a\\\\b\\=c "
                             "duser=l1\\nl2\\rl3\tl4 cs1=x|y cs2=already\\\\n escaped cs3=ctl\x01\x7f\xc3\xa9 "
                             "reason=\\=\\=\\\\\\\\ ");
}

TEST(CefLine, NoTemplateNoEmptyTemplateAndNoFileAllGiveNoMsgItem) {
    CEF_EVENT event;
    event.setSignatureID("200");
    const std::string expected = "CEF:0||||200||0|rt=1700000000123 dtz=UTC spt=0 ";
    EXPECT_EQ(lineOf(event, "100=Known\n"), expected);
    EXPECT_EQ(lineOf(event, "200=\n"), expected);
    EXPECT_EQ(lineOf(event, "200= \t \r\n"), expected);

    setenv("VRQ_SERVER_CONFIGDIR", "/nonexistent/quorvel", 1);
    const quorvel::EventDescriptionCatalog missing;
    std::string line;
    quorvel::renderCefLine(missing, event, line);
    EXPECT_EQ(withFixedStamps(line), expected);
}

} // namespace
