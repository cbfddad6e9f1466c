// A host's keys, one per epoch of its agent (a minute by default), that
// evolve one way: a key yields the keys of later epochs only. Epochs come in
// periods of kEpochsPerPeriod; a period's first key is derived from the
// period's root, and each root from the root before it. Whoever holds the
// host's seed (the auditor, who received it encrypted) reaches any epoch in
// at most (epoch / kEpochsPerPeriod + kEpochsPerPeriod) derivations; the host
// keeps only the current epoch's key and the next period's root, neither of
// which yields a key of an epoch before the current one.
#pragma once

#include "trail/seal_keys.h"

#include <cstddef>
#include <cstdint>

namespace quorvel::seal {

inline constexpr std::uint64_t kEpochsPerPeriod = 1024;

using HostSeed = Bytes32;
using EpochKey = Bytes32;
using PeriodRoot = Bytes32;

// The key of `epoch`, from the seed, in place (for the verifier).
void epochKeyFromSeed(const HostSeed& seed, std::uint64_t epoch, EpochKey& key);

// What the host holds at one epoch, in one block of libsodium's guarded
// memory (locked, kept out of core dumps).
class HostEpochKeys {
  public:
    HostEpochKeys();
    ~HostEpochKeys();
    HostEpochKeys(const HostEpochKeys&) = delete;
    HostEpochKeys& operator=(const HostEpochKeys&) = delete;

    // Epoch 0's key and the next root, from `seed` (which the caller erases).
    void begin(const HostSeed& seed);
    // What a saved state held: 32 bytes of key and 32 of root, read from
    // where they lie (guarded memory too) without a copy in between.
    void restore(std::uint64_t epoch, const unsigned char* key, const unsigned char* nextRoot);
    // Moves on to `epoch`, which is not before the current one; every key of
    // an epoch before it is erased.
    void advanceTo(std::uint64_t epoch);

    std::uint64_t epoch() const { return block_->epoch; }
    const EpochKey& key() const { return block_->key; }
    const PeriodRoot& nextRoot() const { return block_->nextRoot; }

    // The pages the keys are on, for the checks of how they are kept.
    const void* pages() const;
    std::size_t pagesSize() const;

  private:
    struct Block {
        std::uint64_t epoch;
        EpochKey key;
        PeriodRoot nextRoot;
        Bytes32 spare; // where a key is derived before it replaces one
    };
    Block* block_;
};

} // namespace quorvel::seal
