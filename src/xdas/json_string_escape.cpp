#include "xdas/json_string_escape.h"

#include <langinfo.h>

#include <array>
#include <cstring>
#include <cwctype>

namespace quorvel {
namespace {

// Bytes that need more than a plain copy: the two that JSON escapes, control
// characters, DEL and everything from 0x80 up.
constexpr std::array<bool, 256> makeSpecialTable() {
    std::array<bool, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = byte < 0x20 || byte >= 0x7F;
    table['"'] = true;
    table['\\'] = true;
    return table;
}
constexpr std::array<bool, 256> kSpecial = makeSpecialTable();

// The bytes each byte takes at most in the string form: 1 copied, 2 for the
// short escapes, 6 for \u00XX (and for bytes from 0x80 up, which may be
// copied or escaped depending on the locale).
constexpr std::array<unsigned char, 256> makeLengthTable() {
    std::array<unsigned char, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = byte < 0x20 || byte >= 0x7F ? 6 : 1;
    for (const char shortEscaped : {'"', '\\', '\b', '\f', '\n', '\r', '\t'})
        table[static_cast<unsigned char>(shortEscaped)] = 2;
    return table;
}
constexpr std::array<unsigned char, 256> kEscapedLength = makeLengthTable();

char shortEscape(unsigned char byte) {
    switch (byte) {
    case '"': return '"';
    case '\\': return '\\';
    case '\b': return 'b';
    case '\f': return 'f';
    case '\n': return 'n';
    case '\r': return 'r';
    case '\t': return 't';
    default: return 0;
    }
}

char* writeUnicodeEscape(char* to, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    to[0] = '\\';
    to[1] = 'u';
    to[2] = '0';
    to[3] = '0';
    to[4] = kHex[byte >> 4];
    to[5] = kHex[byte & 0x0F];
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

// Writes the special bytes at the start of `rest` at `to`; advances `to` and
// returns how many bytes of `rest` it consumed.
std::size_t writeSpecial(char*& to, std::string_view rest, bool utf8Locale) {
    const auto lead = static_cast<unsigned char>(rest[0]);
    if (const char letter = shortEscape(lead)) {
        to[0] = '\\';
        to[1] = letter;
        to += 2;
        return 1;
    }
    if (lead >= 0x80 && utf8Locale) {
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

} // namespace

std::size_t jsonStringSizeBound(std::string_view value) {
    std::size_t size = 2;
    for (const char c : value)
        size += kEscapedLength[static_cast<unsigned char>(c)];
    return size;
}

char* writeJsonString(char* to, std::string_view value) {
    *to++ = '"';
    int utf8Locale = -1; // asked only when a byte from 0x80 up appears
    const char* const data = value.data();
    const std::size_t size = value.size();
    std::size_t position = 0;
    while (position < size) {
        const auto byte = static_cast<unsigned char>(data[position]);
        if (!kSpecial[byte]) {
            *to++ = static_cast<char>(byte);
            ++position;
            continue;
        }
        if (const char letter = shortEscape(byte)) {
            to[0] = '\\';
            to[1] = letter;
            to += 2;
            ++position;
            continue;
        }
        if (byte < 0x80) {
            // The other ASCII bytes here are control characters (0x00 to 0x1F
            // and 0x7F), which no locale counts as printable.
            to = writeUnicodeEscape(to, byte);
            ++position;
            continue;
        }
        if (utf8Locale < 0) utf8Locale = localeIsUtf8();
        position += writeSpecial(to, value.substr(position), utf8Locale == 1);
    }
    *to++ = '"';
    return to;
}

void appendJsonString(std::string& out, std::string_view value) {
    const std::size_t start = out.size();
    out.resize(start + maxJsonStringSize(value.size()));
    char* const end = writeJsonString(out.data() + start, value);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

} // namespace quorvel
