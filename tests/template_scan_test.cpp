// The hand-written template scanning checked against the regular
// expressions it stands for, "\s+$" and "\{(.*?)\}" (ECMAScript), over many
// generated templates; and template compilation and expansion checked
// against a literal regex-and-search rendition of the same rules.
#include "cef/cef_field_table.h"
#include "cef/compiled_template.h"
#include "cef/template_scan.h"
#include "compiled_template_parts.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Pieces the generated templates are made of: braces, known and unknown
// placeholders, line breaks and other whitespace, bytes from 0x80 up.
const std::vector<std::string> kPieces = {
    "{",     "}",       "{{",
    "}}",    "{suser}", "{src}",
    "{cn1}", "{spt}",   "{cs1Label}",
    "{dpt}", "{SUSER}", "{ suser }",
    "{}",    "{su",     "ser}",
    "a",     "b",       "=",
    "\\",    " ",       "  ",
    "\t",    "\n",      "\r",
    "\v",    "\f",      "\r\n",
    "\x80",  "\xff",    "\xc3\xa9",
    "\xa0",  "\x85",    "{\xe2\x80\xa8}",
    "x{\n}", "{a\rb}",
};

std::vector<std::string> generatedTemplates() {
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<std::size_t> pieceCount(0, 14);
    std::uniform_int_distribution<std::size_t> piece(0, kPieces.size() - 1);
    std::vector<std::string> templates;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (std::size_t n = pieceCount(random); n > 0; --n)
            text += kPieces[piece(random)];
        templates.push_back(std::move(text));
    }
    return templates;
}

const std::regex& trailingWhitespace() {
    static const std::regex pattern("\\s+$", std::regex::ECMAScript);
    return pattern;
}

const std::regex& token() {
    static const std::regex pattern("\\{(.*?)\\}", std::regex::ECMAScript);
    return pattern;
}

std::vector<std::pair<std::size_t, std::size_t>> regexTokens(const std::string& text) {
    std::vector<std::pair<std::size_t, std::size_t>> tokens;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), token()); it != std::sregex_iterator(); ++it)
        tokens.emplace_back(static_cast<std::size_t>(it->position(0)), static_cast<std::size_t>(it->length(0)));
    return tokens;
}

std::vector<std::pair<std::size_t, std::size_t>> scannedTokens(const std::string& text) {
    std::vector<std::pair<std::size_t, std::size_t>> tokens;
    std::size_t from = 0;
    while (const auto found = quorvel::findTemplateToken(text, from)) {
        tokens.emplace_back(found->offset, found->length);
        from = found->offset + found->length;
    }
    return tokens;
}

// Template compilation done the literal way: regex tokens, each unknown one
// deleted at its first occurrence in the working copy.
std::pair<std::string, std::vector<std::string>> compiledTheLiteralWay(const std::string& templateText) {
    std::string text = templateText;
    std::vector<std::string> keys;
    for (auto it = std::sregex_iterator(templateText.begin(), templateText.end(), token());
         it != std::sregex_iterator(); ++it) {
        const std::string tokenText = it->str(0);
        bool known = false;
        for (const quorvel::CefField& row : quorvel::CefFieldTable) {
            if (row.placeholder == tokenText) {
                keys.emplace_back(row.key);
                known = true;
                break;
            }
        }
        if (!known) text.erase(text.find(tokenText), tokenText.size());
    }
    return {text, keys};
}

// Expansion done the literal way: each placeholder replaced, or deleted, at
// its first occurrence in the message as it stands, by the value `valueOf`
// gives for its key.
std::string expandedTheLiteralWay(const quorvel::EventDescTemplate& compiled,
                                  const std::function<std::string(std::string_view key)>& valueOf) {
    std::string message = quorvel_test::templateText(compiled);
    for (const auto& placeholder : quorvel_test::placeholdersOf(compiled)) {
        const std::size_t at = message.find(placeholder.field->placeholder);
        message.replace(at, placeholder.field->placeholder.size(), valueOf(placeholder.field->key));
    }
    return message;
}

TEST(TemplateScan, TrailingWhitespaceMatchesTheRegex) {
    for (const std::string& text : generatedTemplates()) {
        const std::string expected = std::regex_replace(text, trailingWhitespace(), "");
        ASSERT_EQ(text.substr(0, quorvel::lengthWithoutTrailingWhitespace(text)), expected)
            << testing::PrintToString(text);
    }
}

TEST(TemplateScan, TokensMatchTheRegex) {
    for (const std::string& text : generatedTemplates())
        ASSERT_EQ(scannedTokens(text), regexTokens(text)) << testing::PrintToString(text);
}

TEST(TemplateScan, CompiledTemplatesMatchTheLiteralRules) {
    for (const std::string& text : generatedTemplates()) {
        const std::string trimmed = std::regex_replace(text, trailingWhitespace(), "");
        const auto expected = compiledTheLiteralWay(trimmed);
        const std::string compiledTemplate = quorvel_test::compiledTemplate(trimmed);
        const quorvel::EventDescTemplate compiled(compiledTemplate);
        const std::string compiledText = quorvel_test::templateText(compiled);
        ASSERT_EQ(compiledText, expected.first) << testing::PrintToString(text);
        std::vector<std::string> keys;
        for (const auto& placeholder : quorvel_test::placeholdersOf(compiled)) {
            keys.emplace_back(placeholder.field->key);
            ASSERT_EQ(compiledText.compare(placeholder.offset, placeholder.field->placeholder.size(),
                                           placeholder.field->placeholder),
                      0);
        }
        ASSERT_EQ(keys, expected.second) << testing::PrintToString(text);
    }
}

// With values that hold no placeholder text, filling placeholders at their
// own positions gives exactly what replacing first occurrences gives.
TEST(TemplateScan, ExpansionMatchesFirstOccurrenceReplacementForPlainValues) {
    CEF_EVENT event;
    event.setSourceUserName("u=1\\x");
    event.setcs1Label("L\tM");
    event.setCn1(-42);
    event.setSourcePort(8080);
    // Every field's value as it stands in a message: the four set above
    // escaped, the construction stamps as they are, other numbers 0 and
    // other text left out.
    const std::map<std::string_view, std::string> set = {{"suser", "u\\=1\\\\x"}, {"cs1Label", "L\tM"},
                                                         {"cn1", "-42"},          {"spt", "8080"},
                                                         {"rt", event.getTime()}, {"dtz", event.getTimeZone()}};
    const std::set<std::string_view> numbers = {"version", "severity", "cn2", "cn3", "flexNumber1", "flexNumber2"};
    const auto valueOf = [&](std::string_view key) {
        if (const auto found = set.find(key); found != set.end()) return found->second;
        return std::string(numbers.count(key) != 0 ? "0" : "");
    };
    for (const std::string& text : generatedTemplates()) {
        const std::string compiledTemplate =
            quorvel_test::compiledTemplate(std::regex_replace(text, trailingWhitespace(), ""));
        const quorvel::EventDescTemplate compiled(compiledTemplate);
        ASSERT_EQ(compiled.message(event), expandedTheLiteralWay(compiled, valueOf)) << testing::PrintToString(text);
    }
}

} // namespace
