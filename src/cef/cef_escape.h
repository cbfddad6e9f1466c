// Escaping of CEF values: one pass over the value, in one of two modes.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// How a text value is escaped. In both modes a NUL byte is written as
// U+FFFD (EF BF BD in UTF-8): a NUL would end the line on any appender that
// hands it on as a C string (syslog(3)), hiding every item after it.
enum class CefEscaping {
    // Extension values and template substitutions: backslash doubled, line
    // feed, carriage return and tab as \n \r \t, "=" as \=, "|" unchanged.
    Extension,
    // Header text values: backslash doubled, "|" as \|, line feed, carriage
    // return and tab as \n \r \t, "=" unchanged.
    Header,
};

// The most bytes escaping a value of `size` bytes writes.
inline constexpr std::size_t cefEscapedSizeBound(std::size_t size) { return 3 * size; }

// Writes `value` escaped by `escaping` at `to`, which must have room for
// cefEscapedSizeBound() bytes; returns the end of what it wrote.
char* writeEscapedCefValue(char* to, std::string_view value, CefEscaping escaping);

// Appends `value` to `out` escaped by `escaping`.
void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping);

} // namespace quorvel
