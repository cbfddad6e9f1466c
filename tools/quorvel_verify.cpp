// quorvel-verify: makes the auditor's key pair, and verifies a sealed trail
// collected from any number of hosts and files.
#include "tool_error.h"
#include "trail_report.h"
#include "trail_verifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel_tools {

namespace seal = quorvel::seal;

namespace {

constexpr const char* kUsage =
    "usage: quorvel-verify keygen PUBLIC-KEY-FILE SECRET-KEY-FILE\n"
    "       quorvel-verify --key SECRET-KEY-FILE [--json FILE] [--at MILLIS] FILE...\n"
    "Verifies the sealed trail in FILE...: exit status 0 when every event is accounted for, 1 when not,\n"
    "2 for a usage error or a file that cannot be read. --json writes the verdict as JSON to FILE\n"
    "(- for standard output, instead of the report); --at sets the end of the collection in milliseconds\n"
    "since the epoch (default: now), against which a session without a closing seal counts as cut short.\n";

struct VerifyCommand {
    std::string keyFile;
    std::optional<std::string> json;
    std::uint64_t at = 0;
    std::vector<std::string> files;
};

VerifyCommand parseVerify(const std::vector<std::string>& args) {
    VerifyCommand command;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw ToolError{arg + " needs a value (see --help)"};
            return args[++i];
        };
        if (arg == "--key") {
            command.keyFile = value();
        } else if (arg == "--json") {
            command.json = value();
        } else if (arg == "--at") {
            const std::string& text = value();
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), command.at);
            if (error != std::errc() || end != text.data() + text.size())
                throw ToolError{"--at " + text + ": not milliseconds since the epoch"};
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw ToolError{"unknown option " + arg + " (see --help)"};
        } else {
            command.files.push_back(arg);
        }
    }
    if (command.keyFile.empty()) throw ToolError{"--key SECRET-KEY-FILE is required (see --help)"};
    if (command.files.empty()) throw ToolError{"no file to verify (see --help)"};
    return command;
}

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError{"cannot read " + path + ": " + std::strerror(errno)};
    std::string line;
    std::getline(in, line);
    return line;
}

// Writes `text` into a new file (never over an existing one) with `mode`.
void writeNewFile(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) throw ToolError{"cannot create " + path + ": " + std::strerror(errno)};
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0 || !written) throw ToolError{"cannot write " + path + ": " + std::strerror(errno)};
}

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
    const VerifyCommand command = parseVerify(args);
    if (!seal::cryptoReady()) throw ToolError{"libsodium cannot start", 1};
    VerifyOptions options;
    std::string keyText = firstLineOf(command.keyFile);
    const bool keyRead = seal::fromBase64(keyText, options.secretKey.data(), options.secretKey.size());
    seal::erase(keyText.data(), keyText.size());
    if (!keyRead) throw ToolError{command.keyFile + ": not an auditor secret key (quorvel-verify keygen makes one)"};
    options.at = command.at != 0 ? command.at
                                 : static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                  std::chrono::system_clock::now().time_since_epoch())
                                                                  .count());
    const TrailVerdict verdict = verifyTrail(command.files, options);
    seal::erase(options.secretKey);
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
        if (args[0] == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (args[0] == "keygen") return keygen({args.begin() + 1, args.end()});
        return verify(args);
    });
}
