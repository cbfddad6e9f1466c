// Reads arbitrary bytes as a collected trail: every line through the seal
// reader, and the whole through the verifier as up to three collected files
// (split at lines that hold a single form feed, prefixes read by every
// grammar and one pattern of the auditor's own), with the auditor key of
// tests/data/sealed_trail_auditor.key and small bounds, so that every run is
// quick. The seeds' sessions all start from the key of bytes 0 to 31: a seal
// line that ends in " mac=*" gets the MAC its index's key gives (indexes
// below 64), so that a seal changed in any field stays authentic and the
// checks of chains, ranges and losses are reached; so does an epoch record of
// the one enrolled host (id a0..af, seed of bytes 0 to 31, epochs below 64),
// and an opening's attestation by that host written with " amac=* ".
// For any input:
//   - a seal of version 2 to 4, a version 2 epoch record or an attestation the reader accepts
//     is the very text the writer makes of the record read: a record has
//     one text;
//   - the verdict counts the lines of the files, names only places among
//     them (the host ledger's too), and gives every event line exactly one fate: verified, found
//     under a contested session, a copy of a line found, or a stray;
//   - a complete verdict has no stray, and every session in it is opened;
//   - the JSON report parses with nlohmann::json, a parser the verifier does
//     not use, which also rejects invalid UTF-8; every line of the input,
//     escaped as the report escapes a host's text, parses too, and back to
//     itself when it is valid UTF-8;
//   - the report for people holds printable ASCII and line feeds only, and
//     exactly one line that starts with "result:".
#include "trail/attestation_record.h"
#include "trail/epoch_record.h"
#include "trail/trail_verifier.h"
#include "trail_report.h"

#include <nlohmann/json.hpp>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace seal = quorvel::seal;
namespace trail = quorvel::trail;

constexpr std::size_t kMaxFiles = 3;
// The collection's end: one minute after the seeds' sessions opened.
constexpr std::uint64_t kCollectionEnd = 1700000060000;

constexpr std::uint64_t kResealed = 64;
constexpr std::string_view kMacToMake = " mac=*";

seal::AuditorSecretKey auditorKey;
seal::Bytes32 macKeys[kResealed];    // of the seeds' seals 0 to 63
seal::EpochKey epochKeys[kResealed]; // of the enrolled host's epochs 0 to 63
std::vector<trail::RegisteredHost> registry;
int fileDescriptors[kMaxFiles];
std::vector<std::string> filePaths;

[[noreturn]] void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "%s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::abort();
}

// The input's files: pieces separated by a line of a single form feed.
std::vector<std::string_view> filesOf(std::string_view input) {
    std::vector<std::string_view> files;
    for (std::size_t at; files.size() + 1 < kMaxFiles && (at = input.find("\n\f\n")) != std::string_view::npos;) {
        files.push_back(input.substr(0, at + 1));
        input.remove_prefix(at + 3);
    }
    files.push_back(input);
    return files;
}

// Lines as the verifier numbers them: the last one counts without its line
// feed, when it holds anything.
std::uint64_t linesIn(std::string_view file) {
    const auto feeds = static_cast<std::uint64_t>(std::count(file.begin(), file.end(), '\n'));
    return feeds + (!file.empty() && file.back() != '\n');
}

// The MAC a seal or epoch record `text` (its marker on, before " mac=")
// gets, when its index or epoch has a key here.
std::optional<seal::SealMac> macFor(std::string_view text) {
    const std::string whole = std::string(text) + " mac=" + std::string(43, 'A');
    if (const auto read = seal::readSeal(whole); read && read->record.index < kResealed)
        return seal::macOf(macKeys[read->record.index], text);
    if (const auto read = seal::readEpochRecord(whole); read && read->record.epoch < kResealed)
        return seal::macOf(epochKeys[read->record.epoch], text);
    return std::nullopt;
}

// An opening's attestation written with " amac=*" gets the MAC of the
// enrolled host's epoch it names (below 64), so that an attested opening
// changed in any field stays attested.
constexpr std::string_view kAttestationMacToMake = " amac=* ";

std::string attested(std::string line) {
    const std::size_t at = line.find(kAttestationMacToMake);
    const std::size_t marker = line.find(seal::kSealMarker);
    if (at == std::string::npos || marker == std::string::npos || marker > at) return line;
    std::string whole = line.substr(marker);
    whole.replace(at - marker, kAttestationMacToMake.size(), " amac=" + std::string(43, 'A') + " ");
    const std::size_t end = whole.rfind(" mac=");
    if (end == std::string::npos) return line;
    whole.replace(end, std::string::npos, " mac=" + std::string(43, 'A'));
    const auto read = seal::readSeal(whole);
    if (!read || !read->record.opening || !read->record.opening->attestation) return line;
    const seal::Attestation& attestation = read->record.opening->attestation->attestation;
    if (attestation.epoch >= kResealed) return line;
    const auto signedBy = seal::readAttestation(seal::writeAttestation(attestation, epochKeys[attestation.epoch]));
    line.replace(at, kAttestationMacToMake.size(), " amac=" + seal::toBase64(signedBy->mac) + " ");
    return line;
}

