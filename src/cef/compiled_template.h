// Compiled message templates: the form a template is kept in, compiling a
// template's text into it, and a view that expands it into a message.
#pragma once

#include "cef/cef_field_table.h"
#include "logging/line_buffer.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// A compiled template is its text with every known placeholder replaced by
// two bytes, kTemplateMarker and then kTemplateRowBase plus the
// placeholder's row in CefFieldTable, and every literal kTemplateMarker byte
// doubled. Every other byte stands for itself, NUL and invalid UTF-8
// included. A compiled template holds a line feed only where its text does.
inline constexpr char kTemplateMarker = '\xff';
inline constexpr unsigned char kTemplateRowBase = 0x80;
static_assert(kTemplateRowBase + kCefFieldCount < 0xff);

// The most bytes writeCompiledTemplate() writes for `text`.
std::size_t compiledTemplateBound(std::string_view text);

// Compiles `text` (a template whose trailing whitespace is already gone) into
// `to`, which has room for compiledTemplateBound(text) bytes, and returns the
// end of what it wrote. The brace tokens that name no field are dropped. When
// `text` holds no kTemplateMarker byte its compiled template is never longer
// than the part of the text read so far, so `to` may then also be
// `text.data()` or lie before it.
char* writeCompiledTemplate(std::string_view text, char* to);

// `text` compiled, as a string of its own.
std::string compileTemplate(std::string_view text);

// The brace tokens of `text` that compiling it drops because they name no
// field, in order.
std::vector<std::string_view> findDroppedTokens(std::string_view text);

// A compiled template, viewed in the bytes that hold it (which outlive the
// view).
class EventDescTemplate {
  public:
    // A known placeholder occurrence: where it starts in text(), and the
    // field table row it names.
    struct Placeholder {
        std::size_t offset;
        const CefField* field;
    };

    explicit EventDescTemplate(std::string_view compiled) : compiled_(compiled) {}

    // True for an empty template, which gives no message.
    bool empty() const { return compiled_.empty(); }
    // The template less its trailing whitespace and less every brace token
    // that names no field; known placeholders stay in it verbatim.
    std::string text() const;
    // One per known placeholder occurrence, in order of occurrence.
    std::vector<Placeholder> placeholders() const;

    // Appends the message of `event` to `line`: the template with every
    // placeholder filled with the bare, escaped value of its field at its own
    // position; an empty text value leaves its placeholder empty. Substituted
    // values are never searched again. One pass over the compiled template,
    // making room as it goes.
    void writeMessage(LineBuffer& line, const CEF_EVENT& event) const;

    // What writeMessage() writes, as a string of its own.
    std::string message(const CEF_EVENT& event) const;

  private:
    std::string_view compiled_;
};

} // namespace quorvel
