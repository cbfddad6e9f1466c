// The verdict quorvel-verify writes as JSON, frozen: a fixed collection gives
// exactly this text, so that a change to a field's name, order or meaning
// fails here before it reaches the scripts auditors run on it. The
// collection (tests/data/sealed_trail.log) was made once, under fixed keys,
// for the auditor key in tests/data/sealed_trail_auditor.key: the opening
// seal of session a0..af (host "host-a", module "server", pid 4242, a seal
// every 5 lines or 1000 ms, 60000 ms idle, at 1700000000000), a CEF and an
// XDAS event, and the closing seal that covers both (at 1700000001000).
#include "child_process.h"

#include <gtest/gtest.h>

namespace {

TEST(TrailJson, VerdictOfAFixedCollection) {
    const auto result = quorvel_test::runProcess({QUORVEL_VERIFY, "--key", "sealed_trail_auditor.key", "--json", "-",
                                                  "--at", "1700000060000", "sealed_trail.log"},
                                                 QUORVEL_TEST_DATA_DIR);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(
        result.out,
        R"({"files":["sealed_trail.log"],"lines":4,"eventLines":2,"sealLines":2,"prefixedLines":0,)"
        R"("collectionEnd":1700000060000,"windowFrom":0,"complete":true,"sessions":[{"session":"oKGio6SlpqeoqaqrrK2urw",)"
        R"("state":"opened","origin":{"kind":"unchecked"},"unanchored":[],"vanished":false,)"
        R"("openings":[{"host":"host-a","module":"server","pid":4242,)"
        R"("openedAt":1700000000000,"lines":5,"millis":1000,"idleMillis":60000,"index":0,"place":{"file":0,"line":1}}],)"
        R"("sealsRead":2,"seals":2,"lastSeal":1,"lastSealAt":1700000001000,"closed":true,"cutShort":false,)"
        R"("verified":2,"contestedLines":0,"missing":[],"gaps":[],"notYetSealed":0,"tailBound":0,)"
        R"("failedMacs":[],"faults":[],"uncheckedSeals":0,"duplicates":[],"reordered":0,"torn":[],)"
        R"("foreignHost":[],"explainedByUnopened":0,"sealsBeforeCheckpoint":0,"beforeCheckpoint":0}],"strays":[],"unreadableSeals":[],"hosts":[],)"
        R"("unregisteredLedger":[],"unchecked":{"longLines":0,"sessions":0,"openings":0,"candidates":0,)"
        R"("ledgerRecords":0}})"
        "\n");
}

} // namespace
