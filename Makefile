# Quick start on a fresh Debian 12 machine:  make demo   |   make test
# Each target installs the Debian packages it needs first (apt-get, through sudo when not root); make test
# installs every package of the run in its first step, before anything is built.

# Every Debian package a run needs, in one list: add one with `PACKAGES += name` and a comment saying why.
PACKAGES := g++ make cmake pkg-config libtinyxml-dev nlohmann-json3-dev libcurl4-openssl-dev \
            libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev libgtk-3-dev xvfb xauth \
            clang libclang-rt-14-dev libsqlite3-dev libical-dev libnova-dev python3-ephem \
            g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 \
            binutils-mingw-w64-i686 googletest wine wine64 dpkg-dev
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Seconds each fuzz target runs in `make fuzz`, and in the short fuzz step of `make test`.
FUZZ_SECONDS ?= 60
FUZZ_TEST_SECONDS ?= 4
# Seconds of `make soak`, and of the short soak in `make test`.
SOAK_SECONDS ?= 600
SOAK_TEST_SECONDS ?= 60
# The Windows setup dialog's window tests keep their captures as PNG files.
PACKAGES += imagemagick
# The Windows calendar server: SQLite's one-file source is made with tclsh; the zone data shipped with it.
PACKAGES += tcl tzdata
# The Windows installer (make dist).
PACKAGES += nsis
# The real-calendar step's independent expansion.
PACKAGES += python3-icalendar python3-recurring-ical-events
# The plan page's login: its password hash.
PACKAGES += libsodium-dev
# The plan page's browser tests and benchmark: Debian's chromium driven by python3-selenium, installed without
# their recommendations (large, and unneeded headless); Debian's nodejs and npm only where no npm is on the
# PATH (the page's calendar library is fetched with npm at build time).
LEAN_PACKAGES := chromium chromium-driver python3-selenium $(shell command -v npm >/dev/null 2>&1 || echo nodejs npm)
# Packages a run can do without: when one cannot be installed (a mirror in sync), the parts that need it are
# counted as skipped, with apt's reason, in the summary. wine32:i386 runs the 32-bit DLL's programs.
OPTIONAL_PACKAGES := wine32:i386

.PHONY: deps deps-test deps-wine32 build build-drivers build-soak build-windows-x86-test test test-windows-builds bench demo fuzz build-fuzz test-fuzz soak test-soak test-real-calendars clean \
        dist installer \
        $(foreach p,debug release asan tsan windows windows-x86,build-$(p) test-$(p))

deps:
	@tools/ci/install-packages.sh $(addprefix --lean ,$(LEAN_PACKAGES)) $(PACKAGES)

deps-test:
	@tools/ci/install-packages.sh $(addprefix --optional ,$(OPTIONAL_PACKAGES)) $(addprefix --lean ,$(LEAN_PACKAGES)) \
	  $(PACKAGES)

# build/<preset>: configure once, then build incrementally; tests run in parallel.
define PRESET_RULES
build-$(1): deps
	@[ -f build/$(1)/CMakeCache.txt ] || cmake --preset $(1)
	cmake --build --preset $(1) -j $(JOBS)

test-$(1): build-$(1)
	ctest --preset $(1) -j $(JOBS)
endef
$(foreach p,debug release asan tsan,$(eval $(call PRESET_RULES,$(p))))

# The Windows DLLs, cross-built with mingw-w64 (build/windows/bin, build/windows-x86/bin).
build-windows build-windows-x86: build-%: deps
	@[ -f build/$*/CMakeCache.txt ] || cmake --preset $*
	cmake --build --preset $* -j $(JOBS)

# Wine's 32-bit half, which runs the 32-bit DLL's programs: Debian's wine32 from the i386 architecture, added
# to dpkg when it is missing. When it cannot be installed, the Windows step skips the 32-bit programs.
deps-wine32: deps
	@tools/ci/install-packages.sh --optional wine32:i386

