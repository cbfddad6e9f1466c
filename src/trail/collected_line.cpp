#include "trail/collected_line.h"

#include "trail/epoch_record.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace quorvel::trail {

namespace {

// Reads a prefix from the front of a line, one piece after the other; any
// piece that does not fit leaves the cursor failed.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : rest_(text) {}

    bool ok() const { return ok_; }
    std::string_view rest() const { return rest_; }

    Cursor& literal(std::string_view text) {
        ok_ = ok_ && rest_.substr(0, text.size()) == text;
        if (ok_) rest_.remove_prefix(text.size());
        return *this;
    }
    // `count` characters each in `allowed` ('9' stands for any digit).
    Cursor& shape(std::string_view pattern) {
        for (const char expected : pattern) {
            const char c = ok_ && !rest_.empty() ? rest_[0] : '\0';
            const bool fits = expected == '9' ? c >= '0' && c <= '9' : c == expected;
            ok_ = ok_ && fits;
            if (ok_) rest_.remove_prefix(1);
        }
        return *this;
    }
    Cursor& digits(std::size_t least, std::size_t most) {
        std::size_t n = 0;
        while (ok_ && n < rest_.size() && n < most && rest_[n] >= '0' && rest_[n] <= '9')
            ++n;
        ok_ = ok_ && n >= least;
        if (ok_) rest_.remove_prefix(n);
        return *this;
    }
    // One or more characters a host name, a program tag or a syslog field
    // holds; never a blank, '|', '=', '{' or a quote, so that no prefix can
    // hold a CEF header, an extension or a JSON record of its own.
    Cursor& token(std::string_view& value, bool colon) {
        std::size_t n = 0;
        while (ok_ && n < rest_.size() && n < kMaxToken && isTokenChar(rest_[n], colon))
            ++n;
        ok_ = ok_ && n > 0;
        if (ok_) value = rest_.substr(0, n), rest_.remove_prefix(n);
        return *this;
    }
    Cursor& oneOf(std::initializer_list<std::string_view> choices) {
        for (const std::string_view choice : choices)
            if (ok_ && rest_.substr(0, choice.size()) == choice) {
                rest_.remove_prefix(choice.size());
                return *this;
            }
        ok_ = false;
        return *this;
    }

  private:
    static constexpr std::size_t kMaxToken = 255;
    static bool isTokenChar(char c, bool colon) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == '_' || c == '/' || (colon && c == ':');
    }

    std::string_view rest_;
    bool ok_ = true;
};

// "TAG: " or "TAG[PID]: ".
void programTag(Cursor& cursor) {
    std::string_view tag;
    cursor.token(tag, false);
    if (cursor.ok() && cursor.rest().substr(0, 1) == "[") cursor.literal("[").digits(1, 10).literal("]");
    cursor.literal(": ");
}

// YYYY-MM-DDTHH:MM:SS, a fraction of up to 6 digits, Z or an offset.
void rfc3339Time(Cursor& cursor) {
    cursor.shape("9999-99-99T99:99:99");
    if (cursor.ok() && cursor.rest().substr(0, 1) == ".") cursor.literal(".").digits(1, 6);
    if (cursor.ok() && cursor.rest().substr(0, 1) == "Z")
        cursor.literal("Z");
    else
        cursor.oneOf({"+", "-"}).shape("99:99");
}

// "HOST TAG: ", or "TAG: " alone: syslog(3) sends its header without a host
// over the local socket, and a collector that writes %rawmsg-after-pri%
// keeps it so.
void hostThenTag(Cursor& cursor, std::string_view& host) {
    Cursor withHost = cursor;
    withHost.token(host, true).literal(" ");
    programTag(withHost);
    if (withHost.ok()) {
        cursor = withHost;
    } else {
        host = {};
        programTag(cursor);
    }
}

constexpr std::array<std::string_view, 12> kMonths = {"Jan ", "Feb ", "Mar ", "Apr ", "May ", "Jun ",
                                                      "Jul ", "Aug ", "Sep ", "Oct ", "Nov ", "Dec "};

// A syslog header; `host` is set to the host it names.
void syslogHeader(Cursor& cursor, PrefixGrammar grammar, std::string_view& host) {
    switch (grammar) {
    case kRfc3164:
        cursor.oneOf({kMonths[0], kMonths[1], kMonths[2], kMonths[3], kMonths[4], kMonths[5], kMonths[6], kMonths[7],
                      kMonths[8], kMonths[9], kMonths[10], kMonths[11]});
        cursor.oneOf({" ", "0", "1", "2", "3"}).shape("9 99:99:99 ");
        hostThenTag(cursor, host);
        break;
    case kRfc3339:
        rfc3339Time(cursor);
        cursor.literal(" ").token(host, true).literal(" ");
        programTag(cursor);
        break;
    case kFileLayout: {
        std::string_view field;
        cursor.shape("9999-99-99 99:99:99,999 ").token(field, false);
        // The level, padded to five characters.
        for (std::size_t padded = field.size(); cursor.ok() && padded < 5; ++padded)
            cursor.literal(" ");
        cursor.literal(" [").token(field, false).literal("] ").token(field, false).literal(" ");
        break;
    }
    case kRfc5424: {
        std::string_view field;
        cursor.literal("<").digits(1, 3).literal(">1 ");
        if (cursor.ok() && cursor.rest().substr(0, 2) == "- ")
            cursor.literal("-");
        else
            rfc3339Time(cursor);
        cursor.literal(" ").token(host, true);
        for (int i = 0; i < 3; ++i) // APP-NAME PROCID MSGID
            cursor.literal(" ").token(field, false);
        cursor.literal(" - "); // no structured data
        break;
    }
    default: break;
    }
}

