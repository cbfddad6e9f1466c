#include "cef/cef_line.h"

#include "logging/line_buffer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quorvel {

namespace {

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

// Writes the items of an event's line, each through the field table.
class LineWriter {
  public:
    LineWriter(const CEF_EVENT& event, std::string& out, std::size_t expected) : event_(event), line_(out, expected) {}

    void finish() { line_.finish(); }
    void put(std::string_view text) { line_.put(text); }

    // The "msg" item: the template's message written straight into the line
    // after "msg=", all of which is taken back when the message is empty.
    void message(const EventDescTemplate& eventTemplate) {
        const std::size_t item = line_.size();
        line_.put("msg=");
        const std::size_t start = line_.size();
        eventTemplate.writeMessage(line_, event_);
        // No item for an empty message, nor for one whose template's own text
        // starts with NUL (template text is copied as the catalogue has it).
        if (line_.size() == start || line_.byteAt(start) == '\0') {
            line_.truncate(item);
            return;
        }
        line_.put(' ');
    }

    // The rows of `section`, each written as its role says.
    void section(const CefLineSection& section) {
        switch (section.role) {
        case CefLineRole::Header: header(section.begin, section.end); return;
        case CefLineRole::Single: singles(section.begin, section.end); return;
        case CefLineRole::PairLabel: pairs(section.begin, section.end); return;
        case CefLineRole::PairValue:
        case CefLineRole::None: return; // no section starts with such a row
        }
    }

  private:
    // The value of the table's `row` (with "key=" before it when `withKey`),
    // escaped by `escaping`, and room for one more byte after it; false,
    // writing nothing, for an empty text value.
    __attribute__((always_inline)) bool field(std::size_t row, bool withKey, CefEscaping escaping) {
        const CefField& field = CefFieldTable[row];
        if (field.kind == CefFieldKind::Text && isEmptyCefText(event_.*field.text)) return false;
        char* to = line_.room(ItemKey::kWidth + cefFieldValueBound(event_, field, escaping) + 1);
        if (withKey) to = writeKey(to, row);
        line_.advance(writeCefFieldValue(to, event_, field, escaping));
        return true;
    }

    // Bare values, each followed by "|", empty ones too.
    void header(std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row) {
            field(row, false, CefEscaping::Header);
            line_.put('|');
        }
    }

    // Items written when non-empty, each followed by a blank.
    void singles(std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row)
            if (field(row, true, CefEscaping::Extension)) line_.putInRoom(' ');
    }

    // Label and value items, both written only when the label is non-empty.
    void pairs(std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row + 1 < end; row += 2) {
            if (!field(row, true, CefEscaping::Extension)) continue;
            line_.putInRoom(' ');
            field(row + 1, true, CefEscaping::Extension);
            line_.putInRoom(' ');
        }
    }

    static char* writeKey(char* to, std::size_t row) {
        const ItemKey& key = kItemKeys[row];
        std::memcpy(to, key.text, ItemKey::kWidth);
        return to + key.size;
    }

    const CEF_EVENT& event_;
    LineBuffer line_;
};

} // namespace

void renderCefLine(const EventDescriptionCatalog& catalog, const CEF_EVENT& event, std::string& out) {
    // Lines of the usual handful of short fields fit in the first size.
    LineWriter writer(event, out, 256);
    writer.put("CEF:");
    for (const CefLineSection& section : CefLineSections)
        writer.section(section);
    if (const auto eventTemplate = catalog.templateOf(event)) writer.message(*eventTemplate);
    writer.finish();
}

} // namespace quorvel
