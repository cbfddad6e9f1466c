// The seals of one session, checked: which openings are authentic for the
// auditor's key, which seals each opening's key chain authenticates, and
// whether those seals continue each other. No line is read here.
#pragma once

#include "trail/guarded_keys.h"
#include "trail/line_reader.h"
#include "trail/seal_record.h"
#include "trail/trail_verdict.h"
#include "trail/trail_verifier.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::trail {

// A session's seal lines as read, before any check: where each one's text
// (from the seal marker to the end of the line) is, to be read again.
class StoredSeals {
  public:
    void add(const TextSpan& span, LinePlace place) { lines_.push_back({span, place}); }
    std::size_t size() const { return lines_.size(); }
    const TextSpan& span(std::size_t i) const { return lines_[i].span; }
    LinePlace place(std::size_t i) const { return lines_[i].place; }

  private:
    struct Line {
        TextSpan span;
        LinePlace place;
    };
    std::vector<Line> lines_;
};

// An authentic seal of a chain, with what the line index needs of it; its
// lines' tags and locators stay in the file until the index reads them.
struct KeptSeal {
    std::uint64_t index = 0;
    std::uint64_t time = 0;
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    bool end = false;
    int version = seal::kSealVersion;
    LinePlace place;
    TextSpan text;                        // the seal's text, from its marker on
    const seal::TagKey* tagKey = nullptr; // in guarded memory
    seal::Bytes32 digest{};               // of the whole seal line, as a host's ledger names it
};

// The seals one authentic opening's key chain authenticates, by index.
struct SealChain {
    AuthenticOpening opening;
    std::vector<KeptSeal> seals;
};

struct CheckedSeals {
    std::vector<SealChain> chains; // none: unopened; two or more: contested
    std::uint64_t sealsRead = 0;   // distinct seal lines
    std::vector<LinePlace> failedMacs;
    std::vector<SealFault> conflicting; // a second authentic seal for one index
    std::uint64_t uncheckedSeals = 0;   // beyond the key-walk bound
    std::uint64_t uncheckedOpenings = 0;
    // Without an authentic opening: each seal line's place and the lines it
    // claims to cover, all that can be said of them.
    std::vector<std::pair<LinePlace, std::uint64_t>> unopened;
    std::uint64_t beforeCheckpoint = 0; // seals before the checkpoint a chain starts at
    std::optional<LedgerAnchor> anchor; // the ledger's entry for that checkpoint
};

// The entry of an authentic record of a registered host that names the
// seal with `digest` as a checkpoint, if one does.
using CheckpointAnchors = std::function<std::optional<LedgerAnchor>(const seal::Bytes32& digest)>;

struct AuditorKeys {
    const seal::AuditorSecretKey* secretKey;
    seal::AuditorPublicKey publicKey;
};

// Checks a session's seal lines, read again from `files`, and frees them;
// each opening or checkpoint decrypted takes one from `openingBudget`.
// Without an authentic opening, the chain starts at the first checkpoint
// `anchors` names whose MAC holds. The tag keys of the seals kept are put
// in `keys`.
CheckedSeals checkSeals(StoredSeals& stored, CollectedFiles& files, const AuditorKeys& auditor,
                        const VerifyLimits& limits, const CheckpointAnchors& anchors, std::uint64_t& openingBudget,
                        GuardedKeys& keys);

// What the order of a chain's seals shows: ranges that do not continue each
// other, times that go back or lie after `at` (+ slack), and the gaps where
// seals are lost.
void judgeChain(const SealChain& chain, std::uint64_t at, std::vector<SealFault>& faults, std::vector<SealGap>& gaps);

} // namespace quorvel::trail
