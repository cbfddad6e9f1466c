#include "cef/catalog_line.h"

#include "cef/compiled_template.h"
#include "cef/template_scan.h"

namespace quorvel {

CatalogLineParts splitCatalogLine(std::string_view line) {
    const std::size_t equals = line.find('=');
    const bool hasEquals = equals != std::string_view::npos;
    const std::string_view templateText = hasEquals ? line.substr(equals + 1) : line;
    return CatalogLineParts{line.substr(0, equals),
                            templateText.substr(0, lengthWithoutTrailingWhitespace(templateText)), hasEquals};
}

CatalogLine parseCatalogLine(std::string_view line) {
    const CatalogLineParts parts = splitCatalogLine(line);
    return CatalogLine{parts, findDroppedTokens(parts.templateText)};
}

} // namespace quorvel
