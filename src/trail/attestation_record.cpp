#include "trail/attestation_record.h"

#include "trail/record_fields.h"

#include <sodium.h>

namespace quorvel::seal {

namespace {

constexpr std::string_view kVersionField = "v=1";

void putRequest(std::string& out, const AttestationRequest& request) {
    putText(out, "session", toBase64(request.session));
    putText(out, "key", toBase64(request.key));
}

bool readRequest(FieldReader& fields, AttestationRequest& request) {
    return fields.binary("session", request.session) && fields.binary("key", request.key);
}

// The credentials' fields, named as `names` has them: in the attestation
// line or in an opening seal.
struct CredentialNames {
    std::string_view hostId, pid;
};
constexpr CredentialNames kLineNames{"hostid", "pid"};
constexpr CredentialNames kCarriedNames{"agent", "apid"};

void putCredentials(std::string& out, const Attestation& attestation, const CredentialNames& names) {
    putText(out, names.hostId, toBase64(attestation.hostId));
    putNumber(out, "epoch", attestation.epoch);
    putNumber(out, "number", attestation.number);
    putNumber(out, "uid", attestation.uid);
    putNumber(out, "gid", attestation.gid);
    putNumber(out, names.pid, attestation.pid);
    putBase64Text(out, "exe", attestation.exe);
    putBase64Text(out, "unit", attestation.unit);
}

bool readPath(FieldReader& fields, std::string_view name, std::string& path) {
    return fields.text(name, path) && path.size() <= kMostAttestedPathBytes;
}

bool readCredentials(FieldReader& fields, Attestation& record, const CredentialNames& names) {
    return fields.binary(names.hostId, record.hostId) && fields.number("epoch", record.epoch) &&
           fields.number("number", record.number) && fields.number("uid", record.uid) &&
           fields.number("gid", record.gid) && fields.number(names.pid, record.pid) &&
           readPath(fields, "exe", record.exe) && readPath(fields, "unit", record.unit);
}

// What the attestation's MAC covers.
std::string signedAttestation(const Attestation& attestation) {
    std::string out(kAttestationMarker);
    out += kVersionField;
    putCredentials(out, attestation, kLineNames);
    putRequest(out, attestation.request);
    return out;
}

} // namespace

std::string writeAttestationRequest(const AttestationRequest& request) {
    std::string out(kAttestationRequestMarker);
    out += kVersionField;
    putRequest(out, request);
    return out;
}

std::optional<AttestationRequest> readAttestationRequest(std::string_view text) {
    auto fields = recordBody(text, kAttestationRequestMarker, kVersionField);
    AttestationRequest request;
    if (!fields || !readRequest(*fields, request) || !fields->atEnd()) return std::nullopt;
    return request;
}

std::string writeAttestation(const Attestation& attestation, const EpochKey& key) {
    std::string out = signedAttestation(attestation);
    putMac(out, key);
    return out;
}

std::optional<ReadAttestation> readAttestation(std::string_view text) {
    ReadAttestation read{};
    auto fields = recordFields(text, kAttestationMarker, kVersionField, read.signedText, read.mac);
    Attestation& record = read.record;
    if (!fields || !readCredentials(*fields, record, kLineNames) || !readRequest(*fields, record.request) ||
        !fields->atEnd())
        return std::nullopt;
    return read;
}

Bytes32 firstKeyDigest(const EncryptedKey& key) {
    Bytes32 digest;
    crypto_generichash(digest.data(), digest.size(), key.data(), key.size(), nullptr, 0);
    return digest;
}

void putCarriedAttestation(std::string& out, const CarriedAttestation& carried) {
    putCredentials(out, carried.attestation, kCarriedNames);
    putText(out, "amac", toBase64(carried.mac));
}

bool readCarriedAttestation(FieldReader& fields, const AttestationRequest& request, CarriedAttestation& carried) {
    carried.attestation.request = request;
    return readCredentials(fields, carried.attestation, kCarriedNames) && fields.binary("amac", carried.mac);
}

std::string writeSealReport(const SealReport& report) {
    std::string out(kSealReportMarker);
    out += kVersionField;
    putNumber(out, "index", report.index);
    putText(out, "seal", toBase64(report.seal));
    if (report.checkpoint) out += " checkpoint=1";
    if (report.end) out += " end=1";
    return out;
}

std::optional<SealReport> readSealReport(std::string_view text) {
    auto fields = recordBody(text, kSealReportMarker, kVersionField);
    SealReport report;
    if (!fields || !fields->number("index", report.index) || !fields->binary("seal", report.seal) ||
        !fields->flag("checkpoint", report.checkpoint) || !fields->flag("end", report.end) || !fields->atEnd())
        return std::nullopt;
    return report;
}

bool attestationHolds(const CarriedAttestation& carried, const EpochKey& key) {
    return sameMac(macOf(key, signedAttestation(carried.attestation)), carried.mac);
}

} // namespace quorvel::seal
