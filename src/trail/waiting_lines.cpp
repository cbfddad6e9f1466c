#include "trail/waiting_lines.h"

#include "trail/sealed_lines.h"

#include <stdexcept>

namespace quorvel::trail {

void WaitingLines::add(LinePlace place, const TextSpan& line, const seal::LineLocator& locator) {
    if (lines_.size() >= UINT32_MAX - 1) throw std::length_error("too many lines without a seal");
    const auto w = static_cast<std::uint32_t>(lines_.size());
    const auto [chain, added] = byLocator_.try_emplace(locatorValue(locator), Chain{w, w});
    if (!added) chain->second.last = lines_[chain->second.last].next = w;
    lines_.push_back({place, line, locator});
    ++open_;
}

std::vector<std::uint32_t> WaitingLines::withLocator(std::uint32_t locator) {
    std::vector<std::uint32_t> found;
    const auto chain = byLocator_.find(locator);
    if (chain == byLocator_.end()) return found;
    std::uint32_t* at = &chain->second.first;
    while (*at != UINT32_MAX) {
        Line& line = lines_[*at];
        if (line.settled || line.unchecked) {
            *at = line.next;
            continue;
        }
        found.push_back(*at);
        at = &line.next;
    }
    if (found.empty())
        byLocator_.erase(chain);
    else
        chain->second.last = found.back();
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
        open_ -= !line.unchecked;
        line.unchecked = true;
        return std::nullopt;
    }
    ++line.tries;
    std::string_view host;
    return seal::tagOf(*kept.tagKey, message(w, host));
}

// Its locator's list drops it when next walked.
void WaitingLines::settle(std::uint32_t w) {
    Line& line = lines_[w];
    open_ -= !line.settled && !line.unchecked;
    line.settled = true;
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
    open_ = 0;
}

} // namespace quorvel::trail
