// One-time initialisation of log4cxx and the cached host name.
#include <quorvel/logging.h>

#include "logging/host_identity.h"
#include "logging/module_configurator.h"
#include "logging/no_destructor.h"
#include "logging/seal_settings.h"
#include "logging/severity_levels.h"

#include <netdb.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

namespace {

// What the first successful initialisation leaves for every later call: the
// host's canonical name and the module it configured log4cxx for. Written
// once, under initMutex, before initDone publishes it; read without a lock
// once initDone is seen set. Never destroyed, as logging reads it.
struct InitState {
    std::string hostName;
    std::string moduleName;
};
quorvel::NoDestructor<InitState> initState;
// Set (release) once log4cxx is configured and the host name attempted.
std::atomic<bool> initDone{false};
// Serialises initialisation; statically initialised and never destroyed.
pthread_mutex_t initMutex = PTHREAD_MUTEX_INITIALIZER;

class InitLock {
  public:
    InitLock() { pthread_mutex_lock(&initMutex); }
    ~InitLock() { pthread_mutex_unlock(&initMutex); }
    InitLock(const InitLock&) = delete;
    InitLock& operator=(const InitLock&) = delete;
};

struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// Looks up the host's canonical name into initState. Returns 0, also when
// gethostname fails (the name then stays empty), or the resolver's EAI_
// code.
int cacheCanonicalHostName() {
    char hostName[8192] = {};
    if (gethostname(hostName, sizeof hostName - 1) != 0) return 0;
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME | AI_CANONIDN;
    hints.ai_family = AF_UNSPEC;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(hostName, nullptr, &hints, &found);
    if (status != 0) return status;
    const std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);
    if (list && list->ai_canonname != nullptr) initState->hostName = list->ai_canonname;
    return 0;
}

// The result of a call that has seen initDone set: 0 when `moduleName` is
// the module in force, 2 when it is another.
int resultWhenInitialised(const std::string& moduleName) { return moduleName == initState->moduleName ? 0 : 2; }

} // namespace

namespace quorvel {

std::string_view publishedHostName() {
    if (!initDone.load(std::memory_order_acquire)) return {};
    return initState->hostName;
}

} // namespace quorvel

namespace {

// Initialises under the lock; returns the status, and the sealed session it
// started, if any, for the caller to open once the lock is released.
int initialiseLocked(const std::string& configPath, std::string moduleName, quorvel::SealSession*& sealed) {
    const InitLock lock;
    // Initialised by another thread while this one waited: the same answer
    // as the check before the lock would have given.
    if (initDone.load(std::memory_order_acquire)) return resultWhenInitialised(moduleName);
    quorvel::constructSeverityLevels();
    log4cxx::helpers::Properties properties;
    if (!quorvel::readProperties(log4cxx::File(configPath), properties)) return 1;
    // Sealing asked for but not set up whole is a configuration that failed:
    // nothing is applied, rather than events logged without the seals the
    // operator counts on.
    const quorvel::SealSetup seal = quorvel::readSealSetup(properties);
    if (!seal.valid) return 1;
    quorvel::configureForModule(properties, moduleName);
    initState->moduleName = std::move(moduleName);
    const int result = cacheCanonicalHostName();
    if (seal.on) sealed = quorvel::startSealing(seal.settings, initState->hostName, initState->moduleName);
    initDone.store(true, std::memory_order_release);
    return result;
}

} // namespace

extern "C" int initSyslog(std::string configPath, std::string moduleName) {
    if (initDone.load(std::memory_order_acquire)) return resultWhenInitialised(moduleName);
    quorvel::SealSession* sealed = nullptr;
    const int result = initialiseLocked(configPath, std::move(moduleName), sealed);
    // The opening seal goes through log4cxx, which no lock of the library's
    // is held around.
    if (sealed) quorvel::openSealedSession(*sealed);
    return result;
}

extern "C" int initXDAS(std::string configPath) { return initSyslog(configPath, "XDAS-"); }

extern "C" std::string getCEFHostName() { return std::string(quorvel::publishedHostName()); }
