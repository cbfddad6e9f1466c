# Thin wrapper over CMake. `make demo` and `make check` are the two commands
# a newcomer needs; both install missing Debian packages first.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Every build made here treats compiler warnings as errors.
WERROR = -DQUORVEL_WERROR=ON

PREFIX ?= /usr/local

.PHONY: all deps configure build host-name demo relay-demo fleet-demo cef-interop measure-delivery check check-unit check-log4cxx check-asan check-tsan fuzz bench bench-verify install package format coverage clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(WERROR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	VRQ_SERVER_CONFIGDIR=$(CURDIR)/examples $(BUILD_DIR)/examples/quorvel-demo examples/log4cxx.properties

# The relay of examples/relay/ on the loopback interface: a forwarder and two
# collectors (rsyslogd, RELP over TLS), a host logging both event kinds; shows
# where each line went and what the SIEM parsers read, then stops them all.
relay-demo: build
	examples/relay/demo $(BUILD_DIR)

# A simulated fleet (examples/fleet/): 20 enrolled hosts, each in namespaces
# of its own with its agent, a forwarder and two sealed servers, relaying to
# two collectors over RELP with TLS for 60 s, with restarts and forks; then
# quorvel-verify with the auditor's registry at each collector. Root only;
# about 75 s on two cores.
fleet-demo: build
	examples/fleet/run $(BUILD_DIR)

# What each audit path a host can configure does when delivery fails, with
# the sealed trail's verifier counting the loss (root: it uses a mount
# namespace and tmpfs file systems); prints one line per run.
measure-delivery: build
	measure/measure-delivery $(BUILD_DIR)

# One corpus of hostile CEF events logged through the library, read back by
# the tests' strict parser, liblognorm (through rsyslog's mmnormalize) and
# jc; prints what each reads whole and what it misreads.
cef-interop: build
	measure/cef-interop $(BUILD_DIR)

# The simulated fleet's test runs at one size per suite: `make check` runs
# the 20-host fleet (label fleet20) and leaves out the 3-host one (fleet3);
# the other suites (another log4cxx, the sanitizers, coverage) run fleet3
# and leave out fleet20.
check: build host-name
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -LE fleet3

# Most tests initialise the library, which reports a host name that does not
# resolve as an error (a chroot whose /etc/hosts lacks it, say): say so once
# rather than fail them one by one.
host-name:
	@name=$$(hostname); getent hosts "$$name" > /dev/null || { \
	  echo "make: this machine's host name $$name does not resolve (getent hosts $$name finds nothing)," \
	    "and most tests need it to: add it to /etc/hosts, e.g. 127.0.1.1 $$name" >&2; exit 1; }

# The quick gate: the tests labelled unit, without the real daemons, the
# tools and install, and the long runs (see tests/CMakeLists.txt).
check-unit: build host-name
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -L unit

# The library, its headers, the five tools with their manual pages and the
# host agent's systemd unit, the CMake package and quorvel.pc under PREFIX
# (make install PREFIX=/opt/quorvel).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian packages from the build tree, into BUILD_DIR; the RPM packages
# from a build tree of their own with the RHEL-family layout, into
# RPM_BUILD_DIR, signed with the GnuPG key RPM_SIGN_KEY when one is named.
RPM_BUILD_DIR ?= $(BUILD_DIR)-rpm
RPM_SIGN_KEY ?=

package: build
	cd $(BUILD_DIR) && cpack -G DEB
	cmake -C packaging/rpm/build-settings.cmake -S . -B $(RPM_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(RPM_BUILD_DIR) -j $(JOBS)
	cd $(RPM_BUILD_DIR) && cpack -G RPM
	if [ -n "$(RPM_SIGN_KEY)" ]; then \
	  rpmsign --define "_gpg_name $(RPM_SIGN_KEY)" --define "__gpg $$(command -v gpg)" --addsign $(RPM_BUILD_DIR)/*.rpm; \
	fi

# Every C++ file in the repository's .clang-format style; `make check` fails
# on a file that is not (scripts/check-format).
format:
	scripts/check-format --fix

# Line and branch coverage of src/ by the whole suite, in a build directory of
# its own; gcovr prints a table per file and the totals.
coverage:
	scripts/install-deps coverage
	cmake -S . -B $(BUILD_DIR)-coverage -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_COVERAGE=ON -DQUORVEL_BUILD_BENCH=OFF \
	  $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-coverage -j $(JOBS)
	find $(BUILD_DIR)-coverage -name '*.gcda' -delete
	ctest --test-dir $(BUILD_DIR)-coverage --output-on-failure -j $(JOBS) -LE fleet20
	gcovr --root . --filter src/ --exclude-unreachable-branches --exclude-throw-branches --print-summary \
	  $(BUILD_DIR)-coverage

# The whole suite against another log4cxx, built from its source release into
# a private prefix (kept and reused while the release is the same), with
# quorvel in a build directory of its own; the benchmarks are compiled too.
# The suite checks that its programs load that log4cxx, not the system's.
LOG4CXX_SOURCE ?= ../shared/deps/apache-log4cxx-1.8.0.tar.gz
LOG4CXX_DIR = $(BUILD_DIR)-$(basename $(basename $(notdir $(LOG4CXX_SOURCE))))

check-log4cxx:
	scripts/install-deps bench
	scripts/install-deps log4cxx-source
	scripts/build-log4cxx $(LOG4CXX_SOURCE) $(LOG4CXX_DIR)
	cmake -S . -B $(LOG4CXX_DIR)/quorvel -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DLOG4CXX_ROOT=$(abspath $(LOG4CXX_DIR))/prefix \
	  -DQUORVEL_BENCH_REQUIRED=ON $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(LOG4CXX_DIR)/quorvel -j $(JOBS)
	ctest --test-dir $(LOG4CXX_DIR)/quorvel --output-on-failure -j $(JOBS) -LE fleet20

# The whole suite under AddressSanitizer with UndefinedBehaviorSanitizer, and
# under ThreadSanitizer, each in a build directory of its own.
check-asan: deps
	cmake -S . -B $(BUILD_DIR)-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZER=address $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-asan -j $(JOBS)
	ctest --test-dir $(BUILD_DIR)-asan --output-on-failure -j $(JOBS) -LE fleet20

# ThreadSanitizer takes its suppressions (for code outside the library only)
# from tests/sanitizers/tsan.supp, and does not sleep a second at every exit:
# the lifetime test starts hundreds of processes.
TSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/sanitizers/tsan.supp atexit_sleep_ms=0

check-tsan: deps
	cmake -S . -B $(BUILD_DIR)-tsan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZER=thread $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-tsan -j $(JOBS)
	TSAN_OPTIONS="$(TSAN_OPTIONS)" ctest --test-dir $(BUILD_DIR)-tsan --output-on-failure -j $(JOBS) -LE fleet20

# The libFuzzer targets, built with clang in a build directory of their own,
# each run for FUZZ_SECONDS from its seed corpus in fuzz/corpus/ (what they
# find is kept in the build directory; crashing inputs land in its
# artifacts/).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = catalog_fuzzer cef_line_fuzzer xdas_string_fuzzer trail_verify_fuzzer
FUZZ_DIR = $(BUILD_DIR)-fuzz

fuzz:
	scripts/install-deps fuzz
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON \
	  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_EXAMPLES=OFF -DQUORVEL_BUILD_TOOLS=OFF -DQUORVEL_BUILD_BENCH=OFF \
	  $(WERROR) $(CMAKE_FLAGS)
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
BENCH_FLAGS ?= --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
BENCH_PROGRAMS = xdas_bench cef_bench appender_bench agent_bench fleet_bench
# Sealing, once on, stays on for the process: seal_bench runs in turns,
# unsealed and sealed, five times each, and the report takes the medians.
SEAL_BENCH_TURNS ?= 1 2 3 4 5

bench:
	scripts/install-deps bench
	cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUORVEL_BENCH_REQUIRED=ON $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target $(BENCH_PROGRAMS) seal_bench
	for program in $(BENCH_PROGRAMS); do \
	  $(BENCH_BUILD_DIR)/bench/$$program $(BENCH_FLAGS) \
	    --benchmark_out=$(BENCH_BUILD_DIR)/bench/$$program.json --benchmark_out_format=json || exit 1; \
	done
	for turn in $(SEAL_BENCH_TURNS); do \
	  $(BENCH_BUILD_DIR)/bench/seal_bench --benchmark_out=$(BENCH_BUILD_DIR)/bench/seal_bench-$$turn.json \
	    --benchmark_out_format=json && \
	  $(BENCH_BUILD_DIR)/bench/seal_bench --sealed --benchmark_out=$(BENCH_BUILD_DIR)/bench/sealed_bench-$$turn.json \
	    --benchmark_out_format=json || exit 1; \
	done
	python3 bench/report.py $(foreach program,$(BENCH_PROGRAMS),$(BENCH_BUILD_DIR)/bench/$(program).json) \
	  $(foreach turn,$(SEAL_BENCH_TURNS),$(BENCH_BUILD_DIR)/bench/seal_bench-$(turn).json \
	    $(BENCH_BUILD_DIR)/bench/sealed_bench-$(turn).json)

# quorvel-verify on a collector's trail (1,000 sessions merged at random,
# about 10 million lines) against the same sessions in order, and on hostile
# trails against an untouched one of the same size (bench/verify_bench.py);
# the trails are written by bench/trail_collection into a temporary directory
# and removed after each run. VERIFY_BENCH_FLAGS passes options to the script,
# for example --lines 200000 --sessions 100 --hostile-lines 200000.
VERIFY_BENCH_FLAGS ?=

bench-verify:
	scripts/install-deps bench
	cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUORVEL_BENCH_REQUIRED=ON $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target trail_collection quorvel-verify
	python3 bench/verify_bench.py $(BENCH_BUILD_DIR) $(VERIFY_BENCH_FLAGS)

clean:
	rm -rf $(BUILD_DIR) $(RPM_BUILD_DIR) $(BUILD_DIR)-apache-log4cxx-* $(BUILD_DIR)-coverage $(BUILD_DIR)-asan $(BUILD_DIR)-tsan $(BUILD_DIR)-fuzz $(BUILD_DIR)-bench
