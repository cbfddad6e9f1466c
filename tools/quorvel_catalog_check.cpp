// quorvel-catalog-check: reads a CEF message catalogue line by line through
// the library's own line parser and reports what the library would do with
// each line silently; or loads it as the library does and renders the
// message of one event.
#include "cef_field_setter.h"
#include "field_assignment.h"
#include "tool_arguments.h"
#include "tool_error.h"

#include "cef/catalog_line.h"
#include "cef/cef_field_table.h"
#include "cef/event_description_catalog.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

using quorvel::CatalogLine;
using quorvel::EventDescriptionCatalog;
using quorvel_tools::ToolError;

constexpr const char* kProgram = "quorvel-catalog-check";
constexpr std::size_t kDefaultMaxLength = 1024;

const char* const kUsage = "usage: quorvel-catalog-check [--max-length N] [FILE]\n"
                           "       quorvel-catalog-check [FILE] --render ID [--set Field=value]...\n"
                           "\n"
                           "Reads a CEF message catalogue the way libquorvel reads it and reports, per\n"
                           "line, what the library would do without telling anyone: placeholders it\n"
                           "drops, identifiers defined twice or with blanks around them, lines without\n"
                           "\"=\", empty templates, carriage returns, NUL bytes and lines longer than\n"
                           "--max-length bytes (default 1024).\n"
                           "\n"
                           "Without FILE it reads the file the library loads: OstradEventDesc.conf in\n"
                           "the directory that the parameter service names (with the stand-in service,\n"
                           "$VRQ_SERVER_CONFIGDIR).\n"
                           "\n"
                           "--render ID prints the message (the \"msg\" item) that the library would\n"
                           "write for an event with signature ID ID whose fields are set by --set;\n"
                           "fields are named as their setters (SourceUserName) or by their CEF keys\n"
                           "(suser).\n"
                           "\n"
                           "Exit status: 0 clean (or a message rendered), 1 findings (or no message),\n"
                           "2 usage error or unreadable file.\n";

struct Options {
    std::optional<std::string> file;
    std::size_t maxLength = kDefaultMaxLength;
    std::optional<std::string> renderId;
    std::vector<quorvel_tools::Assignment> sets;
};

Options parseOptions(quorvel_tools::Arguments args) {
    Options options;
    std::vector<std::string> setTexts;
    while (!args.done()) {
        const std::string arg = args.next();
        const auto value = [&] { return args.valueOf(arg); };
        if (quorvel_tools::asksForHelp(arg)) {
            throw quorvel_tools::HelpAsked{kUsage};
        } else if (arg == "--max-length") {
            const std::string text = value();
            const auto number = quorvel_tools::parseNumber<long>(text);
            if (!number || *number <= 0) throw ToolError{"--max-length " + text + ": not a positive decimal number"};
            options.maxLength = static_cast<std::size_t>(*number);
        } else if (arg == "--render") {
            options.renderId = value();
        } else if (arg == "--set") {
            setTexts.push_back(value());
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw ToolError{"unknown option " + arg + " (see --help)"};
        } else if (options.file) {
            throw ToolError{"more than one catalogue file given (see --help)"};
        } else {
            options.file = arg;
        }
    }
    if (!setTexts.empty() && !options.renderId) throw ToolError{"--set needs --render ID (see --help)"};
    for (const std::string& text : setTexts) {
        const auto assignment = quorvel_tools::parseAssignment(text);
        if (!assignment) throw ToolError{"--set " + text + ": expected Field=value"};
        options.sets.push_back(*assignment);
    }
    return options;
}

