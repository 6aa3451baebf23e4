# The project's commands. Each installs what it needs first (scripts/setup).
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=
MAKEFLAGS += --no-print-directory

.PHONY: all setup build test test-fast test-asan demo bench install clean windows test-windows

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
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX) >/dev/null
	@echo "installed under $(DESTDIR)$(PREFIX)"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(DEB_BUILD)

# The Debian packages (thumbnail, libthumbnail-client0,
# libthumbnail-client-dev) in $(DEB_BUILD), checked by lintian; then
# installed, used (also by GNOME's thumbnail factory and XFCE's tumblerd)
# and removed in a fresh Debian 12 chroot.
DEB_BUILD ?= build-deb
DEB_PACKAGES = debhelper dpkg-dev fakeroot lintian
CHROOT_PACKAGES = debootstrap

.PHONY: deb test-deb test-desktop

deb:
	@scripts/setup $(DEB_PACKAGES)
	@scripts/build-deb $(DEB_BUILD) $(JOBS)

test-deb: deb
	@scripts/setup $(CHROOT_PACKAGES)
	@scripts/deb-chroot-test $(DEB_BUILD)

# Reliability: the libFuzzer harnesses, built with clang in their own folder
# and run for a bounded time each, and the soak.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 1200
FUZZ_SMOKE_RUNS ?= 4000
FUZZ_PACKAGES = clang libclang-rt-14-dev

.PHONY: fuzz fuzz-smoke soak

fuzz:
	@scripts/setup $(FUZZ_PACKAGES)
	@JOBS=$(JOBS) tests/fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke:
	@scripts/setup $(FUZZ_PACKAGES)
	@JOBS=$(JOBS) FUZZ_RUNS=$(FUZZ_SMOKE_RUNS) tests/fuzz/run $(FUZZ_BUILD)

# One server, ten thousand requests (SOAK_REQUESTS to change): memory,
# descriptors and every reply.
soak: build
	@$(BUILD)/bin/soak_test

# The Windows server, cross-built with mingw-w64, and its protocol test run
# under Wine in a prefix of its own (in the build folder).
WIN_BUILD ?= build-win
WIN_PACKAGES = g++-mingw-w64-x86-64-posix wine wine64 \
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav

windows:
	@scripts/setup $(WIN_PACKAGES)
	@cmake -S platform/windows -B $(WIN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/platform/windows/mingw-toolchain.cmake >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)

test-windows: windows
	@tests/windows/run $(WIN_BUILD)

# GNOME's thumbnail factory and XFCE's tumblerd on our entry. The factory
# runs the tool in its own bubblewrap sandbox, which binds only /usr: so
# this installs under /usr (on this machine). make test-deb runs the same
# test in its chroot, on the packages.
DESKTOP_PACKAGES = python3-gi gir1.2-gnomedesktop-3.0 gir1.2-gdkpixbuf-2.0 bubblewrap tumbler dbus

test-desktop:
	@scripts/setup $(DESKTOP_PACKAGES)
	@$(MAKE) install PREFIX=/usr
	@scripts/desktop-consumers-test
