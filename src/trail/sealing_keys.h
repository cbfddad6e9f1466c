// The sealing session's secrets in one block of libsodium's guarded memory:
// locked in memory, kept out of core dumps, behind guard pages, and wiped in
// a forked child where the kernel can (MADV_WIPEONFORK). Keys are derived
// into the block in place; nothing here returns a key by value.
#pragma once

#include "trail/seal_keys.h"

#include <cstddef>

namespace quorvel::seal {

class SealingKeys {
  public:
    SealingKeys();
    ~SealingKeys();
    SealingKeys(const SealingKeys&) = delete;
    SealingKeys& operator=(const SealingKeys&) = delete;

    // A random first key and its subkeys.
    void begin();
    // The next key in place of this one, and its subkeys; this one is erased.
    void advance();
    // Every key erased.
    void erase();
    // In a forked child: the parent's block (wiped, or erased here where the
    // kernel cannot wipe it) is left behind for a new one, which the child
    // frees as its own.
    void renewInChild();

    const SealKey& key() const { return block_->key; }
    const TagKey& tagKey() const { return block_->subkeys.tag; }
    const Bytes32& macKey() const { return block_->subkeys.mac; }

    // The pages the keys are on, for the checks of how they are kept.
    const void* pages() const;
    std::size_t pagesSize() const;

  private:
    struct Block {
        SealKey key;
        SealKey next;
        SealKeys subkeys;
    };
    static Block* allocate();

    Block* block_;
};

} // namespace quorvel::seal
