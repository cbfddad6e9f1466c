#include "trail/seal_settings.h"

#include "trail/seal_record.h"

#include <sys/un.h>

#include <charconv>
#include <limits>
#include <string>
#include <string_view>

namespace quorvel {

namespace {

// The value of `key`, without the blanks around it.
std::string valueOf(const log4cxx::helpers::Properties& properties, const char* key) {
    const std::string value = properties.getProperty(key);
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

// A decimal number from 1 to `most`, left as it is when the key is not set;
// otherwise why not, in `fault`.
bool positiveNumber(const log4cxx::helpers::Properties& properties, const char* key, std::uint64_t& number,
                    std::string& fault, std::uint64_t most = std::numeric_limits<std::uint64_t>::max()) {
    const std::string text = valueOf(properties, key);
    if (text.empty()) return true;
    std::uint64_t read = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
    if (error != std::errc() || end != text.data() + text.size() || read == 0 || read > most) {
        fault = std::string(key) + "=" + text + ": not a whole number from 1 to " + std::to_string(most);
        return false;
    }
    number = read;
    return true;
}

// The agent's socket as the operator named it, or why it cannot be one.
bool agentSocket(const std::string& value, std::string& agent, std::string& fault) {
    agent = value == "on" ? kDefaultAgentSocket : value == "off" ? std::string() : value;
    if (!agent.empty() && (agent[0] != '/' || agent.size() >= sizeof(sockaddr_un::sun_path))) {
        fault = "quorvel.seal.agent=" + value + ": not off, on or an absolute path of at most " +
                std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes";
        return false;
    }
    return true;
}

} // namespace

std::uint64_t longestSealBytes(const SealSettings& settings, std::string_view module) {
    // The opening and the fullest seal, each with every number at its widest.
    constexpr std::uint64_t kWidest = std::numeric_limits<std::uint64_t>::max();
    const seal::Bytes32 macKey{};
    seal::SealRecord opening;
    opening.index = opening.time = opening.first = kWidest;
    opening.opening =
        seal::SessionOpening{std::string(253, 'h'), std::string(module), kWidest, kWidest, kWidest, kWidest,
                             seal::EncryptedKey{},  std::nullopt};
    opening.end = true;
    seal::SealRecord fullest = opening;
    fullest.opening.reset();
    if (!settings.agent.empty()) {
        seal::CarriedAttestation& widest = opening.opening->attestation.emplace();
        seal::Attestation& attested = widest.attestation;
        attested.epoch = attested.number = attested.uid = attested.gid = attested.pid = kWidest;
        attested.exe = attested.unit = std::string(seal::kMostAttestedPathBytes, 'x');
        fullest.checkpoint = seal::SealCheckpoint{kWidest, kWidest, kWidest, kWidest, seal::EncryptedKey{}};
    }
    fullest.tags.resize(settings.lines);
    fullest.locators.resize(settings.lines);
    return std::max(seal::writeSeal(opening, macKey).size(), seal::writeSeal(fullest, macKey).size());
}

SealSetup readSealSetup(const log4cxx::helpers::Properties& properties, std::string_view module) {
    SealSetup setup;
    const std::string onOff = valueOf(properties, "quorvel.seal");
    if (onOff.empty() || onOff == "off") return setup;
    setup.on = true;
    SealSettings& settings = setup.settings;
    std::string& fault = setup.fault;
    settings.logger = valueOf(properties, "quorvel.seal.logger");
    if (settings.logger.empty()) settings.logger = "quorvel.seal";
    const std::string key = valueOf(properties, "quorvel.seal.auditorKey");
    const auto auditor = seal::fromBase64<32>(key);
    if (auditor) settings.auditor = *auditor;
    if (onOff != "on")
        fault = "quorvel.seal=" + onOff + ": not on or off";
    else if (!auditor)
        fault = "quorvel.seal.auditorKey" + (key.empty() ? std::string(" is missing")
                                                         : "=" + key +
                                                               ": not a public key "
                                                               "(quorvel-verify keygen makes one)");
    const bool read =
        fault.empty() && positiveNumber(properties, "quorvel.seal.lines", settings.lines, fault, kMostSealLines) &&
        positiveNumber(properties, "quorvel.seal.millis", settings.millis, fault) &&
        positiveNumber(properties, "quorvel.seal.idleMillis", settings.idleMillis, fault) &&
        positiveNumber(properties, "quorvel.seal.maxBytes", settings.maxBytes, fault) &&
        positiveNumber(properties, "quorvel.seal.agentMillis", settings.agentMillis, fault, kMostAgentMillis) &&
        positiveNumber(properties, "quorvel.seal.checkpointMillis", settings.checkpointMillis, fault) &&
        agentSocket(valueOf(properties, "quorvel.seal.agent"), settings.agent, fault);
    const std::uint64_t longest = read ? longestSealBytes(settings, module) : 0;
    if (longest > settings.maxBytes)
        fault = "quorvel.seal.maxBytes=" + std::to_string(settings.maxBytes) +
                ": the longest seal of these settings is " + std::to_string(longest) + " bytes";
    else if (read && !seal::cryptoReady())
        fault = "libsodium cannot start";
    setup.valid = fault.empty();
    return setup;
}

} // namespace quorvel
