// What an attacker holds and makes, as the tests derive it: the key of a
// session's seal at the moment of a takeover, and an opening made again
// under a key of the forger's own.
#pragma once

#include "trail/host_epochs.h"
#include "trail/seal_keys.h"
#include "trail/seal_record.h"

#include <cstdint>
#include <optional>

namespace quorvel_test {

// The key of seal `index` of the session that `opening` (its seal 0) opens:
// its first key, opened with the auditor's `secret` key, moved on `index`
// times. Empty when the opening's key does not open.
inline std::optional<quorvel::seal::SealKey> takenSealKey(const quorvel::seal::SealRecord& opening,
                                                          const quorvel::seal::AuditorSecretKey& secret,
                                                          std::uint64_t index) {
    namespace seal = quorvel::seal;
    auto key = seal::decryptAsAuditor(opening.opening->key, seal::publicKeyOf(secret), secret);
    for (std::uint64_t i = 0; key && i < index; ++i)
        key = seal::nextSealKey(*key);
    return key;
}

// Makes `opening` (a seal 0) again under a first key of the forger's own,
// encrypted to `auditor`, and returns that key; with `epochKey`, its
// attestation signed anew for it, as whoever holds that epoch's key can.
inline quorvel::seal::SealKey forgeOpening(quorvel::seal::SealRecord& opening,
                                           const quorvel::seal::AuditorPublicKey& auditor,
                                           const quorvel::seal::EpochKey* epochKey = nullptr) {
    namespace seal = quorvel::seal;
    const seal::SealKey key = seal::randomSealKey();
    opening.opening->key = seal::encryptForAuditor(key, auditor);
    if (epochKey != nullptr) {
        seal::Attestation& attestation = opening.opening->attestation->attestation;
        attestation.request = {opening.session, seal::firstKeyDigest(opening.opening->key)};
        opening.opening->attestation->mac = seal::readAttestation(seal::writeAttestation(attestation, *epochKey))->mac;
    }
    return key;
}

} // namespace quorvel_test
