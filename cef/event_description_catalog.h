// The event-description catalogue: the message templates of
// OstradEventDesc.conf, one per event identifier, compiled at load and
// expanded into the "msg" item of a CEF line.
#pragma once

#include "cef_field_table.h"

#include <cstddef>
#include <istream>
#include <map>
#include <string>
#include <string_view>
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
};

class EventDescriptionCatalog {
  public:
    // Loads the catalogue file from the directory that the host's parameter
    // service names under "vrq.server.configdir". A file that cannot be
    // opened gives an empty catalogue; nothing is reported.
    EventDescriptionCatalog();

    // Stores the expanded template of the context event's signature ID in
    // the context's message; leaves the message unchanged when there is no
    // entry or its template is empty. Never changes the catalogue.
    void expandDescription(CefRenderContext& context) const;

    // Compiles one template text (whose trailing whitespace is already gone).
    static EventDescTemplate compileTemplate(std::string_view templateText);

    // Replaces the context's message with `compiled`, every slot filled with
    // the bare, escaped value of its field for the context's event at its own
    // position; an empty text value leaves its slot empty. Substituted values
    // are never searched again.
    static void expandTemplate(const EventDescTemplate& compiled, CefRenderContext& context);

    // The compiled template of `identifier`, or null.
    const EventDescTemplate* find(std::string_view identifier) const;

    // Adds the entries of a catalogue read from `lines`; an identifier that
    // is already present keeps its template.
    void read(std::istream& lines);

  private:
    void load();

    std::map<std::string, EventDescTemplate, std::less<>> entries;
};

} // namespace quorvel
