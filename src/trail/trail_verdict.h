// What the verifier says of a collection of sealed trails: per session, what
// became of every line it numbered and every seal it wrote; for the
// collection, the event lines that no authentic seal vouches for and why.
#pragma once

#include "trail/seal_record.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::trail {

// Where a line was read: the file's position among those given (from 0) and
// the line's number in it (from 1). Places order the collection.
struct LinePlace {
    std::uint32_t file = 0;
    std::uint64_t line = 0;
    bool operator<(const LinePlace& o) const { return file != o.file ? file < o.file : line < o.line; }
    bool operator==(const LinePlace& o) const { return file == o.file && line == o.line; }
};

// A run of numbers (lines or seals), first to last inclusive.
struct NumberRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

struct MissingLine {
    std::uint64_t number = 0;
    std::uint64_t seal = 0;
    std::uint64_t sealTime = 0;
};

// Seals of a session that no file holds, between two that are read.
struct SealGap {
    NumberRange seals;
    std::optional<NumberRange> lines; // what they covered; none when the seal after says nothing
    std::uint64_t unverifiable = 0;   // collected lines that may be those lines
};

// A sealed line found at a place.
struct FoundLine {
    LinePlace place;
    std::uint64_t number = 0;
};

// A line found again after its first finding: a relay's resend when it is
// near the original in the session's order, else replayed.
struct Duplicate {
    LinePlace place;
    LinePlace original;
    std::uint64_t number = 0;
    bool replayed = false;
};

// A seal that breaks the chain although its MAC holds: its range does not
// continue the seal before it, or its time goes back.
struct SealFault {
    std::uint64_t seal = 0;
    LinePlace place;
    enum Kind { RangeBreak, TimeBack, Conflicting, FromTheFuture } kind = RangeBreak;
};

// Where a session's verification starts: its opening, or, when the
// collection holds no authentic opening, the first checkpoint that its
// host's ledger names (then `index` is that seal's, and the opening holds
// the checkpoint's process and cadence, its host and module unknown).
struct AuthenticOpening {
    seal::SessionOpening opening;
    std::uint64_t time = 0;
    LinePlace place;
    std::uint64_t index = 0;
};

// A seal an authentic epoch record of a registered host names: the host and
// the session number it gives the seal's session.
struct LedgerAnchor {
    seal::HostId host{};
    std::uint64_t number = 0;
    std::uint64_t index = 0;
};

// Who opened a session, as its opening's attestation by the host agent says;
// checked only against a registry of enrolled hosts.
struct SessionOrigin {
    enum Kind {
        Unchecked,        // no registry was given
        Unattested,       // the opening carries no attestation
        Attested,         // its MAC holds under its host's key of its epoch, and the session opened in that epoch
        UnregisteredHost, // it names a host the registry does not hold
        Failed,           // its MAC fails, or its epoch is not when the session opened or after the collection
        Checkpointed,     // no opening here; verified from a checkpoint its host's ledger names
    } kind = Unchecked;
    std::optional<seal::Attestation> attestation; // as the opening carries it
    std::optional<LedgerAnchor> checkpoint;       // Checkpointed: the record's entry
};

struct SessionVerdict {
    seal::SessionId id{};
    SessionOrigin origin;
    std::vector<std::uint64_t> unanchored;  // seals its host's ledger names that no file holds as named
    bool vanished = false;                  // its host's agent saw its process go without an end seal
    std::vector<AuthenticOpening> openings; // one: opened; two or more: contested, none trusted
    std::uint64_t sealsRead = 0;            // seal lines of this session, copies counted once
    std::uint64_t seals = 0;                // authentic ones
    std::uint64_t lastSeal = 0;             // highest authentic index
    std::uint64_t lastSealAt = 0;
    bool closed = false;   // the last seal marks the process's normal exit
    bool cutShort = false; // not closed, and no seal for longer than the idle time accepted
    std::uint64_t verified = 0;
    std::uint64_t contestedLines = 0; // found under a contested session: neither verified nor forged
    std::vector<MissingLine> missing;
    std::vector<SealGap> gaps;
    std::uint64_t notYetSealed = 0; // collected lines that may be the open tail's
    std::uint64_t tailBound = 0;    // how many lines the tail may hold (the declared cadence)
    std::vector<LinePlace> failedMacs;
    std::vector<SealFault> faults;
    std::uint64_t uncheckedSeals = 0; // beyond the key-walk or seal bound
    std::vector<Duplicate> duplicates;
    std::uint64_t reordered = 0;        // found after a line numbered later in this session
    std::vector<FoundLine> torn;        // sealed lines found only inside a torn or altered line
    std::vector<FoundLine> foreignHost; // lines whose prefix names another host
    std::uint64_t explainedByUnopened = 0;
    std::uint64_t sealsBeforeCheckpoint = 0; // verified from a checkpoint: seals before it, not checked
    std::uint64_t beforeCheckpoint = 0;      // collected lines that may be numbered before it: not verifiable

