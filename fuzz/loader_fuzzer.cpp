// Fuzz target: the cartridge loader, then the first instructions of whatever it loaded, run the
// way the emulation thread runs them (PPU timing and drawing, CPU, interrupts, sprite DMA).
#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bus/bus.h"
#include "core/ines.h"
#include "core/machine.h"
#include "cpu/cpu.h"
#include "ppu/timing.h"

namespace {

constexpr std::uint32_t instruction_limit = 5000;  // about 150 scanlines, every one drawn

MachineImage image;
RunState state;
SDL_Surface* screen = nullptr;

// The loader ends the process on a file it refuses; those files are told apart here, so that a
// run only goes on with what the loader takes.
bool loader_takes(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t signature[4] = {0x4E, 0x45, 0x53, 0x1A};
    if (size < 4 || std::memcmp(data, signature, 4) != 0) return false;
    const std::uint32_t prg = size > 4 ? data[4] : 0;
    const std::uint32_t chr = size > 5 ? data[5] : 0;
    return prg <= 2 && chr <= 2;
}

// One pass of the emulation thread's loop, less the clock and the debugger.
void emulation_pass() {
    CpuRegisters& registers = state.registers;
    ppu_tick(image, state.surface, state.line_cycles, state.nmi_request, state.frame_count,
             state.frame_skip, state.scanline, state.mirroring);
    bus_read(state.opcode, image, registers.pc);
    state.cycle_count += 4;
    state.line_cycles += 4;
    cpu_execute(state.quit, state.opcode, registers, image, state.interrupt_cause);
    cpu_service_interrupts(state.reset_request, state.nmi_request, state.interrupt_cause,
                           registers.pc, registers.sp, registers.p, image);
    if (image[priv::dma_active] == 1) {
        const std::uint8_t index = image[priv::dma_index];
        std::uint8_t byte = 0;
        bus_read(byte, image, image[priv::dma_page] * 256u + index);
        image[priv::sprite_memory + index] = byte;
        image[priv::dma_index] = static_cast<std::uint8_t>(index + 1);
        if (image[priv::dma_index] == 0) image[priv::dma_active] = 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader's report and the unknown-opcode message would only slow the runs down.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0) std::abort();
    screen = SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE);
    if (screen == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!loader_takes(data, size)) return -1;  // not worth keeping in the corpus
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) std::abort();

    run_state_reset(state);
    machine_image_clear(image);
    load_ines(file, image, state.mirroring, state.mapper);
    std::fclose(file);
    image[priv::mirroring] = static_cast<std::uint8_t>(state.mirroring);

    // Header byte 8, which the loader leaves alone, picks fast mode.
    state.fast_mode = size > 8 ? data[8] & 1 : 0;
    image[priv::display_update] = state.fast_mode == 1 ? 1 : 0xFF;
    state.surface = screen;
    state.frame_skip = 1;
    state.registers.pc = image[reset_vector + 1] * 256u + image[reset_vector];

    // An unknown opcode ends a run as it ends the program's.
    for (std::uint32_t i = 0; i < instruction_limit && state.quit.get() != 1; ++i) emulation_pass();
    return 0;
}
