// trail_collection: writes a sealed trail as a collector holds it, with the
// library's own seal records and keys and no host: sessions that number, tag
// and seal their lines at the library's cadence (a seal every N lines or one
// second after the first line it covers, one a minute when idle, the opening
// first and a closing seal at a normal exit), merged into one file in random
// order, each session's own order kept; with --in-order the same sessions one
// after another. The hostile options add what an attacker can write into a
// collected file; the sessions then have that many lines fewer, so that the
// file keeps about the size of the untouched one.
//
// Everything but the cryptographic randomness (session ids, keys) follows
// from --seed: two runs with the same options write sessions of the same
// hosts, lines, times and seals.
//
// Writes DIR/trail.log, and the auditor's keys as `quorvel-verify keygen`
// writes them (DIR/auditor.pub, DIR/auditor.key), then prints one line:
// lines=N bytes=B sessions=S seals=K end=MILLIS (the latest seal time).
#include "trail/seal_keys.h"
#include "trail/seal_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <queue>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace seal = quorvel::seal;

constexpr const char* kUsage =
    "usage: trail_collection --out DIR [--sessions S] [--lines N] [--seal-every N] [--in-order] [--seed N]\n"
    "                        [--huge-index] [--forged-openings K] [--short-sessions K] [--long-lines]\n"
    "                        [--many-starts K]\n";

// Simulated time: the trail starts at 2026-01-01T00:00:00Z and its sessions
// log this many lines a second together.
constexpr std::uint64_t kStartMillis = 1767225600000;
constexpr std::uint64_t kLinesPerSecond = 100000;
// The library's default cadence besides the line count, in microseconds of
// simulated time.
constexpr std::uint64_t kSealMicros = 1000000;
constexpr std::uint64_t kIdleMicros = 60000000;
constexpr std::uint64_t kDone = UINT64_MAX;

constexpr std::uint64_t kShortSessionLines = 3;
constexpr std::uint64_t kHugeIndex = 16777215;
constexpr std::size_t kEventStartsPerLine = 400;
constexpr std::size_t kLongLineBytes = std::size_t{2} << 20;
constexpr std::size_t kEndlessLineBytes = std::size_t{64} << 20;

struct Options {
    std::string out;
    std::uint64_t sessions = 1000;
    std::uint64_t lines = 10000000; // event lines, hostile ones included
    std::uint64_t sealEvery = 256;
    bool inOrder = false;
    std::uint64_t seed = 1;
    bool hugeIndex = false;
    std::uint64_t forgedOpenings = 0;
    std::uint64_t shortSessions = 0;
    bool longLines = false;
    std::uint64_t manyStarts = 0;

    // The lines the hostile options add.
    std::uint64_t hostileLines() const {
        return (hugeIndex ? 1 : 0) + forgedOpenings + shortSessions * (kShortSessionLines + 2) + (longLines ? 2 : 0) +
               manyStarts;
    }
};

void appendNumber(std::string& out, std::uint64_t value) {
    char digits[20];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

std::uint64_t millisAt(std::uint64_t micros) { return kStartMillis + micros / 1000; }

// The trail file, written through one large buffer.
class TrailWriter {
  public:
    explicit TrailWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
        if (!file_) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
        buffer_.reserve(kFlushAt + kFlushAt / 4);
    }
    ~TrailWriter() {
        if (file_) std::fclose(file_);
    }
    TrailWriter(const TrailWriter&) = delete;
    TrailWriter& operator=(const TrailWriter&) = delete;

    void put(std::string_view line, bool newline = true) {
        buffer_ += line;
        if (newline) buffer_ += '\n';
        ++lines;
        bytes += line.size() + (newline ? 1 : 0);
        if (buffer_.size() >= kFlushAt) flush();
    }

    // A seal of a genuine session; the last one that is not an opening is
    // kept for --huge-index.
    void putSeal(std::string line, std::uint64_t millis, bool opening) {
        put(line);
        ++seals;
        endMillis = std::max(endMillis, millis);
        if (!opening) lastSeal = std::move(line);
    }

    void close() {
        flush();
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed) throw std::runtime_error(std::string("cannot write the trail: ") + std::strerror(errno));
    }

    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    std::uint64_t seals = 0;
    std::uint64_t endMillis = 0;
    std::string lastSeal;

  private:
    static constexpr std::size_t kFlushAt = std::size_t{16} << 20;

    void flush() {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
            throw std::runtime_error(std::string("cannot write the trail: ") + std::strerror(errno));
        buffer_.clear();
    }

    std::FILE* file_;
    std::string buffer_;
};

