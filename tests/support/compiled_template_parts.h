// A compiled template read back through its one reading, forEachPart: its
// text with the known placeholders spelled out, and where each of them
// stands in that text, for tests that hold the compiled form against the
// rules written out another way.
#pragma once

#include "cef/compiled_template.h"

#include <string>
#include <string_view>
#include <vector>

namespace quorvel_test {

// `text` (its trailing whitespace already gone) compiled, as a string of its own.
inline std::string compiledTemplate(std::string_view text) {
    std::string compiled(quorvel::compiledTemplateBound(text), '\0');
    compiled.resize(static_cast<std::size_t>(quorvel::writeCompiledTemplate(text, compiled.data()) - compiled.data()));
    return compiled;
}

// A known placeholder: where it starts in templateText(), and its field.
struct PlaceholderAt {
    std::size_t offset;
    const quorvel::CefField* field;
};

// The template less every brace token that names no field; the known
// placeholders stand in it verbatim.
inline std::string templateText(const quorvel::EventDescTemplate& compiled) {
    std::string text;
    compiled.forEachPart([&](std::string_view literal) { text += literal; },
                         [&](const quorvel::CefField& field) { text += field.placeholder; });
    return text;
}

inline std::vector<PlaceholderAt> placeholdersOf(const quorvel::EventDescTemplate& compiled) {
    std::vector<PlaceholderAt> placeholders;
    std::size_t offset = 0;
    compiled.forEachPart([&](std::string_view literal) { offset += literal.size(); },
                         [&](const quorvel::CefField& field) {
                             placeholders.push_back(PlaceholderAt{offset, &field});
                             offset += field.placeholder.size();
                         });
    return placeholders;
}

} // namespace quorvel_test
