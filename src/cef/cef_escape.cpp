#include "cef/cef_escape.h"

#include <algorithm>

namespace quorvel {

namespace {

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

constexpr char kReplaced = '0';
constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

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

constexpr CefEscapeTables kCefEscapes = makeCefEscapeTables();

} // namespace

char* writeEscapedCefValue(char* to, std::string_view value, CefEscaping escaping) {
    const char* const letters = escaping == CefEscaping::Header ? kCefEscapes.header : kCefEscapes.extension;
    for (const char c : value) {
        const char letter = letters[static_cast<unsigned char>(c)];
        if (letter == 0) {
            *to++ = c;
        } else if (letter == kReplaced) {
            to = std::copy_n(kReplacement, 3, to);
        } else {
            to[0] = '\\';
            to[1] = letter;
            to += 2;
        }
    }
    return to;
}

void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping) {
    const std::size_t start = out.size();
    out.resize(start + cefEscapedSizeBound(value.size()));
    char* const end = writeEscapedCefValue(out.data() + start, value, escaping);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

} // namespace quorvel