// What writes lines into the trail over simulated time.
class Stream {
  public:
    virtual ~Stream() = default;
    // When its next line is due, in microseconds from the trail's start;
    // kDone when it has written all.
    virtual std::uint64_t due() const = 0;
    virtual void writeNext(TrailWriter& out) = 0;
};

// One process's session, as the library seals it.
class Session final : public Stream {
  public:
    Session(std::uint64_t number, std::uint64_t lines, std::uint64_t start, std::uint64_t span, std::uint64_t sealEvery,
            const seal::AuditorPublicKey& auditor, std::uint64_t seed)
        : number_(number), linesLeft_(lines), sealEvery_(sealEvery), random_(static_cast<unsigned>(seed)),
          rate_(lines > 0 ? static_cast<double>(lines) / static_cast<double>(span) : 1.0),
          host_("bank-app-" + std::to_string(number % 64)), id_(seal::randomSessionId()), key_(seal::randomSealKey()),
          keys_(seal::sealKeysOf(key_)), encryptedFirstKey_(seal::encryptForAuditor(key_, auditor)), due_(start) {}

    const seal::SessionId& id() const { return id_; }
    std::uint64_t due() const override { return next_ == Next::Done ? kDone : due_; }

    void writeNext(TrailWriter& out) override {
        const Next what = next_;
        if (what == Next::Line)
            writeLine(out);
        else
            writeSeal(out, what == Next::Closing);
        if (what == Next::Closing) {
            next_ = Next::Done;
            return;
        }
        plan();
    }

  private:
    enum class Next { Seal, Line, Closing, Done };

    // The next thing the session writes, and when: a seal when the count is
    // reached, when the first pending line has waited its time or when the
    // session has been idle its time; else the next line, or after the last
    // the closing seal.
    void plan() {
        const std::uint64_t upcoming = linesLeft_ > 0 ? nextLineAt_ : closeAt_;
        if (pending_.size() >= sealEvery_) {
            next_ = Next::Seal;
        } else if (!pending_.empty() && firstPendingAt_ + kSealMicros <= upcoming) {
            next_ = Next::Seal, due_ = firstPendingAt_ + kSealMicros;
        } else if (pending_.empty() && due_ + kIdleMicros <= upcoming) {
            next_ = Next::Seal, due_ += kIdleMicros;
        } else {
            next_ = linesLeft_ > 0 ? Next::Line : Next::Closing;
            due_ = upcoming;
        }
    }

    std::uint64_t nextGap() {
        std::exponential_distribution<double> gap(rate_);
        return static_cast<std::uint64_t>(gap(random_)) + 1;
    }

    void writeSeal(TrailWriter& out, bool end) {
        seal::SealRecord record;
        record.session = id_;
        record.index = index_;
        record.time = millisAt(due_);
        record.first = nextLine_ - pending_.size();
        record.tags.swap(pending_);
        record.locators.swap(pendingLocators_);
        record.end = end;
        if (index_ == 0) {
            record.opening = seal::SessionOpening{host_,
                                                  "teller",
                                                  1000 + number_,
                                                  sealEvery_,
                                                  kSealMicros / 1000,
                                                  kIdleMicros / 1000,
                                                  encryptedFirstKey_,
                                                  std::nullopt};
            nextLineAt_ = due_ + nextGap();
            closeAt_ = due_ + 1000;
        }
        out.putSeal(seal::writeSeal(record, keys_.mac), record.time, index_ == 0);
        key_ = seal::nextSealKey(key_);
        keys_ = seal::sealKeysOf(key_);
        ++index_;
        pending_.swap(record.tags);
        pendingLocators_.swap(record.locators);
        pending_.clear();
        pendingLocators_.clear();
    }

    void writeLine(TrailWriter& out) {
        line_.clear();
        if (nextLine_ % 10 == 7)
            writeXdas();
        else
            writeCef();
        if (pending_.empty()) firstPendingAt_ = due_;
        pending_.push_back(seal::tagOf(keys_.tag, line_));
        pendingLocators_.push_back(seal::locatorOf(line_));
        out.put(line_);
        ++nextLine_;
        if (--linesLeft_ == 0)
            closeAt_ = due_ + 1000;
        else
            nextLineAt_ = due_ + nextGap();
    }

