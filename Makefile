# The project's commands. Each installs what it needs first (scripts/setup).
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all setup build test test-fast test-asan demo bench install clean

all: build

setup:
	@scripts/setup

build: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The suite once as built, then once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
test: test-fast test-asan

test-fast: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: setup
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTHUMBNAIL_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

bench: build
	@bench/run $(BUILD)

install: build
	@cmake --install $(BUILD) --prefix $(DESTDIR)$(PREFIX) >/dev/null
	@echo "installed under $(DESTDIR)$(PREFIX)"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
