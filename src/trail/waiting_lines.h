// Event lines that no loaded seal held when they were read, waiting for one
// that does: kept as where they are in their files and found by their
// public locators, so that waiting costs a few bytes a line; a line is read
// again only when a seal comes whose lines share its locator. Each line is
// tried under at most as many seals as the candidate bound allows, and a
// seal that comes finds the lines of its locators in a list kept per
// locator, whose lines that can no longer be tried it drops on its way.
#pragma once

#include "trail/collected_line.h"
#include "trail/line_reader.h"
#include "trail/seal_chain.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel::trail {

class WaitingLines {
  public:
    WaitingLines(CollectedFiles& files, unsigned prefixes, const CustomPrefix* custom, std::size_t maxCandidates)
        : files_(files), prefixes_(prefixes), custom_(custom), maxCandidates_(maxCandidates) {}

    void add(LinePlace place, const TextSpan& line, const seal::LineLocator& locator);
    bool empty() const { return open_ == 0; } // none left to try

    // The unsettled lines whose locator is `locator`, in the order read.
    std::vector<std::uint32_t> withLocator(std::uint32_t locator);
    // The unsettled lines still within the candidate bound, in the order read.
    std::vector<std::uint32_t> triable() const;

    // Line `w`'s tag under `kept`'s key; nothing when it is settled or has
    // been tried under as many seals as the bound allows.
    std::optional<seal::LineTag> tagUnder(std::uint32_t w, const KeptSeal& kept);
    void settle(std::uint32_t w);

    // Line `w`'s message, read again (valid until the next read), and the
    // host its prefix names.
    std::string_view message(std::uint32_t w, std::string_view& host);
    LinePlace place(std::uint32_t w) const { return lines_[w].place; }
    const seal::LineLocator& locator(std::uint32_t w) const { return lines_[w].locator; }

    // After the last seal: the places of the lines still waiting, in the
    // order read, and of those among them that the bound stopped; the lines
    // are let go.
    void release(std::vector<LinePlace>& strays, std::vector<LinePlace>& unchecked);

  private:
    struct Line {
        LinePlace place;
        TextSpan text;
        seal::LineLocator locator;
        bool settled = false;
        bool unchecked = false; // the candidate bound stopped the search for its seal
        std::uint32_t tries = 0;
        std::uint32_t next = UINT32_MAX; // the next line read with its locator
    };
    struct Chain {
        std::uint32_t first = 0;
        std::uint32_t last = 0;
    };
    CollectedFiles& files_;
    const unsigned prefixes_;
    const CustomPrefix* const custom_;
    const std::size_t maxCandidates_;
    std::vector<Line> lines_;                            // in the order read
    std::unordered_map<std::uint32_t, Chain> byLocator_; // those that may be untried, by locator
    std::size_t open_ = 0;                               // neither settled nor stopped by the bound
};

} // namespace quorvel::trail