    // Verified from a checkpoint cut after `windowFrom`, where a window
    // starts: the lines it logged from then until the seal before the
    // checkpoint are under no seal the collection vouches for, so deleting
    // them would leave no trace.
    bool checkpointAfter(std::uint64_t windowFrom) const {
        return origin.kind == SessionOrigin::Checkpointed && opened() && openings.front().time > windowFrom;
    }
    bool opened() const { return openings.size() == 1; }
    bool contested() const { return openings.size() > 1; }
};

// A collected event line that no authentic seal vouches for.
struct StrayLine {
    LinePlace place;
    enum Kind {
        Uncovered,        // nothing explains it: altered or inserted
        Altered,          // an event after text that is no accepted prefix
        LostSeal,         // a lost seal may have covered it: unverifiable
        OpenTail,         // an open session's tail may hold it: not yet sealed
        Unopened,         // only a session without an authentic opening may hold it
        Unchecked,        // a bound stopped the search for it
        BeforeCheckpoint, // a session verified from a checkpoint may hold it, numbered before: not verifiable
    } kind = Uncovered;
    std::optional<std::size_t> session; // the session whose gap or tail explains it
};

// What the ledger of one host in the auditor's registry shows.
struct HostLedgerVerdict {
    std::string host; // as its enrollment record names it
    std::string fingerprint;
    bool fingerprintMatches = false;          // the registry's fingerprint is its record's
    bool enrollmentOpens = false;             // the auditor's key opens it and its MAC holds
    std::uint64_t records = 0;                // authentic epoch records, copies counted once
    std::optional<NumberRange> epochs;        // the first and last epoch they speak for
    std::vector<NumberRange> lost;            // epochs no authentic record in the chain speaks for: evidence lost
    std::vector<NumberRange> agentDown;       // epochs a record says its agent did not run in
    std::vector<LinePlace> failedMacs;        // records with this host's id whose MAC fails
    std::vector<LinePlace> conflicting;       // a second authentic record for an epoch
    std::vector<LinePlace> fromTheFuture;     // records of epochs after the collection's end
    bool stopped = false;                     // no record for the epochs before the collection's end
    std::uint64_t sessions = 0;               // sessions attested by its agent
    std::vector<NumberRange> missingSessions; // numbers the agent gave, or its ledger names, of no session here
    std::vector<std::uint64_t> reusedNumbers; // numbers the agent gave twice: its state was put back
    bool sound() const;
};

// What the auditor's bounds left unchecked.
struct Unchecked {
    std::uint64_t longLines = 0;     // longer than the line bound
    std::uint64_t sessions = 0;      // sessions beyond the session bound
    std::uint64_t openings = 0;      // openings beyond the per-session or the overall bound
    std::uint64_t candidates = 0;    // lines whose candidate seals exceeded the bound
    std::uint64_t ledgerRecords = 0; // a host's ledger records beyond the bound
    bool any() const { return longLines + sessions + openings + candidates + ledgerRecords != 0; }
};

struct TrailVerdict {
    std::vector<std::string> files;
    std::uint64_t lines = 0;
    std::uint64_t eventLines = 0;
    std::uint64_t sealLines = 0;
    std::uint64_t prefixedLines = 0; // read through a prefix grammar: the prefix is unsealed text
    std::uint64_t collectionEnd = 0; // milliseconds since the epoch
    std::uint64_t windowFrom = 0;    // an audit of the collection from then on (ms); 0: from each host's enrollment
    std::vector<SessionVerdict> sessions;
    std::vector<StrayLine> strays;
    std::vector<LinePlace> unreadableSeals;
    Unchecked unchecked;
    // With a registry of enrolled hosts: each one's ledger, and the places
    // of ledger records of hosts not in it.
    std::vector<HostLedgerVerdict> hosts;
    std::vector<LinePlace> unregisteredLedger;

    // True only when the collection holds at least one authentic session and
    // every event is accounted for: every sealed line verified once or
    // resent, no seal lost, failing or out of chain, no session cut short,
    // unopened or contested, no stray, nothing left unchecked; and, with a
    // registry, every registered host's ledger sound and every session
    // attested by one of them (or, in a window, verified from a checkpoint
    // one of them names).
    bool complete() const;
};

} // namespace quorvel::trail
