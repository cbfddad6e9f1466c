#include "trail/agent_state.h"

#include "trail/guarded_block.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quorvel::seal {

namespace {

// A slot: magic, count, host id, origin, epoch length, next session, last
// record's digest, epoch, epoch key, next root, then the BLAKE2b-256 of all
// of that. Numbers are little-endian.
constexpr char kMagic[8] = {'q', 'v', 'a', 'g', 'e', 'n', 't', '1'};
constexpr std::size_t kBodyBytes = 8 + 8 + 16 + 8 + 8 + 8 + 32 + 8 + 32 + 32;
constexpr std::size_t kSlotBytes = kBodyBytes + 32;

class SlotWriter {
  public:
    explicit SlotWriter(unsigned char* at) : at_(at) {}
    void bytes(const void* from, std::size_t size) {
        std::memcpy(at_, from, size);
        at_ += size;
    }
    void number(std::uint64_t value) {
        for (int i = 0; i < 8; ++i)
            *at_++ = static_cast<unsigned char>(value >> (8 * i));
    }

  private:
    unsigned char* at_;
};

class SlotReader {
  public:
    explicit SlotReader(const unsigned char* at) : at_(at) {}
    void bytes(void* into, std::size_t size) {
        std::memcpy(into, at_, size);
        at_ += size;
    }
    std::uint64_t number() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value |= std::uint64_t{*at_++} << (8 * i);
        return value;
    }

  private:
    const unsigned char* at_;
};

void checksum(const unsigned char* body, unsigned char* out) {
    crypto_generichash(out, 32, body, kBodyBytes, nullptr, 0);
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

} // namespace

AgentStateFile::AgentStateFile(const std::string& path, bool create)
    : path_(path), fd_(open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0600)),
      buffer_(nullptr) {
    if (fd_ < 0) fail(create ? "cannot create" : "cannot open", path);
    buffer_ = static_cast<unsigned char*>(allocateGuardedBlock(kSlotBytes));
}

AgentStateFile::~AgentStateFile() {
    sodium_free(buffer_);
    close(fd_);
}

bool AgentStateFile::load(AgentIdentity& identity, HostEpochKeys& keys, AgentProgress& progress) {
    newest_ = -1;
    for (int slot = 0; slot < 2; ++slot) {
        if (pread(fd_, buffer_, kSlotBytes, static_cast<off_t>(static_cast<std::size_t>(slot) * kSlotBytes)) !=
            static_cast<ssize_t>(kSlotBytes))
            continue;
        unsigned char sum[32];
        checksum(buffer_, sum);
        SlotReader reader(buffer_);
        char magic[8];
        reader.bytes(magic, sizeof magic);
        const std::uint64_t count = reader.number();
        if (std::memcmp(magic, kMagic, sizeof magic) != 0 || sodium_memcmp(sum, buffer_ + kBodyBytes, 32) != 0 ||
            (newest_ >= 0 && count <= count_))
            continue;
        reader.bytes(identity.hostId.data(), identity.hostId.size());
        identity.origin = reader.number();
        identity.epochMillis = reader.number();
        progress.nextSession = reader.number();
        reader.bytes(progress.lastRecord.data(), progress.lastRecord.size());
        const std::uint64_t epoch = reader.number();
        // The keys go from the guarded buffer straight into guarded memory.
        keys.restore(epoch, buffer_ + kBodyBytes - 64, buffer_ + kBodyBytes - 32);
        count_ = count;
        newest_ = slot;
        newestEpoch_ = epoch;
    }
    // What the other slot holds is not known here: the next save zeroes it.
    otherSlotOfThisEpoch_ = false;
    sodium_memzero(buffer_, kSlotBytes);
    return newest_ >= 0;
}

void AgentStateFile::save(const AgentIdentity& identity, const HostEpochKeys& keys, const AgentProgress& progress,
                          bool syncLater) {
    SlotWriter writer(buffer_);
    writer.bytes(kMagic, sizeof kMagic);
    writer.number(count_ + 1);
    writer.bytes(identity.hostId.data(), identity.hostId.size());
    writer.number(identity.origin);
    writer.number(identity.epochMillis);
    writer.number(progress.nextSession);
    writer.bytes(progress.lastRecord.data(), progress.lastRecord.size());
    writer.number(keys.epoch());
    writer.bytes(keys.key().data(), keys.key().size());
    writer.bytes(keys.nextRoot().data(), keys.nextRoot().size());
    checksum(buffer_, buffer_ + kBodyBytes);
    const int slot = newest_ == 0 ? 1 : 0;
    // The older state, and its keys, overwritten with zeros, unless it is a
    // state of this very epoch (or was zeroed already since this epoch's
    // key came).
    const bool erase = newest_ < 0 || newestEpoch_ != keys.epoch() || !otherSlotOfThisEpoch_;
    writeSlot(slot, buffer_, erase || !syncLater);
    sodium_memzero(buffer_, kSlotBytes);
    if (erase) writeSlot(1 - slot, buffer_, true);
    otherSlotOfThisEpoch_ = true;
    ++count_;
    newest_ = slot;
    newestEpoch_ = keys.epoch();
}

void AgentStateFile::holdExclusively() {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    if (errno == EWOULDBLOCK) throw std::runtime_error(path_ + " is in use by another quorvel-sealagent");
    fail("cannot lock", path_);
}

void AgentStateFile::writeSlot(int slot, const unsigned char* bytes, bool syncNow) {
    if (pwrite(fd_, bytes, kSlotBytes, static_cast<off_t>(static_cast<std::size_t>(slot) * kSlotBytes)) !=
        static_cast<ssize_t>(kSlotBytes))
        fail("cannot write the state to", path_);
    if (syncNow) sync();
}

void AgentStateFile::sync() {
    if (fdatasync(fd_) != 0) fail("cannot sync the state to", path_);
}

} // namespace quorvel::seal
