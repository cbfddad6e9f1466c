// The CEF record: its construction stamps and defaults, and every accessor
// pair reading back what its setter stored.
#include "cef_test_support.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

TEST(CefEvent, FreshRecordIsEmptyApartFromItsStamps) {
    const CEF_EVENT event;
    for (const int number : {event.getVersion(), event.getSeverity(), event.getFlexNumber1(), event.getFlexNumber2(),
                             event.getFileType(), event.getSourcePort(), event.getDestinationPort()})
        EXPECT_EQ(number, 0);
    for (const long number : {event.getCn1(), event.getCn2(), event.getCn3()})
        EXPECT_EQ(number, 0);
    for (const std::string& text : {event.getDeviceVendor(),
                                    event.getDeviceProduct(),
                                    event.getDeviceVersion(),
                                    event.getSignatureID(),
                                    event.getName(),
                                    event.getDeviceDnsDomain(),
                                    event.getDeviceHostName(),
                                    event.getDeviceAddress(),
                                    event.getSourceDnsDomain(),
                                    event.getSourceUserId(),
                                    event.getSourceUserName(),
                                    event.getSourceAddress(),
                                    event.getSourceHostName(),
                                    event.getDestinationDnsDomain(),
                                    event.getDestinationUserId(),
                                    event.getDestinationUserName(),
                                    event.getDestinationAddress(),
                                    event.getDestinationServiceName(),
                                    event.getDestinationHostName(),
                                    event.getCs1(),
                                    event.getCs2(),
                                    event.getCs3(),
                                    event.getCs4(),
                                    event.getCs5(),
                                    event.getCs6(),
                                    event.getFlexString1(),
                                    event.getFlexString2(),
                                    event.getReason(),
                                    event.getOutcome(),
                                    event.getcs1Label(),
                                    event.getcs2Label(),
                                    event.getcs3Label(),
                                    event.getcs4Label(),
                                    event.getcs5Label(),
                                    event.getcs6Label(),
                                    event.getCat(),
                                    event.getCn1Label(),
                                    event.getCn2Label(),
                                    event.getCn3Label(),
                                    event.getFlexString1Label(),
                                    event.getFlexString2Label(),
                                    event.getFlexNumber1Label(),
                                    event.getFlexNumber2Label(),
                                    event.getC6a1(),
                                    event.getC6a2(),
                                    event.getC6a3(),
                                    event.getSourceServiceName(),
                                    event.getSourceProcessName()})
        EXPECT_EQ(text, "");

    const std::string time = event.getTime();
    ASSERT_FALSE(time.empty());
    EXPECT_EQ(time.find_first_not_of("0123456789"), std::string::npos) << time;
    EXPECT_NE(time[0], '0');
    const auto nowMillis =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_NEAR(static_cast<double>(std::stoll(time)), static_cast<double>(nowMillis), 60000.0);
    EXPECT_EQ(event.getTimeZone(), quorvel_test::localZone());
}

TEST(CefEvent, TimeZoneIsTheLocalAbbreviation) {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    const CEF_EVENT event;
    const std::string zone = event.getTimeZone();
    EXPECT_TRUE(zone == "CET" || zone == "CEST") << zone;
    EXPECT_EQ(zone, quorvel_test::localZone());
}

