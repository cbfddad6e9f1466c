// A stand-in for the host-name lookup, linked into test programs that must
// not wait on the real network. Its definitions of gethostname, getaddrinfo
// and freeaddrinfo take the place of the system's for the library code linked
// into the program. Until a test overrides them they forward to the real ones.
//
// It also watches pthread_mutex_lock on a thread that asks for it, so a test
// can tell when that thread is about to wait for a lock.
#pragma once

#include <string>

namespace quorvel_test::fake_resolver {

// gethostname answers `shortName`.
void answerHostName(const std::string& shortName);
// gethostname fails with -1.
void failHostName();
// getaddrinfo answers a one-entry list whose canonical name is `canonical`.
void answerCanonicalName(const std::string& canonical);
// getaddrinfo returns `eaiCode` and no list.
void failLookup(int eaiCode);

// What the library asked so far.
int hostNameCalls();
int lookupCalls();
int freeCalls();
std::size_t lastHostNameLength();
std::string lastLookupNode();
bool lastLookupHadService();

// From now on freeaddrinfo, which the library calls once it has copied the
// canonical name out of the list, waits inside until releaseFree() is called.
void holdInsideFree();
void waitUntilInsideFree();
void releaseFree();

// The next pthread_mutex_lock call made by the calling thread is reported to
// waitForLockAttempt() just before it locks.
void watchNextLockOnThisThread();
void waitForLockAttempt();

} // namespace quorvel_test::fake_resolver
