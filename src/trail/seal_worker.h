// The process's sealed session at work: the ledger under a lock, fed every
// event line through the logging core's line observer, and the library's
// own thread that cuts seals when they fall due. A caller whose line makes
// a seal due cuts it itself, so that no seal waits on the thread; without
// the thread (it could not be created) callers cut every seal.
#pragma once

#include "logging/line_observer.h"
#include "trail/agent_client.h"
#include "trail/seal_ledger.h"

#include <pthread.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

class SealWorker final : public LineObserver {
  public:
    // Begins the session; its opening seal waits for open().
    SealWorker(SealSettings settings, std::string host, std::string module);

    // Logs the opening seal and starts the thread, with every signal
    // blocked in it.
    void open();
    void observe(std::string_view line) override;
    // The exit handler: the thread stopped, then a last seal marked as the
    // session's end. Not for a forked child that never logged.
    void close();

    // fork(): the parent waits, for a bounded time, until its thread is
    // out of log4cxx, so that the child does not inherit a lock held inside
    // it; the child drops the parent's keys and starts a session of its own
    // at its first line.
    void prepareFork();
    void afterForkInParent();
    void afterForkInChild();

    bool threadRunning();
    // Whether the host agent attested the session opened last.
    bool attested();
    // The session's keys, for the checks of how they are kept.
    const seal::SealingKeys& keys() const { return ledger_.keys(); }

  private:
    class Lock;

    std::string begin();
    std::optional<seal::SealReport> reportOf(const std::string& line, bool end) const;
    void report(const std::optional<seal::SealReport>& report);
    void startThread();
    static void* runThread(void* worker);
    void run();
    void restartInChild(Lock& lock);
    void cutAndLog(Lock& lock, bool end);
    void sealAlone(std::string_view line);
    void waitUntil(pthread_cond_t& condition, SealLedger::Clock::time_point due);
    void resetSynchronisation();

    const std::string logger_;
    const std::string agent_; // the host agent's socket; empty: none is asked
    const std::chrono::milliseconds agentWait_;
    seal::AgentLink link_; // to the agent that attested the session
    bool attested_ = false;
    SealLedger ledger_;
    std::string opening_; // until open() logs it

    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t wake_{};  // a seal may be due, or the thread must stop
    pthread_cond_t quiet_{}; // the thread has left log4cxx, or stopped
    pthread_t thread_{};
    bool joinable_ = false;  // thread_ was started and not joined
    bool running_ = false;   // it has not left run()
    bool inLog4cxx_ = false; // it is logging a seal
    bool forking_ = false;   // a fork is being prepared: the thread logs nothing
    bool stopping_ = false;
    bool closed_ = false;
    bool forked_ = false;
};

} // namespace quorvel
