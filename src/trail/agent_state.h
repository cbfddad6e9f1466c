// The host agent's state on disk, so that it survives restarts: the host's
// id, when its epoch 0 began and how long an epoch is, the epoch reached
// with its key and the next period's root, and the ledger's progress.
// The file holds two slots of fixed size, each with a count and a checksum.
// A state is written into the slot that does not hold the newest, synced,
// and then the other slot is overwritten with zeros and synced: once save()
// returns, no key of an earlier epoch is left in the file. The file is
// overwritten in place, never replaced, since a replaced file's blocks would
// keep the old key on the disk. A crash leaves at least one whole slot.
#pragma once

#include "trail/enrollment_record.h"
#include "trail/host_epochs.h"

#include <cstdint>
#include <string>

namespace quorvel::seal {

struct AgentIdentity {
    HostId hostId{};
    std::uint64_t origin = 0;      // when epoch 0 began, ms since the Unix epoch
    std::uint64_t epochMillis = 0; // each epoch's length
};

// How far the host's ledger has got.
struct AgentProgress {
    std::uint64_t nextSession = 0;
    Bytes32 lastRecord{}; // the digest of the last ledger record logged (at first, the enrollment's)
};

class AgentStateFile {
  public:
    // Opens `path`, creating it (owner only) when `create`; throws
    // std::runtime_error when it cannot.
    AgentStateFile(const std::string& path, bool create);
    ~AgentStateFile();
    AgentStateFile(const AgentStateFile&) = delete;
    AgentStateFile& operator=(const AgentStateFile&) = delete;

    // The newest whole state; false when the file holds none.
    bool load(AgentIdentity& identity, HostEpochKeys& keys, AgentProgress& progress);
    // Throws std::runtime_error when the state cannot be written and synced.
    void save(const AgentIdentity& identity, const HostEpochKeys& keys, const AgentProgress& progress);

  private:
    void writeSlot(int slot, const unsigned char* bytes);

    std::string path_;
    int fd_;
    unsigned char* buffer_; // one slot, in guarded memory
    std::uint64_t count_ = 0;
    int newest_ = -1;
};

} // namespace quorvel::seal
