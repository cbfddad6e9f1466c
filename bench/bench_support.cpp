#include "bench_support.h"

#include <quorvel/logging.h>

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/helpers/object.h>
#include <log4cxx/logger.h>

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

// --- Allocation counting --------------------------------------------------------
//
// Replacing the global allocation functions counts every allocation that goes
// through operator new, in the library, in log4cxx and in the peers alike.
// The count is per thread, so a stray log4cxx thread cannot disturb it.

namespace {
thread_local std::size_t allocations = 0;

// Bytes in use while a HeapMeter lives; only then are sizes looked up.
thread_local bool metering = false;
thread_local long long heapInUse = 0;
thread_local long long heapPeak = 0;

void* countedAllocate(std::size_t size) noexcept {
    ++allocations;
    void* const memory = std::malloc(size == 0 ? 1 : size);
    if (metering && memory != nullptr) {
        heapInUse += static_cast<long long>(malloc_usable_size(memory));
        heapPeak = std::max(heapPeak, heapInUse);
    }
    return memory;
}

void* throwingAllocate(std::size_t size) {
    if (void* memory = countedAllocate(size)) return memory;
    throw std::bad_alloc();
}

void countedFree(void* memory) noexcept {
    if (metering && memory != nullptr) heapInUse -= static_cast<long long>(malloc_usable_size(memory));
    std::free(memory);
}
} // namespace

void* operator new(std::size_t size) { return throwingAllocate(size); }
void* operator new[](std::size_t size) { return throwingAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocate(size); }
void operator delete(void* memory) noexcept { countedFree(memory); }
void operator delete[](void* memory) noexcept { countedFree(memory); }
void operator delete(void* memory, std::size_t) noexcept { countedFree(memory); }
void operator delete[](void* memory, std::size_t) noexcept { countedFree(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { countedFree(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { countedFree(memory); }

namespace quorvel_bench {

HeapMeter::HeapMeter() {
    heapInUse = 0;
    heapPeak = 0;
    metering = true;
}
HeapMeter::~HeapMeter() { metering = false; }

long long HeapMeter::peak() const { return heapPeak; }
long long HeapMeter::kept() const { return heapInUse; }

} // namespace quorvel_bench

// --- A steady heap -------------------------------------------------------------
//
// With its default settings glibc's malloc serves blocks from 128 KiB up
// through mmap and moves that threshold as such blocks are freed, and it
// gives the top of the heap back to the system once more than twice the
// threshold is free there. A benchmark whose records need a few hundred KiB
// then pays page faults on some sizes and not on others, so that a longer
// input can run faster per byte than a shorter one. Fixed thresholds, set
// before main, serve every benchmark and every peer from a heap that keeps
// its pages: what is measured is the writing, not the kernel's paging.
namespace {
const bool steadyHeap = [] {
    constexpr int kMmapThreshold = 64 << 20;
    constexpr int kTrimThreshold = 512 << 20;
    return mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 1 && mallopt(M_TRIM_THRESHOLD, kTrimThreshold) == 1;
}();
} // namespace

// --- The discarding appender ----------------------------------------------------

// log4cxx's class macros name the helpers namespace, and from log4cxx 1.6 on
// LogString too, unqualified.
namespace helpers = log4cxx::helpers;
using log4cxx::LogString;

// Receives every event of the loggers it is attached to and drops it, so a
// benchmark of a logging call measures log4cxx's dispatch and not an output
// device. bench.properties names it by its class.
class DiscardingAppender : public log4cxx::AppenderSkeleton {
  public:
    DECLARE_LOG4CXX_OBJECT(DiscardingAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(DiscardingAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void close() override {}
    bool requiresLayout() const override { return false; }

  protected:
    void append(const log4cxx::spi::LoggingEventPtr&, log4cxx::helpers::Pool&) override {}
};

IMPLEMENT_LOG4CXX_OBJECT(DiscardingAppender)

namespace quorvel_bench {

std::size_t allocationCount() { return allocations; }

bool initBenchLogging(benchmark::State& state) {
    static const int status = initXDAS(QUORVEL_BENCH_PROPERTIES);
    if (status != 0) {
        state.SkipWithError("initXDAS(bench.properties) failed");
        return false;
    }
    return true;
}

namespace {

// `pattern` repeated to `length` bytes, cut in the middle of a repetition
// where the length says.
template <std::size_t N> std::string repeated(const char (&pattern)[N], std::size_t length) {
    std::string text;
    text.reserve(length);
    for (std::size_t i = 0; i < length; ++i)
        text += pattern[i % (N - 1)];
    return text;
}

} // namespace

std::string escapeHeavyText(std::size_t length) { return repeated("a\"b\\c\nd\te=f|g\rh\x01", length); }

std::string typicalText(std::size_t length) {
    return repeated("GET https://portal.example.com/api/v2/users?id=4711&sort=name "
                    "/srv/app/releases/2026-12/bin/worker token=eyJhbGciOiJIUzI1NiJ9.c3ViIjoi "
                    "C:\\ProgramData\\App\\logs ",
                    length);
}

namespace {

void handOver(const log4cxx::LoggerPtr& logger, const log4cxx::LevelPtr& level, const std::string& line) {
#if LOG4CXX_LOGCHAR_IS_UTF8
    logger->forcedLogLS(level, line, LOG4CXX_LOCATION);
#else
    logger->forcedLog(level, line, LOG4CXX_LOCATION);
#endif
}

} // namespace

void runBareForcedLog(benchmark::State& state, const std::string& line) {
    const log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(kEnabledLogger);
    const log4cxx::LevelPtr level = log4cxx::Level::getInfo();
    AllocationCounter allocations(state);
    for (auto _ : state)
        handOver(logger, level, line);
    allocations.report();
}

void runBareByName(benchmark::State& state, const std::string& loggerName, const std::string& line) {
    const log4cxx::LevelPtr level = log4cxx::Level::getInfo();
    AllocationCounter allocations(state);
    for (auto _ : state) {
        const log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(loggerName);
        if (logger->isEnabledFor(level)) handOver(logger, level, line);
    }
    allocations.report();
}

} // namespace quorvel_bench
