#include "trail/epoch_record.h"

#include "trail/record_fields.h"

#include <sodium.h>

namespace quorvel::seal {

namespace {

constexpr std::string_view kVersionField = "v=1";

} // namespace

std::string writeEpochRecord(const EpochRecord& record, const EpochKey& key) {
    std::string out(kEpochMarker);
    out += kVersionField;
    putText(out, "hostid", toBase64(record.hostId));
    putNumber(out, "epoch", record.epoch);
    putNumber(out, "from", record.from);
    putText(out, "prev", toBase64(record.previous));
    putMac(out, key);
    return out;
}

std::optional<ReadEpochRecord> readEpochRecord(std::string_view text) {
    ReadEpochRecord read{};
    auto fields = recordFields(text, kEpochMarker, kVersionField, read.signedText, read.mac);
    EpochRecord& record = read.record;
    if (!fields || !fields->binary("hostid", record.hostId) || !fields->number("epoch", record.epoch) ||
        !fields->number("from", record.from) || record.from > record.epoch ||
        !fields->binary("prev", record.previous) || !fields->atEnd())
        return std::nullopt;
    return read;
}

Bytes32 recordDigest(std::string_view line) {
    Bytes32 digest;
    crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(line.data()), line.size(),
                       nullptr, 0);
    return digest;
}

} // namespace quorvel::seal
