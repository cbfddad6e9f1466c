// The host ledger's keys and records: a host's epoch keys against answers
// computed apart from this code (Python's hashlib, BLAKE2b as libsodium's
// key derivation uses it).
#include "trail/host_epochs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

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

// The seed of bytes 0 to 31: the key of each epoch, as the auditor derives
// it; the host holds the same key at that epoch, whether it stepped there
// epoch by epoch or jumped (an agent that was down), across periods.
TEST(HostEpochs, TheHostHoldsTheKeyTheAuditorDerivesForEachEpoch) {
    ASSERT_TRUE(seal::cryptoReady());
    seal::HostSeed seed;
    for (unsigned i = 0; i < seed.size(); ++i)
        seed[i] = static_cast<unsigned char>(i);
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

} // namespace
