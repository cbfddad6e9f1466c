#include "trail/seal_record.h"

#include <charconv>

namespace quorvel::seal {

namespace {

constexpr std::string_view kMacField = " mac=";

std::string textToBase64(const std::string& text) {
    return toBase64(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

void putNumber(std::string& out, std::string_view name, std::uint64_t value) {
    out += ' ';
    out += name;
    out += '=';
    out += std::to_string(value);
}

void putText(std::string& out, std::string_view name, const std::string& value) {
    out += ' ';
    out += name;
    out += '=';
    out += value;
}

// Reads the fields of a seal one after the other, each " name=value" in the
// order they are written; any deviation fails the whole seal.
class FieldReader {
  public:
    explicit FieldReader(std::string_view text) : rest_(text) {}

    bool next(std::string_view name, std::string_view& value) {
        if (!peek(name)) return false;
        rest_.remove_prefix(name.size() + 2);
        const std::size_t end = rest_.find(' ');
        value = rest_.substr(0, end);
        rest_.remove_prefix(value.size());
        return true;
    }

    bool number(std::string_view name, std::uint64_t& value) {
        std::string_view text;
        if (!next(name, text) || text.empty() || (text.size() > 1 && text[0] == '0')) return false;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size();
    }

    template <std::size_t N> bool binary(std::string_view name, std::array<unsigned char, N>& value) {
        std::string_view text;
        return next(name, text) && fromBase64(text, value.data(), N);
    }

    bool text(std::string_view name, std::string& value) {
        std::string_view encoded;
        if (!next(name, encoded)) return false;
        // Base64 of n bytes has 4n/3 characters, rounded up.
        value.assign(encoded.size() * 3 / 4, '\0');
        return fromBase64(encoded, reinterpret_cast<unsigned char*>(value.data()), value.size());
    }

    // Whether the next field is " name=".
    bool peek(std::string_view name) const {
        return rest_.size() >= name.size() + 2 && rest_[0] == ' ' && rest_.substr(1, name.size()) == name &&
               rest_[name.size() + 1] == '=';
    }
    bool atEnd() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

bool readOpening(FieldReader& fields, SessionOpening& opening) {
    return fields.text("host", opening.host) && fields.text("module", opening.module) &&
           fields.number("pid", opening.pid) && fields.number("lines", opening.lines) &&
           fields.number("millis", opening.millis) && fields.number("idle", opening.idleMillis) &&
           fields.binary("key", opening.key);
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

// "v=1" or "v=2" after the marker: the version, or 0.
int versionOf(std::string_view text) {
    const std::string_view head = text.substr(0, kSealMarker.size() + 3);
    if (head.size() < kSealMarker.size() + 3 || head.substr(0, kSealMarker.size()) != kSealMarker ||
        head.substr(kSealMarker.size(), 2) != "v=")
        return 0;
    const char digit = head.back();
    return digit == '1' || digit == '2' ? digit - '0' : 0;
}

} // namespace

std::string writeSeal(const SealRecord& seal, const Bytes32& macKey) {
    std::string out(kSealMarker);
    out += "v=" + std::to_string(kSealVersion);
    putText(out, "session", toBase64(seal.session));
    putNumber(out, "index", seal.index);
    putNumber(out, "time", seal.time);
    putNumber(out, "first", seal.first);
    putNumber(out, "count", seal.tags.size());
    if (seal.opening) {
        const SessionOpening& opening = *seal.opening;
        putText(out, "host", textToBase64(opening.host));
        putText(out, "module", textToBase64(opening.module));
        putNumber(out, "pid", opening.pid);
        putNumber(out, "lines", opening.lines);
        putNumber(out, "millis", opening.millis);
        putNumber(out, "idle", opening.idleMillis);
        putText(out, "key", toBase64(opening.key));
    }
    if (seal.end) out += " end=1";
    putRun(out, "locs", seal.locators);
    putRun(out, "tags", seal.tags);
    const SealMac mac = macOf(macKey, out);
    out += kMacField;
    out += toBase64(mac);
    return out;
}

std::optional<ReadSeal> readSeal(std::string_view text) {
    const int version = versionOf(text);
    if (version == 0) return std::nullopt;
    const std::size_t macAt = text.rfind(kMacField);
    if (macAt == std::string_view::npos) return std::nullopt;
    ReadSeal seal{};
    seal.signedText = text.substr(0, macAt);
    SealRecord& record = seal.record;
    record.version = version;
    FieldReader fields(seal.signedText.substr(kSealMarker.size() + 3));
    std::uint64_t count = 0;
    if (!fields.binary("session", record.session) || !fields.number("index", record.index) ||
        !fields.number("time", record.time) || !fields.number("first", record.first) || !fields.number("count", count))
        return std::nullopt;
    if (fields.peek("host") && !readOpening(fields, record.opening.emplace())) return std::nullopt;
    std::string_view end;
    if (fields.peek("end") && (!fields.next("end", end) || end != "1")) return std::nullopt;
    record.end = !end.empty();
    if (version >= 2 && !readRun(fields, "locs", count, record.locators)) return std::nullopt;
    if (!readRun(fields, "tags", count, record.tags) || !fields.atEnd()) return std::nullopt;
    if (!fromBase64(text.substr(macAt + kMacField.size()), seal.mac.data(), seal.mac.size())) return std::nullopt;
    return seal;
}

} // namespace quorvel::seal
