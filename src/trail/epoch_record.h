// The record a host agent logs at the end of each epoch, chained to the
// record before it:
//
//   quorvel-epoch v=1 hostid=I epoch=E from=F prev=D mac=X
//
// I: the host id; E: the epoch that ends; F: the first epoch the record
// speaks for (F < E when the agent was not running from F to E - 1); D: the
// BLAKE2b-256 of the whole line of the record before (the enrollment record
// before the first); X: the MAC of everything before " mac=" under epoch
// E's key, which the agent erases right after. A record of an epoch that has
// ended cannot be made again, nor a record put between two others, without
// the verifier seeing it.
#pragma once

#include "trail/enrollment_record.h"
#include "trail/record_fields.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::seal {

inline constexpr std::string_view kEpochMarker = "quorvel-epoch ";

struct EpochRecord {
    HostId hostId{};
    std::uint64_t epoch = 0;
    std::uint64_t from = 0;
    Bytes32 previous{};
};

std::string writeEpochRecord(const EpochRecord& record, const EpochKey& key);

using ReadEpochRecord = SignedRecord<EpochRecord>;

// The record in `text`, which starts at the marker and ends with the line;
// nothing when it is not a well-formed record of version 1.
std::optional<ReadEpochRecord> readEpochRecord(std::string_view text);

// The digest a record's successor names.
Bytes32 recordDigest(std::string_view line);

} // namespace quorvel::seal
