#include "sealagent_socket.h"

#include "sealagent_answer.h"
#include "tool_error.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorvel_tools {

namespace {

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw ToolError{"the socket path " + path + " is too long", 1};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

bool answers(const sockaddr_un& address) {
    const FileDescriptor probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return probe.get() >= 0 && connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

FileDescriptor spareDescriptor() { return FileDescriptor(open("/dev/null", O_RDONLY | O_CLOEXEC)); }

} // namespace

AgentSocket::AgentSocket(std::string path)
    : path_(std::move(path)), listening_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)),
      spare_(spareDescriptor()) {
    const sockaddr_un address = addressOf(path_);
    if (listening_.get() < 0) throw ToolError{"cannot make a socket: " + std::string(std::strerror(errno)), 1};
    struct stat status {};
    if (lstat(path_.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) {
        if (answers(address)) throw ToolError{"another agent answers on " + path_, 1};
        unlink(path_.c_str());
    }
    // Any local process may ask: what it gets says who it is.
    if (bind(listening_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        lstat(path_.c_str(), &status) != 0 || chmod(path_.c_str(), 0666) != 0 || listen(listening_.get(), 64) != 0)
        throw ToolError{"cannot listen on " + path_ + ": " + std::strerror(errno), 1};
    device_ = status.st_dev;
    inode_ = status.st_ino;
}

AgentSocket::~AgentSocket() {
    struct stat status {};
    if (lstat(path_.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_)
        unlink(path_.c_str());
}

std::optional<FileDescriptor> AgentSocket::accept() {
    FileDescriptor connection(accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.get() >= 0) return connection;
    if (errno != EMFILE && errno != ENFILE) return std::nullopt;
    spare_ = FileDescriptor(-1);
    {
        const FileDescriptor refused(accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (refused.get() >= 0) refuse(refused.get(), "the agent is out of file descriptors");
    }
    spare_ = spareDescriptor();
    return std::nullopt;
}

} // namespace quorvel_tools
