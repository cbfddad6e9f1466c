#include "trail/sealed_lines.h"

#include <algorithm>
#include <stdexcept>

namespace quorvel::trail {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::size_t kFirstBuckets = std::size_t{1} << 10;
constexpr std::size_t kMostBuckets = std::size_t{1} << 24; // every locator its own

} // namespace

std::uint32_t SealedLines::add(std::size_t session, const KeptSeal& seal) {
    if (seals_.size() >= kNone || seal.count >= kNone) throw std::length_error("too many seals");
    Seal& added = seals_.emplace_back();
    added.session = session;
    added.seal = &seal;
    return static_cast<std::uint32_t>(seals_.size() - 1);
}

std::uint32_t SealedLines::newLine() {
    if (!free_.empty()) {
        const std::uint32_t slot = free_.back();
        free_.pop_back();
        return slot;
    }
    if (lines_.size() >= kNone) throw std::length_error("too many sealed lines");
    lines_.emplace_back();
    return static_cast<std::uint32_t>(lines_.size() - 1);
}

std::uint32_t& SealedLines::bucketOf(const seal::LineLocator& locator) {
    return heads_[locatorValue(locator) & (heads_.size() - 1)];
}

// Groups the seal's lines by locator, each group's first line put first in
// its bucket; its found lines whose tag is the first's are not listed.
void SealedLines::linkSeal(const Seal& seal) {
    scratch_.clear();
    for (std::uint32_t offset = 0; offset < seal.lines.size(); ++offset)
        scratch_.emplace_back(locatorValue(lines_[seal.lines[offset]].locator), offset);
    std::sort(scratch_.begin(), scratch_.end());
    std::uint32_t first = kNone, last = kNone;
    for (std::size_t i = 0; i < scratch_.size(); ++i) {
        const std::uint32_t slot = seal.lines[scratch_[i].second];
        Line& line = lines_[slot];
        line.listed = kNone;
        if (i == 0 || scratch_[i].first != scratch_[i - 1].first) {
            std::uint32_t& head = bucketOf(line.locator);
            line.next = head;
            head = first = last = slot;
        } else if (line.found == 0 || line.tag != lines_[first].tag) {
            lines_[last].listed = slot;
            last = slot;
        }
    }
}

// Takes the seal's groups out of their buckets.
void SealedLines::unlinkSeal(std::uint32_t id) {
    scratch_.clear();
    const auto mask = static_cast<std::uint32_t>(heads_.size() - 1);
    for (const std::uint32_t slot : seals_[id].lines)
        scratch_.emplace_back(locatorValue(lines_[slot].locator) & mask, 0);
    std::sort(scratch_.begin(), scratch_.end());
    scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    for (const auto& [bucket, unused] : scratch_) {
        std::uint32_t* at = &heads_[bucket];
        while (*at != kNone) {
            if (lines_[*at].seal == id)
                *at = lines_[*at].next;
            else
                at = &lines_[*at].next;
        }
    }
}

// The first line of the group that line `slot` is in.
std::uint32_t SealedLines::groupOf(std::uint32_t slot) {
    const Line& line = lines_[slot];
    for (std::uint32_t head = bucketOf(line.locator); head != kNone; head = lines_[head].next)
        if (lines_[head].seal == line.seal && lines_[head].locator == line.locator) return head;
    return kNone;
}

void SealedLines::markFound(std::uint32_t slot) {
    Line& line = lines_[slot];
    line.found = 1;
    const Seal& seal = seals_[line.seal];
    if (!seal.located || seal.state != Seal::Loaded) return;
    const std::uint32_t first = groupOf(slot);
    if (first == kNone || first == slot || lines_[first].tag != line.tag) return;
    for (std::uint32_t* at = &lines_[first].listed; *at != kNone; at = &lines_[*at].listed)
        if (*at == slot) {
            *at = line.listed;
            return;
        }
}

// Two lines per bucket at most, so that a lookup reads one or two: when
// there are more, twice the buckets, and every loaded seal linked again.
bool SealedLines::grow() {
    if (located_ <= 2 * heads_.size() || heads_.size() >= kMostBuckets) return false;
    heads_.assign(heads_.size() * 2, kNone);
    for (const Seal& seal : seals_)
        if (seal.state == Seal::Loaded && seal.located) linkSeal(seal);
    return true;
}

