#include "trail/waiting_lines.h"

#include "trail/sealed_lines.h"

#include <algorithm>
#include <stdexcept>

namespace quorvel::trail {

void WaitingLines::add(LinePlace place, const TextSpan& line, const seal::LineLocator& locator) {
    if (lines_.size() >= UINT32_MAX) throw std::length_error("too many lines without a seal");
    byLocator_.emplace(locatorValue(locator), static_cast<std::uint32_t>(lines_.size()));
    lines_.push_back({place, line, locator});
}

std::vector<std::uint32_t> WaitingLines::withLocator(std::uint32_t locator) const {
    std::vector<std::uint32_t> found;
    const auto [begin, end] = byLocator_.equal_range(locator);
    for (auto at = begin; at != end; ++at)
        found.push_back(at->second);
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::uint32_t> WaitingLines::triable() const {
    std::vector<std::uint32_t> found;
    for (std::uint32_t w = 0; w < lines_.size(); ++w)
        if (!lines_[w].settled && lines_[w].tries < maxCandidates_) found.push_back(w);
    return found;
}

std::optional<seal::LineTag> WaitingLines::tagUnder(std::uint32_t w, const KeptSeal& kept) {
    Line& line = lines_[w];
    if (line.settled) return std::nullopt;
    if (line.tries >= maxCandidates_) {
        line.unchecked = true;
        return std::nullopt;
    }
    ++line.tries;
    std::string_view host;
    return seal::tagOf(*kept.tagKey, message(w, host));
}

void WaitingLines::settle(std::uint32_t w) {
    lines_[w].settled = true;
    const auto [begin, end] = byLocator_.equal_range(locatorValue(lines_[w].locator));
    for (auto at = begin; at != end; ++at)
        if (at->second == w) {
            byLocator_.erase(at);
            return;
        }
}

std::string_view WaitingLines::message(std::uint32_t w, std::string_view& host) {
    const CollectedLine line = readCollectedLine(files_.read(lines_[w].text), prefixes_, custom_);
    host = line.host;
    return line.message;
}

void WaitingLines::release(std::vector<LinePlace>& strays, std::vector<LinePlace>& unchecked) {
    for (const Line& line : lines_)
        if (!line.settled) (line.unchecked ? unchecked : strays).push_back(line.place);
    std::vector<Line>().swap(lines_);
    byLocator_.clear();
}

} // namespace quorvel::trail
