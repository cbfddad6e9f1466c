#include "trail/sealed_lines.h"

#include <algorithm>
#include <stdexcept>

namespace quorvel::trail {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::size_t kFirstBuckets = std::size_t{1} << 10;
constexpr std::size_t kMostBuckets = std::size_t{1} << 24; // every locator its own

// A free slot of `slots`, or a new one.
template <class Slot> std::uint32_t takeSlot(std::vector<Slot>& slots, std::vector<std::uint32_t>& free) {
    if (!free.empty()) {
        const std::uint32_t slot = free.back();
        free.pop_back();
        return slot;
    }
    if (slots.size() >= kNone) throw std::length_error("too many sealed lines");
    slots.emplace_back();
    return static_cast<std::uint32_t>(slots.size() - 1);
}

} // namespace

std::uint32_t SealedLines::add(std::size_t session, const KeptSeal& seal) {
    if (seals_.size() >= kNone || seal.count >= kNone) throw std::length_error("too many seals");
    Seal& added = seals_.emplace_back();
    added.session = session;
    added.seal = &seal;
    return static_cast<std::uint32_t>(seals_.size() - 1);
}

std::uint32_t& SealedLines::bucketOf(std::uint32_t locator) { return heads_[locator & (heads_.size() - 1)]; }

// Each group of the seal put first in its bucket.
void SealedLines::linkSeal(const Seal& seal) {
    for (const std::uint32_t id : seal.groups) {
        Group& group = groups_[id];
        std::uint32_t& head = bucketOf(group.locator);
        group.next = head;
        head = id;
    }
}

// Takes the seal's groups out of their buckets.
void SealedLines::unlinkSeal(std::uint32_t id) {
    scratch_.clear();
    const auto mask = static_cast<std::uint32_t>(heads_.size() - 1);
    for (const std::uint32_t group : seals_[id].groups)
        scratch_.push_back(groups_[group].locator & mask);
    std::sort(scratch_.begin(), scratch_.end());
    scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    for (const std::uint32_t bucket : scratch_) {
        std::uint32_t* at = &heads_[bucket];
        while (*at != kNone) {
            if (groups_[*at].seal == id)
                *at = groups_[*at].next;
            else
                at = &groups_[*at].next;
        }
    }
}

void SealedLines::markFound(std::uint32_t slot) {
    Line& line = lines_[slot];
    line.found = 1;
    --groups_[line.group].unfound;
}

SealedLines::Found SealedLines::find(std::uint32_t group, const seal::LineTag& tag) const {
    const Seal& seal = seals_[groups_[group].seal];
    const LineRuns::Range run = seal.runs.run(groups_[group].range, tag);
    const auto slotAt = [&](std::uint32_t i) { return seal.lines[seal.runs[i].offset]; };
    // A run's lines are found lowest numbered first: its found ones come
    // before the others.
    std::uint32_t low = run.begin, high = run.end;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (lines_[slotAt(middle)].found != 0)
            low = middle + 1;
        else
            high = middle;
    }
    Found found;
    if (low < run.end) found.unfound = slotAt(low);
    if (run.begin < low) found.found = slotAt(run.begin);
    return found;
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

bool SealedLines::load(std::uint32_t id, const seal::SealRecord& record, std::uint32_t ordinal) {
    Seal& seal = seals_[id];
    if (seal.state != Seal::Waiting || record.tags.size() != seal.seal->count) return false;
    seal.state = Seal::Loaded;
    seal.lastOrdinal = ordinal;
    seal.located = !record.locators.empty();
    seal.runs = LineRuns(record);
    seal.lines.reserve(record.tags.size());
    for (std::uint32_t offset = 0; offset < record.tags.size(); ++offset) {
        const std::uint32_t slot = takeSlot(lines_, free_);
        lines_[slot] = Line{};
        lines_[slot].seal = id;
        lines_[slot].offset = offset;
        seal.lines.push_back(slot);
    }
    addGroups(id);
    if (!seal.located) {
        if (!seal.lines.empty()) version1_.push_back(id);
        return true;
    }
    if (heads_.empty()) heads_.assign(kFirstBuckets, kNone);
    located_ += seal.lines.size();
    if (!grow()) linkSeal(seal);
    return true;
}

