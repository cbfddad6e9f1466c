#include "cef_line.h"

namespace quorvel {

namespace {

// Row positions of the line's sections (the header is rows 0 to 6).
constexpr std::size_t kFirstSingles = 7, kEndFirstSingles = 23;    // dvc .. duser
constexpr std::size_t kFirstPairs = 23, kEndFirstPairs = 29;       // cn1Label/cn1 .. cn3Label/cn3
constexpr std::size_t kSecondSingles = 29, kEndSecondSingles = 45; // cs1Label .. flexString2
constexpr std::size_t kSecondPairs = 45, kEndSecondPairs = 49;     // flexNumber1Label/flexNumber1 ..
constexpr std::size_t kThirdSingles = 49, kEndThirdSingles = 52;   // cat, reason, outcome
static_assert(kEndThirdSingles == kCefFieldCount);

// Items written when non-empty, each followed by a blank.
void appendSingles(std::string& out, const CefRenderContext& context, std::size_t begin, std::size_t end) {
    for (std::size_t row = begin; row < end; ++row)
        if (appendCefField(out, context.event, context.table[row], true)) out += ' ';
}

// Label and value items, both written only when the label is non-empty.
void appendPairs(std::string& out, const CefRenderContext& context, std::size_t begin, std::size_t end) {
    for (std::size_t row = begin; row + 1 < end; row += 2) {
        if (!appendCefField(out, context.event, context.table[row], true)) continue;
        out += ' ';
        appendCefField(out, context.event, context.table[row + 1], true);
        out += ' ';
    }
}

} // namespace

void assembleCefLine(const CefRenderContext& context, std::string& out) {
    out.assign("CEF:");
    for (std::size_t row = 0; row < kCefHeaderEnd; ++row) {
        appendCefField(out, context.event, context.table[row], false, CefEscaping::Header);
        out += '|';
    }
    appendSingles(out, context, kFirstSingles, kEndFirstSingles);
    appendPairs(out, context, kFirstPairs, kEndFirstPairs);
    appendSingles(out, context, kSecondSingles, kEndSecondSingles);
    appendPairs(out, context, kSecondPairs, kEndSecondPairs);
    appendSingles(out, context, kThirdSingles, kEndThirdSingles);
    // The message carries its own escaping from expansion.
    if (!isEmptyCefText(context.message)) {
        out.append("msg=");
        out.append(context.message);
        out += ' ';
    }
}

void renderCefLine(const EventDescriptionCatalog& catalog, const CEF_EVENT& event, std::string& out) {
    CefRenderContext context{event, CefFieldTable, std::string()};
    catalog.expandDescription(context);
    out.reserve(256 + context.message.size());
    assembleCefLine(context, out);
}

} // namespace quorvel
