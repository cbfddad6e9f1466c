// Small files the trail's tools read and write: key files and records.
#pragma once

#include "tool_error.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace quorvel_tools {

inline std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError{"cannot read " + path + ": " + std::strerror(errno)};
    std::string line;
    std::getline(in, line);
    return line;
}

// Writes `text` into a new file (never over an existing one) with `mode`.
inline void writeNewFile(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) throw ToolError{"cannot create " + path + ": " + std::strerror(errno)};
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0 || !written) throw ToolError{"cannot write " + path + ": " + std::strerror(errno)};
}

} // namespace quorvel_tools
