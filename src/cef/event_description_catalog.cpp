// The catalogue: locating and loading OstradEventDesc.conf, compiling its
// templates in place, and expanding them into messages.
#include "cef/event_description_catalog.h"

#include <hostparam.h>

#include <cstring>
#include <fstream>
#include <ios>

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

// The bytes left in `lines` from where it stands; 0 when it cannot tell.
std::size_t remainingBytes(std::istream& lines) {
    if (!lines.good()) return 0;
    const std::streampos start = lines.tellg();
    if (start == std::streampos(-1)) return 0;
    lines.seekg(0, std::ios::end);
    const std::streampos end = lines.tellg();
    lines.clear();
    lines.seekg(start);
    return end > start ? static_cast<std::size_t>(end - start) : 0;
}

// Reads the next line, up to and without its line feed, into the room after
// the records; sets `length` to its length. The last line needs no line
// feed. False when there is no line left, on a read error, and when the line
// does not fit the records' limit.
bool readLine(std::istream& lines, CatalogRecords& records, std::size_t& length) {
    length = 0;
    if (lines.peek() == std::char_traits<char>::eof()) return false;
    for (;;) {
        // getline() stores at most its count less one byte, then a NUL.
        if (!records.makeRoom(length, length + 2)) return false;
        lines.getline(records.tail() + length, static_cast<std::streamsize>(records.room() - length));
        const auto read = static_cast<std::size_t>(lines.gcount());
        if (lines.bad()) return false;
        if (!lines.fail()) {
            // Ended by a line feed (counted, not stored) or by the end.
            length += lines.eof() ? read : read - 1;
            return true;
        }
        // The end came right after the bytes of the last call.
        if (lines.eof()) return true;
        // The room is full: more room, and read on.
        length += read;
        lines.clear(lines.rdstate() & ~std::ios::failbit);
    }
}

} // namespace

EventDescriptionCatalog::EventDescriptionCatalog() {
    std::ifstream file(filePath());
    if (file) load(file);
}

EventDescriptionCatalog::EventDescriptionCatalog(std::istream& lines) { load(lines); }

std::string EventDescriptionCatalog::filePath() {
    // The directory is used as it is: an empty one puts the file at the root,
    // a trailing "/" gives a doubled one.
    std::string path = configurationDirectory();
    path += '/';
    path += kCatalogFileName;
    return path;
}

void EventDescriptionCatalog::load(std::istream& lines) {
    records_.reserveFor(remainingBytes(lines));
    std::string scratch;
    std::size_t length = 0;
    while (readLine(lines, records_, length)) {
        const CatalogLineParts parts = splitCatalogLine(std::string_view(records_.tail(), length));
        // The first line of an identifier counts.
        if (records_.find(parts.identifier)) continue;
        if (!store(length, parts, scratch)) return;
    }
}

bool EventDescriptionCatalog::store(std::size_t length, const CatalogLineParts& parts, std::string& scratch) {
    // Offsets in the line, which growing the records moves.
    const auto templateBegin = static_cast<std::size_t>(parts.templateText.data() - records_.tail());
    const std::size_t templateLength = parts.templateText.size();
    // The record keeps the line's identifier where it was read. Its compiled
    // template replaces the template, or follows the line when the line is
    // both.
    const std::size_t compiledBegin = parts.hasEquals ? templateBegin : length + 1;
    const std::size_t bound = compiledTemplateBound(parts.templateText);
    if (!records_.makeRoom(length, compiledBegin + bound + 1)) return false;
    char* const record = records_.tail();
    std::string_view templateText(record + templateBegin, templateLength);
    // In place, the compiled template must not outrun the text it is compiled
    // from.
    if (parts.hasEquals && bound > templateLength) templateText = scratch.assign(templateText);
    record[compiledBegin - 1] = '=';
    char* const end = writeCompiledTemplate(templateText, record + compiledBegin);
    *end = '\n';
    records_.commit(parts.identifier.size(), end + 1);
    return true;
}

std::optional<EventDescTemplate> EventDescriptionCatalog::find(std::string_view identifier) const {
    const std::optional<std::string_view> compiled = records_.find(identifier);
    if (!compiled) return std::nullopt;
    return EventDescTemplate(*compiled);
}

std::optional<EventDescTemplate> EventDescriptionCatalog::templateOf(const CEF_EVENT& event) const {
    // The signature ID is read in place, through its row.
    const std::optional<std::string_view> compiled = records_.find(event.*CefSignatureField.text);
    if (!compiled || compiled->empty()) return std::nullopt;
    return EventDescTemplate(*compiled);
}

std::string EventDescriptionCatalog::message(const CEF_EVENT& event) const {
    const std::optional<EventDescTemplate> found = templateOf(event);
    return found ? found->message(event) : std::string();
}

} // namespace quorvel
