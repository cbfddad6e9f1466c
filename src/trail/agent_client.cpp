#include "trail/agent_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace quorvel::seal {

namespace {

using Clock = std::chrono::steady_clock;

// An attestation line is well under this; a longer answer is no attestation.
constexpr std::size_t kMostAnswerBytes = 2048;

int millisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until `fd` is ready for `events`, or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    while (true) {
        pollfd ready{fd, events, 0};
        const int got = poll(&ready, 1, millisLeft(deadline));
        if (got == 1) return (ready.revents & events) != 0;
        if (got == 0 || errno != EINTR) return false;
    }
}

bool connectTo(int fd, const std::string& path, Clock::time_point deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    if (errno != EAGAIN && errno != EINPROGRESS) return false;
    int error = 0;
    socklen_t size = sizeof error;
    return waitFor(fd, POLLOUT, deadline) && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// A socket connected to the agent at `path`, or -1. An agent that is not
// there yet (its socket missing, or not accepting: it is starting or
// restarting) is tried again until the deadline.
int connectedSocket(const std::string& path, Clock::time_point deadline) {
    constexpr auto kRetryEvery = std::chrono::milliseconds(20);
    while (true) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return -1;
        if (connectTo(fd, path, deadline)) return fd;
        const int error = errno;
        close(fd);
        if ((error != ENOENT && error != ECONNREFUSED) || Clock::now() + kRetryEvery >= deadline) return -1;
        std::this_thread::sleep_for(kRetryEvery);
    }
}

bool sendAll(int fd, const std::string& text, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t wrote = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else if (wrote < 0 && errno == EAGAIN && waitFor(fd, POLLOUT, deadline)) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

std::optional<std::string> readLine(int fd, Clock::time_point deadline) {
    std::string line;
    char buffer[512];
    while (line.size() <= kMostAnswerBytes) {
        const std::size_t end = line.find('\n');
        if (end != std::string::npos) return line.substr(0, end);
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            line.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && (errno == EINTR || (errno == EAGAIN && waitFor(fd, POLLIN, deadline)))) {
            continue;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<CarriedAttestation> AgentLink::attest(const std::string& path, std::chrono::milliseconds bound,
                                                    const AttestationRequest& request) {
    drop();
    bound_ = bound;
    const Clock::time_point deadline = Clock::now() + bound;
    fd_ = connectedSocket(path, deadline);
    if (fd_ < 0 || !sendAll(fd_, writeAttestationRequest(request) + "\n", deadline)) {
        drop();
        return std::nullopt;
    }
    const std::optional<std::string> answer = readLine(fd_, deadline);
    const auto read = answer ? readAttestation(*answer) : std::nullopt;
    if (!read || read->record.request.session != request.session || read->record.request.key != request.key) {
        drop();
        return std::nullopt;
    }
    return CarriedAttestation{read->record, read->mac};
}

void AgentLink::report(const SealReport& report) {
    if (fd_ < 0) return;
    const std::string line = writeSealReport(report) + "\n";
    if (pending_.size() + line.size() <= kMostPendingBytes) pending_ += line;
    flush();
    if (!report.end) return;
    // The end seal's report is the last: it is worth the wait the opening
    // was given, so that the agent does not take the end for a crash.
    const Clock::time_point deadline = Clock::now() + bound_;
    while (fd_ >= 0 && !pending_.empty() && waitFor(fd_, POLLOUT, deadline))
        flush();
    drop();
}

void AgentLink::flush() {
    while (!pending_.empty()) {
        const ssize_t sent = send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            pending_.erase(0, static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            if (sent < 0 && errno != EAGAIN) drop(); // the agent is gone
            return;
        }
    }
}

void AgentLink::drop() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    pending_.clear();
}

} // namespace quorvel::seal
