// The host agent's state on disk, so that it survives restarts: the host's
// id, when its epoch 0 began and how long an epoch is, the epoch reached
// with its key and the next period's root, and the ledger's progress.
// The file holds two slots of fixed size, each with a count and a checksum.
// A state is written into the slot that does not hold the newest, synced,
// and then, when the other slot may hold the key of an earlier epoch, it is
// overwritten with zeros and synced: once save() returns, no key of an
// earlier epoch is left in the file. (A save within the epoch of the one
// before, a session number taken, syncs once.) The file is
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
    // With `syncLater`, a save within the epoch of the one before returns
    // once written (a crash of the agent keeps it, a crash of the host may
    // not) and is synced by sync(); a save that erases a key always syncs.
    void save(const AgentIdentity& identity, const HostEpochKeys& keys, const AgentProgress& progress,
              bool syncLater = false);
    void sync();
    // Takes the file for this process alone, for as long as it is open: an
    // exclusive lock, which a second agent on the same state would need
    // too; throws std::runtime_error when another process holds it.
    void holdExclusively();

  private:
    void writeSlot(int slot, const unsigned char* bytes, bool syncNow);

    std::string path_;
    int fd_;
    unsigned char* buffer_; // one slot, in guarded memory
    std::uint64_t count_ = 0;
    int newest_ = -1;
    std::uint64_t newestEpoch_ = 0;     // of the newest state
    bool otherSlotOfThisEpoch_ = false; // the other slot holds nothing or a state of newestEpoch_
};

} // namespace quorvel::seal
