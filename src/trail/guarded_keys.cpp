#include "trail/guarded_keys.h"

#include <sodium.h>

#include <new>

namespace quorvel::trail {

namespace {

// Keys per block: each block costs a few system calls (mapping, guard pages,
// locking), so one is made per 4,096 seals rather than per session.
constexpr std::size_t kBlockKeys = 4096;

template <class Key> Key* guardedArray(std::size_t count) {
    auto* keys = static_cast<Key*>(sodium_allocarray(count, sizeof(Key)));
    if (keys == nullptr) throw std::bad_alloc();
    return keys;
}

} // namespace

GuardedKeys::GuardedKeys() : chainKey_(guardedArray<seal::SealKey>(1)) {}

GuardedKeys::~GuardedKeys() {
    sodium_free(chainKey_);
    for (seal::TagKey* block : blocks_)
        sodium_free(block);
}

seal::TagKey& GuardedKeys::newTagKey() {
    if (blocks_.empty() || usedInLast_ == kBlockKeys) {
        blocks_.push_back(guardedArray<seal::TagKey>(kBlockKeys));
        usedInLast_ = 0;
    }
    return blocks_.back()[usedInLast_++];
}

} // namespace quorvel::trail
