// The escapers, which copy clean runs a block at a time, against plain
// byte-at-a-time references of the same escapes, on random values and on the
// fuzz corpora: every value must come out byte for byte the same, in wide
// steps where the processor takes them and sixteen bytes at a time. (The
// default "C" locale: every byte from 0x80 up is escaped in JSON strings.)
#include "cef/cef_escape.h"
#include "sixteen_byte_steps.h"
#include "xdas/json_string_escape.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

std::string cefReference(std::string_view value, bool header) {
    std::string out;
    for (const char c : value) {
        if (c == '\0' || (header && (c == '\n' || c == '\r')))
            out += "\xEF\xBF\xBD";
        else if (c == '\\')
            out += "\\\\";
        else if (header && c == '|')
            out += "\\|";
        else if (!header && c == '\n')
            out += "\\n";
        else if (!header && c == '\r')
            out += "\\r";
        else if (!header && c == '=')
            out += "\\=";
        else
            out += c;
    }
    return out;
}

std::string jsonReference(std::string_view value) {
    static const std::string shortEscapes[][2] = {{"\"", "\\\""}, {"\\", "\\\\"}, {"\b", "\\b"}, {"\f", "\\f"},
                                                  {"\n", "\\n"},  {"\r", "\\r"},  {"\t", "\\t"}};
    std::string out = "\"";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        std::string form(1, c);
        for (const auto& [raw, escape] : shortEscapes)
            if (form == raw) form = escape;
        if (form.size() == 1 && (byte < 0x20 || byte >= 0x7F)) {
            char unicode[7];
            std::snprintf(unicode, sizeof unicode, "\\u00%02X", byte);
            form = unicode;
        }
        out += form;
    }
    return out + "\"";
}

// Values of 0 to 300 bytes, each with its own share of bytes that need
// escaping, from none to all; then every file of the fuzz corpora.
std::vector<std::string> values() {
    static constexpr char kSpecial[] = {'\0', '\\', '\n',   '\r',   '\t',   '=',   '|',
                                        '"',  '\b', '\x01', '\x7F', '\x80', '\xFF'};
    std::mt19937 random(27);
    std::vector<std::string> values;
    for (int i = 0; i < 3000; ++i) {
        const double share = std::uniform_real_distribution<double>(0, 1)(random);
        std::string value(std::uniform_int_distribution<std::size_t>(0, 300)(random), 'a');
        for (char& c : value)
            if (std::bernoulli_distribution(share * share)(random)) c = kSpecial[random() % sizeof kSpecial];
        values.push_back(value);
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(QUORVEL_FUZZ_CORPORA)) {
        std::ifstream file(entry.path(), std::ios::binary);
        if (entry.is_regular_file())
            values.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return values;
}

struct Escaper {
    const char* name;
    std::string (*written)(std::string_view);
    std::string (*reference)(std::string_view);
};

const Escaper kEscapers[] = {
    {"CEF extension",
     [](std::string_view v) {
         std::string out;
         quorvel::appendEscapedCefValue(out, v, quorvel::CefEscaping::Extension);
         return out;
     },
     [](std::string_view v) { return cefReference(v, false); }},
    {"CEF header",
     [](std::string_view v) {
         std::string out;
         quorvel::appendEscapedCefValue(out, v, quorvel::CefEscaping::Header);
         return out;
     },
     [](std::string_view v) { return cefReference(v, true); }},
    {"JSON string",
     [](std::string_view v) {
         std::string out;
         quorvel::appendJsonString(out, v);
         return out;
     },
     jsonReference},
};

TEST(EscapeReference, EveryValueAsTheByteAtATimeReferenceWritesIt) {
    for (const std::string& value : values()) {
        for (const Escaper& escaper : kEscapers) {
            const std::string reference = escaper.reference(value);
            ASSERT_EQ(escaper.written(value), reference) << escaper.name << ", " << value.size() << " bytes";
            ASSERT_EQ(quorvel_test::writtenSixteenBytesAtATime([&] { return escaper.written(value); }), reference)
                << escaper.name << ", " << value.size() << " bytes, sixteen at a time";
        }
    }
}

} // namespace
