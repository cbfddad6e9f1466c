#include "xdas/json_string_escape.h"

#include "logging/byte_scan.h"

#include <langinfo.h>

#include <array>
#include <cstring>
#include <cwctype>

namespace quorvel {
namespace {

// The string form of every byte below 0x80, padded to eight bytes so that
// one fixed-size copy writes any of them: printable ASCII as it is, the short
// escapes, \u00XX for the other control characters and DEL. Bytes from 0x80
// up have length 0: their form depends on the locale and on the bytes after
// them.
struct EscapedByte {
    char text[7];
    unsigned char length;
};
static_assert(sizeof(EscapedByte) == 8);

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The most bytes one byte of a value takes in the string form (\u00XX).
constexpr std::size_t kMostPerByte = 6;

constexpr EscapedByte escapedAsciiByte(int byte) {
    EscapedByte escaped{};
    const char shortEscapes[][2] = {{'"', '"'},  {'\\', '\\'}, {'\b', 'b'}, {'\f', 'f'},
                                    {'\n', 'n'}, {'\r', 'r'},  {'\t', 't'}};
    for (const auto& [raw, letter] : shortEscapes) {
        if (byte == static_cast<unsigned char>(raw)) {
            escaped.text[0] = '\\';
            escaped.text[1] = letter;
            escaped.length = 2;
            return escaped;
        }
    }
    if (byte >= 0x20 && byte < 0x7F) {
        escaped.text[0] = static_cast<char>(byte);
        escaped.length = 1;
        return escaped;
    }
    const char unicode[] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
    for (int i = 0; i < 6; ++i)
        escaped.text[i] = unicode[i];
    escaped.length = 6;
    return escaped;
}

constexpr std::array<EscapedByte, 256> makeEscapeTable() {
    std::array<EscapedByte, 256> table{};
    for (std::size_t byte = 0; byte < 0x80; ++byte)
        table[byte] = escapedAsciiByte(static_cast<int>(byte));
    return table;
}
constexpr std::array<EscapedByte, 256> kEscaped = makeEscapeTable();

// The bytes the writer stops at: all but printable ASCII other than the
// double quote and the backslash, which are copied as they are.
constexpr ByteSet kJsonStops = byteSetOf(
    [](unsigned byte) { return kEscaped[byte].length != 1 || kEscaped[byte].text[0] != static_cast<char>(byte); });

constexpr ShortForms kJsonForms =
    shortFormsOf(kJsonStops, [](unsigned byte) { return kEscaped[byte].length == 2 ? kEscaped[byte].text[1] : '\0'; });

char* writeUnicodeEscape(char* to, unsigned char byte) {
    std::memcpy(to, "\\u00", 4);
    to[4] = kHexDigits[byte >> 4];
    to[5] = kHexDigits[byte & 0x0F];
    return to + 6;
}

bool localeIsUtf8() { return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0; }

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence of two to four bytes at the start
// of `text`, with the code point it encodes; 0 when there is none.
std::size_t decodeUtf8Sequence(std::string_view text, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;  // no overlong forms
        if (lead == 0xF4) high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(byte(i))) return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    codePoint = value;
    return length;
}

bool isPrintable(char32_t codePoint) { return std::iswprint(static_cast<std::wint_t>(codePoint)) != 0; }

// Writes the character that starts with the byte from 0x80 up at the start
// of `rest` at `to`; advances `to` and returns how many bytes of `rest` it
// consumed. Under a UTF-8 locale a well-formed sequence of a printable
// character is copied whole; every other such byte is written as \u00XX,
// unless the locale counts it as a printable character on its own.
std::size_t writeNonAscii(char*& to, std::string_view rest, bool utf8Locale) {
    const auto lead = static_cast<unsigned char>(rest[0]);
    if (utf8Locale) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8Sequence(rest, codePoint);
        if (length != 0 && isPrintable(codePoint)) {
            std::memcpy(to, rest.data(), length);
            to += length;
            return length;
        }
        const std::size_t consumed = length != 0 ? length : 1;
        for (std::size_t i = 0; i < consumed; ++i)
            to = writeUnicodeEscape(to, static_cast<unsigned char>(rest[i]));
        return consumed;
    }
    if (isPrintable(lead)) {
        *to++ = static_cast<char>(lead);
    } else {
        to = writeUnicodeEscape(to, lead);
    }
    return 1;
}

// Writes `value` as a JSON string at `to`; a long one as long values are
// written.
template <bool isLong> char* writeJsonStringIn(char* to, std::string_view value) {
    *to++ = '"';
    int utf8Locale = -1; // asked only when a byte from 0x80 up appears
    const auto writeStop = [value, &utf8Locale](char*& at, std::size_t position) -> std::size_t {
        const EscapedByte& escaped = kEscaped[static_cast<unsigned char>(value[position])];
        if (escaped.length == 0) {
            if (utf8Locale < 0) utf8Locale = localeIsUtf8();
            return writeNonAscii(at, value.substr(position), utf8Locale == 1);
        }
        std::memcpy(at, &escaped, sizeof escaped); // within the scratch room past the end
        at += escaped.length;
        return 1;
    };
    if constexpr (isLong) {
        to = writeLongWithStops<kJsonStops, kJsonForms>(to, value, writeStop);
    } else {
        to = writeWithStops<kJsonStops>(to, value, writeStop);
    }
    *to++ = '"';
    return to;
}

// A value of kWideStepsFrom bytes or more, written out of line.
__attribute__((noinline)) char* writeLongJsonString(char* to, std::string_view value) {
    return writeJsonStringIn<true>(to, value);
}

} // namespace

std::size_t jsonStringSizeBound(std::string_view value) {
    return 2 + value.size() + (kMostPerByte - 1) * countInSet<kJsonStops, kJsonForms>(value);
}

char* writeJsonString(char* to, std::string_view value) {
    if (value.size() >= kWideStepsFrom) return writeLongJsonString(to, value);
    return writeJsonStringIn<false>(to, value);
}

void appendJsonString(std::string& out, std::string_view value) {
    const std::size_t start = out.size();
    out.resize(start + maxJsonStringSize(value.size()) + kJsonStringScratch);
    char* const end = writeJsonString(out.data() + start, value);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

} // namespace quorvel
