// Known-answer vectors of the seal record format: for a fixed first key, the
// derived keys, two lines' tags and locators, and whole seal lines. Any
// change to a derivation, a hash, the encoding or the order of the fields
// fails here. The expected values come from scripts/seal-vectors, which
// computes them from the primitives' definitions (Python's BLAKE2b and a
// SipHash-2-4 of its own), without the library.
#include "trail/seal_record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace seal = quorvel::seal;

const seal::SealKey kFirstKey = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
const seal::SessionId kSession = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                                  0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};

const std::string kCefLine = "CEF:0|Acme|Bank|1.0|100|Login|4|suser=alice";
const std::string kXdasLine = " {\"Id\" : \"42\"}";
const seal::LineTag kCefTag = {0x43, 0x05, 0x02, 0x92, 0x9b, 0x40};
const seal::LineTag kXdasTag = {0x23, 0x9e, 0x1b, 0xa5, 0x9b, 0x53};
const seal::LineLocator kCefLocator = {0x3e, 0x08, 0xf0};
const seal::LineLocator kXdasLocator = {0x32, 0x97, 0xd1};

const std::string kOpeningLine =
    "quorvel-seal v=2 session=oKGio6SlpqeoqaqrrK2urw index=0 time=1700000000000 first=0 count=0 host=aG9zdC1h "
    "module=c2VydmVy pid=4242 lines=5 millis=1000 idle=60000 "
    "key=QEFCQ0RFRkdISUpLTE1OT1BRUlNUVVZXWFlaW1xdXl9gYWJjZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoOEhYaHiImKi4yNjo8 "
    "locs= tags= mac=c-rIy_cj9df73EQqOHOb7po3X8ceztoMnEoDrHqyxOo";
const std::string kAttestedOpeningLine =
    "quorvel-seal v=3 session=oKGio6SlpqeoqaqrrK2urw index=0 time=1700000000000 first=0 count=0 host=aG9zdC1h "
    "module=c2VydmVy pid=4242 lines=5 millis=1000 idle=60000 "
    "key=QEFCQ0RFRkdISUpLTE1OT1BRUlNUVVZXWFlaW1xdXl9gYWJjZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoOEhYaHiImKi4yNjo8 "
    "agent=wMHCw8TFxsfIycrLzM3Ozw epoch=3 number=17 uid=1000 gid=1000 apid=4242 exe=L3Vzci9zYmluL3NlcnZlcg "
    "unit=L3N5c3RlbS5zbGljZS9zZXJ2ZXIuc2VydmljZQ amac=UO3b6mEOeSRKQYFj6pmC_t7t6jgWoanDw7PQFefw7R0 locs= tags= "
    "mac=5qSfJL9EDXkBLMtTB-_5glqPxkChdvIb2gkWYt_KwBA";
const std::string kClosingLine =
    "quorvel-seal v=2 session=oKGio6SlpqeoqaqrrK2urw index=1 time=1700000001000 first=7 count=2 end=1 "
    "locs=PgjwMpfR tags=QwUCkptAI54bpZtT mac=W5pIcjvytHZGGA-diSGIwpZG_yj_xe_Jd-xJxNFHQus";
const std::string kCheckpointLine =
    "quorvel-seal v=4 session=oKGio6SlpqeoqaqrrK2urw index=1 time=1700000001000 first=7 count=2 pid=4242 lines=5 "
    "millis=1000 idle=60000 "
    "ckey=QEFCQ0RFRkdISUpLTE1OT1BRUlNUVVZXWFlaW1xdXl9gYWJjZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoOEhYaHiImKi4yNjo8 "
    "end=1 locs=PgjwMpfR tags=QwUCkptAI54bpZtT mac=AKA1yn9P5o2tYIhBKbsEc1Q4AoZQNe6ods70S4wgGWE";
const std::string kVersion1Line =
    "quorvel-seal v=1 session=oKGio6SlpqeoqaqrrK2urw index=1 time=1700000001000 first=7 count=2 end=1 "
    "tags=QwUCkptAI54bpZtT mac=70TW4dRynpmSDZHo2SBryw0R8OlyznnnYqkbL6aJ_Bc";

