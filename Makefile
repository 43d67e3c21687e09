# Convenience front end over CMake.
BUILD ?= build
ROM ?= $(BUILD)/roms/demo.nes
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench clean

all: build

deps:
	@./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/quenrik $(ROM)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Speed figures (see README, "Speed"); needs valgrind and GNU time, installed if missing.
bench: build
	@./scripts/install-deps valgrind time
	./scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD)