void SealedLines::load(std::uint32_t id, const seal::SealRecord& record, std::uint32_t ordinal) {
    Seal& seal = seals_[id];
    if (seal.state != Seal::Waiting || record.tags.size() != seal.seal->count) return;
    seal.state = Seal::Loaded;
    seal.lastOrdinal = ordinal;
    const bool located = !record.locators.empty();
    seal.located = located;
    seal.lines.reserve(record.tags.size());
    for (std::uint32_t offset = 0; offset < record.tags.size(); ++offset) {
        const std::uint32_t slot = newLine();
        Line& line = lines_[slot];
        line = Line{};
        line.seal = id;
        line.offset = offset;
        line.tag = record.tags[offset];
        if (located) line.locator = record.locators[offset];
        seal.lines.push_back(slot);
    }
    if (!located) {
        if (!seal.lines.empty()) version1_.push_back(id);
        return;
    }
    if (heads_.empty()) heads_.assign(kFirstBuckets, kNone);
    located_ += seal.lines.size();
    if (!grow()) linkSeal(seal);
}

void SealedLines::leave(std::uint32_t id) {
    Seal& seal = seals_[id];
    if (seal.state != Seal::Loaded) return;
    seal.state = Seal::Left;
    SealFindings& findings = seal.findings;
    const bool located = seal.located;
    if (located) unlinkSeal(id);
    for (const std::uint32_t slot : seal.lines) {
        const Line& line = lines_[slot];
        if (line.found != 0) {
            const LinePlace place = unpackPlace(line.place);
            findings.earliest = std::min(findings.earliest, place);
            findings.latest = std::max(findings.latest, place);
        } else {
            (line.torn ? findings.tornOnly : findings.unfound).push_back(line.offset);
        }
        free_.push_back(slot);
    }
    if (located) located_ -= seal.lines.size();
    version1_.erase(std::remove(version1_.begin(), version1_.end(), id), version1_.end());
    std::vector<std::uint32_t>().swap(seal.lines);
}

bool SealedLines::SealFindings::takeUnfound(std::uint32_t offset) {
    for (std::vector<std::uint32_t>* list : {&unfound, &tornOnly}) {
        const auto at = std::lower_bound(list->begin(), list->end(), offset);
        if (at != list->end() && *at == offset) {
            list->erase(at);
            return true;
        }
    }
    return false;
}

SealedLines::Match SealedLines::match(std::string_view message, const seal::LineLocator& locator,
                                      std::size_t maxCandidates) {
    Match best{}, again{};
    std::size_t tried = 0;
    const auto lower = [this](const Match& kept, std::uint32_t slot) {
        const Line& line = lines_[slot];
        const Line& other = lines_[kept.line];
        return kept.outcome == Match::None || line.seal < other.seal ||
               (line.seal == other.seal && line.offset < other.offset);
    };
    if (!heads_.empty()) {
        // First the groups with lines not found yet; then, for a copy, any.
        for (const bool copies : {false, true}) {
            for (std::uint32_t first = bucketOf(locator); first != kNone; first = lines_[first].next) {
                const Line& head = lines_[first];
                if (head.locator != locator) continue;
                // A group is counted once, where its tag is first made.
                const bool allFound = head.found != 0 && head.listed == kNone;
                if (!copies && allFound) continue;
                if ((copies == allFound) && ++tried > maxCandidates) return {Match::Unchecked, 0};
                const seal::LineTag tag = seal::tagOf(*seals_[head.seal].seal->tagKey, message);
                for (std::uint32_t slot = first; slot != kNone; slot = lines_[slot].listed) {
                    const Line& line = lines_[slot];
                    if (line.tag != tag || (line.found != 0) != copies) continue;
                    // Of identical lines, the lowest numbered: seals are
                    // numbered in their sessions' order.
                    Match& kept = copies ? again : best;
                    if (lower(kept, slot)) kept = {copies ? Match::Again : Match::New, slot};
                    break;
                }
            }
            if (best.outcome != Match::None) return best;
        }
    }
    if (again.outcome != Match::None || version1_.empty()) return again;
    return matchVersion1(message, maxCandidates);
}

SealedLines::Match SealedLines::matchVersion1(std::string_view message, std::size_t maxCandidates) {
    Match again{};
    const std::size_t tries = std::min(version1_.size(), maxCandidates);
    for (std::size_t n = 0; n < tries; ++n) {
        const std::uint32_t id = version1_[n];
        const seal::LineTag tag = seal::tagOf(*seals_[id].seal->tagKey, message);
        for (const std::uint32_t slot : seals_[id].lines) {
            if (lines_[slot].tag != tag) continue;
            if (lines_[slot].found == 0) {
                // The most recently matched first: a session's next lines
                // are most likely under the seal its last ones were.
                std::rotate(version1_.begin(), version1_.begin() + static_cast<std::ptrdiff_t>(n),
                            version1_.begin() + static_cast<std::ptrdiff_t>(n) + 1);
                return {Match::New, slot};
            }
            if (again.outcome == Match::None) again = {Match::Again, slot};
        }
    }
    if (again.outcome != Match::None) return again;
    return {tries < version1_.size() ? Match::Unchecked : Match::None, 0};
}

} // namespace quorvel::trail
