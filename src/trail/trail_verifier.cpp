#include "trail/trail_verifier.h"

#include "trail/line_reader.h"
#include "trail/seal_chain.h"
#include "trail/sealed_lines.h"
#include "trail/stray_explainer.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace quorvel::trail {

namespace {

struct SessionIdHash {
    std::size_t operator()(const seal::SessionId& id) const {
        std::size_t value;
        std::memcpy(&value, id.data(), sizeof value); // random bytes
        return value;
    }
};

struct Session {
    SessionVerdict verdict;
    StoredSeals stored;
    CheckedSeals checked;
    std::uint32_t firstSeal = 0; // its first seal's id in the index
    std::uint32_t ordinal = 0;   // lines found so far
    std::uint64_t highest = 0;   // the highest number found so far
    bool anyFound = false;
};

// What a pending explainer stands for.
struct Loss {
    std::size_t session;
    StrayLine::Kind kind;
    std::size_t gap; // for LostSeal
};

std::uint64_t nowMillis() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

bool sameHost(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto equal = [&](std::string_view x, std::string_view y) {
        return x.size() == y.size() &&
               std::equal(x.begin(), x.end(), y.begin(), [&](char p, char q) { return lower(p) == lower(q); });
    };
    // A syslog header may carry the short name of a fully qualified host.
    return equal(a, b) || equal(a.substr(0, a.find('.')), b) || equal(a, b.substr(0, b.find('.')));
}

constexpr LinePlace kStart{0, 0};
constexpr LinePlace kEnd{UINT32_MAX, UINT64_MAX};

class Verifier {
  public:
    Verifier(const std::vector<std::string>& files, const VerifyOptions& options)
        : options_(options), auditor_{options.secretKey, seal::publicKeyOf(*options.secretKey)} {
        verdict_.files = files;
        if (!options.prefixPattern.empty()) customPrefix_ = std::make_unique<CustomPrefix>(options.prefixPattern);
        verdict_.collectionEnd = options.at != 0 ? options.at : nowMillis();
    }

    TrailVerdict run() {
        eachLine([&](std::string_view line, LinePlace place) { readSealLine(line, place); }, true);
        openingBudget_ = options_.limits.openings + verdict_.lines / 64;
        for (std::size_t s = 0; s < sessions_.size(); ++s)
            checkSession(s);
        // The seal lines' text is gone: its memory goes back to the system
        // before the index takes its own.
        malloc_trim(0);
        lines_.build();
        eachLine([&](std::string_view line, LinePlace place) { readEventLine(line, place); }, false);
        std::vector<Explainer> explainers;
        std::vector<Loss> losses;
        const std::vector<SealedLines::SealFindings> findings = lines_.findings();
        for (std::size_t s = 0; s < sessions_.size(); ++s)
            concludeSession(s, findings, explainers, losses);
        classifyStrays(explainers, losses);
        for (Session& session : sessions_)
            verdict_.sessions.push_back(std::move(session.verdict));
        return std::move(verdict_);
    }

  private:
    template <class Visit> void eachLine(Visit visit, bool count) {
        for (std::uint32_t file = 0; file < verdict_.files.size(); ++file)
            forEachLine(
                verdict_.files[file], options_.limits.lineBytes,
                [&](std::string_view line, std::uint64_t number) {
                    verdict_.lines += count;
                    visit(line, LinePlace{file, number});
                },
                [&](std::uint64_t) {
                    verdict_.lines += count;
                    verdict_.unchecked.longLines += count;
                });
    }

    // --- Pass 1: the seals ----------------------------------------------------

    void readSealLine(std::string_view text, LinePlace place) {
        const CollectedLine line = readCollectedLine(text, options_.prefixes, customPrefix_.get());
        if (line.kind != MessageKind::Seal) return;
        ++verdict_.sealLines;
        const auto read = seal::readSeal(line.message);
        if (!read) {
            verdict_.unreadableSeals.push_back(place);
            return;
        }
        Session* session = sessionOf(read->record.session);
        if (session == nullptr) {
            ++verdict_.unchecked.sessions;
        } else if (session->stored.size() >= options_.limits.sealsPerSession) {
            ++session->verdict.uncheckedSeals;
        } else {
            session->stored.add(line.message, place);
        }
    }

