// The CEF record: its construction stamps and defaults, and every accessor
// pair reading back what its setter stored.
#include "stamps.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace {

template <typename T> struct Accessors {
    void (CEF_EVENT::*set)(T);
    T (CEF_EVENT::*get)() const;
};

const Accessors<std::string> kText[] = {
    {&CEF_EVENT::setDeviceVendor, &CEF_EVENT::getDeviceVendor},
    {&CEF_EVENT::setDeviceProduct, &CEF_EVENT::getDeviceProduct},
    {&CEF_EVENT::setDeviceVersion, &CEF_EVENT::getDeviceVersion},
    {&CEF_EVENT::setSignatureID, &CEF_EVENT::getSignatureID},
    {&CEF_EVENT::setName, &CEF_EVENT::getName},
    {&CEF_EVENT::setDeviceDnsDomain, &CEF_EVENT::getDeviceDnsDomain},
    {&CEF_EVENT::setDeviceHostName, &CEF_EVENT::getDeviceHostName},
    {&CEF_EVENT::setDeviceAddress, &CEF_EVENT::getDeviceAddress},
    {&CEF_EVENT::setSourceDnsDomain, &CEF_EVENT::getSourceDnsDomain},
    {&CEF_EVENT::setSourceUserId, &CEF_EVENT::getSourceUserId},
    {&CEF_EVENT::setSourceUserName, &CEF_EVENT::getSourceUserName},
    {&CEF_EVENT::setSourceAddress, &CEF_EVENT::getSourceAddress},
    {&CEF_EVENT::setSourceHostName, &CEF_EVENT::getSourceHostName},
    {&CEF_EVENT::setDestinationDnsDomain, &CEF_EVENT::getDestinationDnsDomain},
    {&CEF_EVENT::setDestinationUserId, &CEF_EVENT::getDestinationUserId},
    {&CEF_EVENT::setDestinationUserName, &CEF_EVENT::getDestinationUserName},
    {&CEF_EVENT::setDestinationAddress, &CEF_EVENT::getDestinationAddress},
    {&CEF_EVENT::setDestinationServiceName, &CEF_EVENT::getDestinationServiceName},
    {&CEF_EVENT::setDestinationHostName, &CEF_EVENT::getDestinationHostName},
    {&CEF_EVENT::setCs1, &CEF_EVENT::getCs1},
    {&CEF_EVENT::setCs2, &CEF_EVENT::getCs2},
    {&CEF_EVENT::setCs3, &CEF_EVENT::getCs3},
    {&CEF_EVENT::setCs4, &CEF_EVENT::getCs4},
    {&CEF_EVENT::setCs5, &CEF_EVENT::getCs5},
    {&CEF_EVENT::setCs6, &CEF_EVENT::getCs6},
    {&CEF_EVENT::setFlexString1, &CEF_EVENT::getFlexString1},
    {&CEF_EVENT::setFlexString2, &CEF_EVENT::getFlexString2},
    {&CEF_EVENT::setReason, &CEF_EVENT::getReason},
    {&CEF_EVENT::setOutcome, &CEF_EVENT::getOutcome},
    {&CEF_EVENT::setcs1Label, &CEF_EVENT::getcs1Label},
    {&CEF_EVENT::setcs2Label, &CEF_EVENT::getcs2Label},
    {&CEF_EVENT::setcs3Label, &CEF_EVENT::getcs3Label},
    {&CEF_EVENT::setcs4Label, &CEF_EVENT::getcs4Label},
    {&CEF_EVENT::setcs5Label, &CEF_EVENT::getcs5Label},
    {&CEF_EVENT::setcs6Label, &CEF_EVENT::getcs6Label},
    {&CEF_EVENT::setCat, &CEF_EVENT::getCat},
    {&CEF_EVENT::setCn1Label, &CEF_EVENT::getCn1Label},
    {&CEF_EVENT::setCn2Label, &CEF_EVENT::getCn2Label},
    {&CEF_EVENT::setCn3Label, &CEF_EVENT::getCn3Label},
    {&CEF_EVENT::setFlexString1Label, &CEF_EVENT::getFlexString1Label},
    {&CEF_EVENT::setFlexString2Label, &CEF_EVENT::getFlexString2Label},
    {&CEF_EVENT::setFlexNumber1Label, &CEF_EVENT::getFlexNumber1Label},
    {&CEF_EVENT::setFlexNumber2Label, &CEF_EVENT::getFlexNumber2Label},
    {&CEF_EVENT::setC6a1, &CEF_EVENT::getC6a1},
    {&CEF_EVENT::setC6a2, &CEF_EVENT::getC6a2},
    {&CEF_EVENT::setC6a3, &CEF_EVENT::getC6a3},
    {&CEF_EVENT::setSourceServiceName, &CEF_EVENT::getSourceServiceName},
    {&CEF_EVENT::setSourceProcessName, &CEF_EVENT::getSourceProcessName},
};
const Accessors<int> kInt[] = {
    {&CEF_EVENT::setVersion, &CEF_EVENT::getVersion},
    {&CEF_EVENT::setSeverity, &CEF_EVENT::getSeverity},
    {&CEF_EVENT::setFlexNumber1, &CEF_EVENT::getFlexNumber1},
    {&CEF_EVENT::setFlexNumber2, &CEF_EVENT::getFlexNumber2},
    {&CEF_EVENT::setFileType, &CEF_EVENT::getFileType},
    {&CEF_EVENT::setSourcePort, &CEF_EVENT::getSourcePort},
    {&CEF_EVENT::setDestinationPort, &CEF_EVENT::getDestinationPort},
};
const Accessors<long> kLong[] = {
    {&CEF_EVENT::setCn1, &CEF_EVENT::getCn1},
    {&CEF_EVENT::setCn2, &CEF_EVENT::getCn2},
    {&CEF_EVENT::setCn3, &CEF_EVENT::getCn3},
};

TEST(CefEvent, FreshRecordIsEmptyApartFromItsStamps) {
    const CEF_EVENT event;
    for (const auto& field : kText)
        EXPECT_EQ((event.*field.get)(), "");
    for (const auto& field : kInt)
        EXPECT_EQ((event.*field.get)(), 0);
    for (const auto& field : kLong)
        EXPECT_EQ((event.*field.get)(), 0);

    quorvel_test::expectNow(event.getTime(), 1000, "getTime()");
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
    for (std::size_t i = 0; i < std::size(kText); ++i)
        (event.*kText[i].set)("text" + std::to_string(i));
    for (std::size_t i = 0; i < std::size(kInt); ++i)
        (event.*kInt[i].set)(-1 - static_cast<int>(i));
    for (std::size_t i = 0; i < std::size(kLong); ++i)
        (event.*kLong[i].set)(5000000000 + static_cast<long>(i));
    for (std::size_t i = 0; i < std::size(kText); ++i)
        EXPECT_EQ((event.*kText[i].get)(), "text" + std::to_string(i));
    for (std::size_t i = 0; i < std::size(kInt); ++i)
        EXPECT_EQ((event.*kInt[i].get)(), -1 - static_cast<int>(i));
    for (std::size_t i = 0; i < std::size(kLong); ++i)
        EXPECT_EQ((event.*kLong[i].get)(), 5000000000 + static_cast<long>(i));
}

} // namespace
