// Writes arbitrary bytes as XDAS string values, under the "C" locale or a
// UTF-8 one (the first input byte chooses), and reads them back:
//   - the bare string and a whole record with fuzzed fields must parse with
//     nlohmann::json, a JSON parser the library does not use;
//   - no control byte is written raw, and under "C" no byte from 0x80 up;
//   - undoing the escapes byte by byte gives the value back, and under "C"
//     the parsed string is the value read as Latin-1;
//   - the string is the same with the escapers' wide steps turned off.
#include "event_fields.h"
#include "sixteen_byte_steps.h"
#include "xdas/json_string_escape.h"
#include "xdas/xdas_record_writer.h"
#include "xdas_event_ptr.h"

#include <quorvel/xdas.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <locale.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

locale_t cLocale;
locale_t utf8Locale;

[[noreturn]] void fail(const char* what, const std::string& value, const std::string& written) {
    std::fprintf(stderr, "%s: value of %zu bytes written as %zu bytes\n", what, value.size(), written.size());
    std::abort();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes that `written` (quotes included) stands for, escapes undone one
// byte each; false when it holds an escape the writer does not write.
bool unescapeBytes(const std::string& written, std::string& bytes) {
    if (written.size() < 2 || written.front() != '"' || written.back() != '"') return false;
    for (std::size_t i = 1; i + 1 < written.size(); ++i) {
        if (written[i] != '\\') {
            bytes += written[i];
            continue;
        }
        const char letter = written[++i];
        switch (letter) {
        case '"': bytes += '"'; break;
        case '\\': bytes += '\\'; break;
        case 'b': bytes += '\b'; break;
        case 'f': bytes += '\f'; break;
        case 'n': bytes += '\n'; break;
        case 'r': bytes += '\r'; break;
        case 't': bytes += '\t'; break;
        case 'u': {
            if (i + 4 >= written.size() || written.compare(i + 1, 2, "00") != 0) return false;
            const int high = hexDigit(written[i + 3]), low = hexDigit(written[i + 4]);
            if (high < 0 || low < 0) return false;
            bytes += static_cast<char>(high * 16 + low);
            i += 4;
            break;
        }
        default: return false;
        }
    }
    return true;
}

std::string jsonString(const std::string& value) {
    std::string written;
    quorvel::appendJsonString(written, value);
    return written;
}

void checkString(const std::string& value, bool utf8) {
    const std::string written = jsonString(value);
    if (quorvel_test::writtenSixteenBytesAtATime([&] { return jsonString(value); }) != written)
        fail("the wide steps and the sixteen-byte way differ", value, written);
    for (const char c : written) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (!utf8 && byte >= 0x80)) fail("raw control or high byte", value, written);
    }
    std::string bytes;
    if (!unescapeBytes(written, bytes) || bytes != value) fail("escapes do not give the value back", value, written);
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(written);
    } catch (const nlohmann::json::exception&) {
        fail("not valid JSON", value, written);
    }
    if (!parsed.is_string()) fail("not a JSON string", value, written);
    if (!utf8 && parsed.get<std::string>() != quorvel_test::bytesAsCodePoints(value))
        fail("parsed string differs", value, written);
}

void checkRecord(FuzzedDataProvider& input, bool utf8) {
    const quorvel_test::XdasEventPtr event = quorvel_test::createXdasEvent();
    const std::string id = input.ConsumeRandomLengthString(32);
    const std::string user = input.ConsumeRandomLengthString(32);
    const std::string key = input.ConsumeRandomLengthString(16);
    const std::string assertion = input.ConsumeRandomLengthString(32);
    const std::string host = input.ConsumeRandomLengthString(16);
    const std::string details = input.ConsumeRemainingBytesAsString();
    event->setId(id);
    event->getInitiator()->getAccount()->setName(user);
    event->getInitiator()->setAssertions({{key, assertion}});
    event->getAction()->setDetails(details);
    std::string record;
    quorvel::writeXdasRecord(*event, host, 1700000000, record);
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(record);
    } catch (const nlohmann::json::exception&) {
        fail("record is not valid JSON", details, record);
    }
    if (utf8) return;
    // Under "C" every value reads back as its bytes taken as Latin-1.
    const auto member = [&](const nlohmann::json& object, const std::string& name, const std::string& value) {
        const auto found = object.find(name);
        const bool same = value.empty() ? found == object.end()
                                        : found != object.end() && *found == quorvel_test::bytesAsCodePoints(value);
        if (!same) fail("record member differs", value, record);
    };
    member(parsed, "Id", id);
    member(parsed["Action"], "Details", details);
    if (!user.empty()) member(parsed["Initiator"]["Account"], "Name", user);
    if (!assertion.empty()) member(parsed["Initiator"]["Assertions"], quorvel_test::bytesAsCodePoints(key), assertion);
    if (!host.empty()) member(parsed["Observer"]["Entity"], "SysName", host);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    utf8Locale = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
    if (cLocale == nullptr || utf8Locale == nullptr) {
        std::fprintf(stderr, "the C and C.UTF-8 locales are needed\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool utf8 = (data[0] & 1) != 0;
    uselocale(utf8 ? utf8Locale : cLocale);
    FuzzedDataProvider input(data + 1, size - 1);
    checkString(input.ConsumeRandomLengthString(), utf8);
    checkRecord(input, utf8);
    return 0;
}
