// The emulation thread: runs the console one instruction per pass until quit.
#pragma once

#include <cstdint>

#include "core/machine.h"

struct EmulationContext {
    RunState* state;
    std::uint8_t* image;
};

// Thread body for SDL_CreateThread; data is an EmulationContext. Returns 0.
int emulation_thread(void* data);

// The thread's start before its loop, without the frame-skip measurement: the fast-mode flag
// and the program counter from the reset vector.
void emulation_prepare(RunState& state, std::uint8_t* image);

// The thread's loop: one pass per instruction until quit is 1, or until pass_limit passes have
// run (the thread gives no limit; the benchmark runs a fixed number of frames, 8228 passes each).
// start_ticks is the clock at the start of the run, for the evaluation stop.
constexpr std::uint64_t no_pass_limit = ~std::uint64_t{0};
void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit);
