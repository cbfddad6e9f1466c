#include "cef/template_scan.h"

namespace quorvel {

std::size_t lengthWithoutTrailingWhitespace(std::string_view text) {
    std::size_t length = text.size();
    while (length > 0 && isTemplateWhitespace(text[length - 1]))
        --length;
    return length;
}

std::optional<TemplateToken> findTemplateToken(std::string_view text, std::size_t from) {
    std::size_t open = text.find('{', from);
    while (open != std::string_view::npos) {
        std::size_t pos = open + 1;
        while (pos < text.size() && text[pos] != '}' && text[pos] != '\n' && text[pos] != '\r')
            ++pos;
        if (pos == text.size()) return std::nullopt;
        if (text[pos] == '}') return TemplateToken{open, pos + 1 - open};
        // A line break stops this brace and every later one before it, so the
        // search resumes after the break.
        open = text.find('{', pos + 1);
    }
    return std::nullopt;
}

} // namespace quorvel
