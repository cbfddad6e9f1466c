#include "xdas/xdas_record_writer.h"

#include "logging/line_buffer.h"
#include "logging/severity_levels.h"
#include "xdas/json_string_escape.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <typeinfo>

namespace quorvel {

namespace internal {

// Names the members of the library's own component classes, which the
// record writer reads in place.
struct XdasComponentAccess {
    static const json_spirit::Object& assertions(const XDASInitiator& initiator) { return initiator.assertions; }
    static const json_spirit::Object& data(const XDASTarget& target) { return target.data; }
    static constexpr auto kEventId = &XDAS_Event::Id;
    static constexpr auto kEventSource = &XDAS_Event::Source;
    static constexpr auto kAccountDomain = &XDASAcc::Domain;
    static constexpr auto kAccountName = &XDASAcc::Name;
    static constexpr auto kAccountId = &XDASAcc::Id;
    static constexpr auto kEntitySysAddr = &XDASEntity::SysAddr;
    static constexpr auto kEntitySysName = &XDASEntity::SysName;
    static constexpr auto kEntitySvcName = &XDASEntity::SvcName;
    static constexpr auto kEntitySvcComp = &XDASEntity::SvcComp;
    static constexpr auto kEvntId = &XDASEvnt::Id;
    static constexpr auto kEvntName = &XDASEvnt::Name;
    static constexpr auto kEvntCorrelationId = &XDASEvnt::CorrelationID;
    static constexpr auto kEvntSubEvent = &XDASEvnt::SubEvent;
    static constexpr auto kActionOutcome = &XDASAction::Outcome;
    static constexpr auto kActionExtendedOutcome = &XDASAction::ExtendedOutcome;
    static constexpr auto kActionDetails = &XDASAction::Details;
};

} // namespace internal

namespace {

using Access = internal::XdasComponentAccess;

// The assertions and the target data come as copies from their getters. When
// the component is exactly the library's own class, whose getter returns its
// member unchanged, the member is read in place instead; any other class
// (an override of the getter) is asked through the getter.
const json_spirit::Object& assertionsOf(I_XDASInitiator& initiator, json_spirit::Object& copy) {
    if (typeid(initiator) == typeid(XDASInitiator)) return Access::assertions(static_cast<XDASInitiator&>(initiator));
    copy = initiator.getIni_Ass_Obj();
    return copy;
}

const json_spirit::Object& dataOf(I_XDASTarget& target, json_spirit::Object& copy) {
    if (typeid(target) == typeid(XDASTarget)) return Access::data(static_cast<XDASTarget&>(target));
    copy = target.getTarg_Data_Obj();
    return copy;
}

// Reads the string fields of a component in the same way: in place when it
// is exactly the library's class `Own`, whose getters return copies of its
// members unchanged; through the getters of `Interface`, each called once,
// when it is any other class (a host's own, or an override).
template <class Own, class Interface> class StringFields {
  public:
    explicit StringFields(Interface& component)
        : component_(component), own_(typeid(component) == typeid(Own) ? &static_cast<Own&>(component) : nullptr) {}

    // The field: the member itself, or the getter's copy, kept until the
    // next read.
    const std::string& operator()(std::string (Interface::*getter)(), std::string Own::*member) {
        if (own_ != nullptr) return own_->*member;
        copy_ = (component_.*getter)();
        return copy_;
    }

  private:
    Interface& component_;
    const Own* own_;
    std::string copy_;
};

// Writes nested objects in the record's compact form ({"key" : value,...}),
// leaving out empty strings and objects that end up without members.
class CompactObjectWriter {
  public:
    // Starts the record with `prefix`, which opens the outermost object.
    CompactObjectWriter(std::string& out, std::string_view prefix) : line_(out, kInitialSize) {
        line_.put(prefix);
        frames_[0] = Frame{line_.size(), true};
    }

    // Closes the outermost object and cuts the string to the record.
    void finish() {
        line_.put('}');
        line_.finish();
    }

    // Starts an object member; endObject() removes it again if it stays empty.
    void beginObject(std::string_view key) {
        const std::size_t mark = line_.size();
        writeKey(key);
        line_.put('{');
        frames_[++depth_] = Frame{mark, true};
    }

