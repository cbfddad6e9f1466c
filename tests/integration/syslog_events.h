// The events the syslog host logs and the end-to-end test checks: which
// values each event of each thread carries, shared by both programs.
#pragma once

#include <map>
#include <string>

namespace syslog_e2e {

constexpr int kThreads = 4;
constexpr int kEventsPerThread = 250; // even numbers XDAS, odd numbers CEF

// Printable UTF-8 of two, three and four bytes: "Zoë Łukasz 日本 😀".
inline const std::string kUtf8Name = "Zo\xC3\xAB \xC5\x81ukasz \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";

// Every character that either escape rule touches, with text that looks
// like a separator or a key of the other format.
inline std::string specials() {
    std::string text = "q\" b\\ s/ \b\f\n\r\t = | {suser} CEF:0|x|y| suser=root \",\"Id\" : \"x ";
    for (int c = 1; c < 0x20; ++c)
        text += static_cast<char>(c);
    text += '\x7F';
    return text + kUtf8Name;
}

// A CEF value may also hold bytes that are not UTF-8 at all, and a NUL,
// which the line shows as U+FFFD.
inline std::string cefSpecials() { return specials() + "\xFF\x80\xC3" + std::string(1, '\0') + "!"; }
inline std::string cefSpecialsReadBack() {
    return specials() + "\xFF\x80\xC3"
                        "\xEF\xBF\xBD!";
}

// A header value holding specials(), as read back: its line breaks, which
// have no escape in a CEF header, as U+FFFD.
inline std::string specialsInHeaderReadBack() {
    std::string text;
    for (const char c : specials())
        text += c == '\n' || c == '\r' ? std::string("\xEF\xBF\xBD") : std::string(1, c);
    return text;
}

// The sequence text that identifies an event.
inline std::string sequence(int thread, int event) {
    return "t" + std::to_string(thread) + "-" + std::to_string(event);
}

// How long an event's padding is: most events are short, every tenth makes
// a line of more than 8 KiB, and one event makes a line of almost 64 KiB.
inline std::size_t paddingLength(int thread, int event) {
    if (thread == 0 && event == 101) return 64400;
    return event % 10 == 5 ? 8400 : 8;
}

inline std::string padding(int thread, int event) {
    std::string pad;
    while (pad.size() < paddingLength(thread, event))
        pad += "pad-" + sequence(thread, event) + " ";
    return pad;
}

// The message catalogue the CEF events expand, and the message it gives.
inline const char* const kCatalog = "100=User {suser} from {src}\n";
inline std::string cefMessage() { return "User " + cefSpecialsReadBack() + " from {suser}"; }

} // namespace syslog_e2e
