// The two text rules of message templates, scanned by hand: the trailing
// whitespace that a template loses, and the brace tokens it is made of.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvel {

// True for the whitespace a template loses at its end: blank, tab, line feed,
// vertical tab, form feed and carriage return.
inline bool isTemplateWhitespace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The length of `text` without its trailing run of template whitespace.
std::size_t lengthWithoutTrailingWhitespace(std::string_view text);

// A brace token: an opening brace, the shortest run of bytes other than line
// feed and carriage return, and the first closing brace after it.
struct TemplateToken {
    std::size_t offset;
    std::size_t length; // braces included
};

// The leftmost token of `text` starting at or after `from`: it begins at the
// first opening brace from which a closing brace is reached without crossing
// a line feed or carriage return. Nothing when there is none.
std::optional<TemplateToken> findTemplateToken(std::string_view text, std::size_t from);

} // namespace quorvel