    void endObject() {
        const Frame frame = frames_[depth_--];
        if (frame.empty) {
            line_.truncate(frame.mark);
            return;
        }
        line_.put('}');
        frames_[depth_].empty = false;
    }

    // A member whose key is one of the record's own names, which need no
    // escaping.
    void string(std::string_view key, std::string_view value) {
        if (value.empty()) return;
        writeKey(key);
        writeString(value);
        frames_[depth_].empty = false;
    }

    void integer(std::string_view key, std::int64_t value) {
        writeKey(key);
        writeInteger(value);
        frames_[depth_].empty = false;
    }

    // The members of an assertions or data object, whose keys are escaped
    // like values. A member whose value is an empty string is left out; a
    // value of any other type is written as JSON, nested objects and arrays
    // whole.
    void members(std::string_view key, const json_spirit::Object& members) {
        beginObject(key);
        for (const auto& member : members) {
            if (member.value_.type() == json_spirit::str_type && member.value_.get_str().empty()) continue;
            if (!frames_[depth_].empty) line_.put(',');
            writeMember(member);
            frames_[depth_].empty = false;
        }
        endObject();
    }

  private:
    struct Frame {
        std::size_t mark;
        bool empty;
    };

    // Most records of the audit events seen in practice fit.
    static constexpr std::size_t kInitialSize = 1024;
    static constexpr std::size_t kUnmeasuredSize = 64;

    void writeInteger(std::int64_t value) {
        char* const at = line_.room(24);
        line_.advance(std::to_chars(at, at + 24, value).ptr);
    }

    // A real in its shortest form that reads back the same, with ".0" when
    // that looks like an integer; null for what JSON cannot hold.
    void writeReal(double value) {
        if (!std::isfinite(value)) return line_.put("null");
        char* const at = line_.room(32);
        char* const end = std::to_chars(at, at + 30, value).ptr;
        const bool integral = std::find_if(at, end, [](char c) { return c == '.' || c == 'e'; }) == end;
        line_.advance(integral ? std::copy_n(".0", 2, end) : end);
    }

    void writeMember(const json_spirit::Pair& member) {
        writeString(member.name_);
        line_.put(" : ");
        writeValue(member.value_);
    }

    void writeValue(const json_spirit::Value& value) {
        switch (value.type()) {
        case json_spirit::str_type: return writeString(value.get_str());
        case json_spirit::int_type: return writeInteger(value.get_int64());
        case json_spirit::real_type: return writeReal(value.get_real());
        case json_spirit::bool_type: return line_.put(value.get_bool() ? "true" : "false");
        case json_spirit::null_type: return line_.put("null");
        case json_spirit::array_type: return writeElements('[', value.get_array(), ']');
        case json_spirit::obj_type: return writeElements('{', value.get_obj(), '}');
        }
    }

    template <class Elements> void writeElements(char open, const Elements& elements, char close) {
        line_.put(open);
        for (std::size_t i = 0; i < elements.size(); ++i) {
            if (i != 0) line_.put(',');
            if constexpr (std::is_same_v<Elements, json_spirit::Object>)
                writeMember(elements[i]);
            else
                writeValue(elements[i]);
        }
        line_.put(close);
    }

    // A short value is given the most room its string form can take, which
    // saves reading it twice; a long one is measured first, so that the line
    // grows only by what it needs.
    void writeString(std::string_view value) {
        const std::size_t room =
            value.size() <= kUnmeasuredSize ? maxJsonStringSize(value.size()) : jsonStringSizeBound(value);
        line_.advance(writeJsonString(line_.room(room + kJsonStringScratch), value));
    }

    // ,"key" : (the comma unless the member is its object's first)
    void writeKey(std::string_view key) {
        char* at = line_.room(key.size() + 6);
        if (!frames_[depth_].empty) *at++ = ',';
        *at++ = '"';
        std::memcpy(at, key.data(), key.size());
        at += key.size();
        std::memcpy(at, "\" : ", 4);
        line_.advance(at + 4);
    }

