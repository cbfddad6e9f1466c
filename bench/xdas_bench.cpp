// The XDAS record of the worked example: the library's writer against
// RapidJSON's Writer and nlohmann's ordered_json, and XDAS_Log into the
// discarding appender against a bare forcedLog of the same line.
//
// Argument of the record benchmarks: 0 for the worked example as it is, or a
// length in bytes that every text field of the example takes instead: filled
// with characters that need escaping, or, in the rows named _Typical, with
// URLs, paths and tokens that need a few escapes per hundred bytes.
#include "bench_support.h"
#include "logging/host_identity.h"
#include "logging/log_emitter.h"
#include "logging/severity_levels.h"
#include "worked_examples.h"
#include "xdas/xdas_record_writer.h"

#include <quorvel/quorvel.h>

#include <benchmark/benchmark.h>
#include <log4cxx/logger.h>
#include <nlohmann/json.hpp>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace {

using quorvel_bench::AllocationCounter;
using quorvel_bench::FieldText;
using quorvel_bench::XdasEventPtr;
using quorvel_bench::xdasWorkedExample;

constexpr std::int64_t kOffset = 1700000000;
constexpr std::string_view kHostName = "hostA";

// --- What both peers read -------------------------------------------------------
//
// The peers read the event through its public interface, each getter once,
// as any caller's code would, and leave out empty values and objects as the
// record does.

struct AccountFields {
    std::string domain, name, id;
    bool empty() const { return domain.empty() && name.empty() && id.empty(); }
};
struct EntityFields {
    std::string sysAddr, sysName, svcName, svcComp;
    bool empty() const { return sysAddr.empty() && sysName.empty() && svcName.empty() && svcComp.empty(); }
};
struct EvntFields {
    std::string id, name, correlationId, subEvent;
    bool empty() const { return id.empty() && name.empty() && correlationId.empty() && subEvent.empty(); }
};

AccountFields readAccount(I_XDASAcc& account) { return {account.getDomain(), account.getName(), account.getId()}; }
EntityFields readEntity(I_XDASEntity& entity, const std::string* sysName = nullptr) {
    EntityFields fields;
    fields.sysAddr = entity.getSysAddr();
    fields.sysName = sysName != nullptr ? *sysName : entity.getSysName();
    fields.svcName = entity.getSvcName();
    fields.svcComp = entity.getSvcComp();
    return fields;
}
EvntFields readEvnt(I_XDASEvnt& evnt) {
    return {evnt.getId(), evnt.getName(), evnt.getCorrelationID(), evnt.getSubEvent()};
}

// --- RapidJSON ------------------------------------------------------------------

using RapidWriter = rapidjson::Writer<rapidjson::StringBuffer>;

template <std::size_t N> void rapidKey(RapidWriter& writer, const char (&key)[N]) { writer.Key(key, N - 1); }

