// The renderable CEF fields: the fixed, ordered table of the 52 fields a line
// can show or a message template can name, and the rendering of one field's
// value with its escaping.
#pragma once

#include <quorvel/cef_event.h>

#include <array>
#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// The type of value behind a field, and so which accessor a row carries.
enum class CefFieldKind { Text, Int, Long };

// One row of the field table.
struct CefField {
    using TextAccessor = std::string (CEF_EVENT::*)() const;
    using IntAccessor = int (CEF_EVENT::*)() const;
    using LongAccessor = long (CEF_EVENT::*)() const;

    CefFieldKind kind;
    std::string_view key;               // the CEF key, for example "suser"
    std::string_view placeholder;       // the key in braces, for example "{suser}"
    TextAccessor text = nullptr;        // set for kind Text
    IntAccessor integer = nullptr;      // set for kind Int
    LongAccessor longInteger = nullptr; // set for kind Long
    // For kind Text, the member that `text` returns a copy of; rendering
    // reads it in place. (The getters are not virtual, so nothing can
    // override them.)
    const std::string CEF_EVENT::*textMember = nullptr;
};

inline constexpr std::size_t kCefFieldCount = 52;
using CefFieldRows = std::array<CefField, kCefFieldCount>;

// Row positions that decide how the line treats a row.
inline constexpr std::size_t kCefHeaderEnd = 7;    // rows 0..6 are the header values
inline constexpr std::size_t kCefSignatureRow = 4; // the signature ID, which selects the message

// The 52 rows in line order: header (0-6), singles (7-22), cn pairs (23-28),
// singles (29-44), flexNumber pairs (45-48), singles (49-51). A pair is its
// label row followed by its value row. Constant-initialised, never changed.
extern const CefFieldRows CefFieldTable;

// What one rendering works on: the event, the table, and the message that
// the description catalogue fills.
struct CefRenderContext {
    const CEF_EVENT& event;
    const CefFieldRows& table;
    std::string message;
};

// How a text value is escaped.
enum class CefEscaping {
    // Extension values and template substitutions: backslash doubled, line
    // feed, carriage return and tab as \n \r \t, "=" as \=, "|" unchanged.
    Extension,
    // Header text values: backslash doubled, "|" as \|, line feed, carriage
    // return and tab as \n \r \t, "=" unchanged.
    Header,
};

// A text value counts as empty when it has no characters or starts with NUL.
inline bool isEmptyCefText(std::string_view value) { return value.empty() || value.front() == '\0'; }

// Appends `value` to `out` escaped by `escaping`, in one pass.
void appendEscapedCefValue(std::string& out, std::string_view value, CefEscaping escaping = CefEscaping::Extension);

// Writes `value` escaped by `escaping` at `to`, which must have room for
// twice its length; returns the end of what it wrote.
char* writeEscapedCefValue(char* to, std::string_view value, CefEscaping escaping);

// The most bytes writeCefFieldValue() writes for `field` of `event`: twice
// the length of a text value, the widest number for a number.
inline constexpr std::size_t kCefNumberWidth = 20; // a 64-bit long with its sign
inline std::size_t cefFieldValueBound(const CEF_EVENT& event, const CefField& field) {
    return field.kind == CefFieldKind::Text ? 2 * (event.*field.textMember).size() : kCefNumberWidth;
}

// Writes the bare value of `field` for `event` at `to`, which must have room
// for cefFieldValueBound() bytes: a number in decimal, a text value escaped by
// `escaping`, nothing for an empty text value. Returns the end of what it
// wrote. Inline: it is the inner step of every line and message.
inline char* writeCefFieldValue(char* to, const CEF_EVENT& event, const CefField& field, CefEscaping escaping) {
    switch (field.kind) {
    case CefFieldKind::Text: {
        const std::string& value = event.*field.textMember;
        return isEmptyCefText(value) ? to : writeEscapedCefValue(to, value, escaping);
    }
    case CefFieldKind::Int: return std::to_chars(to, to + kCefNumberWidth, (event.*field.integer)()).ptr;
    case CefFieldKind::Long: return std::to_chars(to, to + kCefNumberWidth, (event.*field.longInteger)()).ptr;
    }
    return to;
}

// Escapes `value` in place for an extension value.
void escapeCefValue(std::string& value);

// Appends the rendering of `field` for `event` to `out`: "key=value" with
// `withKey`, the bare value without it. Numbers are written in decimal and
// never escaped; text values are escaped by `escaping`. Returns false, with
// `out` unchanged, for an empty text value (numbers are never empty).
bool appendCefField(std::string& out, const CEF_EVENT& event, const CefField& field, bool withKey,
                    CefEscaping escaping = CefEscaping::Extension);

// The rendering of `field` for the context's event as its own string, with
// extension escaping; empty for an empty text value.
std::string renderCefField(const CefRenderContext& context, const CefField& field, bool withKey);

} // namespace quorvel