    std::uint64_t user() const { return (nextLine_ * 7919 + number_ * 104729) % 5000; }

    void appendAddress(std::uint64_t who) {
        line_ += "10.";
        appendNumber(line_, who / 256 % 256);
        line_ += '.';
        appendNumber(line_, who % 256);
        line_ += '.';
        appendNumber(line_, number_ % 250 + 1);
    }

    void writeCef() {
        struct Kind {
            const char* header;
            const char* message;
        };
        static constexpr Kind kKinds[] = {
            {"100|Login|4", " logged in from "},
            {"101|Logout|3", " logged out from "},
            {"200|Transfer|6", " ordered a transfer from "},
            {"300|Password change|7", " changed the password from "},
        };
        const Kind& kind = kKinds[nextLine_ % 4];
        const std::uint64_t who = user();
        line_ += "CEF:0|Acme|Bank|1.0|";
        line_ += kind.header;
        line_ += "|dvchost=";
        line_ += host_;
        line_ += " rt=";
        appendNumber(line_, millisAt(due_));
        line_ += " dtz=UTC src=";
        appendAddress(who);
        line_ += " spt=0 suser=user";
        appendNumber(line_, who);
        line_ += " cs1Label=Session cs1=";
        appendNumber(line_, number_);
        line_ += '-';
        appendNumber(line_, nextLine_);
        line_ += " cs2Label=Channel cs2=online-banking outcome=success msg=User user";
        appendNumber(line_, who);
        line_ += kind.message;
        appendAddress(who);
        line_ += ' ';
    }

    void writeXdas() {
        const std::uint64_t who = user();
        line_ += " {\"Id\" : \"";
        appendNumber(line_, number_);
        line_ += '-';
        appendNumber(line_, nextLine_);
        line_ += "\",\"Source\" : \"audit-svc\",\"Observer\" : {\"Entity\" : {\"SysName\" : \"";
        line_ += host_;
        line_ += "\"}},\"Initiator\" : {\"Account\" : {\"Name\" : \"user";
        appendNumber(line_, who);
        line_ += "\"},\"Assertions\" : {\"role\" : \"teller\"}},\"Action\" : {\"Event\" : {\"Name\" : "
                 "\"LOGIN\"},\"Time\" : {\"Offset\" : ";
        appendNumber(line_, millisAt(due_) / 1000);
        line_ += "},\"Log\" : {\"Severity\" : 7},\"Outcome\" : \"0\"}}";
    }

    const std::uint64_t number_;
    std::uint64_t linesLeft_;
    const std::uint64_t sealEvery_;
    std::minstd_rand random_;
    const double rate_; // lines per microsecond
    const std::string host_;
    const seal::SessionId id_;
    seal::SealKey key_;
    seal::SealKeys keys_;
    const seal::EncryptedKey encryptedFirstKey_;

    Next next_ = Next::Seal; // the opening
    std::uint64_t due_;
    std::uint64_t index_ = 0;
    std::uint64_t nextLine_ = 0;
    std::uint64_t nextLineAt_ = 0;
    std::uint64_t closeAt_ = 0;
    std::uint64_t firstPendingAt_ = 0;
    std::vector<seal::LineTag> pending_;
    std::vector<seal::LineLocator> pendingLocators_;
    std::string line_;
};

// Lines an attacker adds, `count` of them at random times across the trail;
// `make(i, micros)` writes the i-th.
class HostileLines final : public Stream {
  public:
    using Maker = std::function<std::string(std::uint64_t, std::uint64_t)>;

    HostileLines(std::uint64_t count, std::uint64_t span, std::uint64_t seed, Maker make)
        : left_(count), make_(std::move(make)) {
        std::minstd_rand random(static_cast<unsigned>(seed));
        std::uniform_int_distribution<std::uint64_t> times(0, span);
        for (std::uint64_t i = 0; i < count; ++i)
            dues_.push_back(times(random));
        std::sort(dues_.rbegin(), dues_.rend());
    }

    std::uint64_t due() const override { return dues_.empty() ? kDone : dues_.back(); }
    void writeNext(TrailWriter& out) override {
        out.put(make_(--left_, dues_.back()));
        dues_.pop_back();
    }

