#include "trail_verifier.h"

#include "tool_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace quorvel_tools {

namespace seal = quorvel::seal;

namespace {

// A gap of more seals than this between two read ones is not followed: a
// forged index would otherwise make the verifier derive keys for ever.
constexpr std::uint64_t kMaxKeySteps = 1u << 24;
// How many sessions a file's matching keeps in view before it looks further.
constexpr std::size_t kRecentSessions = 8;
// Where an event starts in a collected line: a CEF line, or an XDAS record
// (one blank before its object).
constexpr std::string_view kEventStarts[] = {"CEF:", " {\""};
// A line holding more event starts than this (pieces of torn lines) is
// tried at its first ones only.
constexpr std::size_t kMaxCandidates = 64;

std::uint64_t tagValue(const seal::LineTag& tag) {
    std::uint64_t value = 0;
    for (const unsigned char byte : tag)
        value = value << 8 | byte;
    return value;
}

// One authentic seal, with the lines found for it.
struct Seal {
    std::uint64_t index = 0;
    std::uint64_t time = 0;
    std::uint64_t first = 0;
    bool end = false;
    seal::TagKey tagKey{};
    std::vector<std::pair<std::uint64_t, std::uint32_t>> byTag; // (tag, offset), sorted
    std::vector<std::uint32_t> found;                           // per offset

    std::uint64_t count() const { return found.size(); }

    // The offset of `tag` not found yet; with `again`, else one found
    // already. Nothing when no line of the seal fits.
    std::optional<std::uint32_t> offsetOf(std::uint64_t tag, bool again) const {
        auto at = std::lower_bound(byTag.begin(), byTag.end(), std::make_pair(tag, std::uint32_t{0}));
        std::optional<std::uint32_t> seen;
        for (; at != byTag.end() && at->first == tag; ++at) {
            if (found[at->second] == 0) return at->second;
            seen = at->second;
        }
        return again ? seen : std::nullopt;
    }
};

struct StoredSeal {
    std::string text;
    LinePlace place;
};

struct Session {
    SessionVerdict verdict;
    std::vector<StoredSeal> stored;
    std::vector<std::unique_ptr<Seal>> byIndex; // null where lost
};

// An event line that no seal covers, with the lines found next to it in its
// file: what decides whether a lost seal may explain it.
struct Stray {
    LinePlace place;
    Session* before = nullptr;
    std::uint64_t beforeNumber = 0;
    Session* after = nullptr;
    std::uint64_t afterNumber = 0;
};

class Verifier {
  public:
    Verifier(const std::vector<std::string>& files, const VerifyOptions& options)
        : options_(options), auditor_(seal::publicKeyOf(options.secretKey)) {
        verdict_.files = files;
    }

    TrailVerdict run() {
        for (std::size_t file = 0; file < verdict_.files.size(); ++file)
            forEachLine(file, [&](std::string_view line, LinePlace place) { readSealLine(line, place); });
        for (auto& [id, session] : sessions_)
            openSession(session);
        verdict_.collectionEnd = options_.at;
        for (std::size_t file = 0; file < verdict_.files.size(); ++file) {
            recent_.clear();
            lastFound_ = {};
            lastNumbers_.clear();
            pendingStrays_.clear();
            forEachLine(file, [&](std::string_view line, LinePlace place) { matchEventLine(line, place); });
        }
        for (auto& [id, session] : sessions_)
            concludeSession(session);
        classifyStrays();
        for (auto& [id, session] : sessions_)
            verdict_.sessions.push_back(std::move(session.verdict));
        return std::move(verdict_);
    }

  private:
    template <class Visit> void forEachLine(std::size_t file, Visit visit) {
        const std::string& path = verdict_.files[file];
        std::ifstream in(path, std::ios::binary);
        if (!in) throw ToolError{"cannot read " + path + ": " + std::strerror(errno)};
        std::string line;
        LinePlace place{file, 0};
        while (std::getline(in, line)) {
            ++place.line;
            visit(std::string_view(line), place);
        }
        if (in.bad()) throw ToolError{"read error in " + path};
    }

    // --- Pass 1: the seals ----------------------------------------------------

