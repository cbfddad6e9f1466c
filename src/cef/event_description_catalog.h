// The event-description catalogue: the message templates of
// OstradEventDesc.conf, one per event identifier, compiled at load and
// expanded into the "msg" item of a CEF line.
#pragma once

#include "cef/catalog_line.h"
#include "cef/catalog_records.h"
#include "cef/compiled_template.h"

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

class EventDescriptionCatalog {
  public:
    // Loads the catalogue file from the directory that the host's parameter
    // service names under "vrq.server.configdir". A file that cannot be
    // opened gives an empty catalogue; nothing is reported.
    EventDescriptionCatalog();

    // Loads the catalogue from `lines` instead of the file.
    explicit EventDescriptionCatalog(std::istream& lines);

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

  private:
    // Adds the entries of the lines read from `lines`, one up to each line
    // feed until a read fails; an identifier that is already present keeps
    // its template. Reading stops, as at a read error, before the first line
    // whose entry would take the catalogue past 4 GiB
    // (CatalogRecords::kMaxBytes). Memory: a stream that can tell its size
    // (a file) is read straight into room for about that many bytes, where
    // each template is compiled in place; a line without "=" is kept twice,
    // as identifier and template.
    void load(std::istream& lines);
    // Compiles the line of `length` bytes just read at the records' tail,
    // split as `parts`, into its record there and commits it; a template
    // whose compiled form could outrun it in place is compiled from a copy in
    // `scratch`. False when the record would pass the records' limit.
    bool store(std::size_t length, const CatalogLineParts& parts, std::string& scratch);

    CatalogRecords records_;
};

} // namespace quorvel
