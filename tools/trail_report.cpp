#include "trail_report.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace quorvel_tools {

namespace {

// At most this many places or lines are listed per item in the report for
// people; the JSON report lists all.
constexpr std::size_t kListed = 20;

std::string utcTime(std::uint64_t millis) {
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03uZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<unsigned>(millis % 1000));
    return text;
}

std::string placeText(const TrailVerdict& verdict, const LinePlace& place) {
    return verdict.files[place.file] + ":" + std::to_string(place.line);
}

std::string rangeText(const LineRange& range) {
    return range.first == range.last ? std::to_string(range.first)
                                     : std::to_string(range.first) + ".." + std::to_string(range.last);
}

template <class Item, class Show>
void listItems(std::ostream& out, const char* indent, const std::vector<Item>& items, Show show) {
    for (std::size_t i = 0; i < items.size() && i < kListed; ++i)
        out << indent << show(items[i]) << '\n';
    if (items.size() > kListed) out << indent << "... and " << items.size() - kListed << " more\n";
}

void writeSession(std::ostream& out, const TrailVerdict& trail, const SessionVerdict& s) {
    out << "session " << quorvel::seal::toBase64(s.id);
    if (!s.opened) {
        out << ": no authentic opening seal (missing, or not for this key): " << s.unopenedSeals
            << " seals and the lines they cover cannot be verified\n";
        return;
    }
    out << ": host " << s.opening.host << ", module " << s.opening.module << ", pid " << s.opening.pid << ", opened "
        << utcTime(s.openedAt) << '\n';
    out << "  seals 0.." << s.lastSeal << " (" << s.seals << " found), " << (s.closed ? "closed " : "last ")
        << utcTime(s.lastSealAt) << '\n';
    out << "  verified " << s.verified << " events\n";
    if (!s.missing.empty()) out << "  MISSING " << s.missing.size() << " events:\n";
    listItems(out, "    ", s.missing, [](const MissingLine& m) {
        return "line " + std::to_string(m.number) + " (seal " + std::to_string(m.seal) + ", " + utcTime(m.sealTime) +
               ")";
    });
    for (std::size_t i = 0; i < s.lostSeals.size(); ++i)
        out << "  LOST SEALS " << rangeText(s.lostSeals[i])
            << (i < s.unverifiableLines.size() ? ": lines " + rangeText(s.unverifiableLines[i]) + " cannot be verified"
                                               : std::string(": they covered no line"))
            << '\n';
    if (!s.failedMacs.empty()) out << "  FAILING MAC (altered or forged seals): " << s.failedMacs.size() << '\n';
    listItems(out, "    ", s.failedMacs, [&](const LinePlace& p) { return placeText(trail, p); });
    if (s.unsealedTail != 0) out << "  NOT YET SEALED: " << s.unsealedTail << " lines after the last seal\n";
    if (s.cutShort)
        out << "  CUT SHORT: no closing seal, and none for longer than the idle cadence (" << s.opening.idleMillis
            << " ms) before the end of the collection (" << utcTime(trail.collectionEnd) << ")\n";
    else if (!s.closed)
        out << "  open: no closing seal yet\n";
    if (s.duplicates != 0) out << "  duplicates: " << s.duplicates << " lines found again (a relay's resends)\n";
    if (s.reordered != 0) out << "  out of sealed order: " << s.reordered << " lines found after later-numbered ones\n";
}

void writeJsonString(std::ostream& out, const std::string& text) {
    out << '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out << '\\' << c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out << escaped;
        } else {
            out << c;
        }
    }
    out << '"';
}

void writeJsonPlaces(std::ostream& out, const TrailVerdict& trail, const std::vector<LinePlace>& places) {
    out << '[';
    for (std::size_t i = 0; i < places.size(); ++i) {
        out << (i ? "," : "") << "{\"file\":";
        writeJsonString(out, trail.files[places[i].file]);
        out << ",\"line\":" << places[i].line << '}';
    }
    out << ']';
}

void writeJsonRanges(std::ostream& out, const std::vector<LineRange>& ranges) {
    out << '[';
    for (std::size_t i = 0; i < ranges.size(); ++i)
        out << (i ? "," : "") << "{\"first\":" << ranges[i].first << ",\"last\":" << ranges[i].last << '}';
    out << ']';
}

