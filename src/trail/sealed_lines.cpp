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

void SealedLines::link(std::uint32_t slot) {
    std::uint32_t& head = heads_[locatorValue(lines_[slot].locator) & (heads_.size() - 1)];
    lines_[slot].next = head;
    head = slot;
}

void SealedLines::unlink(std::uint32_t slot) {
    std::uint32_t* at = &heads_[locatorValue(lines_[slot].locator) & (heads_.size() - 1)];
    while (*at != slot)
        at = &lines_[*at].next;
    *at = lines_[slot].next;
}

// Two lines per bucket at most, so that a lookup reads one or two.
void SealedLines::grow() {
    if (located_ <= 2 * heads_.size() || heads_.size() >= kMostBuckets) return;
    heads_.assign(heads_.size() * 2, kNone);
    for (const Seal& seal : seals_)
        if (seal.state == Seal::Loaded && seal.located)
            for (const std::uint32_t slot : seal.lines)
                link(slot);
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
    for (const std::uint32_t slot : seal.lines)
        link(slot);
    located_ += seal.lines.size();
    grow();
}

void SealedLines::leave(std::uint32_t id) {
    Seal& seal = seals_[id];
    if (seal.state != Seal::Loaded) return;
    seal.state = Seal::Left;
    SealFindings& findings = seal.findings;
    const bool located = seal.located;
    for (const std::uint32_t slot : seal.lines) {
        const Line& line = lines_[slot];
        if (line.found != 0) {
            const LinePlace place = unpackPlace(line.place);
            findings.earliest = std::min(findings.earliest, place);
            findings.latest = std::max(findings.latest, place);
        } else {
            (line.torn ? findings.tornOnly : findings.unfound).push_back(line.offset);
        }
        if (located) unlink(slot);
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
    if (!heads_.empty()) {
        std::uint32_t taggedSeal = kNone;
        seal::LineTag tag{};
        for (std::uint32_t i = heads_[locatorValue(locator) & (heads_.size() - 1)]; i != kNone; i = lines_[i].next) {
            const Line& line = lines_[i];
            if (line.locator != locator) continue;
            if (line.seal != taggedSeal) {
                if (++tried > maxCandidates) return {Match::Unchecked, 0};
                tag = seal::tagOf(*seals_[line.seal].seal->tagKey, message);
                taggedSeal = line.seal;
            }
            if (tag != line.tag) continue;
            Match& kept = line.found == 0 ? best : again;
            // Of identical lines, the lowest numbered: seals are numbered in
            // their sessions' order.
            if (kept.outcome == Match::None || line.seal < lines_[kept.line].seal ||
                (line.seal == lines_[kept.line].seal && line.offset < lines_[kept.line].offset))
                kept = {line.found == 0 ? Match::New : Match::Again, i};
        }
    }
    if (best.outcome != Match::None) return best;
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
