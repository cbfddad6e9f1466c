// Tests that need what a machine may not give: root, namespaces and mounts of
// their own, tracing. Where it is missing such a test skips with the reason;
// where QUORVEL_REQUIRE_ALL_TESTS is set (CI, which runs as root on a machine
// that gives all of it), the same reason fails it, so that no test there
// passes by not running.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace quorvel_test {

inline bool allTestsRequired() {
    const char* required = std::getenv("QUORVEL_REQUIRE_ALL_TESTS");
    return required != nullptr && *required != '\0';
}

} // namespace quorvel_test

// Ends the current test as skipped with `reason`, or as failed where every
// test is required to run.
#define QUORVEL_SKIP_OR_FAIL(reason)                                                                                   \
    do {                                                                                                               \
        if (quorvel_test::allTestsRequired()) FAIL() << "cannot run here (QUORVEL_REQUIRE_ALL_TESTS): " << (reason);   \
        GTEST_SKIP() << (reason);                                                                                      \
    } while (false)
