#include "cef_parser.h"

#include <cstddef>

namespace quorvel_test {
namespace {

bool fail(std::string* error, std::string reason) {
    if (error) *error = std::move(reason);
    return false;
}

// The character that the escape "\<letter>" stands for in a header value
// (`header`) or an extension value; 0 when the escape is not defined there.
char unescaped(char letter, bool header) {
    switch (letter) {
    case '\\': return '\\';
    case '|': return header ? '|' : 0;
    case '=': return header ? 0 : '=';
    case 'n': return header ? 0 : '\n';
    case 'r': return header ? 0 : '\r';
    default: return 0;
    }
}

// Appends the unescaped form of `text` to `out`.
bool unescape(std::string_view text, bool header, std::string& out, std::string* error) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 == text.size()) return fail(error, "a backslash ends a value");
        const char c = unescaped(text[i + 1], header);
        if (c == 0) return fail(error, std::string("undefined escape \\") + text[i + 1]);
        out += c;
        ++i;
    }
    return true;
}

bool parseExtension(std::string_view text, ParsedCefLine& parsed, std::string* error) {
    if (text.empty()) return true;
    if (text.back() != ' ') return fail(error, "the extension does not end with a blank");
    // Positions of the unescaped equal signs.
    std::vector<std::size_t> separators;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '=')
            separators.push_back(i);
    }
    if (separators.empty()) return fail(error, "extension text without a key");
    // Where each item's key starts: after the last blank before its "=".
    std::vector<std::size_t> keyStarts;
    for (std::size_t n = 0; n < separators.size(); ++n) {
        const std::size_t floor = n == 0 ? 0 : separators[n - 1] + 1;
        std::size_t start = separators[n];
        while (start > floor && text[start - 1] != ' ')
            --start;
        if (start == separators[n]) return fail(error, "an equal sign without a key");
        if (n == 0 ? start != 0 : start == floor)
            return fail(error, "text before the first key or no blank before a key");
        keyStarts.push_back(start);
    }
    for (std::size_t n = 0; n < separators.size(); ++n) {
        const std::string_view key = text.substr(keyStarts[n], separators[n] - keyStarts[n]);
        for (const char c : key)
            if (c == '\\') return fail(error, "a backslash in a key");
        // The value ends at the blank before the next key, or at the final blank.
        const std::size_t valueEnd = n + 1 < separators.size() ? keyStarts[n + 1] - 1 : text.size() - 1;
        std::string value;
        if (!unescape(text.substr(separators[n] + 1, valueEnd - separators[n] - 1), false, value, error)) return false;
        parsed.extension.emplace_back(std::string(key), std::move(value));
    }
    return true;
}

} // namespace

std::optional<ParsedCefLine> parseCefLine(std::string_view line, std::string* error) {
    constexpr std::string_view kPrefix = "CEF:";
    if (line.substr(0, kPrefix.size()) != kPrefix) {
        fail(error, "no CEF: prefix");
        return std::nullopt;
    }
    if (line.find_first_of("\r\n") != std::string_view::npos) {
        fail(error, "a raw line break");
        return std::nullopt;
    }
    ParsedCefLine parsed;
    std::size_t position = kPrefix.size();
    for (std::string& value : parsed.header) {
        std::size_t end = position;
        while (end < line.size() && line[end] != '|')
            end += line[end] == '\\' ? 2 : 1;
        if (end >= line.size()) {
            fail(error, "fewer than seven header values");
            return std::nullopt;
        }
        if (!unescape(line.substr(position, end - position), true, value, error)) return std::nullopt;
        position = end + 1;
    }
    if (parsed.header[0].empty() || parsed.header[0].find_first_not_of("0123456789") != std::string::npos) {
        fail(error, "a version that is not digits");
        return std::nullopt;
    }
    if (!parseExtension(line.substr(position), parsed, error)) return std::nullopt;
    return parsed;
}

} // namespace quorvel_test
