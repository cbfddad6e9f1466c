#include "trail/trail_verdict.h"

#include <algorithm>

namespace quorvel::trail {

bool HostLedgerVerdict::sound() const {
    return fingerprintMatches && enrollmentOpens && records > 0 && lost.empty() && failedMacs.empty() &&
           conflicting.empty() && fromTheFuture.empty() && !stopped && missingSessions.empty() && reusedNumbers.empty();
}

bool TrailVerdict::complete() const {
    if (!strays.empty() || !unreadableSeals.empty() || unchecked.any()) return false;
    if (!std::all_of(hosts.begin(), hosts.end(), [](const HostLedgerVerdict& h) { return h.sound(); })) return false;
    const bool attestedOnly = !hosts.empty();
    const bool window = windowFrom != 0;
    const auto sound = [this, attestedOnly, window](const SessionVerdict& s) {
        const bool origin = s.origin.kind == SessionOrigin::Attested ||
                            (window && s.origin.kind == SessionOrigin::Checkpointed && !s.checkpointAfter(windowFrom));
        if (attestedOnly && (!origin || !s.unanchored.empty())) return false;
        const bool replayed =
            std::any_of(s.duplicates.begin(), s.duplicates.end(), [](const Duplicate& d) { return d.replayed; });
        return s.opened() && !s.cutShort && s.missing.empty() && s.gaps.empty() && s.failedMacs.empty() &&
               s.faults.empty() && s.uncheckedSeals == 0 && s.notYetSealed == 0 && s.torn.empty() && !replayed;
    };
    return !sessions.empty() && std::all_of(sessions.begin(), sessions.end(), sound);
}

} // namespace quorvel::trail
