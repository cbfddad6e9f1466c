#include "logging/seal_session.h"

#include "logging/log_emitter.h"
#include "logging/seal_record.h"

#include <quorvel/logging.h>

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t wallClockMillis() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

// How long the exit handler waits for the sealing thread to finish the seal
// it may be writing before it makes the last seal itself.
constexpr auto kExitWait = std::chrono::seconds(2);

} // namespace

// The state of one session, under `mutex_`. Never destroyed: the exit
// handler, and threads still logging while the process exits, use it.
class SealSession {
  public:
    SealSession(SealSettings settings, std::string host, std::string module)
        : settings_(std::move(settings)), host_(std::move(host)), module_(std::move(module)) {
        initialiseOnMonotonicClock(wake_);
        begin();
    }

    // Writes the opening seal on the caller's thread, then starts the thread
    // that writes the others.
    void open() {
        Lock lock(*this);
        Seal seal = cut(false);
        lock.release();
        emit(seal);
        Lock again(*this);
        startThread();
    }

    // The tag is made with the key of the seal that will cover the line,
    // outside the lock, which threads logging at once would otherwise wait
    // for: the key is copied under the lock, and the tag made again under it
    // in the rare case that a seal was cut in between.
    void record(std::string_view line) {
        seal::TagKey key;
        std::uint64_t index;
        while (true) {
            Lock lock(*this);
            if (!forked_) {
                key = keys_.tag;
                index = index_;
                break;
            }
            lock.release();
            restartInChild();
        }
        seal::LineTag tag = seal::tagOf(key, line);
        seal::erase(key);
        const seal::LineLocator locator = seal::locatorOf(line);
        Lock lock(*this);
        if (index != index_) tag = seal::tagOf(keys_.tag, line);
        if (pending_.empty()) firstPendingAt_ = Clock::now();
        pending_.push_back(tag);
        pendingLocators_.push_back(locator);
        ++nextLine_;
        if (closed_) {
            // After the last seal (exit handlers, static destructors): each
            // line gets a last seal of its own at once.
            Seal seal = cut(true);
            lock.release();
            emit(seal);
        } else if (pending_.size() >= settings_.lines) {
            // The count is due: sealed here, so that no seal ever covers more
            // lines than the session declares, however fast lines come.
            Seal seal = cut(false);
            lock.release();
            emit(seal);
        } else if (pending_.size() == 1) {
            // The first line moves the next seal from the idle time to the
            // line's own.
            pthread_cond_signal(&wake_);
        }
    }

    // The exit handler: the thread's last seal, then a last seal marked as
    // the session's end. Not for a forked child that never logged.
    void close() {
        Lock lock(*this);
        if (forked_ || closed_) return;
        stopping_ = true;
        pthread_cond_signal(&wake_);
        const std::time_t deadline = std::time(nullptr) + kExitWait.count();
        const timespec until{deadline, 0};
        while (threadRunning_ && pthread_cond_timedwait(&finished_, &mutex_, &until) == 0) {
        }
        if (joinable_ && !threadRunning_) {
            pthread_join(thread_, nullptr);
            joinable_ = false;
        }
        Seal seal = cut(true);
        closed_ = true;
        lock.release();
        emit(seal);
    }

    // fork() in any thread: the child has the parent's state but not its
    // thread; its first line starts a session of its own.
    void prepareFork() { pthread_mutex_lock(&mutex_); }
    void afterForkInParent() { pthread_mutex_unlock(&mutex_); }
    void afterForkInChild() {
        mutex_ = PTHREAD_MUTEX_INITIALIZER;
        initialiseOnMonotonicClock(wake_);
        finished_ = PTHREAD_COND_INITIALIZER;
        threadRunning_ = joinable_ = false;
        forked_ = true;
        seal::erase(key_);
        seal::erase(keys_);
        pending_.clear();
        pendingLocators_.clear();
    }

  private:
    // A seal cut from the session, to be written without the lock.
    struct Seal {
        seal::SealRecord record;
        seal::Bytes32 macKey;
    };

    class Lock {
      public:
        explicit Lock(SealSession& session) : mutex_(&session.mutex_) { pthread_mutex_lock(mutex_); }
        ~Lock() {
            if (mutex_) pthread_mutex_unlock(mutex_);
        }
        void release() {
            pthread_mutex_unlock(mutex_);
            mutex_ = nullptr;
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pthread_mutex_t* mutex_;
    };

    // A forked child's first line: a session of its own, opened before the
    // line is numbered (the child runs only the thread that forked).
    void restartInChild() {
        {
            Lock lock(*this);
            if (!forked_) return;
            begin();
        }
        open();
    }

    // A new session: identifier, first key, numbering from 0. Under the
    // lock, or before the session is published.
    void begin() {
        id_ = seal::randomSessionId();
        key_ = seal::randomSealKey();
        keys_ = seal::sealKeysOf(key_);
        encryptedFirstKey_ = seal::encryptForAuditor(key_, settings_.auditor);
        pid_ = static_cast<std::uint64_t>(getpid());
        index_ = 0;
        nextLine_ = 0;
        pending_.clear();
        pendingLocators_.clear();
        forked_ = stopping_ = closed_ = false;
        lastSealAt_ = Clock::now();
    }

    void startThread() {
        threadRunning_ = joinable_ = pthread_create(&thread_, nullptr, &SealSession::runThread, this) == 0;
    }

    static void* runThread(void* session) {
        static_cast<SealSession*>(session)->run();
        return nullptr;
    }

