// CEF audit events: one Common Event Format record, rendered and logged as a
// single "CEF:" line.
//
// A caller constructs a CEF_EVENT (which stamps its time and local time zone),
// sets the fields it knows, and calls CEF_Log(loggerName). The line's "msg"
// item comes from the event-description catalogue, chosen by the signature ID;
// the record has no message field of its own. Setters store what they are
// given and validate nothing; empty text fields are left out of the line.
// The record carries no lock: one thread fills and logs a given record at a
// time.
#pragma once

#include <string>

namespace quorvel::internal {
struct CefEventAccess; // the field table, which renders members in place
} // namespace quorvel::internal

class CEF_EVENT {
  public:
    // Every text field empty, every number 0; Time is the wall clock in whole
    // milliseconds since the Unix epoch (decimal), TimeZone the local zone's
    // abbreviation (for example "UTC", "CET"), both taken now.
    CEF_EVENT();
    // Resets every field to empty or 0 before releasing the strings.
    ~CEF_EVENT();

    int getVersion() const;
    void setVersion(int version);
    std::string getDeviceVendor() const;
    void setDeviceVendor(std::string deviceVendor);
    std::string getDeviceProduct() const;
    void setDeviceProduct(std::string deviceProduct);
    std::string getDeviceVersion() const;
    void setDeviceVersion(std::string deviceVersion);
    std::string getSignatureID() const;
    void setSignatureID(std::string signatureId);
    std::string getName() const;
    void setName(std::string name);
    // 1 TRACE, 2 DEBUG, 4 INFO, 6 WARN, 8 ERROR; any other code is rendered
    // but not logged.
    int getSeverity() const;
    void setSeverity(int severity);

    // Stored only; never rendered.
    std::string getDeviceDnsDomain() const;
    void setDeviceDnsDomain(std::string deviceDnsDomain);
    // Not filled in by the library: copy getCEFHostName() in if wanted.
    std::string getDeviceHostName() const;
    void setDeviceHostName(std::string deviceHostName);
    std::string getDeviceAddress() const;
    void setDeviceAddress(std::string deviceAddress);
    // Stored only; never rendered.
    std::string getSourceDnsDomain() const;
    void setSourceDnsDomain(std::string sourceDnsDomain);
    // Stored only; never rendered.
    std::string getSourceUserId() const;
    void setSourceUserId(std::string sourceUserId);
    std::string getSourceUserName() const;
    void setSourceUserName(std::string sourceUserName);
    std::string getSourceAddress() const;
    void setSourceAddress(std::string sourceAddress);
    std::string getSourceHostName() const;
    void setSourceHostName(std::string sourceHostName);
    // Stored only; never rendered.
    std::string getDestinationDnsDomain() const;
    void setDestinationDnsDomain(std::string destinationDnsDomain);
    // Stored only; never rendered.
    std::string getDestinationUserId() const;
    void setDestinationUserId(std::string destinationUserId);
    std::string getDestinationUserName() const;
    void setDestinationUserName(std::string destinationUserName);
    std::string getDestinationAddress() const;
    void setDestinationAddress(std::string destinationAddress);
    std::string getDestinationServiceName() const;
    void setDestinationServiceName(std::string destinationServiceName);
    std::string getDestinationHostName() const;
    void setDestinationHostName(std::string destinationHostName);

    std::string getCs1() const;
    void setCs1(std::string cs1);
    std::string getCs2() const;
    void setCs2(std::string cs2);
    std::string getCs3() const;
    void setCs3(std::string cs3);
    std::string getCs4() const;
    void setCs4(std::string cs4);
    std::string getCs5() const;
    void setCs5(std::string cs5);
    std::string getCs6() const;
    void setCs6(std::string cs6);
    // Cn1..Cn3 appear in the line only when their labels are set.
    long getCn1() const;
    void setCn1(long cn1);
    long getCn2() const;
    void setCn2(long cn2);
    long getCn3() const;
    void setCn3(long cn3);
    std::string getFlexString1() const;
    void setFlexString1(std::string flexString1);
    std::string getFlexString2() const;
    void setFlexString2(std::string flexString2);
    std::string getReason() const;
    void setReason(std::string reason);
    std::string getOutcome() const;
    void setOutcome(std::string outcome);

