// The record a host agent makes once, when its host is enrolled:
//
//   quorvel-enroll v=1 hostid=I host=H time=T epoch=M seed=K mac=X
//
// I: the host id, 16 random bytes; H: the host name (base64 of its bytes);
// T: when the host's epoch 0 began, in milliseconds since the Unix epoch;
// M: each epoch's length in milliseconds; K: the host's seed, encrypted to
// the auditor (a sealed box); X: the MAC of everything before " mac=" under
// epoch 0's key, so that only the holder of the seed can have made it. The
// record's fingerprint, which the operator hands the auditor apart from the
// record, names this very record: a record made anew, by anyone with the
// auditor's public key, has another.
#pragma once

#include "trail/host_epochs.h"
#include "trail/record_fields.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::seal {

inline constexpr std::string_view kEnrollmentMarker = "quorvel-enroll ";

using HostId = std::array<unsigned char, 16>;

struct Enrollment {
    HostId hostId{};
    std::string host;
    std::uint64_t time = 0;
    std::uint64_t epochMillis = 0;
    EncryptedKey seed{};
};

// The record's line, MACed under `epochZeroKey`.
std::string writeEnrollment(const Enrollment& enrollment, const EpochKey& epochZeroKey);

using ReadEnrollment = SignedRecord<Enrollment>;

// The enrollment in `text`, which starts at the marker and ends with the
// line; nothing when it is not a well-formed record of version 1.
std::optional<ReadEnrollment> readEnrollment(std::string_view text);

// Whether the record's seed opens with the auditor's key and its MAC holds
// under the seed's epoch 0 key; the seed goes into `seed` (in the caller's
// guarded memory), erased when it does not hold.
bool openEnrollment(const ReadEnrollment& enrollment, const AuditorPublicKey& publicKey,
                    const AuditorSecretKey& secretKey, HostSeed& seed);

// The fingerprint of a record's whole text: the first 16 bytes of its
// BLAKE2b-256 hash in hex, in eight groups of four digits.
std::string fingerprintOf(std::string_view record);

} // namespace quorvel::seal
