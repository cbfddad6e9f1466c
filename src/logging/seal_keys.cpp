#include "logging/seal_keys.h"

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

constexpr int kBase64 = sodium_base64_VARIANT_URLSAFE_NO_PADDING;

} // namespace

bool cryptoReady() { return sodium_init() >= 0; }

LineDigest digestOf(std::string_view line) {
    LineDigest digest;
    crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(line.data()), line.size(),
                       nullptr, 0);
    return digest;
}

SealKeys sealKeysOf(const SealKey& key) {
    SealKeys keys;
    derive(keys.tag, kTagKeyNumber, key);
    derive(keys.mac, kMacKeyNumber, key);
    return keys;
}

SealKey nextSealKey(const SealKey& key) {
    SealKey next;
    derive(next, kNextKeyNumber, key);
    return next;
}

LineTag tagOf(const TagKey& key, const LineDigest& digest) {
    static_assert(sizeof(TagKey) == crypto_shorthash_siphash24_KEYBYTES);
    unsigned char full[crypto_shorthash_siphash24_BYTES];
    crypto_shorthash_siphash24(full, digest.data(), digest.size(), key.data());
    LineTag tag;
    std::copy_n(full, tag.size(), tag.begin());
    return tag;
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

SealKey randomSealKey() {
    SealKey key;
    randombytes_buf(key.data(), key.size());
    return key;
}

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

std::string toBase64(const unsigned char* bytes, std::size_t size) {
    std::string text(sodium_base64_ENCODED_LEN(size, kBase64), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, kBase64);
    text.pop_back(); // the terminating NUL
    return text;
}

bool fromBase64(std::string_view text, unsigned char* bytes, std::size_t size) {
    std::size_t decoded = 0;
    const char* end = nullptr;
    return sodium_base642bin(bytes, size, text.data(), text.size(), nullptr, &decoded, &end, kBase64) == 0 &&
           decoded == size && end == text.data() + text.size();
}

} // namespace quorvel::seal
