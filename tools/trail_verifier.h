// The verifier of a sealed trail: reads collected files (events and seals in
// any order, syslog or other prefixes before them, several hosts, sessions and
// rotated files), finds each event line's place in its session through the
// seals, and says per session what is verified, missing, unverifiable,
// duplicated or out of order, and which lines no seal covers.
#pragma once

#include "logging/seal_record.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quorvel_tools {

// Where a line was read: file and line number (from 1).
struct LinePlace {
    std::size_t file = 0;
    std::uint64_t line = 0;
};

// A run of line numbers of a session, first to last inclusive.
struct LineRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

struct MissingLine {
    std::uint64_t number = 0;
    std::uint64_t seal = 0;
    std::uint64_t sealTime = 0;
};

// What became of one session.
struct SessionVerdict {
    quorvel::seal::SessionId id{};
    bool opened = false;                   // its opening seal was found, decrypted and authentic
    quorvel::seal::SessionOpening opening; // when opened
    std::uint64_t openedAt = 0;
    std::uint64_t seals = 0;    // authentic seals, copies counted once
    std::uint64_t lastSeal = 0; // highest index among them
    std::uint64_t lastSealAt = 0;
    bool closed = false;                      // its last seal marks the process's normal exit
    bool cutShort = false;                    // not closed, and no seal for longer than its idle cadence
    std::uint64_t verified = 0;               // lines found as sealed
    std::vector<MissingLine> missing;         // sealed, not found
    std::vector<LineRange> lostSeals;         // seal indices absent between authentic ones
    std::vector<LineRange> unverifiableLines; // numbers whose seal was lost
    std::uint64_t unsealedTail = 0;           // lines after the last seal found that no seal covers
    std::vector<LinePlace> failedMacs;        // seals of this session whose MAC fails
    std::uint64_t duplicates = 0;             // lines found more than once (a relay's resends)
    std::uint64_t reordered = 0;              // lines found before lines numbered lower in the same file
    std::uint64_t unopenedSeals = 0;          // seals that cannot be checked: no authentic opening
};

struct TrailVerdict {
    std::vector<std::string> files;
    std::uint64_t lines = 0;      // read in all
    std::uint64_t eventLines = 0; // that hold a CEF line or an XDAS record
    std::vector<SessionVerdict> sessions;
    std::vector<LinePlace> uncovered;    // event lines no seal covers: altered or inserted
    std::vector<LinePlace> unverifiable; // event lines that may be those of a lost seal or an unsealed tail
    std::vector<LinePlace> unreadableSeals;
    std::uint64_t collectionEnd = 0; // the latest seal time read, or the time given

    // True when every event is accounted for: no line missing, uncovered or
    // unverifiable, no seal lost or failing, no session cut short or
    // unopened. Duplicates and order do not count against it.
    bool complete() const;
};

struct VerifyOptions {
    quorvel::seal::AuditorSecretKey secretKey{};
    std::uint64_t at = 0; // the end of the collection in ms; 0: the latest seal time read
};

// Verifies the trail in `files`; throws ToolError when a file cannot be read.
TrailVerdict verifyTrail(const std::vector<std::string>& files, const VerifyOptions& options);

} // namespace quorvel_tools
