// The host ledger's keys and records: a host's epoch keys against answers
// computed apart from this code (Python's hashlib, BLAKE2b as libsodium's
// key derivation uses it).
#include "trail/agent_state.h"
#include "trail/attestation_record.h"
#include "trail/epoch_record.h"
#include "trail/host_epochs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <tuple>

namespace {

namespace seal = quorvel::seal;

std::string hex(const seal::Bytes32& bytes) {
    std::string text;
    char digits[3];
    for (const unsigned char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

seal::HostSeed testSeed() {
    seal::HostSeed seed;
    for (unsigned i = 0; i < seed.size(); ++i)
        seed[i] = static_cast<unsigned char>(i);
    return seed;
}

// The seed of bytes 0 to 31: the key of each epoch, as the auditor derives
// it; the host holds the same key at that epoch, whether it stepped there
// epoch by epoch or jumped (an agent that was down), across periods.
TEST(HostEpochs, TheHostHoldsTheKeyTheAuditorDerivesForEachEpoch) {
    ASSERT_TRUE(seal::cryptoReady());
    const seal::HostSeed seed = testSeed();
    const struct {
        std::uint64_t epoch;
        const char* key;
    } known[] = {
        {0, "f1107c98c127dd2c6d1a8a1bb31b7e890bb07f9d225cdc085beac492d9db9cf5"},
        {1, "5f536079c78845813f81dda24b06d5eb1e4ac968110e9be094d0ee77bf89837e"},
        {1023, "c46117dc55971653a0e8736c078c8e4418b765f9a9e49621024a44e13284dbe6"},
        {1024, "f738c4738cee4cf79d2e2400ce7f82677550cc4c256b219b37a9ef1e46cab4f6"},
        {2049, "86027ba67176a4c0bb6440cc7c01fe4846ce79ced8cb83e53d37211e043b08c0"},
    };
    seal::HostEpochKeys stepping;
    stepping.begin(seed);
    std::uint64_t epoch = 0;
    for (const auto& k : known) {
        seal::EpochKey derived;
        seal::epochKeyFromSeed(seed, k.epoch, derived);
        EXPECT_EQ(hex(derived), k.key) << "auditor, epoch " << k.epoch;
        for (; epoch <= k.epoch; ++epoch)
            stepping.advanceTo(epoch);
        EXPECT_EQ(hex(stepping.key()), k.key) << "host stepping, epoch " << k.epoch;
        seal::HostEpochKeys jumping;
        jumping.begin(seed);
        jumping.advanceTo(k.epoch);
        EXPECT_EQ(hex(jumping.key()), k.key) << "host jumping, epoch " << k.epoch;
    }
    EXPECT_THROW(stepping.advanceTo(5), std::invalid_argument);
}

// An epoch record of fixed fields under epoch 1025's key is exactly this
// line (a second part, two sessions: one opened, one gone before its first
// seal), its digest and fingerprint these; a record of version 1 is still
// read; a record that differs from the format in any way is not read.
TEST(HostLedgerRecords, EpochRecordOfAFixedKeyIsThisLine) {
    ASSERT_TRUE(seal::cryptoReady());
    seal::EpochRecord record;
    for (unsigned i = 0; i < record.hostId.size(); ++i)
        record.hostId[i] = static_cast<unsigned char>(0xa0 + i);
    record.epoch = 1025;
    record.from = 1023;
    record.previous.fill(0x11);
    record.part = 1;
    record.more = true;
    seal::Bytes32 opening;
    opening.fill(0x22);
    record.sessions = {{7, 0, seal::SessionEvent::Opened, opening},
                       {8, seal::kNoSealIndex, seal::SessionEvent::Vanished, {}}};
    seal::EpochKey key;
    seal::epochKeyFromSeed(testSeed(), record.epoch, key);
    const std::string line =
        "quorvel-epoch v=2 hostid=oKGio6SlpqeoqaqrrK2urw epoch=1025 from=1023 part=1 "
        "prev=ERERERERERERERERERERERERERERERERERERERERERE more=1 count=2 "
        "sessions=BwAAAAAAAAAAAAAAAAAAAAAiIiIiIiIiIiIiIiIiIiIiIiIiIiIiIiIiIiIiIiIiIggAAAAAAAAA__________"
        "8DAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA mac=UcV4kYlzVWcbHCS1gUBGE4kzWh7cptAKfB3XPM2X-yE";
    EXPECT_EQ(seal::writeEpochRecord(record, key), line);
    EXPECT_EQ(hex(seal::recordDigest(line)), "ebe513da9afd4730978e966371bec9afb9de088420e2d12a70a2c55a701ffb7d");
    EXPECT_EQ(seal::fingerprintOf(line), "ebe5-13da-9afd-4730-978e-9663-71be-c9af");
    const auto read = seal::readEpochRecord(line);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->record.hostId, record.hostId);
    EXPECT_EQ(std::make_tuple(read->record.epoch, read->record.from, read->record.part, read->record.more),
              std::make_tuple(record.epoch, record.from, record.part, record.more));
    EXPECT_EQ(read->record.previous, record.previous);
    ASSERT_EQ(read->record.sessions.size(), 2u);
    EXPECT_EQ(std::make_tuple(read->record.sessions[1].number, read->record.sessions[1].index,
                              read->record.sessions[1].event, read->record.sessions[0].seal),
              std::make_tuple(std::uint64_t{8}, seal::kNoSealIndex, seal::SessionEvent::Vanished, opening));
    EXPECT_TRUE(seal::sameMac(seal::macOf(key, read->signedText), read->mac));

    const std::string version1 = "quorvel-epoch v=1 hostid=oKGio6SlpqeoqaqrrK2urw epoch=1025 from=1023 "
                                 "prev=ERERERERERERERERERERERERERERERERERERERERERE "
                                 "mac=_rXRxYR8JzEdiXXpI-oW_PlAQ1gU83EC6kKP7eSTa4M";
    const auto old = seal::readEpochRecord(version1);
    ASSERT_TRUE(old);
    EXPECT_EQ(std::make_tuple(old->record.epoch, old->record.from, old->record.sessions.size()),
              std::make_tuple(std::uint64_t{1025}, std::uint64_t{1023}, std::size_t{0}));
    EXPECT_TRUE(seal::sameMac(seal::macOf(key, old->signedText), old->mac));

    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string copy = line;
        return copy.replace(copy.find(from), from.size(), to);
    };
    for (const std::string& bad :
         {edited("v=2", "v=3"), edited("from=1023", "from=1026"), edited(" more=1", " more=2"),
          edited("epoch=1025", "epoch=01025"), edited("hostid=oKGio6SlpqeoqaqrrK2urw", "hostid=oKGio6Slpqeo"),
          edited("count=2", "count=3"), edited("count=2", "count=1"),
          edited("AAAAAAAAAAAAAAAAAAAAAiIiI", "AAAAAAAAAAAAAAAAAAAAUiIiI"),
          version1.substr(0, version1.find(" mac=")) + " part=0" + version1.substr(version1.find(" mac="))})
        EXPECT_FALSE(seal::readEpochRecord(bad)) << bad;
}

// An attestation of fixed fields under epoch 3's key is exactly this line,
// the session's first key named by its digest, and it reads back whole.
TEST(HostLedgerRecords, AttestationOfAFixedKeyIsThisLine) {
    ASSERT_TRUE(seal::cryptoReady());
    seal::Attestation attestation;
    for (unsigned i = 0; i < 16; ++i) {
        attestation.hostId[i] = static_cast<unsigned char>(0xa0 + i);
        attestation.request.session[i] = static_cast<unsigned char>(0x10 + i);
    }
    seal::EncryptedKey firstKey;
    firstKey.fill(7);
    attestation.request.key = seal::firstKeyDigest(firstKey);
    attestation.epoch = 3;
    attestation.number = 41;
    attestation.uid = attestation.gid = 1000;
    attestation.pid = 4242;
    attestation.exe = "/usr/sbin/bank-server";
    attestation.unit = "/system.slice/bank.service";
    seal::EpochKey key;
    seal::epochKeyFromSeed(testSeed(), 3, key);
    const std::string line = "quorvel-attest v=1 hostid=oKGio6SlpqeoqaqrrK2urw epoch=3 number=41 uid=1000 gid=1000 "
                             "pid=4242 exe=L3Vzci9zYmluL2Jhbmstc2VydmVy unit=L3N5c3RlbS5zbGljZS9iYW5rLnNlcnZpY2U "
                             "session=EBESExQVFhcYGRobHB0eHw key=p1647MO2FLrW8-HNjnoodrZTE-fPQkwkj1NHEByFgrw "
                             "mac=u_tJ55gFW3sMjTNtAZcOs-i8Is5kDrM31IUaHVIOJfo";
    EXPECT_EQ(seal::writeAttestation(attestation, key), line);
    const auto read = seal::readAttestation(line);
    ASSERT_TRUE(read);
    EXPECT_EQ(seal::writeAttestation(read->record, key), line);
    EXPECT_TRUE(seal::readAttestationRequest(seal::writeAttestationRequest(attestation.request)));
    EXPECT_FALSE(seal::readAttestation(line.substr(0, line.find(" unit=")) + line.substr(line.find(" session="))));
}

// The auditor opens an enrollment with the secret key: the seed comes back
// only while the record is the one the host made.
TEST(HostLedgerRecords, EnrollmentOpensOnlyAsTheHostMadeIt) {
    ASSERT_TRUE(seal::cryptoReady());
    seal::AuditorPublicKey publicKey;
    seal::AuditorSecretKey secretKey;
    seal::makeAuditorKeys(publicKey, secretKey);
    const seal::HostSeed seed = testSeed();
    seal::Enrollment enrollment;
    enrollment.hostId.fill(7);
    enrollment.host = "bank-app-1";
    enrollment.time = 1700000000000;
    enrollment.epochMillis = 60000;
    enrollment.seed = seal::encryptForAuditor(seed, publicKey);
    seal::EpochKey zero;
    seal::epochKeyFromSeed(seed, 0, zero);
    const std::string line = seal::writeEnrollment(enrollment, zero);
    const auto read = seal::readEnrollment(line);
    ASSERT_TRUE(read) << line;
    EXPECT_EQ(read->record.host, "bank-app-1");
    EXPECT_EQ(std::make_pair(read->record.time, read->record.epochMillis), std::make_pair(enrollment.time, 60000ul));
    seal::HostSeed opened;
    ASSERT_TRUE(seal::openEnrollment(*read, publicKey, secretKey, opened));
    EXPECT_EQ(opened, seed);
    // Another host name, with the same seed and MAC: not the host's record.
    std::string renamed = line;
    renamed.replace(renamed.find(" host="), 20,
                    " host=" + seal::toBase64(reinterpret_cast<const unsigned char*>("bank-app-2"), 10));
    const auto readRenamed = seal::readEnrollment(renamed);
    ASSERT_TRUE(readRenamed) << renamed;
    EXPECT_FALSE(seal::openEnrollment(*readRenamed, publicKey, secretKey, opened));
    seal::AuditorPublicKey otherPublic;
    seal::AuditorSecretKey otherSecret;
    seal::makeAuditorKeys(otherPublic, otherSecret);
    EXPECT_FALSE(seal::openEnrollment(*read, otherPublic, otherSecret, opened)) << "opened with another auditor's key";
}

// The state file across the saves of one epoch (each session number taken,
// synced later or at once), a restart, and the move to the next epoch: it
// always holds the key of the epoch saved last, the newest number, and
// after the move no byte of the earlier epoch's key.
TEST(AgentState, SavesWithinAnEpochKeepItsKeyAndTheMoveOnErasesIt) {
    ASSERT_TRUE(seal::cryptoReady());
    char directory[] = "/tmp/quorvel-state-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string path = std::string(directory) + "/agent.state";
    const seal::AgentIdentity identity{{}, 1700000000000, 60000};
    seal::AgentProgress progress;
    seal::HostEpochKeys keys;
    keys.begin(testSeed());
    const seal::EpochKey epochZero = keys.key();
    const auto fileHolds = [&](const seal::EpochKey& key) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return bytes.find(std::string(key.begin(), key.end())) != std::string::npos;
    };
    {
        seal::AgentStateFile file(path, true);
        for (; progress.nextSession < 4; ++progress.nextSession)
            file.save(identity, keys, progress, progress.nextSession % 2 == 1);
        file.sync();
    }
    seal::AgentStateFile file(path, false);
    seal::AgentIdentity loadedIdentity;
    seal::AgentProgress loaded;
    seal::HostEpochKeys loadedKeys;
    ASSERT_TRUE(file.load(loadedIdentity, loadedKeys, loaded));
    EXPECT_EQ(std::make_tuple(loaded.nextSession, loadedKeys.epoch(), loadedKeys.key()),
              std::make_tuple(std::uint64_t{3}, std::uint64_t{0}, epochZero));
    EXPECT_TRUE(fileHolds(epochZero));
    loaded.nextSession = 4;
    file.save(loadedIdentity, loadedKeys, loaded, true);
    loadedKeys.advanceTo(1);
    file.save(loadedIdentity, loadedKeys, loaded);
    EXPECT_FALSE(fileHolds(epochZero));
    EXPECT_TRUE(fileHolds(loadedKeys.key()));
    std::filesystem::remove_all(directory);
}

} // namespace
