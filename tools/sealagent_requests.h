// The requests the host agent is reading: connections taken from its socket
// whose one line has not come in whole. Each is read as its bytes come,
// beside the agent's other work (epochs close on time, other processes are
// answered), and has one second in all from when it was taken; a line that
// is late, too long or not a request is refused. A user whose connections
// (requests read and sessions followed) reach its share is refused.
#pragma once

#include "file_descriptor.h"
#include "sealagent_sessions.h"
#include "trail/attestation_record.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace quorvel_tools {

// A request read whole, with what the kernel says of its peer.
struct WholeRequest {
    FileDescriptor connection;
    ucred peer;
    FileDescriptor pidfd; // the peer's process, taken when it was accepted
    quorvel::seal::AttestationRequest request;
};

class PendingRequests {
  public:
    using Clock = std::chrono::steady_clock;
    // Requests read at once at most: the agent takes no more connections
    // until one is done.
    static constexpr std::size_t kMost = 64;
    // Requests of one user read at once at most, so that no user fills
    // kMost and holds the others' back.
    static constexpr std::size_t kMostPerUser = 8;
    static constexpr std::chrono::milliseconds kTime{1000};

    bool full() const { return pending_.size() >= kMost; }
    // Reads the request on `connection`, just accepted, from now on; refuses
    // it at once when its process cannot be followed, or its user has
    // kMostPerUser requests read or its share of `sessions` taken.
    void add(FileDescriptor connection, const LiveSessions& sessions);
    // A pollfd for each request, appended to `ready`.
    void watch(std::vector<pollfd>& ready) const;
    // Reads what each request that `ready` (from watch(), in its order)
    // marks has sent, and refuses the requests whose time is up.
    void read(const pollfd* ready);
    // The milliseconds until the first request's time is up; -1 for none.
    int millisToDeadline() const;
    // The requests read whole since the last call.
    std::vector<WholeRequest> takeWhole();

  private:
    struct Pending {
        FileDescriptor connection;
        ucred peer;
        FileDescriptor pidfd;
        Clock::time_point deadline;
        std::string line;
        bool done = false; // read whole, refused, or its peer went
    };
    void readFrom(Pending& pending);
    std::size_t heldBy(uid_t uid) const;

    std::vector<Pending> pending_;
    std::vector<WholeRequest> whole_;
};

} // namespace quorvel_tools
