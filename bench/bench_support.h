// Shared pieces of the benchmark programs: heap-allocation counting, the
// discarding log4cxx appender, logging set-up, and the event texts.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

namespace quorvel_bench {

// Heap allocations made through operator new by this thread so far. The
// benchmark programs replace the global operator new to count them.
std::size_t allocationCount();

// Counts the allocations of a benchmark's timed loop: construct it right
// before the loop and call report() right after; the counter "allocs" then
// shows the allocations per iteration.
class AllocationCounter {
  public:
    explicit AllocationCounter(benchmark::State& state) : state_(state), start_(allocationCount()) {}
    void report() {
        state_.counters["allocs"] =
            benchmark::Counter(static_cast<double>(allocationCount() - start_), benchmark::Counter::kAvgIterations);
    }

  private:
    benchmark::State& state_;
    std::size_t start_;
};

// Heap that a piece of work takes through operator new on this thread while
// the meter lives, in malloc's usable sizes: the most in use at once and what
// is still in use, both counted from the meter's construction.
class HeapMeter {
  public:
    HeapMeter();
    ~HeapMeter();
    HeapMeter(const HeapMeter&) = delete;
    HeapMeter& operator=(const HeapMeter&) = delete;

    long long peak() const;
    long long kept() const;
};

// Logger names configured by bench/bench.properties. Both have the
// discarding appender as their only appender; "bench.enabled" passes INFO,
// "bench.disabled" passes WARN and up, so an INFO event is dropped there.
inline const std::string kEnabledLogger = "bench.enabled";
inline const std::string kDisabledLogger = "bench.disabled";

// Initialises logging through the library (initXDAS) from
// bench/bench.properties, once per process. Returns false, after marking the
// benchmark as failed, when that does not succeed.
bool initBenchLogging(benchmark::State& state);

// The baseline of a logged event: `line` handed straight to the enabled
// logger at INFO, as often as the benchmark iterates, with the call the
// library makes. With log4cxx keeping its text as UTF-8 the line's bytes go in
// unconverted (forcedLogLS); plain forcedLog would first decode them from the
// locale, which the library does not pay.
void runBareForcedLog(benchmark::State& state, const std::string& line);

// What a caller pays that hands the same ready line to log4cxx itself, as
// often as the benchmark iterates: the logger looked up by `loggerName`, its
// level tested at INFO, and the line handed over when that passes.
void runBareByName(benchmark::State& state, const std::string& loggerName, const std::string& line);

// `length` bytes of text in which about every third byte needs escaping in
// both line formats: double quote, backslash, line feed, carriage return,
// tab, "=", "|" and the control byte 0x01, between plain letters.
std::string escapeHeavyText(std::size_t length);

// `length` bytes of text such as audit events carry: URLs with queries, file
// paths, tokens. A few bytes in a hundred need escaping: in extension values
// "=" and backslash (about four), in header values and JSON strings the
// backslash (about two).
std::string typicalText(std::size_t length);

} // namespace quorvel_bench
