// The stand-in parameter service: keys answered from the environment.
#include <hostparam.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(HostParam, KeyIsAnsweredFromItsUpperCaseUnderscoredVariable) {
    setenv("VRQ_SERVER_CONFIGDIR", "/etc/vrq", 1);
    char value[513] = {};
    EXPECT_EQ(GetParam("vrq.server.configdir", value, sizeof value), 0);
    EXPECT_STREQ(value, "/etc/vrq");

    setenv("A_B_C", "", 1);
    std::memset(value, 'x', sizeof value);
    EXPECT_EQ(GetParam("a.B.c", value, sizeof value), 0);
    EXPECT_STREQ(value, "");
}

TEST(HostParam, UnknownKeyLeavesTheBufferAlone) {
    unsetenv("QUORVEL_NO_SUCH_KEY");
    char value[8] = "keep";
    EXPECT_EQ(GetParam("quorvel.no.such.key", value, sizeof value), -1);
    EXPECT_STREQ(value, "keep");
}

TEST(HostParam, ValueIsCutToTheBufferWithItsNul) {
    setenv("LONG_VALUE", "abcdefgh", 1);
    char value[8];
    std::memset(value, 'x', sizeof value);
    EXPECT_EQ(GetParam("long.value", value, 4), 0);
    EXPECT_EQ(std::string(value, 5), std::string("abc\0x", 5));
}

} // namespace
