// One line of the catalogue file, parsed: where it splits into identifier and
// template, and what loading it drops. The loader splits every line it reads;
// a reader that reports on a catalogue parses each line whole.
#pragma once

#include <string_view>
#include <vector>

namespace quorvel {

// A catalogue line splits at its first "=": the identifier is the text
// before it, as written; the template is the text after it, less its
// trailing whitespace. A line without "=" is both identifier and template.
struct CatalogLineParts {
    std::string_view identifier;
    std::string_view templateText;
    bool hasEquals; // false: identifier and template are the whole line
};

// Splits `line` (without its line feed); the parts view its bytes.
CatalogLineParts splitCatalogLine(std::string_view line);

// A catalogue line with what loading it drops.
struct CatalogLine : CatalogLineParts {
    // The brace tokens of the template that name no field, in order.
    std::vector<std::string_view> droppedTokens;
};

// Parses `line` (without its line feed); the result views its bytes.
CatalogLine parseCatalogLine(std::string_view line);

} // namespace quorvel