// The input with each seal or epoch record that ends in " mac=*" given its
// MAC (an attestation in it first given its own).
std::string resealed(std::string_view input) {
    std::string out;
    out.reserve(input.size() + 64);
    for (std::size_t start = 0; start < input.size();) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        const std::string attestedLine = attested(std::string(input.substr(start, end - start)));
        const std::string_view line = attestedLine;
        std::size_t marker = line.find(seal::kSealMarker);
        if (marker == std::string_view::npos) marker = line.find(seal::kEpochMarker);
        if (marker != std::string_view::npos && line.size() - marker > kMacToMake.size() &&
            line.substr(line.size() - kMacToMake.size()) == kMacToMake) {
            if (const auto mac = macFor(line.substr(marker, line.size() - marker - kMacToMake.size()))) {
                out.append(line.substr(0, line.size() - 1));
                out += seal::toBase64(*mac);
                out.append(input.substr(end, 1));
                start = end + 1;
                continue;
            }
        }
        out.append(line);
        out.append(input.substr(end, 1));
        start = end + 1;
    }
    return out;
}

// An epoch record or an attestation read is the very text written for its
// record.
template <class Read, class Write> void checkRecordLine(std::string_view line, Read read, Write write) {
    const auto record = read(line);
    if (!record) return;
    const std::string written = write(record->record, {});
    if (std::string_view(written).substr(0, written.rfind(" mac=")) != record->signedText)
        fail("a ledger record read is not the text written for its record", written);
}

void checkLedgerLine(std::string_view line) {
    // Epoch records of version 1 are read, and written in version 2.
    const std::size_t marker = line.find(seal::kEpochMarker);
    if (marker == std::string_view::npos || line.substr(marker + seal::kEpochMarker.size(), 3) != "v=1")
        checkRecordLine(line, seal::readEpochRecord, seal::writeEpochRecord);
    checkRecordLine(line, seal::readAttestation, seal::writeAttestation);
}

void checkSealLine(std::string_view line) {
    const auto read = seal::readSeal(line);
    if (!read || read->record.version < 2) return;
    const std::string written = seal::writeSeal(read->record, {});
    const std::size_t macAt = written.rfind(" mac=");
    if (std::string_view(written).substr(0, macAt) != read->signedText ||
        seal::toBase64(read->mac) != line.substr(read->signedText.size() + 5))
        fail("a seal read is not the text written for its record", written);
}

