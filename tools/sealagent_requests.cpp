#include "sealagent_requests.h"

#include "sealagent_answer.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace quorvel_tools {

namespace {

namespace seal = quorvel::seal;

// SO_PEERPIDFD (Linux 6.5 on): a pidfd for the peer that connected, which no
// later process can take over. Older kernels: a pidfd opened after the
// fact, which a process that exits at once and whose id is reused in the
// meantime would escape.
constexpr int kPeerPidfd = 77;
constexpr std::size_t kMostRequestBytes = 256;

int peerPidfd(int connection, pid_t pid) {
    int pidfd = -1;
    socklen_t size = sizeof pidfd;
    if (getsockopt(connection, SOL_SOCKET, kPeerPidfd, &pidfd, &size) == 0 && pidfd >= 0) return pidfd;
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

} // namespace

void PendingRequests::add(FileDescriptor connection, const LiveSessions& sessions) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return;
    const std::size_t pending = heldBy(peer.uid);
    if (pending >= kMostPerUser || pending + sessions.heldBy(peer.uid) >= sessions.mostPerUser())
        return refuse(connection.get(), "this user holds too many connections to the agent");
    FileDescriptor pidfd(peerPidfd(connection.get(), peer.pid));
    if (pidfd.get() < 0)
        return refuse(connection.get(), errno == EMFILE || errno == ENFILE ? "the agent is out of file descriptors"
                                                                           : "the process is gone");
    pending_.push_back({std::move(connection), peer, std::move(pidfd), Clock::now() + kTime, {}});
}

void PendingRequests::watch(std::vector<pollfd>& ready) const {
    for (const Pending& pending : pending_)
        ready.push_back({pending.connection.get(), POLLIN, 0});
}

void PendingRequests::read(const pollfd* ready) {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        Pending& pending = pending_[i];
        if (ready[i].revents != 0) readFrom(pending);
        if (!pending.done && pending.deadline <= now) {
            refuse(pending.connection.get(), "no whole request within a second");
            pending.done = true;
        }
    }
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [](const Pending& p) { return p.done; }),
                   pending_.end());
}

void PendingRequests::readFrom(Pending& pending) {
    char buffer[kMostRequestBytes];
    const ssize_t got = recv(pending.connection.get(), buffer, kMostRequestBytes - pending.line.size(), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got > 0) pending.line.append(buffer, static_cast<std::size_t>(got));
    const std::size_t end = pending.line.find('\n');
    if (got > 0 && end == std::string::npos && pending.line.size() < kMostRequestBytes) return;
    pending.done = true;
    const auto request =
        end == std::string::npos ? std::nullopt : seal::readAttestationRequest(pending.line.substr(0, end));
    if (!request) return refuse(pending.connection.get(), "not an attestation request");
    whole_.push_back({std::move(pending.connection), pending.peer, std::move(pending.pidfd), *request});
}

std::size_t PendingRequests::heldBy(uid_t uid) const {
    return static_cast<std::size_t>(
        std::count_if(pending_.begin(), pending_.end(), [uid](const Pending& p) { return p.peer.uid == uid; }));
}

int PendingRequests::millisToDeadline() const {
    if (pending_.empty()) return -1;
    const auto first = std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
                           return a.deadline < b.deadline;
                       })->deadline;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
}

std::vector<WholeRequest> PendingRequests::takeWhole() { return std::exchange(whole_, {}); }

} // namespace quorvel_tools
