// The host agent's answers to the processes that open sealed sessions: a
// Unix socket on which a process sends one attestation request and gets the
// attestation of itself back, made from what the kernel says of the
// socket's peer (user, group, process, its executable and control group)
// and MACed under the current epoch's key; each attestation takes the next
// host-wide session number, saved with the state.
#pragma once

#include "sealagent_sessions.h"
#include "sealagent_socket.h"
#include "trail/agent_state.h"

#include <string>

namespace quorvel_tools {

class AttestationServer {
  public:
    // Listens on `path` (see AgentSocket); throws ToolError when it cannot.
    explicit AttestationServer(std::string path);

    int fd() const { return socket_.fd(); }

    // Answers the connection waiting on the socket, within a second: an
    // attestation, after which `sessions` follows the connection for the
    // session's reports, or a line that says why not.
    void answer(const quorvel::seal::AgentIdentity& identity, const quorvel::seal::HostEpochKeys& keys,
                quorvel::seal::AgentProgress& progress, quorvel::seal::AgentStateFile& state, LiveSessions& sessions);

  private:
    AgentSocket socket_;
};

} // namespace quorvel_tools
