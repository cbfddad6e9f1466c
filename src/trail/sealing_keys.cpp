#include "trail/sealing_keys.h"

#include "trail/guarded_block.h"

#include <sodium.h>

#include <new>

namespace quorvel::seal {

SealingKeys::SealingKeys() : block_(allocate()) {}

SealingKeys::~SealingKeys() { sodium_free(block_); }

SealingKeys::Block* SealingKeys::allocate() { return new (allocateGuardedBlock(sizeof(Block))) Block{}; }

void SealingKeys::begin() {
    randomSealKey(block_->key);
    deriveSealKeys(block_->key, block_->subkeys);
}

void SealingKeys::advance() {
    deriveNextSealKey(block_->key, block_->next);
    sodium_memzero(&block_->key, sizeof block_->key);
    block_->key = block_->next;
    sodium_memzero(&block_->next, sizeof block_->next);
    deriveSealKeys(block_->key, block_->subkeys);
}

void SealingKeys::erase() { sodium_memzero(block_, sizeof(Block)); }

void SealingKeys::renewInChild() {
    erase();
    // Not freed: a wiped block has lost the canary that sodium_free checks.
    block_ = allocate();
}

const void* SealingKeys::pages() const { return reinterpret_cast<const void*>(pagesOf(block_, sizeof(Block)).start); }

std::size_t SealingKeys::pagesSize() const {
    const PageRange pages = pagesOf(block_, sizeof(Block));
    return pages.end - pages.start;
}

} // namespace quorvel::seal
