#include "trail/host_epochs.h"

#include "trail/guarded_block.h"

#include <sodium.h>

#include <cstring>
#include <new>
#include <stdexcept>

namespace quorvel::seal {

namespace {

// Each derivation has its own number under one context.
constexpr char kDerivationContext[crypto_kdf_CONTEXTBYTES + 1] = "qvhost-1";
enum : std::uint64_t { kFirstRootNumber = 1, kNextRootNumber = 2, kPeriodKeyNumber = 3, kNextEpochNumber = 4 };

void derive(Bytes32& out, std::uint64_t number, const Bytes32& from) {
    crypto_kdf_derive_from_key(out.data(), out.size(), number, kDerivationContext, from.data());
}

// `from` becomes its derivation numbered `number`, through `spare`.
void deriveInPlace(Bytes32& from, std::uint64_t number, Bytes32& spare) {
    derive(spare, number, from);
    from = spare;
    sodium_memzero(spare.data(), spare.size());
}

} // namespace

void epochKeyFromSeed(const HostSeed& seed, std::uint64_t epoch, EpochKey& key) {
    PeriodRoot root;
    Bytes32 spare;
    derive(root, kFirstRootNumber, seed);
    for (std::uint64_t period = 0; period < epoch / kEpochsPerPeriod; ++period)
        deriveInPlace(root, kNextRootNumber, spare);
    derive(key, kPeriodKeyNumber, root);
    for (std::uint64_t step = 0; step < epoch % kEpochsPerPeriod; ++step)
        deriveInPlace(key, kNextEpochNumber, spare);
    sodium_memzero(root.data(), root.size());
}

HostEpochKeys::HostEpochKeys() : block_(new (allocateGuardedBlock(sizeof(Block))) Block{}) {}

HostEpochKeys::~HostEpochKeys() { sodium_free(block_); }

void HostEpochKeys::begin(const HostSeed& seed) {
    block_->epoch = 0;
    derive(block_->nextRoot, kFirstRootNumber, seed);
    derive(block_->key, kPeriodKeyNumber, block_->nextRoot);
    deriveInPlace(block_->nextRoot, kNextRootNumber, block_->spare);
}

void HostEpochKeys::restore(std::uint64_t epoch, const unsigned char* key, const unsigned char* nextRoot) {
    block_->epoch = epoch;
    std::memcpy(block_->key.data(), key, block_->key.size());
    std::memcpy(block_->nextRoot.data(), nextRoot, block_->nextRoot.size());
}

void HostEpochKeys::advanceTo(std::uint64_t epoch) {
    if (epoch < block_->epoch) throw std::invalid_argument("an epoch before the current one");
    // Whole periods first: each takes the next root's first key.
    while (epoch / kEpochsPerPeriod > block_->epoch / kEpochsPerPeriod) {
        derive(block_->key, kPeriodKeyNumber, block_->nextRoot);
        deriveInPlace(block_->nextRoot, kNextRootNumber, block_->spare);
        block_->epoch = (block_->epoch / kEpochsPerPeriod + 1) * kEpochsPerPeriod;
    }
    for (; block_->epoch < epoch; ++block_->epoch)
        deriveInPlace(block_->key, kNextEpochNumber, block_->spare);
}

const void* HostEpochKeys::pages() const { return reinterpret_cast<const void*>(pagesOf(block_, sizeof(Block)).start); }

std::size_t HostEpochKeys::pagesSize() const {
    const PageRange pages = pagesOf(block_, sizeof(Block));
    return pages.end - pages.start;
}

} // namespace quorvel::seal
