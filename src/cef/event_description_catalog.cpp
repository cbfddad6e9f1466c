// The catalogue: locating and reading OstradEventDesc.conf, compiling its
// templates, and expanding them into messages.
#include "cef/event_description_catalog.h"

#include "cef/template_scan.h"

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

// Where the identifier and the template lie in a catalogue line: the line
// splits at its first "="; a line without one is both the identifier and the
// template. The identifier is kept as written, the template loses its
// trailing whitespace.
struct EventDescriptionCatalog::LineParts {
    std::size_t length;
    bool hasEquals;
    std::size_t identifierLength;
    std::size_t templateBegin;
    std::size_t templateLength;

    static LineParts of(std::string_view line) {
        const std::size_t equals = line.find('=');
        const bool hasEquals = equals != std::string_view::npos;
        const std::size_t templateBegin = hasEquals ? equals + 1 : 0;
        return LineParts{line.size(), hasEquals, hasEquals ? equals : line.size(), templateBegin,
                         lengthWithoutTrailingWhitespace(line.substr(templateBegin))};
    }

    // The parts in the line's bytes starting at `line`.
    std::string_view identifierIn(const char* line) const { return std::string_view(line, identifierLength); }
    std::string_view templateIn(const char* line) const {
        return std::string_view(line + templateBegin, templateLength);
    }
};

void EventDescriptionCatalog::read(std::istream& lines, const CatalogLineObserver& observe) {
    records_.reserveFor(remainingBytes(lines));
    // A copy of the line the observer is shown, or of a template that cannot
    // be compiled in place.
    std::string scratch;
    CatalogLineReport report{};
    std::size_t length = 0;
    while (readLine(lines, records_, length)) {
        std::string_view line(records_.tail(), length);
        // Compiling in place overwrites the line, which the report shows.
        if (observe) line = scratch.assign(line);
        const LineParts parts = LineParts::of(line);
        // The first line of an identifier counts.
        const bool added = !records_.find(parts.identifierIn(line.data()));
        report.droppedTokens.clear();
        if (added && !store(parts, observe ? line.data() : nullptr, scratch, observe ? &report.droppedTokens : nullptr))
            return;
        if (!observe) continue;
        report.line = line;
        report.identifier = parts.identifierIn(line.data());
        report.hasEquals = parts.hasEquals;
        report.added = added;
        report.templateText = parts.templateIn(line.data());
        observe(report);
    }
}

bool EventDescriptionCatalog::store(const LineParts& parts, const char* lineCopy, std::string& scratch,
                                    std::vector<std::string_view>* droppedTokens) {
    // The record keeps the line's identifier where it was read. Its compiled
    // template replaces the template, or follows the line when the line is
    // both.
    const std::size_t compiledBegin = parts.hasEquals ? parts.templateBegin : parts.length + 1;
    std::string_view templateText = parts.templateIn(lineCopy != nullptr ? lineCopy : records_.tail());
    const std::size_t bound = compiledTemplateBound(templateText);
    if (!records_.makeRoom(parts.length, compiledBegin + bound + 1)) return false;
    char* const record = records_.tail();
    if (lineCopy == nullptr) {
        templateText = parts.templateIn(record);
        // In place, the compiled template must not outrun the text it is
        // compiled from.
        if (parts.hasEquals && bound > templateText.size()) templateText = scratch.assign(templateText);
    }
    record[compiledBegin - 1] = '=';
    char* const end = writeCompiledTemplate(templateText, record + compiledBegin, droppedTokens);
    *end = '\n';
    records_.commit(parts.identifierLength, end + 1);
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
