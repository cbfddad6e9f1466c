// Reads a collected file line by line through one buffer, with a bound on a
// line's length: a longer line is skipped unread (its place is still
// counted), so that no input makes the reader hold more than the bound. Text
// read once can be read again by its byte offset, so that the verifier keeps
// where a line is instead of the line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::trail {

// Calls `line` for every line of `path` (without its line feed; the last one
// also without), numbered from 1, with the byte offset of its start, and
// `tooLong` instead for a line of more than `maxBytes`. Throws
// std::runtime_error when the file cannot be read.
void forEachLine(const std::string& path, std::size_t maxBytes,
                 const std::function<void(std::string_view line, std::uint64_t number, std::uint64_t offset)>& line,
                 const std::function<void(std::uint64_t number)>& tooLong);

// Where a piece of text was read: a file among those given, a byte offset
// in it and a length.
struct TextSpan {
    std::uint32_t file = 0;
    std::uint32_t length = 0;
    std::uint64_t offset = 0;
};

// The files of a collection held open to read pieces of them again.
class CollectedFiles {
  public:
    // Throws std::runtime_error when a file cannot be opened.
    explicit CollectedFiles(const std::vector<std::string>& paths);
    ~CollectedFiles();
    CollectedFiles(const CollectedFiles&) = delete;
    CollectedFiles& operator=(const CollectedFiles&) = delete;

    // The text at `span`, in a buffer of this object's that the next call
    // reuses; throws std::runtime_error when the file no longer holds it.
    std::string_view read(const TextSpan& span);

  private:
    std::vector<std::string> paths_;
    std::vector<int> fds_;
    std::string buffer_;
};

} // namespace quorvel::trail