TEST(SealFormat, KeysTagsAndLocatorsOfAFixedFirstKey) {
    ASSERT_TRUE(seal::cryptoReady());
    const seal::SealKeys keys = seal::sealKeysOf(kFirstKey);
    EXPECT_EQ(keys.tag, (seal::TagKey{0x1b, 0xf0, 0x4d, 0x59, 0x0e, 0x13, 0xe4, 0x28, 0x09, 0xaf, 0x8b, 0x77, 0xb5,
                                      0x0f, 0xb5, 0x92}));
    EXPECT_EQ(keys.mac, (seal::Bytes32{0x24, 0xc7, 0x2e, 0x15, 0x6b, 0xa6, 0x9a, 0x9e, 0xfe, 0x54, 0x62,
                                       0xb8, 0x03, 0x9e, 0x92, 0xbd, 0x49, 0x3f, 0x04, 0xe8, 0x95, 0x29,
                                       0x5d, 0x8d, 0xef, 0x87, 0x81, 0x50, 0xde, 0x06, 0x86, 0x89}));
    EXPECT_EQ(seal::nextSealKey(kFirstKey),
              (seal::SealKey{0x36, 0xe3, 0xda, 0x56, 0xb7, 0xb9, 0x2f, 0xd6, 0x93, 0xff, 0x97,
                             0x06, 0xb9, 0x74, 0xc3, 0x55, 0x20, 0x87, 0xb5, 0x2e, 0x48, 0x30,
                             0x84, 0x63, 0xa2, 0xc7, 0x9d, 0x5c, 0x86, 0x74, 0xe8, 0xba}));
    const struct {
        const std::string& line;
        seal::LineTag tag;
        seal::LineLocator locator;
    } lines[] = {{kCefLine, kCefTag, kCefLocator}, {kXdasLine, kXdasTag, kXdasLocator}};
    for (const auto& line : lines) {
        EXPECT_EQ(seal::tagOf(keys.tag, line.line), line.tag) << line.line;
        EXPECT_EQ(seal::locatorOf(line.line), line.locator) << line.line;
    }
}

// The opening of the fixed session: its first key's box bytes 40..8f.
seal::SealRecord fixedOpening() {
    seal::SealRecord opening;
    opening.session = kSession;
    opening.time = 1700000000000;
    opening.opening = seal::SessionOpening{"host-a", "server", 4242, 5, 1000, 60000, {}, std::nullopt};
    for (std::size_t i = 0; i < seal::kEncryptedKeyBytes; ++i)
        opening.opening->key[i] = static_cast<unsigned char>(0x40 + i);
    return opening;
}

TEST(SealFormat, SealLinesOfFixedRecords) {
    ASSERT_TRUE(seal::cryptoReady());
    seal::SealRecord opening = fixedOpening();
    seal::SealRecord closing;
    closing.session = kSession;
    closing.index = 1;
    closing.time = 1700000001000;
    closing.first = 7;
    closing.tags = {kCefTag, kXdasTag};
    closing.locators = {kCefLocator, kXdasLocator};
    closing.end = true;
    const seal::Bytes32 macKey = seal::sealKeysOf(kFirstKey).mac;
    EXPECT_EQ(seal::writeSeal(opening, macKey), kOpeningLine);
    EXPECT_EQ(seal::writeSeal(closing, macKey), kClosingLine);
    // The same seal carrying a checkpoint, its key's box the opening's bytes.
    closing.checkpoint = seal::SealCheckpoint{4242, 5, 1000, 60000, opening.opening->key};
    EXPECT_EQ(seal::writeSeal(closing, macKey), kCheckpointLine);
    const auto read = seal::readSeal(kCheckpointLine);
    ASSERT_TRUE(read && read->record.checkpoint);
    EXPECT_EQ(read->record.checkpoint->key, opening.opening->key);
}

