// The field table: every field of the record, its line role, key, name,
// member and setter; and the line's sections, found from the roles and
// checked while the library is built.
#include "cef/cef_field_table.h"

#include <algorithm>
#include <utility>

namespace quorvel {

// One row per field kind, with its line role; a member's setter is "set" and
// the member's name.
#define TEXT_ROW(role, key, member)                                                                                    \
    CefField {                                                                                                         \
        CefFieldKind::Text, CefLineRole::role, #member, key, "{" key "}", &CEF_EVENT::member, nullptr, nullptr,        \
            &CEF_EVENT::set##member                                                                                    \
    }
#define INT_ROW(role, key, member)                                                                                     \
    CefField {                                                                                                         \
        CefFieldKind::Int, CefLineRole::role, #member, key, "{" key "}", nullptr, &CEF_EVENT::member, nullptr,         \
            nullptr, &CEF_EVENT::set##member                                                                           \
    }
#define LONG_ROW(role, key, member)                                                                                    \
    CefField {                                                                                                         \
        CefFieldKind::Long, CefLineRole::role, #member, key, "{" key "}", nullptr, nullptr, &CEF_EVENT::member,        \
            nullptr, nullptr, &CEF_EVENT::set##member                                                                  \
    }
// The construction stamps, which have no setter.
#define STAMP_ROW(role, key, member)                                                                                   \
    CefField { CefFieldKind::Text, CefLineRole::role, #member, key, "{" key "}", &CEF_EVENT::member }
// Fields stored only: no line role, no key, no placeholder.
#define STORED_TEXT_ROW(member)                                                                                        \
    CefField {                                                                                                         \
        CefFieldKind::Text, CefLineRole::None, #member, "", "", &CEF_EVENT::member, nullptr, nullptr,                  \
            &CEF_EVENT::set##member                                                                                    \
    }
#define STORED_INT_ROW(member)                                                                                         \
    CefField {                                                                                                         \
        CefFieldKind::Int, CefLineRole::None, #member, "", "", nullptr, &CEF_EVENT::member, nullptr, nullptr,          \
            &CEF_EVENT::set##member                                                                                    \
    }

namespace internal {

// Names the record's members, which only a friend of the record may do.
struct CefEventAccess {
    static constexpr CefFieldRows lineRows() {
        return {{
            INT_ROW(Header, "version", Version),
            TEXT_ROW(Header, "vendor", DeviceVendor),
            TEXT_ROW(Header, "product", DeviceProduct),
            TEXT_ROW(Header, "deviceversion", DeviceVersion),
            TEXT_ROW(Header, "signature", SignatureID),
            TEXT_ROW(Header, "name", Name),
            INT_ROW(Header, "severity", Severity),
            TEXT_ROW(Single, "dvc", DeviceAddress),
            TEXT_ROW(Single, "c6a1", C6a1),
            TEXT_ROW(Single, "dvchost", DeviceHostName),
            STAMP_ROW(Single, "rt", Time),
            STAMP_ROW(Single, "dtz", TimeZone),
            TEXT_ROW(Single, "sourceServiceName", SourceServiceName),
            TEXT_ROW(Single, "sproc", SourceProcessName),
            TEXT_ROW(Single, "src", SourceAddress),
            TEXT_ROW(Single, "c6a2", C6a2),
            INT_ROW(Single, "spt", SourcePort),
            TEXT_ROW(Single, "shost", SourceHostName),
            TEXT_ROW(Single, "suser", SourceUserName),
            TEXT_ROW(Single, "dst", DestinationAddress),
            TEXT_ROW(Single, "dhost", DestinationHostName),
            TEXT_ROW(Single, "destinationServiceName", DestinationServiceName),
            TEXT_ROW(Single, "duser", DestinationUserName),
            TEXT_ROW(PairLabel, "cn1Label", Cn1Label),
            LONG_ROW(PairValue, "cn1", Cn1),
            TEXT_ROW(PairLabel, "cn2Label", Cn2Label),
            LONG_ROW(PairValue, "cn2", Cn2),
            TEXT_ROW(PairLabel, "cn3Label", Cn3Label),
            LONG_ROW(PairValue, "cn3", Cn3),
            TEXT_ROW(Single, "cs1Label", cs1Label),
            TEXT_ROW(Single, "cs1", Cs1),
            TEXT_ROW(Single, "cs2Label", cs2Label),
            TEXT_ROW(Single, "cs2", Cs2),
            TEXT_ROW(Single, "cs3Label", cs3Label),
            TEXT_ROW(Single, "cs3", Cs3),
            TEXT_ROW(Single, "cs4Label", cs4Label),
            TEXT_ROW(Single, "cs4", Cs4),
            TEXT_ROW(Single, "cs5Label", cs5Label),
            TEXT_ROW(Single, "cs5", Cs5),
            TEXT_ROW(Single, "cs6Label", cs6Label),
            TEXT_ROW(Single, "cs6", Cs6),
            TEXT_ROW(Single, "flexString1Label", FlexString1Label),
            TEXT_ROW(Single, "flexString1", FlexString1),
            TEXT_ROW(Single, "flexString2Label", FlexString2Label),
            TEXT_ROW(Single, "flexString2", FlexString2),
            TEXT_ROW(PairLabel, "flexNumber1Label", FlexNumber1Label),
            INT_ROW(PairValue, "flexNumber1", FlexNumber1),
            TEXT_ROW(PairLabel, "flexNumber2Label", FlexNumber2Label),
            INT_ROW(PairValue, "flexNumber2", FlexNumber2),
            TEXT_ROW(Single, "cat", Cat),
            TEXT_ROW(Single, "reason", Reason),
            TEXT_ROW(Single, "outcome", Outcome),
        }};
    }

    static constexpr std::array<CefField, kCefStoredFieldCount> storedRows() {
        return {{
            STORED_TEXT_ROW(DeviceDnsDomain),
            STORED_TEXT_ROW(SourceDnsDomain),
            STORED_TEXT_ROW(SourceUserId),
            STORED_TEXT_ROW(DestinationDnsDomain),
            STORED_TEXT_ROW(DestinationUserId),
            STORED_INT_ROW(FileType),
            STORED_TEXT_ROW(C6a3),
            STORED_INT_ROW(DestinationPort),
        }};
    }
};

} // namespace internal

// Constant expressions: the tables are complete before any dynamic
// initialisation reads them (the line's key table does), and the checks below
// read them while the library is built.
constexpr CefFieldRows CefFieldTable = internal::CefEventAccess::lineRows();
constexpr std::array<CefField, kCefStoredFieldCount> CefStoredFields = internal::CefEventAccess::storedRows();
static_assert(CefStoredFields[kCefStoredFieldCount - 1].name == "DestinationPort");

#undef TEXT_ROW
#undef INT_ROW
#undef LONG_ROW
#undef STAMP_ROW
#undef STORED_TEXT_ROW
#undef STORED_INT_ROW

namespace {

// The role that names the section of `row`: a pair value's is its label's.
constexpr CefLineRole sectionRole(const CefField& row) {
    return row.role == CefLineRole::PairValue ? CefLineRole::PairLabel : row.role;
}

// The row after the last of the section that starts at `begin`.
constexpr std::size_t sectionEnd(std::size_t begin) {
    std::size_t end = begin + 1;
    while (end < kCefFieldCount && sectionRole(CefFieldTable[end]) == sectionRole(CefFieldTable[begin]))
        ++end;
    return end;
}

constexpr std::size_t sectionCount() {
    std::size_t count = 0;
    for (std::size_t row = 0; row < kCefFieldCount; row = sectionEnd(row))
        ++count;
    return count;
}

// True when each pair label row is followed by a value row and each value
// row follows a label row.
constexpr bool pairsAreWhole() {
    for (std::size_t row = 0; row < kCefFieldCount; ++row) {
        const bool label = CefFieldTable[row].role == CefLineRole::PairLabel;
        const bool valueNext = row + 1 < kCefFieldCount && CefFieldTable[row + 1].role == CefLineRole::PairValue;
        if (label != valueNext) return false;
    }
    return CefFieldTable[0].role != CefLineRole::PairValue;
}

constexpr std::array<CefLineSection, kCefLineSectionCount> lineSections() {
    std::array<CefLineSection, kCefLineSectionCount> sections{};
    std::size_t row = 0;
    for (CefLineSection& section : sections) {
        if (row == kCefFieldCount) break;
        section = CefLineSection{CefFieldTable[row].role, row, sectionEnd(row)};
        row = section.end;
    }
    return sections;
}

} // namespace

static_assert(pairsAreWhole(), "a pair is its label row followed by its value row");
static_assert(sectionCount() == kCefLineSectionCount, "the rows' roles make kCefLineSectionCount sections");

constexpr std::array<CefLineSection, kCefLineSectionCount> CefLineSections = lineSections();

namespace {

// True when section `index` has `role` and runs from the row keyed `first`
// to the row keyed `last`.
constexpr bool spans(std::size_t index, CefLineRole role, std::string_view first, std::string_view last) {
    const CefLineSection& section = CefLineSections[index];
    return section.role == role && CefFieldTable[section.begin].key == first &&
           CefFieldTable[section.end - 1].key == last;
}

// The row whose key is `key`; kCefFieldCount when there is none.
constexpr std::size_t rowOfKey(std::string_view key) {
    std::size_t row = 0;
    while (row < kCefFieldCount && CefFieldTable[row].key != key)
        ++row;
    return row;
}

} // namespace

// Each section's first and last row, so that a row moved into, out of or
// across a section fails the build.
static_assert(spans(0, CefLineRole::Header, "version", "severity"));
static_assert(CefLineSections[0].end - CefLineSections[0].begin == 7, "CEF has seven header values");
static_assert(spans(1, CefLineRole::Single, "dvc", "duser"));
static_assert(spans(2, CefLineRole::PairLabel, "cn1Label", "cn3"));
static_assert(spans(3, CefLineRole::Single, "cs1Label", "flexString2"));
static_assert(spans(4, CefLineRole::PairLabel, "flexNumber1Label", "flexNumber2"));
static_assert(spans(5, CefLineRole::Single, "cat", "outcome"));

namespace {

// The extension rows by what decides whether a line shows them.
struct ItemRows {
    CefRowMask always = 0;     // number singles
    CefRowMask whenSet = 0;    // text singles and pair labels
    CefRowMask pairLabels = 0; // labels, whose value row is the next
};

constexpr ItemRows itemRows() {
    static_assert(kCefFieldCount <= 64, "a row mask has a bit for every row");
    ItemRows rows;
    for (std::size_t row = 0; row < kCefFieldCount; ++row) {
        const CefRowMask bit = CefRowMask{1} << row;
        const CefField& field = CefFieldTable[row];
        const bool text = field.kind == CefFieldKind::Text;
        if (field.role == CefLineRole::Single) (text ? rows.whenSet : rows.always) |= bit;
        if (field.role == CefLineRole::PairLabel) {
            if (!text) throw "a pair label is text";
            rows.whenSet |= bit;
            rows.pairLabels |= bit;
        }
        if (field.role == CefLineRole::PairValue && text) throw "a pair value is a number";
    }
    return rows;
}
constexpr ItemRows kItemRows = itemRows();

// The rows of kItemRows.whenSet in table order.
constexpr std::size_t kWhenSetCount = static_cast<std::size_t>(__builtin_popcountll(kItemRows.whenSet));
constexpr std::array<std::size_t, kWhenSetCount> whenSetRows() {
    std::array<std::size_t, kWhenSetCount> rows{};
    std::size_t next = 0;
    for (std::size_t row = 0; row < kCefFieldCount; ++row)
        if ((kItemRows.whenSet >> row & 1) != 0) rows[next++] = row;
    return rows;
}
constexpr std::array<std::size_t, kWhenSetCount> kWhenSetRows = whenSetRows();

// Each text row read at its constant place in the record, without a branch.
template <std::size_t... index> CefShownRows shownTextRows(const CEF_EVENT& event, std::index_sequence<index...>) {
    CefShownRows shown{0, 0};
    ((shown.rows |= CefRowMask{!isEmptyCefText(event.*CefFieldTable[kWhenSetRows[index]].text)} << kWhenSetRows[index],
      shown.textBytes += (event.*CefFieldTable[kWhenSetRows[index]].text).size()),
     ...);
    return shown;
}

} // namespace

CefShownRows cefShownRows(const CEF_EVENT& event) {
    CefShownRows shown = shownTextRows(event, std::make_index_sequence<kWhenSetCount>());
    shown.rows |= kItemRows.always | (shown.rows & kItemRows.pairLabels) << 1;
    return shown;
}

constexpr std::size_t kSignatureRow = rowOfKey("signature");
static_assert(kSignatureRow < kCefFieldCount, "a row has the key \"signature\"");
const CefField& CefSignatureField = CefFieldTable[kSignatureRow];

const CefField* findCefField(std::string_view name) {
    const auto named = [name](const CefField& field) {
        return field.name == name || (!field.key.empty() && field.key == name);
    };
    const auto line = std::find_if(CefFieldTable.begin(), CefFieldTable.end(), named);
    if (line != CefFieldTable.end()) return &*line;
    const auto stored = std::find_if(CefStoredFields.begin(), CefStoredFields.end(), named);
    return stored != CefStoredFields.end() ? &*stored : nullptr;
}

void clearCefFields(CEF_EVENT& event) {
    const auto clear = [&event](const CefField& field) {
        switch (field.kind) {
        case CefFieldKind::Text: (event.*field.text).clear(); break;
        case CefFieldKind::Int: event.*field.integer = 0; break;
        case CefFieldKind::Long: event.*field.longInteger = 0; break;
        }
    };
    std::for_each(CefFieldTable.begin(), CefFieldTable.end(), clear);
    std::for_each(CefStoredFields.begin(), CefStoredFields.end(), clear);
}

} // namespace quorvel
