// The pass loop: the console run one instruction per pass, whichever host runs it.
#pragma once

#include <cstdint>

#include "core/machine.h"

// The two steps of the thread's start around the frame-skip measurement: the frame-update flag
// (1 in fast mode, else 0xFF) before it, the program counter from the reset vector after it.
void display_update_start(RunState& state, std::uint8_t* image);
void load_reset_vector(RunState& state, const std::uint8_t* image);

// Both, for runs without the measurement.
void emulation_prepare(RunState& state, std::uint8_t* image);

// The thread's loop: one pass per instruction until quit is 1, or until pass_limit passes have
// run (the thread gives no limit; the benchmark runs a fixed number of frames, 8228 passes each).
// start_ticks is the clock at the start of the run, for the evaluation stop.
// Fast execution (the thread's) also skips the passes of a wait loop that repeat unchanged,
// leaving everything as plain one-by-one execution would; never in trace mode.
constexpr std::uint64_t no_pass_limit = ~std::uint64_t{0};
void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit);

// The same with the execution chosen, adding to skipped_passes the passes that fast execution
// counted without running them.
enum class Execution : std::uint8_t { fast, plain };
void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit, Execution execution, std::uint64_t& skipped_passes);
