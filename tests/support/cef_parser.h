// A CEF line parser for tests, written from the format's rules rather than
// from the library's renderer, so that tests and fuzz targets can check that
// what a line says is what was set.
//
// The rules it reads by, those of the CEF standard as strict readers enforce
// them:
//   - the line starts with "CEF:", a version of digits only, and has seven
//     header values, each ended by an unescaped "|";
//   - in a header value a backslash escapes "\" and "|" only; any other
//     escape is an error;
//   - after the seventh "|" come the extension items "key=value", each
//     followed by one blank; an item's key is the run of characters before an
//     unescaped "=" back to the preceding blank, its value runs from that "="
//     to the blank before the next key (or to the line's final blank);
//   - in an extension value a backslash escapes "\", "=", and the letters n
//     and r (line feed, carriage return) only; any other escape, an unescaped
//     "=" not preceded by a key, and a line that does not end with the last
//     item's blank are errors;
//   - a raw line feed or carriage return anywhere is an error: the line would
//     not reach a reader whole.
// Bytes other than these are data, tab, NUL and bytes from 0x80 up included.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel_test {

struct ParsedCefLine {
    // version, vendor, product, device version, signature ID, name, severity
    std::array<std::string, 7> header;
    // The extension items in line order, keys and values unescaped.
    std::vector<std::pair<std::string, std::string>> extension;
};

// Parses `line`; on a malformed line returns nothing and, when `error` is
// given, says why.
std::optional<ParsedCefLine> parseCefLine(std::string_view line, std::string* error = nullptr);

} // namespace quorvel_test
