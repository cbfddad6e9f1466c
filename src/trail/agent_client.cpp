#include "trail/agent_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorvel::seal {

namespace {

using Clock = std::chrono::steady_clock;

// An attestation line is well under this; a longer answer is no attestation.
constexpr std::size_t kMostAnswerBytes = 2048;

class Connection {
  public:
    Connection() : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
    ~Connection() {
        if (fd_ >= 0) close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

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

std::optional<CarriedAttestation> askAgent(const std::string& path, std::chrono::milliseconds bound,
                                           const AttestationRequest& request) {
    const Clock::time_point deadline = Clock::now() + bound;
    const Connection connection;
    if (connection.fd() < 0 || !connectTo(connection.fd(), path, deadline) ||
        !sendAll(connection.fd(), writeAttestationRequest(request) + "\n", deadline))
        return std::nullopt;
    const std::optional<std::string> answer = readLine(connection.fd(), deadline);
    const auto read = answer ? readAttestation(*answer) : std::nullopt;
    if (!read || read->record.request.session != request.session || read->record.request.key != request.key)
        return std::nullopt;
    return CarriedAttestation{read->record, read->mac};
}

} // namespace quorvel::seal
