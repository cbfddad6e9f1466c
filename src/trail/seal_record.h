// A seal record: one line that vouches for a run of the lines a session
// handed to log4cxx. Written by the library, read by the verifier.
//
//   quorvel-seal v=2 session=S index=I time=T first=F count=C [opening] [end=1] locs=L tags=G mac=M
//
// S: the session's 16 random bytes; I: the seal's index in its session, from
// 0; T: milliseconds since the Unix epoch when the seal was made; F, C: it
// covers the lines numbered F to F+C-1 (a session numbers its lines from 0);
// L: the C lines' locators in order, 3 bytes each; G: the C lines' tags in
// order, 6 bytes each; M: the MAC of everything
// before " mac=" under the seal's MAC key. Binary fields are base64 (URL
// alphabet, no padding), numbers decimal. Seal 0 opens the session, covers
// no line and carries [opening]:
//
//   host=H module=D pid=P lines=N millis=L idle=J key=K
//
// H, D: the host name and module name (base64 of their bytes); P: the
// process; N, L, J: the cadence (a seal every N lines or L milliseconds,
// whichever comes first, and one every J milliseconds when idle); K: the
// session's first key, encrypted to the auditor. "end=1" marks the seal made
// when the process exited normally. Version 3 is version 2 with the host
// agent's attestation of the process in the opening, after K (the fields of
// attestation_record.h); an opening without one is written in version 2.
// Version 4 is a later seal of an attested session that carries a
// checkpoint after its count:
//
//   pid=P lines=N millis=L idle=J ckey=K
//
// the opening's process and cadence, and K this seal's own key, encrypted
// to the auditor: whoever holds the auditor's key verifies the session from
// this seal on without its opening, once the host's ledger names the seal.
// Version 1 is version 2 without L. All four are read.
#pragma once

#include "trail/attestation_record.h"
#include "trail/seal_keys.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::seal {

// What opens a line that holds a seal, and the version it is written in.
inline constexpr std::string_view kSealMarker = "quorvel-seal ";
inline constexpr int kSealVersion = 2;
inline constexpr int kAttestedSealVersion = 3;
inline constexpr int kCheckpointSealVersion = 4;

struct SessionOpening {
    std::string host;
    std::string module;
    std::uint64_t pid = 0;
    std::uint64_t lines = 0;
    std::uint64_t millis = 0;
    std::uint64_t idleMillis = 0;
    EncryptedKey key{};
    std::optional<CarriedAttestation> attestation; // the host agent's, when it gave one
};

// What a later seal carries so that the session can be verified from it on.
struct SealCheckpoint {
    std::uint64_t pid = 0;
    std::uint64_t lines = 0;
    std::uint64_t millis = 0;
    std::uint64_t idleMillis = 0;
    EncryptedKey key{}; // the key of the seal that carries it, encrypted to the auditor
};

struct SealRecord {
    int version = kSealVersion;
    SessionId session{};
    std::uint64_t index = 0;
    std::uint64_t time = 0;
    std::uint64_t first = 0;
    std::vector<LineTag> tags;         // of the lines numbered first, first + 1, ...
    std::vector<LineLocator> locators; // the same lines' (version 2; empty in version 1)
    bool end = false;
    std::optional<SessionOpening> opening;    // seal 0 only
    std::optional<SealCheckpoint> checkpoint; // a later seal's, in version 4
};

// The seal's line in the current version (kAttestedSealVersion for an
// attested opening, kCheckpointSealVersion for a checkpoint), its MAC under
// `macKey` last;
// `seal.locators` holds one locator per tag.
std::string writeSeal(const SealRecord& seal, const Bytes32& macKey);

struct ReadSeal {
    SealRecord record;
    std::string_view signedText; // what the MAC covers
    SealMac mac;
};

// The seal in `text`, which starts at kSealMarker and ends with the line;
// nothing when it is not a well-formed seal of version 1 to 4.
std::optional<ReadSeal> readSeal(std::string_view text);

} // namespace quorvel::seal
