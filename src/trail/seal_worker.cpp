#include "trail/seal_worker.h"

#include "logging/log_emitter.h"
#include "trail/agent_client.h"
#include "trail/epoch_record.h"

#include <sodium.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <utility>

namespace quorvel {

namespace {

using Clock = SealLedger::Clock;

std::uint64_t wallClockMillis() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

// The monotonic clock as of its last tick (a few ms coarse) at a fraction of
// the cost of a full read, which every line would pay: fine enough to tell
// when a seal falls due, which it makes a tick early at worst.
Clock::time_point coarseNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(now.tv_sec) +
                                                                         std::chrono::nanoseconds(now.tv_nsec)));
}

// How long the exit handler waits for the thread to stop, and fork() for it
// to leave log4cxx.
constexpr auto kExitWait = std::chrono::seconds(2);
constexpr auto kForkWait = std::chrono::seconds(2);

void initialiseOnMonotonicClock(pthread_cond_t& condition) {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&condition, &attributes);
    pthread_condattr_destroy(&attributes);
}

// Logs a seal. A seal that cannot be logged is lost like any line (the
// verifier shows the gap); its failure never reaches the caller whose line
// made it due.
void logSeal(const std::string& logger, std::string&& line) {
    try {
        emitSealLine(logger, std::move(line));
    } catch (...) {
    }
}

} // namespace

