// The 6502 interpreter (no decimal mode).
#pragma once

#include <cstdint>

#include "core/machine.h"

// Stack steps on the stack page, never through the bus.
void push(std::uint8_t value, std::uint8_t& sp, std::uint8_t* image);
std::uint8_t pull(std::uint8_t& sp, std::uint8_t* image);

// Operand fetchers: pc holds the opcode address on entry and the next instruction on exit.
std::uint8_t fetch_immediate(std::uint32_t& pc, std::uint8_t* image);
std::uint32_t address_zero_page(std::uint32_t& pc, std::uint8_t* image);
std::uint32_t address_zero_page_indexed(std::uint32_t& pc, std::uint8_t* image, std::uint8_t index);
std::uint32_t address_absolute(std::uint32_t& pc, std::uint8_t* image);
std::uint32_t address_absolute_indexed(std::uint32_t& pc, std::uint8_t* image, std::uint8_t index);
std::uint32_t address_indexed_indirect(std::uint32_t& pc, std::uint8_t* image, std::uint8_t x);
std::uint32_t address_indirect_indexed(std::uint32_t& pc, std::uint8_t* image, std::uint8_t y);

// Runs the instruction whose opcode was just fetched at registers.pc. Answers true when it was
// a branch or JMP back to itself or to at most cpu_short_loop_bytes before it: it may have closed
// a loop (the emulation loop's fast-forward looks only there).
constexpr std::uint32_t cpu_short_loop_bytes = 64;
bool cpu_execute(SharedWord& quit, std::uint8_t& opcode, CpuRegisters& registers,
                 std::uint8_t* image, std::uint32_t& interrupt_cause);

// cpu_execute that also tells whether the instruction was a pure read: true when it wrote no
// memory, did not stop the run or raise BRK, and read nothing but RAM (0x0000-0x1FFF), PRG
// (0x8000-0xFFFF) and 0x2002 beyond its own bytes. The wait-loop fast-forward asks this.
bool cpu_execute_watched(SharedWord& quit, std::uint8_t& opcode, CpuRegisters& registers,
                         std::uint8_t* image, std::uint32_t& interrupt_cause);

// The entry itself, once a request is pending: reset first, then NMI, then IRQ/BRK.
void cpu_enter_interrupt(SharedWord& reset_request, std::uint32_t& nmi_request,
                         std::uint32_t& interrupt_cause, std::uint32_t& pc, std::uint8_t& sp,
                         std::uint8_t& p, std::uint8_t* image);

// Enters at most one of reset, NMI, IRQ/BRK. Called after every instruction, and nearly
// always with nothing pending: that test is inline, and one test for all three words (the
// entry itself tells which request, if any, it takes).
inline void cpu_service_interrupts(SharedWord& reset_request, std::uint32_t& nmi_request,
                                   std::uint32_t& interrupt_cause, std::uint32_t& pc,
                                   std::uint8_t& sp, std::uint8_t& p, std::uint8_t* image) {
    if ((reset_request.get() | nmi_request | interrupt_cause) != 0) [[unlikely]]
        cpu_enter_interrupt(reset_request, nmi_request, interrupt_cause, pc, sp, p, image);
}
