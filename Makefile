# Thin wrapper over CMake. `make demo` and `make check` are the two commands
# a newcomer needs; both install missing Debian packages first.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

PREFIX ?= /usr/local

.PHONY: all deps configure build demo relay-demo check check-asan check-tsan fuzz bench install package clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	VRQ_SERVER_CONFIGDIR=$(CURDIR)/examples $(BUILD_DIR)/examples/quorvel-demo examples/log4cxx.properties

# The relay of examples/relay/ on the loopback interface: a forwarder and two
# collectors (rsyslogd, RELP over TLS), a host logging both event kinds; shows
# where each line went and what the SIEM parsers read, then stops them all.
relay-demo: build
	examples/relay/demo $(BUILD_DIR)

check: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The library, its headers, both tools, the CMake package and quorvel.pc under
# PREFIX (make install PREFIX=/opt/quorvel), and the Debian package.
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The whole suite under AddressSanitizer with UndefinedBehaviorSanitizer, and
# under ThreadSanitizer, each in a build directory of its own.
check-asan: deps
	cmake -S . -B $(BUILD_DIR)-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZER=address $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-asan -j $(JOBS)
	ctest --test-dir $(BUILD_DIR)-asan --output-on-failure -j $(JOBS)

# ThreadSanitizer takes its suppressions (for code outside the library only)
# from tests/sanitizers/tsan.supp, and does not sleep a second at every exit:
# the lifetime test starts hundreds of processes.
TSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/sanitizers/tsan.supp atexit_sleep_ms=0

check-tsan: deps
	cmake -S . -B $(BUILD_DIR)-tsan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZER=thread $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-tsan -j $(JOBS)
	TSAN_OPTIONS="$(TSAN_OPTIONS)" ctest --test-dir $(BUILD_DIR)-tsan --output-on-failure -j $(JOBS)

# The libFuzzer targets, built with clang in a build directory of their own,
# each run for FUZZ_SECONDS from its seed corpus in fuzz/corpus/ (what they
# find is kept in the build directory; crashing inputs land in its
# artifacts/).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = catalog_fuzzer cef_line_fuzzer xdas_string_fuzzer
FUZZ_DIR = $(BUILD_DIR)-fuzz

fuzz:
	scripts/install-deps fuzz
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON \
	  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_EXAMPLES=OFF -DQUORVEL_BUILD_TOOLS=OFF -DQUORVEL_BUILD_BENCH=OFF \
	  $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(FUZZ_TARGETS)
	mkdir -p $(FUZZ_DIR)/artifacts
	for target in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$target && \
	  $(FUZZ_DIR)/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_DIR)/artifacts/$$target- $(FUZZ_DIR)/corpus/$$target fuzz/corpus/$$target || exit 1; \
	done

# The benchmarks against their peers, in a build directory of their own:
# repeated runs, JSON results beside the programs, then one table of medians
# and ratios. Needs the packages of `scripts/install-deps bench`.
BENCH_BUILD_DIR ?= $(BUILD_DIR)-bench
BENCH_FLAGS ?= --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
BENCH_PROGRAMS = xdas_bench cef_bench

bench:
	scripts/install-deps bench
	cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUORVEL_BENCH_REQUIRED=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target $(BENCH_PROGRAMS)
	for program in $(BENCH_PROGRAMS); do \
	  $(BENCH_BUILD_DIR)/bench/$$program $(BENCH_FLAGS) \
	    --benchmark_out=$(BENCH_BUILD_DIR)/bench/$$program.json --benchmark_out_format=json || exit 1; \
	done
	python3 bench/report.py $(foreach program,$(BENCH_PROGRAMS),$(BENCH_BUILD_DIR)/bench/$(program).json)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-asan $(BUILD_DIR)-tsan $(BUILD_DIR)-fuzz $(BUILD_DIR)-bench