// A seal, an event or a ledger record: what the library writes.
bool isRecord(MessageKind kind) { return kind != MessageKind::Lookalike && kind != MessageKind::Other; }

// After a syslog header a collector may write the message with one blank in
// front of its own (rsyslog's %msg% keeps the blank after a legacy tag).
std::string_view withoutCollectorBlank(std::string_view message) {
    if (message.size() > 1 && message[0] == ' ' && isRecord(kindOf(message.substr(1))) && !isRecord(kindOf(message)))
        return message.substr(1);
    return message;
}

} // namespace

std::optional<unsigned> prefixGrammarsNamed(std::string_view names) {
    static constexpr std::pair<std::string_view, PrefixGrammar> kNames[] = {
        {"none", kNoPrefix},   {"rfc3164", kRfc3164}, {"rfc3339", kRfc3339},
        {"rfc5424", kRfc5424}, {"tag", kProgramTag},  {"file-layout", kFileLayout}};
    unsigned grammars = 0;
    while (true) {
        const std::string_view name = names.substr(0, names.find(','));
        unsigned found = 0;
        for (const auto& [known, grammar] : kNames)
            if (name == known) found = grammar;
        if (found == 0) return std::nullopt;
        grammars |= found;
        if (name.size() == names.size()) return grammars;
        names.remove_prefix(name.size() + 1);
    }
}

MessageKind kindOf(std::string_view message) {
    if (message.substr(0, seal::kSealMarker.size()) == seal::kSealMarker) return MessageKind::Seal;
    if (message.substr(0, seal::kEpochMarker.size()) == seal::kEpochMarker ||
        message.substr(0, seal::kEnrollmentMarker.size()) == seal::kEnrollmentMarker)
        return MessageKind::Ledger;
    if (message.substr(0, kCefStart.size()) == kCefStart || message.substr(0, kXdasStart.size()) == kXdasStart)
        return MessageKind::Event;
    const std::size_t start = message.find_first_not_of(" \t");
    if (start != std::string_view::npos &&
        (message[start] == '{' || message.substr(start, kCefStart.size()) == kCefStart))
        return MessageKind::Lookalike;
    return MessageKind::Other;
}

CustomPrefix::CustomPrefix(const std::string& pattern) {
    // A back-reference makes matching cost time and memory without bound on
    // a hostile line; a prefix never needs one.
    for (std::size_t at = 0; at + 1 < pattern.size(); at += pattern[at] == '\\' ? 2u : 1u)
        if (pattern[at] == '\\' && pattern[at + 1] >= '1' && pattern[at + 1] <= '9')
            throw std::invalid_argument("prefix pattern " + pattern + ": back-references are not accepted");
    const int error = regcomp(&regex_, ("^(" + pattern + ")").c_str(), REG_EXTENDED);
    if (error != 0) {
        char message[256];
        regerror(error, &regex_, message, sizeof message);
        throw std::invalid_argument("prefix pattern " + pattern + ": " + message);
    }
}

CustomPrefix::~CustomPrefix() { regfree(&regex_); }

std::optional<std::size_t> CustomPrefix::match(std::string_view line) const {
    // A copy that ends with a NUL, for whatever reads the string to its end
    // (a sanitizer's interceptor does); REG_STARTEND bounds the match to the
    // line, NUL bytes in it included.
    const std::string text(line);
    regmatch_t found[1] = {{0, static_cast<regoff_t>(text.size())}};
    if (regexec(&regex_, text.c_str(), 1, found, REG_STARTEND) != 0 || found[0].rm_so != 0) return std::nullopt;
    const std::string_view prefix = line.substr(0, static_cast<std::size_t>(found[0].rm_eo));
    if (prefix.find_first_of("|={\"") != std::string_view::npos) return std::nullopt;
    return prefix.size();
}

CollectedLine readCollectedLine(std::string_view line, unsigned grammars, const CustomPrefix* custom) {
    CollectedLine fallback{{}, {}, line, MessageKind::Other};
    // The first reading of a record; the first lookalike (the bare line's
    // first, whatever the grammars) for when there is none.
    const auto take = [&fallback](const CollectedLine& read) {
        if (read.kind == MessageKind::Lookalike && fallback.kind == MessageKind::Other) fallback = read;
        return isRecord(read.kind);
    };
    const CollectedLine bare{{}, {}, line, kindOf(line)};
    if (take(bare) && (grammars & kNoPrefix)) return bare;
    for (const PrefixGrammar header : {kNoPrefix, kRfc3164, kRfc3339, kRfc5424, kFileLayout}) {
        if (header != kNoPrefix && !(grammars & header)) continue;
        Cursor cursor(line);
        std::string_view host;
        syslogHeader(cursor, header, host);
        if (!cursor.ok()) continue;
        const std::string_view afterHeader = cursor.rest();
        for (const bool tagged : {false, true}) {
            if (tagged && !(grammars & kProgramTag)) continue;
            if (!tagged && header == kNoPrefix) continue; // the bare message, tried above
            Cursor tag(afterHeader);
            if (tagged) programTag(tag);
            if (!tag.ok()) continue;
            const std::string_view message = header == kNoPrefix ? tag.rest() : withoutCollectorBlank(tag.rest());
            const CollectedLine read{line.substr(0, line.size() - message.size()), host, message, kindOf(message)};
            if (take(read)) return read;
        }
    }
    if (custom != nullptr) {
        if (const auto length = custom->match(line)) {
            const std::string_view message = line.substr(*length);
            const CollectedLine read{line.substr(0, *length), {}, message, kindOf(message)};
            if (take(read)) return read;
        }
    }
    return fallback;
}

} // namespace quorvel::trail
