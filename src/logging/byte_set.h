// A set of byte values that an escaper stops at, in the form the block-wise
// scans test for it.
#pragma once

#include <cstddef>

namespace quorvel {

// The bytes an escaper stops at: every byte below `below`, every byte from
// `from` up (when `from` is not 0), and up to four named bytes.
struct ByteSet {
    unsigned char below;
    unsigned char from;
    unsigned char named[4];
    std::size_t namedCount;

    constexpr bool contains(unsigned char byte) const {
        if (byte < below || (from != 0 && byte >= from)) return true;
        for (std::size_t i = 0; i < namedCount; ++i)
            if (byte == named[i]) return true;
        return false;
    }
};

// The ByteSet of the bytes for which `stops(byte)` is true: the run from 0
// and the run up to 0xFF, and the others named, of which there may be at
// most four (more fail the build where the set is a constant).
template <class Stops> constexpr ByteSet byteSetOf(Stops stops) {
    ByteSet set{0, 0, {}, 0};
    unsigned below = 0;
    while (below < 256 && stops(below))
        ++below;
    unsigned from = 256;
    while (from > below && stops(from - 1))
        --from;
    if (below == 256) throw "a byte set leaves some byte out";
    set.below = static_cast<unsigned char>(below);
    set.from = static_cast<unsigned char>(from == 256 ? 0 : from);
    for (unsigned byte = below; byte < from; ++byte) {
        if (!stops(byte)) continue;
        if (set.namedCount == 4) throw "a byte set names at most four bytes";
        set.named[set.namedCount++] = static_cast<unsigned char>(byte);
    }
    return set;
}

} // namespace quorvel