// The reports' escaping of a line, as of any text a host chose: JSON that
// parses to the line itself when the line is valid UTF-8 (as nlohmann::json
// judges it), and printable ASCII for people.
void checkEscaping(std::string_view line) {
    const std::string json = quorvel_tools::jsonString(line);
    std::string parsed;
    try {
        parsed = nlohmann::json::parse(json).get<std::string>();
    } catch (const nlohmann::json::exception& error) {
        fail(error.what(), json);
    }
    bool valid = true;
    try {
        (void)nlohmann::json(std::string(line)).dump();
    } catch (const nlohmann::json::type_error&) {
        valid = false;
    }
    if (valid && parsed != line) fail("valid UTF-8 changed in the JSON report", json);
    const std::string people = quorvel_tools::escapedForPeople(line);
    if (!std::all_of(people.begin(), people.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        fail("an unescaped byte for people", people);
}

void checkPlace(const trail::LinePlace& place, const std::vector<std::uint64_t>& lines) {
    if (place.file >= lines.size() || place.line == 0 || place.line > lines[place.file])
        fail("a place that is no line of the files", std::to_string(place.file) + ":" + std::to_string(place.line));
}

void checkVerdict(const trail::TrailVerdict& verdict, const std::vector<std::uint64_t>& lines) {
    std::uint64_t total = 0;
    for (const std::uint64_t n : lines)
        total += n;
    if (verdict.lines != total)
        fail("lines miscounted", std::to_string(verdict.lines) + " of " + std::to_string(total));
    const auto places = [&](const auto& items, auto placeOf) {
        for (const auto& item : items)
            checkPlace(placeOf(item), lines);
    };
    const auto itself = [](const trail::LinePlace& p) { return p; };
    places(verdict.strays, [](const trail::StrayLine& s) { return s.place; });
    places(verdict.unreadableSeals, itself);
    std::uint64_t fates = verdict.strays.size();
    bool allOpened = true;
    for (const trail::SessionVerdict& s : verdict.sessions) {
        allOpened = allOpened && s.opened();
        fates += s.verified + s.contestedLines + s.duplicates.size();
        places(s.openings, [](const trail::AuthenticOpening& o) { return o.place; });
        places(s.failedMacs, itself);
        places(s.faults, [](const trail::SealFault& f) { return f.place; });
        places(s.duplicates, [](const trail::Duplicate& d) { return d.place; });
        places(s.duplicates, [](const trail::Duplicate& d) { return d.original; });
        places(s.torn, [](const trail::FoundLine& f) { return f.place; });
        places(s.foreignHost, [](const trail::FoundLine& f) { return f.place; });
    }
    for (const trail::HostLedgerVerdict& h : verdict.hosts)
        for (const auto* list : {&h.failedMacs, &h.conflicting, &h.fromTheFuture})
            places(*list, itself);
    places(verdict.unregisteredLedger, itself);
    if (fates != verdict.eventLines)
        fail("event lines without exactly one fate",
             std::to_string(fates) + " fates for " + std::to_string(verdict.eventLines) + " event lines");
    if (verdict.complete() && (!verdict.strays.empty() || !allOpened))
        fail("complete with a stray or a session not opened");
}

void checkReports(const trail::TrailVerdict& verdict) {
    std::ostringstream json;
    quorvel_tools::writeTrailJson(json, verdict);
    try {
        if (nlohmann::json::parse(json.str()).at("complete").get<bool>() != verdict.complete())
            fail("the JSON report's \"complete\" differs", json.str());
    } catch (const nlohmann::json::exception& error) {
        fail(error.what(), json.str());
    }
    std::ostringstream people;
    quorvel_tools::writeTrailReport(people, verdict);
    const std::string report = people.str();
    if (!std::all_of(report.begin(), report.end(), [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\n'; }))
        fail("an unescaped byte in the report for people", report);
    std::istringstream in(report);
    std::size_t results = 0;
    for (std::string line; std::getline(in, line);)
        results += line.rfind("result:", 0) == 0;
    if (results != 1) fail("not exactly one result line", report);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!seal::cryptoReady()) fail("libsodium cannot start");
    for (std::size_t i = 0; i < auditorKey.size(); ++i)
        auditorKey[i] = static_cast<unsigned char>(0x60 + i);
    seal::SealKey key;
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<unsigned char>(i);
    for (seal::Bytes32& macKey : macKeys) {
        macKey = seal::sealKeysOf(key).mac;
        key = seal::nextSealKey(key);
    }
    // One enrolled host, id a0..af (as the seeds' sessions), its seed the
    // bytes 0 to 31, an epoch a second from the seeds' sessions' start.
    seal::HostSeed seed;
    for (std::size_t i = 0; i < seed.size(); ++i)
        seed[i] = static_cast<unsigned char>(i);
    for (std::uint64_t epoch = 0; epoch < kResealed; ++epoch)
        seal::epochKeyFromSeed(seed, epoch, epochKeys[epoch]);
    seal::Enrollment enrollment;
    for (std::size_t i = 0; i < enrollment.hostId.size(); ++i)
        enrollment.hostId[i] = static_cast<unsigned char>(0xa0 + i);
    enrollment.host = "host-a";
    enrollment.time = 1700000000000;
    enrollment.epochMillis = 1000;
    enrollment.seed = seal::encryptForAuditor(seed, seal::publicKeyOf(auditorKey));
    const std::string record = seal::writeEnrollment(enrollment, epochKeys[0]);
    registry.push_back({seal::fingerprintOf(record), record});
    for (int& fd : fileDescriptors) {
        fd = memfd_create("trail", 0);
        if (fd < 0) fail("memfd_create failed");
        filePaths.push_back("/proc/self/fd/" + std::to_string(fd));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = resealed(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string_view input = text;
    for (std::size_t start = 0; start <= input.size();) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        checkSealLine(input.substr(start, end - start));
        checkLedgerLine(input.substr(start, end - start));
        checkEscaping(input.substr(start, end - start));
        start = end + 1;
    }

    const std::vector<std::string_view> files = filesOf(input);
    std::vector<std::string> paths;
    std::vector<std::uint64_t> lines;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string_view file = files[i];
        if (ftruncate(fileDescriptors[i], 0) != 0 ||
            pwrite(fileDescriptors[i], file.data(), file.size(), 0) != static_cast<ssize_t>(file.size()))
            fail("cannot write the collected file");
        paths.push_back(filePaths[i]);
        lines.push_back(linesIn(file));
    }
    trail::VerifyOptions options;
    options.secretKey = &auditorKey;
    options.at = kCollectionEnd;
    options.resendWindow = 4;
    // A prefix of the auditor's own besides the grammars: a log4cxx layout
    // of "%d %p %c - %m%n".
    options.prefixPattern = "[0-9-]+ [0-9:,]+ [A-Z]+ [a-z.]+ - ";
    // Bounds small enough that inputs of a few kilobytes reach each.
    options.limits.lineBytes = 4096;
    options.limits.sessions = 8;
    options.limits.openingsPerSession = 2;
    options.limits.sealsPerSession = 32;
    options.limits.keyStepsPerSeal = 16;
    options.limits.keyStepsFree = 256;
    options.limits.candidates = 4;
    options.limits.eventStarts = 4;
    options.limits.sealWindow = 8; // seals leave early: late lines and copies are found at the end
    options.registry = registry;
    const trail::TrailVerdict verdict = trail::verifyTrail(paths, options);
    checkVerdict(verdict, lines);
    checkReports(verdict);
    return 0;
}
