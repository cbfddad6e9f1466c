// Command-line field assignments shared by the tools: "Name=value" split at
// its first "=", and decimal numbers parsed strictly.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quorvel_tools {

struct Assignment {
    std::string name;
    std::string value;
};

// Splits "Name=value" at its first "="; the value may contain further "="
// and may be empty. Nothing when there is no "=" or the name is empty.
inline std::optional<Assignment> parseAssignment(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) return std::nullopt;
    return Assignment{std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))};
}

// The whole of `text` as a decimal number of type T (an optional leading
// "-", digits, nothing else, within T's range); nothing otherwise.
template <class T> std::optional<T> parseNumber(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

} // namespace quorvel_tools
