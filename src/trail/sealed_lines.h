// The lines the authentic seals vouch for, indexed by their public locators
// while their seals are loaded, and what became of them: a collected message
// is looked up with one hash and checked with the tags of the few loaded
// seals whose lines share its locator, each seal's lines of that locator
// searched by tag rather than walked. A seal's lines are loaded shortly
// before the verifier reaches the place where they were logged and leave
// the index when they can no longer be resent, so that the index holds the
// open part of each session rather than the whole collection. A seal that
// leaves keeps only its findings: where its lines were found and which were
// not. Version 1 seals carry no locators: their loaded lines are tried seal
// by seal, the most recently matched first, up to the candidate bound.
#pragma once

#include "trail/line_runs.h"
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
        bool located = false;              // its lines carry locators
        std::uint32_t lastOrdinal = 0;     // its session's order at its latest first finding, or at loading
        std::vector<std::uint32_t> lines;  // while loaded: its lines' slots, by offset
        LineRuns runs;                     // while loaded: its lines by locator and tag
        std::vector<std::uint32_t> groups; // while loaded: its groups, in the order of `runs`
        SealFindings findings;             // once left
    };
    // One sealed line and what became of it, in 32 bytes.
    struct Line {
        std::uint64_t place = 0; // where it was first found (packed)
        std::uint32_t seal = 0;
        std::uint32_t offset = 0;  // its number less the seal's first
        std::uint32_t ordinal = 0; // its place in its session's order of first findings
        std::uint32_t group = 0;
        std::uint16_t found = 0; // times found as a whole message, up to 65,535
        bool torn = false;       // found inside a torn or altered line
    };
    static_assert(sizeof(Line) == 32);
    // A loaded seal's lines that share a locator (all of a version 1 seal's):
    // a range of its runs, standing in its bucket for them all.
    struct Group {
        std::uint32_t seal = 0;
        std::uint32_t locator = 0;
        std::uint32_t next = 0;    // the next group in its bucket
        std::uint32_t unfound = 0; // its lines not found yet
        LineRuns::Range range;
    };
    struct Match {
        enum Outcome { None, New, Again, Unchecked } outcome = None;
        std::uint32_t line = 0;
    };
    // A group's lines with one tag: the lowest numbered not found yet, and
    // the lowest numbered found; kNoLine where there is none.
    static constexpr std::uint32_t kNoLine = UINT32_MAX;
    struct Found {
        std::uint32_t unfound = kNoLine;
        std::uint32_t found = kNoLine;
    };

    // A seal of a chain, waiting to be loaded; its id.
    std::uint32_t add(std::size_t session, const KeptSeal& seal);
    // Indexes seal `id`'s lines, `record` being its seal as read again;
    // false, and nothing loaded, when it was loaded before or `record` holds
    // another number of lines than the seal did when it was added.
    bool load(std::uint32_t id, const seal::SealRecord& record, std::uint32_t ordinal);
    // Takes seal `id`'s lines out of the index, keeping its findings.
    void leave(std::uint32_t id);

    // Where `message`, whose locator is `locator`, is sealed among the loaded
    // lines: a line not found yet (of identical lines, that of the lowest
    // numbered seal, and in it the lowest numbered), else one found already.
    // Each message costs one tag and one binary search per group it is
    // tried in, at most `maxCandidates`, whatever the seals hold.
    Match match(std::string_view message, const seal::LineLocator& locator, std::size_t maxCandidates);
    // The lines of group `group` whose tag is `tag`, by binary search.
    Found find(std::uint32_t group, const seal::LineTag& tag) const;
    // Line `slot` is found for the first time; it is its run's lowest
    // numbered line not found yet.
    void markFound(std::uint32_t slot);

    Line& line(std::uint32_t i) { return lines_[i]; }
    const Group& group(std::uint32_t id) const { return groups_[id]; }
    Seal& seal(std::uint32_t id) { return seals_[id]; }
    const Seal& seal(std::uint32_t id) const { return seals_[id]; }
    std::size_t sealCount() const { return seals_.size(); }

  private:
    void addGroups(std::uint32_t id);
    void linkSeal(const Seal& seal);
    void unlinkSeal(std::uint32_t id);
    std::uint32_t& bucketOf(std::uint32_t locator);
    bool grow();
    // Keeps `slot` in `kept` when it is a line and numbered lower.
    void keepLowest(Match& kept, Match::Outcome outcome, std::uint32_t slot) const;
    Match matchVersion1(std::string_view message, std::size_t maxCandidates);

    std::vector<Seal> seals_;
    std::vector<Line> lines_;               // slots, some free
    std::vector<std::uint32_t> free_;       // free slots of lines_
    std::vector<Group> groups_;             // slots, some free
    std::vector<std::uint32_t> freeGroups_; // free slots of groups_
    std::vector<std::uint32_t> heads_;      // per bucket, its first group
    std::size_t located_ = 0;               // lines in buckets
    std::vector<std::uint32_t> version1_;   // loaded seals without locators, most recently matched first
    std::vector<std::uint32_t> scratch_;    // unlinkSeal's: buckets
};

} // namespace quorvel::trail
