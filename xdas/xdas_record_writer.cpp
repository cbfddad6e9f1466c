#include "xdas_record_writer.h"

#include "json_string_escape.h"
#include "xdas_severity.h"

#include <array>
#include <charconv>

namespace quorvel {
namespace {

// Writes nested objects in the record's compact form ({"key" : value,...}),
// leaving out empty strings and objects that end up without members.
class CompactObjectWriter {
public:
    // The caller has written the opening brace of the outermost object.
    explicit CompactObjectWriter(std::string& out) : out_(out) { frames_[0] = Frame{out.size(), true}; }

    // Starts an object member; endObject() removes it again if it stays empty.
    void beginObject(std::string_view key) {
        const std::size_t mark = out_.size();
        writeKey(key);
        out_ += '{';
        frames_[++depth_] = Frame{mark, true};
    }

    void endObject() {
        const Frame frame = frames_[depth_--];
        if (frame.empty) {
            out_.resize(frame.mark);
            return;
        }
        out_ += '}';
        frames_[depth_].empty = false;
    }

    void string(std::string_view key, std::string_view value) {
        if (value.empty()) return;
        writeKey(key);
        appendJsonString(out_, value);
        frames_[depth_].empty = false;
    }

    void integer(std::string_view key, std::int64_t value) {
        writeKey(key);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out_.append(digits, end);
        frames_[depth_].empty = false;
    }

    // Members of an object that is already a json_spirit object of strings.
    void stringMembers(std::string_view key, const json_spirit::Object& members) {
        beginObject(key);
        for (const auto& member : members) string(member.name_, member.value_.get_str());
        endObject();
    }

private:
    struct Frame {
        std::size_t mark;
        bool empty;
    };

    void writeKey(std::string_view key) {
        if (!frames_[depth_].empty) out_ += ',';
        appendJsonString(out_, key);
        out_.append(" : ");
    }

    std::string& out_;
    // Frame 0 is the event object itself; the record nests four levels deep.
    std::array<Frame, 5> frames_{};
    std::size_t depth_ = 0;
};

void writeAccount(CompactObjectWriter& writer, I_XDASAcc& account) {
    writer.beginObject("Account");
    writer.string("Domain", account.getDomain());
    writer.string("Name", account.getName());
    writer.string("Id", account.getId());
    writer.endObject();
}

// `sysName` replaces the entity's own SysName where the caller says so.
void writeEntity(CompactObjectWriter& writer, I_XDASEntity& entity, const std::string_view* sysName = nullptr) {
    writer.beginObject("Entity");
    writer.string("SysAddr", entity.getSysAddr());
    if (sysName != nullptr) {
        writer.string("SysName", *sysName);
    } else {
        writer.string("SysName", entity.getSysName());
    }
    writer.string("SvcName", entity.getSvcName());
    writer.string("SvcComp", entity.getSvcComp());
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
    writer.stringMembers("Assertions", initiator.getIni_Ass_Obj());
    writer.endObject();
}

void writeTarget(CompactObjectWriter& writer, I_XDASTarget& target) {
    writer.beginObject("Target");
    writer.stringMembers("Data", target.getTarg_Data_Obj());
    writeAccount(writer, *target.getAccount());
    writeEntity(writer, *target.getEntity());
    writer.endObject();
}

int writeAction(CompactObjectWriter& writer, I_XDASAction& action, std::int64_t offset) {
    writer.beginObject("Action");
    I_XDASEvnt& identity = *action.getEvnt();
    writer.beginObject("Event");
    writer.string("Id", identity.getId());
    writer.string("Name", identity.getName());
    writer.string("CorrelationID", identity.getCorrelationID());
    writer.string("SubEvent", identity.getSubEvent());
    writer.endObject();
    writer.beginObject("Time");
    writer.integer("Offset", offset);
    writer.endObject();
    const int severity = normaliseXdasSeverity(action.getLog()->getSeverity());
    writer.beginObject("Log");
    writer.integer("Severity", severity);
    writer.endObject();
    writer.string("Outcome", action.getOutcome());
    writer.string("ExtendedOutcome", action.getExtendedOutcome());
    writer.string("Details", action.getDetails());
    writer.endObject();
    return severity;
}

} // namespace

int writeXdasRecord(I_XDAS_Event& event, std::string_view hostName, std::int64_t offset, std::string& out) {
    out.assign(" {");
    CompactObjectWriter writer(out);
    writer.string("Id", event.getId());
    writer.string("Source", event.getSource());
    writeObserver(writer, *event.getObserver(), hostName);
    writeInitiator(writer, *event.getInitiator());
    writeTarget(writer, *event.getTarget());
    const int severity = writeAction(writer, *event.getAction(), offset);
    out += '}';
    return severity;
}

} // namespace quorvel
