// The sessions the host agent has attested whose processes are still
// connected: each one's reports of the seals it has logged, read as they
// come, and what the record of the epoch that ends says of each.
#pragma once

#include "file_descriptor.h"
#include "trail/attestation_record.h"
#include "trail/epoch_record.h"

#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel_tools {

class LiveSessions {
  public:
    // Connections kept at most; a session attested beyond is not followed
    // (its reports are not read, the epoch records do not name it).
    static constexpr std::size_t kMostSessions = 4096;

    // Follows at most `most` sessions (no more than kMostSessions), and at
    // most a quarter of them (at least one) for one user, so that no user
    // takes the connections of all.
    explicit LiveSessions(std::size_t most);

    // Follows the session numbered `number`, attested on `connection` for
    // a process of user `uid`.
    void add(FileDescriptor connection, std::uint64_t number, uid_t uid);
    // The sessions of user `uid` followed, and how many one user may have.
    std::size_t heldBy(uid_t uid) const;
    std::size_t mostPerUser() const { return mostPerUser_; }
    // A pollfd for each connection, appended to `ready`.
    void watch(std::vector<pollfd>& ready) const;
    // Reads what each connection that `ready` (from watch(), in its order)
    // marks has sent; the sessions that ended or went are no longer
    // followed, what became of them kept for the epoch's record.
    void read(const pollfd* ready);
    // What the record of the epoch that ends names: each session's opening
    // and first checkpoint logged in the epoch, and each session's end,
    // disappearance, or latest seal.
    std::vector<quorvel::seal::SessionEntry> closeEpoch();

  private:
    struct Session {
        FileDescriptor connection;
        std::uint64_t number;
        uid_t uid;
        std::string partial; // a report line not yet whole
        std::optional<quorvel::seal::SealReport> latest;
        std::optional<quorvel::seal::Bytes32> openedNow;        // its opening, reported in this epoch
        std::optional<quorvel::seal::SealReport> checkpointNow; // its first checkpoint reported in this epoch
        bool gone = false;                                      // its connection closed, or it ended
    };
    static void readFrom(Session& session);
    static void take(Session& session, std::string_view line);
    void keepNamed(Session& session);

    std::size_t most_;
    std::size_t mostPerUser_;
    std::vector<Session> live_;
    std::vector<quorvel::seal::SessionEntry> entries_; // of this epoch, of the sessions no longer followed
};

} // namespace quorvel_tools
