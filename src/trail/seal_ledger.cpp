#include "trail/seal_ledger.h"

#include "trail/seal_record.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace quorvel {

namespace {

// `millis` after `from`, or the clock's end when that lies beyond it: a
// cadence of any size means "that long", never a deadline in the past.
SealLedger::Clock::time_point later(SealLedger::Clock::time_point from, std::uint64_t millis) {
    using Clock = SealLedger::Clock;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - from).count();
    if (millis >= static_cast<std::uint64_t>(left)) return Clock::time_point::max();
    return from + std::chrono::milliseconds(millis);
}

} // namespace

SealLedger::SealLedger(SealSettings settings, std::string host, std::string module)
    : settings_(std::move(settings)), host_(std::move(host)), module_(std::move(module)) {
    tags_.reserve(settings_.lines);
    locators_.reserve(settings_.lines);
}

seal::AttestationRequest SealLedger::begin(std::uint64_t pid) {
    id_ = seal::randomSessionId();
    pid_ = pid;
    keys_.begin();
    index_ = 0;
    nextLine_ = 0;
    tags_.clear();
    locators_.clear();
    firstKey_ = seal::encryptForAuditor(keys_.key(), settings_.auditor);
    return {id_, seal::firstKeyDigest(firstKey_)};
}

std::string SealLedger::open(std::optional<seal::CarriedAttestation> attestation, Clock::time_point now,
                             std::uint64_t wallMillis) {
    checkpointing_ = attestation.has_value();
    lastCheckpointAt_ = now;
    seal::SealRecord record;
    record.opening = seal::SessionOpening{host_,
                                          module_,
                                          pid_,
                                          settings_.lines,
                                          settings_.millis,
                                          settings_.idleMillis,
                                          firstKey_,
                                          std::move(attestation)};
    return write(record, now, wallMillis);
}

void SealLedger::record(std::string_view line, Clock::time_point now) {
    if (tags_.empty()) firstWaitingAt_ = now;
    tags_.push_back(seal::tagOf(keys_.tagKey(), line));
    locators_.push_back(seal::locatorOf(line));
    ++nextLine_;
}

SealLedger::Clock::time_point SealLedger::nextDue() const {
    if (tags_.size() >= settings_.lines) return Clock::time_point::min();
    if (!tags_.empty()) return later(firstWaitingAt_, settings_.millis);
    return later(lastSealAt_, settings_.idleMillis);
}

SealLedger::Clock::time_point SealLedger::nextLook(Clock::time_point now) const {
    const Clock::time_point due = nextDue();
    return tags_.empty() ? std::min(due, later(now, settings_.millis)) : due;
}

std::string SealLedger::cut(bool end, Clock::time_point now, std::uint64_t wallMillis) {
    seal::SealRecord record;
    record.first = nextLine_ - tags_.size();
    record.tags.swap(tags_);
    record.locators.swap(locators_);
    record.end = end;
    if (checkpointing_ && now >= later(lastCheckpointAt_, settings_.checkpointMillis)) {
        // This seal's own key, for an audit that starts here.
        record.checkpoint = seal::SealCheckpoint{pid_, settings_.lines, settings_.millis, settings_.idleMillis,
                                                 seal::encryptForAuditor(keys_.key(), settings_.auditor)};
        lastCheckpointAt_ = now;
    }
    std::string line = write(record, now, wallMillis);
    // The vectors go back for the next seal, their capacity kept.
    record.tags.clear();
    record.locators.clear();
    tags_.swap(record.tags);
    locators_.swap(record.locators);
    return line;
}

std::string SealLedger::write(seal::SealRecord& record, Clock::time_point now, std::uint64_t wallMillis) {
    record.session = id_;
    record.index = index_++;
    record.time = wallMillis;
    lastCheckpointed_ = record.checkpoint.has_value();
    std::string line = seal::writeSeal(record, keys_.macKey());
    keys_.advance();
    seal::eraseStackBelow();
    lastSealAt_ = now;
    return line;
}

void SealLedger::forget() {
    keys_.renewInChild();
    tags_.clear();
    locators_.clear();
}

void SealLedger::finish() {
    keys_.erase();
    tags_.clear();
    locators_.clear();
}

} // namespace quorvel
