// The one line the host agent answers a process that asks on its socket: an
// attestation, or "quorvel-attest-refused" and why.
#pragma once

#include <sys/socket.h>

#include <string>

namespace quorvel_tools {

// Sent without waiting: the peer has read nothing yet, so the socket has
// room for a line; a peer that went away is no concern of the agent's.
inline void answerLine(int connection, const std::string& line) {
    const std::string text = line + "\n";
    (void)send(connection, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

inline void refuse(int connection, const std::string& why) { answerLine(connection, "quorvel-attest-refused " + why); }

} // namespace quorvel_tools
