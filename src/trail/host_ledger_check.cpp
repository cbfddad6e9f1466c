#include "trail/host_ledger_check.h"

#include "trail/guarded_block.h"
#include "trail/seal_settings.h"

#include <sodium.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>

namespace quorvel::trail {

namespace {

// A host's seed, only while its first keys are made from it.
class GuardedSeed {
  public:
    GuardedSeed() : seed_(static_cast<seal::HostSeed*>(seal::allocateGuardedBlock(sizeof(seal::HostSeed)))) {}
    ~GuardedSeed() { sodium_free(seed_); }
    GuardedSeed(const GuardedSeed&) = delete;
    GuardedSeed& operator=(const GuardedSeed&) = delete;
    seal::HostSeed& seed() { return *seed_; }

  private:
    seal::HostSeed* seed_;
};

} // namespace

bool HostLedgerCheck::read(std::string_view message, LinePlace place) {
    auto read = seal::readEpochRecord(message);
    if (!read) return false;
    std::vector<Kept>& kept = records_[read->record.hostId];
    if (kept.size() >= kMostRecordsPerHost) {
        ++unchecked_;
        return true;
    }
    kept.push_back({read->record, std::string(read->signedText), read->mac, seal::recordDigest(message), place});
    return true;
}

void HostLedgerCheck::settle(const seal::AuditorPublicKey& publicKey, const seal::AuditorSecretKey& secretKey,
                             std::uint64_t collectionEnd, std::uint64_t windowFrom) {
    for (const RegisteredHost& host : registry_) {
        Settled settled = settleHost(host, publicKey, secretKey, collectionEnd, windowFrom);
        // Only a host the auditor enrolled vouches for a checkpoint; one
        // seal named for two sessions (a session that reported another's
        // seal as its own) vouches for none.
        if (settled.verdict.fingerprintMatches && settled.verdict.enrollmentOpens)
            for (const seal::SessionEntry& entry : settled.named) {
                if (entry.event != seal::SessionEvent::Checkpoint) continue;
                const LedgerAnchor anchor{settled.enrollment->record.hostId, entry.number, entry.index};
                const auto [at, added] = checkpoints_.emplace(entry.seal, anchor);
                if (!added && (at->second.host != anchor.host || at->second.number != anchor.number ||
                               at->second.index != anchor.index))
                    at->second.index = seal::kNoSealIndex; // named twice: no anchor
            }
        settled_.push_back(std::move(settled));
    }
}

std::optional<LedgerAnchor> HostLedgerCheck::checkpointAnchor(const seal::Bytes32& digest) const {
    const auto found = checkpoints_.find(digest);
    if (found == checkpoints_.end() || found->second.index == seal::kNoSealIndex) return std::nullopt;
    return found->second;
}

void HostLedgerCheck::attested(std::size_t session, const seal::CarriedAttestation& carried, std::uint64_t openedAt,
                               std::vector<std::pair<std::uint64_t, seal::Bytes32>> seals) {
    std::sort(seals.begin(), seals.end());
    claims_[carried.attestation.hostId].push_back({session, carried, std::nullopt, openedAt, std::move(seals)});
}

void HostLedgerCheck::checkpointed(std::size_t session, const LedgerAnchor& anchor,
                                   std::vector<std::pair<std::uint64_t, seal::Bytes32>> seals) {
    std::sort(seals.begin(), seals.end());
    claims_[anchor.host].push_back({session, std::nullopt, anchor, 0, std::move(seals)});
}

void HostLedgerCheck::conclude(const seal::AuditorPublicKey& publicKey, const seal::AuditorSecretKey& secretKey,
                               TrailVerdict& verdict) {
    if (!registry_.empty())
        for (SessionVerdict& session : verdict.sessions)
            if (session.opened()) session.origin.kind = SessionOrigin::Unattested;
    std::set<seal::HostId> registered;
    for (Settled& settled : settled_) {
        if (!settled.enrollment) {
            verdict.hosts.push_back(std::move(settled.verdict));
            continue;
        }
        const seal::HostId& id = settled.enrollment->record.hostId;
        registered.insert(id);
        // A second walk of the keys, in the order of the attestations' epochs.
        seal::HostEpochKeys keys;
        if (settled.verdict.enrollmentOpens && openSeed(*settled.enrollment, publicKey, secretKey, keys)) {
            std::vector<Claim>& claims = claims_[id];
            checkClaims(keys, claims, settled.epochs, verdict.sessions);
            checkNamed(claims, settled.named, settled.epochs.first, settled.verdict, verdict.sessions);
        }
        verdict.hosts.push_back(std::move(settled.verdict));
    }
    for (const auto& [id, kept] : records_)
        if (!registered.count(id))
            for (const Kept& record : kept)
                verdict.unregisteredLedger.push_back(record.place);
    std::sort(verdict.unregisteredLedger.begin(), verdict.unregisteredLedger.end());
    if (!registry_.empty())
        for (const auto& [id, claims] : claims_)
            if (!registered.count(id))
                for (const Claim& claim : claims) // attested: only a registered host anchors a checkpoint
                    verdict.sessions[claim.session].origin = {SessionOrigin::UnregisteredHost,
                                                              claim.carried->attestation, std::nullopt};
    verdict.unchecked.ledgerRecords += unchecked_;
}

bool HostLedgerCheck::openSeed(const seal::ReadEnrollment& enrollment, const seal::AuditorPublicKey& publicKey,
                               const seal::AuditorSecretKey& secretKey, seal::HostEpochKeys& keys) {
    GuardedSeed seed;
    if (!seal::openEnrollment(enrollment, publicKey, secretKey, seed.seed())) return false;
    keys.begin(seed.seed());
    return true;
}

HostLedgerCheck::Settled HostLedgerCheck::settleHost(const RegisteredHost& host,
                                                     const seal::AuditorPublicKey& publicKey,
                                                     const seal::AuditorSecretKey& secretKey,
                                                     std::uint64_t collectionEnd, std::uint64_t windowFrom) {
    Settled settled;
    HostLedgerVerdict& verdict = settled.verdict;
    verdict.fingerprint = host.fingerprint;
    verdict.fingerprintMatches = seal::fingerprintOf(host.record) == host.fingerprint;
    std::optional<seal::ReadEnrollment>& enrollment = settled.enrollment;
    enrollment = seal::readEnrollment(host.record);
    if (!enrollment) return settled;
    verdict.host = enrollment->record.host;
    seal::HostEpochKeys keys;
    if (!openSeed(*enrollment, publicKey, secretKey, keys)) return settled;
    verdict.enrollmentOpens = true;
    const std::uint64_t origin = enrollment->record.time, length = enrollment->record.epochMillis;
    const auto epochAt = [&](std::uint64_t time) { return time < origin ? 0 : (time - origin) / length; };
    // The epoch under way when the collection ends (none after it has
    // ended), and when its window starts.
    settled.epochs = {origin, length, epochAt(collectionEnd), windowFrom == 0 ? 0 : epochAt(windowFrom)};
    checkRecords(keys, host, records_[enrollment->record.hostId], settled.epochs, verdict, settled.named);
    return settled;
}

// The records of the host's chain whose MACs hold, in the chain's order;
// the others are named in `verdict`.
std::vector<const HostLedgerCheck::Kept*> HostLedgerCheck::authenticRecords(seal::HostEpochKeys& keys,
                                                                            std::vector<Kept>& kept,
                                                                            const Epochs& epochs,
                                                                            HostLedgerVerdict& verdict) {
    std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) {
        return std::tie(a.record.epoch, a.record.part, a.digest) < std::tie(b.record.epoch, b.record.part, b.digest);
    });
    std::vector<const Kept*> authentic;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const Kept& record = kept[i];
        if (i > 0 && record.digest == kept[i - 1].digest) continue; // a copy
        if (record.record.epoch < epochs.first) continue;           // before the window
        if (record.record.epoch > epochs.current) {
            verdict.fromTheFuture.push_back(record.place);
            continue;
        }
        keys.advanceTo(record.record.epoch);
        if (!seal::sameMac(seal::macOf(keys.key(), record.signedText), record.mac)) {
            verdict.failedMacs.push_back(record.place);
        } else if (!authentic.empty() && authentic.back()->record.epoch == record.record.epoch &&
                   authentic.back()->record.part == record.record.part) {
            verdict.conflicting.push_back(record.place);
        } else {
            authentic.push_back(&record);
        }
    }
    return authentic;
}

