// The process's sealed session: every line handed to log4cxx is numbered and
// tagged, and seal records that vouch for them are logged through a logger
// of the operator's at the operator's cadence. Off unless the properties
// file turns it on; then the library runs one thread of its own, which makes
// and logs the seals.
#pragma once

#include "logging/seal_keys.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// What the operator sets (quorvel.seal.* in the properties file).
struct SealSettings {
    std::string logger;               // the logger seal records go to
    seal::AuditorPublicKey auditor{}; // the session's first key is encrypted to it
    std::uint64_t lines = 256;        // a seal at the latest after this many lines,
    std::uint64_t millis = 1000;      // or this long after the first line it covers,
    std::uint64_t idleMillis = 60000; // and one this long after the last when idle
};

class SealSession;

// The session, or null when sealing is off. One atomic load: the whole cost
// of sealing when it is off.
SealSession* activeSealSession();

// Starts the process's session, once: numbering begins at once; null when a
// session runs already or libsodium cannot be initialised. Then, without the
// library's own lock, openSealedSession() writes the opening seal and starts
// the thread that writes the others. A forked child starts a session of its
// own when it first logs; the session is closed with a last seal when the
// process exits normally.
SealSession* startSealing(const SealSettings& settings, const std::string& host, const std::string& module);
void openSealedSession(SealSession& session);

// Numbers `line`, which is about to be handed to log4cxx, and keeps its tag
// for the next seal. Safe from any thread; no lock is held while log4cxx
// writes.
void recordSealedLine(SealSession& session, std::string_view line);

} // namespace quorvel
