// Fuzz target: the debugger console reading arbitrary bytes as its standard input, one
// instruction executed between calls, as in trace mode.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bus/bus.h"
#include "core/machine.h"
#include "cpu/cpu.h"
#include "debug/console.h"

namespace {

// Commands such as "e -1" run on for billions of instructions; a run stops here instead.
constexpr std::uint32_t call_limit = 4096;

MachineImage image;
RunState state;

// INX / JMP $8000 at every vector: pc moves, so breakpoints and counts have something to meet;
// "w" commands may patch it into anything else.
void prepare_machine() {
    run_state_reset(state);
    machine_image_clear(image);
    const std::uint8_t program[] = {0xE8, 0x4C, 0x00, 0x80};
    for (std::uint32_t i = 0; i < sizeof program; ++i) image[0x8000 + i] = program[i];
    for (std::uint32_t vector = nmi_vector; vector < 0x10000; vector += 2) {
        image[vector] = 0x00;
        image[vector + 1] = 0x80;
    }
    state.registers.pc = 0x8000;
    state.registers.sp = 0xFD;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // fmemopen wants at least one byte; no input at all is the same as an empty file.
    std::FILE* input = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "r")
                                : std::fopen("/dev/null", "r");
    if (input == nullptr) std::abort();
    std::FILE* const terminal = stdin;
    stdin = input;

    prepare_machine();
    CpuRegisters& registers = state.registers;
    for (std::uint32_t call = 0; call < call_limit && state.quit.get() != 1; ++call) {
        bus_read(state.opcode, image, registers.pc);
        state.cycle_count += 4;
        cpu_execute(state.quit, state.opcode, registers, image, state.interrupt_cause);
        cpu_service_interrupts(state.reset_request, state.nmi_request, state.interrupt_cause,
                               registers.pc, registers.sp, registers.p, image);
        if (state.quit.get() == 1) break;
        debugger_console(state.quit, state.opcode, registers, image, state.interrupt_cause,
                         state.debugger, state.cycle_count, static_cast<std::uint8_t>(call));
    }

    stdin = terminal;
    std::fclose(input);
    return 0;
}
