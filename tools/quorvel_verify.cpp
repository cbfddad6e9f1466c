// quorvel-verify: makes the auditor's key pair, and verifies a sealed trail
// collected from any number of hosts and files.
#include "tool_arguments.h"
#include "tool_error.h"
#include "tool_files.h"
#include "trail/enrollment_record.h"
#include "trail/trail_verifier.h"
#include "trail_report.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace quorvel_tools {

namespace seal = quorvel::seal;

namespace {

constexpr const char* kUsage =
    "usage: quorvel-verify keygen PUBLIC-KEY-FILE SECRET-KEY-FILE\n"
    "       quorvel-verify --key SECRET-KEY-FILE [OPTION...] FILE...\n"
    "Verifies the sealed trail in FILE... (oldest first): exit status 0 when every event is accounted for,\n"
    "1 when not, 2 for a usage error or a file that cannot be read.\n"
    "  --json FILE            the verdict as JSON to FILE (- for standard output, instead of the report)\n"
    "  --at MILLIS            the end of the collection, milliseconds since the epoch (default: now)\n"
    "  --from MILLIS          the collection is a window from then on: with --registry, each host's ledger\n"
    "                         is checked from the epoch under way then, and a session whose opening is not\n"
    "                         here, verified from a checkpoint its host's ledger names, counts as accounted for\n"
    "  --max-idle MILLIS      the longest silence accepted before an open session counts as cut short\n"
    "                         (default: each session's declared idle time)\n"
    "  --resend-window N      a copy within N lines of its original in its session is a resend (4096)\n"
    "  --prefix LIST          the prefixes collected lines may carry, of none,rfc3164,rfc3339,rfc5424,tag,\n"
    "                         file-layout (default: all)\n"
    "  --registry FILE        the enrolled hosts whose ledgers the collection must hold: one per line,\n"
    "                         the fingerprint, a blank, the enrollment record (quorvel-sealagent enroll)\n"
    "  --prefix-pattern RE    also a prefix of your own: a POSIX extended regular expression matched at\n"
    "                         the start of a line, up to the message (its match may hold no | = { \")\n"
    "Bounds on hostile input; what lies beyond one is reported as not checked:\n"
    "  --max-line-bytes N (1048576)  --max-sessions N (10000)\n"
    "  --max-openings N (1024 decrypted in all, plus one per 64 lines read; at most 4 per session)\n"
    "  --max-key-steps N (64, per seal read)  --max-candidates N (256, seals a line is tried under)\n"
    "  --seal-window N (1048576, lines after a seal's own that its lines are looked up in memory;\n"
    "                 later ones take one more reading of the seals at the end)\n";

// The earliest and latest plausible --at: 2001-09-09 and 5138-11-16, in
// milliseconds; a number below is most likely seconds.
constexpr std::uint64_t kEarliestAt = 1000000000000u;
constexpr std::uint64_t kLatestAt = 100000000000000u;

struct VerifyCommand {
    std::string keyFile;
    std::optional<std::string> json;
    quorvel::trail::VerifyOptions options;
    std::vector<std::string> files;
};

std::uint64_t numberOption(const std::string& name, const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw ToolError{name + " " + text + ": not a whole number"};
    return value;
}

// The auditor's registry of enrolled hosts: per line a fingerprint, a
// blank and the enrollment record; blank lines and lines from '#' on skipped.
std::vector<quorvel::trail::RegisteredHost> readRegistry(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError{"cannot read " + path + ": " + std::strerror(errno)};
    std::vector<quorvel::trail::RegisteredHost> registry;
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos || !seal::readEnrollment(line.substr(blank + 1)))
            throw ToolError{path + ":" + std::to_string(number) +
                            ": not a fingerprint, a blank and an enrollment record"};
        registry.push_back({line.substr(0, blank), line.substr(blank + 1)});
    }
    return registry;
}

