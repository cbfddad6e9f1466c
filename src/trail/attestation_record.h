// What a host agent attests of a process that opens a sealed session, and
// how the process asks for it. The request, one line on the agent's socket:
//
//   quorvel-attest-request v=1 session=S key=D
//
// and the attestation the agent answers with:
//
//   quorvel-attest v=1 hostid=I epoch=E number=N uid=U gid=G pid=P exe=X unit=C session=S key=D mac=M
//
// S: the session's id; D: the BLAKE2b-256 of the session's first key as
// encrypted to the auditor (the opening seal's key field), which binds the
// attestation to that one session; I, E: the host and the epoch it was
// made in; N: the host-wide number of the session, from 0; U, G, P: the
// asking process's user, group and process id, as the kernel gives them for
// the socket; X, C: its executable's path and its control group (base64 of
// their bytes); M: keyed BLAKE2b-256 of everything before " mac=" under
// epoch E's key.
#pragma once

#include "trail/enrollment_record.h"
#include "trail/record_fields.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::seal {

inline constexpr std::string_view kAttestationMarker = "quorvel-attest ";
inline constexpr std::string_view kAttestationRequestMarker = "quorvel-attest-request ";
inline constexpr std::size_t kMostAttestedPathBytes = 255;

struct AttestationRequest {
    SessionId session{};
    Bytes32 key{}; // the digest of the session's encrypted first key
};

struct Attestation {
    HostId hostId{};
    std::uint64_t epoch = 0;
    std::uint64_t number = 0;
    std::uint64_t uid = 0;
    std::uint64_t gid = 0;
    std::uint64_t pid = 0;
    std::string exe;
    std::string unit;
    AttestationRequest request;
};

std::string writeAttestationRequest(const AttestationRequest& request);
std::optional<AttestationRequest> readAttestationRequest(std::string_view text);

std::string writeAttestation(const Attestation& attestation, const EpochKey& key);

using ReadAttestation = SignedRecord<Attestation>;
// Nothing when `text` is not a well-formed attestation of version 1.
std::optional<ReadAttestation> readAttestation(std::string_view text);

// The digest an attestation names of a session's encrypted first key.
Bytes32 firstKeyDigest(const EncryptedKey& key);

// An attestation as an opening seal carries it: its fields and its MAC.
struct CarriedAttestation {
    Attestation attestation;
    SealMac mac{};
};

// The attestation's fields in an opening seal; the reader takes
// `request` (the seal's session and the digest of its key) as given.
void putCarriedAttestation(std::string& out, const CarriedAttestation& carried);
bool readCarriedAttestation(FieldReader& fields, const AttestationRequest& request, CarriedAttestation& carried);

inline constexpr std::string_view kSealReportMarker = "quorvel-report ";

// A seal a session has logged, as it tells the agent:
//   quorvel-report v=1 index=I seal=D [checkpoint=1] [end=1]
struct SealReport {
    std::uint64_t index = 0;
    Bytes32 seal{};
    bool checkpoint = false; // the seal carries a checkpoint
    bool end = false;
};

std::string writeSealReport(const SealReport& report);
std::optional<SealReport> readSealReport(std::string_view text);

// Whether the carried MAC is the attestation's under `key`.
bool attestationHolds(const CarriedAttestation& carried, const EpochKey& key);

} // namespace quorvel::seal
