// The verifier's secrets in libsodium's guarded memory (locked where the
// system allows, behind guard pages, wiped when freed): the tag key of every
// authentic seal, handed out one by one from large blocks, and the one chain
// key a session's seals are walked with.
#pragma once

#include "trail/seal_keys.h"

#include <vector>

namespace quorvel::trail {

class GuardedKeys {
  public:
    GuardedKeys();
    ~GuardedKeys();
    GuardedKeys(const GuardedKeys&) = delete;
    GuardedKeys& operator=(const GuardedKeys&) = delete;

    // A new tag key's place; it stays where it is until the keys are freed.
    seal::TagKey& newTagKey();
    // The key a chain of seals is walked with; the caller erases it after.
    seal::SealKey& chainKey() { return *chainKey_; }

  private:
    seal::SealKey* chainKey_;
    std::vector<seal::TagKey*> blocks_;
    std::size_t usedInLast_ = 0;
};

} // namespace quorvel::trail
