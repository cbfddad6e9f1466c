// A line as a collector wrote it: a prefix the collector or a layout put in
// front (a syslog header, a program tag), then the message the library
// handed to log4cxx. Each accepted prefix is a strict grammar of its own;
// the auditor names the ones his collectors write, and a line is read only
// through them.
#pragma once

#include "trail/seal_record.h"

#include <regex.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::trail {

// The prefixes a collected line may carry. A syslog header comes first, then
// at most one program tag.
enum PrefixGrammar : unsigned {
    kNoPrefix = 1u << 0,   // the message alone (a FileAppender with %m%n, rsyslog's %rawmsg-after-pri%)
    kRfc3164 = 1u << 1,    // "Dec  9 02:20:09 HOST TAG: " (rsyslog's traditional file format), or without
                           // HOST as syslog(3) sends it over the local socket
    kRfc3339 = 1u << 2,    // "2026-12-09T02:20:09.123+00:00 HOST TAG: " (rsyslog's file format)
    kRfc5424 = 1u << 3,    // "<PRI>1 TIMESTAMP HOST APP PROCID MSGID - " (syslog protocol, no structured data)
    kProgramTag = 1u << 4, // "TAG: " (a layout of "${quorvel.module}: %m"), alone or after a syslog header
    // "2026-12-09 02:41:37,689 INFO  [MODULE] LOGGER " (the file layout
    // "%d{ISO8601} %-5p [${quorvel.module}] %c %m%n")
    kFileLayout = 1u << 5,
};
inline constexpr unsigned kEveryPrefix = kNoPrefix | kRfc3164 | kRfc3339 | kRfc5424 | kProgramTag | kFileLayout;

// The grammars named in `names` ("none,rfc3164,rfc3339,rfc5424,tag,
// file-layout", comma separated), or nothing when a name is unknown.
std::optional<unsigned> prefixGrammarsNamed(std::string_view names);

// What the library writes at the start of a message: a seal record
// (seal::kSealMarker), a CEF line, an XDAS record (whose text starts with a
// blank).
inline constexpr std::string_view kCefStart = "CEF:";
inline constexpr std::string_view kXdasStart = " {\"";

// Ledger: a host ledger's record. Lookalike: none of the library's, but what
// a reader of events would take for one (after blanks, a JSON object or a
// CEF header), so that it is never passed over as someone else's text.
enum class MessageKind { Seal, Event, Ledger, Lookalike, Other };
MessageKind kindOf(std::string_view message);

struct CollectedLine {
    std::string_view prefix;  // unsealed text before the message; empty without one
    std::string_view host;    // the host the syslog header names; empty without one
    std::string_view message; // what follows the prefix
    MessageKind kind = MessageKind::Other;
};

// A prefix of the auditor's own: a POSIX extended regular expression that
// matches from the start of a line up to the message. Like every prefix, its
// match may hold no '|', '=', '{' or '"', so that it cannot hold an event.
class CustomPrefix {
  public:
    // Throws std::invalid_argument when `pattern` is not a valid expression.
    explicit CustomPrefix(const std::string& pattern);
    ~CustomPrefix();
    CustomPrefix(const CustomPrefix&) = delete;
    CustomPrefix& operator=(const CustomPrefix&) = delete;

    // The length of the prefix at the start of `line`; nothing when the
    // pattern does not match there or its match holds a forbidden byte.
    std::optional<std::size_t> match(std::string_view line) const;

  private:
    regex_t regex_;
};

// The line read through the accepted grammars, then `custom` when given: the
// first reading whose message is a seal, an event or a ledger record;
// otherwise the first that reads as a lookalike (the bare line included);
// otherwise the line as a message of kind Other.
CollectedLine readCollectedLine(std::string_view line, unsigned grammars, const CustomPrefix* custom = nullptr);

} // namespace quorvel::trail