    std::string getcs1Label() const;
    void setcs1Label(std::string label);
    std::string getcs2Label() const;
    void setcs2Label(std::string label);
    std::string getcs3Label() const;
    void setcs3Label(std::string label);
    std::string getcs4Label() const;
    void setcs4Label(std::string label);
    std::string getcs5Label() const;
    void setcs5Label(std::string label);
    std::string getcs6Label() const;
    void setcs6Label(std::string label);
    // FlexNumber1 and FlexNumber2 appear in the line only when their labels
    // are set.
    int getFlexNumber1() const;
    void setFlexNumber1(int flexNumber1);
    int getFlexNumber2() const;
    void setFlexNumber2(int flexNumber2);
    // Stored only; never rendered.
    int getFileType() const;
    void setFileType(int fileType);
    std::string getCat() const;
    void setCat(std::string cat);
    std::string getCn1Label() const;
    void setCn1Label(std::string cn1Label);
    std::string getCn2Label() const;
    void setCn2Label(std::string cn2Label);
    std::string getCn3Label() const;
    void setCn3Label(std::string cn3Label);
    std::string getFlexString1Label() const;
    void setFlexString1Label(std::string flexString1Label);
    std::string getFlexString2Label() const;
    void setFlexString2Label(std::string flexString2Label);
    std::string getFlexNumber1Label() const;
    void setFlexNumber1Label(std::string flexNumber1Label);
    std::string getFlexNumber2Label() const;
    void setFlexNumber2Label(std::string flexNumber2Label);
    std::string getC6a1() const;
    void setC6a1(std::string c6a1);
    std::string getC6a2() const;
    void setC6a2(std::string c6a2);
    // Stored only; never rendered.
    std::string getC6a3() const;
    void setC6a3(std::string c6a3);
    // Always rendered, as spt=0 when never set.
    int getSourcePort() const;
    void setSourcePort(int sourcePort);
    // Stored only; never rendered.
    int getDestinationPort() const;
    void setDestinationPort(int destinationPort);
    std::string getSourceServiceName() const;
    void setSourceServiceName(std::string sourceServiceName);
    std::string getSourceProcessName() const;
    void setSourceProcessName(std::string sourceProcessName);

    // Construction time and zone; there are no setters.
    std::string getTime() const;
    std::string getTimeZone() const;

    // Logs the event under the log4cxx logger `loggerName` (see
    // Write_CEF_Event) and returns 0, whether or not anything was logged;
    // throws what Write_CEF_Event throws.
    int CEF_Log(std::string loggerName);
    // Renders the event as one CEF line and logs it under `loggerName` at the
    // level its severity selects, if that logger enables the level. The first
    // call of the process loads the event-description catalogue. Throws what
    // the appenders throw on the caller's thread: log4cxx's IOException when
    // a file cannot be written (disk full) or a datagram not sent (message
    // too long for UDP), std::bad_alloc when memory runs out. The event is
    // then not delivered; the library keeps nothing to retry.
    void Write_CEF_Event(std::string loggerName);

  private:
    friend struct quorvel::internal::CefEventAccess;
    int Version = 0;
    std::string DeviceVendor;
    std::string DeviceProduct;
    std::string DeviceVersion;
    std::string SignatureID;
    std::string Name;
    int Severity = 0;
    std::string DeviceDnsDomain;
    std::string DeviceHostName;
    std::string DeviceAddress;
    std::string SourceDnsDomain;
    std::string SourceUserId;
    std::string SourceUserName;
    std::string SourceAddress;
    std::string SourceHostName;
    std::string DestinationDnsDomain;
    std::string DestinationUserId;
    std::string DestinationUserName;
    std::string DestinationAddress;
    std::string DestinationServiceName;
    std::string DestinationHostName;
    std::string Cs1;
    std::string Cs2;
    std::string Cs3;
    std::string Cs4;
    std::string Cs5;
    std::string Cs6;
    long Cn1 = 0;
    long Cn2 = 0;
    long Cn3 = 0;
    std::string FlexString1;
    std::string FlexString2;
    std::string Reason;
    std::string Outcome;
    std::string cs1Label;
    std::string cs2Label;
    std::string cs3Label;
    std::string cs4Label;
    std::string cs5Label;
    std::string cs6Label;
    int FlexNumber1 = 0;
    int FlexNumber2 = 0;
    int FileType = 0;
    std::string Cat;
    std::string Cn1Label;
    std::string Cn2Label;
    std::string Cn3Label;
    std::string FlexString1Label;
    std::string FlexString2Label;
    std::string FlexNumber1Label;
    std::string FlexNumber2Label;
    std::string C6a1;
    std::string C6a2;
    std::string C6a3;
    int SourcePort = 0;
    int DestinationPort = 0;
    std::string SourceServiceName;
    std::string SourceProcessName;
    std::string Time;
    std::string TimeZone;
};
