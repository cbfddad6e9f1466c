// Helpers for CEF tests: a catalogue file in a directory of its own that the
// parameter service names, and lines rendered with their stamps fixed, to be
// compared with lines written out by hand.
#pragma once

#include "cef/cef_line.h"
#include "cef/event_description_catalog.h"
#include "stamps.h"
#include "temp_dir.h"

#include <quorvel/cef_event.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quorvel_test {

// A fresh temporary directory named by VRQ_SERVER_CONFIGDIR for as long as
// the object lives; write() puts OstradEventDesc.conf into it.
class CatalogDirectory : public TempDir {
  public:
    CatalogDirectory() : TempDir("cef") { setenv("VRQ_SERVER_CONFIGDIR", path().c_str(), 1); }

    using TempDir::file;
    using TempDir::write;

    // Replaces the catalogue file with exactly `content` (bytes as given).
    void write(const std::string& content) const { write("OstradEventDesc.conf", content); }
    void removeFile() const { std::remove(file().c_str()); }
    std::string file() const { return file("OstradEventDesc.conf"); }
};

// The line of `event` rendered against a catalogue read from a file holding
// exactly `catalog`, its stamps fixed by withFixedStamps().
inline std::string renderedLine(const CEF_EVENT& event, const std::string& catalog = "") {
    CatalogDirectory directory;
    directory.write(catalog);
    const quorvel::EventDescriptionCatalog descriptions;
    std::string line = "left over";
    quorvel::renderCefLine(descriptions, event, line);
    return withFixedStamps(line);
}

} // namespace quorvel_test
