// Escaping of CEF values: one pass over the value, in one of two modes.
#pragma once

#include "logging/byte_scan.h"
#include "logging/byte_set.h"

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

namespace cef_escape_detail {

// For each byte, the letter that follows the backslash of its escape, or 0
// when the byte is copied: one table for extension values, one for header
// values. The backslash is escaped in both; the equal sign and the line
// breaks only in extension values, the bar only in header values. A byte
// that has no escape and cannot stand raw (NUL, and the line breaks of a
// header) is marked by its own letter, kReplaced, and written as U+FFFD.
struct CefEscapeTables {
    char extension[256] = {};
    char header[256] = {};
};

inline constexpr char kReplaced = '0';
inline constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

constexpr CefEscapeTables makeCefEscapeTables() {
    CefEscapeTables tables;
    for (char* table : {tables.extension, tables.header}) {
        table[0] = kReplaced;
        table[static_cast<unsigned char>('\\')] = '\\';
    }
    tables.extension[static_cast<unsigned char>('\n')] = 'n';
    tables.extension[static_cast<unsigned char>('\r')] = 'r';
    tables.extension[static_cast<unsigned char>('=')] = '=';
    tables.header[static_cast<unsigned char>('\n')] = kReplaced;
    tables.header[static_cast<unsigned char>('\r')] = kReplaced;
    tables.header[static_cast<unsigned char>('|')] = '|';
    return tables;
}

inline constexpr CefEscapeTables kCefEscapes = makeCefEscapeTables();

// The bytes each mode stops at: those with an escape or a replacement.
inline constexpr ByteSet kExtensionStops = byteSetOf([](unsigned byte) { return kCefEscapes.extension[byte] != 0; });
inline constexpr ByteSet kHeaderStops = byteSetOf([](unsigned byte) { return kCefEscapes.header[byte] != 0; });

} // namespace cef_escape_detail

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

// writeEscapedCefValue(), with values of 4 to 16 bytes that hold no byte to
// escape copied here, without the call: most values of a line are such.
inline char* writeEscapedCefValueInLine(char* to, std::string_view value, CefEscaping escaping) {
#if defined(__SSE2__)
    using namespace cef_escape_detail;
    const bool header = escaping == CefEscaping::Header;
    if (value.size() - 4 <= 12 && // sizes below 4 wrap round past 12
        (header ? byte_scan_detail::shortRunIsClean<kHeaderStops>(value.data(), value.size())
                : byte_scan_detail::shortRunIsClean<kExtensionStops>(value.data(), value.size())))
        return byte_scan_detail::copyShortRun(to, value.data(), value.size());
#endif
    return writeEscapedCefValue(to, value, escaping);
}

// Appends `value` to `out` escaped by `escaping`.
void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping);

} // namespace quorvel
