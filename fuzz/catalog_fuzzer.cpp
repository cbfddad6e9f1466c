// Reads a catalogue from arbitrary bytes, then expands the
// template of every identifier in it for an event with arbitrary field values.
// The messages are checked against the catalogue rules done the literal way:
// lines split at line feeds and at their first "=", the first line of an
// identifier counting, the regular expressions "\s+$" and "\{(.*?)\}"
// (ECMAScript) for trailing whitespace and brace tokens, and each known
// placeholder replaced in place by its field's escaped value.
#include "cef/cef_field_table.h"
#include "cef/cef_line.h"
#include "cef/event_description_catalog.h"
#include "cef_event_fill.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

// Longer templates are still loaded and expanded, but not checked: the
// standard library's regular expressions recurse per character.
constexpr std::size_t kCheckedTemplateSize = 2048;

// A text value as extension escaping writes it: backslash, line feed,
// carriage return and "=" escaped, NUL as U+FFFD, tab as it is.
std::string escapedValue(const std::string& value) {
    std::string out;
    for (const char c : value) {
        switch (c) {
        case '\0': out += "\xEF\xBF\xBD"; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '=': out += "\\="; break;
        default: out += c;
        }
    }
    return out;
}

// The value a known placeholder stands for, or nothing for an unknown one.
bool placeholderValue(const CEF_EVENT& event, const std::string& token, std::string& value) {
    for (const quorvel::CefField& row : quorvel::CefFieldTable) {
        if (row.placeholder != token) continue;
        switch (row.kind) {
        case quorvel::CefFieldKind::Text: value = escapedValue(event.*row.text); break;
        case quorvel::CefFieldKind::Int: value = std::to_string(event.*row.integer); break;
        case quorvel::CefFieldKind::Long: value = std::to_string(event.*row.longInteger); break;
        }
        return true;
    }
    return false;
}

std::string expectedMessage(const CEF_EVENT& event, const std::string& rawTemplate) {
    static const std::regex trailingWhitespace("\\s+$", std::regex::ECMAScript);
    static const std::regex token("\\{(.*?)\\}", std::regex::ECMAScript);
    const std::string text = std::regex_replace(rawTemplate, trailingWhitespace, "");
    std::string message;
    std::size_t literalStart = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), token); it != std::sregex_iterator(); ++it) {
        const auto at = static_cast<std::size_t>(it->position(0));
        message.append(text, literalStart, at - literalStart);
        std::string value;
        if (placeholderValue(event, it->str(0), value)) message += value;
        literalStart = at + static_cast<std::size_t>(it->length(0));
    }
    message.append(text, literalStart, std::string::npos);
    return message;
}

[[noreturn]] void fail(const char* what, const std::string& identifier, const std::string& got,
                       const std::string& expected) {
    std::fprintf(stderr, "%s for identifier of %zu bytes\n got:      %zu bytes\n expected: %zu bytes\n", what,
                 identifier.size(), got.size(), expected.size());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    CEF_EVENT event;
    quorvel_fuzz::fillCefEvent(event, input, 16);
    const std::string file = input.ConsumeRemainingBytesAsString();

    std::istringstream stream(file);
    const quorvel::EventDescriptionCatalog catalog(stream);

    // The entries the rules give: the first line of each identifier.
    std::map<std::string, std::string> entries;
    std::size_t lineStart = 0;
    while (lineStart < file.size()) {
        std::size_t lineEnd = file.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = file.size();
        const std::string line = file.substr(lineStart, lineEnd - lineStart);
        const std::size_t equals = line.find('=');
        const std::string identifier = equals == std::string::npos ? line : line.substr(0, equals);
        entries.emplace(identifier, equals == std::string::npos ? line : line.substr(equals + 1));
        lineStart = lineEnd + 1;
    }

    for (const auto& [identifier, rawTemplate] : entries) {
        if (!catalog.find(identifier)) fail("identifier missing", identifier, "", "");
        event.setSignatureID(identifier);
        const std::string message = catalog.message(event);
        std::string line;
        quorvel::renderCefLine(catalog, event, line);
        if (rawTemplate.size() > kCheckedTemplateSize) continue;
        const std::string expected = expectedMessage(event, rawTemplate);
        if (message != expected) fail("message differs", identifier, message, expected);
        // A message that is empty or starts with NUL gives no "msg" item.
        const bool hasItem = !expected.empty() && expected[0] != '\0';
        const std::string msgItem = hasItem ? "msg=" + expected + " " : std::string();
        if (line.size() < msgItem.size() || line.compare(line.size() - msgItem.size(), msgItem.size(), msgItem) != 0)
            fail("line does not end with the msg item", identifier, line, msgItem);
    }
    // An identifier no line defines has no entry.
    if (entries.count("\x01 absent") == 0 && catalog.find("\x01 absent"))
        fail("absent identifier found", "\x01 absent", "", "");
    return 0;
}
