// Escaping of CEF values: one pass over the value, in one of two modes.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// How a text value is escaped: with the escapes CEF defines and no others,
// as strict readers reject any other. In both modes a NUL byte is written as
// U+FFFD (EF BF BD in UTF-8): a NUL would end the line on any appender that
// hands it on as a C string (syslog(3)), hiding every item after it. A tab
// is written as it is.
enum class CefEscaping {
    // Extension values and template substitutions: backslash doubled, line
    // feed and carriage return as \n and \r, "=" as \=, "|" unchanged.
    Extension,
    // Header text values: backslash doubled, "|" as \|, "=" unchanged. CEF
    // has no escape for a line break in a header, and a raw one would end the
    // line, so line feed and carriage return are written as U+FFFD, like NUL.
    Header,
};

// The bytes escaping `value` by `escaping` writes, counted: the value's size
// and two for each byte written as an escape or as U+FFFD.
std::size_t measuredCefEscapedSize(std::string_view value, CefEscaping escaping);

// The most bytes escaping `value` by `escaping` writes. Three per byte, the
// most any byte takes, where the value is short or where that much is at
// hand anyway (`room`), which saves reading the value twice; otherwise the
// value is measured, so that the line grows only by what it needs.
inline constexpr std::size_t kCefUnmeasuredSize = 64;
inline std::size_t cefEscapedSizeBound(std::string_view value, CefEscaping escaping, std::size_t room = 0) {
    const std::size_t most = 3 * value.size();
    return value.size() <= kCefUnmeasuredSize || most <= room ? most : measuredCefEscapedSize(value, escaping);
}

// Writes `value` escaped by `escaping` at `to`, which must have room for
// cefEscapedSizeBound() bytes; returns the end of what it wrote.
char* writeEscapedCefValue(char* to, std::string_view value, CefEscaping escaping);

// Appends `value` to `out` escaped by `escaping`.
void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping);

} // namespace quorvel
