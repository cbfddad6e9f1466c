// Message templates compiled for expansion: the code a template is kept as,
// compiling a template's text into that code, and a view that expands it.
#pragma once

#include "cef/cef_field_table.h"
#include "logging/line_buffer.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The code of a compiled template is its text with every known placeholder
// replaced by two bytes, kTemplateMarker and then kTemplateRowBase plus the
// placeholder's row in CefFieldTable, and every literal kTemplateMarker byte
// doubled. Every other byte stands for itself, NUL and invalid UTF-8
// included. A code holds a line feed only where its text does.
inline constexpr char kTemplateMarker = '\xff';
inline constexpr unsigned char kTemplateRowBase = 0x80;
static_assert(kTemplateRowBase + kCefFieldCount < 0xff);

// The most bytes writeCompiledTemplate() writes for `text`.
std::size_t compiledTemplateBound(std::string_view text);

// Writes the code of `text` (a template whose trailing whitespace is already
// gone) at `to`, which has room for compiledTemplateBound(text) bytes, and
// returns its end. The brace tokens that name no field are dropped; when
// `droppedTokens` is given, they are appended to it in order. When `text`
// holds no kTemplateMarker byte its code is never longer than the part of the
// text read so far, so `to` may then also be `text.data()` or lie before it.
char* writeCompiledTemplate(std::string_view text, char* to, std::vector<std::string_view>* droppedTokens = nullptr);

// The code of `text`, as a string of its own.
std::string compileTemplate(std::string_view text, std::vector<std::string_view>* droppedTokens = nullptr);

// A compiled template, viewed in the code that holds it (which outlives the
// view).
class EventDescTemplate {
  public:
    // A known placeholder occurrence: where it starts in text(), and the
    // field table row it names.
    struct Slot {
        std::size_t offset;
        const CefField* field;
    };

    explicit EventDescTemplate(std::string_view code) : code_(code) {}

    // True for an empty template, which gives no message.
    bool empty() const { return code_.empty(); }
    // The template less its trailing whitespace and less every brace token
    // that names no field; known placeholders stay in it verbatim.
    std::string text() const;
    // One slot per known placeholder occurrence, in order of occurrence.
    std::vector<Slot> slots() const;

    // Appends the template to `line`, every slot filled with the bare,
    // escaped value of its field for `event` at its own position; an empty
    // text value leaves its slot empty. Substituted values are never searched
    // again. One pass over the code, making room as it goes.
    void writeExpansion(LineBuffer& line, const CEF_EVENT& event) const;

    // What writeExpansion() writes, as a string of its own.
    std::string expansion(const CEF_EVENT& event) const;

  private:
    std::string_view code_;
};

} // namespace quorvel
