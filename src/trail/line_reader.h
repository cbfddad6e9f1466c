// Reads a collected file line by line through one buffer, with a bound on a
// line's length: a longer line is skipped unread (its place is still
// counted), so that no input makes the reader hold more than the bound.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quorvel::trail {

// Calls `line` for every line of `path` (without its line feed; the last one
// also without), numbered from 1, and `tooLong` instead for a line of more
// than `maxBytes`. Throws std::runtime_error when the file cannot be read.
void forEachLine(const std::string& path, std::size_t maxBytes,
                 const std::function<void(std::string_view line, std::uint64_t number)>& line,
                 const std::function<void(std::uint64_t number)>& tooLong);

} // namespace quorvel::trail
