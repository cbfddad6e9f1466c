#include "trail/seal_record.h"

#include "trail/record_fields.h"

namespace quorvel::seal {

namespace {

bool readOpening(FieldReader& fields, const SessionId& session, int version, SessionOpening& opening) {
    if (!fields.text("host", opening.host) || !fields.text("module", opening.module) ||
        !fields.number("pid", opening.pid) || !fields.number("lines", opening.lines) ||
        !fields.number("millis", opening.millis) || !fields.number("idle", opening.idleMillis) ||
        !fields.binary("key", opening.key))
        return false;
    if (version < kAttestedSealVersion) return true;
    return readCarriedAttestation(fields, {session, firstKeyDigest(opening.key)}, opening.attestation.emplace());
}

bool readCheckpoint(FieldReader& fields, SealCheckpoint& checkpoint) {
    return fields.number("pid", checkpoint.pid) && fields.number("lines", checkpoint.lines) &&
           fields.number("millis", checkpoint.millis) && fields.number("idle", checkpoint.idleMillis) &&
           fields.binary("ckey", checkpoint.key);
}

// A run of `count` fixed-size items (tags or locators) encoded as one: each
// item's bytes are a multiple of 3, so each encodes to whole characters.
template <std::size_t N>
bool readRun(FieldReader& fields, std::string_view name, std::uint64_t count,
             std::vector<std::array<unsigned char, N>>& items) {
    static_assert(N % 3 == 0);
    constexpr std::size_t kChars = N / 3 * 4;
    std::string_view text;
    if (!fields.next(name, text) || text.size() % kChars != 0 || text.size() / kChars != count) return false;
    items.resize(count);
    return fromBase64(text, reinterpret_cast<unsigned char*>(items.data()), count * N);
}

template <std::size_t N>
void putRun(std::string& out, std::string_view name, const std::vector<std::array<unsigned char, N>>& items) {
    static_assert(sizeof(std::array<unsigned char, N>) == N);
    out += ' ';
    out += name;
    out += '=';
    appendBase64(out, reinterpret_cast<const unsigned char*>(items.data()), items.size() * N);
}

// "v=1" to "v=4" after the marker: the version, or 0.
int versionOf(std::string_view text) {
    const std::string_view head = text.substr(0, kSealMarker.size() + 3);
    if (head.size() < kSealMarker.size() + 3 || head.substr(0, kSealMarker.size()) != kSealMarker ||
        head.substr(kSealMarker.size(), 2) != "v=")
        return 0;
    const char digit = head.back();
    return digit >= '1' && digit <= '4' ? digit - '0' : 0;
}

} // namespace

std::string writeSeal(const SealRecord& seal, const Bytes32& macKey) {
    std::string out(kSealMarker);
    const bool attested = seal.opening && seal.opening->attestation;
    out += "v=" + std::to_string(attested          ? kAttestedSealVersion
                                 : seal.checkpoint ? kCheckpointSealVersion
                                                   : kSealVersion);
    putText(out, "session", toBase64(seal.session));
    putNumber(out, "index", seal.index);
    putNumber(out, "time", seal.time);
    putNumber(out, "first", seal.first);
    putNumber(out, "count", seal.tags.size());
    if (seal.opening) {
        const SessionOpening& opening = *seal.opening;
        putBase64Text(out, "host", opening.host);
        putBase64Text(out, "module", opening.module);
        putNumber(out, "pid", opening.pid);
        putNumber(out, "lines", opening.lines);
        putNumber(out, "millis", opening.millis);
        putNumber(out, "idle", opening.idleMillis);
        putText(out, "key", toBase64(opening.key));
        if (attested) putCarriedAttestation(out, *opening.attestation);
    } else if (seal.checkpoint) {
        const SealCheckpoint& checkpoint = *seal.checkpoint;
        putNumber(out, "pid", checkpoint.pid);
        putNumber(out, "lines", checkpoint.lines);
        putNumber(out, "millis", checkpoint.millis);
        putNumber(out, "idle", checkpoint.idleMillis);
        putText(out, "ckey", toBase64(checkpoint.key));
    }
    if (seal.end) out += " end=1";
    putRun(out, "locs", seal.locators);
    putRun(out, "tags", seal.tags);
    putMac(out, macKey);
    return out;
}

std::optional<ReadSeal> readSeal(std::string_view text) {
    const int version = versionOf(text);
    if (version == 0) return std::nullopt;
    ReadSeal seal{};
    if (!splitMac(text, seal.signedText, seal.mac)) return std::nullopt;
    SealRecord& record = seal.record;
    record.version = version;
    FieldReader fields(seal.signedText.substr(kSealMarker.size() + 3));
    std::uint64_t count = 0;
    if (!fields.binary("session", record.session) || !fields.number("index", record.index) ||
        !fields.number("time", record.time) || !fields.number("first", record.first) || !fields.number("count", count))
        return std::nullopt;
    if (version == kCheckpointSealVersion) {
        // A checkpoint is never the opening, which has a key of its own.
        if (record.index == 0 || !readCheckpoint(fields, record.checkpoint.emplace())) return std::nullopt;
    } else if (fields.peek("host") && !readOpening(fields, record.session, version, record.opening.emplace())) {
        return std::nullopt;
    }
    // Only an opening is attested.
    if (version == kAttestedSealVersion && !record.opening) return std::nullopt;
    if (!fields.flag("end", record.end)) return std::nullopt;
    if (version >= 2 && !readRun(fields, "locs", count, record.locators)) return std::nullopt;
    if (!readRun(fields, "tags", count, record.tags) || !fields.atEnd()) return std::nullopt;
    return seal;
}

} // namespace quorvel::seal
