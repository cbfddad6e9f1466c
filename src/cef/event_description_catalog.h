// The event-description catalogue: the message templates of
// OstradEventDesc.conf, one per event identifier, compiled at load and
// expanded into the "msg" item of a CEF line.
#pragma once

#include "cef/cef_field_table.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

// One compiled template.
struct EventDescTemplate {
    // A known placeholder occurrence: where its text starts in `text`, and
    // the field table row it names.
    struct Slot {
        std::size_t offset;
        const CefField* field;
    };

    // The template less its trailing whitespace and less every brace token
    // that names no field; known placeholders stay in it verbatim.
    std::string text;
    // One slot per known placeholder occurrence, in order of occurrence.
    std::vector<Slot> slots;

    // The most bytes writeExpansion() writes for `event`.
    std::size_t expansionBound(const CEF_EVENT& event) const;
    // Writes the template at `to`, which must have room for expansionBound()
    // bytes, every slot filled with the bare, escaped value of its field for
    // `event` at its own position; an empty text value leaves its slot empty.
    // Substituted values are never searched again. Returns the end of what it
    // wrote.
    char* writeExpansion(char* to, const CEF_EVENT& event) const;

    // What writeExpansion() writes, as a string of its own.
    std::string expansion(const CEF_EVENT& event) const;
};

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

    // The lookup keys view into the catalogue's own identifiers, so a copy
    // would point into the original; the catalogue is never copied.
    EventDescriptionCatalog(const EventDescriptionCatalog&) = delete;
    EventDescriptionCatalog& operator=(const EventDescriptionCatalog&) = delete;

    // The path the default constructor reads: the configuration directory,
    // "/", "OstradEventDesc.conf". Asks the parameter service each time.
    static std::string filePath();

    // The message of `event`: the expansion of its signature ID's template;
    // empty when there is no entry or its template is empty.
    std::string message(const CEF_EVENT& event) const;

    // Compiles one template text (whose trailing whitespace is already gone).
    // The tokens that name no field are dropped; when `droppedTokens` is
    // given, they are appended to it in order.
    static EventDescTemplate compileTemplate(std::string_view templateText,
                                             std::vector<std::string_view>* droppedTokens = nullptr);

    // The compiled template of `identifier`, or null.
    const EventDescTemplate* find(std::string_view identifier) const;

    // The compiled template that message() expands for `event`:
    // that of its signature ID, or null when there is none or its text is
    // empty.
    const EventDescTemplate* descriptionOf(const CEF_EVENT& event) const;

    // Adds the entries of a catalogue read from `lines`, one line up to each
    // line feed until a read fails; an identifier that is already present
    // keeps its template. Calls `observe` (when set) once per line read.
    void read(std::istream& lines, const CatalogLineObserver& observe = nullptr);

  private:
    void load();

    // Looked up by hashing, so that finding a template costs the same for
    // ten entries and for a hundred thousand. The keys view into
    // `identifiers`, whose elements never move.
    std::unordered_map<std::string_view, EventDescTemplate> entries;
    std::deque<std::string> identifiers;
};

} // namespace quorvel