// The chain from the enrollment (or the window's first epoch) on: each
// record names the one before; an epoch's first part speaks for the epochs
// from the one after the record before, each further part follows the part
// before. The sessions the authentic records name go to `named`.
void HostLedgerCheck::checkRecords(seal::HostEpochKeys& keys, const RegisteredHost& host, std::vector<Kept>& kept,
                                   const Epochs& epochs, HostLedgerVerdict& verdict,
                                   std::vector<seal::SessionEntry>& named) {
    const std::vector<const Kept*> authentic = authenticRecords(keys, kept, epochs, verdict);
    seal::Bytes32 expected = seal::recordDigest(host.record);
    std::uint64_t next = epochs.first; // the first epoch the next epoch's first part speaks for
    const Kept* before = nullptr;      // the record before in the chain
    for (const Kept* record : authentic) {
        const seal::EpochRecord& r = record->record;
        named.insert(named.end(), r.sessions.begin(), r.sessions.end());
        const bool nextPart = before != nullptr && before->record.more;
        if (nextPart) {
            if (r.epoch != before->record.epoch || r.part != before->record.part + 1 || r.previous != expected)
                verdict.lost.push_back({before->record.epoch, r.epoch}); // a part lost
        } else if (r.part != 0) {
            verdict.lost.push_back({std::min(next, r.epoch), r.epoch}); // the epoch's first part lost
        } else if (r.from > next) {
            verdict.lost.push_back({next, r.from - 1});
        } else if (before == nullptr && epochs.first > 0) {
            // The window's first record: the one it follows is before the window.
        } else if (r.from < next || r.previous != expected) {
            verdict.lost.push_back({r.from, r.epoch}); // not the record after the one before
        }
        if (r.part == 0 && r.from < r.epoch) verdict.agentDown.push_back({r.from, r.epoch - 1});
        expected = record->digest;
        next = r.epoch + 1;
        before = record;
    }
    if (before != nullptr && before->record.more) verdict.lost.push_back({before->record.epoch, before->record.epoch});
    verdict.records = authentic.size();
    if (!authentic.empty())
        verdict.epochs = NumberRange{authentic.front()->record.from, authentic.back()->record.epoch};
    // The record of the epoch that ended last may be on its way.
    verdict.stopped = epochs.current > next + 1;
}

