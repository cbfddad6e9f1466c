# Thin wrapper over CMake. `make demo` and `make check` are the two commands
# a newcomer needs; both install missing Debian packages first.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build demo check check-asan check-tsan clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	VRQ_SERVER_CONFIGDIR=$(CURDIR)/examples $(BUILD_DIR)/examples/quorvel-demo examples/log4cxx.properties

check: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer with UndefinedBehaviorSanitizer, and
# under ThreadSanitizer, each in a build directory of its own.
check-asan: deps
	cmake -S . -B $(BUILD_DIR)-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZER=address $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-asan -j $(JOBS)
	ctest --test-dir $(BUILD_DIR)-asan --output-on-failure -j $(JOBS)

check-tsan: deps
	cmake -S . -B $(BUILD_DIR)-tsan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZER=thread $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-tsan -j $(JOBS)
	ctest --test-dir $(BUILD_DIR)-tsan --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-asan $(BUILD_DIR)-tsan