    LineBuffer line_;
    // Frame 0 is the event object itself; the record nests four levels deep.
    std::array<Frame, 5> frames_{};
    std::size_t depth_ = 0;
};

void writeAccount(CompactObjectWriter& writer, I_XDASAcc& account) {
    StringFields<XDASAcc, I_XDASAcc> field(account);
    writer.beginObject("Account");
    writer.string("Domain", field(&I_XDASAcc::getDomain, Access::kAccountDomain));
    writer.string("Name", field(&I_XDASAcc::getName, Access::kAccountName));
    writer.string("Id", field(&I_XDASAcc::getId, Access::kAccountId));
    writer.endObject();
}

// `sysName` replaces the entity's own SysName where the caller says so.
void writeEntity(CompactObjectWriter& writer, I_XDASEntity& entity, const std::string_view* sysName = nullptr) {
    StringFields<XDASEntity, I_XDASEntity> field(entity);
    writer.beginObject("Entity");
    writer.string("SysAddr", field(&I_XDASEntity::getSysAddr, Access::kEntitySysAddr));
    if (sysName != nullptr) {
        writer.string("SysName", *sysName);
    } else {
        writer.string("SysName", field(&I_XDASEntity::getSysName, Access::kEntitySysName));
    }
    writer.string("SvcName", field(&I_XDASEntity::getSvcName, Access::kEntitySvcName));
    writer.string("SvcComp", field(&I_XDASEntity::getSvcComp, Access::kEntitySvcComp));
    writer.endObject();
}

void writeObserver(CompactObjectWriter& writer, I_XDASObserver& observer, std::string_view hostName) {
    writer.beginObject("Observer");
    writeAccount(writer, *observer.getAccount());
    writeEntity(writer, *observer.getEntity(), &hostName);
    writer.endObject();
}

void writeInitiator(CompactObjectWriter& writer, I_XDASInitiator& initiator) {
    writer.beginObject("Initiator");
    writeAccount(writer, *initiator.getAccount());
    writeEntity(writer, *initiator.getEntity());
    json_spirit::Object copy;
    writer.members("Assertions", assertionsOf(initiator, copy));
    writer.endObject();
}

void writeTarget(CompactObjectWriter& writer, I_XDASTarget& target) {
    writer.beginObject("Target");
    json_spirit::Object copy;
    writer.members("Data", dataOf(target, copy));
    writeAccount(writer, *target.getAccount());
    writeEntity(writer, *target.getEntity());
    writer.endObject();
}

void writeAction(CompactObjectWriter& writer, I_XDASAction& action, std::int64_t offset) {
    writer.beginObject("Action");
    StringFields<XDASEvnt, I_XDASEvnt> identity(*action.getEvnt());
    writer.beginObject("Event");
    writer.string("Id", identity(&I_XDASEvnt::getId, Access::kEvntId));
    writer.string("Name", identity(&I_XDASEvnt::getName, Access::kEvntName));
    writer.string("CorrelationID", identity(&I_XDASEvnt::getCorrelationID, Access::kEvntCorrelationId));
    writer.string("SubEvent", identity(&I_XDASEvnt::getSubEvent, Access::kEvntSubEvent));
    writer.endObject();
    writer.beginObject("Time");
    writer.integer("Offset", offset);
    writer.endObject();
    writer.beginObject("Log");
    writer.integer("Severity", normaliseXdasSeverity(action.getLog()->getSeverity()));
    writer.endObject();
    StringFields<XDASAction, I_XDASAction> field(action);
    writer.string("Outcome", field(&I_XDASAction::getOutcome, Access::kActionOutcome));
    writer.string("ExtendedOutcome", field(&I_XDASAction::getExtendedOutcome, Access::kActionExtendedOutcome));
    writer.string("Details", field(&I_XDASAction::getDetails, Access::kActionDetails));
    writer.endObject();
}

} // namespace

void writeXdasRecord(I_XDAS_Event& event, std::string_view hostName, std::int64_t offset, std::string& out) {
    CompactObjectWriter writer(out, " {");
    StringFields<XDAS_Event, I_XDAS_Event> field(event);
    writer.string("Id", field(&I_XDAS_Event::getId, Access::kEventId));
    writer.string("Source", field(&I_XDAS_Event::getSource, Access::kEventSource));
    writeObserver(writer, *event.getObserver(), hostName);
    writeInitiator(writer, *event.getInitiator());
    writeTarget(writer, *event.getTarget());
    writeAction(writer, *event.getAction(), offset);
    writer.finish();
}

} // namespace quorvel
