// The two large hostile description catalogues, shared by the memory test of
// the catalogue and the benchmark that reports its memory: one of two 16 MiB
// lines, one of a million short lines.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace quorvel_test {

constexpr std::size_t kMiB = 1024 * 1024;

// 16 MiB of plain text with the placeholder {suser} at the start of every 64
// bytes.
inline std::string longTextTemplate() {
    std::string text;
    while (text.size() < 16 * kMiB)
        text += "{suser}" + std::string(57, 'x');
    return text;
}

// 16 MiB of nothing but the placeholder {src}.
inline std::string longPlaceholderTemplate() {
    std::string placeholders;
    while (placeholders.size() < 16 * kMiB)
        placeholders += "{src}";
    return placeholders;
}

// The two templates above on lines "text" and "placeholders", and a short
// line after them.
inline std::string longLinesCatalog(const std::string& text, const std::string& placeholders) {
    return "text=" + text + "\nplaceholders=" + placeholders + "\nafter=tail\n";
}

// A million lines from "0000000=User {suser} logged in from {src}" on.
inline std::string millionLinesCatalog() {
    constexpr int kLines = 1000000;
    std::string content;
    content.reserve(kLines * 46);
    char identifier[16];
    for (int line = 0; line < kLines; ++line) {
        std::snprintf(identifier, sizeof identifier, "%07d", line);
        content += identifier;
        content += "=User {suser} logged in from {src}\n";
    }
    return content;
}

} // namespace quorvel_test
