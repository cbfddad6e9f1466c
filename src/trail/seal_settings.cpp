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
// false for anything else.
bool positiveNumber(const log4cxx::helpers::Properties& properties, const char* key, std::uint64_t& number,
                    std::uint64_t most = std::numeric_limits<std::uint64_t>::max()) {
    const std::string text = valueOf(properties, key);
    if (text.empty()) return true;
    std::uint64_t read = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
    if (error != std::errc() || end != text.data() + text.size() || read == 0 || read > most) return false;
    number = read;
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
    settings.logger = valueOf(properties, "quorvel.seal.logger");
    if (settings.logger.empty()) settings.logger = "quorvel.seal";
    const auto auditor = seal::fromBase64<32>(valueOf(properties, "quorvel.seal.auditorKey"));
    if (auditor) settings.auditor = *auditor;
    const std::string agent = valueOf(properties, "quorvel.seal.agent");
    settings.agent = agent == "on" ? kDefaultAgentSocket : agent == "off" ? std::string() : agent;
    setup.valid =
        onOff == "on" && auditor && positiveNumber(properties, "quorvel.seal.lines", settings.lines, kMostSealLines) &&
        positiveNumber(properties, "quorvel.seal.millis", settings.millis) &&
        positiveNumber(properties, "quorvel.seal.idleMillis", settings.idleMillis) &&
        positiveNumber(properties, "quorvel.seal.maxBytes", settings.maxBytes) &&
        positiveNumber(properties, "quorvel.seal.agentMillis", settings.agentMillis, kMostAgentMillis) &&
        positiveNumber(properties, "quorvel.seal.checkpointMillis", settings.checkpointMillis) &&
        (settings.agent.empty() || settings.agent[0] == '/') && settings.agent.size() < sizeof(sockaddr_un::sun_path) &&
        longestSealBytes(settings, module) <= settings.maxBytes && seal::cryptoReady();
    return setup;
}

} // namespace quorvel
