// The cryptography of a sealed trail, all of it libsodium's: the keys of each
// seal and how one follows from the other, a line's tag, a seal's MAC, and
// the encryption of a session's first key to the auditor. Shared by the
// library, which seals, and the verifier.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::seal {

using Bytes32 = std::array<unsigned char, 32>;

// A seal's key. The session's first key is random; every later one is
// derived from the one before by a one-way function, so a key tells nothing
// about the keys before it.
using SealKey = Bytes32;
// A line's tag in its seal: the first 6 bytes of SipHash-2-4 of the line (the
// bytes as handed to log4cxx), keyed with the seal's tag key. SipHash is a
// MAC, so a forger who lacks the key has one chance in 2^48 per line; 48 bits,
// so that a seal costs 8 characters a line.
inline constexpr std::size_t kTagBytes = 6;
using LineTag = std::array<unsigned char, kTagBytes>;
// A line's locator in its seal: the first 3 bytes of SipHash-2-4 of the line
// under a fixed, public key. Not a secret and no proof of anything: it only
// lets the verifier find the seals that may hold a collected line with one
// lookup, instead of trying the line's tag under every seal's key.
inline constexpr std::size_t kLocatorBytes = 3;
using LineLocator = std::array<unsigned char, kLocatorBytes>;
// The key of the tags of one seal (SipHash's 128 bits).
using TagKey = std::array<unsigned char, 16>;
// A seal's MAC: keyed BLAKE2b-256 over the seal's text before " mac=".
using SealMac = Bytes32;

// The two keys a seal's key yields: one for its lines' tags, one for its
// MAC. Derived with libsodium's key derivation, each with its own number.
struct SealKeys {
    TagKey tag;
    Bytes32 mac;
};

// A session identifier: 16 random bytes.
using SessionId = std::array<unsigned char, 16>;
// The auditor's X25519 public key, and its secret key.
using AuditorPublicKey = Bytes32;
using AuditorSecretKey = Bytes32;
// A session's first key, encrypted to the auditor (a sealed box: 48 bytes
// more than the key).
inline constexpr std::size_t kEncryptedKeyBytes = 32 + 48;
using EncryptedKey = std::array<unsigned char, kEncryptedKeyBytes>;

// Initialises libsodium once; false when it cannot (no entropy source).
bool cryptoReady();

// Derivations in place: the sealing session derives into its guarded
// memory, so that no key passes through a temporary.
void deriveSealKeys(const SealKey& key, SealKeys& keys);
void deriveNextSealKey(const SealKey& key, SealKey& next);
// The same by value, for the verifier and tests, which erase what they get.
inline SealKeys sealKeysOf(const SealKey& key) {
    SealKeys keys;
    deriveSealKeys(key, keys);
    return keys;
}
inline SealKey nextSealKey(const SealKey& key) {
    SealKey next;
    deriveNextSealKey(key, next);
    return next;
}
LineTag tagOf(const TagKey& key, std::string_view line);
LineLocator locatorOf(std::string_view line);
SealMac macOf(const Bytes32& macKey, std::string_view text);
bool sameMac(const SealMac& a, const SealMac& b); // in constant time

SessionId randomSessionId();
void randomSealKey(SealKey& key);
inline SealKey randomSealKey() {
    SealKey key;
    randomSealKey(key);
    return key;
}
EncryptedKey encryptForAuditor(const SealKey& key, const AuditorPublicKey& auditor);
// The key, or nothing when it was not encrypted to this auditor or altered.
std::optional<SealKey> decryptAsAuditor(const EncryptedKey& encrypted, const AuditorPublicKey& publicKey,
                                        const AuditorSecretKey& secretKey);
// A new auditor key pair.
void makeAuditorKeys(AuditorPublicKey& publicKey, AuditorSecretKey& secretKey);
// The secret key's public half.
AuditorPublicKey publicKeyOf(const AuditorSecretKey& secretKey);

// Overwrites secret bytes so that the compiler cannot drop the write.
void erase(void* bytes, std::size_t size);
// Overwrites the stack below the caller, where the primitives it called may
// have left copies of keys and hash states.
void eraseStackBelow();
template <class Secret> void erase(Secret& secret) { erase(&secret, sizeof secret); }

// Base64 without padding, URL-safe alphabet ("-" and "_"): the encoding of
// every binary field of a seal and of the auditor's key files.
std::string toBase64(const unsigned char* bytes, std::size_t size);
// The same, appended to `text`.
void appendBase64(std::string& text, const unsigned char* bytes, std::size_t size);
template <std::size_t N> std::string toBase64(const std::array<unsigned char, N>& bytes) {
    return toBase64(bytes.data(), N);
}
// Decodes exactly `size` bytes; false when `text` is not their encoding.
bool fromBase64(std::string_view text, unsigned char* bytes, std::size_t size);
template <std::size_t N> std::optional<std::array<unsigned char, N>> fromBase64(std::string_view text) {
    std::array<unsigned char, N> bytes{};
    if (!fromBase64(text, bytes.data(), N)) return std::nullopt;
    return bytes;
}

} // namespace quorvel::seal
