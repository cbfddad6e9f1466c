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
    std::string out(kAttestationMarker);
    out += kVersionField;
    putText(out, "hostid", toBase64(attestation.hostId));
    putNumber(out, "epoch", attestation.epoch);
    putNumber(out, "number", attestation.number);
    putNumber(out, "uid", attestation.uid);
    putNumber(out, "gid", attestation.gid);
    putNumber(out, "pid", attestation.pid);
    putBase64Text(out, "exe", attestation.exe);
    putBase64Text(out, "unit", attestation.unit);
    putRequest(out, attestation.request);
    putMac(out, key);
    return out;
}

std::optional<ReadAttestation> readAttestation(std::string_view text) {
    ReadAttestation read{};
    auto fields = recordFields(text, kAttestationMarker, kVersionField, read.signedText, read.mac);
    Attestation& record = read.record;
    if (!fields || !fields->binary("hostid", record.hostId) || !fields->number("epoch", record.epoch) ||
        !fields->number("number", record.number) || !fields->number("uid", record.uid) ||
        !fields->number("gid", record.gid) || !fields->number("pid", record.pid) || !fields->text("exe", record.exe) ||
        !fields->text("unit", record.unit) || !readRequest(*fields, record.request) || !fields->atEnd())
        return std::nullopt;
    return read;
}

Bytes32 firstKeyDigest(const EncryptedKey& key) {
    Bytes32 digest;
    crypto_generichash(digest.data(), digest.size(), key.data(), key.size(), nullptr, 0);
    return digest;
}

} // namespace quorvel::seal
