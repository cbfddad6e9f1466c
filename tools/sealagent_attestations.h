// The host agent's answer to a process that asked on its socket: the
// attestation of itself, made from what the kernel says of the socket's
// peer (user, group, process, its executable and control group) and MACed
// under the current epoch's key; each attestation takes the next host-wide
// session number, saved with the state.
#pragma once

#include "sealagent_requests.h"
#include "sealagent_sessions.h"
#include "trail/agent_state.h"

namespace quorvel_tools {

// Answers `whole`: an attestation, after which `sessions` follows the
// connection for the session's reports, or a line that says why not.
void answer(WholeRequest whole, const quorvel::seal::AgentIdentity& identity, const quorvel::seal::HostEpochKeys& keys,
            quorvel::seal::AgentProgress& progress, quorvel::seal::AgentStateFile& state, LiveSessions& sessions);

} // namespace quorvel_tools