# For each DLL (64-bit and 32-bit): the Windows test programs under Wine, its exports, and zrkhost.exe with
# the DLL against the Linux calendar-server (the end-to-end test, the setup dialog's window tests and the
# lateness benchmark of the asan build drive them); then calendar-server.exe as a Windows service and the
# setup's silent install and uninstall (the setup is built first).
TEST_WINDOWS = env ZRK_DRIVERS=$(DRIVERS) sh tools/windows/test-windows.sh
test-windows: build-windows build-windows-x86 build-drivers deps-wine32
	@[ ! -f build/windows/bin/calendar-server.exe ] || $(MAKE) --no-print-directory installer
	$(TEST_WINDOWS)

build: build-debug

# The 32-bit build in make test: when Wine's 32-bit half could not be installed nothing can run its test
# programs, so only the DLL (whose exports are still checked) and zrkhost.exe are built.
build-windows-x86-test: deps
	@[ -f build/windows-x86/CMakeCache.txt ] || cmake --preset windows-x86
	@if [ -s "build/ci/unavailable/wine32:i386" ]; then \
	  echo "skipped: the 32-bit test programs are not built: wine32:i386 could not be installed"; \
	  cmake --build --preset windows-x86 -j $(JOBS) --target VeltranoCalendar zrkhost; \
	else cmake --build --preset windows-x86 -j $(JOBS); fi

# The Linux programs that the real calendars and the Windows step run or drive (the server's
# program tests drive calendar-server.exe under Wine) come from the asan build, which make test has built
# whole by then: they run with its checks on top, and no other build of the same sources is needed.
DRIVERS := build/asan
build-drivers: deps
	@[ -f $(DRIVERS)/CMakeCache.txt ] || cmake --preset asan
	cmake --build --preset asan -j $(JOBS) --target zrkhost VeltranoCalendar calendar-server test_e2e \
	  test_setupdialog test_calendar_server bench_show_lateness

# make test: every step through tools/ci/step, which shows its output, records its time and counts and goes
# on when it fails; the summary at the end lists them and closes with "N passed, N failed, N skipped" (and
# fails when anything did). A step is one line here; see docs/testing.md.
STEP := @tools/ci/step
test:
	$(STEP) --begin
	$(STEP) --fatal "packages" $(MAKE) -s deps-test
	$(STEP) --beside "windows builds" $(MAKE) -s test-windows-builds
	$(STEP) "asan build" $(MAKE) -s build-asan
	$(STEP) "asan tests" ctest --preset asan -j $(JOBS)
	$(STEP) "tsan build" $(MAKE) -s build-tsan
	$(STEP) "tsan tests" ctest --preset tsan -j $(JOBS)
	$(STEP) "fuzz build" $(MAKE) -s build-fuzz
	$(STEP) "fuzz" $(TEST_FUZZ)
	$(STEP) "soak build" $(MAKE) -s build-soak
	$(STEP) "soak" $(TEST_SOAK)
	$(STEP) "real calendars" $(TEST_REAL_CALENDARS)
	$(STEP) --join "windows builds"
	$(STEP) "windows tests" $(TEST_WINDOWS)
	$(STEP) --summary

# The Windows builds, one step each. make test runs them beside its Linux steps at the lowest CPU priority:
# they use the processors that the tests, the soak and the builds' links leave idle (about half of a test
# step's), and a test waiting for the processor takes it from them at once.
test-windows-builds:
	$(STEP) "windows build" $(MAKE) -s build-windows
	$(STEP) "windows-x86 build" $(MAKE) -s build-windows-x86-test
	$(STEP) "windows setup" $(MAKE) -s installer

# The fuzz build (clang) holds only the fuzz programs and the library they read with.
build-fuzz: deps
	@[ -f build/fuzz/CMakeCache.txt ] || cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

fuzz: build-fuzz
	fuzz/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

TEST_FUZZ = fuzz/run-fuzzers.sh build/fuzz $(FUZZ_TEST_SECONDS)
test-fuzz: build-fuzz
	$(TEST_FUZZ)

