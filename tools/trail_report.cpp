#include "trail_report.h"

#include <cstdio>
#include <ctime>

namespace quorvel_tools {

using namespace quorvel::trail;

namespace {

// At most this many places or lines are listed per item in the report for
// people; the JSON report lists all.
constexpr std::size_t kListed = 20;

std::string utcTime(std::uint64_t millis) {
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    if (gmtime_r(&seconds, &utc) == nullptr) return std::to_string(millis) + " ms";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03uZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<unsigned>(millis % 1000));
    return text;
}

std::string rangeText(const NumberRange& range) {
    return range.first == range.last ? std::to_string(range.first)
                                     : std::to_string(range.first) + ".." + std::to_string(range.last);
}

// Length of the valid UTF-8 sequence at the start of `text`; 0 when none.
std::size_t utf8Sequence(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

class PeopleReport {
  public:
    PeopleReport(std::ostream& out, const TrailVerdict& verdict) : out_(out), verdict_(verdict) {}

    void write() {
        out_ << verdict_.files.size() << " files, " << verdict_.lines << " lines, " << verdict_.eventLines
             << " event lines, " << verdict_.sealLines << " seal lines, " << verdict_.sessions.size() << " sessions\n";
        if (verdict_.windowFrom != 0)
            out_ << "a window from " << utcTime(verdict_.windowFrom)
                 << ": ledgers checked from the epoch under way then, sessions opened before verified from a "
                    "checkpoint\n";
        if (verdict_.prefixedLines != 0)
            out_ << verdict_.prefixedLines << " event lines read after a prefix (the prefix is not sealed)\n";
        for (const SessionVerdict& session : verdict_.sessions)
            writeSession(session);
        for (const HostLedgerVerdict& host : verdict_.hosts)
            writeHost(host);
        if (!verdict_.unregisteredLedger.empty())
            out_ << "LEDGER RECORDS OF HOSTS NOT IN THE REGISTRY: " << verdict_.unregisteredLedger.size() << '\n';
        list(verdict_.unregisteredLedger, [&](const LinePlace& p) { return place(p); });
        writeStrays();
        writeUnchecked();
        if (!verdict_.unreadableSeals.empty())
            out_ << "UNREADABLE SEAL LINES: " << verdict_.unreadableSeals.size() << '\n';
        list(verdict_.unreadableSeals, [&](const LinePlace& p) { return place(p); });
        if (verdict_.sessions.empty()) out_ << "NO SESSION: the collection holds no seal\n";
        out_ << (verdict_.complete() ? "result: every event is accounted for\n"
                                     : "result: NOT every event is accounted for\n");
    }

  private:
    std::string place(const LinePlace& p) const {
        return escapedForPeople(verdict_.files[p.file]) + ":" + std::to_string(p.line);
    }
    std::string found(const FoundLine& f) const { return place(f.place) + " (line " + std::to_string(f.number) + ")"; }

    template <class Item, class Show> void list(const std::vector<Item>& items, Show show) {
        for (std::size_t i = 0; i < items.size() && i < kListed; ++i)
            out_ << "    " << show(items[i]) << '\n';
        if (items.size() > kListed) out_ << "    ... and " << items.size() - kListed << " more\n";
    }

    void writeOpening(const AuthenticOpening& o) {
        if (o.index != 0) {
            out_ << "no opening here; verified from its checkpoint at seal " << o.index << ", pid " << o.opening.pid
                 << ", made " << utcTime(o.time);
            return;
        }
        out_ << "host " << escapedForPeople(o.opening.host) << ", module " << escapedForPeople(o.opening.module)
             << ", pid " << o.opening.pid << ", opened " << utcTime(o.time);
    }

    void writeSession(const SessionVerdict& s) {
        out_ << "session " << quorvel::seal::toBase64(s.id);
        if (s.openings.empty()) {
            out_ << ": NO AUTHENTIC OPENING (lost, rotated away, or not for this key): " << s.sealsRead
                 << " seals cannot be checked; " << s.explainedByUnopened << " collected lines may be theirs\n";
            return;
        }
        if (s.contested()) {
            out_ << ": CONTESTED: " << s.openings.size()
                 << " authentic openings for one session id (someone made one with the public key); none is "
                    "trusted, "
                 << s.contestedLines << " lines found under them are neither verified nor forged:\n";
            for (const AuthenticOpening& o : s.openings) {
                out_ << "    ";
                writeOpening(o);
                out_ << " at " << place(o.place) << '\n';
            }
            return;
        }
        out_ << ": ";
        writeOpening(s.openings.front());
        out_ << '\n';
        writeOrigin(s.origin);
        if (!s.unanchored.empty())
            out_ << "  SEALS ITS HOST'S LEDGER NAMES ARE MISSING OR ALTERED: " << s.unanchored.size() << '\n';
        list(s.unanchored, [](std::uint64_t index) { return "seal " + std::to_string(index); });
        if (s.vanished) out_ << "  its host's agent saw the process go without an end seal (killed or crashed)\n";
        if (verdict_.windowFrom != 0 && s.checkpointAfter(verdict_.windowFrom))
            out_ << "  ITS CHECKPOINT IS AFTER THE WINDOW'S START: what it logged from " << utcTime(verdict_.windowFrom)
                 << " until the seal before the checkpoint is under no seal here, and could be gone unseen; audit "
                    "from an earlier time, with the files from then\n";
        if (s.sealsBeforeCheckpoint + s.beforeCheckpoint != 0)
            out_ << "  BEFORE ITS CHECKPOINT: " << s.sealsBeforeCheckpoint << " seals not checked; "
                 << s.beforeCheckpoint << " collected lines may be numbered before it and cannot be verified\n";
        out_ << "  seals " << s.openings.front().index << ".." << s.lastSeal << " (" << s.seals << " authentic of "
             << s.sealsRead << " read), " << (s.closed ? "closed " : "last ") << utcTime(s.lastSealAt) << '\n';
        out_ << "  verified " << s.verified << " events\n";
        writeLosses(s);
        writeFaults(s);
        writeFindings(s);
    }

    void writeOrigin(const SessionOrigin& origin) {
        static const char* const kHeading[] = {
            nullptr,
            "  UNATTESTED: no host agent vouches for the process that opened it\n",
            "  attested: ",
            "  ATTESTED BY A HOST NOT IN THE REGISTRY: ",
            "  ATTESTATION FAILS (altered, moved, or not made in the epoch the session opened in): ",
            "  checkpoint named by its host's ledger: "};
        if (origin.kind == SessionOrigin::Unchecked) return;
        out_ << kHeading[origin.kind];
        if (const auto& at = origin.checkpoint)
            out_ << "host id " << quorvel::seal::toBase64(at->host) << ", session number " << at->number << ", seal "
                 << at->index << " (who opened it is in its opening)\n";
        if (!origin.attestation) return;
        const quorvel::seal::Attestation& a = *origin.attestation;
        out_ << "host id " << quorvel::seal::toBase64(a.hostId) << ", session number " << a.number << ", epoch "
             << a.epoch << ", uid " << a.uid << ", gid " << a.gid << ", pid " << a.pid << ", exe "
             << escapedForPeople(a.exe) << ", unit " << escapedForPeople(a.unit) << '\n';
    }

    void writeHost(const HostLedgerVerdict& h) {
        out_ << "enrolled host " << escapedForPeople(h.host) << " (" << escapedForPeople(h.fingerprint) << ")";
        if (!h.fingerprintMatches) out_ << ": THE REGISTRY'S RECORD DOES NOT HAVE THIS FINGERPRINT";
        if (!h.enrollmentOpens) {
            out_ << ": ENROLLMENT NOT FOR THIS KEY, or altered\n";
            return;
        }
        if (h.records == 0) {
            out_ << ": NO LEDGER in the collection\n";
            return;
        }
        out_ << ": " << h.records << " epoch records, epochs " << rangeText(*h.epochs) << '\n';
        for (const NumberRange& lost : h.lost)
            out_ << "  HOST EVIDENCE LOST in epochs " << rangeText(lost) << '\n';
        for (const NumberRange& down : h.agentDown)
            out_ << "  agent not running in epochs " << rangeText(down) << '\n';
        if (h.stopped) out_ << "  LEDGER STOPPED at epoch " << h.epochs->last << " before the collection's end\n";
        out_ << "  " << h.sessions << " sessions attested\n";
        for (const NumberRange& missing : h.missingSessions)
            out_ << "  MISSING SESSIONS: numbers " << rangeText(missing)
                 << " were given and no session of theirs is here\n";
        for (const std::uint64_t number : h.reusedNumbers)
            out_ << "  SESSION NUMBER " << number << " GIVEN TWICE: the agent's state was put back\n";
        const std::pair<const char*, const std::vector<LinePlace>*> faults[] = {
            {"FAILING MAC", &h.failedMacs},
            {"A SECOND RECORD FOR AN EPOCH", &h.conflicting},
            {"FROM AFTER THE COLLECTION'S END", &h.fromTheFuture}};
        for (const auto& [heading, places] : faults) {
            if (places->empty()) continue;
            out_ << "  " << heading << ": " << places->size() << '\n';
            list(*places, [&](const LinePlace& p) { return place(p); });
        }
    }

    void writeLosses(const SessionVerdict& s) {
        if (!s.missing.empty()) out_ << "  MISSING " << s.missing.size() << " events:\n";
        list(s.missing, [](const MissingLine& m) {
            return "line " + std::to_string(m.number) + " (seal " + std::to_string(m.seal) + ", " +
                   utcTime(m.sealTime) + ")";
        });
        for (const SealGap& gap : s.gaps) {
            out_ << "  LOST SEALS " << rangeText(gap.seals) << ": ";
            if (gap.lines)
                out_ << "lines " << rangeText(*gap.lines) << " cannot be verified; " << gap.unverifiable
                     << " collected lines may be theirs\n";
            else
                out_ << "the seal after them says they covered no line\n";
        }
        if (s.notYetSealed != 0)
            out_ << "  NOT YET SEALED: " << s.notYetSealed << " collected lines may be the open tail's (at most "
                 << s.tailBound << ")\n";
        if (s.cutShort)
            out_ << "  CUT SHORT: no closing seal, and none for longer than the idle time accepted before the end of "
                    "the collection ("
                 << utcTime(verdict_.collectionEnd) << ")\n";
        else if (!s.closed)
            out_ << "  open: no closing seal yet\n";
    }

    void writeFaults(const SessionVerdict& s) {
        if (!s.failedMacs.empty()) out_ << "  FAILING MAC (altered or forged seals): " << s.failedMacs.size() << '\n';
        list(s.failedMacs, [&](const LinePlace& p) { return place(p); });
        if (!s.faults.empty()) out_ << "  SEALS OUT OF CHAIN: " << s.faults.size() << '\n';
        list(s.faults, [&](const SealFault& f) {
            static const char* const kWhat[] = {"its range does not continue the seal before it", "its time goes back",
                                                "a second authentic seal for its index (made by a holder of its key)",
                                                "dated after the end of the collection"};
            return "seal " + std::to_string(f.seal) + " at " + place(f.place) + ": " + kWhat[f.kind];
        });
        if (s.uncheckedSeals != 0)
            out_ << "  NOT CHECKED: " << s.uncheckedSeals << " seals beyond the seal or key-walk bound\n";
    }

    void writeFindings(const SessionVerdict& s) {
        std::vector<Duplicate> replayed;
        for (const Duplicate& d : s.duplicates)
            if (d.replayed) replayed.push_back(d);
        if (s.duplicates.size() > replayed.size())
            out_ << "  resends: " << s.duplicates.size() - replayed.size()
                 << " lines found again near their first place (a relay's resends)\n";
        if (!replayed.empty())
            out_ << "  REPLAYED: " << replayed.size() << " lines found again far from their first place:\n";
        list(replayed, [&](const Duplicate& d) {
            return place(d.place) + " (line " + std::to_string(d.number) + ", first at " + place(d.original) + ")";
        });
        if (!s.torn.empty()) out_ << "  FOUND ONLY INSIDE ALTERED OR TORN LINES: " << s.torn.size() << '\n';
        list(s.torn, [&](const FoundLine& f) { return found(f); });
        if (s.reordered != 0)
            out_ << "  out of sealed order: " << s.reordered << " lines found after later-numbered ones\n";
        if (!s.foreignHost.empty())
            out_ << "  prefix names another host: " << s.foreignHost.size() << " lines (the prefix is not sealed)\n";
        list(s.foreignHost, [&](const FoundLine& f) { return found(f); });
    }

    void writeStrays() {
        static const char* const kHeading[] = {
            "LINES NO SEAL COVERS (altered or inserted)",
            "LINES ALTERED (an event behind text that is no accepted prefix)",
            "LINES THAT CANNOT BE VERIFIED (a lost seal may have covered them)",
            "LINES NOT YET SEALED (an open session's tail may hold them)",
            "LINES THAT CANNOT BE VERIFIED (only a session without an authentic opening may hold them)",
            "LINES NOT CHECKED (more candidate seals than the bound)",
            "LINES THAT CANNOT BE VERIFIED (numbered before the checkpoint their session is verified from)"};
        for (int kind = StrayLine::Uncovered; kind <= StrayLine::BeforeCheckpoint; ++kind) {
            std::vector<LinePlace> places;
            for (const StrayLine& stray : verdict_.strays)
                if (stray.kind == kind) places.push_back(stray.place);
            if (places.empty()) continue;
            out_ << kHeading[kind] << ": " << places.size() << '\n';
            list(places, [&](const LinePlace& p) { return place(p); });
        }
    }

    void writeUnchecked() {
        const Unchecked& u = verdict_.unchecked;
        if (!u.any()) return;
        out_ << "NOT CHECKED (bounds the auditor can raise):";
        if (u.longLines) out_ << " " << u.longLines << " lines longer than --max-line-bytes;";
        if (u.sessions) out_ << " " << u.sessions << " seal lines of sessions beyond --max-sessions;";
        if (u.openings) out_ << " " << u.openings << " openings beyond --max-openings;";
        if (u.candidates) out_ << " " << u.candidates << " lines with more candidate seals than --max-candidates;";
        if (u.ledgerRecords) out_ << " " << u.ledgerRecords << " ledger records beyond a host's bound;";
        out_ << '\n';
    }

    std::ostream& out_;
    const TrailVerdict& verdict_;
};

class JsonReport {
  public:
    JsonReport(std::ostream& out, const TrailVerdict& verdict) : out_(out), verdict_(verdict) {}

    void write() {
        out_ << "{\"files\":[";
        for (std::size_t i = 0; i < verdict_.files.size(); ++i)
            out_ << (i ? "," : "") << jsonString(verdict_.files[i]);
        out_ << "],\"lines\":" << verdict_.lines << ",\"eventLines\":" << verdict_.eventLines
             << ",\"sealLines\":" << verdict_.sealLines << ",\"prefixedLines\":" << verdict_.prefixedLines
             << ",\"collectionEnd\":" << verdict_.collectionEnd << ",\"windowFrom\":" << verdict_.windowFrom
             << ",\"complete\":" << (verdict_.complete() ? "true" : "false") << ",\"sessions\":[";
        for (std::size_t i = 0; i < verdict_.sessions.size(); ++i) {
            out_ << (i ? "," : "");
            session(verdict_.sessions[i]);
        }
        out_ << "],\"strays\":";
        array(verdict_.strays, [&](const StrayLine& s) {
            static const char* const kKinds[] = {"uncovered", "altered",   "lostSeal",        "openTail",
                                                 "unopened",  "unchecked", "beforeCheckpoint"};
            out_ << "{\"place\":";
            place(s.place);
            out_ << ",\"kind\":\"" << kKinds[s.kind] << '"';
            if (s.session)
                out_ << ",\"session\":\"" << quorvel::seal::toBase64(verdict_.sessions[*s.session].id) << '"';
            out_ << '}';
        });
        out_ << ",\"unreadableSeals\":";
        array(verdict_.unreadableSeals, [&](const LinePlace& p) { place(p); });
        out_ << ",\"hosts\":";
        array(verdict_.hosts, [&](const HostLedgerVerdict& h) { host(h); });
        out_ << ",\"unregisteredLedger\":";
        array(verdict_.unregisteredLedger, [&](const LinePlace& p) { place(p); });
        const Unchecked& u = verdict_.unchecked;
        out_ << ",\"unchecked\":{\"longLines\":" << u.longLines << ",\"sessions\":" << u.sessions
             << ",\"openings\":" << u.openings << ",\"candidates\":" << u.candidates
             << ",\"ledgerRecords\":" << u.ledgerRecords << "}}\n";
    }

  private:
    template <class Item, class Write> void array(const std::vector<Item>& items, Write write) {
        out_ << '[';
        for (std::size_t i = 0; i < items.size(); ++i) {
            out_ << (i ? "," : "");
            write(items[i]);
        }
        out_ << ']';
    }
    void place(const LinePlace& p) { out_ << "{\"file\":" << p.file << ",\"line\":" << p.line << '}'; }
    void found(const FoundLine& f) {
        out_ << "{\"place\":";
        place(f.place);
        out_ << ",\"number\":" << f.number << '}';
    }
    void range(const NumberRange& r) { out_ << "{\"first\":" << r.first << ",\"last\":" << r.last << '}'; }

    void host(const HostLedgerVerdict& h) {
        out_ << "{\"host\":" << jsonString(h.host) << ",\"fingerprint\":" << jsonString(h.fingerprint)
             << ",\"fingerprintMatches\":" << (h.fingerprintMatches ? "true" : "false")
             << ",\"enrollmentOpens\":" << (h.enrollmentOpens ? "true" : "false") << ",\"records\":" << h.records
             << ",\"epochs\":";
        if (h.epochs)
            range(*h.epochs);
        else
            out_ << "null";
        out_ << ",\"lost\":";
        array(h.lost, [&](const NumberRange& r) { range(r); });
        out_ << ",\"agentDown\":";
        array(h.agentDown, [&](const NumberRange& r) { range(r); });
        const std::pair<const char*, const std::vector<LinePlace>*> places[] = {
            {"failedMacs", &h.failedMacs}, {"conflicting", &h.conflicting}, {"fromTheFuture", &h.fromTheFuture}};
        for (const auto& [name, list] : places) {
            out_ << ",\"" << name << "\":";
            array(*list, [&](const LinePlace& p) { place(p); });
        }
        out_ << ",\"sessions\":" << h.sessions << ",\"missingSessions\":";
        array(h.missingSessions, [&](const NumberRange& r) { range(r); });
        out_ << ",\"reusedNumbers\":";
        array(h.reusedNumbers, [&](std::uint64_t n) { out_ << n; });
        out_ << ",\"stopped\":" << (h.stopped ? "true" : "false") << ",\"sound\":" << (h.sound() ? "true" : "false")
             << '}';
    }

    void origin(const SessionOrigin& o) {
        static const char* const kKinds[] = {"unchecked",        "unattested", "attested",
                                             "unregisteredHost", "failed",     "checkpointed"};
        out_ << "{\"kind\":\"" << kKinds[o.kind] << '"';
        if (o.checkpoint)
            out_ << ",\"hostId\":\"" << quorvel::seal::toBase64(o.checkpoint->host)
                 << "\",\"number\":" << o.checkpoint->number << ",\"checkpoint\":" << o.checkpoint->index;
        if (o.attestation) {
            const quorvel::seal::Attestation& a = *o.attestation;
            out_ << ",\"hostId\":\"" << quorvel::seal::toBase64(a.hostId) << "\",\"epoch\":" << a.epoch
                 << ",\"number\":" << a.number << ",\"uid\":" << a.uid << ",\"gid\":" << a.gid << ",\"pid\":" << a.pid
                 << ",\"exe\":" << jsonString(a.exe) << ",\"unit\":" << jsonString(a.unit);
        }
        out_ << '}';
    }

    void session(const SessionVerdict& s) {
        out_ << "{\"session\":\"" << quorvel::seal::toBase64(s.id) << "\",\"state\":\""
             << (s.opened()      ? "opened"
                 : s.contested() ? "contested"
                                 : "unopened")
             << "\",\"origin\":";
        origin(s.origin);
        out_ << ",\"unanchored\":";
        array(s.unanchored, [&](std::uint64_t index) { out_ << index; });
        out_ << ",\"vanished\":" << (s.vanished ? "true" : "false") << ",\"openings\":";
        array(s.openings, [&](const AuthenticOpening& o) {
            out_ << "{\"host\":" << jsonString(o.opening.host) << ",\"module\":" << jsonString(o.opening.module)
                 << ",\"pid\":" << o.opening.pid << ",\"openedAt\":" << o.time << ",\"lines\":" << o.opening.lines
                 << ",\"millis\":" << o.opening.millis << ",\"idleMillis\":" << o.opening.idleMillis
                 << ",\"index\":" << o.index << ",\"place\":";
            place(o.place);
            out_ << '}';
        });
        out_ << ",\"sealsRead\":" << s.sealsRead << ",\"seals\":" << s.seals << ",\"lastSeal\":" << s.lastSeal
             << ",\"lastSealAt\":" << s.lastSealAt << ",\"closed\":" << (s.closed ? "true" : "false")
             << ",\"cutShort\":" << (s.cutShort ? "true" : "false") << ",\"verified\":" << s.verified
             << ",\"contestedLines\":" << s.contestedLines << ",\"missing\":";
        array(s.missing, [&](const MissingLine& m) {
            out_ << "{\"number\":" << m.number << ",\"seal\":" << m.seal << ",\"sealTime\":" << m.sealTime << '}';
        });
        out_ << ",\"gaps\":";
        array(s.gaps, [&](const SealGap& g) {
            out_ << "{\"seals\":";
            range(g.seals);
            out_ << ",\"lines\":";
            if (g.lines)
                range(*g.lines);
            else
                out_ << "null";
            out_ << ",\"unverifiable\":" << g.unverifiable << '}';
        });
        out_ << ",\"notYetSealed\":" << s.notYetSealed << ",\"tailBound\":" << s.tailBound << ",\"failedMacs\":";
        array(s.failedMacs, [&](const LinePlace& p) { place(p); });
        out_ << ",\"faults\":";
        array(s.faults, [&](const SealFault& f) {
            static const char* const kKinds[] = {"rangeBreak", "timeBack", "conflicting", "fromTheFuture"};
            out_ << "{\"seal\":" << f.seal << ",\"kind\":\"" << kKinds[f.kind] << "\",\"place\":";
            place(f.place);
            out_ << '}';
        });
        out_ << ",\"uncheckedSeals\":" << s.uncheckedSeals << ",\"duplicates\":";
        array(s.duplicates, [&](const Duplicate& d) {
            out_ << "{\"place\":";
            place(d.place);
            out_ << ",\"original\":";
            place(d.original);
            out_ << ",\"number\":" << d.number << ",\"replayed\":" << (d.replayed ? "true" : "false") << '}';
        });
        out_ << ",\"reordered\":" << s.reordered << ",\"torn\":";
        array(s.torn, [&](const FoundLine& f) { found(f); });
        out_ << ",\"foreignHost\":";
        array(s.foreignHost, [&](const FoundLine& f) { found(f); });
        out_ << ",\"explainedByUnopened\":" << s.explainedByUnopened
             << ",\"sealsBeforeCheckpoint\":" << s.sealsBeforeCheckpoint
             << ",\"beforeCheckpoint\":" << s.beforeCheckpoint << '}';
    }

    std::ostream& out_;
    const TrailVerdict& verdict_;
};

} // namespace

std::string escapedForPeople(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        std::size_t length = 1;
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += text[0];
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else if (byte < 0x80) {
            out += text[0];
        } else if ((length = utf8Sequence(text)) != 0) {
            out.append(text.substr(0, length));
        } else {
            length = 1;
            out += "\xEF\xBF\xBD"; // U+FFFD
        }
        text.remove_prefix(length);
    }
    return out + "\"";
}

void writeTrailReport(std::ostream& out, const TrailVerdict& verdict) { PeopleReport(out, verdict).write(); }

void writeTrailJson(std::ostream& out, const TrailVerdict& verdict) { JsonReport(out, verdict).write(); }

} // namespace quorvel_tools
