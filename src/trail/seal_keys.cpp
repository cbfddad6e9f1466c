#include "trail/seal_keys.h"

#include <sodium.h>

#include <algorithm>

namespace quorvel::seal {

namespace {

// Each key derived from a seal's key has its own number under one context.
constexpr char kDerivationContext[crypto_kdf_CONTEXTBYTES + 1] = "qvseal-1";
enum : std::uint64_t { kTagKeyNumber = 1, kMacKeyNumber = 2, kNextKeyNumber = 3 };

template <std::size_t N> void derive(std::array<unsigned char, N>& subkey, std::uint64_t number, const SealKey& key) {
    static_assert(N >= crypto_kdf_BYTES_MIN && N <= crypto_kdf_BYTES_MAX);
    crypto_kdf_derive_from_key(subkey.data(), N, number, kDerivationContext, key.data());
}

} // namespace

bool cryptoReady() { return sodium_init() >= 0; }

void deriveSealKeys(const SealKey& key, SealKeys& keys) {
    derive(keys.tag, kTagKeyNumber, key);
    derive(keys.mac, kMacKeyNumber, key);
}

void deriveNextSealKey(const SealKey& key, SealKey& next) { derive(next, kNextKeyNumber, key); }

LineTag tagOf(const TagKey& key, std::string_view line) {
    static_assert(sizeof(TagKey) == crypto_shorthash_siphash24_KEYBYTES);
    unsigned char full[crypto_shorthash_siphash24_BYTES];
    crypto_shorthash_siphash24(full, reinterpret_cast<const unsigned char*>(line.data()), line.size(), key.data());
    LineTag tag;
    std::copy_n(full, tag.size(), tag.begin());
    return tag;
}

LineLocator locatorOf(std::string_view line) {
    // Public by design: anyone may compute a line's locator.
    static constexpr unsigned char kLocatorKey[crypto_shorthash_siphash24_KEYBYTES] = {
        'q', 'u', 'o', 'r', 'v', 'e', 'l', '-', 'l', 'o', 'c', 'a', 't', 'o', 'r', '2'};
    unsigned char full[crypto_shorthash_siphash24_BYTES];
    crypto_shorthash_siphash24(full, reinterpret_cast<const unsigned char*>(line.data()), line.size(), kLocatorKey);
    LineLocator locator;
    std::copy_n(full, locator.size(), locator.begin());
    return locator;
}

SealMac macOf(const Bytes32& macKey, std::string_view text) {
    SealMac mac;
    crypto_generichash(mac.data(), mac.size(), reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                       macKey.data(), macKey.size());
    return mac;
}

bool sameMac(const SealMac& a, const SealMac& b) { return crypto_verify_32(a.data(), b.data()) == 0; }

SessionId randomSessionId() {
    SessionId id;
    randombytes_buf(id.data(), id.size());
    return id;
}

void randomSealKey(SealKey& key) { randombytes_buf(key.data(), key.size()); }

EncryptedKey encryptForAuditor(const SealKey& key, const AuditorPublicKey& auditor) {
    static_assert(kEncryptedKeyBytes == sizeof(SealKey) + crypto_box_SEALBYTES);
    EncryptedKey encrypted;
    crypto_box_seal(encrypted.data(), key.data(), key.size(), auditor.data());
    return encrypted;
}

std::optional<SealKey> decryptAsAuditor(const EncryptedKey& encrypted, const AuditorPublicKey& publicKey,
                                        const AuditorSecretKey& secretKey) {
    SealKey key;
    if (crypto_box_seal_open(key.data(), encrypted.data(), encrypted.size(), publicKey.data(), secretKey.data()) != 0)
        return std::nullopt;
    return key;
}

void makeAuditorKeys(AuditorPublicKey& publicKey, AuditorSecretKey& secretKey) {
    static_assert(sizeof(AuditorPublicKey) == crypto_box_PUBLICKEYBYTES);
    static_assert(sizeof(AuditorSecretKey) == crypto_box_SECRETKEYBYTES);
    crypto_box_keypair(publicKey.data(), secretKey.data());
}

AuditorPublicKey publicKeyOf(const AuditorSecretKey& secretKey) {
    AuditorPublicKey publicKey;
    crypto_scalarmult_base(publicKey.data(), secretKey.data());
    return publicKey;
}

void erase(void* bytes, std::size_t size) { sodium_memzero(bytes, size); }

void eraseStackBelow() {
    // BLAKE2b's state and message schedule, the largest of the primitives'
    // frames, take about 1 KiB; twice as much covers the calls around them.
    sodium_stackzero(2048);
}

// Base64 is the encoding of a seal's public fields (its tags above all), not
// a secret: a plain table lookup, which costs a few instructions a character
// where libsodium's constant-time coder costs fifty.
namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<signed char, 256> makeBase64Values() {
    std::array<signed char, 256> values{};
    for (signed char& value : values)
        value = -1;
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<signed char>(i);
    return values;
}
constexpr std::array<signed char, 256> kBase64Values = makeBase64Values();

} // namespace

void appendBase64(std::string& text, const unsigned char* bytes, std::size_t size) {
    // Written in place: a seal's runs of tags are thousands of characters.
    const std::size_t start = text.size();
    text.resize(start + (size * 4 + 2) / 3);
    char* out = text.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned group = unsigned{bytes[i]} << 16 | unsigned{bytes[i + 1]} << 8 | bytes[i + 2];
        for (const int shift : {18, 12, 6, 0})
            *out++ = kBase64Alphabet[group >> shift & 63];
    }
    if (i < size) {
        const std::size_t rest = size - i; // 1 or 2 bytes: 2 or 3 characters
        const unsigned group = unsigned{bytes[i]} << 16 | (rest == 2 ? unsigned{bytes[i + 1]} << 8 : 0u);
        for (std::size_t c = 0; c <= rest; ++c)
            *out++ = kBase64Alphabet[group >> (18 - 6 * c) & 63];
    }
}

std::string toBase64(const unsigned char* bytes, std::size_t size) {
    std::string text;
    appendBase64(text, bytes, size);
    return text;
}

bool fromBase64(std::string_view text, unsigned char* bytes, std::size_t size) {
    // Exactly the characters `size` bytes encode to, and no bits set beyond
    // them in the last character.
    if (text.size() != (size * 4 + 2) / 3) return false;
    unsigned group = 0;
    int bits = 0;
    std::size_t out = 0;
    for (const char c : text) {
        const int value = kBase64Values[static_cast<unsigned char>(c)];
        if (value < 0) return false;
        group = (group << 6 | static_cast<unsigned>(value)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes[out++] = static_cast<unsigned char>(group >> bits);
        }
    }
    return (group & ((1u << bits) - 1)) == 0;
}

} // namespace quorvel::seal
