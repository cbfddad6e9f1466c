// The record a host agent logs at the end of each epoch, chained to the
// record before it:
//
//   quorvel-epoch v=2 hostid=I epoch=E from=F part=K prev=D [more=1] count=C sessions=S mac=X
//
// I: the host id; E: the epoch that ends; F: the first epoch the record
// speaks for (F < E when the agent was not running from F to E - 1); K: the
// record's part of the epoch's, from 0, "more=1" on every part but the last
// (an epoch's sessions are split to fit the longest line the path
// carries); D: the BLAKE2b-256 of the whole line of the record before (the
// epoch's part before, the last part of the epoch before, or the enrollment
// record before the first); C, S: the sessions the part speaks for, 49 bytes
// each: the session's number (8 bytes, little-endian), a seal's index (8
// bytes, little-endian; all ones for none), what became of the session (1
// byte, SessionEvent) and the BLAKE2b-256 of that seal's whole line; X: the
// MAC of everything before " mac=" under epoch E's key, which the agent
// erases right after. A record of an epoch that has ended cannot be made
// again, nor a record put between two others, without the verifier seeing
// it. Version 1 is version 2 without K, "more", C and S; it is still read.
#pragma once

#include "trail/enrollment_record.h"
#include "trail/record_fields.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::seal {

inline constexpr std::string_view kEpochMarker = "quorvel-epoch ";

// What a session's entry in an epoch record says of it, in that epoch.
enum class SessionEvent : unsigned char {
    Opened = 0,     // its opening seal (index 0) was logged
    Live = 1,       // it lives on; the latest seal it logged
    Ended = 2,      // it ended normally; its end seal
    Vanished = 3,   // its process went without an end seal (killed or crashed); the latest seal it logged
    Checkpoint = 4, // a seal it logged that carries a checkpoint
};
inline constexpr std::uint64_t kNoSealIndex = ~std::uint64_t{0};

struct SessionEntry {
    std::uint64_t number = 0;
    std::uint64_t index = kNoSealIndex;
    SessionEvent event = SessionEvent::Live;
    Bytes32 seal{}; // the BLAKE2b-256 of the seal's line
};
inline constexpr std::size_t kSessionEntryBytes = 49;

struct EpochRecord {
    HostId hostId{};
    std::uint64_t epoch = 0;
    std::uint64_t from = 0;
    Bytes32 previous{};
    std::uint64_t part = 0;
    bool more = false;
    std::vector<SessionEntry> sessions;
};

std::string writeEpochRecord(const EpochRecord& record, const EpochKey& key);

using ReadEpochRecord = SignedRecord<EpochRecord>;

// The record in `text`, which starts at the marker and ends with the line;
// nothing when it is not a well-formed record of version 1 or 2.
std::optional<ReadEpochRecord> readEpochRecord(std::string_view text);

// The digest a record's successor names, and an epoch record's entry names
// of a seal's line.
Bytes32 recordDigest(std::string_view line);

// The parts of an epoch's record: its sessions split so that no part's line
// is longer than `maxBytes` (at least one entry a part); each part's
// `previous` is left to the writer, who knows the line before.
std::vector<EpochRecord> splitEpochRecord(const EpochRecord& whole, std::size_t maxBytes);

} // namespace quorvel::seal
