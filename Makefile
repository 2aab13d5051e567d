# Quick start on a fresh Debian 12 machine:  make demo   |   make test
# Each target installs the Debian packages it needs first (apt-get, through sudo when not root).

PACKAGES := g++ make cmake pkg-config libtinyxml-dev nlohmann-json3-dev libcurl4-openssl-dev \
            libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev libgtk-3-dev xvfb xauth \
            clang libclang-rt-14-dev
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Seconds each fuzz target runs in `make fuzz`, and in the short fuzz step of `make test`.
FUZZ_SECONDS ?= 60
FUZZ_TEST_SECONDS ?= 4
# Seconds of `make soak`, and of the short soak in `make test`.
SOAK_SECONDS ?= 600
SOAK_TEST_SECONDS ?= 60
# The Windows setup dialog's window tests keep their captures as PNG files.
PACKAGES += imagemagick
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build test bench demo fuzz build-fuzz test-fuzz soak test-soak clean \
        $(foreach p,debug release asan tsan,build-$(p) test-$(p))

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

# build/<preset>: configure once, then build incrementally; tests run in parallel.
define PRESET_RULES
build-$(1): deps
	@[ -f build/$(1)/CMakeCache.txt ] || cmake --preset $(1)
	cmake --build --preset $(1) -j $(JOBS)

test-$(1): build-$(1)
	ctest --preset $(1) -j $(JOBS)
endef
$(foreach p,debug release asan tsan,$(eval $(call PRESET_RULES,$(p))))

build: build-debug

test: test-debug test-asan test-tsan test-fuzz test-soak

# The fuzz build (clang) holds only the fuzz programs and the library they read with.
build-fuzz: deps
	@[ -f build/fuzz/CMakeCache.txt ] || cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

fuzz: build-fuzz
	fuzz/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

test-fuzz: build-fuzz
	fuzz/run-fuzzers.sh build/fuzz $(FUZZ_TEST_SECONDS)

# The plug-in in zrkhost against a misbehaving loopback server (tools/soak), from the debug build.
soak: deps
	@[ -f build/debug/CMakeCache.txt ] || cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target soak zrkhost VeltranoCalendar
	build/debug/bin/soak --seconds $(SOAK_SECONDS)

test-soak: build-debug
	build/debug/bin/soak --seconds $(SOAK_TEST_SECONDS)

bench: build-release
	@for b in build/release/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

# The plug-in in zrkhost against calendar-server with a calendar planned a few seconds ahead; about a
# minute, or until Ctrl-C. Builds only the three programs it runs.
demo: deps
	@[ -f build/release/CMakeCache.txt ] || cmake --preset release
	cmake --build --preset release -j $(JOBS) --target VeltranoCalendar zrkhost calendar-server
	@sh tools/demo/run-demo.sh build/release

clean:
	rm -rf build
