// One block of libsodium's guarded memory for a set of keys: locked in
// memory, kept out of core dumps, behind guard pages, and wiped in a forked
// child where the kernel can (MADV_WIPEONFORK).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel::seal {

// A zeroed block of `size` bytes; throws std::bad_alloc. Freed with
// sodium_free.
void* allocateGuardedBlock(std::size_t size);

// The whole pages that `size` bytes at `bytes` lie on.
struct PageRange {
    std::uintptr_t start;
    std::uintptr_t end;
};
PageRange pagesOf(const void* bytes, std::size_t size);

} // namespace quorvel::seal
