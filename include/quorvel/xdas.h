// XDAS audit events: the event object model, after the Distributed Audit
// Service model (observer, initiator, target, action).
//
// Callers obtain an event from create(), fill it through the component
// getters and their setters, log it with XDAS_Log(loggerName) and release it
// with destroy(). Setters store what they are given; empty values are left
// out of the logged record. Component pointers stay valid for the event's
// life and are never deleted by the caller. One thread uses an event at a time.
#pragma once

#include <quorvel/json_value.h>

#include <cstdint>
#include <map>
#include <string>

namespace quorvel::internal {
struct XdasComponentAccess; // the record writer's in-place reads
} // namespace quorvel::internal

// ---------------------------------------------------------------------------
// Interfaces. Operations are declared in the order of their virtual slots.
// ---------------------------------------------------------------------------

class I_XDASAcc {
  public:
    virtual void setDomain(std::string domain) = 0;
    virtual void setName(std::string name) = 0;
    virtual void setId(std::string id) = 0;
    virtual std::string getDomain() = 0;
    virtual std::string getName() = 0;
    virtual std::string getId() = 0;
    virtual ~I_XDASAcc() = 0;
};

class I_XDASEntity {
  public:
    virtual void setSysAddr(std::string sysAddr) = 0;
    virtual void setSysName(std::string sysName) = 0;
    virtual void setSvcName(std::string svcName) = 0;
    virtual void setSvcComp(std::string svcComp) = 0;
    virtual std::string getSysAddr() = 0;
    virtual std::string getSysName() = 0;
    virtual std::string getSvcName() = 0;
    virtual std::string getSvcComp() = 0;
    virtual ~I_XDASEntity() = 0;
};

class I_XDASObserver {
  public:
    virtual I_XDASAcc* getAccount() = 0;
    virtual I_XDASEntity* getEntity() = 0;
    virtual ~I_XDASObserver() = 0;
};

class I_XDASInitiator {
  public:
    virtual I_XDASAcc* getAccount() = 0;
    virtual I_XDASEntity* getEntity() = 0;
    // Replaces the assertions with one string member per entry whose value is
    // not empty, in ascending key order.
    virtual void setAssertions(std::map<std::string, std::string> assertions) = 0;
    virtual json_spirit::Object getIni_Ass_Obj() = 0;
    virtual ~I_XDASInitiator() = 0;
};

class I_XDASTarget {
  public:
    virtual I_XDASAcc* getAccount() = 0;
    virtual I_XDASEntity* getEntity() = 0;
    // Replaces the data with one string member per entry whose value is not
    // empty, in ascending key order.
    virtual void setData(std::map<std::string, std::string> data) = 0;
    virtual json_spirit::Object getTarg_Data_Obj() = 0;
    virtual ~I_XDASTarget() = 0;
};

class I_XDASEvnt {
  public:
    virtual void setId(std::string id) = 0;
    virtual void setName(std::string name) = 0;
    virtual void setCorrelationID(std::string correlationId) = 0;
    virtual void setSubEvent(std::string subEvent) = 0;
    virtual std::string getId() = 0;
    virtual std::string getName() = 0;
    virtual std::string getCorrelationID() = 0;
    virtual std::string getSubEvent() = 0;
    virtual ~I_XDASEvnt() = 0;
};

class I_XDASLog {
  public:
    // 3 FATAL, 4 ERROR, 5 WARN, 7 INFO, 8 DEBUG, 9 TRACE; any other value is
    // logged as 7 at INFO.
    virtual void setSeverity(int severity) = 0;
    virtual int getSeverity() = 0;
    virtual ~I_XDASLog() = 0;
};

class I_XDASAction {
  public:
    virtual I_XDASEvnt* getEvnt() = 0;
    // An 8-byte slot for the caller's use; the library never reads it.
    virtual std::int64_t* getTime() = 0;
    virtual I_XDASLog* getLog() = 0;
    virtual void setOutcome(std::string outcome) = 0;
    virtual std::string getOutcome() = 0;
    virtual void setExtendedOutcome(std::string extendedOutcome) = 0;
    virtual std::string getExtendedOutcome() = 0;
    virtual void setDetails(std::string details) = 0;
    virtual std::string getDetails() = 0;
    virtual ~I_XDASAction() = 0;
};

class I_XDAS_Event {
  public:
    virtual void setId(std::string id) = 0;
    virtual void setSource(std::string source) = 0;
    virtual std::string getId() = 0;
    virtual std::string getSource() = 0;
    virtual I_XDASObserver* getObserver() = 0;
    virtual I_XDASInitiator* getInitiator() = 0;
    virtual I_XDASTarget* getTarget() = 0;
    virtual I_XDASAction* getAction() = 0;
    virtual ~I_XDAS_Event() = 0;
    // Renders the event as its one-line JSON record and logs it under the
    // log4cxx logger `loggerName` at the level its severity selects.
    // Throws what the appenders throw on the caller's thread: log4cxx's
    // IOException when a file cannot be written (disk full) or a datagram not
    // sent (message too long for UDP), std::bad_alloc when memory runs out.
    // The event is then not delivered; the library keeps nothing to retry.
    virtual void Write_Event_Array(std::string loggerName) = 0;
    // Calls Write_Event_Array(loggerName) and returns 0; throws what it throws.
    virtual int XDAS_Log(std::string loggerName) = 0;
};

