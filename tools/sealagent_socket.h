// The host agent's listening Unix socket: bound at a path no live agent
// answers on, and removed at the end only while that path is still this
// socket's; connections taken from it without spinning when the agent is
// out of descriptors.
#pragma once

#include "file_descriptor.h"

#include <sys/types.h>

#include <optional>
#include <string>

namespace quorvel_tools {

class AgentSocket {
  public:
    // Listens on `path`, open to every local user. A socket left there by an
    // agent that died is replaced; one that answers is another agent's, and
    // left alone. Throws ToolError when it cannot listen.
    explicit AgentSocket(std::string path);
    ~AgentSocket();
    AgentSocket(const AgentSocket&) = delete;
    AgentSocket& operator=(const AgentSocket&) = delete;

    int fd() const { return listening_.get(); }

    // The connection waiting, if any. When the agent has no descriptor left
    // for it, the connection is taken with a spare one, refused as such and
    // closed, so that it does not keep the socket readable.
    std::optional<FileDescriptor> accept();

  private:
    std::string path_;
    FileDescriptor listening_;
    FileDescriptor spare_; // given up to refuse a connection when no other descriptor is left
    dev_t device_ = 0;     // the path's file once bound: what the agent removes at the end
    ino_t inode_ = 0;
};

} // namespace quorvel_tools
