// The clock stamps of logged lines: a CEF line's rt (milliseconds since the
// epoch) with dtz (the local zone's abbreviation), an XDAS record's "Offset"
// (seconds). Tests compare whole lines with lines written out by hand, so
// each stamp is checked against the clock and the zone, then replaced by a
// fixed one: rt=1700000000123 dtz=UTC, "Offset" : 1700000000.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

namespace quorvel_test {

// The abbreviation of the local time zone now.
inline std::string localZone() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_zone ? local.tm_zone : "";
}

// Fails the calling test unless `digits` is a decimal number without leading
// zeros within ten minutes of the clock, in `perSecond` units since the epoch.
inline void expectNow(const std::string& digits, long long perSecond, const std::string& where) {
    const long long now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count() *
        perSecond / 1000;
    const bool number = !digits.empty() && digits.size() < 19 && digits[0] != '0' &&
                        digits.find_first_not_of("0123456789") == std::string::npos;
    EXPECT_TRUE(number && std::llabs(std::stoll(digits) - now) <= 600 * perSecond)
        << "\"" << digits << "\" is not the time now, in " << where;
}

// `text` with, on each line, the first CEF stamp ("rt=... dtz=... " after a
// "|" or a blank) and the first "Offset" member checked and fixed.
inline std::string withFixedStamps(const std::string& text) {
    std::string fixed;
    for (std::size_t start = 0, end; start < text.size(); start = end) {
        end = std::min(text.find('\n', start), text.size() - 1) + 1;
        std::string line = text.substr(start, end - start);
        for (std::size_t at = line.find("rt="); at != std::string::npos; at = line.find("rt=", at + 1)) {
            const std::size_t digitsEnd = line.find_first_not_of("0123456789", at + 3);
            const bool stamp = at > 0 && (line[at - 1] == '|' || line[at - 1] == ' ') &&
                               digitsEnd != std::string::npos && line.compare(digitsEnd, 5, " dtz=") == 0;
            const std::size_t zoneEnd = stamp ? line.find(' ', digitsEnd + 5) : std::string::npos;
            if (zoneEnd == std::string::npos) continue;
            expectNow(line.substr(at + 3, digitsEnd - at - 3), 1000, line);
            EXPECT_EQ(line.substr(digitsEnd + 5, zoneEnd - digitsEnd - 5), localZone()) << line;
            line.replace(at, zoneEnd - at, "rt=1700000000123 dtz=UTC");
            break;
        }
        if (const std::size_t at = line.find("\"Offset\" : "); at != std::string::npos) {
            const std::size_t from = at + 11;
            const std::size_t to = std::min(line.find_first_not_of("-0123456789", from), line.size());
            expectNow(line.substr(from, to - from), 1, line);
            line.replace(from, to - from, "1700000000");
        }
        fixed += line;
    }
    return fixed;
}

} // namespace quorvel_test