void writeJsonSession(std::ostream& out, const TrailVerdict& trail, const SessionVerdict& s) {
    out << "{\"session\":\"" << quorvel::seal::toBase64(s.id) << "\",\"opened\":" << (s.opened ? "true" : "false");
    if (s.opened) {
        out << ",\"host\":";
        writeJsonString(out, s.opening.host);
        out << ",\"module\":";
        writeJsonString(out, s.opening.module);
        out << ",\"pid\":" << s.opening.pid << ",\"openedAt\":" << s.openedAt
            << ",\"idleMillis\":" << s.opening.idleMillis;
    }
    out << ",\"seals\":" << s.seals << ",\"lastSeal\":" << s.lastSeal << ",\"lastSealAt\":" << s.lastSealAt
        << ",\"closed\":" << (s.closed ? "true" : "false") << ",\"cutShort\":" << (s.cutShort ? "true" : "false")
        << ",\"verified\":" << s.verified << ",\"missing\":[";
    for (std::size_t i = 0; i < s.missing.size(); ++i)
        out << (i ? "," : "") << "{\"line\":" << s.missing[i].number << ",\"seal\":" << s.missing[i].seal
            << ",\"sealTime\":" << s.missing[i].sealTime << '}';
    out << "],\"lostSeals\":";
    writeJsonRanges(out, s.lostSeals);
    out << ",\"unverifiableLines\":";
    writeJsonRanges(out, s.unverifiableLines);
    out << ",\"unsealedTail\":" << s.unsealedTail << ",\"failedMacs\":";
    writeJsonPlaces(out, trail, s.failedMacs);
    out << ",\"duplicates\":" << s.duplicates << ",\"reordered\":" << s.reordered
        << ",\"unopenedSeals\":" << s.unopenedSeals << '}';
}

} // namespace

void writeTrailReport(std::ostream& out, const TrailVerdict& verdict) {
    out << verdict.files.size() << " files, " << verdict.lines << " lines, " << verdict.eventLines << " event lines, "
        << verdict.sessions.size() << " sessions\n";
    for (const SessionVerdict& session : verdict.sessions)
        writeSession(out, verdict, session);
    const auto place = [&](const LinePlace& p) { return placeText(verdict, p); };
    if (!verdict.uncovered.empty())
        out << "LINES NO SEAL COVERS (altered or inserted): " << verdict.uncovered.size() << '\n';
    listItems(out, "  ", verdict.uncovered, place);
    if (!verdict.unverifiable.empty())
        out << "LINES THAT CANNOT BE VERIFIED (their seal is lost or not yet written): " << verdict.unverifiable.size()
            << '\n';
    listItems(out, "  ", verdict.unverifiable, place);
    if (!verdict.unreadableSeals.empty()) out << "UNREADABLE SEAL LINES: " << verdict.unreadableSeals.size() << '\n';
    listItems(out, "  ", verdict.unreadableSeals, place);
    out << (verdict.complete() ? "result: every event is accounted for\n"
                               : "result: NOT every event is accounted for\n");
}

void writeTrailJson(std::ostream& out, const TrailVerdict& verdict) {
    out << "{\"files\":[";
    for (std::size_t i = 0; i < verdict.files.size(); ++i) {
        out << (i ? "," : "");
        writeJsonString(out, verdict.files[i]);
    }
    out << "],\"lines\":" << verdict.lines << ",\"eventLines\":" << verdict.eventLines
        << ",\"collectionEnd\":" << verdict.collectionEnd << ",\"complete\":" << (verdict.complete() ? "true" : "false")
        << ",\"sessions\":[";
    for (std::size_t i = 0; i < verdict.sessions.size(); ++i) {
        out << (i ? "," : "");
        writeJsonSession(out, verdict, verdict.sessions[i]);
    }
    out << "],\"uncovered\":";
    writeJsonPlaces(out, verdict, verdict.uncovered);
    out << ",\"unverifiable\":";
    writeJsonPlaces(out, verdict, verdict.unverifiable);
    out << ",\"unreadableSeals\":";
    writeJsonPlaces(out, verdict, verdict.unreadableSeals);
    out << "}\n";
}

} // namespace quorvel_tools
