// A sealed session's ledger: it numbers lines, keeps their tags and
// locators for the next seal, says when that seal is due and cuts it, the
// keys moving on with every seal. No thread and no lock of its own: the
// worker that owns it serialises every call, and tests drive it with times
// of their choosing.
#pragma once

#include "trail/seal_record.h"
#include "trail/seal_settings.h"
#include "trail/sealing_keys.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class SealLedger {
  public:
    using Clock = std::chrono::steady_clock;

    SealLedger(SealSettings settings, std::string host, std::string module);

    // A new session (identifier, first key, numbering from 0) of process
    // `pid`; what the host agent is asked to attest of it.
    seal::AttestationRequest begin(std::uint64_t pid);
    // The session's opening seal, which covers no line, carrying the
    // agent's attestation when it gave one, ready to log. An attested
    // session's seals carry a checkpoint every `checkpointMillis`.
    std::string open(std::optional<seal::CarriedAttestation> attestation, Clock::time_point now,
                     std::uint64_t wallMillis);
    // Numbers `line`, which is about to be logged, for the next seal.
    void record(std::string_view line, Clock::time_point now);
    // When the next seal is due: at once when `lines` lines wait; `millis`
    // after the first waiting line; else `idleMillis` after the last seal.
    Clock::time_point nextDue() const;
    // When the thread must look again, at `now`: when the next seal is due,
    // and with no line waiting within one sealing period, as a line may come
    // meanwhile; so that no logging call has to wake the thread.
    Clock::time_point nextLook(Clock::time_point now) const;
    // The next seal, ready to log; `end` marks the session's last.
    std::string cut(bool end, Clock::time_point now, std::uint64_t wallMillis);
    // Every key erased and every waiting line dropped (a forked child's
    // copy of its parent's session), until the next begin().
    void forget();
    // Every key erased after the session's last seal, until the next begin().
    void finish();

    std::size_t waiting() const { return tags_.size(); }
    // The index of the seal cut last (the opening's: 0).
    std::uint64_t lastIndex() const { return index_ - 1; }
    // Whether the seal cut last carries a checkpoint.
    bool lastCheckpointed() const { return lastCheckpointed_; }
    const seal::SealingKeys& keys() const { return keys_; }

  private:
    std::string write(seal::SealRecord& record, Clock::time_point now, std::uint64_t wallMillis);

    const SealSettings settings_;
    const std::string host_;
    const std::string module_;
    seal::SealingKeys keys_;
    seal::SessionId id_{};
    std::uint64_t pid_ = 0;
    seal::EncryptedKey firstKey_{}; // the session's first key, encrypted to the auditor
    std::uint64_t index_ = 0;       // of the next seal
    std::uint64_t nextLine_ = 0;    // the next line's number
    std::vector<seal::LineTag> tags_;
    std::vector<seal::LineLocator> locators_; // of the same lines
    Clock::time_point firstWaitingAt_;
    Clock::time_point lastSealAt_;
    bool checkpointing_ = false; // the session is attested
    bool lastCheckpointed_ = false;
    Clock::time_point lastCheckpointAt_; // or the opening's time
};

} // namespace quorvel
