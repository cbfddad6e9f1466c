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

void SealedLines::add(std::size_t session, const SealChain& chain) {
    for (std::size_t i = 0; i < chain.seals.size(); ++i) {
        const KeptSeal& kept = chain.seals[i];
        if (seals_.size() >= UINT32_MAX || kept.count >= UINT32_MAX) throw std::length_error("too many seals");
        seals_.push_back({session, &kept, kept.tagKey, slots_.size()});
        slots_.resize(slots_.size() + kept.count);
    }
}

void SealedLines::build() {
    std::size_t located = 0;
    for (const Seal& seal : seals_)
        located += seal.seal->locators.size();
    if (located >= UINT32_MAX) throw std::length_error("too many sealed lines");
    // About one line per bucket, 2^10 buckets at least and 2^24 (every
    // locator its own) at most.
    unsigned bits = 10;
    while (bits < 24 && (std::size_t{1} << bits) < located)
        ++bits;
    bucketShift_ = 24 - bits;
    bucketStart_.assign((std::size_t{1} << bits) + 1, 0);
    bucketSkip_.assign(std::size_t{1} << bits, 0);
    for (const Seal& seal : seals_)
        for (const seal::LineLocator& locator : seal.seal->locators)
            ++bucketStart_[(locatorValue(locator) >> bucketShift_) + 1];
    for (std::size_t b = 1; b < bucketStart_.size(); ++b)
        bucketStart_[b] += bucketStart_[b - 1];
    entries_.resize(located);
    std::vector<std::uint32_t> next(bucketStart_.begin(), bucketStart_.end() - 1);
    // Seals in the order added (each session's in index order), so that a
    // bucket lists identical lines in the order they were sealed.
    for (std::uint32_t id = 0; id < seals_.size(); ++id) {
        const KeptSeal& kept = *seals_[id].seal;
        if (kept.locators.empty() && kept.count != 0) version1_.push_back(id);
        for (std::uint32_t offset = 0; offset < kept.locators.size(); ++offset)
            entries_[next[locatorValue(kept.locators[offset]) >> bucketShift_]++] = {id, offset};
    }
}

bool SealedLines::tagFits(std::uint32_t seal, std::uint32_t offset, std::string_view message, std::uint32_t& taggedSeal,
                          seal::LineTag& tag, std::size_t& tried) const {
    if (seal != taggedSeal) {
        ++tried;
        tag = seal::tagOf(*seals_[seal].tagKey, message);
        taggedSeal = seal;
    }
    return tag == seals_[seal].seal->tags[offset];
}

SealedLines::Match SealedLines::match(std::string_view message, std::size_t maxCandidates) {
    const Match located = matchLocated(message, maxCandidates);
    if (located.outcome != Match::None || version1_.empty()) return located;
    return matchVersion1(message, maxCandidates);
}

SealedLines::Match SealedLines::matchLocated(std::string_view message, std::size_t maxCandidates) {
    if (entries_.empty()) return {};
    const std::uint32_t locator = locatorValue(seal::locatorOf(message));
    const std::size_t bucket = locator >> bucketShift_;
    const std::uint32_t begin = bucketStart_[bucket], end = bucketStart_[bucket + 1];
    std::uint32_t taggedSeal = UINT32_MAX;
    seal::LineTag tag{};
    std::size_t tried = 0;
    bool allFound = true;
    // A line not found yet; the entries at the bucket's start that are all
    // found are passed over for good.
    for (std::uint32_t i = begin + bucketSkip_[bucket]; i < end && tried <= maxCandidates; ++i) {
        const Entry entry = entries_[i];
        if (slot(entry.seal, entry.offset).found != 0) {
            if (allFound) ++bucketSkip_[bucket];
            continue;
        }
        allFound = false;
        if (locatorValue(seals_[entry.seal].seal->locators[entry.offset]) != locator) continue;
        if (tagFits(entry.seal, entry.offset, message, taggedSeal, tag, tried) && tried <= maxCandidates)
            return {Match::New, entry.seal, entry.offset};
    }
    // A copy of one found already.
    for (std::uint32_t i = begin; i < end && tried <= maxCandidates; ++i) {
        const Entry entry = entries_[i];
        if (slot(entry.seal, entry.offset).found == 0 ||
            locatorValue(seals_[entry.seal].seal->locators[entry.offset]) != locator)
            continue;
        if (tagFits(entry.seal, entry.offset, message, taggedSeal, tag, tried) && tried <= maxCandidates)
            return {Match::Again, entry.seal, entry.offset};
    }
    return {tried > maxCandidates ? Match::Unchecked : Match::None, 0, 0};
}

SealedLines::Match SealedLines::matchVersion1(std::string_view message, std::size_t maxCandidates) {
    std::vector<std::uint32_t> order(recentVersion1_);
    for (const std::uint32_t id : version1_) {
        if (order.size() >= maxCandidates) break;
        if (std::find(recentVersion1_.begin(), recentVersion1_.end(), id) == recentVersion1_.end()) order.push_back(id);
    }
    Match again{};
    for (const std::uint32_t id : order) {
        const seal::LineTag tag = seal::tagOf(*seals_[id].tagKey, message);
        const std::vector<seal::LineTag>& tags = seals_[id].seal->tags;
        for (std::uint32_t offset = 0; offset < tags.size(); ++offset) {
            if (tags[offset] != tag) continue;
            if (slot(id, offset).found == 0) {
                recentVersion1_.erase(std::remove(recentVersion1_.begin(), recentVersion1_.end(), id),
                                      recentVersion1_.end());
                recentVersion1_.insert(recentVersion1_.begin(), id);
                if (recentVersion1_.size() > kRecentVersion1) recentVersion1_.pop_back();
                return {Match::New, id, offset};
            }
            if (again.outcome == Match::None) again = {Match::Again, id, offset};
        }
    }
    if (again.outcome != Match::None) return again;
    return {order.size() < version1_.size() ? Match::Unchecked : Match::None, 0, 0};
}

} // namespace quorvel::trail
