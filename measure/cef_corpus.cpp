// The CEF interoperability corpus (measure/cef-interop): logs CEF events
// with hostile bytes in every position through the library and log4cxx, and
// reads lines back with the tests' strict CEF parser.
//   cef_corpus log PROPERTIES   logs the corpus; prints, per line, the kind of
//                               event and what was set, as JSON
//   cef_corpus parse FILE       prints, per line of FILE, the strict parser's
//                               reading as JSON, or the error it found
// Every string in the JSON is bytes: each byte outside printable ASCII is
// written as \u00XX, so that a reader takes code points back as bytes.
#include "cef_parser.h"

#include <quorvel/quorvel.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

std::string jsonBytes(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

// One event of the corpus: its kind, its text fields by setter, its numbers.
struct CorpusEvent {
    std::string kind;
    std::map<std::string, std::string> text; // by CEF key, as quorvel-emit names them
    int version = 0;
    int severity = 4;
    long cn1 = 0;
};

using TextSetter = void (CEF_EVENT::*)(std::string);
const std::map<std::string, TextSetter> kSetters = {
    {"vendor", &CEF_EVENT::setDeviceVendor},
    {"product", &CEF_EVENT::setDeviceProduct},
    {"deviceversion", &CEF_EVENT::setDeviceVersion},
    {"signature", &CEF_EVENT::setSignatureID},
    {"name", &CEF_EVENT::setName},
    {"dvchost", &CEF_EVENT::setDeviceHostName},
    {"src", &CEF_EVENT::setSourceAddress},
    {"suser", &CEF_EVENT::setSourceUserName},
    {"duser", &CEF_EVENT::setDestinationUserName},
    {"cn1Label", &CEF_EVENT::setCn1Label},
    {"cs1Label", &CEF_EVENT::setcs1Label},
    {"cs1", &CEF_EVENT::setCs1},
    {"reason", &CEF_EVENT::setReason},
    {"outcome", &CEF_EVENT::setOutcome},
};

// Values that are hostile wherever they stand: every byte between two
// letters, and text that looks like the format's own.
std::vector<std::string> hostileValues() {
    std::vector<std::string> values;
    for (int byte = 0; byte < 256; ++byte)
        values.push_back("a" + std::string(1, static_cast<char>(byte)) + "z");
    for (const char* text : {"act=allowed note=\t", " suser=root", "x suser=root msg=forged ", "CEF:0|x|y|1|2|n|10|",
                             "\\", "\\n", "a\\", "|", "=", "\\=\\|", " ", "{src}", "Login\nfailed", "\r\n"})
        values.push_back(text);
    values.push_back(std::string(10240, 'k') + "=\t|\\");
    return values;
}

std::vector<CorpusEvent> corpus() {
    std::vector<CorpusEvent> events;
    // The worked example: as a host writes it.
    events.push_back({"example",
                      {{"vendor", "ExampleVendor"},
                       {"product", "ExampleProduct"},
                       {"deviceversion", "1.0"},
                       {"signature", "100"},
                       {"name", "Login"},
                       {"dvchost", "host1"},
                       {"suser", "user1"},
                       {"cn1Label", "Attempts"},
                       {"cs1Label", "Role"},
                       {"cs1", "admin"},
                       {"outcome", "success"}},
                      0,
                      4,
                      3});
    // Every field once.
    CorpusEvent all{"every field", {}, 0, 6, 42};
    for (const auto& [key, set] : kSetters)
        all.text[key] = key == "signature" ? "100" : "value of " + key;
    events.push_back(all);
    // Each hostile value alone in each position: the five header texts, a
    // value in the middle of the extension, the last one, and one that the
    // catalogue's message carries too.
    const std::map<std::string, std::string> header = {
        {"vendor", "V"}, {"product", "P"}, {"deviceversion", "1.0"}, {"signature", "100"}, {"name", "n"}};
    for (const char* position : {"vendor", "product", "deviceversion", "signature", "name", "suser", "outcome", "cs1"})
        for (const std::string& value : hostileValues()) {
            CorpusEvent event{std::string("hostile ") + position, header};
            event.text[position] = value;
            events.push_back(event);
        }
    events.push_back({"negative version", header, -1});
    events.push_back({"version 1", header, 1});
    // Random bytes in every field, at least one in each.
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255), length(1, 24), severity(0, 4);
    for (int n = 0; n < 2000; ++n) {
        CorpusEvent event{"random", {}};
        event.severity = std::vector<int>{1, 2, 4, 6, 8}[static_cast<std::size_t>(severity(random))];
        event.cn1 = static_cast<long>(random()) - 2000000000L;
        for (const auto& [key, set] : kSetters) {
            std::string value(static_cast<std::size_t>(length(random)), '\0');
            for (char& c : value)
                c = static_cast<char>(byte(random));
            event.text[key] = key == "signature" && n % 2 == 0 ? "100" : value;
        }
        events.push_back(event);
    }
    return events;
}

int logCorpus(const char* properties) {
    if (initSyslog(properties, "interop") == 1) {
        std::cerr << "cannot apply " << properties << '\n';
        return 1;
    }
    for (const CorpusEvent& input : corpus()) {
        CEF_EVENT event;
        for (const auto& [key, value] : input.text)
            (event.*kSetters.at(key))(value);
        event.setVersion(input.version);
        event.setSeverity(input.severity);
        event.setCn1(input.cn1);
        event.CEF_Log("audit.cef");
        std::cout << "{\"kind\":" << jsonBytes(input.kind) << ",\"version\":" << input.version
                  << ",\"severity\":" << input.severity << ",\"cn1\":" << input.cn1 << ",\"text\":{";
        const char* comma = "";
        for (const auto& [key, value] : input.text) {
            std::cout << comma << jsonBytes(key) << ':' << jsonBytes(value);
            comma = ",";
        }
        std::cout << "}}\n";
    }
    return 0;
}

int parseFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        std::string error;
        const auto parsed = quorvel_test::parseCefLine(line, &error);
        if (!parsed) {
            std::cout << "{\"error\":" << jsonBytes(error) << "}\n";
            continue;
        }
        std::cout << "{\"header\":[";
        for (std::size_t i = 0; i < parsed->header.size(); ++i)
            std::cout << (i ? "," : "") << jsonBytes(parsed->header[i]);
        std::cout << "],\"extension\":[";
        for (std::size_t i = 0; i < parsed->extension.size(); ++i)
            std::cout << (i ? "," : "") << '[' << jsonBytes(parsed->extension[i].first) << ','
                      << jsonBytes(parsed->extension[i].second) << ']';
        std::cout << "]}\n";
    }
    return in.bad() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "log") return logCorpus(argv[2]);
    if (mode == "parse") return parseFile(argv[2]);
    std::cerr << "usage: cef_corpus log PROPERTIES | cef_corpus parse FILE\n";
    return 2;
}
