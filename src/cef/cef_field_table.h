// The fields of a CEF_EVENT, the one list of them: the 52 fields a line can
// show or a message template can name, in line order, and the fields that are
// stored only. Each row knows its kind, how the line shows it, its CEF key,
// its name as its accessors spell it, its member and its setter; and the
// rendering of one value.
#pragma once

#include "cef/cef_escape.h"

#include <quorvel/cef_event.h>

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// The type of value behind a field, and so which member a row names.
enum class CefFieldKind { Text, Int, Long };

// How the line shows a row. The header rows come first, in the order of
// CEF's header; every other line row is an extension item.
enum class CefLineRole : unsigned char {
    Header,    // a header value: bare, followed by "|"
    Single,    // the item "key=value ", left out when its text value is empty
    PairLabel, // the label item of a pair, whose value is the next row: the two
               // items are written only when the label is not empty
    PairValue, // the value item of the pair whose label is the row before
    None,      // a field stored only: no item and no placeholder
};

// One field of the record.
struct CefField {
    CefFieldKind kind;
    CefLineRole role;
    std::string_view name;        // as its accessors spell it: "SourceUserName"
    std::string_view key;         // the CEF key, "suser"; empty for a field stored only
    std::string_view placeholder; // the key in braces, "{suser}"; empty with the key
    // The member, by kind; rendering reads it in place (the getters are not
    // virtual and return exactly the member).
    std::string CEF_EVENT::*text = nullptr;
    int CEF_EVENT::*integer = nullptr;
    long CEF_EVENT::*longInteger = nullptr;
    // The setter, by kind; none for the construction stamps rt and dtz.
    void (CEF_EVENT::*setText)(std::string) = nullptr;
    void (CEF_EVENT::*setInteger)(int) = nullptr;
    void (CEF_EVENT::*setLongInteger)(long) = nullptr;
};

inline constexpr std::size_t kCefFieldCount = 52;
using CefFieldRows = std::array<CefField, kCefFieldCount>;

// The 52 rows in line order, each with its line role: the header, then
// singles, cn pairs, singles, flexNumber pairs and singles. A pair is its
// label row followed by its value row. Constant-initialised, never changed.
extern const CefFieldRows CefFieldTable;

// A run of rows that the line writes alike: the header rows, a run of
// singles, or a run of pairs (label and value rows alternating). Its role is
// that of its first row: Header, Single or PairLabel.
struct CefLineSection {
    CefLineRole role;
    std::size_t begin; // its first row in CefFieldTable
    std::size_t end;   // the row after its last
};

// The line's sections in table order, found from the rows' roles when the
// library is built. Constant-initialised, never changed.
inline constexpr std::size_t kCefLineSectionCount = 6;
extern const std::array<CefLineSection, kCefLineSectionCount> CefLineSections;

// The extension rows an event's line shows, as bits of a mask, bit n for
// row n, as their line roles decide: number singles always, text singles
// and pair labels when not empty, a pair's value with its label. And the
// bytes of those rows' text values before escaping.
using CefRowMask = std::uint64_t;
struct CefShownRows {
    CefRowMask rows;
    std::size_t textBytes;
};
CefShownRows cefShownRows(const CEF_EVENT& event);

// The row of the signature ID (key "signature"), whose value selects an
// event's template in the catalogue.
extern const CefField& CefSignatureField;

// The 8 fields a caller can set that no line shows and no template names.
inline constexpr std::size_t kCefStoredFieldCount = 8;
extern const std::array<CefField, kCefStoredFieldCount> CefStoredFields;

// The row, line or stored, whose name or CEF key is exactly `name`; null
// when there is none.
const CefField* findCefField(std::string_view name);

// Sets every field of `event` to its empty value: "" or 0.
void clearCefFields(CEF_EVENT& event);

// A text value counts as empty when it has no bytes. (One that starts with
// NUL is shown, its NUL written as U+FFFD: as a C string it would look empty
// and hide the value.)
inline bool isEmptyCefText(std::string_view value) { return value.empty(); }

// The most bytes writeCefFieldValue() writes for `field` of `event` escaped
// by `escaping`: cefEscapedSizeBound() of a text value with the `room` at
// hand, the widest number for a number.
inline constexpr std::size_t kCefNumberWidth = 20; // a 64-bit long with its sign
inline std::size_t cefFieldValueBound(const CEF_EVENT& event, const CefField& field, CefEscaping escaping,
                                      std::size_t room) {
    return field.kind == CefFieldKind::Text ? cefEscapedSizeBound(event.*field.text, escaping, room) : kCefNumberWidth;
}

// Writes the bare value of `field` for `event` at `to`, which must have room
// for cefFieldValueBound() bytes: a number in decimal, a text value escaped by
// `escaping`, nothing for an empty text value. A header number is read as
// digits (no CEF reader takes "CEF:-1"), so a negative one is written as 0.
// Returns the end of what it wrote. Inline: it is the inner step of every
// line and message.
inline char* writeCefFieldValue(char* to, const CEF_EVENT& event, const CefField& field, CefEscaping escaping) {
    switch (field.kind) {
    case CefFieldKind::Text: {
        const std::string& value = event.*field.text;
        return isEmptyCefText(value) ? to : writeEscapedCefValueInLine(to, value, escaping);
    }
    case CefFieldKind::Int: {
        const int value = event.*field.integer;
        return std::to_chars(to, to + kCefNumberWidth, escaping == CefEscaping::Header && value < 0 ? 0 : value).ptr;
    }
    case CefFieldKind::Long: return std::to_chars(to, to + kCefNumberWidth, event.*field.longInteger).ptr;
    }
    return to;
}

} // namespace quorvel
