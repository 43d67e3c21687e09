# Convenience front end over CMake.
BUILD ?= build
ROM ?= $(BUILD)/roms/demo.nes
JOBS ?= $(shell nproc)

.PHONY: all deps build run test clean

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

clean:
	rm -rf $(BUILD)
