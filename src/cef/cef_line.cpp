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

    // The header's bare values, each followed by "|", empty ones too.
    void header() {
        const CefLineSection& header = CefLineSections[0];
        for (std::size_t row = header.begin; row < header.end; ++row) {
            field(row, false, CefEscaping::Header);
            line_.put('|');
        }
    }

    // The items of `rows`, in table order, each followed by a blank.
    void items(CefRowMask rows) {
        for (; rows != 0; rows &= rows - 1) {
            field(static_cast<std::size_t>(__builtin_ctzll(rows)), true, CefEscaping::Extension);
            line_.putInRoom(' ');
        }
    }

  private:
    // The value of the table's `row` (with "key=" before it when `withKey`),
    // escaped by `escaping`, and room for one more byte after it; an empty
    // text value writes nothing.
    __attribute__((always_inline)) void field(std::size_t row, bool withKey, CefEscaping escaping) {
        const CefField& field = CefFieldTable[row];
        char* to = line_.room(ItemKey::kWidth + cefFieldValueBound(event_, field, escaping, line_.roomLeft()) + 1);
        if (withKey) to = writeKey(to, row);
        line_.advance(writeCefFieldValue(to, event_, field, escaping));
    }

    static char* writeKey(char* to, std::size_t row) {
        const ItemKey& key = kItemKeys[row];
        std::memcpy(to, key.text, ItemKey::kWidth);
        return to + key.size;
    }

    const CEF_EVENT& event_;
    LineBuffer line_;
};

// The bytes of the header's text values.
std::size_t headerTextBytes(const CEF_EVENT& event) {
    const CefLineSection& header = CefLineSections[0];
    std::size_t bytes = 0;
    for (std::size_t row = header.begin; row < header.end; ++row)
        if (CefFieldTable[row].kind == CefFieldKind::Text) bytes += (event.*CefFieldTable[row].text).size();
    return bytes;
}

// The extension's text values' bytes from which a line is long.
constexpr std::size_t kLongLineText = 1024;

} // namespace

void renderCefLine(const EventDescriptionCatalog& catalog, const CEF_EVENT& event, std::string& out) {
    const CefShownRows shown = cefShownRows(event);
    const auto eventTemplate = catalog.templateOf(event);
    // Room for the usual handful of short fields, for the text values as they
    // are and an eighth more for their escapes, so that a line seldom grows,
    // which copies it. A long line also makes room for its header and its
    // message, measured first; a short one would spend more on that than on
    // growing.
    std::size_t text = shown.textBytes;
    if (text >= kLongLineText)
        text += headerTextBytes(event) + (eventTemplate ? eventTemplate->unescapedSize(event) : 0);
    LineWriter writer(event, out, 256 + text + text / 8);
    writer.put("CEF:");
    writer.header();
    writer.items(shown.rows);
    if (eventTemplate) writer.message(*eventTemplate);
    writer.finish();
}

} // namespace quorvel