    void readSealLine(std::string_view line, LinePlace place) {
        ++verdict_.lines;
        const std::size_t at = line.find(seal::kSealMarker);
        if (at == std::string_view::npos) return;
        const auto read = seal::readSeal(line.substr(at));
        if (!read) {
            verdict_.unreadableSeals.push_back(place);
            return;
        }
        Session& session = sessions_[read->record.session];
        session.verdict.id = read->record.session;
        session.stored.push_back({std::string(line.substr(at)), place});
    }

    // Finds the session's authentic opening (the one whose key chain
    // authenticates most of its seals, should there be more than one) and
    // keeps every seal its chain authenticates.
    void openSession(Session& session) {
        std::sort(session.stored.begin(), session.stored.end(),
                  [](const StoredSeal& a, const StoredSeal& b) { return a.text < b.text; });
        session.stored.erase(std::unique(session.stored.begin(), session.stored.end(),
                                         [](const StoredSeal& a, const StoredSeal& b) { return a.text == b.text; }),
                             session.stored.end());
        std::vector<seal::ReadSeal> reads;
        for (const StoredSeal& stored : session.stored)
            reads.push_back(*seal::readSeal(stored.text));
        std::size_t best = reads.size(), bestCount = 0;
        for (std::size_t i = 0; i < reads.size(); ++i) {
            const auto key = firstKeyOf(reads[i]);
            if (!key) continue;
            const std::size_t count = authenticSeals(reads, *key, nullptr);
            if (best == reads.size() || count > bestCount) best = i, bestCount = count;
        }
        SessionVerdict& verdict = session.verdict;
        if (best == reads.size()) {
            verdict.unopenedSeals = reads.size();
            return;
        }
        verdict.opened = true;
        verdict.opening = *reads[best].record.opening;
        verdict.openedAt = reads[best].record.time;
        authenticSeals(reads, *firstKeyOf(reads[best]), &session);
    }

    std::optional<seal::SealKey> firstKeyOf(const seal::ReadSeal& read) const {
        const seal::SealRecord& record = read.record;
        if (record.index != 0 || !record.opening) return std::nullopt;
        auto key = seal::decryptAsAuditor(record.opening->key, auditor_, options_.secretKey);
        if (!key || !seal::sameMac(seal::macOf(seal::sealKeysOf(*key).mac, read.signedText), read.mac))
            return std::nullopt;
        return key;
    }

    // Counts the seals that `firstKey`'s chain authenticates; with `session`,
    // keeps them and notes every other seal as failing.
    std::size_t authenticSeals(const std::vector<seal::ReadSeal>& reads, const seal::SealKey& firstKey,
                               Session* session) {
        std::vector<std::size_t> order(reads.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return reads[a].record.index < reads[b].record.index; });
        seal::SealKey key = firstKey;
        std::uint64_t keyIndex = 0;
        std::size_t count = 0;
        for (const std::size_t i : order) {
            const seal::SealRecord& record = reads[i].record;
            bool authentic = record.index - keyIndex <= kMaxKeySteps;
            for (; authentic && keyIndex < record.index; ++keyIndex)
                key = seal::nextSealKey(key);
            const seal::SealKeys keys = seal::sealKeysOf(key);
            authentic = authentic && seal::sameMac(seal::macOf(keys.mac, reads[i].signedText), reads[i].mac) &&
                        (!session || keepSeal(*session, record, keys.tag));
            count += authentic;
            if (session && !authentic) session->verdict.failedMacs.push_back(session->stored[i].place);
        }
        seal::erase(key);
        return count;
    }

    // False for a second authentic seal of the same index (only a holder of
    // that seal's key could make one).
    static bool keepSeal(Session& session, const seal::SealRecord& record, const seal::TagKey& tagKey) {
        if (session.byIndex.size() <= record.index) session.byIndex.resize(record.index + 1);
        std::unique_ptr<Seal>& slot = session.byIndex[record.index];
        if (slot) return false;
        slot = std::make_unique<Seal>();
        Seal& kept = *slot;
        kept.index = record.index;
        kept.time = record.time;
        kept.first = record.first;
        kept.end = record.end;
        kept.tagKey = tagKey;
        kept.found.assign(record.tags.size(), 0);
        for (std::uint32_t offset = 0; offset < record.tags.size(); ++offset)
            kept.byTag.emplace_back(tagValue(record.tags[offset]), offset);
        std::sort(kept.byTag.begin(), kept.byTag.end());
        return true;
    }

