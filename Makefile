# Convenience front end over CMake.
BUILD ?= build
ROM ?= $(BUILD)/roms/demo.nes
JOBS ?= $(shell nproc)
# Checked builds that make test runs besides the plain one (see README, Hardening).
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600

.PHONY: all deps build run test test-plain test-asan test-tsan test-fuzz fuzz-build fuzz bench clean

all: build

deps:
	@./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/quenrik $(ROM)

# The whole suite, then again under AddressSanitizer and UndefinedBehaviorSanitizer, the window
# tests under ThreadSanitizer, and a short run of each fuzz target.
test: deps
	$(MAKE) --no-print-directory test-plain
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-tsan
	$(MAKE) --no-print-directory test-fuzz

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENRIK_SANITIZE=address,undefined
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENRIK_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS)

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQUENRIK_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

test-fuzz: fuzz-build
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)

# Longer fuzz runs: FUZZ_SECONDS per target, both targets at once.
fuzz: fuzz-build
	cd $(FUZZ_BUILD) && QUENRIK_FUZZ_SECONDS=$(FUZZ_SECONDS) \
		ctest --output-on-failure -j $(JOBS) --timeout $$(( $(FUZZ_SECONDS) + 300 ))

# Speed figures (see README, "Speed"); needs valgrind and GNU time, installed if missing.
bench: build
	@./scripts/install-deps valgrind time
	./scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
