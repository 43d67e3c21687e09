// The emulation thread: runs the console one instruction per pass until quit.
#pragma once

#include <cstdint>

#include "core/machine.h"
#include "loop/pass_loop.h"

struct EmulationContext {
    RunState* state;
    std::uint8_t* image;
};

// The program's runs of the pass loop: fast execution, with its debugger console for trace mode.
void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit);
// The same with the execution chosen (skipped_passes as for the pass loop).
void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit, Execution execution, std::uint64_t& skipped_passes);

// Thread body for SDL_CreateThread; data is an EmulationContext. Returns 0.
int emulation_thread(void* data);

// The two lines printed when the run has ended: the instructions executed (a true count, however
// long the run) and the frames divided by the five seconds of an evaluation run.
void print_run_statistics(std::uint64_t cycle_count, std::uint32_t frame_count);