    // The library's thread: a seal whenever one is due, until close().
    void run() {
        Lock lock(*this);
        while (!stopping_) {
            const Clock::time_point due = nextSealDue();
            if (Clock::now() < due) {
                waitUntil(due);
                continue;
            }
            Seal seal = cut(false);
            pthread_mutex_unlock(&mutex_);
            emit(seal);
            pthread_mutex_lock(&mutex_);
        }
        threadRunning_ = false;
        pthread_cond_signal(&finished_);
    }

    // When the next seal is due: the opening at once; with lines pending,
    // when they reach the count or the first has waited its time; else when
    // the session has been idle its time.
    Clock::time_point nextSealDue() const {
        if (index_ == 0 || pending_.size() >= settings_.lines) return Clock::time_point::min();
        if (!pending_.empty()) return firstPendingAt_ + std::chrono::milliseconds(settings_.millis);
        return lastSealAt_ + std::chrono::milliseconds(settings_.idleMillis);
    }

    // wake_ waits on the monotonic clock, which steady_clock reads: the
    // deadline is the time point itself, whatever the wall clock does.
    void waitUntil(Clock::time_point due) {
        const auto since = std::max(due, Clock::now()).time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
        const timespec until{static_cast<std::time_t>(seconds.count()),
                             static_cast<long>(std::chrono::nanoseconds(since - seconds).count())};
        pthread_cond_timedwait(&wake_, &mutex_, &until);
    }

    static void initialiseOnMonotonicClock(pthread_cond_t& condition) {
        pthread_condattr_t attributes;
        pthread_condattr_init(&attributes);
        pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        pthread_cond_init(&condition, &attributes);
        pthread_condattr_destroy(&attributes);
    }

    // Takes the pending lines into the next seal and moves the session on to
    // the next key, erasing this one. Under the lock.
    Seal cut(bool end) {
        Seal seal{};
        seal::SealRecord& record = seal.record;
        record.session = id_;
        record.index = index_;
        record.time = wallClockMillis();
        record.first = nextLine_ - pending_.size();
        record.tags.swap(pending_);
        record.locators.swap(pendingLocators_);
        pending_.reserve(settings_.lines);
        pendingLocators_.reserve(settings_.lines);
        record.end = end;
        if (index_ == 0)
            record.opening = seal::SessionOpening{
                host_, module_, pid_, settings_.lines, settings_.millis, settings_.idleMillis, encryptedFirstKey_};
        seal.macKey = keys_.mac;
        const seal::SealKey next = seal::nextSealKey(key_);
        seal::erase(key_);
        key_ = next;
        keys_ = seal::sealKeysOf(key_);
        ++index_;
        lastSealAt_ = Clock::now();
        return seal;
    }

    // Writes a seal through log4cxx, without the lock. A seal that cannot be
    // written is lost like any line (the verifier shows the gap); it never
    // reaches the caller whose line triggered it.
    void emit(Seal& seal) {
        std::string line = seal::writeSeal(seal.record, seal.macKey);
        seal::erase(seal.macKey);
        try {
            emitSealLine(settings_.logger, std::move(line));
        } catch (...) {
        }
    }

    const SealSettings settings_;
    const std::string host_;
    const std::string module_;

    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t wake_{};                              // a seal may be due (monotonic clock)
    pthread_cond_t finished_ = PTHREAD_COND_INITIALIZER; // the thread has stopped
    pthread_t thread_{};
    bool joinable_ = false;      // thread_ was started and not joined
    bool threadRunning_ = false; // it has not left run()
    bool stopping_ = false;
    bool closed_ = false;
    bool forked_ = false;

    seal::SessionId id_{};
    seal::SealKey key_{};
    seal::SealKeys keys_{};
    seal::EncryptedKey encryptedFirstKey_{};
    std::uint64_t pid_ = 0;
    std::uint64_t index_ = 0;
    std::uint64_t nextLine_ = 0;
    std::vector<seal::LineTag> pending_;
    std::vector<seal::LineLocator> pendingLocators_; // of the same lines
    Clock::time_point firstPendingAt_;
    Clock::time_point lastSealAt_;
};

namespace {

std::atomic<SealSession*> activeSession{nullptr};

void closeAtExit() {
    if (SealSession* session = activeSession.load(std::memory_order_acquire)) session->close();
}
void prepareFork() { activeSession.load(std::memory_order_acquire)->prepareFork(); }
void afterForkInParent() { activeSession.load(std::memory_order_acquire)->afterForkInParent(); }
void afterForkInChild() { activeSession.load(std::memory_order_acquire)->afterForkInChild(); }

} // namespace

SealSession* activeSealSession() { return activeSession.load(std::memory_order_acquire); }

SealSession* startSealing(const SealSettings& settings, const std::string& host, const std::string& module) {
    if (activeSession.load(std::memory_order_acquire) != nullptr || !seal::cryptoReady()) return nullptr;
    auto* session = new SealSession(settings, host, module);
    activeSession.store(session, std::memory_order_release);
    return session;
}

void openSealedSession(SealSession& session) {
    session.open();
    // Registered after the opening seal went through log4cxx, so that the
    // exit handler runs before the exit-time destructors of what log4cxx
    // built for it.
    pthread_atfork(&prepareFork, &afterForkInParent, &afterForkInChild);
    std::atexit(&closeAtExit);
}

void recordSealedLine(SealSession& session, std::string_view line) { session.record(line); }

} // namespace quorvel

extern "C" void closeSealedSession() { quorvel::closeAtExit(); }
