#include "json_string_escape.h"

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
    for (int byte = 0; byte < 256; ++byte) table[byte] = byte < 0x20 || byte >= 0x7F;
    table['"'] = true;
    table['\\'] = true;
    return table;
}
constexpr std::array<bool, 256> kSpecial = makeSpecialTable();

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

void appendUnicodeEscape(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0x0F]};
    out.append(escape, sizeof escape);
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

// Writes the special bytes at the start of `rest` and returns how many bytes
// it consumed.
std::size_t appendSpecial(std::string& out, std::string_view rest, bool utf8Locale) {
    const auto lead = static_cast<unsigned char>(rest[0]);
    if (const char letter = shortEscape(lead)) {
        out += '\\';
        out += letter;
        return 1;
    }
    if (lead >= 0x80 && utf8Locale) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8Sequence(rest, codePoint);
        if (length != 0 && isPrintable(codePoint)) {
            out.append(rest.data(), length);
            return length;
        }
        const std::size_t consumed = length != 0 ? length : 1;
        for (std::size_t i = 0; i < consumed; ++i) appendUnicodeEscape(out, static_cast<unsigned char>(rest[i]));
        return consumed;
    }
    if (isPrintable(lead)) {
        out += static_cast<char>(lead);
    } else {
        appendUnicodeEscape(out, lead);
    }
    return 1;
}

} // namespace

void appendJsonString(std::string& out, std::string_view value) {
    out += '"';
    int utf8Locale = -1; // asked only when a byte from 0x80 up appears
    std::size_t position = 0;
    while (position < value.size()) {
        std::size_t plainEnd = position;
        while (plainEnd < value.size() && !kSpecial[static_cast<unsigned char>(value[plainEnd])]) ++plainEnd;
        out.append(value.data() + position, plainEnd - position);
        if (plainEnd == value.size()) break;
        if (utf8Locale < 0 && static_cast<unsigned char>(value[plainEnd]) >= 0x80) utf8Locale = localeIsUtf8();
        position = plainEnd + appendSpecial(out, value.substr(plainEnd), utf8Locale == 1);
    }
    out += '"';
}

} // namespace quorvel
