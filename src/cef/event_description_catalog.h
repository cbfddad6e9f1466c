// The event-description catalogue: the message templates of
// OstradEventDesc.conf, one per event identifier, compiled at load and
// expanded into the "msg" item of a CEF line.
#pragma once

#include "cef/catalog_records.h"
#include "cef/compiled_template.h"

#include <cstddef>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// What reading one catalogue line did, for a caller that wants to know (the
// catalogue itself reports nothing).
struct CatalogLineReport {
    std::string_view line;         // as read, without its line feed
    std::string_view identifier;   // the text before the first "=", as written
    bool hasEquals;                // false: identifier and template are the whole line
    bool added;                    // false: the identifier was already present
    std::string_view templateText; // after the "=", less its trailing whitespace
    // The brace tokens dropped from the template because they name no field,
    // in order; empty when the line was not added.
    std::vector<std::string_view> droppedTokens;
};
using CatalogLineObserver = std::function<void(const CatalogLineReport&)>;

class EventDescriptionCatalog {
  public:
    // Loads the catalogue file from the directory that the host's parameter
    // service names under "vrq.server.configdir". A file that cannot be
    // opened gives an empty catalogue; nothing is reported.
    EventDescriptionCatalog();

    // Reads the catalogue from `lines` instead of the file, calling `observe`
    // (when set) once per line read.
    explicit EventDescriptionCatalog(std::istream& lines, const CatalogLineObserver& observe = nullptr);

    // The path the default constructor reads: the configuration directory,
    // "/", "OstradEventDesc.conf". Asks the parameter service each time.
    static std::string filePath();

    // The message of `event`: its signature ID's template expanded; empty
    // when there is no entry or its template is empty.
    std::string message(const CEF_EVENT& event) const;

    // The template of `identifier`; nothing when there is none.
    std::optional<EventDescTemplate> find(std::string_view identifier) const;

    // The template that message() expands for `event`: that of its signature
    // ID; nothing when there is none or it is empty.
    std::optional<EventDescTemplate> templateOf(const CEF_EVENT& event) const;

    // Adds the entries of a catalogue read from `lines`, one line up to each
    // line feed until a read fails; an identifier that is already present
    // keeps its template. Calls `observe` (when set) once per line read.
    // Reading stops, as at a read error, before the first line whose entry
    // would take the catalogue past 4 GiB (CatalogRecords::kMaxBytes).
    // Memory: a stream that can tell its size (a file) is read straight into
    // room for about that many bytes, where each template is compiled in
    // place; a line without "=" is kept twice, as identifier and template.
    void read(std::istream& lines, const CatalogLineObserver& observe = nullptr);

  private:
    struct LineParts;

    void load();
    // Turns the line just read at the records' tail, split as `parts`, into
    // a record there and commits it; its template is read from `lineCopy`
    // when given (a copy of the line), else from the tail itself, through
    // `scratch` when its compiled form could outrun it. The dropped tokens go to
    // `droppedTokens` when given. False when the record would pass the
    // records' limit.
    bool store(const LineParts& parts, const char* lineCopy, std::string& scratch,
               std::vector<std::string_view>* droppedTokens);

    CatalogRecords records_;
};

} // namespace quorvel
