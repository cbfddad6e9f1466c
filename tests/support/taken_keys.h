// What whoever takes a sealing host over holds, as the tests derive it with
// the auditor's secret key: the key of a session's seal at the moment of the
// takeover.
#pragma once

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

} // namespace quorvel_test
