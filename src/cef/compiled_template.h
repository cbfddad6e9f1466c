// Compiled message templates: the form a template is kept in, compiling a
// template's text into it, and a view that expands it into a message.
#pragma once

#include "cef/cef_field_table.h"
#include "logging/line_buffer.h"

#include <cstddef>
#include <cstring>
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

// The brace tokens of `text` that compiling it drops because they name no
// field, in order.
std::vector<std::string_view> findDroppedTokens(std::string_view text);

// A compiled template, viewed in the bytes that hold it (which outlive the
// view).
class EventDescTemplate {
  public:
    explicit EventDescTemplate(std::string_view compiled) : compiled_(compiled) {}

    // True for an empty template, which gives no message.
    bool empty() const { return compiled_.empty(); }
    // Calls `literal` with each run of the template's own text (a doubled
    // marker byte as one byte) and `placeholder` with the field table row of
    // each known placeholder, in order: the one reading of the compiled form.
    template <typename Literal, typename Placeholder>
    void forEachPart(Literal&& literal, Placeholder&& placeholder) const;

    // Appends the message of `event` to `line`: the template with every
    // placeholder filled with the bare, escaped value of its field at its own
    // position; an empty text value leaves its placeholder empty. Substituted
    // values are never searched again. One pass over the compiled template,
    // making room as it goes.
    void writeMessage(LineBuffer& line, const CEF_EVENT& event) const;

    // The bytes of the message of `event` before escaping: the template's
    // text, the text values it names and the widest number for each number.
    std::size_t unescapedSize(const CEF_EVENT& event) const;

    // What writeMessage() writes, as a string of its own.
    std::string message(const CEF_EVENT& event) const;

  private:
    std::string_view compiled_;
};

template <typename Literal, typename Placeholder>
void EventDescTemplate::forEachPart(Literal&& literal, Placeholder&& placeholder) const {
    const char* pos = compiled_.data();
    const char* const end = pos + compiled_.size();
    const auto findMarker = [end](const char* from) {
        const void* const marker = std::memchr(from, kTemplateMarker, static_cast<std::size_t>(end - from));
        return marker != nullptr ? static_cast<const char*>(marker) : end;
    };
    for (const char* marker; (marker = findMarker(pos)) != end; pos = marker + 2) {
        const auto next = static_cast<unsigned char>(marker[1]);
        if (next == static_cast<unsigned char>(kTemplateMarker)) {
            literal(std::string_view(pos, static_cast<std::size_t>(marker + 1 - pos)));
        } else {
            literal(std::string_view(pos, static_cast<std::size_t>(marker - pos)));
            placeholder(CefFieldTable[next - kTemplateRowBase]);
        }
    }
    literal(std::string_view(pos, static_cast<std::size_t>(end - pos)));
}

} // namespace quorvel
