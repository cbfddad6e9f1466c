#include "sealagent_attestations.h"

#include "file_descriptor.h"
#include "sealagent_answer.h"
#include "trail/attestation_record.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

namespace quorvel_tools {

namespace {

namespace seal = quorvel::seal;

// SO_PEERPIDFD (Linux 6.5 on): a pidfd for the peer that connected, which no
// later process can take over. Older kernels: a pidfd opened after the
// fact, which a process that exits at once and whose id is reused in the
// meantime would escape.
constexpr int kPeerPidfd = 77;
constexpr std::size_t kMostRequestBytes = 256;
constexpr int kRequestMillis = 1000;

// One line from `fd`, within the request's time and size.
std::optional<std::string> readLine(int fd) {
    std::string line;
    char buffer[kMostRequestBytes];
    while (line.size() < kMostRequestBytes) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, kRequestMillis) != 1) return std::nullopt;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) return std::nullopt;
        line.append(buffer, static_cast<std::size_t>(got));
        const std::size_t end = line.find('\n');
        if (end != std::string::npos) return line.substr(0, end);
    }
    return std::nullopt;
}

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

int peerPidfd(int connection, pid_t pid) {
    int pidfd = -1;
    socklen_t size = sizeof pidfd;
    if (getsockopt(connection, SOL_SOCKET, kPeerPidfd, &pidfd, &size) == 0 && pidfd >= 0) return pidfd;
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

} // namespace

AttestationServer::AttestationServer(std::string path) : socket_(std::move(path)) {}

void AttestationServer::answer(const seal::AgentIdentity& identity, const seal::HostEpochKeys& keys,
                               seal::AgentProgress& progress, seal::AgentStateFile& state, LiveSessions& sessions) {
    std::optional<FileDescriptor> accepted = socket_.accept();
    if (!accepted) return;
    FileDescriptor connection = std::move(*accepted);
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return;
    const FileDescriptor pidfd(peerPidfd(connection.get(), peer.pid));
    const std::optional<std::string> line = readLine(connection.get());
    const auto request = line ? seal::readAttestationRequest(*line) : std::nullopt;
    if (!request) return refuse(connection.get(), "not an attestation request");
    seal::Attestation attestation;
    attestation.hostId = identity.hostId;
    attestation.epoch = keys.epoch();
    attestation.uid = peer.uid;
    attestation.gid = peer.gid;
    attestation.pid = static_cast<std::uint64_t>(peer.pid);
    attestation.exe = attestedPath(executableOf(peer.pid));
    attestation.unit = attestedPath(controlGroupOf(peer.pid));
    attestation.request = *request;
    // What was read of the process under its id is its own only while the
    // process lives: its pidfd says so.
    if (pidfd.get() < 0 || syscall(SYS_pidfd_send_signal, pidfd.get(), 0, nullptr, 0) != 0)
        return refuse(connection.get(), "the process is gone");
    attestation.number = progress.nextSession++;
    // Written before the answer, so that no restart of the agent gives the
    // number again; synced after it, so that the process does not wait for
    // the disk.
    state.save(identity, keys, progress, true);
    answerLine(connection.get(), seal::writeAttestation(attestation, keys.key()));
    state.sync();
    sessions.add(std::move(connection), attestation.number);
}

} // namespace quorvel_tools
