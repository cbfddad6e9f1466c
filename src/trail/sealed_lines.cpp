#include "trail/sealed_lines.h"

#include <algorithm>
#include <stdexcept>

namespace quorvel::trail {

namespace {

constexpr std::size_t kRecentVersion1 = 8;

std::uint32_t locatorValue(const seal::LineLocator& locator) {
    return std::uint32_t{locator[0]} << 16 | std::uint32_t{locator[1]} << 8 | locator[2];
}

} // namespace

void SealedLines::add(std::size_t session, SealChain& chain) {
    for (KeptSeal& kept : chain.seals) {
        if (seals_.size() >= UINT32_MAX || kept.count >= UINT32_MAX) throw std::length_error("too many seals");
        seals_.push_back({session, &kept, 0});
    }
}

void SealedLines::build() {
    std::size_t located = 0, total = 0;
    for (const Seal& seal : seals_) {
        located += seal.seal->locators.size();
        total += seal.seal->count;
    }
    if (total >= UINT32_MAX) throw std::length_error("too many sealed lines");
    // Two to four lines per bucket (a bucket's lines lie side by side, so a
    // few cost no more than one), 2^10 buckets at least and 2^24 (every
    // locator its own) at most.
    unsigned bits = 10;
    while (bits < 24 && (std::size_t{4} << bits) < located)
        ++bits;
    bucketShift_ = 24 - bits;
    bucketStart_.assign((std::size_t{1} << bits) + 1, 0);
    bucketSkip_.assign(std::size_t{1} << bits, 0);
    for (const Seal& seal : seals_)
        for (const seal::LineLocator& locator : seal.seal->locators)
            ++bucketStart_[(locatorValue(locator) >> bucketShift_) + 1];
    for (std::size_t b = 1; b < bucketStart_.size(); ++b)
        bucketStart_[b] += bucketStart_[b - 1];
    lines_.resize(total);
    std::vector<std::uint32_t> next(bucketStart_.begin(), bucketStart_.end() - 1);
    auto unlocated = static_cast<std::uint32_t>(located);
    // Seals in the order added (each session's in index order), so that a
    // bucket lists identical lines in the order they were sealed.
    for (std::uint32_t id = 0; id < seals_.size(); ++id) {
        KeptSeal& kept = *seals_[id].seal;
        const bool hasLocators = !kept.locators.empty();
        if (!hasLocators && kept.count != 0) {
            version1_.push_back(id);
            seals_[id].firstLine = unlocated;
        }
        for (std::uint32_t offset = 0; offset < kept.count; ++offset) {
            const std::uint32_t at =
                hasLocators ? next[locatorValue(kept.locators[offset]) >> bucketShift_]++ : unlocated++;
            Line& line = lines_[at];
            line.seal = id;
            line.offset = offset;
            line.tag = kept.tags[offset];
            if (hasLocators) line.locator = kept.locators[offset];
        }
        std::vector<seal::LineTag>().swap(kept.tags);
        std::vector<seal::LineLocator>().swap(kept.locators);
    }
}

bool SealedLines::tagFits(const Line& line, std::string_view message, std::uint32_t& taggedSeal, seal::LineTag& tag,
                          std::size_t& tried) const {
    if (line.seal != taggedSeal) {
        ++tried;
        tag = seal::tagOf(*seals_[line.seal].seal->tagKey, message);
        taggedSeal = line.seal;
    }
    return tag == line.tag;
}

SealedLines::Match SealedLines::match(std::string_view message, std::size_t maxCandidates) {
    const Match located = matchLocated(message, maxCandidates);
    if (located.outcome != Match::None || version1_.empty()) return located;
    return matchVersion1(message, maxCandidates);
}

SealedLines::Match SealedLines::matchLocated(std::string_view message, std::size_t maxCandidates) {
    if (bucketStart_.empty()) return {};
    const seal::LineLocator locator = seal::locatorOf(message);
    const std::size_t bucket = locatorValue(locator) >> bucketShift_;
    const std::uint32_t begin = bucketStart_[bucket], end = bucketStart_[bucket + 1];
    std::uint32_t taggedSeal = UINT32_MAX;
    seal::LineTag tag{};
    std::size_t tried = 0;
    bool allFound = true;
    // A line not found yet; the lines at the bucket's start that are all
    // found are passed over for good.
    for (std::uint32_t i = begin + bucketSkip_[bucket]; i < end && tried <= maxCandidates; ++i) {
        const Line& line = lines_[i];
        if (line.found != 0) {
            if (allFound) ++bucketSkip_[bucket];
            continue;
        }
        allFound = false;
        if (line.locator == locator && tagFits(line, message, taggedSeal, tag, tried) && tried <= maxCandidates)
            return {Match::New, i};
    }
    // A copy of one found already.
    for (std::uint32_t i = begin; i < end && tried <= maxCandidates; ++i) {
        const Line& line = lines_[i];
        if (line.found != 0 && line.locator == locator && tagFits(line, message, taggedSeal, tag, tried) &&
            tried <= maxCandidates)
            return {Match::Again, i};
    }
    return {tried > maxCandidates ? Match::Unchecked : Match::None, 0};
}

SealedLines::Match SealedLines::matchVersion1(std::string_view message, std::size_t maxCandidates) {
    std::vector<std::uint32_t> order(recentVersion1_);
    for (const std::uint32_t id : version1_) {
        if (order.size() >= maxCandidates) break;
        if (std::find(recentVersion1_.begin(), recentVersion1_.end(), id) == recentVersion1_.end()) order.push_back(id);
    }
    Match again{};
    for (const std::uint32_t id : order) {
        const seal::LineTag tag = seal::tagOf(*seals_[id].seal->tagKey, message);
        const std::uint32_t first = seals_[id].firstLine;
        for (std::uint32_t i = first; i < first + seals_[id].seal->count; ++i) {
            if (lines_[i].tag != tag) continue;
            if (lines_[i].found == 0) {
                recentVersion1_.erase(std::remove(recentVersion1_.begin(), recentVersion1_.end(), id),
                                      recentVersion1_.end());
                recentVersion1_.insert(recentVersion1_.begin(), id);
                if (recentVersion1_.size() > kRecentVersion1) recentVersion1_.pop_back();
                return {Match::New, i};
            }
            if (again.outcome == Match::None) again = {Match::Again, i};
        }
    }
    if (again.outcome != Match::None) return again;
    return {order.size() < version1_.size() ? Match::Unchecked : Match::None, 0};
}

std::vector<SealedLines::SealFindings> SealedLines::findings() const {
    std::vector<SealFindings> findings(seals_.size());
    for (const Line& line : lines_) {
        SealFindings& seal = findings[line.seal];
        if (line.found != 0) {
            const LinePlace place = unpackPlace(line.place);
            seal.earliest = std::min(seal.earliest, place);
            seal.latest = std::max(seal.latest, place);
        } else if (!line.torn) {
            seal.unfound.push_back(line.offset);
        }
    }
    for (SealFindings& seal : findings)
        std::sort(seal.unfound.begin(), seal.unfound.end());
    return findings;
}

} // namespace quorvel::trail