// An opening attested by a host agent: the attestation's MAC covers the
// seal's session and its key's digest, which the seal does not repeat.
TEST(SealFormat, AttestedOpeningOfFixedRecords) {
    ASSERT_TRUE(seal::cryptoReady());
    seal::EpochKey epochKey;
    for (std::size_t i = 0; i < epochKey.size(); ++i)
        epochKey[i] = static_cast<unsigned char>(0x60 + i);
    seal::SealRecord opening = fixedOpening();
    seal::Attestation attestation;
    for (std::size_t i = 0; i < attestation.hostId.size(); ++i)
        attestation.hostId[i] = static_cast<unsigned char>(0xc0 + i);
    attestation.epoch = 3;
    attestation.number = 17;
    attestation.uid = attestation.gid = 1000;
    attestation.pid = 4242;
    attestation.exe = "/usr/sbin/server";
    attestation.unit = "/system.slice/server.service";
    attestation.request = {kSession, seal::firstKeyDigest(opening.opening->key)};
    const auto signedBy = seal::readAttestation(seal::writeAttestation(attestation, epochKey));
    ASSERT_TRUE(signedBy);
    opening.opening->attestation = seal::CarriedAttestation{attestation, signedBy->mac};
    EXPECT_EQ(seal::writeSeal(opening, seal::sealKeysOf(kFirstKey).mac), kAttestedOpeningLine);

    const auto read = seal::readSeal(kAttestedOpeningLine);
    ASSERT_TRUE(read && read->record.opening && read->record.opening->attestation);
    EXPECT_EQ(read->record.version, 3);
    EXPECT_TRUE(seal::attestationHolds(*read->record.opening->attestation, epochKey));
    EXPECT_FALSE(seal::attestationHolds(*read->record.opening->attestation, seal::sealKeysOf(kFirstKey).mac));
}

TEST(SealFormat, ReadsAVersion1Seal) {
    const auto read = seal::readSeal(kVersion1Line);
    ASSERT_TRUE(read);
    const seal::SealRecord& record = read->record;
    EXPECT_EQ(record.version, 1);
    EXPECT_EQ(record.tags, (std::vector<seal::LineTag>{kCefTag, kXdasTag}));
    EXPECT_TRUE(record.locators.empty());
    EXPECT_EQ(read->signedText, kVersion1Line.substr(0, kVersion1Line.find(" mac=")));
    EXPECT_EQ(read->mac, (seal::SealMac{0xef, 0x44, 0xd6, 0xe1, 0xd4, 0x72, 0x9e, 0x99, 0x92, 0x0d, 0x91,
                                        0xe8, 0xd9, 0x20, 0x6b, 0xcb, 0x0d, 0x11, 0xf0, 0xe9, 0x72, 0xce,
                                        0x79, 0xe7, 0x62, 0xa9, 0x1b, 0x2f, 0xa6, 0x89, 0xfc, 0x17}));
}

// `line` with its first `from` replaced by `to`.
std::string edited(std::string line, const std::string& from, const std::string& to) {
    const std::size_t at = line.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? line : line.replace(at, from.size(), to);
}

TEST(SealFormat, RejectsMalformedSeals) {
    const struct {
        const char* what;
        std::string line;
    } malformed[] = {
        {"an unknown version", edited(kClosingLine, "v=2", "v=5")},
        {"a checkpoint without its fields", edited(kClosingLine, "v=2", "v=4")},
        {"a checkpoint on the opening", edited(kCheckpointLine, "index=1", "index=0")},
        {"a checkpoint's key cut short", edited(kCheckpointLine, "ckey=QEFC", "ckey=")},
        {"an attestation on a seal that opens nothing", edited(kClosingLine, "v=2", "v=3")},
        {"an attested opening without its attestation", edited(kOpeningLine, "v=2", "v=3")},
        {"an attested path longer than an agent writes",
         edited(kAttestedOpeningLine, "exe=L3Vzci9zYmluL3NlcnZlcg", "exe=" + std::string(344, 'e'))},
        {"a count that disagrees with the tags", edited(kClosingLine, "count=2", "count=3")},
        {"no locators in version 2", edited(kClosingLine, " locs=PgjwMpfR", "")},
        {"locators in version 1", edited(kVersion1Line, " tags=", " locs=PgjwMpfR tags=")},
        {"a leading zero in a number", edited(kClosingLine, "first=7", "first=07")},
        {"an unknown field", edited(kClosingLine, " mac=", " note=x mac=")},
        {"trailing text", kClosingLine + " x"},
        {"fields out of order", edited(kClosingLine, "index=1 time=1700000001000", "time=1700000001000 index=1")},
        {"an opening cut short", edited(kOpeningLine, " idle=60000", "")},
    };
    for (const auto& seal : malformed)
        EXPECT_FALSE(seal::readSeal(seal.line)) << seal.what;
    for (const std::string& line : {kOpeningLine, kClosingLine, kVersion1Line, kCheckpointLine})
        EXPECT_TRUE(seal::readSeal(line)) << line;
}

} // namespace
