#include "sealagent_descriptors.h"

#include "sealagent_requests.h"
#include "sealagent_sessions.h"

#include <sys/resource.h>

#include <algorithm>

namespace quorvel_tools {

namespace {

// The agent's own descriptors, and room for what log4cxx's appenders open.
constexpr rlim_t kOwnDescriptors = 64;
constexpr rlim_t kBesideSessions = 2 * PendingRequests::kMost + kOwnDescriptors;

} // namespace

std::size_t followableSessions() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    const rlim_t wanted = LiveSessions::kMostSessions + kBesideSessions;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur > kBesideSessions ? static_cast<std::size_t>(limit.rlim_cur - kBesideSessions) : 0;
}

} // namespace quorvel_tools
