# Thin wrapper over CMake. `make demo` and `make check` are the two commands
# a newcomer needs; both install missing Debian packages first.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build demo check clean

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

clean:
	rm -rf $(BUILD_DIR)
