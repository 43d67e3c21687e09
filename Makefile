# Convenience front end over CMake.
BUILD ?= build
# The cartridge of make run and make play; without one, the demo built for each: demo.nes for the
# program, which runs as fast as it can, and demo-libretro.nes, at the console's pace with
# RetroArch's keys in its text, for RetroArch.
ROM ?=
JOBS ?= $(shell nproc)
# Tests that ctest runs at once: most of them wait (on the program's half-second start-up, on
# Xvfb) far longer than they compute, so four per processor.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 4 )))
# Checked builds that make test runs besides the plain one (see doc/contributing.md).
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
# The web page's build (make web): emscripten's, in a folder of its own.
WEB_BUILD ?= build-web
# Where make install puts things.
PREFIX ?= /usr/local

.PHONY: all deps build run play install package deb test test-steps test-plain test-package asan-build test-asan \
	tsan-build test-tsan fuzz-build test-fuzz test-i386 test-arm64 test-armhf build-i386 build-arm64 build-armhf \
	fuzz bench screenshots web test-web bench-web web-screenshots clean

all: build

deps:
	@./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/quenrik $(or $(ROM),$(BUILD)/roms/demo.nes)

# A cartridge (ROM, or the demo built for RetroArch) in RetroArch with the libretro core just
# built, at the console's pace (see doc/retroarch.md); RetroArch is installed if it is missing, and
# run on a D-Bus session bus of its own where none answers.
play: build
	@./scripts/install-deps retroarch
	./scripts/play $(BUILD) $(or $(ROM),$(BUILD)/roms/demo-libretro.nes)

# The program, the demo, the manual page, the desktop entry and the documents under PREFIX, and
# the libretro core with its core info, keyfile and metainfo (lib/<multiarch>/libretro/,
# share/libretro/info/), from the build that make build made (so that sudo make install builds
# nothing as root).
install:
	@test -x $(BUILD)/quenrik || { echo "make install: run make build first"; exit 1; }
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages, $(BUILD)/quenrik_<version>_<architecture>.deb and the core's
# $(BUILD)/libretro-quenrik_<version>_<architecture>.deb, and what lintian says of them.
package: build
	cd $(BUILD) && cpack -G DEB

deb: package
	lintian --display-info $(BUILD)/quenrik_*.deb $(BUILD)/libretro-quenrik_*.deb

# The whole suite, the package's checks, then the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the window tests under ThreadSanitizer, and a short run of each fuzz
# target. The steps run one after the other; the checked builds are made meanwhile, one after
# the other, at a lower priority (LATER), in the processor time that the waiting tests leave.
# Each step's output comes whole when it ends.
test: deps
	@$(MAKE) --no-print-directory -j 2 --output-sync=target test-steps IN_TURN=1 LATER="nice -n 10"

test-steps: test-plain test-package test-asan test-tsan test-fuzz
ifdef IN_TURN
test-package: | test-plain
test-asan: | test-package
test-tsan: | test-asan
test-fuzz: | test-tsan
tsan-build: | asan-build
fuzz-build: | tsan-build
endif

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

# The packages, unpacked into a scratch folder and checked there; nothing is installed.
test-package: package
	./scripts/test-package $(BUILD)

asan-build: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENRIK_SANITIZE=address,undefined
	$(LATER) cmake --build $(ASAN_BUILD) -j $(JOBS)

test-asan: asan-build
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

tsan-build: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENRIK_SANITIZE=thread
	$(LATER) cmake --build $(TSAN_BUILD) -j $(JOBS)

test-tsan: tsan-build
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQUENRIK_FUZZ=ON -DBUILD_TESTING=OFF
	$(LATER) cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Each fuzz target has the time it is given to itself: one per processor.
test-fuzz: fuzz-build
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)