  private:
    std::uint64_t left_;
    std::vector<std::uint64_t> dues_; // latest first
    Maker make_;
};

// A seal 0 for session `id` that anyone can make: the auditor's key is
// public, so its first key decrypts and its MAC holds.
std::string forgedOpening(const seal::SessionId& id, std::uint64_t millis, const seal::AuditorPublicKey& auditor) {
    const seal::SealKey key = seal::randomSealKey();
    seal::SealRecord record;
    record.session = id;
    record.time = millis;
    record.opening = seal::SessionOpening{
        "forged-host", "teller", 1, 256, kSealMicros / 1000, kIdleMicros / 1000, seal::encryptForAuditor(key, auditor),
        std::nullopt};
    return seal::writeSeal(record, seal::sealKeysOf(key).mac);
}

// An event of `bytes` bytes: a CEF header and a message that never ends.
std::string longEvent(std::size_t bytes) {
    std::string line = "CEF:0|Acme|Bank|1.0|100|Login|4|dvchost=bank-app-0 msg=";
    constexpr std::string_view kFill = "abcdefghijklmnopqrstuvwxyz0123456789";
    while (line.size() < bytes)
        line.append(kFill.substr(0, std::min(kFill.size(), bytes - line.size())));
    return line;
}

// A torn line: one event header, then "CEF:" again and again.
std::string manyStarts(std::uint64_t i) {
    std::string line = "CEF:0|Acme|Bank|1.0|100|Login|4|cs1=torn-";
    appendNumber(line, i);
    line += " msg=";
    for (std::size_t n = 0; n < kEventStartsPerLine; ++n)
        line += "CEF:";
    return line;
}

// The genuine seal `text` with its index replaced by kHugeIndex (its MAC
// then fails, which a verifier learns only once it holds that seal's key).
std::string withHugeIndex(const std::string& text) {
    const std::size_t at = text.find(" index=");
    if (at == std::string::npos) throw std::runtime_error("no genuine seal to copy for --huge-index");
    const std::size_t end = text.find(' ', at + 1);
    return text.substr(0, at) + " index=" + std::to_string(kHugeIndex) + text.substr(end);
}

void writeKeyFile(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    const bool written = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd < 0 || close(fd) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

std::uint64_t numberOf(const std::string& option, const char* text) {
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, value);
    if (error != std::errc() || at != end) throw std::invalid_argument(option + " needs a number");
    return value;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--out")
            options.out = value();
        else if (arg == "--sessions")
            options.sessions = numberOf(arg, value());
        else if (arg == "--lines")
            options.lines = numberOf(arg, value());
        else if (arg == "--seal-every")
            options.sealEvery = numberOf(arg, value());
        else if (arg == "--in-order")
            options.inOrder = true;
        else if (arg == "--seed")
            options.seed = numberOf(arg, value());
        else if (arg == "--huge-index")
            options.hugeIndex = true;
        else if (arg == "--forged-openings")
            options.forgedOpenings = numberOf(arg, value());
        else if (arg == "--short-sessions")
            options.shortSessions = numberOf(arg, value());
        else if (arg == "--long-lines")
            options.longLines = true;
        else if (arg == "--many-starts")
            options.manyStarts = numberOf(arg, value());
        else
            throw std::invalid_argument("unknown option " + arg);
    }
    if (options.out.empty()) throw std::invalid_argument("--out DIR is required");
    if (options.sessions == 0 || options.sealEvery == 0) throw std::invalid_argument("no sessions or no cadence");
    if (options.hostileLines() > options.lines) throw std::invalid_argument("--lines too few for the hostile lines");
    return options;
}

