#include "trail/line_runs.h"

#include <algorithm>
#include <tuple>

namespace quorvel::trail {

namespace {

bool before(const LineRuns::Entry& a, const LineRuns::Entry& b) {
    return std::tie(a.locator, a.tag, a.offset) < std::tie(b.locator, b.tag, b.offset);
}

std::uint64_t valueOf(const seal::LineTag& tag) {
    std::uint64_t value = 0;
    for (const unsigned char byte : tag)
        value = value << 8 | byte;
    return value;
}

struct ByTag {
    bool operator()(const LineRuns::Entry& entry, std::uint64_t tag) const { return entry.tag < tag; }
    bool operator()(std::uint64_t tag, const LineRuns::Entry& entry) const { return tag < entry.tag; }
};

} // namespace

LineRuns::LineRuns(const seal::SealRecord& record) {
    const bool located = !record.locators.empty();
    entries_.reserve(record.tags.size());
    for (std::uint32_t offset = 0; offset < record.tags.size(); ++offset)
        entries_.push_back({valueOf(record.tags[offset]), located ? locatorValue(record.locators[offset]) : 0, offset});
    std::sort(entries_.begin(), entries_.end(), before);
}

std::vector<LineRuns::Range> LineRuns::groups() const {
    std::vector<Range> found;
    for (std::uint32_t i = 0; i < entries_.size(); ++i)
        if (i == 0 || entries_[i].locator != entries_[i - 1].locator)
            found.push_back({i, i + 1});
        else
            found.back().end = i + 1;
    return found;
}

LineRuns::Range LineRuns::run(const Range& group, const seal::LineTag& tag) const {
    const auto begin = entries_.begin() + group.begin;
    const auto end = entries_.begin() + group.end;
    const auto [first, last] = std::equal_range(begin, end, valueOf(tag), ByTag{});
    return {static_cast<std::uint32_t>(first - entries_.begin()), static_cast<std::uint32_t>(last - entries_.begin())};
}

} // namespace quorvel::trail
