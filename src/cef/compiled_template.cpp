// Compiling message templates, and expanding a compiled template into the
// message of an event.
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

void EventDescTemplate::writeMessage(LineBuffer& line, const CEF_EVENT& event) const {
    forEachPart([&](std::string_view literal) { line.put(literal); },
                [&](const CefField& field) {
                    char* const to =
                        line.room(cefFieldValueBound(event, field, CefEscaping::Extension, line.roomLeft()));
                    line.advance(writeCefFieldValue(to, event, field, CefEscaping::Extension));
                });
}

std::size_t EventDescTemplate::unescapedSize(const CEF_EVENT& event) const {
    std::size_t size = 0;
    forEachPart([&](std::string_view literal) { size += literal.size(); },
                [&](const CefField& field) {
                    size += field.kind == CefFieldKind::Text ? (event.*field.text).size() : kCefNumberWidth;
                });
    return size;
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
