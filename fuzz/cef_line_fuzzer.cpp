// Renders the CEF line of an event whose fields hold arbitrary bytes and reads
// it back with the tests' own CEF parser, written from the format's rules:
// the line must be one physical line, and every header value and extension
// item must come back exactly as set, in the line's order, with the catalogue
// message last; and the line must be the same with the escapers' wide steps
// turned off.
#include "cef/cef_field_table.h"
#include "cef/cef_line.h"
#include "cef/event_description_catalog.h"
#include "cef_event_fill.h"
#include "cef_parser.h"
#include "sixteen_byte_steps.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Items = std::vector<std::pair<std::string, std::string>>;

// Every placeholder kind, a header field and a separator in the template
// text. The text holds no "=": the template's own text is not escaped.
const std::string kTemplate = "by {suser}|{cs1} n:{cn1} p:{spt} {name}{dtz}";

const quorvel::EventDescriptionCatalog& catalog() {
    static const quorvel::EventDescriptionCatalog loaded = [] {
        std::istringstream lines("M=" + kTemplate + "\n");
        return quorvel::EventDescriptionCatalog(lines);
    }();
    return loaded;
}

using namespace std::string_view_literals;

// The value of `row` as a parser reads it back: as set, each byte of
// `replaced` (those with no escape that cannot stand raw) as U+FFFD.
std::string rawValue(const CEF_EVENT& event, const quorvel::CefField& row, std::string_view replaced = "\0"sv) {
    switch (row.kind) {
    case quorvel::CefFieldKind::Text: {
        std::string value = event.*row.text;
        for (std::size_t at; (at = value.find_first_of(replaced)) != std::string::npos;)
            value.replace(at, 1, "\xEF\xBF\xBD");
        return value;
    }
    case quorvel::CefFieldKind::Int: return std::to_string(event.*row.integer);
    case quorvel::CefFieldKind::Long: return std::to_string(event.*row.longInteger);
    }
    return {};
}

const quorvel::CefField& rowOf(const char* key) {
    for (const quorvel::CefField& row : quorvel::CefFieldTable)
        if (row.key == key) return row;
    std::abort();
}

// The extension items the line must carry, row by row as their roles say:
// singles when not empty, the value of a cn or flexNumber pair only with its
// label (the row before it).
Items expectedExtension(const CEF_EVENT& event) {
    Items items;
    const quorvel::CefField* label = nullptr;
    for (const quorvel::CefField& row : quorvel::CefFieldTable) {
        const std::string value = rawValue(event, row);
        switch (row.role) {
        case quorvel::CefLineRole::Single:
            if (!value.empty()) items.emplace_back(std::string(row.key), value);
            break;
        case quorvel::CefLineRole::PairLabel: label = &row; break;
        case quorvel::CefLineRole::PairValue: {
            const std::string labelValue = rawValue(event, *label);
            if (labelValue.empty()) break;
            items.emplace_back(std::string(label->key), labelValue);
            items.emplace_back(std::string(row.key), value);
            break;
        }
        case quorvel::CefLineRole::Header:
        case quorvel::CefLineRole::None: break;
        }
    }

    if (event.getSignatureID() == "M") {
        // Each placeholder replaced at its own place by the value as set.
        std::string message;
        for (std::size_t at = 0; at < kTemplate.size(); ++at) {
            if (kTemplate[at] != '{') {
                message += kTemplate[at];
                continue;
            }
            const std::size_t close = kTemplate.find('}', at);
            message += rawValue(event, rowOf(kTemplate.substr(at + 1, close - at - 1).c_str()));
            at = close;
        }
        if (!message.empty()) items.emplace_back("msg", message);
    }
    return items;
}

[[noreturn]] void fail(const std::string& what, const std::string& line) {
    std::fprintf(stderr, "%s\nline of %zu bytes\n", what.c_str(), line.size());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    CEF_EVENT event;
    event.setSignatureID(input.ConsumeBool() ? "M" : input.ConsumeRandomLengthString(8));
    quorvel_fuzz::fillCefEvent(event, input);

    const auto render = [&event] {
        std::string line;
        quorvel::renderCefLine(catalog(), event, line);
        return line;
    };
    const std::string line = render();
    if (quorvel_test::writtenSixteenBytesAtATime(render) != line)
        fail("the wide steps and the sixteen-byte way differ", line);
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) fail("line break or NUL in the line", line);

    std::string error;
    const auto parsed = quorvel_test::parseCefLine(line, &error);
    if (!parsed) fail("unparsable line: " + error, line);

    // Header values: line breaks as U+FFFD too, a negative number as 0.
    const auto headerValue = [&](const char* key) { return rawValue(event, rowOf(key), "\0\n\r"sv); };
    const std::string header[7] = {std::to_string(std::max(event.getVersion(), 0)),
                                   headerValue("vendor"),
                                   headerValue("product"),
                                   headerValue("deviceversion"),
                                   headerValue("signature"),
                                   headerValue("name"),
                                   std::to_string(std::max(event.getSeverity(), 0))};
    for (int position = 0; position < 7; ++position)
        if (parsed->header[position] != header[position])
            fail("header value " + std::to_string(position) + " differs", line);
    const Items expected = expectedExtension(event);
    if (parsed->extension.size() != expected.size())
        fail("extension has " + std::to_string(parsed->extension.size()) + " items, expected " +
                 std::to_string(expected.size()),
             line);
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (parsed->extension[i] != expected[i]) fail("extension item " + expected[i].first + " differs", line);
    return 0;
}