VerifyCommand parseVerify(Arguments args) {
    VerifyCommand command;
    quorvel::trail::VerifyOptions& options = command.options;
    quorvel::trail::VerifyLimits& limits = options.limits;
    while (!args.done()) {
        const std::string arg = args.next();
        const auto value = [&] { return args.valueOf(arg); };
        const auto number = [&]() { return numberOption(arg, value()); };
        if (asksForHelp(arg)) {
            throw HelpAsked{kUsage};
        } else if (arg == "--key") {
            command.keyFile = value();
        } else if (arg == "--json") {
            command.json = value();
        } else if (arg == "--at" || arg == "--from") {
            std::uint64_t& time = arg == "--at" ? options.at : options.from;
            time = number();
            if (time < kEarliestAt || time > kLatestAt)
                throw ToolError{arg + " " + std::to_string(time) +
                                ": not milliseconds since the epoch of a plausible time (seconds?)"};
        } else if (arg == "--max-idle") {
            options.maxIdleMillis = number();
        } else if (arg == "--resend-window") {
            options.resendWindow = number();
        } else if (arg == "--prefix") {
            const std::string list = value();
            const auto grammars = quorvel::trail::prefixGrammarsNamed(list);
            if (!grammars)
                throw ToolError{"--prefix " + list +
                                ": not a list of none, rfc3164, rfc3339, rfc5424, tag, file-layout"};
            options.prefixes = *grammars;
        } else if (arg == "--registry") {
            options.registry = readRegistry(value());
        } else if (arg == "--prefix-pattern") {
            options.prefixPattern = value();
        } else if (arg == "--max-line-bytes") {
            limits.lineBytes = number();
        } else if (arg == "--max-sessions") {
            limits.sessions = number();
        } else if (arg == "--max-openings") {
            limits.openings = number();
        } else if (arg == "--max-key-steps") {
            limits.keyStepsPerSeal = number();
        } else if (arg == "--max-candidates") {
            limits.candidates = number();
        } else if (arg == "--seal-window") {
            limits.sealWindow = number();
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw ToolError{"unknown option " + arg + " (see --help)"};
        } else {
            command.files.push_back(arg);
        }
    }
    if (command.keyFile.empty()) throw ToolError{"--key SECRET-KEY-FILE is required (see --help)"};
    if (command.files.empty()) throw ToolError{"no file to verify (see --help)"};
    if (options.from != 0 && options.at != 0 && options.from >= options.at)
        throw ToolError{"--from " + std::to_string(options.from) + " is not before --at " + std::to_string(options.at)};
    return command;
}

// The auditor's secret key in libsodium's guarded memory: locked where the
// system allows, read-only once read, wiped when freed.
class GuardedSecretKey {
  public:
    GuardedSecretKey() : key_(static_cast<seal::AuditorSecretKey*>(sodium_malloc(sizeof(seal::AuditorSecretKey)))) {
        if (key_ == nullptr) throw ToolError{"cannot allocate guarded memory for the key", 1};
    }
    ~GuardedSecretKey() { sodium_free(key_); }
    GuardedSecretKey(const GuardedSecretKey&) = delete;
    GuardedSecretKey& operator=(const GuardedSecretKey&) = delete;
    seal::AuditorSecretKey& key() { return *key_; }
    void makeReadOnly() { sodium_mprotect_readonly(key_); }

  private:
    seal::AuditorSecretKey* key_;
};

int keygen(const std::vector<std::string>& args) {
    if (args.size() != 2) throw ToolError{"keygen needs PUBLIC-KEY-FILE SECRET-KEY-FILE (see --help)"};
    if (!seal::cryptoReady()) throw ToolError{"libsodium cannot start", 1};
    seal::AuditorPublicKey publicKey;
    seal::AuditorSecretKey secretKey;
    seal::makeAuditorKeys(publicKey, secretKey);
    std::string secretText = seal::toBase64(secretKey) + "\n";
    seal::erase(secretKey);
    writeNewFile(args[1], secretText, 0600);
    seal::erase(secretText.data(), secretText.size());
    const std::string publicText = seal::toBase64(publicKey);
    writeNewFile(args[0], publicText + "\n", 0644);
    std::cout << "auditor public key, for the properties file of every host:\n"
              << "quorvel.seal.auditorKey=" << publicText << "\n"
              << "secret key in " << args[1] << ": keep it with the auditor only\n";
    return 0;
}

int verify(const std::vector<std::string>& args) {
    VerifyCommand command = parseVerify(Arguments(args));
    if (!seal::cryptoReady()) throw ToolError{"libsodium cannot start", 1};
    // No core dump of this process: it holds the auditor's secret key.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    GuardedSecretKey secret;
    std::string keyText = firstLineOf(command.keyFile);
    const bool keyRead = seal::fromBase64(keyText, secret.key().data(), secret.key().size());
    seal::erase(keyText.data(), keyText.size());
    if (!keyRead) throw ToolError{command.keyFile + ": not an auditor secret key (quorvel-verify keygen makes one)"};
    secret.makeReadOnly();
    command.options.secretKey = &secret.key();
    const quorvel::trail::TrailVerdict verdict = quorvel::trail::verifyTrail(command.files, command.options);
    if (command.json && *command.json == "-") {
        writeTrailJson(std::cout, verdict);
    } else {
        writeTrailReport(std::cout, verdict);
        if (command.json) {
            std::ofstream out(*command.json);
            writeTrailJson(out, verdict);
            if (!out) throw ToolError{"cannot write " + *command.json};
        }
    }
    return verdict.complete() ? 0 : 1;
}

} // namespace

} // namespace quorvel_tools

int main(int argc, char** argv) {
    using namespace quorvel_tools;
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runTool("quorvel-verify", [&] {
        if (args.empty()) throw ToolError{"nothing to do (see --help)"};
        if (asksForHelp(args[0])) throw HelpAsked{kUsage};
        if (args[0] == "keygen") return keygen({args.begin() + 1, args.end()});
        // Whatever the input does (a file that cannot be read, memory that
        // runs out), the verifier ends with a message and status 2.
        try {
            return verify(args);
        } catch (const std::exception& error) {
            throw ToolError{error.what()};
        }
    });
}