void SealedLines::addGroups(std::uint32_t id) {
    Seal& seal = seals_[id];
    for (const LineRuns::Range& range : seal.runs.groups()) {
        const std::uint32_t group = takeSlot(groups_, freeGroups_);
        groups_[group] = {id, seal.runs[range.begin].locator, kNone, range.end - range.begin, range};
        seal.groups.push_back(group);
        for (std::uint32_t i = range.begin; i < range.end; ++i)
            lines_[seal.lines[seal.runs[i].offset]].group = group;
    }
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
    freeGroups_.insert(freeGroups_.end(), seal.groups.begin(), seal.groups.end());
    if (located) located_ -= seal.lines.size();
    version1_.erase(std::remove(version1_.begin(), version1_.end(), id), version1_.end());
    std::vector<std::uint32_t>().swap(seal.lines);
    std::vector<std::uint32_t>().swap(seal.groups);
    seal.runs = LineRuns();
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

void SealedLines::keepLowest(Match& kept, Match::Outcome outcome, std::uint32_t slot) const {
    if (slot == kNoLine) return;
    const Line& line = lines_[slot];
    const Line& other = lines_[kept.line];
    if (kept.outcome == Match::None || line.seal < other.seal ||
        (line.seal == other.seal && line.offset < other.offset))
        kept = {outcome, slot};
}

SealedLines::Match SealedLines::match(std::string_view message, const seal::LineLocator& locator,
                                      std::size_t maxCandidates) {
    Match best{}, again{};
    std::size_t tried = 0;
    const std::uint32_t value = locatorValue(locator);
    // First the groups with lines not found yet; then, for a copy, those
    // whose lines all are. Seals are numbered in their sessions' order, so
    // of identical lines the lowest numbered seal's come first.
    for (const bool allFound : {false, true}) {
        for (std::uint32_t id = heads_.empty() ? kNone : bucketOf(value); id != kNone; id = groups_[id].next) {
            const Group& group = groups_[id];
            if (group.locator != value || (group.unfound == 0) != allFound) continue;
            if (++tried > maxCandidates) return {Match::Unchecked, 0};
            const Found found = find(id, seal::tagOf(*seals_[group.seal].seal->tagKey, message));
            keepLowest(best, Match::New, found.unfound);
            keepLowest(again, Match::Again, found.found);
        }
        if (best.outcome != Match::None) return best;
    }
    if (again.outcome != Match::None || version1_.empty()) return again;
    return matchVersion1(message, maxCandidates);
}

SealedLines::Match SealedLines::matchVersion1(std::string_view message, std::size_t maxCandidates) {
    Match again{};
    const std::size_t tries = std::min(version1_.size(), maxCandidates);
    for (std::size_t n = 0; n < tries; ++n) {
        const std::uint32_t id = version1_[n];
        const Found found = find(seals_[id].groups.front(), seal::tagOf(*seals_[id].seal->tagKey, message));
        if (found.unfound != kNoLine) {
            // The most recently matched first: a session's next lines
            // are most likely under the seal its last ones were.
            std::rotate(version1_.begin(), version1_.begin() + static_cast<std::ptrdiff_t>(n),
                        version1_.begin() + static_cast<std::ptrdiff_t>(n) + 1);
            return {Match::New, found.unfound};
        }
        if (found.found != kNoLine && again.outcome == Match::None) again = {Match::Again, found.found};
    }
    if (again.outcome != Match::None) return again;
    return {tries < version1_.size() ? Match::Unchecked : Match::None, 0};
}

} // namespace quorvel::trail
