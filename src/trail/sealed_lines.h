// The lines the authentic seals vouch for, indexed by their public locators
// while their seals are loaded, and what became of them: a collected message
// is looked up with one hash and checked with the tags of the few loaded
// seals whose lines share its locator. A seal's lines are loaded shortly
// before the verifier reaches the place where they were logged and leave
// the index when they can no longer be resent, so that the index holds the
// open part of each session rather than the whole collection. A seal that
// leaves keeps only its findings: where its lines were found and which were
// not. Version 1 seals carry no locators: their loaded lines are tried seal
// by seal, the most recently matched first, up to the candidate bound.
#pragma once

#include "trail/seal_chain.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::trail {

// A place packed into one number, in the collection's order.
inline std::uint64_t packPlace(const LinePlace& place) { return std::uint64_t{place.file} << 40 | place.line; }
inline LinePlace unpackPlace(std::uint64_t packed) {
    return {static_cast<std::uint32_t>(packed >> 40), packed & ((std::uint64_t{1} << 40) - 1)};
}

inline std::uint32_t locatorValue(const seal::LineLocator& locator) {
    return std::uint32_t{locator[0]} << 16 | std::uint32_t{locator[1]} << 8 | locator[2];
}

class SealedLines {
  public:
    // What was found of one seal's lines, complete once it has left the index.
    struct SealFindings {
        LinePlace earliest{UINT32_MAX, UINT64_MAX}; // of its lines found; as given when none
        LinePlace latest{0, 0};
        std::vector<std::uint32_t> unfound;  // offsets, in order
        std::vector<std::uint32_t> tornOnly; // found only inside torn or altered lines: offsets, in order
        // Takes `offset` off the lines not found as a whole message; false
        // when it is not among them.
        bool takeUnfound(std::uint32_t offset);
    };
    struct Seal {
        std::size_t session = 0;
        const KeptSeal* seal = nullptr;
        enum State : unsigned char { Waiting, Loaded, Left } state = Waiting;
        bool located = false;             // its lines carry locators
        std::uint32_t lastOrdinal = 0;    // its session's order at its latest first finding, or at loading
        std::vector<std::uint32_t> lines; // while loaded: its lines' slots, by offset
        SealFindings findings;            // once left
    };
    // One sealed line and what became of it, in 40 bytes. A loaded seal's
    // lines that share a locator form a group: its first line stands in its
    // bucket for them all, and lists the others still worth trying, in
    // order: those not found yet, and those whose tag is not the first's (a
    // copy of a found line matches the first when their tags agree).
    struct Line {
        std::uint64_t place = 0; // where it was first found (packed)
        std::uint32_t seal = 0;
        std::uint32_t offset = 0;  // its number less the seal's first
        std::uint32_t ordinal = 0; // its place in its session's order of first findings
        std::uint32_t next = 0;    // a group's first line: the next group's first line in its bucket
        std::uint32_t listed = 0;  // the next line its group lists
        std::uint16_t found = 0;   // times found as a whole message, up to 65,535
        seal::LineTag tag{};
        seal::LineLocator locator{};
        bool torn = false; // found inside a torn or altered line
    };
    static_assert(sizeof(Line) == 40);
    struct Match {
        enum Outcome { None, New, Again, Unchecked } outcome = None;
        std::uint32_t line = 0;
    };

    // A seal of a chain, waiting to be loaded; its id.
    std::uint32_t add(std::size_t session, const KeptSeal& seal);
    // Indexes seal `id`'s lines, `record` being its seal as read again.
    void load(std::uint32_t id, const seal::SealRecord& record, std::uint32_t ordinal);
    // Takes seal `id`'s lines out of the index, keeping its findings.
    void leave(std::uint32_t id);

    // Where `message`, whose locator is `locator`, is sealed among the loaded
    // lines: a line not found yet (the lowest numbered when identical lines
    // share a locator), else one found already. Each message costs one tag
    // per group it is tried in, at most `maxCandidates`, and a walk of the
    // lines its groups list: found lines of a group whose tag is its first
    // line's are no longer listed, so identical lines cost no more as more
    // of them are found.
    Match match(std::string_view message, const seal::LineLocator& locator, std::size_t maxCandidates);
    // Line `slot` is found for the first time.
    void markFound(std::uint32_t slot);

    Line& line(std::uint32_t i) { return lines_[i]; }
    Seal& seal(std::uint32_t id) { return seals_[id]; }
    const Seal& seal(std::uint32_t id) const { return seals_[id]; }
    std::size_t sealCount() const { return seals_.size(); }

  private:
    std::uint32_t newLine();
    void linkSeal(const Seal& seal);
    void unlinkSeal(std::uint32_t id);
    std::uint32_t& bucketOf(const seal::LineLocator& locator);
    std::uint32_t groupOf(std::uint32_t slot);
    bool grow();
    Match matchVersion1(std::string_view message, std::size_t maxCandidates);

    std::vector<Seal> seals_;
    std::vector<Line> lines_;             // slots, some free
    std::vector<std::uint32_t> free_;     // free slots
    std::vector<std::uint32_t> heads_;    // per bucket, its first group's first line
    std::size_t located_ = 0;             // lines in buckets
    std::vector<std::uint32_t> version1_; // loaded seals without locators, most recently matched first
    std::vector<std::pair<std::uint32_t, std::uint32_t>> scratch_; // linkSeal's and unlinkSeal's: locators and more
};

} // namespace quorvel::trail