    // --- Pass 2: the events -----------------------------------------------------

    void matchEventLine(std::string_view line, LinePlace place) {
        if (line.find(seal::kSealMarker) != std::string_view::npos) return;
        // Where an event may start, leftmost first: a prefix rarely holds
        // "CEF:" or ' {"', an event's values may.
        std::size_t starts[kMaxCandidates];
        std::size_t candidates = 0;
        for (std::size_t at = firstEventStart(line, 0); at != std::string_view::npos && candidates < kMaxCandidates;
             at = firstEventStart(line, at + 1))
            starts[candidates++] = at;
        if (candidates == 0) return;
        ++verdict_.eventLines;
        // A line not found yet before a copy of one found already: identical
        // lines (the same event logged twice in a second) fill their seals'
        // places in turn, and only what is left over counts as a duplicate.
        for (std::size_t i = 0; i < candidates; ++i)
            if (matchNear(line.substr(starts[i]), false)) return;
        for (const bool again : {false, true})
            for (std::size_t i = 0; i < candidates; ++i)
                for (auto& [id, session] : sessions_)
                    if (trySession(session, line.substr(starts[i]), again)) return;
        strays_.push_back(Stray{place, lastFound_.session, lastFound_.number});
        pendingStrays_.push_back(strays_.size() - 1);
    }

    // The first place at or after `from` where an event may start; npos
    // when there is none.
    static std::size_t firstEventStart(std::string_view line, std::size_t from) {
        std::size_t start = std::string_view::npos;
        for (const std::string_view marker : kEventStarts)
            start = std::min(start, line.find(marker, from));
        return start;
    }

    struct Found {
        Session* session = nullptr;
        std::uint64_t number = 0;
    };

    // The seals next to those of the sessions seen last in this file, then
    // every seal of those sessions.
    bool matchNear(std::string_view event, bool again) {
        for (std::size_t r = 0; r < recent_.size(); ++r) {
            const auto [session, index] = recent_[r];
            for (const std::uint64_t near : {index, index + 1, index - 1})
                if (near < session->byIndex.size() && tryFound(*session, session->byIndex[near].get(), event, again))
                    return true;
        }
        for (std::size_t r = 0; r < recent_.size(); ++r)
            if (trySession(*recent_[r].first, event, again)) return true;
        return false;
    }

    bool trySession(Session& session, std::string_view event, bool again) {
        for (const auto& kept : session.byIndex)
            if (tryFound(session, kept.get(), event, again)) return true;
        return false;
    }

    // Finds `event` in `kept`: a place not found yet, or with
    // `again` one found already (a duplicate).
    bool tryFound(Session& session, Seal* kept, std::string_view event, bool again) {
        if (kept == nullptr || kept->found.empty()) return false;
        const auto offset = kept->offsetOf(tagValue(seal::tagOf(kept->tagKey, event)), again);
        if (!offset) return false;
        SessionVerdict& verdict = session.verdict;
        if (kept->found[*offset]++ == 0)
            ++verdict.verified;
        else
            ++verdict.duplicates;
        const std::uint64_t number = kept->first + *offset;
        std::uint64_t& last = lastNumbers_[&session];
        if (number < last) ++verdict.reordered;
        last = std::max(last, number);
        noteRecent(session, kept->index);
        lastFound_ = {&session, number};
        for (const std::size_t stray : pendingStrays_)
            strays_[stray].after = &session, strays_[stray].afterNumber = number;
        pendingStrays_.clear();
        return true;
    }

    void noteRecent(Session& session, std::uint64_t index) {
        auto at = std::find_if(recent_.begin(), recent_.end(), [&](const auto& r) { return r.first == &session; });
        if (at != recent_.end()) recent_.erase(at);
        recent_.insert(recent_.begin(), {&session, index});
        if (recent_.size() > kRecentSessions) recent_.pop_back();
    }

    // --- Verdicts ---------------------------------------------------------------

