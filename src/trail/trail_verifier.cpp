#include "trail/trail_verifier.h"

#include "trail/line_reader.h"
#include "trail/line_runs.h"
#include "trail/seal_chain.h"
#include "trail/sealed_lines.h"
#include "trail/stray_explainer.h"
#include "trail/waiting_lines.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <queue>
#include <stdexcept>
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
    std::uint32_t firstSeal = 0;      // its first seal's id in the index
    std::deque<std::uint32_t> loaded; // its seals in the index, in the order loaded
    std::uint32_t ordinal = 0;        // lines found so far
    std::uint64_t highest = 0;        // the highest number found so far
    bool anyFound = false;
};

// A waiting line's sealed line, found when the collection had been read.
struct LateHit {
    std::uint32_t waiting;
    std::uint32_t seal;
    std::uint32_t offset;
    seal::LineTag tag;
    bool operator<(const LateHit& o) const {
        return waiting != o.waiting ? waiting < o.waiting : seal != o.seal ? seal < o.seal : offset < o.offset;
    }
};

// A copy whose original was found before its seal left the index: where the
// original is, is looked for once more.
struct SoughtOriginal {
    std::size_t session;
    std::size_t duplicate; // in its session's duplicates
    std::uint32_t seal;
    seal::LineTag tag;
    seal::LineLocator locator;
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
        : options_(options), auditor_{options.secretKey, seal::publicKeyOf(*options.secretKey)}, files_(files),
          customPrefix_(options.prefixPattern.empty() ? nullptr
                                                      : std::make_unique<CustomPrefix>(options.prefixPattern)) {
        verdict_.files = files;
        fileStart_.assign(files.size() + 1, 0);
        verdict_.collectionEnd = options.at != 0 ? options.at : nowMillis();
        verdict_.windowFrom = options.from;
    }

    TrailVerdict run() {
        eachLine(
            [&](std::string_view line, LinePlace place, std::uint64_t offset) { readSealLine(line, place, offset); },
            true);
        for (std::size_t file = 0; file + 1 < fileStart_.size(); ++file)
            fileStart_[file + 1] += fileStart_[file];
        openingBudget_ = options_.limits.openings + verdict_.lines / 64;
        // The ledgers first: a session without its opening is verified from
        // a checkpoint only when one names it.
        ledger_.settle(auditor_.publicKey, *auditor_.secretKey, verdict_.collectionEnd, options_.from);
        for (std::size_t s = 0; s < sessions_.size(); ++s)
            checkSession(s);
        // The seal lines' places are gone: their memory goes back to the
        // system before the index takes its own.
        malloc_trim(0);
        schedule();
        eachLine(
            [&](std::string_view line, LinePlace place, std::uint64_t offset) { readEventLine(line, place, offset); },
            false);
        for (std::uint32_t id = 0; id < lines_.sealCount(); ++id)
            leaveSeal(id);
        settleCopies();
        settleLate();
        std::vector<Explainer> explainers;
        std::vector<Loss> losses;
        for (std::size_t s = 0; s < sessions_.size(); ++s)
            concludeSession(s, explainers, losses);
        classifyStrays(explainers, losses);
        for (Session& session : sessions_)
            verdict_.sessions.push_back(std::move(session.verdict));
        for (std::size_t s = 0; s < verdict_.sessions.size(); ++s)
            claimOrigin(s);
        ledger_.conclude(auditor_.publicKey, *auditor_.secretKey, verdict_);
        return std::move(verdict_);
    }

  private:
    // What session `s` claims of its host's ledger: the attestation its
    // opening carries, or the entry that names the checkpoint it is
    // verified from; with the index and digest of each of its authentic seals.
    void claimOrigin(std::size_t s) {
        const SessionVerdict& session = verdict_.sessions[s];
        if (!session.opened()) return;
        const CheckedSeals& checked = sessions_[s].checked;
        const AuthenticOpening& opening = session.openings.front();
        if (!opening.opening.attestation && !checked.anchor) return;
        std::vector<std::pair<std::uint64_t, seal::Bytes32>> seals;
        for (const KeptSeal& kept : checked.chains.front().seals)
            seals.emplace_back(kept.index, kept.digest);
        if (checked.anchor)
            ledger_.checkpointed(s, *checked.anchor, std::move(seals));
        else
            ledger_.attested(s, *opening.opening.attestation, opening.time, std::move(seals));
    }

