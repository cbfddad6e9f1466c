// The storage of the catalogue: every entry a record in one block of bytes,
// found by its identifier through a hash table of 32-bit offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvel {

// A record is an identifier, "=", its compiled template and a line feed. An
// identifier holds no "=" and no line feed, and a compiled template no line
// feed, so the two bytes delimit the parts. Records are written after the
// last one (at tail()), then committed; the block grows when asked for room.
// Lookup hashes the identifier into an open-addressing table of the records'
// offsets, so it costs the same for ten entries and for a million.
class CatalogRecords {
  public:
    // The block never grows past this size, so that every offset fits 32 bits.
    static constexpr std::size_t kMaxBytes = UINT32_MAX;

    // The compiled template of the record of `identifier`; nothing when there
    // is none.
    std::optional<std::string_view> find(std::string_view identifier) const;

    // The room after the committed records, where the next record is written.
    char* tail() { return bytes_.get() + size_; }
    std::size_t room() const { return capacity_ - size_; }

    // Makes room() at least `bytes`, keeping the first `pending` bytes written
    // at tail(): the block grows to what is asked or by half, whichever is
    // more, and moves. False, changing nothing, when it would pass kMaxBytes.
    bool makeRoom(std::size_t pending, std::size_t bytes);

    // Room for the records of a file of `fileBytes` bytes still to be read,
    // once, as far as kMaxBytes allows. No record of a line with "=" is longer
    // than the line with its line feed, and a last line without one gets one.
    void reserveFor(std::size_t fileBytes);

    // Commits the record written at tail() up to `end`, after its line feed,
    // whose identifier is its first `identifierLength` bytes. That identifier
    // has no record yet.
    void commit(std::size_t identifierLength, const char* end);

  private:
    static constexpr std::uint32_t kNoRecord = UINT32_MAX;

    std::string_view identifierAt(std::uint32_t offset) const;
    bool holds(std::uint32_t offset, std::string_view identifier) const;
    // The slot of the table where `identifier` is or would go.
    std::size_t slotOf(std::string_view identifier) const;
    void growTable();

    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    // Record offsets by the hash of their identifiers, probed linearly; a
    // power of two in size, at most half full.
    std::vector<std::uint32_t> table_;
    std::size_t count_ = 0;
};

} // namespace quorvel
