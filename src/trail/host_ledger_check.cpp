#include "trail/host_ledger_check.h"

#include "trail/guarded_block.h"

#include <sodium.h>

#include <algorithm>
#include <set>

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

// A session's opening is dated after its attestation was made, within the
// longest the library waits for the agent.
constexpr std::uint64_t kAskingMillis = 10000;

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

void HostLedgerCheck::attested(std::size_t session, const seal::CarriedAttestation& carried, std::uint64_t openedAt) {
    claims_[carried.attestation.hostId].push_back({session, carried, openedAt});
}

void HostLedgerCheck::conclude(const seal::AuditorPublicKey& publicKey, const seal::AuditorSecretKey& secretKey,
                               std::uint64_t collectionEnd, TrailVerdict& verdict) {
    if (!registry_.empty())
        for (SessionVerdict& session : verdict.sessions)
            if (session.opened()) session.origin.kind = SessionOrigin::Unattested;
    std::set<seal::HostId> registered;
    for (const RegisteredHost& host : registry_) {
        verdict.hosts.push_back(check(host, publicKey, secretKey, collectionEnd, verdict.sessions));
        if (const auto enrollment = seal::readEnrollment(host.record)) registered.insert(enrollment->record.hostId);
    }
    for (const auto& [id, kept] : records_)
        if (!registered.count(id))
            for (const Kept& record : kept)
                verdict.unregisteredLedger.push_back(record.place);
    std::sort(verdict.unregisteredLedger.begin(), verdict.unregisteredLedger.end());
    if (!registry_.empty())
        for (const auto& [id, claims] : claims_)
            if (!registered.count(id))
                for (const Claim& claim : claims)
                    verdict.sessions[claim.session].origin = {SessionOrigin::UnregisteredHost,
                                                              claim.carried.attestation};
    verdict.unchecked.ledgerRecords += unchecked_;
}

HostLedgerVerdict HostLedgerCheck::check(const RegisteredHost& host, const seal::AuditorPublicKey& publicKey,
                                         const seal::AuditorSecretKey& secretKey, std::uint64_t collectionEnd,
                                         std::vector<SessionVerdict>& sessions) {
    HostLedgerVerdict verdict;
    verdict.fingerprint = host.fingerprint;
    verdict.fingerprintMatches = seal::fingerprintOf(host.record) == host.fingerprint;
    const auto enrollment = seal::readEnrollment(host.record);
    if (!enrollment) return verdict;
    verdict.host = enrollment->record.host;
    // One walk of the keys for the ledger's records, one for the sessions'
    // attestations, each in the order of its epochs.
    seal::HostEpochKeys recordKeys, sessionKeys;
    {
        GuardedSeed seed;
        if (!seal::openEnrollment(*enrollment, publicKey, secretKey, seed.seed())) return verdict;
        recordKeys.begin(seed.seed());
        sessionKeys.begin(seed.seed());
    }
    verdict.enrollmentOpens = true;
    const std::uint64_t origin = enrollment->record.time, length = enrollment->record.epochMillis;
    // The epoch under way when the collection ends; none after it has ended.
    const Epochs epochs{origin, length, collectionEnd < origin ? 0 : (collectionEnd - origin) / length};
    checkRecords(recordKeys, host, records_[enrollment->record.hostId], epochs, verdict);
    checkClaims(sessionKeys, claims_[enrollment->record.hostId], epochs, verdict, sessions);
    return verdict;
}

void HostLedgerCheck::checkRecords(seal::HostEpochKeys& keys, const RegisteredHost& host, std::vector<Kept>& kept,
                                   const Epochs& epochs, HostLedgerVerdict& verdict) {
    const std::uint64_t current = epochs.current;
    std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) {
        return a.record.epoch != b.record.epoch ? a.record.epoch < b.record.epoch : a.digest < b.digest;
    });
    std::vector<const Kept*> authentic;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const Kept& record = kept[i];
        if (i > 0 && record.digest == kept[i - 1].digest) continue; // a copy
        if (record.record.epoch > current) {
            verdict.fromTheFuture.push_back(record.place);
            continue;
        }
        keys.advanceTo(record.record.epoch);
        if (!seal::sameMac(seal::macOf(keys.key(), record.signedText), record.mac)) {
            verdict.failedMacs.push_back(record.place);
        } else if (!authentic.empty() && authentic.back()->record.epoch == record.record.epoch) {
            verdict.conflicting.push_back(record.place);
        } else {
            authentic.push_back(&record);
        }
    }
    // The chain from the enrollment on: each record names the one before and
    // speaks for the epochs from the one after it.
    seal::Bytes32 expected = seal::recordDigest(host.record);
    std::uint64_t next = 0;
    for (const Kept* record : authentic) {
        const seal::EpochRecord& r = record->record;
        if (r.from > next)
            verdict.lost.push_back({next, r.from - 1});
        else if (r.from < next || r.previous != expected)
            verdict.lost.push_back({r.from, r.epoch}); // not the record after the one before
        if (r.from < r.epoch) verdict.agentDown.push_back({r.from, r.epoch - 1});
        expected = record->digest;
        next = r.epoch + 1;
    }
    verdict.records = authentic.size();
    if (!authentic.empty())
        verdict.epochs = NumberRange{authentic.front()->record.from, authentic.back()->record.epoch};
    // The record of the epoch that ended last may be on its way.
    verdict.stopped = current > next + 1;
}

void HostLedgerCheck::checkClaims(seal::HostEpochKeys& keys, std::vector<Claim>& claims, const Epochs& epochs,
                                  HostLedgerVerdict& verdict, std::vector<SessionVerdict>& sessions) {
    std::sort(claims.begin(), claims.end(),
              [](const Claim& a, const Claim& b) { return a.carried.attestation.epoch < b.carried.attestation.epoch; });
    std::vector<std::uint64_t> numbers;
    for (const Claim& claim : claims) {
        const seal::Attestation& attestation = claim.carried.attestation;
        SessionOrigin& origin = sessions[claim.session].origin;
        origin = {SessionOrigin::Failed, attestation};
        if (attestation.epoch > epochs.current) continue;
        keys.advanceTo(attestation.epoch);
        const std::uint64_t start = epochs.origin + attestation.epoch * epochs.length;
        if (!seal::attestationHolds(claim.carried, keys.key()) || claim.openedAt < start ||
            claim.openedAt >= start + epochs.length + kAskingMillis)
            continue;
        origin.kind = SessionOrigin::Attested;
        numbers.push_back(attestation.number);
    }
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] == numbers[i - 1])
            verdict.reusedNumbers.push_back(numbers[i]);
        else if (numbers[i] > numbers[i - 1] + 1)
            verdict.missingSessions.push_back({numbers[i - 1] + 1, numbers[i] - 1});
    }
    verdict.sessions = numbers.size();
}

} // namespace quorvel::trail
