// Finding the bytes of a value that its line format cannot copy as they
// are: sixteen bytes at a time with SSE2 on x86-64 (sixty-four at a time for
// long values where the processor has AVX-512, wide_byte_steps.h), a byte at
// a time on other targets. Both event writers' escapers copy the runs between such bytes
// whole through it.
#pragma once

#include "logging/byte_set.h"
#include "logging/wide_byte_steps.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel {

namespace byte_scan_detail {

// `set` as one flag per byte value, for the bytes scanned one at a time.
template <const ByteSet& set> struct ByteTable {
    bool contains[256] = {};
    constexpr ByteTable() {
        for (unsigned byte = 0; byte < 256; ++byte)
            contains[byte] = set.contains(static_cast<unsigned char>(byte));
    }
};
template <const ByteSet& set> inline constexpr ByteTable<set> kByteTable{};

#if defined(__SSE2__)
// 0xFF in each byte of `block` that `set` contains, 0 in the others.
template <const ByteSet& set> inline __m128i matchBytes(__m128i block) {
    __m128i hits = _mm_setzero_si128();
    if constexpr (set.below != 0) {
        const __m128i last = _mm_set1_epi8(static_cast<char>(set.below - 1));
        hits = _mm_cmpeq_epi8(_mm_min_epu8(block, last), block);
    }
    if constexpr (set.from != 0) {
        const __m128i first = _mm_set1_epi8(static_cast<char>(set.from));
        hits = _mm_or_si128(hits, _mm_cmpeq_epi8(_mm_max_epu8(block, first), block));
    }
    for (std::size_t i = 0; i < set.namedCount; ++i)
        hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(set.named[i]))));
    return hits;
}

// One bit per byte of `block` that `set` contains, the first byte lowest.
template <const ByteSet& set> inline unsigned matches(__m128i block) {
    return static_cast<unsigned>(_mm_movemask_epi8(matchBytes<set>(block)));
}

inline __m128i load16(const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
#endif

} // namespace byte_scan_detail

// How many bytes of `text` `set` contains; `forms` are the same stops as the
// wide steps see them.
template <const ByteSet& set, const ShortForms& forms> inline std::size_t countInSet(std::string_view text) {
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t count = 0;
    std::size_t position = 0;
#ifdef QUORVEL_WIDE_STEPS
    if (size >= 64 && wideStepsEnabled().load(std::memory_order_relaxed))
        count = countStopBlocks<forms>(text, position);
#endif
#if defined(__SSE2__)
    // Each block's matches as ones, summed across the bytes into two 64-bit
    // lanes (no popcount instruction in the x86-64 baseline).
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    __m128i sums = zero;
    for (; position + 16 <= size; position += 16) {
        const __m128i hits = byte_scan_detail::matchBytes<set>(byte_scan_detail::load16(data + position));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_and_si128(hits, one), zero));
    }
    count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
    const bool* const contains = byte_scan_detail::kByteTable<set>.contains;
    for (; position < size; ++position)
        count += contains[static_cast<unsigned char>(data[position])];
    return count;
}

#if defined(__SSE2__)
namespace byte_scan_detail {

inline void store16(char* at, __m128i bytes) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), bytes); }

// True when none of the `size` bytes at `at`, 4 to 16 of them, is in `set`:
// read as two words of 8 bytes (or of 4 below 8) that overlap as needed, so
// that nothing outside them is read.
template <const ByteSet& set> inline bool shortRunIsClean(const char* at, std::size_t size) {
    __m128i bytes;
    if (size >= 8) {
        long long low, high;
        std::memcpy(&low, at, 8);
        std::memcpy(&high, at + size - 8, 8);
        bytes = _mm_set_epi64x(high, low);
    } else {
        int low, high;
        std::memcpy(&low, at, 4);
        std::memcpy(&high, at + size - 4, 4);
        bytes = _mm_set_epi32(high, low, high, low);
    }
    return matches<set>(bytes) == 0;
}

// Copies the `size` bytes at `from`, `word` to 2 * `word` of them, as two
// words that overlap as needed.
template <std::size_t word> inline char* copyTwoWords(char* to, const char* from, std::size_t size) {
    char low[word], high[word];
    std::memcpy(low, from, word);
    std::memcpy(high, from + size - word, word);
    std::memcpy(to, low, word);
    std::memcpy(to + size - word, high, word);
    return to + size;
}

// Copies the `size` bytes at `from`, 4 to 16 of them.
inline char* copyShortRun(char* to, const char* from, std::size_t size) {
    return size >= 8 ? copyTwoWords<8>(to, from, size) : copyTwoWords<4>(to, from, size);
}

