#include "sealagent_attestations.h"

#include "sealagent_answer.h"
#include "trail/attestation_record.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>

namespace quorvel_tools {

namespace {

namespace seal = quorvel::seal;

// A path as attested: its first kMostAttestedPathBytes bytes, so that an
// attestation always fits in an opening seal.
std::string attestedPath(std::string path) {
    if (path.size() > seal::kMostAttestedPathBytes) path.resize(seal::kMostAttestedPathBytes);
    return path;
}

std::string executableOf(pid_t pid) {
    char path[4096];
    const ssize_t length = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), path, sizeof path);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// The unified hierarchy's group ("0::/system.slice/x.service").
std::string controlGroupOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cgroup");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("0::", 0) == 0) return line.substr(3);
    return {};
}

} // namespace

void answer(WholeRequest whole, const seal::AgentIdentity& identity, const seal::HostEpochKeys& keys,
            seal::AgentProgress& progress, seal::AgentStateFile& state, LiveSessions& sessions) {
    const int connection = whole.connection.get();
    const ucred& peer = whole.peer;
    seal::Attestation attestation;
    attestation.hostId = identity.hostId;
    attestation.epoch = keys.epoch();
    attestation.uid = peer.uid;
    attestation.gid = peer.gid;
    attestation.pid = static_cast<std::uint64_t>(peer.pid);
    attestation.exe = attestedPath(executableOf(peer.pid));
    attestation.unit = attestedPath(controlGroupOf(peer.pid));
    attestation.request = whole.request;
    // What was read of the process under its id is its own only while the
    // process lives: its pidfd says so. A process that exited and is not
    // reaped yet (a zombie) passes that test, but its executable is gone.
    if (attestation.exe.empty() || syscall(SYS_pidfd_send_signal, whole.pidfd.get(), 0, nullptr, 0) != 0)
        return refuse(connection, "the process is gone");
    attestation.number = progress.nextSession++;
    // Written before the answer, so that no restart of the agent gives the
    // number again; synced after it, so that the process does not wait for
    // the disk.
    state.save(identity, keys, progress, true);
    answerLine(connection, seal::writeAttestation(attestation, keys.key()));
    state.sync();
    sessions.add(std::move(whole.connection), attestation.number, peer.uid);
}

} // namespace quorvel_tools
