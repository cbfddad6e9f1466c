// Every line the authentic seals vouch for, indexed by its public locator,
// and what became of it: a collected message is looked up with one hash and
// checked with the tags of the few seals whose lines share its locator. Each
// sealed line's locator, tag and state sit together, so that a candidate
// costs one memory access. Version 1 seals carry no locators: their lines
// are tried seal by seal, the most recently matched first, up to the
// candidate bound.
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
        KeptSeal* seal = nullptr;
        std::uint32_t firstLine = 0; // version 1: where its lines start among the lines
    };
    // One sealed line and what became of it, in 32 bytes.
    struct Line {
        std::uint64_t place = 0; // where it was first found (packed)
        std::uint32_t seal = 0;
        std::uint32_t offset = 0;  // its number less the seal's first
        std::uint32_t ordinal = 0; // its place in its session's order of first findings
        std::uint16_t found = 0;   // times found as a whole message, up to 65,535
        seal::LineTag tag{};
        seal::LineLocator locator{};
        bool torn = false; // found inside a torn or altered line
    };
    static_assert(sizeof(Line) == 32);
    struct Match {
        enum Outcome { None, New, Again, Unchecked } outcome = None;
        std::uint32_t line = 0;
    };
    // What was found of one seal's lines.
    struct SealFindings {
        LinePlace earliest{UINT32_MAX, UINT64_MAX}; // of its lines found; as given when none
        LinePlace latest{0, 0};
        std::vector<std::uint32_t> unfound; // offsets, in order
    };

    // Adds the chains' seals, then build() indexes them all; the seals' tags
    // and locators are moved into the index.
    void add(std::size_t session, SealChain& chain);
    void build();

    // Where `message` is sealed: a line not found yet (the lowest such one
    // when identical lines share a locator), else one found already.
    Match match(std::string_view message, std::size_t maxCandidates);

    Line& line(std::uint32_t i) { return lines_[i]; }
    const Seal& seal(std::uint32_t id) const { return seals_[id]; }
    std::size_t sealCount() const { return seals_.size(); }
    // Per seal id, after the lines were looked up.
    std::vector<SealFindings> findings() const;

  private:
    Match matchLocated(std::string_view message, std::size_t maxCandidates);
    Match matchVersion1(std::string_view message, std::size_t maxCandidates);
    bool tagFits(const Line& line, std::string_view message, std::uint32_t& taggedSeal, seal::LineTag& tag,
                 std::size_t& tried) const;

    std::vector<Seal> seals_;
    std::vector<Line> lines_; // located ones by bucket, then version 1 ones by seal
    unsigned bucketShift_ = 24;
    std::vector<std::uint32_t> bucketStart_;    // buckets + 1
    std::vector<std::uint32_t> bucketSkip_;     // lines at a bucket's start all found
    std::vector<std::uint32_t> version1_;       // seals without locators
    std::vector<std::uint32_t> recentVersion1_; // most recently matched first
};

} // namespace quorvel::trail
