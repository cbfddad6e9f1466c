// A seal's lines ordered by locator, tag and number, so that the lines that
// share a locator (a group) and, among them, those that share a tag (a run)
// are found by binary search rather than by a walk: finding a message among
// a seal's lines costs the logarithm of the seal's size, whatever the lines
// hold. Identical lines form one run, lowest numbered first.
#pragma once

#include "trail/seal_record.h"

#include <cstdint>
#include <vector>

namespace quorvel::trail {

inline std::uint32_t locatorValue(const seal::LineLocator& locator) {
    return std::uint32_t{locator[0]} << 16 | std::uint32_t{locator[1]} << 8 | locator[2];
}

class LineRuns {
  public:
    struct Entry {
        std::uint64_t tag = 0;     // as a number, so that comparing it is one step
        std::uint32_t locator = 0; // as a number; 0 for every line of a seal without locators
        std::uint32_t offset = 0;  // its number less the seal's first
    };
    struct Range {
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
        bool empty() const { return begin == end; }
    };

    LineRuns() = default;
    // Of `record`'s lines; a seal without locators is one group.
    explicit LineRuns(const seal::SealRecord& record);

    // The groups, in the order of their locators.
    std::vector<Range> groups() const;
    // The run of `group` whose lines' tag is `tag`; empty when none has it.
    Range run(const Range& group, const seal::LineTag& tag) const;
    const Entry& operator[](std::uint32_t i) const { return entries_[i]; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(entries_.size()); }

  private:
    std::vector<Entry> entries_;
};

} // namespace quorvel::trail
