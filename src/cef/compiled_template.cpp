// Compiling message templates, and reading a compiled template back: as
// text, as placeholders, and expanded into the message of an event.
#include "cef/compiled_template.h"

#include "cef/template_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quorvel {

namespace {

// The position in CefFieldTable of the row whose placeholder is `token`;
// kCefFieldCount when no row has it. Inline: it runs for every brace token of
// a catalogue being loaded.
inline std::size_t placeholderRow(std::string_view token) {
    std::size_t row = 0;
    while (row < kCefFieldCount && CefFieldTable[row].placeholder != token)
        ++row;
    return row;
}

// Writes `literal` at `to` with each marker byte doubled. Moves rather than
// copies, as a template compiled in place overlaps its compiled form.
char* writeLiteral(std::string_view literal, char* to) {
    for (std::size_t marker; (marker = literal.find(kTemplateMarker)) != std::string_view::npos;) {
        std::memmove(to, literal.data(), marker + 1);
        to += marker + 1;
        *to++ = kTemplateMarker;
        literal.remove_prefix(marker + 1);
    }
    std::memmove(to, literal.data(), literal.size());
    return to + literal.size();
}

// The first marker byte in [from, end), or `end`.
const char* findMarker(const char* from, const char* end) {
    const void* const marker = std::memchr(from, kTemplateMarker, static_cast<std::size_t>(end - from));
    return marker != nullptr ? static_cast<const char*>(marker) : end;
}

// Calls `literal` with each run of literal bytes of `compiled` (a doubled
// marker byte as one byte) and `placeholder` with the row of each known
// placeholder, in order.
template <typename Literal, typename Placeholder>
void decode(std::string_view compiled, Literal&& literal, Placeholder&& placeholder) {
    const char* pos = compiled.data();
    const char* const end = pos + compiled.size();
    for (const char* marker; (marker = findMarker(pos, end)) != end; pos = marker + 2) {
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

} // namespace

std::size_t compiledTemplateBound(std::string_view text) {
    return text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), kTemplateMarker));
}

char* writeCompiledTemplate(std::string_view text, char* to) {
    std::size_t pos = 0;
    while (const auto token = findTemplateToken(text, pos)) {
        // The token is read before anything is written over it.
        const std::string_view tokenText = text.substr(token->offset, token->length);
        const std::size_t row = placeholderRow(tokenText);
        to = writeLiteral(text.substr(pos, token->offset - pos), to);
        if (row < kCefFieldCount) {
            *to++ = kTemplateMarker;
            *to++ = static_cast<char>(kTemplateRowBase + row);
        }
        pos = token->offset + token->length;
    }
    return writeLiteral(text.substr(pos), to);
}

std::string compileTemplate(std::string_view text) {
    std::string compiled(compiledTemplateBound(text), '\0');
    compiled.resize(static_cast<std::size_t>(writeCompiledTemplate(text, compiled.data()) - compiled.data()));
    return compiled;
}

std::vector<std::string_view> findDroppedTokens(std::string_view text) {
    std::vector<std::string_view> dropped;
    std::size_t pos = 0;
    while (const auto token = findTemplateToken(text, pos)) {
        const std::string_view tokenText = text.substr(token->offset, token->length);
        if (placeholderRow(tokenText) == kCefFieldCount) dropped.push_back(tokenText);
        pos = token->offset + token->length;
    }
    return dropped;
}

std::string EventDescTemplate::text() const {
    std::string text;
    decode(
        compiled_, [&](std::string_view literal) { text += literal; },
        [&](const CefField& field) { text += field.placeholder; });
    return text;
}

std::vector<EventDescTemplate::Placeholder> EventDescTemplate::placeholders() const {
    std::vector<Placeholder> placeholders;
    std::size_t offset = 0;
    decode(
        compiled_, [&](std::string_view literal) { offset += literal.size(); },
        [&](const CefField& field) {
            placeholders.push_back(Placeholder{offset, &field});
            offset += field.placeholder.size();
        });
    return placeholders;
}

void EventDescTemplate::writeMessage(LineBuffer& line, const CEF_EVENT& event) const {
    decode(
        compiled_, [&](std::string_view literal) { line.put(literal); },
        [&](const CefField& field) {
            char* const to = line.room(cefFieldValueBound(event, field, CefEscaping::Extension));
            line.advance(writeCefFieldValue(to, event, field, CefEscaping::Extension));
        });
}

std::string EventDescTemplate::message(const CEF_EVENT& event) const {
    // Room for the template and a few values of usual length, so that most
    // messages take one allocation.
    constexpr std::size_t kUsualValueRoom = 64;
    // Constructed at that size, which the line then keeps: cheaper than
    // growing an empty string.
    std::string message(compiled_.size() + kUsualValueRoom, '\0');
    LineBuffer line(message, 0);
    writeMessage(line, event);
    line.finish();
    return message;
}

} // namespace quorvel