    void concludeSession(Session& session) {
        SessionVerdict& verdict = session.verdict;
        if (!verdict.opened) return;
        const Seal* previous = nullptr;
        for (const auto& kept : session.byIndex) {
            if (!kept) continue;
            ++verdict.seals;
            if (previous && kept->index != previous->index + 1) {
                verdict.lostSeals.push_back({previous->index + 1, kept->index - 1});
                if (kept->first > previous->first + previous->count())
                    verdict.unverifiableLines.push_back({previous->first + previous->count(), kept->first - 1});
            }
            for (std::uint32_t offset = 0; offset < kept->count(); ++offset)
                if (kept->found[offset] == 0)
                    verdict.missing.push_back({kept->first + offset, kept->index, kept->time});
            previous = kept.get();
        }
        verdict.lastSeal = previous->index;
        verdict.lastSealAt = previous->time;
        verdict.closed = previous->end;
        // A seal may be on its way when the collection ends: one idle period,
        // one sealing period and two seconds of slack before the trail counts
        // as cut.
        const std::uint64_t due = previous->time + verdict.opening.idleMillis + verdict.opening.millis + 2000;
        verdict.cutShort = !verdict.closed && verdict_.collectionEnd > due;
    }

    // Whether a lost seal, an unsealed tail or an unopened session may hold
    // the stray line; otherwise no seal covers it.
    bool explained(const Stray& stray) const {
        if (unopened_) return true;
        if (!stray.before && !stray.after) return anyGap_;
        const auto lostBetween = [](const Session* session, std::uint64_t low, std::uint64_t high) {
            const auto& ranges = session->verdict.unverifiableLines;
            return std::any_of(ranges.begin(), ranges.end(),
                               [&](const LineRange& r) { return r.last > low && r.first < high; });
        };
        if (stray.before && stray.before == stray.after)
            return lostBetween(stray.before, stray.beforeNumber, stray.afterNumber);
        const bool fromBefore = stray.before && (!stray.before->verdict.closed ||
                                                 lostBetween(stray.before, stray.beforeNumber, UINT64_MAX));
        return fromBefore || (stray.after && lostBetween(stray.after, 0, stray.afterNumber));
    }

    void classifyStrays() {
        for (const auto& [id, session] : sessions_) {
            const SessionVerdict& v = session.verdict;
            unopened_ = unopened_ || !v.opened;
            anyGap_ = anyGap_ || !v.unverifiableLines.empty() || !v.closed;
        }
        for (const Stray& stray : strays_) {
            if (!explained(stray)) {
                verdict_.uncovered.push_back(stray.place);
                continue;
            }
            verdict_.unverifiable.push_back(stray.place);
            // A line after the last seal of an open session is its unsealed tail.
            if (stray.before && !stray.before->verdict.closed && !stray.after &&
                stray.beforeNumber + 1 >= lastSealedNumber(*stray.before))
                ++stray.before->verdict.unsealedTail;
        }
    }

    static std::uint64_t lastSealedNumber(const Session& session) {
        for (auto at = session.byIndex.rbegin(); at != session.byIndex.rend(); ++at)
            if (*at) return (*at)->first + (*at)->count();
        return 0;
    }

    const VerifyOptions& options_;
    const seal::AuditorPublicKey auditor_;
    TrailVerdict verdict_;
    std::map<seal::SessionId, Session> sessions_;
    std::vector<std::pair<Session*, std::uint64_t>> recent_; // of this file, latest first
    std::map<const Session*, std::uint64_t> lastNumbers_;    // highest number found in this file
    Found lastFound_;
    std::vector<Stray> strays_;
    std::vector<std::size_t> pendingStrays_; // strays of this file not yet followed by a found line
    bool unopened_ = false;
    bool anyGap_ = false;
};

} // namespace

bool TrailVerdict::complete() const {
    if (!uncovered.empty() || !unverifiable.empty() || !unreadableSeals.empty()) return false;
    return std::all_of(sessions.begin(), sessions.end(), [](const SessionVerdict& s) {
        return s.opened && !s.cutShort && s.missing.empty() && s.lostSeals.empty() && s.failedMacs.empty() &&
               s.unsealedTail == 0;
    });
}

TrailVerdict verifyTrail(const std::vector<std::string>& files, const VerifyOptions& options) {
    return Verifier(files, options).run();
}

} // namespace quorvel_tools
