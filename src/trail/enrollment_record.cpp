#include "trail/enrollment_record.h"

#include "trail/record_fields.h"

#include <sodium.h>

namespace quorvel::seal {

namespace {

constexpr std::string_view kVersionField = "v=1";

} // namespace

std::string writeEnrollment(const Enrollment& enrollment, const EpochKey& epochZeroKey) {
    std::string out(kEnrollmentMarker);
    out += kVersionField;
    putText(out, "hostid", toBase64(enrollment.hostId));
    putBase64Text(out, "host", enrollment.host);
    putNumber(out, "time", enrollment.time);
    putNumber(out, "epoch", enrollment.epochMillis);
    putText(out, "seed", toBase64(enrollment.seed));
    putMac(out, epochZeroKey);
    return out;
}

std::optional<ReadEnrollment> readEnrollment(std::string_view text) {
    ReadEnrollment read{};
    auto fields = recordFields(text, kEnrollmentMarker, kVersionField, read.signedText, read.mac);
    Enrollment& record = read.record;
    if (!fields || !fields->binary("hostid", record.hostId) || !fields->text("host", record.host) ||
        !fields->number("time", record.time) || !fields->number("epoch", record.epochMillis) ||
        record.epochMillis == 0 || !fields->binary("seed", record.seed) || !fields->atEnd())
        return std::nullopt;
    return read;
}

bool openEnrollment(const ReadEnrollment& enrollment, const AuditorPublicKey& publicKey,
                    const AuditorSecretKey& secretKey, HostSeed& seed) {
    const EncryptedKey& encrypted = enrollment.record.seed;
    if (crypto_box_seal_open(seed.data(), encrypted.data(), encrypted.size(), publicKey.data(), secretKey.data()) != 0)
        return false;
    EpochKey epochZero;
    epochKeyFromSeed(seed, 0, epochZero);
    const bool holds = sameMac(macOf(epochZero, enrollment.signedText), enrollment.mac);
    sodium_memzero(epochZero.data(), epochZero.size());
    if (!holds) sodium_memzero(seed.data(), seed.size());
    return holds;
}

std::string fingerprintOf(std::string_view record) {
    unsigned char hash[32];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(record.data()), record.size(), nullptr,
                       0);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i > 0 && i % 2 == 0) text += '-';
        text += kDigits[hash[i] >> 4];
        text += kDigits[hash[i] & 15];
    }
    return text;
}

} // namespace quorvel::seal