    Session* sessionOf(const seal::SessionId& id) {
        const auto known = ids_.find(id);
        if (known != ids_.end()) return &sessions_[known->second];
        if (sessions_.size() >= options_.limits.sessions) return nullptr;
        ids_.emplace(id, sessions_.size());
        Session& session = sessions_.emplace_back();
        session.verdict.id = id;
        return &session;
    }

    void checkSession(std::size_t s) {
        Session& session = sessions_[s];
        session.checked = checkSeals(session.stored, auditor_, options_.limits, openingBudget_, keys_);
        CheckedSeals& checked = session.checked;
        SessionVerdict& verdict = session.verdict;
        verdict.sealsRead = checked.sealsRead;
        verdict.failedMacs = checked.failedMacs;
        verdict.faults = checked.conflicting;
        verdict.uncheckedSeals += checked.uncheckedSeals;
        verdict_.unchecked.openings += checked.uncheckedOpenings;
        session.firstSeal = static_cast<std::uint32_t>(lines_.sealCount());
        for (SealChain& chain : checked.chains) {
            verdict.openings.push_back(chain.opening);
            lines_.add(s, chain);
        }
    }

    // --- Pass 2: the events -----------------------------------------------------

    void readEventLine(std::string_view text, LinePlace place) {
        const CollectedLine line = readCollectedLine(text, options_.prefixes, customPrefix_.get());
        if (line.kind == MessageKind::Seal) return;
        if (line.kind == MessageKind::Event) {
            ++verdict_.eventLines;
            verdict_.prefixedLines += !line.prefix.empty();
            const SealedLines::Match match = lines_.match(line.message, options_.limits.candidates);
            if (match.outcome == SealedLines::Match::New || match.outcome == SealedLines::Match::Again)
                found(match, place, line.host);
            else if (match.outcome == SealedLines::Match::Unchecked)
                uncheckedStray(place);
            else if (!searchTornLine(line.message, place, 1))
                pendingStrays_.push_back(place);
            return;
        }
        ++verdict_.eventLines; // counted back out when it holds no event
        if (!searchTornLine(text, place, 0)) --verdict_.eventLines;
    }

    // A line that holds a sealed line after its start: pieces of lines torn
    // apart and put together, or an event behind text of someone's choosing
    // (another event's message, say). What is found in it is reported, never
    // verified, and the line is altered. False when the line holds no event
    // start from `from` on.
    bool searchTornLine(std::string_view text, LinePlace place, std::size_t from) {
        std::size_t starts = 0;
        bool unchecked = false;
        // Each start hashes the rest of the line: a few times the line's own
        // length in all, so that no line costs more than a few readings.
        std::size_t hashBudget = 8 * text.size() + 65536;
        for (std::size_t at = nextEventStart(text, from); at != std::string_view::npos;
             at = nextEventStart(text, at + 1)) {
            if (starts++ == options_.limits.eventStarts || text.size() - at > hashBudget) {
                unchecked = true;
                break;
            }
            hashBudget -= text.size() - at;
            const SealedLines::Match match = lines_.match(text.substr(at), options_.limits.candidates);
            if (match.outcome == SealedLines::Match::New || match.outcome == SealedLines::Match::Again) {
                SealedLines::Line& line = lines_.line(match.line);
                line.torn = true;
                const SealedLines::Seal& sealed = lines_.seal(line.seal);
                sessions_[sealed.session].verdict.torn.push_back({place, sealed.seal->first + line.offset});
                verdict_.strays.push_back({place, StrayLine::Altered, std::nullopt});
                return true;
            }
            unchecked = unchecked || match.outcome == SealedLines::Match::Unchecked;
        }
        if (starts == 0) return false;
        if (unchecked) {
            uncheckedStray(place);
            return true;
        }
        // Text before an event that no accepted prefix explains.
        if (from == 0) verdict_.strays.push_back({place, StrayLine::Altered, std::nullopt});
        return from == 0;
    }