// `text` in double quotes with the bytes that do not show written as \r, \t,
// \0 or \xHH.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\0')
            out += "\\0";
        else if (c == '"' || c == '\\')
            (out += '\\') += c;
        else if (byte < 0x20 || byte == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else
            out += c;
    }
    return out + "\"";
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Why a dropped token names no field, with the placeholder meant when it can
// be guessed: wrong case, blanks inside the braces.
std::string whyDropped(std::string_view token) {
    std::string_view inner = token.substr(1, token.size() - 2);
    std::string_view trimmed = inner;
    while (!trimmed.empty() && isBlank(trimmed.front()))
        trimmed.remove_prefix(1);
    while (!trimmed.empty() && isBlank(trimmed.back()))
        trimmed.remove_suffix(1);
    const bool blanks = trimmed.size() != inner.size();
    for (const quorvel::CefField& row : quorvel::CefFieldTable) {
        const std::string meant = "{" + std::string(row.key) + "}";
        if (row.key == trimmed) return "blanks inside the braces; write " + meant;
        if (lowerCase(row.key) == lowerCase(trimmed)) {
            return std::string(blanks ? "blanks inside the braces and wrong case" : "wrong case") + "; write " + meant;
        }
    }
    return "no field has that name";
}

// The findings of one line, each as "FILE:LINE: text".
class Checker {
  public:
    Checker(std::string file, std::size_t maxLength) : file_(std::move(file)), maxLength_(maxLength) {}

    // Reports the findings of the next line (without its line feed).
    void check(std::string_view line) {
        ++lineNumber_;
        const CatalogLine parsed = quorvel::parseCatalogLine(line);
        // The first line of an identifier counts; the library ignores the
        // later ones.
        const bool added = firstLine_.find(parsed.identifier) == firstLine_.end();
        if (line.size() > maxLength_) {
            report_("line is " + std::to_string(line.size()) + " bytes long, more than " + std::to_string(maxLength_) +
                    " (--max-length); syslog may cut such messages");
        }
        if (const std::size_t nul = line.find('\0'); nul != std::string_view::npos) {
            report_("NUL byte at column " + std::to_string(nul + 1) +
                    "; appenders and syslog may cut the message there");
        }
        checkCarriageReturns(line, parsed);
        if (line.empty()) {
            report_("empty line: defines the empty identifier, with no message");
        } else if (!parsed.hasEquals) {
            report_("no \"=\": the whole line, " + quoted(line) + ", is both the identifier and the template");
        } else {
            if (!parsed.identifier.empty() &&
                (isBlank(parsed.identifier.front()) || isBlank(parsed.identifier.back()))) {
                report_("identifier " + quoted(parsed.identifier) +
                        " has blanks around it, which are kept: events with signature ID " +
                        quoted(trimBlanks(parsed.identifier)) + " do not match it");
            }
            if (added && parsed.templateText.empty()) {
                report_("empty template: events with identifier " + quoted(parsed.identifier) + " get no message");
            }
            if (added) checkTemplateEscapes(parsed);
        }
        if (!added) {
            report_("identifier " + quoted(parsed.identifier) + " is already defined on line " +
                    std::to_string(firstLine_.at(std::string(parsed.identifier))) + "; this line is ignored");
            return;
        }
        firstLine_.emplace(parsed.identifier, lineNumber_);
        for (const std::string_view token : parsed.droppedTokens) {
            report_("placeholder " + quoted(token) + " is dropped from the message: " + whyDropped(token));
        }
    }

    std::size_t lines() const { return lineNumber_; }
    std::size_t findings() const { return findings_; }

  private:
    static std::string_view trimBlanks(std::string_view text) {
        while (!text.empty() && isBlank(text.front()))
            text.remove_prefix(1);
        while (!text.empty() && isBlank(text.back()))
            text.remove_suffix(1);
        return text;
    }

    void checkCarriageReturns(std::string_view line, const CatalogLine& parsed) {
        if (line.find('\r') == std::string_view::npos) return;
        if (!parsed.hasEquals || parsed.identifier.find('\r') != std::string_view::npos) {
            report_("carriage return in the identifier " + quoted(parsed.identifier) +
                    ": events never match it (DOS line endings?)");
        }
        if (parsed.hasEquals && parsed.templateText.find('\r') != std::string_view::npos) {
            report_("carriage return inside the template: it is written unescaped into the message");
        } else if (parsed.hasEquals) {
            report_("carriage return at the end of the line (DOS line endings?): the library drops it here");
        }
    }

