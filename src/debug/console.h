// The debugger console that runs between instructions in trace mode.
#pragma once

#include <cstdint>

#include "core/machine.h"

// What one call does: print the state block and/or prompt. Updates mode and step_count.
struct StopDecision {
    bool print_state;
    bool prompt;
};
StopDecision debugger_should_stop(DebuggerState& debugger, std::uint32_t pc);

void debugger_console(SharedWord& quit, std::uint8_t& opcode, CpuRegisters& registers,
                      std::uint8_t* image, std::uint32_t& interrupt_cause, DebuggerState& debugger,
                      std::uint64_t cycle_count, std::uint8_t scanline);

// debugger_console with the run state's fields: the program's turn for the pass loop in trace mode.
void debugger_turn(RunState& state, std::uint8_t* image);

// Prints 8 lines of 16 image bytes from offset start.
void dump_memory(const std::uint8_t* image, std::uint32_t start);
