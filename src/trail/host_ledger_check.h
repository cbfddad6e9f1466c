// The ledgers of the hosts the auditor has enrolled: each host's enrollment
// record from the auditor's registry (its fingerprint matched, its seed
// opened with the auditor's key), and the epoch records the collection
// holds for it, each checked under its epoch's key and chained to the one
// before. What the chain cannot show is named: epochs no record speaks for
// (evidence lost), epochs the agent says it did not run in, records that
// fail, conflict or come from after the collection's end, and a ledger
// that stopped before the collection did.
#pragma once

#include "trail/epoch_record.h"
#include "trail/trail_verdict.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::trail {

// An enrolled host as the auditor registered it: the fingerprint handed
// over apart from the record, and the record.
struct RegisteredHost {
    std::string fingerprint;
    std::string record;
};

class HostLedgerCheck {
  public:
    // Records kept per host id, at most; more are not checked.
    static constexpr std::size_t kMostRecordsPerHost = std::size_t{1} << 20;

    explicit HostLedgerCheck(const std::vector<RegisteredHost>& registry) : registry_(registry) {}

    // An epoch record read at `place` (its message); false when it is not a
    // well-formed one.
    bool read(std::string_view message, LinePlace place);

    // Once every record is read: each registered host's chain of records
    // checked, from the epoch under way at `windowFrom` (0: from its
    // enrollment) to the one under way at `collectionEnd` (both in ms since
    // the Unix epoch).
    void settle(const seal::AuditorPublicKey& publicKey, const seal::AuditorSecretKey& secretKey,
                std::uint64_t collectionEnd, std::uint64_t windowFrom);
    // The entry of an authentic record that names the seal with `digest` as
    // a checkpoint; nothing when none does.
    std::optional<LedgerAnchor> checkpointAnchor(const seal::Bytes32& digest) const;

    // The attestation that the one authentic opening of `verdict.sessions`'s
    // `session` carries; the session opened at `openedAt` (ms since the Unix
    // epoch).
    // `seals`: the index and digest of each of the session's authentic seals.
    void attested(std::size_t session, const seal::CarriedAttestation& carried, std::uint64_t openedAt,
                  std::vector<std::pair<std::uint64_t, seal::Bytes32>> seals);
    // The same for a session verified from the checkpoint `anchor` names.
    void checkpointed(std::size_t session, const LedgerAnchor& anchor,
                      std::vector<std::pair<std::uint64_t, seal::Bytes32>> seals);

    // Each registered host's verdict, the places of records of other hosts,
    // and with a registry, each opened session's origin.
    void conclude(const seal::AuditorPublicKey& publicKey, const seal::AuditorSecretKey& secretKey,
                  TrailVerdict& verdict);

  private:
    struct Kept {
        seal::EpochRecord record;
        std::string signedText;
        seal::SealMac mac;
        seal::Bytes32 digest;
        LinePlace place;
    };
    struct Claim {
        std::size_t session;
        std::optional<seal::CarriedAttestation> carried; // none: verified from a checkpoint
        std::optional<LedgerAnchor> anchor;              // that checkpoint's entry
        std::uint64_t openedAt;
        std::vector<std::pair<std::uint64_t, seal::Bytes32>> seals; // sorted
        std::uint64_t number() const { return carried ? carried->attestation.number : anchor->number; }
        std::uint64_t firstIndex() const { return anchor ? anchor->index : 0; }
    };
    struct Epochs {
        std::uint64_t origin;  // when epoch 0 began
        std::uint64_t length;  // of each
        std::uint64_t current; // the epoch under way when the collection ends
        std::uint64_t first;   // the epoch under way when the window starts
    };
    // A registered host once its records are checked.
    struct Settled {
        HostLedgerVerdict verdict;
        std::optional<seal::ReadEnrollment> enrollment; // none: its record does not read (the text is the registry's)
        Epochs epochs{};
        std::vector<seal::SessionEntry> named;
    };
    Settled settleHost(const RegisteredHost& host, const seal::AuditorPublicKey& publicKey,
                       const seal::AuditorSecretKey& secretKey, std::uint64_t collectionEnd, std::uint64_t windowFrom);
    static std::vector<const Kept*> authenticRecords(seal::HostEpochKeys& keys, std::vector<Kept>& kept,
                                                     const Epochs& epochs, HostLedgerVerdict& verdict);
    static void checkRecords(seal::HostEpochKeys& keys, const RegisteredHost& host, std::vector<Kept>& kept,
                             const Epochs& epochs, HostLedgerVerdict& verdict, std::vector<seal::SessionEntry>& named);
    static bool openSeed(const seal::ReadEnrollment& enrollment, const seal::AuditorPublicKey& publicKey,
                         const seal::AuditorSecretKey& secretKey, seal::HostEpochKeys& keys);
    static void checkClaims(seal::HostEpochKeys& keys, std::vector<Claim>& claims, const Epochs& epochs,
                            std::vector<SessionVerdict>& sessions);
    static std::uint64_t firstOpenedIn(std::uint64_t windowEpoch, const std::vector<Claim>& claims,
                                       const std::vector<seal::SessionEntry>& named,
                                       const std::vector<SessionVerdict>& sessions);
    static void checkNamed(const std::vector<Claim>& claims, const std::vector<seal::SessionEntry>& named,
                           std::uint64_t windowEpoch, HostLedgerVerdict& verdict,
                           std::vector<SessionVerdict>& sessions);

    const std::vector<RegisteredHost>& registry_;
    std::vector<Settled> settled_; // in the registry's order
    std::map<seal::Bytes32, LedgerAnchor> checkpoints_;
    std::map<seal::HostId, std::vector<Kept>> records_;
    std::map<seal::HostId, std::vector<Claim>> claims_;
    std::uint64_t unchecked_ = 0;
};

} // namespace quorvel::trail
