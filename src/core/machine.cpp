#include "core/machine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/host.h"

void print_text(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    host_print(text);
}

void run_state_reset(RunState& state) {
    state.evaluation_mode = 0;
    state.trace_mode = 0;
    state.fast_mode = 0;
    state.quit.set(0);
    state.reset_request.set(0);
    state.nmi_request = 0;
    state.interrupt_cause = 0;
    state.registers = CpuRegisters{};
    state.opcode = 0;
    state.cycle_count = 0;
    state.line_cycles = 136;
    state.scanline = 0;
    state.frame_count = 0;
    state.frame_skip = 0;
    state.mirroring = 0;
    state.mapper = 0;
    state.surface = nullptr;
    state.debugger = DebuggerState{};
}

void machine_image_clear(std::uint8_t* image) {
    std::memset(image, 0, image_size);
    // Every sprite starts behind the background.
    for (std::uint32_t n = 0; n < 64; ++n) image[priv::sprite_memory + 4 * n + 2] = 0x20;
}
