// Fills every settable field of a CEF record from fuzzer input.
#pragma once

#include <quorvel/cef_event.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace quorvel_fuzz {

// Sets each text field to up to `maxText` arbitrary bytes and each number to
// an arbitrary value; the signature ID is left to the caller.
inline void fillCefEvent(CEF_EVENT& event, FuzzedDataProvider& input, std::size_t maxText = 24) {
    using TextSetter = void (CEF_EVENT::*)(std::string);
    static constexpr TextSetter kTextSetters[] = {
        &CEF_EVENT::setDeviceVendor,
        &CEF_EVENT::setDeviceProduct,
        &CEF_EVENT::setDeviceVersion,
        &CEF_EVENT::setName,
        &CEF_EVENT::setDeviceHostName,
        &CEF_EVENT::setDeviceAddress,
        &CEF_EVENT::setSourceUserName,
        &CEF_EVENT::setSourceAddress,
        &CEF_EVENT::setSourceHostName,
        &CEF_EVENT::setDestinationUserName,
        &CEF_EVENT::setDestinationAddress,
        &CEF_EVENT::setDestinationServiceName,
        &CEF_EVENT::setDestinationHostName,
        &CEF_EVENT::setCs1,
        &CEF_EVENT::setCs2,
        &CEF_EVENT::setCs3,
        &CEF_EVENT::setCs4,
        &CEF_EVENT::setCs5,
        &CEF_EVENT::setCs6,
        &CEF_EVENT::setFlexString1,
        &CEF_EVENT::setFlexString2,
        &CEF_EVENT::setReason,
        &CEF_EVENT::setOutcome,
        &CEF_EVENT::setcs1Label,
        &CEF_EVENT::setcs2Label,
        &CEF_EVENT::setcs3Label,
        &CEF_EVENT::setcs4Label,
        &CEF_EVENT::setcs5Label,
        &CEF_EVENT::setcs6Label,
        &CEF_EVENT::setCat,
        &CEF_EVENT::setCn1Label,
        &CEF_EVENT::setCn2Label,
        &CEF_EVENT::setCn3Label,
        &CEF_EVENT::setFlexString1Label,
        &CEF_EVENT::setFlexString2Label,
        &CEF_EVENT::setFlexNumber1Label,
        &CEF_EVENT::setFlexNumber2Label,
        &CEF_EVENT::setC6a1,
        &CEF_EVENT::setC6a2,
        &CEF_EVENT::setSourceServiceName,
        &CEF_EVENT::setSourceProcessName,
    };
    for (const TextSetter set : kTextSetters)
        (event.*set)(input.ConsumeRandomLengthString(maxText));
    event.setVersion(input.ConsumeIntegral<int>());
    event.setSeverity(input.ConsumeIntegral<int>());
    event.setSourcePort(input.ConsumeIntegral<int>());
    event.setFlexNumber1(input.ConsumeIntegral<int>());
    event.setFlexNumber2(input.ConsumeIntegral<int>());
    event.setCn1(input.ConsumeIntegral<long>());
    event.setCn2(input.ConsumeIntegral<long>());
    event.setCn3(input.ConsumeIntegral<long>());
}

} // namespace quorvel_fuzz
