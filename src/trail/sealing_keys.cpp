#include "trail/sealing_keys.h"

#include <sodium.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

namespace quorvel::seal {

namespace {

// The whole pages that `size` bytes at `bytes` lie on.
struct PageRange {
    std::uintptr_t start;
    std::uintptr_t end;
};
PageRange pagesOf(const void* bytes, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<std::uintptr_t>(bytes);
    return {at & ~(page - 1), (at + size + page - 1) & ~(page - 1)};
}

} // namespace

SealingKeys::SealingKeys() : block_(allocate()) {}

SealingKeys::~SealingKeys() { sodium_free(block_); }

SealingKeys::Block* SealingKeys::allocate() {
    // sodium_malloc locks the pages and keeps them out of core dumps.
    void* memory = sodium_malloc(sizeof(Block));
    if (memory == nullptr) throw std::bad_alloc();
    auto* block = new (memory) Block{};
#ifdef MADV_WIPEONFORK
    // The block's pages are the allocation's own (guard pages on both sides).
    const PageRange pages = pagesOf(memory, sizeof(Block));
    madvise(reinterpret_cast<void*>(pages.start), pages.end - pages.start,
            MADV_WIPEONFORK); // older kernels: erased by hand
#endif
    return block;
}

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