# Everything built for another Debian architecture with its cross compiler, in a folder of its own
# (build-i386, build-arm64, build-armhf), and the whole suite and the package's checks run there:
# the i386 programs as they are, the ARM ones under qemu-user. scripts/install-deps adds the
# architecture to dpkg if it is not there yet, for its SDL runtime and X11 (see doc/platforms.md).
# The plain build's optimisation without its debug information, which would double the link-time
# optimiser's work and CI's time. make build-<architecture> builds without testing.
CROSS_ARCHS = i386 arm64 armhf
$(addprefix build-,$(CROSS_ARCHS)): build-%:
	@./scripts/install-deps --$*
	JOBS=$(JOBS) ./scripts/prepare-cross $* build-$*
	PKG_CONFIG_SYSROOT_DIR=$(abspath build-$*)/sdl \
	PKG_CONFIG_LIBDIR=$(abspath build-$*)/sdl/usr/lib/$(CROSS_MULTIARCH_$*)/pkgconfig \
		cmake -S . -B build-$* -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/$*.cmake -DCMAKE_PREFIX_PATH=$(abspath build-$*)/googletest \
		"-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"
	cmake --build build-$* -j $(JOBS)
$(addprefix test-,$(CROSS_ARCHS)): test-%: build-%
	cd build-$* && ctest --output-on-failure -j $(TEST_JOBS)
	cd build-$* && cpack -G DEB
	./scripts/test-package build-$*
CROSS_MULTIARCH_i386 = i386-linux-gnu
CROSS_MULTIARCH_arm64 = aarch64-linux-gnu
CROSS_MULTIARCH_armhf = arm-linux-gnueabihf

# Longer fuzz runs: FUZZ_SECONDS per target, both targets at once.
fuzz: fuzz-build
	cd $(FUZZ_BUILD) && QUENRIK_FUZZ_SECONDS=$(FUZZ_SECONDS) \
		ctest --output-on-failure -j $(JOBS) --timeout $$(( $(FUZZ_SECONDS) + 300 ))

# Speed figures (see doc/speed.md); needs valgrind and GNU time, installed if missing, and
# Debian's Nestopia core, timed beside quenrik's.
# BENCH_BUILDS="build build-i386" compares builds made beforehand, their runs taking turns.
BENCH_BUILDS ?=
bench: $(if $(BENCH_BUILDS),,build)
	@./scripts/install-deps valgrind time libretro-nestopia
	./scripts/bench $(or $(BENCH_BUILDS),$(BUILD))

# The program's pictures again (doc/screenshots/), from the program as it is built now.
screenshots: build
	@./scripts/install-deps tmux fonts-dejavu-core
	./scripts/screenshots $(BUILD)

# The web page: the emulation and the libretro core in WebAssembly, built with Debian's emscripten
# into $(WEB_BUILD)/site/, a folder of static files for any web server (see doc/web.md). Debian's
# emscripten finds its JavaScript modules through NODE_PATH.
EMSCRIPTEN_ENV = NODE_PATH=/usr/share/nodejs$(if $(NODE_PATH),:$(NODE_PATH))
web:
	@./scripts/install-deps emscripten
	$(EMSCRIPTEN_ENV) emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release
	$(EMSCRIPTEN_ENV) cmake --build $(WEB_BUILD) -j $(JOBS)

# The page in Debian's Chromium, headless, against the program's pictures from the native build
# (tests/web/); it prints the site's size, the pacing and the core's speed beside the native one.
test-web: web
	@./scripts/install-deps chromium chromium-driver python3-selenium
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target quenrik_picture libretro_bench quenrik_libretro cartridges
	/usr/bin/python3 tests/web/test_web.py --site $(WEB_BUILD)/site --native $(BUILD) $(WEB_TEST_OPTIONS)

# The page's figures alone (size, first picture, pace, frames a second in Chromium beside the native
# core's), without the checks of make test-web.
bench-web:
	@$(MAKE) --no-print-directory test-web WEB_TEST_OPTIONS="--figures-only"

# The page's pictures in doc/screenshots/ again, from make test-web's run.
web-screenshots:
	@$(MAKE) --no-print-directory test-web WEB_TEST_OPTIONS="--screenshots doc/screenshots"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(addprefix build-,$(CROSS_ARCHS)) $(WEB_BUILD)
