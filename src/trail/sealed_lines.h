// Every line the authentic seals vouch for, indexed by its public locator,
// and what became of it: a collected message is looked up with one hash and
// checked with the tags of the few seals whose lines share its locator.
// Version 1 seals carry no locators: their lines are tried seal by seal,
// the most recently matched first, up to the candidate bound.
#pragma once

#include "trail/seal_chain.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvel::trail {

// A place packed into one number, in the collection's order.
inline std::uint64_t packPlace(const LinePlace& place) { return std::uint64_t{place.file} << 40 | place.line; }
inline LinePlace unpackPlace(std::uint64_t packed) {
    return {static_cast<std::uint32_t>(packed >> 40), packed & ((std::uint64_t{1} << 40) - 1)};
}

class SealedLines {
  public:
    struct Seal {
        std::size_t session = 0;
        const KeptSeal* seal = nullptr;
        const seal::TagKey* tagKey = nullptr;
        std::uint64_t base = 0; // its first line's slot
    };
    // What became of one sealed line.
    struct Slot {
        std::uint32_t found = 0;   // times found as a whole message
        bool torn = false;         // found inside a torn or altered line
        std::uint32_t ordinal = 0; // its place in its session's order of first findings
        std::uint64_t place = 0;   // where it was first found (packed)
    };
    struct Match {
        enum Outcome { None, New, Again, Unchecked } outcome = None;
        std::uint32_t seal = 0;
        std::uint32_t offset = 0;
    };

    // Adds a chain's seals, then build() indexes them all.
    void add(std::size_t session, const SealChain& chain);
    void build();

    // Where `message` is sealed: a line not found yet (the lowest such one
    // when identical lines share a locator), else one found already.
    Match match(std::string_view message, std::size_t maxCandidates);

    const Seal& seal(std::uint32_t id) const { return seals_[id]; }
    std::size_t sealCount() const { return seals_.size(); }
    Slot& slot(std::uint32_t seal, std::uint32_t offset) { return slots_[seals_[seal].base + offset]; }
    const Slot& slot(std::uint32_t seal, std::uint32_t offset) const { return slots_[seals_[seal].base + offset]; }

  private:
    struct Entry {
        std::uint32_t seal;
        std::uint32_t offset;
    };
    Match matchLocated(std::string_view message, std::size_t maxCandidates);
    Match matchVersion1(std::string_view message, std::size_t maxCandidates);
    bool tagFits(std::uint32_t seal, std::uint32_t offset, std::string_view message, std::uint32_t& taggedSeal,
                 seal::LineTag& tag, std::size_t& tried) const;

    std::vector<Seal> seals_;
    std::vector<Slot> slots_;
    unsigned bucketShift_ = 24;
    std::vector<std::uint32_t> bucketStart_; // buckets + 1
    std::vector<std::uint32_t> bucketSkip_;  // entries at a bucket's start all found
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> version1_;       // seals without locators
    std::vector<std::uint32_t> recentVersion1_; // most recently matched first
};

} // namespace quorvel::trail
