// The library's initialisation entry points: the logging core's
// initialisation, joined by sealing, which reads its settings from the same
// properties file and, when it is on, starts the process's sealed session
// and registers it as the core's line observer.
#include <quorvel/logging.h>

#include "logging/initialisation.h"
#include "logging/line_observer.h"
#include "trail/sealed_initialisation.h"

#include "trail/seal_settings.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>

namespace quorvel {

namespace {

// The session, once started; never destroyed: the exit handler, and threads
// still logging while the process exits, use it.
std::atomic<SealWorker*> session{nullptr};

void closeAtExit() {
    if (SealWorker* worker = session.load(std::memory_order_acquire)) worker->close();
}
void prepareFork() { session.load(std::memory_order_acquire)->prepareFork(); }
void afterForkInParent() { session.load(std::memory_order_acquire)->afterForkInParent(); }
void afterForkInChild() { session.load(std::memory_order_acquire)->afterForkInChild(); }

class SealingPart final : public InitialisationPart {
  public:
    // Sealing asked for but not set up whole fails initialisation: nothing is
    // applied, rather than events logged without the seals the operator
    // counts on.
    bool accept(const log4cxx::helpers::Properties& properties, std::string_view module) override {
        setup_ = readSealSetup(properties, module);
        return setup_.valid;
    }

    // Every line from here on is numbered: the observer is registered before
    // initialisation is published.
    void start(std::string_view host, std::string_view module) override {
        if (!setup_.on) return;
        auto* worker = new SealWorker(std::move(setup_.settings), std::string(host), std::string(module));
        session.store(worker, std::memory_order_release);
        observeLines(*worker);
    }

    void finish() override {
        SealWorker* worker = session.load(std::memory_order_acquire);
        if (worker == nullptr) return;
        worker->open();
        // Registered after the opening seal went through log4cxx, so that the
        // exit handler runs before the exit-time destructors of what log4cxx
        // built for it.
        pthread_atfork(&prepareFork, &afterForkInParent, &afterForkInChild);
        std::atexit(&closeAtExit);
    }

  private:
    SealSetup setup_;
};

// Built at its first use: a host may initialise from a static constructor.
SealingPart& sealingPart() {
    static SealingPart part;
    return part;
}

} // namespace

SealWorker* sealedSession() { return session.load(std::memory_order_acquire); }

} // namespace quorvel

extern "C" int initSyslog(std::string configPath, std::string moduleName) {
    return quorvel::initialiseLogging(configPath, std::move(moduleName), quorvel::sealingPart());
}

extern "C" int initXDAS(std::string configPath) { return initSyslog(configPath, "XDAS-"); }

extern "C" void closeSealedSession() { quorvel::closeAtExit(); }