// Writes the sixteen-byte block at `position` of `text` as writeWithStops
// does, and advances `position` past the bytes it consumed (16, or more
// where the last stop's form consumed bytes past the block). A
// sixteen-byte move from anywhere in the block must stay inside `text`.
// Inlined: it is the inner step of every long value.
template <const ByteSet& stops, class WriteStop>
__attribute__((always_inline)) inline char* writeBlock16(char* to, std::string_view text, std::size_t& position,
                                                         WriteStop& writeStop) {
    const char* const block = text.data() + position;
    unsigned hits = matches<stops>(load16(block));
    std::size_t done = 0; // bytes of the block consumed
    // The stops of a block come from one scan, so that the next one's
    // position does not wait on the last one's form.
    while (hits != 0) {
        const auto stop = static_cast<std::size_t>(__builtin_ctz(hits));
        store16(to, load16(block + done));
        to += stop - done;
        done = stop + writeStop(to, position + stop);
        hits = done < 16 ? hits & (~0u << done) : 0;
    }
    if (done < 16) {
        store16(to, load16(block + done));
        to += 16 - done;
        done = 16;
    }
    position += done;
    return to;
}

} // namespace byte_scan_detail
#endif

// Writes `text` from `position` on at `to` as writeWithStops does. Inlined
// into each caller, where short values spend most of their time.
template <const ByteSet& stops, class WriteStop>
__attribute__((always_inline)) inline char* writeWithStopsFrom(char* to, std::string_view text, std::size_t position,
                                                               WriteStop& writeStop) {
    const char* const data = text.data();
    const std::size_t size = text.size();
#if defined(__SSE2__)
    using namespace byte_scan_detail;
    // A block at a time while a sixteen-byte move from anywhere in the block
    // stays inside the text.
    while (position + 32 <= size)
        to = writeBlock16<stops>(to, text, position, writeStop);
    // What is left, under 32 bytes: a clean block whole, then a clean rest
    // of 4 to 16 bytes whole; bytes a stop leaves one at a time.
    if (position + 16 <= size) {
        const __m128i block = load16(data + position);
        if (matches<stops>(block) == 0) {
            store16(to, block);
            to += 16;
            position += 16;
        }
    }
    if (size - position >= 4 && size - position <= 16 && shortRunIsClean<stops>(data + position, size - position))
        return copyShortRun(to, data + position, size - position);
#endif
    const bool* const contains = byte_scan_detail::kByteTable<stops>.contains;
    while (position < size) {
        const char c = data[position];
        if (contains[static_cast<unsigned char>(c)]) {
            position += writeStop(to, position);
        } else {
            *to++ = c;
            ++position;
        }
    }
    return to;
}

// Writes `text` at `to`: the bytes `stops` does not contain copied as they
// are, runs of them whole, and each byte it does contain by
// `writeStop(to, position)`, which writes that byte's form (advancing `to`)
// and returns how many bytes of `text` from `position` on it consumed, at
// least 1. Returns the end of what it wrote.
//
// It copies in sixteen-byte moves that may run past the run they copy, later
// writes landing over the excess, so `to` must have room for at least one
// byte per byte of `text` left to write: true of every escaper whose forms
// take at least one byte per byte consumed.
template <const ByteSet& stops, class WriteStop>
inline char* writeWithStops(char* to, std::string_view text, WriteStop writeStop) {
    return writeWithStopsFrom<stops>(to, text, 0, writeStop);
}

// The values from which the wide steps may pay. Escapers hand them to
// writeLongWithStops() out of line: a call among the short values' steps,
// even one not taken, would cost each of them more than it saves.
inline constexpr std::size_t kWideStepsFrom = 128;

// Writes `text` at `to` as writeWithStops() does: in wide steps while at
// least 128 bytes are left (so that each step's 64-byte stores stay within
// the room of one byte per byte left), a block with stops the escaper writes
// itself sixteen bytes at a time up to the last of them, the rest sixteen
// bytes at a time. `forms` are the escaper's short forms: every byte they
// name must be written by `writeStop` as its form, consuming that byte alone.
template <const ByteSet& stops, const ShortForms& forms, class WriteStop>
QUORVEL_WIDE_TARGET char* writeWideWithStops(char* to, std::string_view text, WriteStop writeStop) {
    std::size_t position = 0;
#ifdef QUORVEL_WIDE_STEPS
    while (position + 128 <= text.size()) {
        const wide_steps_detail::Block block = wide_steps_detail::blockAt<forms>(text.data() + position);
        const std::uint64_t ownForm = wide_steps_detail::ownFormOf<forms>(block);
        if (ownForm == 0) {
            to = wide_steps_detail::writeShortFormBlock<forms>(to, block);
            position += 64;
            continue;
        }
        const std::size_t pastStop = position + static_cast<std::size_t>(64 - __builtin_clzll(ownForm));
        while (position < pastStop)
            to = byte_scan_detail::writeBlock16<stops>(to, text, position, writeStop);
    }
#endif
    return writeWithStopsFrom<stops>(to, text, position, writeStop);
}

// Writes `text` at `to` as writeWithStops() does, in wide steps where the
// processor takes them; for values from kWideStepsFrom bytes.
template <const ByteSet& stops, const ShortForms& forms, class WriteStop>
char* writeLongWithStops(char* to, std::string_view text, WriteStop writeStop) {
#ifdef QUORVEL_WIDE_STEPS
    if (wideStepsEnabled().load(std::memory_order_relaxed))
        return writeWideWithStops<stops, forms>(to, text, writeStop);
#endif
    return writeWithStops<stops>(to, text, writeStop);
}

} // namespace quorvel
