#include "fake_resolver.h"

#include <dlfcn.h>
#include <netdb.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quorvel_test::fake_resolver {
namespace {

enum class Mode { Real, Answer, Fail };

// Set by the test before the library runs; read by the library's thread.
Mode hostNameMode = Mode::Real;
std::string hostName;
Mode lookupMode = Mode::Real;
std::string canonicalName;
int lookupError = 0;

std::atomic<int> hostNameCount{0};
std::atomic<int> lookupCount{0};
std::atomic<int> freeCount{0};
std::size_t seenLength = 0;
std::string seenNode;
bool seenService = false;
addrinfo* ownList = nullptr;

std::atomic<bool> holding{false};
std::atomic<bool> inside{false};
std::atomic<bool> released{false};

thread_local bool watchLock = false;
std::atomic<bool> lockAttempted{false};

template <class Function> Function* real(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

void waitFor(const std::atomic<bool>& flag) {
    while (!flag.load())
        std::this_thread::yield();
}

} // namespace

void answerHostName(const std::string& shortName) {
    hostNameMode = Mode::Answer;
    hostName = shortName;
}
void failHostName() { hostNameMode = Mode::Fail; }
void answerCanonicalName(const std::string& canonical) {
    lookupMode = Mode::Answer;
    canonicalName = canonical;
}
void failLookup(int eaiCode) {
    lookupMode = Mode::Fail;
    lookupError = eaiCode;
}

int hostNameCalls() { return hostNameCount; }
int lookupCalls() { return lookupCount; }
int freeCalls() { return freeCount; }
std::size_t lastHostNameLength() { return seenLength; }
std::string lastLookupNode() { return seenNode; }
bool lastLookupHadService() { return seenService; }

void holdInsideFree() { holding = true; }
void waitUntilInsideFree() { waitFor(inside); }
void releaseFree() { released = true; }

void watchNextLockOnThisThread() { watchLock = true; }
void waitForLockAttempt() { waitFor(lockAttempted); }

} // namespace quorvel_test::fake_resolver

using namespace quorvel_test::fake_resolver;

extern "C" int gethostname(char* name, size_t length) noexcept {
    ++hostNameCount;
    seenLength = length;
    switch (hostNameMode) {
    case Mode::Real: return real<int(char*, size_t)>("gethostname")(name, length);
    case Mode::Fail: return -1;
    case Mode::Answer: break;
    }
    std::strncpy(name, hostName.c_str(), length);
    return 0;
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    ++lookupCount;
    seenNode = node != nullptr ? node : "";
    seenService = service != nullptr;
    switch (lookupMode) {
    case Mode::Real:
        return real<int(const char*, const char*, const addrinfo*, addrinfo**)>("getaddrinfo")(node, service, hints,
                                                                                               result);
    case Mode::Fail: return lookupError;
    case Mode::Answer: break;
    }
    ownList = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo)));
    ownList->ai_canonname = strdup(canonicalName.c_str());
    *result = ownList;
    return 0;
}

extern "C" void freeaddrinfo(addrinfo* list) noexcept {
    ++freeCount;
    if (holding) {
        inside = true;
        waitFor(released);
    }
    if (list != nullptr && list == ownList) {
        std::free(list->ai_canonname);
        std::free(list);
        ownList = nullptr;
        return;
    }
    real<void(addrinfo*)>("freeaddrinfo")(list);
}

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept {
    if (watchLock) {
        watchLock = false;
        lockAttempted = true;
    }
    static std::atomic<int (*)(pthread_mutex_t*)> forward{nullptr};
    auto* lock = forward.load(std::memory_order_relaxed);
    if (lock == nullptr) {
        lock = real<int(pthread_mutex_t*)>("pthread_mutex_lock");
        forward.store(lock, std::memory_order_relaxed);
    }
    return lock(mutex);
}
