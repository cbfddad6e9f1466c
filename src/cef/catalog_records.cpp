#include "cef/catalog_records.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quorvel {

namespace {

// FNV-1a, its bits folded down so that the low ones that pick a slot depend
// on every byte. Inline: identifiers are short and hashed per event.
std::size_t hashOf(std::string_view identifier) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : identifier)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    return static_cast<std::size_t>(hash ^ (hash >> 29) ^ (hash >> 47));
}

} // namespace

std::optional<std::string_view> CatalogRecords::find(std::string_view identifier) const {
    if (table_.empty()) return std::nullopt;
    const std::uint32_t offset = table_[slotOf(identifier)];
    if (offset == kNoRecord) return std::nullopt;
    const char* const compiled = bytes_.get() + offset + identifier.size() + 1;
    const auto* const end = static_cast<const char*>(
        std::memchr(compiled, '\n', size_ - static_cast<std::size_t>(compiled - bytes_.get())));
    return std::string_view(compiled, static_cast<std::size_t>(end - compiled));
}

bool CatalogRecords::makeRoom(std::size_t pending, std::size_t bytes) {
    if (bytes <= room()) return true;
    if (bytes > kMaxBytes - size_) return false;
    const std::size_t capacity = std::min(std::max(size_ + bytes, capacity_ + capacity_ / 2), kMaxBytes);
    std::unique_ptr<char[]> grown(new char[capacity]);
    std::copy_n(bytes_.get(), size_ + pending, grown.get()); // the first block has nothing to copy
    bytes_ = std::move(grown);
    capacity_ = capacity;
    return true;
}

void CatalogRecords::reserveFor(std::size_t fileBytes) { makeRoom(0, std::min(fileBytes + 1, kMaxBytes - size_)); }

void CatalogRecords::commit(std::size_t identifierLength, const char* end) {
    if ((count_ + 1) * 2 > table_.size()) growTable();
    const auto offset = static_cast<std::uint32_t>(size_);
    table_[slotOf(std::string_view(tail(), identifierLength))] = offset;
    ++count_;
    size_ = static_cast<std::size_t>(end - bytes_.get());
}

std::string_view CatalogRecords::identifierAt(std::uint32_t offset) const {
    const char* const identifier = bytes_.get() + offset;
    const auto* const equals = static_cast<const char*>(std::memchr(identifier, '=', size_ - offset));
    return std::string_view(identifier, static_cast<std::size_t>(equals - identifier));
}

bool CatalogRecords::holds(std::uint32_t offset, std::string_view identifier) const {
    // The record's first "=" ends its identifier, so a key with an "=" of its
    // own can match only its start.
    // Identifiers are short: compared byte by byte, in place of a call.
    const char* const record = bytes_.get() + offset;
    if (identifier.size() >= size_ - offset || record[identifier.size()] != '=') return false;
    for (std::size_t i = 0; i < identifier.size(); ++i)
        if (record[i] != identifier[i] || record[i] == '=') return false;
    return true;
}

std::size_t CatalogRecords::slotOf(std::string_view identifier) const {
    const std::size_t mask = table_.size() - 1;
    std::size_t slot = hashOf(identifier) & mask;
    while (table_[slot] != kNoRecord && !holds(table_[slot], identifier))
        slot = (slot + 1) & mask;
    return slot;
}

void CatalogRecords::growTable() {
    const std::size_t size = std::max<std::size_t>(table_.size() * 2, 16);
    const std::vector<std::uint32_t> old = std::exchange(table_, std::vector<std::uint32_t>(size, kNoRecord));
    for (const std::uint32_t offset : old)
        if (offset != kNoRecord) table_[slotOf(identifierAt(offset))] = offset;
}

} // namespace quorvel
