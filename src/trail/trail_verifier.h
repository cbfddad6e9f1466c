// The verifier of sealed trails: reads collected files (events and seals of
// any number of hosts and sessions, interleaved as a collector writes them,
// rotated, with the accepted prefixes before them), finds each event line's
// place in its session through the seals' locators, and judges what it
// found. Every input is treated as hostile: lines, sessions, openings and
// the key walk are bounded, and the cost stays linear in the collection: a
// line costs at most the candidate bound of tags and binary searches,
// whether it is looked up as it is read or waits for its seal.
// Memory follows what is open, not the collection: the lines of the seals
// near the place being read, the lines waiting for their seal, and what the
// verdict lists.
#pragma once

#include "trail/collected_line.h"
#include "trail/host_ledger_check.h"
#include "trail/trail_verdict.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::trail {

struct VerifyLimits {
    std::size_t lineBytes = 1u << 20;   // a longer line is not read
    std::size_t sessions = 10000;       // distinct session ids checked
    std::size_t openingsPerSession = 4; // openings tried per session, and in all
    std::uint64_t openings = 1024;      // this many, plus one per 64 lines read (one
                                        // decryption costs as much as reading about 80 lines)
    std::uint64_t sealsPerSession = 1u << 24;
    std::uint64_t keyStepsPerSeal = 64;    // key derivations allowed per seal read, plus
    std::uint64_t keyStepsFree = 1u << 16; // this many for every session
    std::size_t candidates = 256;          // seals a line's tag is tried under
    std::size_t eventStarts = 64;          // event starts searched in a line that is no event
    // Lines of the collection after a seal's own line that its lines stay
    // indexed for, at most; a line that comes later is looked up once more
    // at the end, and a copy of one is replayed.
    std::uint64_t sealWindow = 1u << 20;
};

struct VerifyOptions {
    // The auditor's secret key; the caller keeps it in guarded memory.
    const seal::AuditorSecretKey* secretKey = nullptr;
    std::uint64_t at = 0; // the end of the collection in ms since the epoch; 0: now
    // The start of the window the collection holds, in ms since the epoch:
    // the hosts' ledgers are checked from the epoch under way then, and a
    // session whose opening came before is verified from a checkpoint; 0:
    // the collection holds everything since each host's enrollment.
    std::uint64_t from = 0;
    std::uint64_t maxIdleMillis = 0;   // the longest silence accepted; 0: each session's declared idle time
    std::uint64_t resendWindow = 4096; // a duplicate this near its original (in its session's order) is a resend
    unsigned prefixes = kEveryPrefix;
    std::string prefixPattern; // a custom prefix (CustomPrefix), tried after the grammars; empty: none
    // The enrolled hosts whose ledgers the collection must hold; empty: none
    // is checked.
    std::vector<RegisteredHost> registry;
    VerifyLimits limits;
};

// Verifies the trail in `files`, read in the order given (oldest first);
// throws std::runtime_error when a file cannot be read.
TrailVerdict verifyTrail(const std::vector<std::string>& files, const VerifyOptions& options);

} // namespace quorvel::trail
