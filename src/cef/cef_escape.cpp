#include "cef/cef_escape.h"

#include "logging/byte_scan.h"

#include <algorithm>

namespace quorvel {

namespace {

using namespace cef_escape_detail;

// The short forms of `letters`, the replacement among them.
constexpr ShortForms shortFormsIn(const ByteSet& stops, const char* letters) {
    return shortFormsOf(
        stops, [letters](unsigned byte) { return letters[byte] == kReplaced ? ShortForms::kReplaced : letters[byte]; },
        kReplacement);
}
constexpr ShortForms kExtensionForms = shortFormsIn(kExtensionStops, kCefEscapes.extension);
constexpr ShortForms kHeaderForms = shortFormsIn(kHeaderStops, kCefEscapes.header);

// Writes `value` with each byte that `stops` holds as its escape or as the
// replacement; a long one as long values are written.
template <const ByteSet& stops, const ShortForms& forms, bool isLong>
char* writeEscaped(char* to, std::string_view value, const char* letters) {
    const auto writeStop = [value, letters](char*& at, std::size_t position) -> std::size_t {
        const char letter = letters[static_cast<unsigned char>(value[position])];
        if (letter == kReplaced) {
            at = std::copy_n(kReplacement, 3, at);
        } else {
            at[0] = '\\';
            at[1] = letter;
            at += 2;
        }
        return 1;
    };
    if constexpr (isLong) return writeLongWithStops<stops, forms>(to, value, writeStop);
    return writeWithStops<stops>(to, value, writeStop);
}

template <bool isLong> char* writeEscapedIn(char* to, std::string_view value, CefEscaping escaping) {
    if (escaping == CefEscaping::Header)
        return writeEscaped<kHeaderStops, kHeaderForms, isLong>(to, value, kCefEscapes.header);
    return writeEscaped<kExtensionStops, kExtensionForms, isLong>(to, value, kCefEscapes.extension);
}

// A value of kWideStepsFrom bytes or more, written out of line.
__attribute__((noinline)) char* writeLongEscaped(char* to, std::string_view value, CefEscaping escaping) {
    return writeEscapedIn<true>(to, value, escaping);
}

} // namespace

std::size_t measuredCefEscapedSize(std::string_view value, CefEscaping escaping) {
    const std::size_t stops = escaping == CefEscaping::Header ? countInSet<kHeaderStops, kHeaderForms>(value)
                                                              : countInSet<kExtensionStops, kExtensionForms>(value);
    return value.size() + 2 * stops;
}

char* writeEscapedCefValue(char* to, std::string_view value, CefEscaping escaping) {
    if (value.size() >= kWideStepsFrom) return writeLongEscaped(to, value, escaping);
    return writeEscapedIn<false>(to, value, escaping);
}

void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping) {
    const std::size_t start = out.size();
    out.resize(start + cefEscapedSizeBound(value, escaping));
    char* const end = writeEscapedCefValue(out.data() + start, value, escaping);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

} // namespace quorvel