// Each claimed attestation checked under its epoch's key: the session's
// origin.
void HostLedgerCheck::checkClaims(seal::HostEpochKeys& keys, std::vector<Claim>& claims, const Epochs& epochs,
                                  std::vector<SessionVerdict>& sessions) {
    const auto epochOf = [](const Claim& claim) { return claim.carried ? claim.carried->attestation.epoch : 0; };
    std::sort(claims.begin(), claims.end(), [&](const Claim& a, const Claim& b) { return epochOf(a) < epochOf(b); });
    for (const Claim& claim : claims) {
        SessionOrigin& origin = sessions[claim.session].origin;
        if (!claim.carried) { // its checkpoint's anchor was checked with the records
            origin = {SessionOrigin::Checkpointed, std::nullopt, claim.anchor};
            continue;
        }
        const seal::Attestation& attestation = claim.carried->attestation;
        origin = {SessionOrigin::Failed, attestation, std::nullopt};
        if (attestation.epoch > epochs.current) continue;
        keys.advanceTo(attestation.epoch);
        const std::uint64_t start = epochs.origin + attestation.epoch * epochs.length;
        if (seal::attestationHolds(*claim.carried, keys.key()) && claim.openedAt >= start &&
            // Dated after the attestation was made, within the longest the
            // library waits for the agent.
            claim.openedAt < start + epochs.length + kMostAgentMillis)
            origin.kind = SessionOrigin::Attested;
    }
}

