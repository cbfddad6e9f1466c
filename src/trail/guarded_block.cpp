#include "trail/guarded_block.h"

#include <sodium.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <new>

namespace quorvel::seal {

void* allocateGuardedBlock(std::size_t size) {
    // sodium_malloc locks the pages and keeps them out of core dumps.
    void* memory = sodium_malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
    std::memset(memory, 0, size);
#ifdef MADV_WIPEONFORK
    // The block's pages are the allocation's own (guard pages on both sides).
    const PageRange pages = pagesOf(memory, size);
    madvise(reinterpret_cast<void*>(pages.start), pages.end - pages.start,
            MADV_WIPEONFORK); // older kernels: the owner erases by hand
#endif
    return memory;
}

PageRange pagesOf(const void* bytes, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<std::uintptr_t>(bytes);
    return {at & ~(page - 1), (at + size + page - 1) & ~(page - 1)};
}

} // namespace quorvel::seal