    static std::size_t nextEventStart(std::string_view text, std::size_t from) {
        return std::min(text.find(kCefStart, from), text.find(kXdasStart, from));
    }

    void uncheckedStray(LinePlace place) {
        ++verdict_.unchecked.candidates;
        verdict_.strays.push_back({place, StrayLine::Unchecked, std::nullopt});
    }

    void found(const SealedLines::Match& match, LinePlace place, std::string_view prefixHost) {
        SealedLines::Line& slot = lines_.line(match.line);
        const SealedLines::Seal& sealed = lines_.seal(slot.seal);
        Session& session = sessions_[sealed.session];
        SessionVerdict& verdict = session.verdict;
        const std::uint64_t number = sealed.seal->first + slot.offset;
        if (!prefixHost.empty() && verdict.opened() && !sameHost(prefixHost, verdict.openings.front().opening.host))
            verdict.foreignHost.push_back({place, number});
        if (match.outcome == SealedLines::Match::Again) {
            if (slot.found != UINT16_MAX) ++slot.found;
            verdict.duplicates.push_back(
                {place, unpackPlace(slot.place), number, session.ordinal - slot.ordinal > options_.resendWindow});
            return;
        }
        slot.found = 1;
        slot.place = packPlace(place);
        slot.ordinal = ++session.ordinal;
        if (verdict.contested()) {
            ++verdict.contestedLines;
            return;
        }
        ++verdict.verified;
        if (session.anyFound && number < session.highest) ++verdict.reordered;
        session.highest = std::max(session.highest, number);
        session.anyFound = true;
    }

    // --- Verdicts ---------------------------------------------------------------

    void concludeSession(std::size_t s, const std::vector<SealedLines::SealFindings>& findings,
                         std::vector<Explainer>& explainers, std::vector<Loss>& losses) {
        Session& session = sessions_[s];
        SessionVerdict& verdict = session.verdict;
        if (session.checked.chains.empty()) {
            unopenedLosses(s, unopened_, unopenedLosses_);
            return;
        }
        if (verdict.contested()) return;
        const SealChain& chain = session.checked.chains.front();
        judgeChain(chain, verdict_.collectionEnd, verdict.faults, verdict.gaps);
        // Where each seal's lines were found, to bound where lost ones may be.
        std::vector<std::pair<LinePlace, LinePlace>> spans;
        for (std::uint32_t i = 0; i < chain.seals.size(); ++i) {
            const SealedLines::SealFindings& found = findings[session.firstSeal + i];
            spans.emplace_back(found.earliest, found.latest);
            const KeptSeal& kept = chain.seals[i];
            for (const std::uint32_t offset : found.unfound)
                verdict.missing.push_back({kept.first + offset, kept.index, kept.time});
        }
        const KeptSeal& last = chain.seals.back();
        verdict.seals = chain.seals.size();
        verdict.lastSeal = last.index;
        verdict.lastSealAt = last.time;
        verdict.closed = last.end;
        const seal::SessionOpening& opening = chain.opening.opening;
        // A seal may be on its way when the collection ends: one idle time,
        // one sealing period and two seconds of slack.
        const std::uint64_t idle = options_.maxIdleMillis != 0 ? options_.maxIdleMillis : opening.idleMillis;
        const auto plus = [](std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; };
        verdict.cutShort =
            !verdict.closed && verdict_.collectionEnd > plus(plus(last.time, idle), plus(opening.millis, 2000));
        const auto earliestFrom = [&](std::size_t i) {
            for (std::size_t j = i + 1; j-- > 0;)
                if (spans[j].first < kEnd) return spans[j].first;
            return kStart;
        };
        const auto latestFrom = [&](std::size_t i) {
            for (std::size_t j = i; j < spans.size(); ++j)
                if (kStart < spans[j].second) return spans[j].second;
            return kEnd;
        };
        std::size_t position = 0;
        for (std::size_t g = 0; g < verdict.gaps.size(); ++g) {
            const SealGap& gap = verdict.gaps[g];
            while (chain.seals[position + 1].index <= gap.seals.last)
                ++position;
            if (!gap.lines) continue;
            explainers.push_back(
                {earliestFrom(position), latestFrom(position + 1), gap.lines->last - gap.lines->first + 1});
            losses.push_back({s, StrayLine::LostSeal, g});
        }
        if (!verdict.closed) {
            verdict.tailBound = opening.lines;
            explainers.push_back({earliestFrom(chain.seals.size() - 1), kEnd, opening.lines});
            losses.push_back({s, StrayLine::OpenTail, 0});
        }
    }

