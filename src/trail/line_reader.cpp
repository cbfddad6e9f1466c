#include "trail/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

namespace quorvel::trail {

namespace {

class File {
  public:
    explicit File(const std::string& path) : path_(path), fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) fail("cannot read ");
    }
    ~File() { close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // The file's size when it is a regular file, else nothing.
    std::optional<std::size_t> size() const {
        struct stat status {};
        if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
        return static_cast<std::size_t>(status.st_size);
    }

    // Up to `size` bytes into `into`; 0 at the end.
    std::size_t read(char* into, std::size_t size) {
        while (true) {
            const ssize_t n = ::read(fd_, into, size);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) fail("read error in ");
        }
    }

  private:
    [[noreturn]] void fail(const char* what) const {
        throw std::runtime_error(what + path_ + ": " + std::strerror(errno));
    }
    std::string path_;
    int fd_;
};

} // namespace

void forEachLine(const std::string& path, std::size_t maxBytes,
                 const std::function<void(std::string_view, std::uint64_t, std::uint64_t)>& line,
                 const std::function<void(std::uint64_t)>& tooLong) {
    File file(path);
    // The buffer holds a whole line of the longest length read, and reads
    // in large blocks besides; a small file gets one of its own size, grown
    // should the file grow while it is read. It is left unfilled: only what
    // is read into it is ever looked at.
    const std::size_t full = std::max<std::size_t>(maxBytes + 1, std::size_t{1} << 20) + (std::size_t{1} << 20);
    std::size_t size = std::min(full, file.size().value_or(full) + 4096);
    std::unique_ptr<char[]> buffer(new char[size]);
    std::size_t begin = 0, end = 0;
    std::uint64_t number = 0;
    std::uint64_t bufferAt = 0; // the file offset of the buffer's first byte
    bool skipping = false;      // inside a line longer than the bound
    while (true) {
        const char* data = buffer.get();
        const void* feed = std::memchr(data + begin, '\n', end - begin);
        if (feed != nullptr) {
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(feed) - data);
            ++number;
            if (skipping || at - begin > maxBytes)
                tooLong(number);
            else
                line(std::string_view(data + begin, at - begin), number, bufferAt + begin);
            skipping = false;
            begin = at + 1;
            continue;
        }
        if (end - begin > maxBytes) { // no line feed within the bound: skip to the next one
            skipping = true;
            begin = end;
        }
        std::memmove(buffer.get(), data + begin, end - begin);
        end -= begin;
        bufferAt += begin;
        begin = 0;
        if (end == size) {
            std::unique_ptr<char[]> larger(new char[full]);
            std::memcpy(larger.get(), buffer.get(), end);
            buffer = std::move(larger);
            size = full;
        }
        const std::size_t got = file.read(buffer.get() + end, size - end);
        if (got == 0) break;
        end += got;
    }
    if (end > 0 || skipping) {
        ++number;
        if (skipping)
            tooLong(number);
        else
            line(std::string_view(buffer.get(), end), number, bufferAt);
    }
}

CollectedFiles::CollectedFiles(const std::vector<std::string>& paths) : paths_(paths) {
    for (const std::string& path : paths) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            for (const int open : fds_)
                close(open);
            throw std::runtime_error("cannot read " + path + ": " + std::strerror(error));
        }
        fds_.push_back(fd);
    }
}

CollectedFiles::~CollectedFiles() {
    for (const int fd : fds_)
        close(fd);
}

std::string_view CollectedFiles::read(const TextSpan& span) {
    buffer_.resize(span.length);
    std::size_t done = 0;
    while (done < span.length) {
        const ssize_t n = pread(fds_.at(span.file), buffer_.data() + done, span.length - done,
                                static_cast<off_t>(span.offset + done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            throw std::runtime_error("cannot read " + paths_.at(span.file) +
                                     " again: it changed while it was verified");
        }
    }
    return buffer_;
}

} // namespace quorvel::trail
