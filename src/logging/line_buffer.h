// A line written straight into its output string: the string is kept sized
// ahead of what is written, grown by doubling, and cut to the written length
// by finish(). Both event writers render through it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace quorvel {

// Builds that check the room contracts below (the sanitizer and fuzz
// builds define QUORVEL_CHECK_ROOM): a write past the room last made aborts
// there, instead of landing in bytes a later write would overwrite unseen.
#ifdef QUORVEL_CHECK_ROOM
inline constexpr bool kCheckRoom = true;
#else
inline constexpr bool kCheckRoom = false;
#endif

class LineBuffer {
  public:
    // Writes into `out` from its start, which is made at least `expected`
    // bytes long so that most lines never grow. A string kept between lines
    // keeps its length where that is more: resizing writes zeros into every
    // byte it adds.
    LineBuffer(std::string& out, std::size_t expected) : out_(out) {
        out_.resize(std::max(out_.size(), expected));
        to_ = out_.data();
        end_ = to_ + out_.size();
    }

    // Makes room for `count` more bytes and returns where they go; what is
    // written there is kept by advance().
    char* room(std::size_t count) {
        if (static_cast<std::size_t>(end_ - to_) < count) grow(count);
        if constexpr (kCheckRoom) roomEnd_ = to_ + count;
        return to_;
    }

    // The bytes that room() can give without growing the line.
    std::size_t roomLeft() const { return static_cast<std::size_t>(end_ - to_); }

    // Moves the end of the line to `to`, within the room last made.
    void advance(char* to) {
        expectInRoom(to);
        to_ = to;
    }

    void put(char c) {
        room(1);
        *to_++ = c;
    }

    void put(std::string_view text) {
        std::memcpy(room(text.size()), text.data(), text.size());
        to_ += text.size();
    }

    // Appends `c` within room already made, without checking for it.
    void putInRoom(char c) {
        expectInRoom(to_ + 1);
        *to_++ = c;
    }

    // The number of bytes written so far; truncate() goes back to such a mark.
    std::size_t size() const { return static_cast<std::size_t>(to_ - out_.data()); }
    void truncate(std::size_t size) { to_ = out_.data() + size; }
    // The byte written at position `at`, below size().
    char byteAt(std::size_t at) const { return out_[at]; }

    // Cuts the string to the line.
    void finish() { out_.resize(size()); }

  private:
    // Out of line: lines rarely outgrow their first size.
    __attribute__((noinline)) void grow(std::size_t count) {
        const std::size_t used = size();
        out_.resize(std::max(2 * out_.size(), used + count));
        to_ = out_.data() + used;
        end_ = out_.data() + out_.size();
    }

    void expectInRoom(const char* end) const {
        if constexpr (kCheckRoom)
            if (end < to_ || end > roomEnd_) std::abort();
    }

    std::string& out_;
    char* to_;                // where the next byte goes
    char* end_;               // of the room in `out_`
    char* roomEnd_ = nullptr; // of the room last made; kept where kCheckRoom
};

} // namespace quorvel