    // The template's own text goes into the msg item as it stands, so an
    // "=" or a backslash that starts no escape there makes a CEF parser split
    // or reject the message.
    void checkTemplateEscapes(const CatalogLine& parsed) {
        const std::string_view text = parsed.templateText;
        const std::size_t firstColumn = parsed.identifier.size() + 2; // after "identifier="
        for (std::size_t at = 0; at < text.size(); ++at) {
            const char c = text[at];
            if (c == '\\' && at + 1 < text.size() &&
                std::string_view("\\=nr").find(text[at + 1]) != std::string_view::npos) {
                ++at; // an escape CEF defines: \\ \= \n \r
                continue;
            }
            if (c != '=' && c != '\\') continue;
            const bool equals = c == '=';
            report_("column " + std::to_string(firstColumn + at) + ": " +
                    (equals ? "\"=\" not escaped" : "backslash that starts no escape") + "; the line will end in msg=" +
                    std::string(text) + " (placeholders filled), which CEF parsers split or reject there. Write " +
                    (equals ? "\\= for a literal \"=\"." : "\\\\ for a literal backslash."));
        }
    }

    void report_(const std::string& text) {
        ++findings_;
        std::cout << file_ << ':' << lineNumber_ << ": " << text << '\n';
    }

    std::string file_;
    std::size_t maxLength_;
    std::size_t lineNumber_ = 0;
    std::size_t findings_ = 0;
    std::map<std::string, std::size_t, std::less<>> firstLine_;
};

// Opens the catalogue for reading; throws ToolError when it cannot be read.
std::ifstream openCatalogue(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw ToolError{"cannot read " + path + ": " + std::strerror(errno)};
    if (S_ISDIR(info.st_mode)) throw ToolError{"cannot read " + path + ": " + std::strerror(EISDIR)};
    std::ifstream file(path, std::ios::binary);
    if (!file) throw ToolError{"cannot read " + path + ": " + std::strerror(errno)};
    return file;
}

int check(const Options& options, const std::string& path) {
    std::ifstream file = openCatalogue(path);
    Checker checker(path, options.maxLength);
    // Lines as the library reads them: up to each line feed, the last one
    // without, until a read fails.
    for (std::string line; std::getline(file, line);)
        checker.check(line);
    if (file.bad()) throw ToolError{"read error in " + path};
    std::cout << path << ": " << checker.lines() << " lines, " << checker.findings()
              << (checker.findings() == 1 ? " finding" : " findings") << '\n';
    return checker.findings() == 0 ? 0 : 1;
}

int render(const Options& options, const std::string& path) {
    std::ifstream file = openCatalogue(path);
    const EventDescriptionCatalog catalog(file);
    if (file.bad()) throw ToolError{"read error in " + path};

    CEF_EVENT event;
    event.setSignatureID(*options.renderId);
    for (const quorvel_tools::Assignment& set : options.sets)
        quorvel_tools::setCefField(event, set);
    const std::string message = catalog.message(event);
    if (message.empty()) {
        const auto entry = catalog.find(*options.renderId);
        throw ToolError{"no message for " + quoted(*options.renderId) + ": " +
                            (!entry           ? "the catalogue has no entry for it"
                             : entry->empty() ? "its template is empty"
                                              : "its template's fields are all empty"),
                        1};
    }
    std::cout << message << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return quorvel_tools::runTool(kProgram, [&] {
        const Options options = parseOptions({argc, argv});
        const std::string path = options.file ? *options.file : EventDescriptionCatalog::filePath();
        return options.renderId ? render(options, path) : check(options, path);
    });
}
