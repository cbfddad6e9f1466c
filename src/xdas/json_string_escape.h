// Writing a string value of the XDAS record: quoted and escaped.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Appends `value` to `out` as a JSON string: a double quote, the escaped
// content, a double quote.
//
// Double quote, backslash, backspace, form feed, line feed, carriage return
// and tab are written as backslash escapes (\" \\ \b \f \n \r \t). Printable
// ASCII is copied. Any other byte is copied when the current locale counts it
// as a printable character (iswprint), and otherwise written as \u00XX
// (uppercase hex). Under a UTF-8 locale a well-formed multi-byte sequence is
// judged and copied as one character, so printable characters stay whole;
// the bytes of ill-formed or non-printable sequences are escaped one by one.
void appendJsonString(std::string& out, std::string_view value);

// The most bytes that the JSON string form of a value of `size` bytes takes:
// two quotes and at most six bytes (\u00XX) per byte.
constexpr std::size_t maxJsonStringSize(std::size_t size) { return 6 * size + 2; }

// An upper bound of the bytes that the JSON string form of `value` takes,
// exact for text that needs no escape: every byte that is not printable
// ASCII, or is a double quote or a backslash, counts six bytes.
std::size_t jsonStringSizeBound(std::string_view value);

// The bytes past the end of its string form that writeJsonString may
// overwrite: it stores each byte's form as one eight-byte copy.
constexpr std::size_t kJsonStringScratch = 7;

// Writes `value` as a JSON string, exactly as appendJsonString appends it, at
// `to`, which must have room for jsonStringSizeBound(value) bytes (which
// maxJsonStringSize(value.size()) never falls below) and kJsonStringScratch
// more. Returns the end of the string form; what lies after it is scratch.
char* writeJsonString(char* to, std::string_view value);

} // namespace quorvel
