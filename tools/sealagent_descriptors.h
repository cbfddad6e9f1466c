// The host agent's file descriptors: one per session it follows, two per
// request it reads (the connection and the process's pidfd), and a few of
// its own (socket, state, signals, the log's files). The soft limit is
// raised to what that takes, as far as the hard limit allows; with fewer,
// the agent follows fewer sessions rather than run out.
#pragma once

#include <cstddef>

namespace quorvel_tools {

// How many sessions the agent can follow at most (LiveSessions::kMostSessions
// unless the hard limit is lower), once the soft limit is raised.
std::size_t followableSessions();

} // namespace quorvel_tools