    // A session without an authentic opening: each of its seal lines may
    // stand for as many lines as it claims, logged after the seal line
    // before it and before the one after it (a line numbered before a seal
    // may reach the file after it); after the last, by no more lines than it
    // claims.
    void unopenedLosses(std::size_t s, std::vector<Explainer>& explainers, std::vector<Loss>& losses) {
        std::vector<std::pair<LinePlace, std::uint64_t>> seals = sessions_[s].checked.unopened;
        std::sort(seals.begin(), seals.end());
        for (std::size_t i = 0; i < seals.size(); ++i) {
            const auto& [place, count] = seals[i];
            const LinePlace to = i + 1 < seals.size() ? seals[i + 1].first : LinePlace{place.file, place.line + count};
            explainers.push_back({i > 0 ? seals[i - 1].first : kStart, to, count});
            losses.push_back({s, StrayLine::Unopened, 0});
        }
    }

    void classifyStrays(const std::vector<Explainer>& explainers, const std::vector<Loss>& losses) {
        const std::vector<std::size_t> given = explainStrays(pendingStrays_, explainers);
        std::vector<LinePlace> left;
        for (std::size_t i = 0; i < pendingStrays_.size(); ++i) {
            if (given[i] == static_cast<std::size_t>(-1)) {
                left.push_back(pendingStrays_[i]);
                continue;
            }
            const Loss& loss = losses[given[i]];
            SessionVerdict& verdict = sessions_[loss.session].verdict;
            if (loss.kind == StrayLine::LostSeal)
                ++verdict.gaps[loss.gap].unverifiable;
            else
                ++verdict.notYetSealed;
            verdict_.strays.push_back({pendingStrays_[i], loss.kind, loss.session});
        }
        const std::vector<std::size_t> byUnopened = explainStrays(left, unopened_);
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (byUnopened[i] == static_cast<std::size_t>(-1)) {
                verdict_.strays.push_back({left[i], StrayLine::Uncovered, std::nullopt});
                continue;
            }
            const std::size_t s = unopenedLosses_[byUnopened[i]].session;
            ++sessions_[s].verdict.explainedByUnopened;
            verdict_.strays.push_back({left[i], StrayLine::Unopened, s});
        }
        std::sort(verdict_.strays.begin(), verdict_.strays.end(),
                  [](const StrayLine& a, const StrayLine& b) { return a.place < b.place; });
    }

    const VerifyOptions& options_;
    const AuditorKeys auditor_;
    std::unique_ptr<const CustomPrefix> customPrefix_;
    GuardedKeys keys_; // before the index, which points into it
    TrailVerdict verdict_;
    std::unordered_map<seal::SessionId, std::size_t, SessionIdHash> ids_;
    std::vector<Session> sessions_; // in the order first read
    SealedLines lines_;
    std::uint64_t openingBudget_ = 0;      // openings left to decrypt
    std::vector<LinePlace> pendingStrays_; // event lines no seal holds, in the collection's order
    std::vector<Explainer> unopened_;      // what unopened sessions may hold, tried last
    std::vector<Loss> unopenedLosses_;
};

} // namespace

TrailVerdict verifyTrail(const std::vector<std::string>& files, const VerifyOptions& options) {
    return Verifier(files, options).run();
}

} // namespace quorvel::trail