    template <class Visit> void eachLine(Visit visit, bool count) {
        for (std::uint32_t file = 0; file < verdict_.files.size(); ++file)
            forEachLine(
                verdict_.files[file], options_.limits.lineBytes,
                [&](std::string_view line, std::uint64_t number, std::uint64_t offset) {
                    verdict_.lines += count;
                    fileStart_[file + 1] += count;
                    position_ = positionOf({file, number});
                    visit(line, LinePlace{file, number}, offset);
                },
                [&](std::uint64_t) {
                    verdict_.lines += count;
                    fileStart_[file + 1] += count;
                    verdict_.unchecked.longLines += count;
                });
    }

    // A place's line number in the collection as a whole (once pass 1 has
    // counted the files' lines).
    std::uint64_t positionOf(LinePlace place) const { return fileStart_[place.file] + place.line; }

    // --- Pass 1: the seals ----------------------------------------------------

    void readSealLine(std::string_view text, LinePlace place, std::uint64_t offset) {
        const CollectedLine line = readCollectedLine(text, options_.prefixes, customPrefix_.get());
        if (line.kind == MessageKind::Ledger) {
            ledger_.read(line.message, place);
            return;
        }
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
            session->stored.add(spanOf(line.message, text, place, offset), place);
        }
    }

    static TextSpan spanOf(std::string_view part, std::string_view line, LinePlace place, std::uint64_t offset) {
        return {place.file, static_cast<std::uint32_t>(part.size()),
                offset + static_cast<std::uint64_t>(part.data() - line.data())};
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
        CheckpointAnchors anchors;
        if (!options_.registry.empty())
            anchors = [this](const seal::Bytes32& digest) { return ledger_.checkpointAnchor(digest); };
        session.checked = checkSeals(session.stored, files_, auditor_, options_.limits, anchors, openingBudget_, keys_);
        CheckedSeals& checked = session.checked;
        SessionVerdict& verdict = session.verdict;
        verdict.sealsRead = checked.sealsRead;
        verdict.sealsBeforeCheckpoint = checked.beforeCheckpoint;
        verdict.failedMacs = checked.failedMacs;
        verdict.faults = checked.conflicting;
        verdict.uncheckedSeals += checked.uncheckedSeals;
        verdict_.unchecked.openings += checked.uncheckedOpenings;
        session.firstSeal = static_cast<std::uint32_t>(lines_.sealCount());
        for (SealChain& chain : checked.chains) {
            verdict.openings.push_back(chain.opening);
            for (const KeptSeal& kept : chain.seals)
                lines_.add(s, kept);
        }
    }

    // --- The index: which seals' lines are loaded --------------------------------

    // A seal's lines are loaded when the reading reaches the earliest of its
    // own line and the two seal lines before it in its chain: its lines were
    // logged after the seal before the one before it was cut, though one may
    // reach a file before that seal's line.
    void schedule() {
        for (std::size_t s = 0; s < sessions_.size(); ++s) {
            std::uint32_t id = sessions_[s].firstSeal;
            for (const SealChain& chain : sessions_[s].checked.chains)
                for (std::size_t p = 0; p < chain.seals.size(); ++p, ++id) {
                    if (chain.seals[p].count == 0) continue;
                    LinePlace from = chain.seals[p].place;
                    for (std::size_t back = 1; back <= 2 && back <= p; ++back)
                        from = std::min(from, chain.seals[p - back].place);
                    loads_.emplace_back(positionOf(from), id);
                }
        }
        std::sort(loads_.begin(), loads_.end());
    }

    // Loads what falls due before the line at `position_` and lets go of the
    // seals whose window the reading has passed.
    void advanceIndex() {
        for (; nextLoad_ < loads_.size() && loads_[nextLoad_].first <= position_; ++nextLoad_)
            loadSeal(loads_[nextLoad_].second);
        while (!window_.empty() && window_.top().first + options_.limits.sealWindow < position_) {
            const std::uint32_t id = window_.top().second;
            window_.pop();
            leaveSeal(id);
        }
    }

    void loadSeal(std::uint32_t id) {
        const seal::SealRecord record = readAgain(id);
        SealedLines::Seal& sealed = lines_.seal(id);
        if (!lines_.load(id, record, sessions_[sealed.session].ordinal)) return;
        sessions_[sealed.session].loaded.push_back(id);
        window_.emplace(positionOf(sealed.seal->place), id);
        if (!waiting_.empty() && sealed.located) settleWaiting(id);
    }

    // Seal `id` as read in the first pass: a file that no longer holds it
    // so is an error, not a verdict on the seal.
    seal::SealRecord readAgain(std::uint32_t id) {
        const KeptSeal& kept = *lines_.seal(id).seal;
        auto read = seal::readSeal(files_.read(kept.text));
        if (!read || read->record.tags.size() != kept.count)
            throw std::runtime_error("a seal changed in its file while it was verified");
        return std::move(read->record);
    }

    void leaveSeal(std::uint32_t id) {
        if (lines_.seal(id).state != SealedLines::Seal::Loaded) return;
        lines_.leave(id);
        std::deque<std::uint32_t>& loaded = sessions_[lines_.seal(id).session].loaded;
        loaded.erase(std::find(loaded.begin(), loaded.end(), id));
    }

    // A session's oldest loaded seals leave once its order has moved on by
    // more than the resend window since their last line found: a copy of
    // one of their lines is replayed from then on. Not before the reading
    // has passed their own line.
    void leaveOutgrown(Session& session) {
        while (!session.loaded.empty()) {
            const SealedLines::Seal& sealed = lines_.seal(session.loaded.front());
            if (sealed.lastOrdinal + options_.resendWindow >= session.ordinal ||
                positionOf(sealed.seal->place) >= position_)
                return;
            leaveSeal(session.loaded.front());
        }
    }

    // The lines waiting whose locators seal `id` holds, each tried once
    // under it, in the order read: a line the seal holds and has not found
    // yet is found (of identical lines, the lowest numbered first); a copy of
    // one found stays waiting, since a later seal may hold it too, and is a
    // copy of this seal's line when the reading ends and none has.
    void settleWaiting(std::uint32_t id) {
        // Its session may move on past it as lines are found.
        const auto loaded = [&] { return lines_.seal(id).state == SealedLines::Seal::Loaded; };
        const std::vector<std::uint32_t> groups = lines_.seal(id).groups;
        for (const std::uint32_t group : groups) {
            if (!loaded()) return;
            for (const std::uint32_t w : waiting_.withLocator(lines_.group(group).locator)) {
                if (!loaded()) return;
                const auto tag = waiting_.tagUnder(w, *lines_.seal(id).seal);
                if (!tag) continue;
                const SealedLines::Found lines = lines_.find(group, *tag);
                if (lines.unfound != SealedLines::kNoLine) {
                    waiting_.settle(w);
                    copies_.erase(w);
                    std::string_view host;
                    waiting_.message(w, host);
                    found({SealedLines::Match::New, lines.unfound}, waiting_.place(w), host);
                } else if (lines.found != SealedLines::kNoLine) {
                    copies_.try_emplace(w, copyOf(lines.found, waiting_.place(w)));
                }
            }
        }
    }

    // The copies that no seal loaded after their first took as its own.
    void settleCopies() {
        for (const auto& [w, copy] : copies_) {
            waiting_.settle(w);
            sessions_[copy.first].verdict.duplicates.push_back(copy.second);
        }
        copies_.clear();
    }

    // --- Pass 2: the events -----------------------------------------------------

    void readEventLine(std::string_view text, LinePlace place, std::uint64_t offset) {
        advanceIndex();
        const CollectedLine line = readCollectedLine(text, options_.prefixes, customPrefix_.get());
        if (line.kind == MessageKind::Seal || line.kind == MessageKind::Ledger) return;
        if (line.kind == MessageKind::Event) {
            ++verdict_.eventLines;
            verdict_.prefixedLines += !line.prefix.empty();
            const seal::LineLocator locator = seal::locatorOf(line.message);
            const SealedLines::Match match = lines_.match(line.message, locator, options_.limits.candidates);
            if (match.outcome == SealedLines::Match::New || match.outcome == SealedLines::Match::Again)
                found(match, place, line.host);
            else if (match.outcome == SealedLines::Match::Unchecked)
                uncheckedStray(place);
            else if (!searchTornLine(line.message, place, 1))
                waiting_.add(place, spanOf(text, text, place, offset), locator);
            return;
        }
        ++verdict_.eventLines; // counted back out when it holds no event
        if (searchTornLine(text, place, 0)) return;
        if (line.kind == MessageKind::Lookalike)
            verdict_.strays.push_back({place, StrayLine::Uncovered, std::nullopt});
        else
            --verdict_.eventLines;
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
            if (starts++ == options_.limits.eventStarts || 2 * (text.size() - at) > hashBudget) {
                unchecked = true;
                break;
            }
            hashBudget -= 2 * (text.size() - at);
            const std::string_view rest = text.substr(at);
            const SealedLines::Match match = lines_.match(rest, seal::locatorOf(rest), options_.limits.candidates);
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
        SealedLines::Seal& sealed = lines_.seal(slot.seal);
        Session& session = sessions_[sealed.session];
        const std::uint64_t number = sealed.seal->first + slot.offset;
        if (match.outcome == SealedLines::Match::Again) {
            if (slot.found != UINT16_MAX) ++slot.found;
            session.verdict.duplicates.push_back(copyOf(match.line, place).second);
            return;
        }
        lines_.markFound(match.line);
        slot.place = packPlace(place);
        slot.ordinal = ++session.ordinal;
        sealed.lastOrdinal = session.ordinal;
        foundFirst(session, number, place, prefixHost);
        leaveOutgrown(session);
    }

    // A copy at `place` of line `slot`, found before: its session, and a
    // resend while the session has not moved on by the resend window since.
    std::pair<std::size_t, Duplicate> copyOf(std::uint32_t slot, LinePlace place) {
        const SealedLines::Line& line = lines_.line(slot);
        const SealedLines::Seal& sealed = lines_.seal(line.seal);
        const Session& session = sessions_[sealed.session];
        return {sealed.session,
                {place, unpackPlace(line.place), sealed.seal->first + line.offset,
                 session.ordinal - line.ordinal > options_.resendWindow}};
    }

    // A sealed line found for the first time.
    void foundFirst(Session& session, std::uint64_t number, LinePlace place, std::string_view prefixHost) {
        SessionVerdict& verdict = session.verdict;
        if (!prefixHost.empty() && verdict.opened() && !sameHost(prefixHost, verdict.openings.front().opening.host))
            verdict.foreignHost.push_back({place, number});
        if (verdict.contested()) {
            ++verdict.contestedLines;
            return;
        }
        ++verdict.verified;
        if (session.anyFound && number < session.highest) ++verdict.reordered;
        session.highest = std::max(session.highest, number);
        session.anyFound = true;
    }

    // --- After the reading: the lines that came when their seals had left -------

    // Each line still waiting is tried under every seal whose lines share its
    // locator, reading the seals once more: the first time a sealed line is
    // found, it is found late; a copy of a line found before is replayed, and
    // its original is looked for once more.
    void settleLate() {
        if (waiting_.empty()) return;
        std::vector<LateHit> hits = lateHits();
        std::sort(hits.begin(), hits.end());
        std::map<std::pair<std::uint32_t, std::uint32_t>, LinePlace> foundLate;
        std::vector<SoughtOriginal> sought;
        for (const LateHit& hit : hits) {
            std::string_view host;
            waiting_.message(hit.waiting, host);
            placeLate(hit, waiting_.place(hit.waiting), std::string(host), foundLate, sought);
        }
        if (!sought.empty()) findOriginals(sought);
    }

    // Seal by seal, in order, each waiting line that a seal holds takes the
    // lowest numbered of the seal's lines with its tag not found yet, and is
    // settled; one that finds none left is a copy of the first seal's that
    // holds it. One hit per line settled.
    std::vector<LateHit> lateHits() {
        std::vector<LateHit> hits;
        std::map<std::uint32_t, LateHit> copies;
        std::vector<std::uint32_t> triable; // for version 1 seals, which carry no locators
        bool triableListed = false;
        for (std::uint32_t id = 0; id < lines_.sealCount(); ++id) {
            if (lines_.seal(id).seal->count == 0) continue;
            const seal::SealRecord record = readAgain(id);
            const LineRuns runs(record);
            // Per run, from where its lines may not be found yet.
            std::vector<std::uint32_t> from(runs.size(), UINT32_MAX);
            // False when line `w` is settled or can no longer be tried.
            const auto tried = [&](std::uint32_t w, const LineRuns::Range& group) {
                const auto tag = waiting_.tagUnder(w, *lines_.seal(id).seal);
                if (!tag) return false;
                const LineRuns::Range run = runs.run(group, *tag);
                if (run.empty()) return true;
                std::uint32_t& at = from[run.begin];
                at = at == UINT32_MAX ? run.begin : at;
                while (at < run.end && !isUnfound(id, runs[at].offset))
                    ++at;
                if (at == run.end) {
                    copies.try_emplace(w, LateHit{w, id, runs[run.begin].offset, *tag});
                    return true;
                }
                hits.push_back({w, id, runs[at++].offset, *tag});
                waiting_.settle(w);
                copies.erase(w);
                return false;
            };
            if (!record.locators.empty()) {
                for (const LineRuns::Range& group : runs.groups())
                    for (const std::uint32_t w : waiting_.withLocator(runs[group.begin].locator))
                        tried(w, group);
                continue;
            }
            if (!triableListed) triable = waiting_.triable();
            triableListed = true;
            // Every waiting line is a candidate, until it is settled or the bound stops it.
            const LineRuns::Range whole{0, runs.size()};
            triable.erase(
                std::remove_if(triable.begin(), triable.end(), [&](std::uint32_t w) { return !tried(w, whole); }),
                triable.end());
        }
        for (const auto& [w, hit] : copies) {
            waiting_.settle(w);
            hits.push_back(hit);
        }
        return hits;
    }

    bool isUnfound(std::uint32_t seal, std::uint32_t offset) const {
        const SealedLines::SealFindings& findings = lines_.seal(seal).findings;
        return std::binary_search(findings.unfound.begin(), findings.unfound.end(), offset) ||
               std::binary_search(findings.tornOnly.begin(), findings.tornOnly.end(), offset);
    }

    void placeLate(const LateHit& hit, LinePlace place, std::string_view prefixHost,
                   std::map<std::pair<std::uint32_t, std::uint32_t>, LinePlace>& foundLate,
                   std::vector<SoughtOriginal>& sought) {
        SealedLines::Seal& sealed = lines_.seal(hit.seal);
        Session& session = sessions_[sealed.session];
        const std::uint64_t number = sealed.seal->first + hit.offset;
        SealedLines::SealFindings& findings = sealed.findings;
        if (findings.takeUnfound(hit.offset)) {
            findings.earliest = std::min(findings.earliest, place);
            findings.latest = std::max(findings.latest, place);
            ++session.ordinal;
            foundLate[{hit.seal, hit.offset}] = place;
            foundFirst(session, number, place, prefixHost);
            return;
        }
        const auto original = foundLate.find({hit.seal, hit.offset});
        std::vector<Duplicate>& duplicates = session.verdict.duplicates;
        duplicates.push_back({place, original != foundLate.end() ? original->second : LinePlace{}, number, true});
        if (original == foundLate.end())
            sought.push_back({sealed.session, duplicates.size() - 1, hit.seal, hit.tag, waiting_.locator(hit.waiting)});
    }

    // Where the originals of copies found late are: the first whole message
    // before the copy that its seal's tag fits.
    void findOriginals(std::vector<SoughtOriginal>& sought) {
        std::unordered_multimap<std::uint32_t, std::size_t> byLocator;
        for (std::size_t i = 0; i < sought.size(); ++i)
            byLocator.emplace(locatorValue(sought[i].locator), i);
        eachLine(
            [&](std::string_view text, LinePlace place, std::uint64_t) {
                const CollectedLine line = readCollectedLine(text, options_.prefixes, customPrefix_.get());
                if (line.kind != MessageKind::Event) return;
                const auto [begin, end] = byLocator.equal_range(locatorValue(seal::locatorOf(line.message)));
                for (auto at = begin; at != end;) {
                    const SoughtOriginal& wanted = sought[at->second];
                    Duplicate& copy = sessions_[wanted.session].verdict.duplicates[wanted.duplicate];
                    if (place < copy.place &&
                        seal::tagOf(*lines_.seal(wanted.seal).seal->tagKey, line.message) == wanted.tag) {
                        copy.original = place;
                        at = byLocator.erase(at);
                    } else {
                        ++at;
                    }
                }
            },
            false);
    }

    // --- Verdicts ---------------------------------------------------------------

    void concludeSession(std::size_t s, std::vector<Explainer>& explainers, std::vector<Loss>& losses) {
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
            const SealedLines::SealFindings& found = lines_.seal(session.firstSeal + i).findings;
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
        if (chain.opening.index != 0) {
            // Verified from a checkpoint: the lines numbered before it came
            // before the seal after it.
            explainers.push_back(
                {kStart, latestFrom(std::min<std::size_t>(1, chain.seals.size() - 1)), chain.seals.front().first});
            losses.push_back({s, StrayLine::BeforeCheckpoint, 0});
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
        std::vector<LinePlace> strays, unchecked;
        waiting_.release(strays, unchecked);
        for (const LinePlace& place : unchecked)
            uncheckedStray(place);
        const std::vector<std::size_t> given = explainStrays(strays, explainers);
        std::vector<LinePlace> left;
        for (std::size_t i = 0; i < strays.size(); ++i) {
            if (given[i] == static_cast<std::size_t>(-1)) {
                left.push_back(strays[i]);
                continue;
            }
            const Loss& loss = losses[given[i]];
            SessionVerdict& verdict = sessions_[loss.session].verdict;
            if (loss.kind == StrayLine::LostSeal)
                ++verdict.gaps[loss.gap].unverifiable;
            else if (loss.kind == StrayLine::BeforeCheckpoint)
                ++verdict.beforeCheckpoint;
            else
                ++verdict.notYetSealed;
            verdict_.strays.push_back({strays[i], loss.kind, loss.session});
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
    CollectedFiles files_;
    std::unique_ptr<const CustomPrefix> customPrefix_;
    GuardedKeys keys_; // before the index, which points into it
    TrailVerdict verdict_;
    std::vector<std::uint64_t> fileStart_; // per file, the lines of the files before it
    std::uint64_t position_ = 0;           // of the line being read, in the whole collection
    std::unordered_map<seal::SessionId, std::size_t, SessionIdHash> ids_;
    std::vector<Session> sessions_; // in the order first read
    SealedLines lines_;
    std::uint64_t openingBudget_ = 0; // openings left to decrypt
    // When each seal's lines are loaded (the position, the seal), in order.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> loads_;
    std::size_t nextLoad_ = 0;
    // The loaded seals by the position of their own lines, the earliest on top.
    std::priority_queue<std::pair<std::uint64_t, std::uint32_t>, std::vector<std::pair<std::uint64_t, std::uint32_t>>,
                        std::greater<>>
        window_;
    WaitingLines waiting_{files_, options_.prefixes, customPrefix_.get(), options_.limits.candidates};
    // Waiting lines that a seal, when it was loaded, held only as copies of
    // lines found: each with its first such copy, in the order read.
    std::map<std::uint32_t, std::pair<std::size_t, Duplicate>> copies_;
    HostLedgerCheck ledger_{options_.registry};
    std::vector<Explainer> unopened_; // what unopened sessions may hold, tried last
    std::vector<Loss> unopenedLosses_;
};

} // namespace

TrailVerdict verifyTrail(const std::vector<std::string>& files, const VerifyOptions& options) {
    return Verifier(files, options).run();
}

} // namespace quorvel::trail
