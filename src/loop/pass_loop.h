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

// The debugger's turn after each instruction of a trace run. The program brings its console
// (debugger_turn); a host without a debugger gives none, and its runs are never traced.
using DebuggerTurn = void (*)(RunState& state, std::uint8_t* image);

// The thread's loop: one pass per instruction until quit is 1, or until pass_limit passes have
// run (the thread gives no limit; the benchmark and the libretro core run frames, 8228 passes
// each). start_ticks is the clock at the start of the run, for the evaluation stop.
// Fast execution (the thread's) also skips the passes of a wait loop that repeat unchanged,
// leaving everything as plain one-by-one execution would; never in trace mode. skipped_passes
// receives the passes that fast execution counted without running them.
constexpr std::uint64_t no_pass_limit = ~std::uint64_t{0};
enum class Execution : std::uint8_t { fast, plain };
void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit, Execution execution, std::uint64_t& skipped_passes,
                   DebuggerTurn debugger);
