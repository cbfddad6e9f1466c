#include "cef/cef_line.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quorvel {

namespace {

// Row positions of the line's sections (the header is rows 0 to 6).
constexpr std::size_t kFirstSingles = 7, kEndFirstSingles = 23;    // dvc .. duser
constexpr std::size_t kFirstPairs = 23, kEndFirstPairs = 29;       // cn1Label/cn1 .. cn3Label/cn3
constexpr std::size_t kSecondSingles = 29, kEndSecondSingles = 45; // cs1Label .. flexString2
constexpr std::size_t kSecondPairs = 45, kEndSecondPairs = 49;     // flexNumber1Label/flexNumber1 ..
constexpr std::size_t kThirdSingles = 49, kEndThirdSingles = 52;   // cat, reason, outcome
static_assert(kEndThirdSingles == kCefFieldCount);

// Each row's "key=" text, padded so that it is copied in one move of fixed
// size, with the writer keeping that much room.
struct ItemKey {
    static constexpr std::size_t kWidth = 32;
    char text[kWidth];
    std::size_t size;
};
using ItemKeys = std::array<ItemKey, kCefFieldCount>;

ItemKeys makeItemKeys() {
    ItemKeys keys{};
    for (std::size_t row = 0; row < kCefFieldCount; ++row) {
        const std::string_view key = CefFieldTable[row].key;
        static_assert(sizeof "destinationServiceName=" <= ItemKey::kWidth);
        std::memcpy(keys[row].text, key.data(), key.size());
        keys[row].text[key.size()] = '=';
        keys[row].size = key.size() + 1;
    }
    return keys;
}

// CefFieldTable is constant-initialised, so it is complete here.
const ItemKeys kItemKeys = makeItemKeys();

// Writes the line straight into the output string, which is kept sized
// ahead of what is written (grown by doubling) and cut to length by finish().
class LineWriter {
  public:
    LineWriter(const CEF_EVENT& event, std::string& out, std::size_t expected) : event_(event), out_(out) {
        out_.resize(std::max(out_.capacity(), expected));
        to_ = out_.data();
        end_ = to_ + out_.size();
    }

    void finish() { out_.resize(static_cast<std::size_t>(to_ - out_.data())); }

    void put(char c) {
        room(1);
        *to_++ = c;
    }
    void put(std::string_view text) {
        room(text.size());
        std::memcpy(to_, text.data(), text.size());
        to_ += text.size();
    }

    // The value of the table's `row` (with "key=" before it when `withKey`),
    // escaped by `escaping`, and room for one more byte after it; false,
    // writing nothing, for an empty text value.
    __attribute__((always_inline)) bool field(const CefFieldRows& table, std::size_t row, bool withKey,
                                              CefEscaping escaping) {
        const CefField& field = table[row];
        if (field.kind == CefFieldKind::Text && isEmptyCefText(event_.*field.textMember)) return false;
        room(ItemKey::kWidth + cefFieldValueBound(event_, field) + 1);
        writeKey(row, withKey);
        to_ = writeCefFieldValue(to_, event_, field, escaping);
        return true;
    }

    // The "msg" item: the description expanded straight into the line after
    // "msg=", which is taken back when the expansion is empty.
    void message(const EventDescTemplate& description) {
        static constexpr std::string_view kKey = "msg=";
        room(kKey.size() + description.expansionBound(event_) + 1);
        char* const start = to_ + kKey.size();
        std::memcpy(to_, kKey.data(), kKey.size());
        char* const end = description.writeExpansion(start, event_);
        if (isEmptyCefText(std::string_view(start, static_cast<std::size_t>(end - start)))) return;
        to_ = end;
        *to_++ = ' ';
    }

    // Items written when non-empty, each followed by a blank.
    void singles(const CefFieldRows& table, std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row)
            if (field(table, row, true, CefEscaping::Extension)) *to_++ = ' ';
    }

    // Label and value items, both written only when the label is non-empty.
    void pairs(const CefFieldRows& table, std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row + 1 < end; row += 2) {
            if (!field(table, row, true, CefEscaping::Extension)) continue;
            *to_++ = ' ';
            field(table, row + 1, true, CefEscaping::Extension);
            *to_++ = ' ';
        }
    }

  private:
    void room(std::size_t count) {
        if (static_cast<std::size_t>(end_ - to_) < count) grow(count);
    }

    __attribute__((noinline)) void grow(std::size_t count) {
        const auto used = static_cast<std::size_t>(to_ - out_.data());
        out_.resize(std::max(2 * out_.size(), used + count));
        to_ = out_.data() + used;
        end_ = out_.data() + out_.size();
    }

    void writeKey(std::size_t row, bool withKey) {
        if (!withKey) return;
        const ItemKey& key = kItemKeys[row];
        std::memcpy(to_, key.text, ItemKey::kWidth);
        to_ += key.size;
    }

    const CEF_EVENT& event_;
    std::string& out_;
    char* to_;
    char* end_; // of the room in `out_`
};

} // namespace

void assembleCefLine(const CefRenderContext& context, const EventDescTemplate* description, std::string& out) {
    // Lines of the usual handful of short fields fit in the first size.
    LineWriter writer(context.event, out, 256);
    writer.put("CEF:");
    for (std::size_t row = 0; row < kCefHeaderEnd; ++row) {
        writer.field(context.table, row, false, CefEscaping::Header);
        writer.put('|');
    }
    writer.singles(context.table, kFirstSingles, kEndFirstSingles);
    writer.pairs(context.table, kFirstPairs, kEndFirstPairs);
    writer.singles(context.table, kSecondSingles, kEndSecondSingles);
    writer.pairs(context.table, kSecondPairs, kEndSecondPairs);
    writer.singles(context.table, kThirdSingles, kEndThirdSingles);
    if (description != nullptr) writer.message(*description);
    writer.finish();
}

void renderCefLine(const EventDescriptionCatalog& catalog, const CEF_EVENT& event, std::string& out) {
    const CefRenderContext context{event, CefFieldTable, std::string()};
    assembleCefLine(context, catalog.descriptionOf(event), out);
}

} // namespace quorvel
