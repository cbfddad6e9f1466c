#include "logging/seal_settings.h"

#include <charconv>
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

// A positive decimal number, or `fallback` when the key is not set; false
// for anything else.
bool positiveNumber(const log4cxx::helpers::Properties& properties, const char* key, std::uint64_t& number) {
    const std::string text = valueOf(properties, key);
    if (text.empty()) return true;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && number > 0;
}

} // namespace

SealSetup readSealSetup(const log4cxx::helpers::Properties& properties) {
    SealSetup setup;
    const std::string onOff = valueOf(properties, "quorvel.seal");
    if (onOff.empty() || onOff == "off") return setup;
    setup.on = true;
    SealSettings& settings = setup.settings;
    settings.logger = valueOf(properties, "quorvel.seal.logger");
    if (settings.logger.empty()) settings.logger = "quorvel.seal";
    const auto auditor = seal::fromBase64<32>(valueOf(properties, "quorvel.seal.auditorKey"));
    if (auditor) settings.auditor = *auditor;
    setup.valid = onOff == "on" && auditor && positiveNumber(properties, "quorvel.seal.lines", settings.lines) &&
                  positiveNumber(properties, "quorvel.seal.millis", settings.millis) &&
                  positiveNumber(properties, "quorvel.seal.idleMillis", settings.idleMillis) && seal::cryptoReady();
    return setup;
}

} // namespace quorvel