// The lowest session number a complete collection holds every number from:
// in a window, the first session opened in it (named opened by its records,
// or attested in it), since a session opened before the window that the
// window's records do not name as living ended before it; without one, 0.
std::uint64_t HostLedgerCheck::firstOpenedIn(std::uint64_t windowEpoch, const std::vector<Claim>& claims,
                                             const std::vector<seal::SessionEntry>& named,
                                             const std::vector<SessionVerdict>& sessions) {
    if (windowEpoch == 0) return 0;
    std::uint64_t first = UINT64_MAX;
    for (const seal::SessionEntry& entry : named)
        if (entry.event == seal::SessionEvent::Opened) first = std::min(first, entry.number);
    for (const Claim& claim : claims)
        if (claim.carried && claim.carried->attestation.epoch >= windowEpoch &&
            sessions[claim.session].origin.kind == SessionOrigin::Attested)
            first = std::min(first, claim.number());
    return first;
}

// What the ledger names of each session, against the attested sessions the
// collection holds: every seal it names present as named (a seal before
// the checkpoint a session is verified from is not: its lines cannot be),
// the sessions it saw vanish, and every session number accounted for, from
// the lowest seen (in a window, the first opened in it) to the highest:
// attested here, or gone before it logged a seal.
void HostLedgerCheck::checkNamed(const std::vector<Claim>& claims, const std::vector<seal::SessionEntry>& named,
                                 std::uint64_t windowEpoch, HostLedgerVerdict& verdict,
                                 std::vector<SessionVerdict>& sessions) {
    std::map<std::uint64_t, const Claim*> attested;
    std::set<std::uint64_t> present, absent;
    for (const Claim& claim : claims) {
        const SessionOrigin::Kind kind = sessions[claim.session].origin.kind;
        if (kind != SessionOrigin::Attested && kind != SessionOrigin::Checkpointed) continue;
        const std::uint64_t number = claim.number();
        if (!attested.emplace(number, &claim).second) verdict.reusedNumbers.push_back(number);
        present.insert(number);
    }
    for (const seal::SessionEntry& entry : named) {
        const auto found = attested.find(entry.number);
        if (found == attested.end()) {
            const bool goneUnopened = entry.event == seal::SessionEvent::Vanished && entry.index == seal::kNoSealIndex;
            (goneUnopened ? present : absent).insert(entry.number);
            continue;
        }
        SessionVerdict& session = sessions[found->second->session];
        if (entry.event == seal::SessionEvent::Vanished) session.vanished = true;
        if (entry.index == seal::kNoSealIndex) continue;
        const auto& seals = found->second->seals;
        const auto seal = std::lower_bound(seals.begin(), seals.end(), std::make_pair(entry.index, seal::Bytes32{}));
        const bool held = entry.index >= found->second->firstIndex() &&
                          std::any_of(seal, seals.end(),
                                      [&](const auto& s) { return s.first == entry.index && s.second == entry.seal; });
        if (!held) session.unanchored.push_back(entry.index);
    }
    for (SessionVerdict& session : sessions) {
        std::sort(session.unanchored.begin(), session.unanchored.end());
        session.unanchored.erase(std::unique(session.unanchored.begin(), session.unanchored.end()),
                                 session.unanchored.end());
    }
    std::set<std::uint64_t> all = present;
    all.insert(absent.begin(), absent.end());
    const std::uint64_t from = firstOpenedIn(windowEpoch, claims, named, sessions);
    std::optional<std::uint64_t> last;
    for (const std::uint64_t number : all) {
        const std::uint64_t gapFrom = last ? std::max(*last + 1, from) : number;
        if (gapFrom < number) verdict.missingSessions.push_back({gapFrom, number - 1});
        if (!present.count(number)) verdict.missingSessions.push_back({number, number});
        last = number;
    }
    verdict.sessions = attested.size();
}

} // namespace quorvel::trail
