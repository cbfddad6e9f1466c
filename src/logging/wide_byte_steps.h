// Escaping sixty-four bytes per step with AVX-512 (BW, VL, VBMI, VBMI2) and
// BMI2, on x86-64 processors that have them, chosen at run time. One table
// lookup tells each byte of a block apart: copied, or a stop with its short
// form (a backslash and a letter, or a three-byte replacement). A block whose
// stops all have a short form is written without a branch per stop: every
// byte is spread into a pair (a backslash, then its letter or itself), or
// into a triple where one is replaced, and the bytes of each pair or triple
// that its byte does not need are compressed away. A block holding a stop
// the escaper writes itself is left to the sixteen-byte way.
#pragma once

#include "logging/byte_set.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORVEL_WIDE_STEPS 1
#include <immintrin.h>
#endif

namespace quorvel {

// An escaper's stops as the wide steps see them. For each byte below 0x80,
// `letter[byte]` is 0 where the byte is copied, kReplaced where it is written
// as the three bytes of `replacement`, kOwnForm where the escaper writes it
// itself, and otherwise the letter written after a backslash. The bytes from
// 0x80 up are all copied, or, where `highBytesOwnForm`, all the escaper's.
struct ShortForms {
    static constexpr char kReplaced = 1;
    static constexpr char kOwnForm = 2;
    char letter[128];
    bool highBytesOwnForm;
    char replacement[3];
};

// The ShortForms of an escaper that stops at `stops` and writes a stop as a
// backslash and `letterOf(byte)`, as `replacement` where that is
// ShortForms::kReplaced, or itself where it is 0. Fails the build where a
// letter is not printable, or where the bytes from 0x80 up are not all stops
// or all copied.
template <class LetterOf>
constexpr ShortForms shortFormsOf(const ByteSet& stops, LetterOf letterOf, const char (&replacement)[4] = "\0\0\0") {
    ShortForms forms{};
    for (unsigned byte = 0; byte < 0x80; ++byte) {
        if (!stops.contains(static_cast<unsigned char>(byte))) continue;
        const char letter = letterOf(byte);
        if (letter != 0 && letter != ShortForms::kReplaced && (letter < 0x20 || letter == 0x7F))
            throw "a short form's letter must be printable";
        forms.letter[byte] = letter == 0 ? ShortForms::kOwnForm : letter;
    }
    forms.highBytesOwnForm = stops.contains(0x80);
    for (unsigned byte = 0x80; byte < 0x100; ++byte)
        if (stops.contains(static_cast<unsigned char>(byte)) != forms.highBytesOwnForm)
            throw "the bytes from 0x80 up must be all stops or none";
    for (int i = 0; i < 3; ++i)
        forms.replacement[i] = replacement[i];
    return forms;
}

// Whether the escapers take wide steps: at first, whether the processor and
// the kernel support them. Turning it off (tests do, to hold the
// sixteen-byte way to the same results) takes effect at once.
std::atomic<bool>& wideStepsEnabled();

#ifdef QUORVEL_WIDE_STEPS
#define QUORVEL_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt")))
#else
#define QUORVEL_WIDE_TARGET
#endif

#ifdef QUORVEL_WIDE_STEPS

namespace wide_steps_detail {

QUORVEL_WIDE_TARGET inline __m512i load64(const void* at) { return _mm512_loadu_si512(at); }

// A block of 64 bytes told apart by `forms`.
struct Block {
    __m512i bytes;
    __m512i letters;      // `forms.letter` of each stop below 0x80; any value where no stop
    std::uint64_t stops;  // one bit per stop, the first byte lowest
    std::uint64_t marked; // the stops without a letter: replaced, or the escaper's own
};

template <const ShortForms& forms> QUORVEL_WIDE_TARGET inline Block blockAt(const char* at) {
    Block block;
    block.bytes = load64(at);
    // The lookup reads the low seven bits of each byte, so a byte from 0x80
    // up finds the letter of the byte 0x80 below it, which the steps below
    // set aside: such a byte is a stop by `highBytesOwnForm` alone.
    block.letters = _mm512_permutex2var_epi8(load64(forms.letter), block.bytes, load64(forms.letter + 64));
    // kReplaced and kOwnForm, the only letters below a space: one test for
    // both, as a block holding neither is the usual case.
    static_assert(ShortForms::kReplaced < 3 && ShortForms::kOwnForm < 3);
    const __m512i belowSpace = _mm512_set1_epi8(3);
    if constexpr (forms.highBytesOwnForm) {
        const std::uint64_t high = _mm512_movepi8_mask(block.bytes);
        block.stops = _mm512_test_epi8_mask(block.letters, block.letters) | high;
        block.marked = _mm512_mask_cmplt_epu8_mask(block.stops, block.letters, belowSpace) | high;
    } else {
        // 0x80 - byte, saturated, is 0 from 0x80 up and at least 1 below, so
        // the lesser of it and the letter is nonzero exactly for the stops:
        // two vector steps, where masking the lookup by the high bits took
        // two mask-register steps, which cost more (bench/README.md).
        const __m512i belowHigh = _mm512_subs_epu8(_mm512_set1_epi8(static_cast<char>(0x80)), block.bytes);
        const __m512i stopLetters = _mm512_min_epu8(block.letters, belowHigh);
        block.stops = _mm512_test_epi8_mask(stopLetters, stopLetters);
        block.marked = _mm512_mask_cmplt_epu8_mask(block.stops, block.letters, belowSpace);
    }
    return block;
}

// The stops of `block` that the escaper writes itself: none where no stop
// is marked, the usual case, which takes no further step.
template <const ShortForms& forms> QUORVEL_WIDE_TARGET inline std::uint64_t ownFormOf(const Block& block) {
    if (block.marked == 0) return 0;
    std::uint64_t ownForm =
        _mm512_mask_cmpeq_epi8_mask(block.marked, block.letters, _mm512_set1_epi8(ShortForms::kOwnForm));
    if constexpr (forms.highBytesOwnForm) ownForm |= _mm512_movepi8_mask(block.bytes);
    return ownForm;
}

// The indexes that interleave the bytes `first` to `first` + 31 of one
// vector with the bytes of another: pair i is byte 0 of the other, then byte
// `first` + i of the one.
struct PairIndexes {
    char index[64];
    constexpr explicit PairIndexes(int first) : index{} {
        for (int i = 0; i < 32; ++i) {
            index[2 * i] = 64;
            index[2 * i + 1] = static_cast<char>(first + i);
        }
    }
};
inline constexpr PairIndexes kPairs[2] = {PairIndexes{0}, PairIndexes{32}};

// Writes half a block in pairs, a backslash and a byte of `written` each,
// the backslash kept only before the stops among `stops` (the low 32 bits).
// Stores 64 bytes at `to`.
QUORVEL_WIDE_TARGET inline char* writePairs(char* to, __m512i written, const PairIndexes& indexes,
                                            std::uint64_t stops) {
    const __m512i pairs = _mm512_permutex2var_epi8(written, load64(indexes.index), _mm512_set1_epi8('\\'));
    const std::uint64_t kept = 0xAAAAAAAAAAAAAAAAull | _pdep_u64(stops, 0x5555555555555555ull);
    _mm512_storeu_si512(to, _mm512_maskz_compress_epi8(kept, pairs));
    return to + 32 + _mm_popcnt_u64(stops);
}

// The indexes that spread the bytes `first` to `first` + 15 of one vector
// (`last`) and of another (`middle`) into triples: triple i is a byte left
// for the replacement's first, then byte `first` + i of `middle`, then that
// of `last`.
struct TripleIndexes {
    char index[64];
    constexpr explicit TripleIndexes(int first) : index{} {
        for (int i = 0; i < 16; ++i) {
            index[3 * i + 1] = static_cast<char>(64 + first + i);
            index[3 * i + 2] = static_cast<char>(first + i);
        }
    }
};
inline constexpr TripleIndexes kTriples[4] = {TripleIndexes{0}, TripleIndexes{16}, TripleIndexes{32},
                                              TripleIndexes{48}};
inline constexpr std::uint64_t kFirstOfTriples = 0x0000249249249249ull;
inline constexpr std::uint64_t kSecondOfTriples = kFirstOfTriples << 1;
inline constexpr std::uint64_t kThirdOfTriples = kFirstOfTriples << 2;

// Writes a quarter block in triples: the first byte of each `first`, the
// others from `middle` and `last` by `indexes`; the first kept where the
// quarter's byte is among `replaced`, the second where it is among `stops`
// (16 bits each). Stores 64 bytes at `to`.
QUORVEL_WIDE_TARGET inline char* writeTriples(char* to, __m512i middle, __m512i last, const TripleIndexes& indexes,
                                              char first, std::uint32_t stops, std::uint32_t replaced) {
    const __m512i spread = _mm512_permutex2var_epi8(last, load64(indexes.index), middle);
    const __m512i triples = _mm512_mask_blend_epi8(kFirstOfTriples, spread, _mm512_set1_epi8(first));
    const std::uint64_t kept =
        kThirdOfTriples | _pdep_u64(stops, kSecondOfTriples) | _pdep_u64(replaced, kFirstOfTriples);
    _mm512_storeu_si512(to, _mm512_maskz_compress_epi8(kept, triples));
    return to + 16 + _mm_popcnt_u32(stops) + _mm_popcnt_u32(replaced);
}

// Writes `block`, which holds no stop the escaper writes itself, at `to`, and
// returns the end of what it wrote. Stores 64 bytes at the end of each half
// block's form (of each quarter's, where a byte is replaced): at `to` and
// past each but the last.
template <const ShortForms& forms> QUORVEL_WIDE_TARGET inline char* writeShortFormBlock(char* to, const Block& block) {
    // Each byte as written after a backslash: a stop's letter, or the byte.
    const __m512i written = _mm512_mask_blend_epi8(block.stops, block.bytes, block.letters);
    const std::uint64_t replaced = block.marked; // none the escaper's own
    if (replaced == 0) {
        to = writePairs(to, written, kPairs[0], block.stops & 0xFFFFFFFF);
        return writePairs(to, written, kPairs[1], block.stops >> 32);
    }
    const __m512i middle =
        _mm512_mask_blend_epi8(replaced, _mm512_set1_epi8('\\'), _mm512_set1_epi8(forms.replacement[1]));
    const __m512i last = _mm512_mask_blend_epi8(replaced, written, _mm512_set1_epi8(forms.replacement[2]));
    for (int quarter = 0; quarter < 4; ++quarter) {
        const int shift = 16 * quarter;
        to = writeTriples(to, middle, last, kTriples[quarter], forms.replacement[0],
                          static_cast<std::uint32_t>((block.stops >> shift) & 0xFFFF),
                          static_cast<std::uint32_t>((replaced >> shift) & 0xFFFF));
    }
    return to;
}

} // namespace wide_steps_detail

// How many stops `text` holds, a whole number of 64-byte blocks at a time;
// `position` is left at the first byte not counted.
template <const ShortForms& forms>
QUORVEL_WIDE_TARGET inline std::size_t countStopBlocks(std::string_view text, std::size_t& position) {
    std::size_t count = 0;
    std::size_t at = position;
    for (; at + 64 <= text.size(); at += 64)
        count += static_cast<std::size_t>(_mm_popcnt_u64(wide_steps_detail::blockAt<forms>(text.data() + at).stops));
    position = at;
    return count;
}
#endif

} // namespace quorvel