// Each setter writes its own field: every field gets a value of its own and
// every getter must return exactly that value.
TEST(CefEvent, EveryGetterReturnsWhatItsOwnSetterStored) {
    CEF_EVENT event;
    event.setVersion(-5);
    event.setDeviceVendor("vendor");
    event.setDeviceProduct("product");
    event.setDeviceVersion("devver");
    event.setSignatureID("sig");
    event.setName("name");
    event.setSeverity(-9);
    event.setDeviceDnsDomain("devdns");
    event.setDeviceHostName("devhost");
    event.setDeviceAddress("devaddr");
    event.setSourceDnsDomain("srcdns");
    event.setSourceUserId("srcuid");
    event.setSourceUserName("srcuser");
    event.setSourceAddress("srcaddr");
    event.setSourceHostName("srchost");
    event.setDestinationDnsDomain("dstdns");
    event.setDestinationUserId("dstuid");
    event.setDestinationUserName("dstuser");
    event.setDestinationAddress("dstaddr");
    event.setDestinationServiceName("dstsvc");
    event.setDestinationHostName("dsthost");
    event.setCs1("cs1");
    event.setCs2("cs2");
    event.setCs3("cs3");
    event.setCs4("cs4");
    event.setCs5("cs5");
    event.setCs6("cs6");
    event.setCn1(5000000000);
    event.setCn2(-6000000000);
    event.setCn3(7);
    event.setFlexString1("fs1");
    event.setFlexString2("fs2");
    event.setReason("reason");
    event.setOutcome("outcome");
    event.setcs1Label("cs1L");
    event.setcs2Label("cs2L");
    event.setcs3Label("cs3L");
    event.setcs4Label("cs4L");
    event.setcs5Label("cs5L");
    event.setcs6Label("cs6L");
    event.setFlexNumber1(11);
    event.setFlexNumber2(12);
    event.setFileType(13);
    event.setCat("cat");
    event.setCn1Label("cn1L");
    event.setCn2Label("cn2L");
    event.setCn3Label("cn3L");
    event.setFlexString1Label("fs1L");
    event.setFlexString2Label("fs2L");
    event.setFlexNumber1Label("fn1L");
    event.setFlexNumber2Label("fn2L");
    event.setC6a1("c6a1");
    event.setC6a2("c6a2");
    event.setC6a3("c6a3");
    event.setSourcePort(-1);
    event.setDestinationPort(65536);
    event.setSourceServiceName("srcsvc");
    event.setSourceProcessName("srcproc");

    EXPECT_EQ(event.getVersion(), -5);
    EXPECT_EQ(event.getDeviceVendor(), "vendor");
    EXPECT_EQ(event.getDeviceProduct(), "product");
    EXPECT_EQ(event.getDeviceVersion(), "devver");
    EXPECT_EQ(event.getSignatureID(), "sig");
    EXPECT_EQ(event.getName(), "name");
    EXPECT_EQ(event.getSeverity(), -9);
    EXPECT_EQ(event.getDeviceDnsDomain(), "devdns");
    EXPECT_EQ(event.getDeviceHostName(), "devhost");
    EXPECT_EQ(event.getDeviceAddress(), "devaddr");
    EXPECT_EQ(event.getSourceDnsDomain(), "srcdns");
    EXPECT_EQ(event.getSourceUserId(), "srcuid");
    EXPECT_EQ(event.getSourceUserName(), "srcuser");
    EXPECT_EQ(event.getSourceAddress(), "srcaddr");
    EXPECT_EQ(event.getSourceHostName(), "srchost");
    EXPECT_EQ(event.getDestinationDnsDomain(), "dstdns");
    EXPECT_EQ(event.getDestinationUserId(), "dstuid");
    EXPECT_EQ(event.getDestinationUserName(), "dstuser");
    EXPECT_EQ(event.getDestinationAddress(), "dstaddr");
    EXPECT_EQ(event.getDestinationServiceName(), "dstsvc");
    EXPECT_EQ(event.getDestinationHostName(), "dsthost");
    EXPECT_EQ(event.getCs1(), "cs1");
    EXPECT_EQ(event.getCs2(), "cs2");
    EXPECT_EQ(event.getCs3(), "cs3");
    EXPECT_EQ(event.getCs4(), "cs4");
    EXPECT_EQ(event.getCs5(), "cs5");
    EXPECT_EQ(event.getCs6(), "cs6");
    EXPECT_EQ(event.getCn1(), 5000000000);
    EXPECT_EQ(event.getCn2(), -6000000000);
    EXPECT_EQ(event.getCn3(), 7);
    EXPECT_EQ(event.getFlexString1(), "fs1");
    EXPECT_EQ(event.getFlexString2(), "fs2");
    EXPECT_EQ(event.getReason(), "reason");
    EXPECT_EQ(event.getOutcome(), "outcome");
    EXPECT_EQ(event.getcs1Label(), "cs1L");
    EXPECT_EQ(event.getcs2Label(), "cs2L");
    EXPECT_EQ(event.getcs3Label(), "cs3L");
    EXPECT_EQ(event.getcs4Label(), "cs4L");
    EXPECT_EQ(event.getcs5Label(), "cs5L");
    EXPECT_EQ(event.getcs6Label(), "cs6L");
    EXPECT_EQ(event.getFlexNumber1(), 11);
    EXPECT_EQ(event.getFlexNumber2(), 12);
    EXPECT_EQ(event.getFileType(), 13);
    EXPECT_EQ(event.getCat(), "cat");
    EXPECT_EQ(event.getCn1Label(), "cn1L");
    EXPECT_EQ(event.getCn2Label(), "cn2L");
    EXPECT_EQ(event.getCn3Label(), "cn3L");
    EXPECT_EQ(event.getFlexString1Label(), "fs1L");
    EXPECT_EQ(event.getFlexString2Label(), "fs2L");
    EXPECT_EQ(event.getFlexNumber1Label(), "fn1L");
    EXPECT_EQ(event.getFlexNumber2Label(), "fn2L");
    EXPECT_EQ(event.getC6a1(), "c6a1");
    EXPECT_EQ(event.getC6a2(), "c6a2");
    EXPECT_EQ(event.getC6a3(), "c6a3");
    EXPECT_EQ(event.getSourcePort(), -1);
    EXPECT_EQ(event.getDestinationPort(), 65536);
    EXPECT_EQ(event.getSourceServiceName(), "srcsvc");
    EXPECT_EQ(event.getSourceProcessName(), "srcproc");
}

} // namespace
