// The seals of one session, checked: which openings are authentic for the
// auditor's key, which seals each opening's key chain authenticates, and
// whether those seals continue each other. No line is read here.
#pragma once

#include "trail/guarded_keys.h"
#include "trail/seal_record.h"
#include "trail/trail_verdict.h"
#include "trail/trail_verifier.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::trail {

// A session's seal lines as read, before any check: their text (from the
// seal marker to the end of the line) in one block.
class StoredSeals {
  public:
    void add(std::string_view text, LinePlace place) {
        lines_.push_back({text_.size(), text.size(), place});
        text_.append(text);
    }
    std::size_t size() const { return lines_.size(); }
    std::string_view text(std::size_t i) const {
        return std::string_view(text_).substr(lines_[i].offset, lines_[i].length);
    }
    LinePlace place(std::size_t i) const { return lines_[i].place; }

  private:
    struct Line {
        std::size_t offset;
        std::size_t length;
        LinePlace place;
    };
    std::string text_;
    std::vector<Line> lines_;
};

// An authentic seal of a chain, with what the line index needs of it.
struct KeptSeal {
    std::uint64_t index = 0;
    std::uint64_t time = 0;
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    bool end = false;
    int version = seal::kSealVersion;
    LinePlace place;
    const seal::TagKey* tagKey = nullptr; // in guarded memory
    std::vector<seal::LineTag> tags;
    std::vector<seal::LineLocator> locators; // empty in version 1
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
};

struct AuditorKeys {
    const seal::AuditorSecretKey* secretKey;
    seal::AuditorPublicKey publicKey;
};

// Checks a session's seal lines, which it frees; each opening decrypted
// takes one from `openingBudget`. The tag keys of the seals kept are put in
// `keys`.
CheckedSeals checkSeals(StoredSeals& stored, const AuditorKeys& auditor, const VerifyLimits& limits,
                        std::uint64_t& openingBudget, GuardedKeys& keys);

// What the order of a chain's seals shows: ranges that do not continue each
// other, times that go back or lie after `at` (+ slack), and the gaps where
// seals are lost.
void judgeChain(const SealChain& chain, std::uint64_t at, std::vector<SealFault>& faults, std::vector<SealGap>& gaps);

} // namespace quorvel::trail
