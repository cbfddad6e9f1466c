#include "trail/record_fields.h"

namespace quorvel::seal {

void putNumber(std::string& out, std::string_view name, std::uint64_t value) {
    putText(out, name, std::to_string(value));
}

void putText(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += '=';
    out += value;
}

void putBase64Text(std::string& out, std::string_view name, const std::string& value) {
    putText(out, name, toBase64(reinterpret_cast<const unsigned char*>(value.data()), value.size()));
}

void putMac(std::string& out, const Bytes32& macKey) {
    const SealMac mac = macOf(macKey, out);
    out += kMacField;
    out += toBase64(mac);
}

bool FieldReader::next(std::string_view name, std::string_view& value) {
    if (!peek(name)) return false;
    rest_.remove_prefix(name.size() + 2);
    const std::size_t end = rest_.find(' ');
    value = rest_.substr(0, end);
    rest_.remove_prefix(value.size());
    return true;
}

bool FieldReader::number(std::string_view name, std::uint64_t& value) {
    std::string_view text;
    if (!next(name, text) || text.empty() || (text.size() > 1 && text[0] == '0')) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool FieldReader::text(std::string_view name, std::string& value) {
    std::string_view encoded;
    if (!next(name, encoded)) return false;
    // Base64 of n bytes has 4n/3 characters, rounded up.
    value.assign(encoded.size() * 3 / 4, '\0');
    return fromBase64(encoded, reinterpret_cast<unsigned char*>(value.data()), value.size());
}

bool FieldReader::flag(std::string_view name, bool& set) {
    std::string_view value;
    set = peek(name);
    return !set || (next(name, value) && value == "1");
}

bool FieldReader::peek(std::string_view name) const {
    return rest_.size() >= name.size() + 2 && rest_[0] == ' ' && rest_.substr(1, name.size()) == name &&
           rest_[name.size() + 1] == '=';
}

bool splitMac(std::string_view text, std::string_view& signedText, SealMac& mac) {
    const std::size_t macAt = text.rfind(kMacField);
    if (macAt == std::string_view::npos) return false;
    signedText = text.substr(0, macAt);
    return fromBase64(text.substr(macAt + kMacField.size()), mac.data(), mac.size());
}

std::optional<FieldReader> recordBody(std::string_view text, std::string_view marker, std::string_view version) {
    if (text.substr(0, marker.size()) != marker || text.substr(marker.size(), version.size()) != version)
        return std::nullopt;
    return FieldReader(text.substr(marker.size() + version.size()));
}

std::optional<FieldReader> recordFields(std::string_view text, std::string_view marker, std::string_view version,
                                        std::string_view& signedText, SealMac& mac) {
    if (!recordBody(text, marker, version) || !splitMac(text, signedText, mac)) return std::nullopt;
    return recordBody(signedText, marker, version);
}

} // namespace quorvel::seal
