#include "trail/epoch_record.h"

#include "trail/record_fields.h"

#include <sodium.h>

#include <algorithm>

namespace quorvel::seal {

namespace {

constexpr std::string_view kVersion1Field = "v=1";
constexpr std::string_view kVersionField = "v=2";

// The 49 bytes of `entry`, and back.
void putEntry(unsigned char* at, const SessionEntry& entry) {
    for (int i = 0; i < 8; ++i) {
        at[i] = static_cast<unsigned char>(entry.number >> (8 * i));
        at[8 + i] = static_cast<unsigned char>(entry.index >> (8 * i));
    }
    at[16] = static_cast<unsigned char>(entry.event);
    std::copy(entry.seal.begin(), entry.seal.end(), at + 17);
}

bool readEntry(const unsigned char* at, SessionEntry& entry) {
    entry.number = entry.index = 0;
    for (int i = 7; i >= 0; --i) {
        entry.number = entry.number << 8 | at[i];
        entry.index = entry.index << 8 | at[8 + i];
    }
    if (at[16] > static_cast<unsigned char>(SessionEvent::Checkpoint)) return false;
    entry.event = static_cast<SessionEvent>(at[16]);
    std::copy(at + 17, at + 17 + entry.seal.size(), entry.seal.begin());
    return true;
}

bool readSessions(FieldReader& fields, EpochRecord& record) {
    std::uint64_t count = 0;
    std::string_view text;
    // No more entries than the text can hold, before anything is made room for.
    if (!fields.number("count", count) || !fields.next("sessions", text) ||
        count > text.size() / (kSessionEntryBytes * 4 / 3))
        return false;
    std::vector<unsigned char> bytes(count * kSessionEntryBytes);
    if (!fromBase64(text, bytes.data(), bytes.size())) return false;
    record.sessions.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        if (!readEntry(bytes.data() + i * kSessionEntryBytes, record.sessions[i])) return false;
    return true;
}

bool readCommon(FieldReader& fields, EpochRecord& record) {
    return fields.binary("hostid", record.hostId) && fields.number("epoch", record.epoch) &&
           fields.number("from", record.from) && record.from <= record.epoch;
}

} // namespace

std::string writeEpochRecord(const EpochRecord& record, const EpochKey& key) {
    std::string out(kEpochMarker);
    out += kVersionField;
    putText(out, "hostid", toBase64(record.hostId));
    putNumber(out, "epoch", record.epoch);
    putNumber(out, "from", record.from);
    putNumber(out, "part", record.part);
    putText(out, "prev", toBase64(record.previous));
    if (record.more) out += " more=1";
    putNumber(out, "count", record.sessions.size());
    std::vector<unsigned char> bytes(record.sessions.size() * kSessionEntryBytes);
    for (std::size_t i = 0; i < record.sessions.size(); ++i)
        putEntry(bytes.data() + i * kSessionEntryBytes, record.sessions[i]);
    out += " sessions=";
    appendBase64(out, bytes.data(), bytes.size());
    putMac(out, key);
    return out;
}

std::optional<ReadEpochRecord> readEpochRecord(std::string_view text) {
    ReadEpochRecord read{};
    EpochRecord& record = read.record;
    if (auto fields = recordFields(text, kEpochMarker, kVersion1Field, read.signedText, read.mac)) {
        if (!readCommon(*fields, record) || !fields->binary("prev", record.previous) || !fields->atEnd())
            return std::nullopt;
        return read;
    }
    auto fields = recordFields(text, kEpochMarker, kVersionField, read.signedText, read.mac);
    if (!fields || !readCommon(*fields, record) || !fields->number("part", record.part) ||
        !fields->binary("prev", record.previous) || !fields->flag("more", record.more) ||
        !readSessions(*fields, record) || !fields->atEnd())
        return std::nullopt;
    return read;
}

std::vector<EpochRecord> splitEpochRecord(const EpochRecord& whole, std::size_t maxBytes) {
    EpochRecord head = whole;
    head.sessions.clear();
    head.part = ~std::uint64_t{0};
    head.more = true;
    const std::size_t headBytes = writeEpochRecord(head, {}).size();
    constexpr std::size_t kEntryChars = (kSessionEntryBytes * 4 + 2) / 3 + 1;
    const std::size_t perPart = maxBytes > headBytes + kEntryChars ? (maxBytes - headBytes) / kEntryChars : 1;
    std::vector<EpochRecord> parts;
    for (std::size_t first = 0; first == 0 || first < whole.sessions.size(); first += perPart) {
        EpochRecord part = whole;
        part.part = parts.size();
        const std::size_t last = std::min(whole.sessions.size(), first + perPart);
        part.sessions.assign(whole.sessions.begin() + static_cast<std::ptrdiff_t>(first),
                             whole.sessions.begin() + static_cast<std::ptrdiff_t>(last));
        part.more = last < whole.sessions.size();
        parts.push_back(std::move(part));
    }
    return parts;
}

Bytes32 recordDigest(std::string_view line) {
    Bytes32 digest;
    crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(line.data()), line.size(),
                       nullptr, 0);
    return digest;
}

} // namespace quorvel::seal