// The sessions and the attacker's lines, over `span` microseconds.
std::vector<std::unique_ptr<Stream>> makeStreams(const Options& options, std::uint64_t span,
                                                 const seal::AuditorPublicKey& auditor) {
    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto spanPart = [&](double share) { return static_cast<std::uint64_t>(static_cast<double>(span) * share); };
    std::vector<std::unique_ptr<Stream>> streams;
    std::uint64_t number = 0;
    const auto addSession = [&](std::uint64_t lines, std::uint64_t length) {
        const auto start = static_cast<std::uint64_t>(static_cast<double>(span - length) * unit(random));
        auto session = std::make_unique<Session>(number, lines, start, length, options.sealEvery, auditor,
                                                 options.seed * 1000003 + number);
        ++number;
        const seal::SessionId id = session->id();
        streams.push_back(std::move(session));
        return id;
    };

    // The sessions' lines shared out by random weights between a half and
    // one and a half; each session logs during a random stretch of the span.
    seal::SessionId victim{}; // the first session, whose id the forged openings also claim
    std::vector<double> weights(options.sessions);
    for (double& weight : weights)
        weight = 0.5 + unit(random);
    double total = 0;
    for (const double weight : weights)
        total += weight;
    const std::uint64_t lines = options.lines - options.hostileLines();
    std::uint64_t left = lines;
    for (std::uint64_t s = 0; s < options.sessions; ++s) {
        const std::uint64_t share =
            s + 1 == options.sessions
                ? left
                : std::min(left, static_cast<std::uint64_t>(static_cast<double>(lines) * weights[s] / total));
        left -= share;
        const seal::SessionId id = addSession(share, std::max<std::uint64_t>(1, spanPart(0.25 + 0.75 * unit(random))));
        if (s == 0) victim = id;
    }
    for (std::uint64_t s = 0; s < options.shortSessions; ++s)
        addSession(kShortSessionLines, std::min<std::uint64_t>(span, 2000000));

    const auto hostile = [&](std::uint64_t count, HostileLines::Maker make) {
        if (count > 0) streams.push_back(std::make_unique<HostileLines>(count, span, random(), std::move(make)));
    };
    hostile(options.forgedOpenings, [victim, auditor](std::uint64_t i, std::uint64_t micros) {
        return forgedOpening(i % 2 == 0 ? victim : seal::randomSessionId(), millisAt(micros), auditor);
    });
    hostile(options.manyStarts, [](std::uint64_t i, std::uint64_t) { return manyStarts(i); });
    hostile(options.longLines ? 1 : 0, [](std::uint64_t, std::uint64_t) { return longEvent(kLongLineBytes); });
    return streams;
}

// Each stream's lines in its own order; the streams merged by time, or one
// after another.
void writeStreams(std::vector<std::unique_ptr<Stream>>& streams, bool inOrder, TrailWriter& out) {
    if (inOrder) {
        for (auto& stream : streams)
            while (stream->due() != kDone)
                stream->writeNext(out);
        return;
    }
    using Due = std::pair<std::uint64_t, std::size_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> queue;
    for (std::size_t i = 0; i < streams.size(); ++i)
        if (streams[i]->due() != kDone) queue.emplace(streams[i]->due(), i);
    while (!queue.empty()) {
        const std::size_t i = queue.top().second;
        queue.pop();
        streams[i]->writeNext(out);
        if (streams[i]->due() != kDone) queue.emplace(streams[i]->due(), i);
    }
}

void run(const Options& options) {
    if (!seal::cryptoReady()) throw std::runtime_error("libsodium cannot start");
    if (mkdir(options.out.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + options.out + ": " + std::strerror(errno));
    seal::AuditorPublicKey publicKey;
    seal::AuditorSecretKey secretKey;
    seal::makeAuditorKeys(publicKey, secretKey);
    writeKeyFile(options.out + "/auditor.pub", seal::toBase64(publicKey) + "\n", 0644);
    writeKeyFile(options.out + "/auditor.key", seal::toBase64(secretKey) + "\n", 0600);

    const std::uint64_t span = std::max<std::uint64_t>(options.lines * 1000000 / kLinesPerSecond, 1000000);
    auto streams = makeStreams(options, span, publicKey);
    TrailWriter out(options.out + "/trail.log");
    writeStreams(streams, options.inOrder, out);
    if (options.hugeIndex) out.put(withHugeIndex(out.lastSeal));
    if (options.longLines) out.put(longEvent(kEndlessLineBytes), false);
    out.close();
    std::printf("lines=%llu bytes=%llu sessions=%llu seals=%llu end=%llu\n", static_cast<unsigned long long>(out.lines),
                static_cast<unsigned long long>(out.bytes),
                static_cast<unsigned long long>(options.sessions + options.shortSessions),
                static_cast<unsigned long long>(out.seals), static_cast<unsigned long long>(out.endMillis));
}

} // namespace

int main(int argc, char** argv) {
    try {
        run(parse(argc, argv));
        return 0;
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "trail_collection: %s\n%s", error.what(), kUsage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trail_collection: %s\n", error.what());
        return 1;
    }
}
