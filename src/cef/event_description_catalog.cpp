// The description catalogue: locating and reading OstradEventDesc.conf,
// compiling its templates, and expanding them into messages.
#include "cef/event_description_catalog.h"

#include "cef/template_scan.h"

#include <hostparam.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace quorvel {

namespace {

constexpr const char* kConfigDirParameter = "vrq.server.configdir";
constexpr const char* kCatalogFileName = "OstradEventDesc.conf";

// The configuration directory as the parameter service names it; empty when
// it knows none. The service writes at most 513 bytes, NUL included.
std::string configurationDirectory() {
    char buffer[513] = {};
    GetParam(kConfigDirParameter, buffer, static_cast<int>(sizeof buffer));
    return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
}

} // namespace

EventDescriptionCatalog::EventDescriptionCatalog() { load(); }

EventDescriptionCatalog::EventDescriptionCatalog(std::istream& lines, const CatalogLineObserver& observe) {
    read(lines, observe);
}

std::string EventDescriptionCatalog::filePath() {
    // The directory is used as it is: an empty one puts the file at the root,
    // a trailing "/" gives a doubled one.
    std::string path = configurationDirectory();
    path += '/';
    path += kCatalogFileName;
    return path;
}

void EventDescriptionCatalog::load() {
    std::ifstream file(filePath());
    if (!file) return;
    read(file);
}

void EventDescriptionCatalog::read(std::istream& lines, const CatalogLineObserver& observe) {
    std::string line;
    CatalogLineReport report{};
    while (std::getline(lines, line)) {
        // The line splits at its first "="; a line without one is both the
        // identifier and the template. The identifier is kept as written.
        const std::size_t equals = line.find('=');
        const std::string_view whole(line);
        const std::string_view identifier = equals == std::string::npos ? whole : whole.substr(0, equals);
        std::string_view templateText = equals == std::string::npos ? whole : whole.substr(equals + 1);
        templateText = templateText.substr(0, lengthWithoutTrailingWhitespace(templateText));
        // The first line of an identifier counts.
        const bool added = entries.find(identifier) == entries.end();
        report.droppedTokens.clear();
        if (added) {
            const std::string& key = identifiers.emplace_back(identifier);
            entries.emplace(std::string_view(key),
                            compileTemplate(templateText, observe ? &report.droppedTokens : nullptr));
        }
        if (!observe) continue;
        report.line = whole;
        report.identifier = identifier;
        report.hasEquals = equals != std::string::npos;
        report.added = added;
        report.templateText = templateText;
        observe(report);
    }
}

EventDescTemplate EventDescriptionCatalog::compileTemplate(std::string_view templateText,
                                                           std::vector<std::string_view>* droppedTokens) {
    EventDescTemplate compiled;
    compiled.text.reserve(templateText.size());
    std::size_t pos = 0;
    while (const auto token = findTemplateToken(templateText, pos)) {
        compiled.text.append(templateText, pos, token->offset - pos);
        const std::string_view tokenText = templateText.substr(token->offset, token->length);
        bool known = false;
        for (const CefField& row : CefFieldTable) {
            if (row.placeholder == tokenText) {
                compiled.slots.push_back(EventDescTemplate::Slot{compiled.text.size(), &row});
                compiled.text.append(tokenText);
                known = true;
                break;
            }
        }
        // A token that names no row is dropped.
        if (!known && droppedTokens != nullptr) droppedTokens->push_back(tokenText);
        pos = token->offset + token->length;
    }
    compiled.text.append(templateText, pos, std::string_view::npos);
    return compiled;
}

std::size_t EventDescTemplate::expansionBound(const CEF_EVENT& event) const {
    std::size_t bound = text.size();
    for (const Slot& slot : slots)
        bound += cefFieldValueBound(event, *slot.field);
    return bound;
}

char* EventDescTemplate::writeExpansion(char* to, const CEF_EVENT& event) const {
    std::size_t literalStart = 0;
    for (const Slot& slot : slots) {
        to = std::copy(text.data() + literalStart, text.data() + slot.offset, to);
        to = writeCefFieldValue(to, event, *slot.field, CefEscaping::Extension);
        literalStart = slot.offset + slot.field->placeholder.size();
    }
    return std::copy(text.data() + literalStart, text.data() + text.size(), to);
}

std::string EventDescTemplate::expansion(const CEF_EVENT& event) const {
    std::string message(expansionBound(event), '\0');
    char* const end = writeExpansion(message.data(), event);
    message.resize(static_cast<std::size_t>(end - message.data()));
    return message;
}

const EventDescTemplate* EventDescriptionCatalog::find(std::string_view identifier) const {
    const auto entry = entries.find(identifier);
    return entry == entries.end() ? nullptr : &entry->second;
}

const EventDescTemplate* EventDescriptionCatalog::descriptionOf(const CEF_EVENT& event) const {
    // The signature ID is read in place, through its row.
    const EventDescTemplate* compiled = find(event.*CefFieldTable[kCefSignatureRow].text);
    return compiled == nullptr || compiled->text.empty() ? nullptr : compiled;
}

std::string EventDescriptionCatalog::message(const CEF_EVENT& event) const {
    const EventDescTemplate* compiled = descriptionOf(event);
    return compiled == nullptr ? std::string() : compiled->expansion(event);
}

} // namespace quorvel
