// One-time initialisation of log4cxx and the cached host name.
#include <quorvel/logging.h>

#include "logging/host_identity.h"
#include "logging/initialisation.h"
#include "logging/module_properties.h"
#include "logging/no_destructor.h"
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

// Initialises under the lock; the caller finishes `part` once the lock is
// released when `started` is set.
int initialiseLocked(const std::string& configPath, std::string moduleName, quorvel::InitialisationPart& part,
                     bool& started) {
    const InitLock lock;
    // Initialised by another thread while this one waited: the same answer
    // as the check before the lock would have given.
    if (initDone.load(std::memory_order_acquire)) return resultWhenInitialised(moduleName);
    quorvel::constructSeverityLevels();
    log4cxx::helpers::Properties properties;
    if (!quorvel::readProperties(log4cxx::File(configPath), properties) || !part.accept(properties, moduleName))
        return 1;
    quorvel::configureForModule(properties, moduleName);
    initState->moduleName = std::move(moduleName);
    const int result = cacheCanonicalHostName();
    part.start(initState->hostName, initState->moduleName);
    started = true;
    initDone.store(true, std::memory_order_release);
    return result;
}

} // namespace

namespace quorvel {

int initialiseLogging(const std::string& configPath, std::string moduleName, InitialisationPart& part) {
    if (initDone.load(std::memory_order_acquire)) return resultWhenInitialised(moduleName);
    bool started = false;
    const int result = initialiseLocked(configPath, std::move(moduleName), part, started);
    if (started) part.finish();
    return result;
}

} // namespace quorvel

extern "C" std::string getCEFHostName() { return std::string(quorvel::publishedHostName()); }