// ---------------------------------------------------------------------------
// Implementations. Components are held by value inside their owner.
// ---------------------------------------------------------------------------

class XDASAcc : public I_XDASAcc {
  public:
    XDASAcc();
    void setDomain(std::string domain) override;
    void setName(std::string name) override;
    void setId(std::string id) override;
    std::string getDomain() override;
    std::string getName() override;
    std::string getId() override;
    ~XDASAcc() override;

  private:
    friend struct quorvel::internal::XdasComponentAccess;
    std::string Domain;
    std::string Name;
    std::string Id;
};

class XDASEntity : public I_XDASEntity {
  public:
    XDASEntity();
    void setSysAddr(std::string sysAddr) override;
    void setSysName(std::string sysName) override;
    void setSvcName(std::string svcName) override;
    void setSvcComp(std::string svcComp) override;
    std::string getSysAddr() override;
    std::string getSysName() override;
    std::string getSvcName() override;
    std::string getSvcComp() override;
    ~XDASEntity() override;

  private:
    friend struct quorvel::internal::XdasComponentAccess;
    std::string SysAddr;
    std::string SysName;
    std::string SvcName;
    std::string SvcComp;
};

class XDASObserver : public I_XDASObserver {
  public:
    XDASObserver();
    I_XDASAcc* getAccount() override;
    I_XDASEntity* getEntity() override;
    ~XDASObserver() override;

  private:
    XDASAcc account;
    XDASEntity entity;
};

class XDASInitiator : public I_XDASInitiator {
  public:
    XDASInitiator();
    I_XDASAcc* getAccount() override;
    I_XDASEntity* getEntity() override;
    void setAssertions(std::map<std::string, std::string> assertions) override;
    json_spirit::Object getIni_Ass_Obj() override;
    ~XDASInitiator() override;

  private:
    friend struct quorvel::internal::XdasComponentAccess;
    XDASAcc account;
    XDASEntity entity;
    json_spirit::Object assertions;
};

class XDASTarget : public I_XDASTarget {
  public:
    XDASTarget();
    I_XDASAcc* getAccount() override;
    I_XDASEntity* getEntity() override;
    void setData(std::map<std::string, std::string> data) override;
    json_spirit::Object getTarg_Data_Obj() override;
    ~XDASTarget() override;

  private:
    friend struct quorvel::internal::XdasComponentAccess;
    XDASAcc account;
    XDASEntity entity;
    json_spirit::Object data;
};

class XDASEvnt : public I_XDASEvnt {
  public:
    XDASEvnt();
    void setId(std::string id) override;
    void setName(std::string name) override;
    void setCorrelationID(std::string correlationId) override;
    void setSubEvent(std::string subEvent) override;
    std::string getId() override;
    std::string getName() override;
    std::string getCorrelationID() override;
    std::string getSubEvent() override;
    ~XDASEvnt() override;

  private:
    friend struct quorvel::internal::XdasComponentAccess;
    std::string Id;
    std::string Name;
    std::string CorrelationID;
    std::string SubEvent;
};

class XDASLog : public I_XDASLog {
  public:
    XDASLog();
    void setSeverity(int severity) override;
    int getSeverity() override;
    ~XDASLog() override;

  private:
    // 0 until set, which renders and logs as 7 (INFO).
    std::int32_t severity = 0;
};

class XDASAction : public I_XDASAction {
  public:
    XDASAction();
    I_XDASEvnt* getEvnt() override;
    std::int64_t* getTime() override;
    I_XDASLog* getLog() override;
    void setOutcome(std::string outcome) override;
    std::string getOutcome() override;
    void setExtendedOutcome(std::string extendedOutcome) override;
    std::string getExtendedOutcome() override;
    void setDetails(std::string details) override;
    std::string getDetails() override;
    ~XDASAction() override;

  private:
    friend struct quorvel::internal::XdasComponentAccess;
    XDASEvnt event;
    std::int64_t time = 0;
    XDASLog log;
    std::string Outcome;
    std::string ExtendedOutcome;
    std::string Details;
};

class XDAS_Event : public I_XDAS_Event {
  public:
    XDAS_Event();
    void setId(std::string id) override;
    void setSource(std::string source) override;
    std::string getId() override;
    std::string getSource() override;
    I_XDASObserver* getObserver() override;
    I_XDASInitiator* getInitiator() override;
    I_XDASTarget* getTarget() override;
    I_XDASAction* getAction() override;
    ~XDAS_Event() override;
    void Write_Event_Array(std::string loggerName) override;
    int XDAS_Log(std::string loggerName) override;

  private:
    friend struct quorvel::internal::XdasComponentAccess;
    std::string Id;
    std::string Source;
    XDASObserver observer;
    XDASInitiator initiator;
    XDASTarget target;
    XDASAction action;
};

extern "C" {
// Allocates an empty event. Release it with destroy().
I_XDAS_Event* create();
// Deletes an event obtained from create(); a null pointer is ignored.
void destroy(I_XDAS_Event* event);
}