template <std::size_t N> void rapidString(RapidWriter& writer, const char (&key)[N], const std::string& value) {
    if (value.empty()) return;
    rapidKey(writer, key);
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void rapidAccount(RapidWriter& writer, const AccountFields& account) {
    if (account.empty()) return;
    rapidKey(writer, "Account");
    writer.StartObject();
    rapidString(writer, "Domain", account.domain);
    rapidString(writer, "Name", account.name);
    rapidString(writer, "Id", account.id);
    writer.EndObject();
}

void rapidEntity(RapidWriter& writer, const EntityFields& entity) {
    if (entity.empty()) return;
    rapidKey(writer, "Entity");
    writer.StartObject();
    rapidString(writer, "SysAddr", entity.sysAddr);
    rapidString(writer, "SysName", entity.sysName);
    rapidString(writer, "SvcName", entity.svcName);
    rapidString(writer, "SvcComp", entity.svcComp);
    writer.EndObject();
}

template <std::size_t N>
void rapidMembers(RapidWriter& writer, const char (&key)[N], const json_spirit::Object& members) {
    if (members.empty()) return;
    rapidKey(writer, key);
    writer.StartObject();
    for (const auto& member : members) {
        const std::string& value = member.value_.get_str();
        writer.Key(member.name_.data(), static_cast<rapidjson::SizeType>(member.name_.size()));
        writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    }
    writer.EndObject();
}

// Writes the record of `event` as a standard JSON array holding the event
// object, into the writer's (reused) buffer.
void rapidRecord(RapidWriter& writer, I_XDAS_Event& event, const std::string& hostName, std::int64_t offset) {
    const std::string id = event.getId();
    const std::string source = event.getSource();
    I_XDASObserver& observer = *event.getObserver();
    const AccountFields observerAccount = readAccount(*observer.getAccount());
    const EntityFields observerEntity = readEntity(*observer.getEntity(), &hostName);
    I_XDASInitiator& initiator = *event.getInitiator();
    const AccountFields initiatorAccount = readAccount(*initiator.getAccount());
    const EntityFields initiatorEntity = readEntity(*initiator.getEntity());
    const json_spirit::Object assertions = initiator.getIni_Ass_Obj();
    I_XDASTarget& target = *event.getTarget();
    const AccountFields targetAccount = readAccount(*target.getAccount());
    const EntityFields targetEntity = readEntity(*target.getEntity());
    const json_spirit::Object data = target.getTarg_Data_Obj();
    I_XDASAction& action = *event.getAction();
    const EvntFields evnt = readEvnt(*action.getEvnt());
    const int severity = action.getLog()->getSeverity();
    const std::string outcome = action.getOutcome();
    const std::string extendedOutcome = action.getExtendedOutcome();
    const std::string details = action.getDetails();

    writer.StartArray();
    writer.StartObject();
    rapidString(writer, "Id", id);
    rapidString(writer, "Source", source);
    if (!observerAccount.empty() || !observerEntity.empty()) {
        rapidKey(writer, "Observer");
        writer.StartObject();
        rapidAccount(writer, observerAccount);
        rapidEntity(writer, observerEntity);
        writer.EndObject();
    }
    if (!initiatorAccount.empty() || !initiatorEntity.empty() || !assertions.empty()) {
        rapidKey(writer, "Initiator");
        writer.StartObject();
        rapidAccount(writer, initiatorAccount);
        rapidEntity(writer, initiatorEntity);
        rapidMembers(writer, "Assertions", assertions);
        writer.EndObject();
    }
    if (!data.empty() || !targetAccount.empty() || !targetEntity.empty()) {
        rapidKey(writer, "Target");
        writer.StartObject();
        rapidMembers(writer, "Data", data);
        rapidAccount(writer, targetAccount);
        rapidEntity(writer, targetEntity);
        writer.EndObject();
    }
    rapidKey(writer, "Action");
    writer.StartObject();
    if (!evnt.empty()) {
        rapidKey(writer, "Event");
        writer.StartObject();
        rapidString(writer, "Id", evnt.id);
        rapidString(writer, "Name", evnt.name);
        rapidString(writer, "CorrelationID", evnt.correlationId);
        rapidString(writer, "SubEvent", evnt.subEvent);
        writer.EndObject();
    }
    rapidKey(writer, "Time");
    writer.StartObject();
    rapidKey(writer, "Offset");
    writer.Int(static_cast<std::int32_t>(offset));
    writer.EndObject();
    rapidKey(writer, "Log");
    writer.StartObject();
    rapidKey(writer, "Severity");
    writer.Int(severity);
    writer.EndObject();
    rapidString(writer, "Outcome", outcome);
    rapidString(writer, "ExtendedOutcome", extendedOutcome);
    rapidString(writer, "Details", details);
    writer.EndObject();
    writer.EndObject();
    writer.EndArray();
}

// --- nlohmann ordered_json ------------------------------------------------------

using ordered_json = nlohmann::ordered_json;

void jsonString(ordered_json& object, const char* key, std::string value) {
    if (!value.empty()) object[key] = std::move(value);
}

void jsonMember(ordered_json& object, const char* key, ordered_json&& member) {
    if (!member.empty()) object[key] = std::move(member);
}

ordered_json jsonAccount(I_XDASAcc& account) {
    ordered_json object = ordered_json::object();
    jsonString(object, "Domain", account.getDomain());
    jsonString(object, "Name", account.getName());
    jsonString(object, "Id", account.getId());
    return object;
}

ordered_json jsonEntity(I_XDASEntity& entity, const std::string* sysName = nullptr) {
    ordered_json object = ordered_json::object();
    jsonString(object, "SysAddr", entity.getSysAddr());
    jsonString(object, "SysName", sysName != nullptr ? *sysName : entity.getSysName());
    jsonString(object, "SvcName", entity.getSvcName());
    jsonString(object, "SvcComp", entity.getSvcComp());
    return object;
}

ordered_json jsonMembers(const json_spirit::Object& members) {
    ordered_json object = ordered_json::object();
    for (const auto& member : members)
        object[member.name_] = member.value_.get_str();
    return object;
}

// Builds the record of `event` as an ordered_json array holding the event
// object.
ordered_json jsonRecord(I_XDAS_Event& event, const std::string& hostName, std::int64_t offset) {
    ordered_json object = ordered_json::object();
    jsonString(object, "Id", event.getId());
    jsonString(object, "Source", event.getSource());

    I_XDASObserver& observer = *event.getObserver();
    ordered_json observerObject = ordered_json::object();
    jsonMember(observerObject, "Account", jsonAccount(*observer.getAccount()));
    jsonMember(observerObject, "Entity", jsonEntity(*observer.getEntity(), &hostName));
    jsonMember(object, "Observer", std::move(observerObject));

    I_XDASInitiator& initiator = *event.getInitiator();
    ordered_json initiatorObject = ordered_json::object();
    jsonMember(initiatorObject, "Account", jsonAccount(*initiator.getAccount()));
    jsonMember(initiatorObject, "Entity", jsonEntity(*initiator.getEntity()));
    jsonMember(initiatorObject, "Assertions", jsonMembers(initiator.getIni_Ass_Obj()));
    jsonMember(object, "Initiator", std::move(initiatorObject));

    I_XDASTarget& target = *event.getTarget();
    ordered_json targetObject = ordered_json::object();
    jsonMember(targetObject, "Data", jsonMembers(target.getTarg_Data_Obj()));
    jsonMember(targetObject, "Account", jsonAccount(*target.getAccount()));
    jsonMember(targetObject, "Entity", jsonEntity(*target.getEntity()));
    jsonMember(object, "Target", std::move(targetObject));

    I_XDASAction& action = *event.getAction();
    ordered_json actionObject = ordered_json::object();
    I_XDASEvnt& evnt = *action.getEvnt();
    ordered_json evntObject = ordered_json::object();
    jsonString(evntObject, "Id", evnt.getId());
    jsonString(evntObject, "Name", evnt.getName());
    jsonString(evntObject, "CorrelationID", evnt.getCorrelationID());
    jsonString(evntObject, "SubEvent", evnt.getSubEvent());
    jsonMember(actionObject, "Event", std::move(evntObject));
    actionObject["Time"]["Offset"] = static_cast<std::int32_t>(offset);
    actionObject["Log"]["Severity"] = action.getLog()->getSeverity();
    jsonString(actionObject, "Outcome", action.getOutcome());
    jsonString(actionObject, "ExtendedOutcome", action.getExtendedOutcome());
    jsonString(actionObject, "Details", action.getDetails());
    object["Action"] = std::move(actionObject);

    ordered_json record = ordered_json::array();
    record.push_back(std::move(object));
    return record;
}

// Checks once per argument that the three writers agree on the content: the
// library's record (its event object after a blank) and RapidJSON's text
// parse to the same ordered tree as the one nlohmann builds.
bool sameContent(benchmark::State& state, I_XDAS_Event& event) {
    std::string ours;
    quorvel::writeXdasRecord(event, kHostName, kOffset, ours);
    rapidjson::StringBuffer buffer;
    RapidWriter writer(buffer);
    rapidRecord(writer, event, std::string(kHostName), kOffset);
    const ordered_json reference = jsonRecord(event, std::string(kHostName), kOffset);
    if (ordered_json::array({ordered_json::parse(ours)}) != reference ||
        ordered_json::parse(buffer.GetString()) != reference) {
        state.SkipWithError("the writers disagree on the record's content");
        return false;
    }
    return true;
}

// --- Record benchmarks ------------------------------------------------------------

void xdasRecordQuorvel(benchmark::State& state, FieldText kind) {
    const XdasEventPtr event = xdasWorkedExample(static_cast<std::size_t>(state.range(0)), kind);
    if (!sameContent(state, *event)) return;
    std::size_t bytes = 0;
    AllocationCounter allocations(state);
    for (auto _ : state) {
        quorvel::LineString record; // the string XDAS_Log renders into
        quorvel::writeXdasRecord(*event, kHostName, kOffset, record.text());
        bytes += record.text().size();
        benchmark::DoNotOptimize(record.text().data());
    }
    allocations.report();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void xdasRecordRapidJson(benchmark::State& state, FieldText kind) {
    const XdasEventPtr event = xdasWorkedExample(static_cast<std::size_t>(state.range(0)), kind);
    const std::string hostName(kHostName);
    rapidjson::StringBuffer buffer; // reused, as RapidJSON recommends
    RapidWriter writer(buffer);
    std::size_t bytes = 0;
    AllocationCounter allocations(state);
    for (auto _ : state) {
        buffer.Clear();
        writer.Reset(buffer);
        rapidRecord(writer, *event, hostName, kOffset);
        bytes += buffer.GetSize();
        benchmark::DoNotOptimize(buffer.GetString());
    }
    allocations.report();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_XdasRecord_Nlohmann(benchmark::State& state) {
    const XdasEventPtr event = xdasWorkedExample(static_cast<std::size_t>(state.range(0)));
    const std::string hostName(kHostName);
    std::size_t bytes = 0;
    AllocationCounter allocations(state);
    for (auto _ : state) {
        const std::string text = jsonRecord(*event, hostName, kOffset).dump();
        bytes += text.size();
        benchmark::DoNotOptimize(text.data());
    }
    allocations.report();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_XdasRecord_Quorvel(benchmark::State& state) { xdasRecordQuorvel(state, FieldText::EscapeHeavy); }
void BM_XdasRecord_RapidJson(benchmark::State& state) { xdasRecordRapidJson(state, FieldText::EscapeHeavy); }
void BM_XdasRecord_Quorvel_Typical(benchmark::State& state) { xdasRecordQuorvel(state, FieldText::Typical); }
void BM_XdasRecord_RapidJson_Typical(benchmark::State& state) { xdasRecordRapidJson(state, FieldText::Typical); }

BENCHMARK(BM_XdasRecord_Quorvel)->Arg(0)->Arg(2048)->Arg(4096);
BENCHMARK(BM_XdasRecord_RapidJson)->Arg(0)->Arg(2048)->Arg(4096);
BENCHMARK(BM_XdasRecord_Quorvel_Typical)->Arg(4096);
BENCHMARK(BM_XdasRecord_RapidJson_Typical)->Arg(4096);
BENCHMARK(BM_XdasRecord_Nlohmann)->Arg(0)->Arg(2048)->Arg(4096);

// --- Logging benchmarks -------------------------------------------------------------

// XDAS_Log of the worked example into the discarding appender: the whole
// call, at an enabled level (INFO on bench.enabled) and a disabled one.
void xdasLog(benchmark::State& state, const std::string& loggerName) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    const XdasEventPtr event = xdasWorkedExample(0);
    AllocationCounter allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(event->XDAS_Log(loggerName));
    allocations.report();
}

void BM_XdasLog_Enabled(benchmark::State& state) { xdasLog(state, quorvel_bench::kEnabledLogger); }
void BM_XdasLog_Disabled(benchmark::State& state) { xdasLog(state, quorvel_bench::kDisabledLogger); }

// The baseline: the line XDAS_Log hands over, passed straight to forcedLog
// of the same logger, as log4cxx's own macros end.
void BM_XdasForcedLog(benchmark::State& state) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    const XdasEventPtr event = xdasWorkedExample(0);
    quorvel_bench::runBareForcedLog(state, quorvel_bench::xdasLoggedLine(*event));
}

// The same line from a caller of log4cxx itself: logger by name, level test,
// forcedLog; at the enabled and at the disabled logger.
void xdasBareByName(benchmark::State& state, const std::string& loggerName) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    const XdasEventPtr event = xdasWorkedExample(0);
    quorvel_bench::runBareByName(state, loggerName, quorvel_bench::xdasLoggedLine(*event));
}

void BM_XdasBareByName_Enabled(benchmark::State& state) { xdasBareByName(state, quorvel_bench::kEnabledLogger); }
void BM_XdasBareByName_Disabled(benchmark::State& state) { xdasBareByName(state, quorvel_bench::kDisabledLogger); }

// XDAS_Log's own steps (the level, the record, the hand-over) in the
// benchmark's loop, with the logger looked up on every call as XDAS_Log
// looks it up (which BM_XdasLog_Enabled checks this loop against) and with
// the logger found once before the loop: the two differ by what the lookup
// costs inside the call.
template <bool lookUpEachCall> void xdasSteps(benchmark::State& state) {
    if (!quorvel_bench::initBenchLogging(state)) return;
    const XdasEventPtr event = xdasWorkedExample(0);
    const std::string& name = quorvel_bench::kEnabledLogger;
    const log4cxx::LoggerPtr found = quorvel::loggerNamed(name);
    for (auto _ : state) {
        const log4cxx::LoggerPtr logger = lookUpEachCall ? quorvel::loggerNamed(name) : found;
        const log4cxx::LevelPtr& level =
            quorvel::xdasSeverityLevel(quorvel::normaliseXdasSeverity(event->getAction()->getLog()->getSeverity()));
        if (!logger->isEnabledFor(level)) continue;
        quorvel::LineString record;
        quorvel::writeXdasRecord(*event, quorvel::publishedHostName(), std::time(nullptr), record.text());
        quorvel::emitLine(logger, level, record, QUORVEL_LOCATION);
    }
}

void BM_XdasSteps_LoggerNamed(benchmark::State& state) { xdasSteps<true>(state); }
void BM_XdasSteps_LoggerFound(benchmark::State& state) { xdasSteps<false>(state); }

BENCHMARK(BM_XdasLog_Enabled);
BENCHMARK(BM_XdasLog_Disabled);
BENCHMARK(BM_XdasForcedLog);
BENCHMARK(BM_XdasBareByName_Enabled);
BENCHMARK(BM_XdasBareByName_Disabled);
BENCHMARK(BM_XdasSteps_LoggerNamed);
BENCHMARK(BM_XdasSteps_LoggerFound);

} // namespace

BENCHMARK_MAIN();
