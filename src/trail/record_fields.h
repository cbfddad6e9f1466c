// The field syntax every record of the trail is written in: after the
// record's marker and version, " name=value" fields in a fixed order;
// numbers in decimal without leading zeros, bytes and text in base64 (URL
// alphabet, no padding), and last " mac=" with the record's MAC. A reader
// takes the fields one after the other; any deviation fails the record.
#pragma once

#include "trail/seal_keys.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::seal {

inline constexpr std::string_view kMacField = " mac=";

void putNumber(std::string& out, std::string_view name, std::uint64_t value);
void putText(std::string& out, std::string_view name, std::string_view value); // as it stands
void putBase64Text(std::string& out, std::string_view name, const std::string& value);
// The MAC of all of `out` under `macKey`, appended as its last field.
void putMac(std::string& out, const Bytes32& macKey);

class FieldReader {
  public:
    explicit FieldReader(std::string_view text) : rest_(text) {}

    bool next(std::string_view name, std::string_view& value);
    bool number(std::string_view name, std::uint64_t& value);
    template <std::size_t N> bool binary(std::string_view name, std::array<unsigned char, N>& value) {
        std::string_view text;
        return next(name, text) && fromBase64(text, value.data(), N);
    }
    bool text(std::string_view name, std::string& value);
    // A field that stands only as " name=1": `set` says whether it does;
    // false when the next field has the name and another value.
    bool flag(std::string_view name, bool& set);

    // Whether the next field is " name=".
    bool peek(std::string_view name) const;
    bool atEnd() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

// A record's text split at its last " mac=": what the MAC covers, and the
// MAC; false when there is none or it is not one.
bool splitMac(std::string_view text, std::string_view& signedText, SealMac& mac);

// The fields of a record that starts with `marker` and then `version`
// ("v=1"); nothing when the text does not start so.
std::optional<FieldReader> recordBody(std::string_view text, std::string_view marker, std::string_view version);

// The same for a signed record, with what its MAC covers and the MAC split
// off; nothing when the text is not such a record.
std::optional<FieldReader> recordFields(std::string_view text, std::string_view marker, std::string_view version,
                                        std::string_view& signedText, SealMac& mac);

// A signed record as read: its fields, what its MAC covers, and the MAC.
template <class Record> struct SignedRecord {
    Record record;
    std::string_view signedText;
    SealMac mac;
};

} // namespace quorvel::seal
