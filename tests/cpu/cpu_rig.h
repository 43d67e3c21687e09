// A machine image and run state for driving the CPU one step at a time, as the emulation loop does.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "bus/bus.h"
#include "cpu/cpu.h"
#include "support/test_support.h"

struct CpuRig {
    TestMachine machine;
    RunState state;

    std::uint8_t* image() { return machine.image(); }
    CpuRegisters& r() { return state.registers; }
    std::uint8_t& at(std::uint32_t address) { return machine.bytes[address]; }

    // Places bytes straight into the image from address on.
    void put(std::uint32_t address, std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t byte : bytes) machine.bytes[address++] = byte;
    }

    void set_vector(std::uint32_t vector, std::uint32_t target) {
        at(vector) = static_cast<std::uint8_t>(target);
        at(vector + 1) = static_cast<std::uint8_t>(target >> 8);
    }

    // Opcode fetch through the bus, then the instruction.
    void execute() {
        bus_read(state.opcode, image(), r().pc);
        cpu_execute(state.quit, state.opcode, state.registers, image(), state.interrupt_cause);
    }

    void service() {
        cpu_service_interrupts(state.reset_request, state.nmi_request, state.interrupt_cause, r().pc, r().sp,
                               r().p, image());
    }

    // One pass of the emulation loop as far as the CPU is concerned.
    void step() {
        execute();
        service();
    }

    // Runs the instruction with the given opcode at pc and returns what it printed.
    std::string execute_quietly() {
        return capture_stdout([&] { execute(); });
    }
};
