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

void HostLedgerCheck::conclude(const seal::AuditorPublicKey& publicKey, const seal::AuditorSecretKey& secretKey,
                               std::uint64_t collectionEnd, TrailVerdict& verdict) {
    std::set<seal::HostId> registered;
    for (const RegisteredHost& host : registry_) {
        verdict.hosts.push_back(check(host, publicKey, secretKey, collectionEnd));
        if (const auto enrollment = seal::readEnrollment(host.record)) registered.insert(enrollment->record.hostId);
    }
    for (const auto& [id, kept] : records_)
        if (!registered.count(id))
            for (const Kept& record : kept)
                verdict.unregisteredLedger.push_back(record.place);
    std::sort(verdict.unregisteredLedger.begin(), verdict.unregisteredLedger.end());
    verdict.unchecked.ledgerRecords += unchecked_;
}

HostLedgerVerdict HostLedgerCheck::check(const RegisteredHost& host, const seal::AuditorPublicKey& publicKey,
                                         const seal::AuditorSecretKey& secretKey, std::uint64_t collectionEnd) {
    HostLedgerVerdict verdict;
    verdict.fingerprint = host.fingerprint;
    verdict.fingerprintMatches = seal::fingerprintOf(host.record) == host.fingerprint;
    const auto enrollment = seal::readEnrollment(host.record);
    if (!enrollment) return verdict;
    verdict.host = enrollment->record.host;
    seal::HostEpochKeys keys;
    {
        GuardedSeed seed;
        if (!seal::openEnrollment(*enrollment, publicKey, secretKey, seed.seed())) return verdict;
        keys.begin(seed.seed());
    }
    verdict.enrollmentOpens = true;
    const std::uint64_t origin = enrollment->record.time, length = enrollment->record.epochMillis;
    // The epoch under way when the collection ends; none after it has ended.
    const std::uint64_t current = collectionEnd < origin ? 0 : (collectionEnd - origin) / length;
    std::vector<Kept>& kept = records_[enrollment->record.hostId];
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
    return verdict;
}

} // namespace quorvel::trail