# The plug-in in zrkhost against a misbehaving loopback server (tools/soak), from the plain debug build:
# the soak judges zrkhost's memory, which the address checker's own bookkeeping would make grow.
build-soak: deps
	@[ -f build/debug/CMakeCache.txt ] || cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target soak zrkhost VeltranoCalendar

soak: build-soak
	build/debug/bin/soak --seconds $(SOAK_SECONDS)

TEST_SOAK = build/debug/bin/soak --seconds $(SOAK_TEST_SECONDS)
test-soak: build-soak
	$(TEST_SOAK)

# The calendar server against calendars written by other projects (fetched into build/, never kept here).
TEST_REAL_CALENDARS = sh tests/calendar-server/real-calendars.sh $(DRIVERS)/calendar-server/calendar-server \
  build/real-calendars
test-real-calendars: build-drivers
	$(TEST_REAL_CALENDARS)

bench: build-release
	@for b in build/release/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

# The plug-in in zrkhost against calendar-server with a calendar planned a few seconds ahead; about a
# minute, or until Ctrl-C. Builds only the three programs it runs.
demo: deps
	@[ -f build/release/CMakeCache.txt ] || cmake --preset release
	cmake --build --preset release -j $(JOBS) --target VeltranoCalendar zrkhost calendar-server
	@sh tools/demo/run-demo.sh build/release

# Both DLLs, the Linux library (release build), the README and the version in one archive; and the Windows
# installer (installer/VeltranoCalendar.nsi: the plug-in DLLs and calendar-server.exe as a service). The 32-bit
# DLL is packed when its build succeeds, and left out rather than failing the rest.
VERSION := $(shell grep '^project' CMakeLists.txt | grep -o 'VERSION [0-9.]*' | cut -d' ' -f2)
SETUP := build/dist/VeltranoCalendar-Setup-$(VERSION).exe
dist: build-windows
	@$(MAKE) --no-print-directory build-windows-x86 || echo "dist: no 32-bit DLL (the windows-x86 build failed)"
	@[ -f build/release/CMakeCache.txt ] || cmake --preset release
	cmake --build --preset release -j $(JOBS) --target VeltranoCalendar
	rm -rf build/dist/VeltranoCalendar-$(VERSION)
	mkdir -p build/dist/VeltranoCalendar-$(VERSION)/windows-x64 build/dist/VeltranoCalendar-$(VERSION)/linux-x64
	cp build/windows/bin/VeltranoCalendar.dll build/dist/VeltranoCalendar-$(VERSION)/windows-x64/
	if [ -f build/windows-x86/bin/VeltranoCalendar.dll ]; then \
	  mkdir -p build/dist/VeltranoCalendar-$(VERSION)/windows-x86; \
	  cp build/windows-x86/bin/VeltranoCalendar.dll build/dist/VeltranoCalendar-$(VERSION)/windows-x86/; fi
	cp build/release/bin/libVeltranoCalendar.so build/dist/VeltranoCalendar-$(VERSION)/linux-x64/
	cp README.md build/dist/VeltranoCalendar-$(VERSION)/
	echo $(VERSION) > build/dist/VeltranoCalendar-$(VERSION)/VERSION
	tar -C build/dist -czf build/dist/VeltranoCalendar-$(VERSION).tar.gz VeltranoCalendar-$(VERSION)
	@$(MAKE) --no-print-directory installer
	@echo "build/dist/VeltranoCalendar-$(VERSION).tar.gz"

# The installer alone, from the Windows builds there are (the Windows step tests it).
installer: build-windows
	rm -f build/dist/VeltranoCalendar-Setup-*.exe
	sh installer/stage.sh build/dist/installer
	makensis -V2 -DVERSION=$(VERSION) -DSTAGE=$(CURDIR)/build/dist/installer -DOUTFILE=$(CURDIR)/$(SETUP) \
	  $$([ -d build/dist/installer/plugin32 ] && echo -DPLUGIN32) installer/VeltranoCalendar.nsi
	@echo "$(SETUP)"

clean:
	rm -rf build