class SealWorker::Lock {
  public:
    explicit Lock(SealWorker& worker) : mutex_(&worker.mutex_) { pthread_mutex_lock(mutex_); }
    ~Lock() {
        if (held_) pthread_mutex_unlock(mutex_);
    }
    void release() {
        pthread_mutex_unlock(mutex_);
        held_ = false;
    }
    void take() {
        pthread_mutex_lock(mutex_);
        held_ = true;
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    pthread_mutex_t* mutex_;
    bool held_ = true;
};

SealWorker::SealWorker(SealSettings settings, std::string host, std::string module)
    : logger_(settings.logger), agent_(settings.agent), agentWait_(settings.agentMillis),
      ledger_(std::move(settings), std::move(host), std::move(module)), opening_(begin()) {
    resetSynchronisation();
}

// A session of this process begins, attested by the host agent when one
// answers within its bound (a forked child asks anew: the agent reads who
// asks from the connection). The opening is dated after the answer, so that
// it never lies before the epoch the attestation was made in.
std::string SealWorker::begin() {
    const seal::AttestationRequest request = ledger_.begin(static_cast<std::uint64_t>(getpid()));
    std::optional<seal::CarriedAttestation> attestation;
    if (!agent_.empty()) attestation = link_.attest(agent_, agentWait_, request);
    attested_ = attestation.has_value();
    return ledger_.open(std::move(attestation), Clock::now(), wallClockMillis());
}

// What the agent is told of the seal line the ledger cut last, once it is
// logged; nothing without an attested link.
std::optional<seal::SealReport> SealWorker::reportOf(const std::string& line, bool end) const {
    if (!link_.linked()) return std::nullopt;
    return seal::SealReport{ledger_.lastIndex(), seal::recordDigest(line), ledger_.lastCheckpointed(), end};
}

void SealWorker::report(const std::optional<seal::SealReport>& report) {
    if (report) link_.report(*report);
}

void SealWorker::resetSynchronisation() {
    mutex_ = PTHREAD_MUTEX_INITIALIZER;
    initialiseOnMonotonicClock(wake_);
    initialiseOnMonotonicClock(quiet_);
}

void SealWorker::open() {
    Lock lock(*this);
    std::string opening = std::move(opening_);
    const auto opened = reportOf(opening, false);
    lock.release();
    logSeal(logger_, std::move(opening));
    lock.take();
    report(opened);
    startThread();
}

// Under the lock. The thread would inherit the caller's signal mask: it
// blocks everything, so that a signal the host handles (or waits for with
// sigwait) is never delivered to it.
void SealWorker::startThread() {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    running_ = joinable_ = pthread_create(&thread_, nullptr, &SealWorker::runThread, this) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool SealWorker::threadRunning() {
    Lock lock(*this);
    return running_;
}

bool SealWorker::attested() {
    Lock lock(*this);
    return attested_;
}

void SealWorker::observe(std::string_view line) {
    Lock lock(*this);
    if (forked_) restartInChild(lock);
    if (closed_) {
        sealAlone(line);
        return;
    }
    const Clock::time_point now = coarseNow();
    ledger_.record(line, now);
    if (now >= ledger_.nextDue()) {
        // Due by count or by time: cut here rather than wait for the thread,
        // so that no seal covers more lines or waits longer than declared.
        cutAndLog(lock, false);
    }
}

// A forked child's first line: a session of its own, opened before the line
// is numbered, with a thread of its own (the child runs only the thread that
// forked).
void SealWorker::restartInChild(Lock& lock) {
    forked_ = false;
    std::string opening = begin();
    const auto opened = reportOf(opening, false);
    lock.release();
    logSeal(logger_, std::move(opening));
    lock.take();
    report(opened);
    startThread();
}

// A line after the last seal (exit handlers, static destructors), when no
// key is left: a session of its own, opened, sealed and closed at once, its
// keys erased again. The lock stays held, so that such lines take turns.
void SealWorker::sealAlone(std::string_view line) {
    std::string opening = begin();
    const auto opened = reportOf(opening, false);
    logSeal(logger_, std::move(opening));
    report(opened);
    ledger_.record(line, coarseNow());
    std::string end = ledger_.cut(true, Clock::now(), wallClockMillis());
    const auto ended = reportOf(end, true);
    logSeal(logger_, std::move(end));
    report(ended);
    ledger_.finish();
}

void SealWorker::cutAndLog(Lock& lock, bool end) {
    std::string line = ledger_.cut(end, Clock::now(), wallClockMillis());
    const auto cut = reportOf(line, end);
    lock.release();
    logSeal(logger_, std::move(line));
    lock.take();
    report(cut);
}

void* SealWorker::runThread(void* worker) {
    static_cast<SealWorker*>(worker)->run();
    return nullptr;
}

// The library's thread: a seal whenever one is due, until close().
void SealWorker::run() {
    Lock lock(*this);
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        if (forking_ || now < ledger_.nextDue()) {
            waitUntil(wake_, forking_ ? Clock::time_point::max() : ledger_.nextLook(now));
            continue;
        }
        std::string line = ledger_.cut(false, Clock::now(), wallClockMillis());
        const auto cut = reportOf(line, false);
        inLog4cxx_ = true;
        lock.release();
        logSeal(logger_, std::move(line));
        lock.take();
        inLog4cxx_ = false;
        pthread_cond_broadcast(&quiet_);
        report(cut);
    }
    running_ = false;
    pthread_cond_broadcast(&quiet_);
}

// Waits on `condition` (monotonic clock) until `due` at the latest.
void SealWorker::waitUntil(pthread_cond_t& condition, Clock::time_point due) {
    if (due == Clock::time_point::max()) {
        pthread_cond_wait(&condition, &mutex_);
        return;
    }
    // steady_clock reads CLOCK_MONOTONIC: the deadline is the time point.
    const auto since = std::max(due, Clock::now()).time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const timespec until{static_cast<std::time_t>(seconds.count()),
                         static_cast<long>(std::chrono::nanoseconds(since - seconds).count())};
    pthread_cond_timedwait(&condition, &mutex_, &until);
}

void SealWorker::close() {
    Lock lock(*this);
    if (forked_ || closed_) return;
    stopping_ = true;
    pthread_cond_signal(&wake_);
    const Clock::time_point deadline = Clock::now() + kExitWait;
    while (running_ && Clock::now() < deadline)
        waitUntil(quiet_, deadline);
    if (joinable_ && !running_) {
        pthread_join(thread_, nullptr);
        joinable_ = false;
    }
    closed_ = true;
    cutAndLog(lock, true);
    ledger_.finish();
}

void SealWorker::prepareFork() {
    pthread_mutex_lock(&mutex_);
    forking_ = true;
    const Clock::time_point deadline = Clock::now() + kForkWait;
    while (inLog4cxx_ && Clock::now() < deadline)
        waitUntil(quiet_, deadline);
}

void SealWorker::afterForkInParent() {
    forking_ = false;
    pthread_cond_signal(&wake_);
    pthread_mutex_unlock(&mutex_);
}

void SealWorker::afterForkInChild() {
    resetSynchronisation();
    running_ = joinable_ = inLog4cxx_ = forking_ = false;
    forked_ = true;
    ledger_.forget();
    // The parent's link is the parent's: the child's sessions are attested
    // on connections of their own.
    link_.drop();
    // The child must not draw the random numbers its parent draws next.
    randombytes_stir();
}

} // namespace quorvel
