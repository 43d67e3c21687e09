// The trace disassembler and the machine-state block of the debugger.
#pragma once

#include <cstdint>

#include "core/machine.h"

// Prints the text of the instruction just executed, reading its operand backwards from pc.
void trace_print_instruction(std::uint8_t opcode, std::uint32_t pc, std::uint8_t* image);

void print_machine_state(std::uint64_t cycle_count, std::uint8_t scanline,
                         const CpuRegisters& registers, std::uint8_t opcode, std::uint8_t* image);
