#include "host/emulation.h"

#include <SDL.h>
#include <pthread.h>

#include <cstdio>

#include "bus/bus.h"
#include "cpu/cpu.h"
#include "debug/console.h"
#include "host/video.h"
#include "ppu/timing.h"

namespace {

// ---- Sprite DMA --------------------------------------------------------------------------
// One byte per instruction, read through the bus like a CPU read.
void sprite_dma_step(std::uint8_t* image) {
    const std::uint8_t index = image[priv::dma_index];
    std::uint8_t byte = 0;  // a read that delivers nothing copies 0x00
    bus_read(byte, image, image[priv::dma_page] * 256u + index);
    image[priv::sprite_memory + index] = byte;
    image[priv::dma_index] = static_cast<std::uint8_t>(index + 1);
    if (image[priv::dma_index] == 0) image[priv::dma_active] = 0;
}

}  // namespace

void display_update_start(RunState& state, std::uint8_t* image) {
    image[priv::display_update] = state.fast_mode == 1 ? 1 : 0xFF;
}

void load_reset_vector(RunState& state, const std::uint8_t* image) {
    state.registers.pc = read_vector(image, reset_vector);
}

void emulation_prepare(RunState& state, std::uint8_t* image) {
    display_update_start(state, image);
    load_reset_vector(state, image);
}

namespace {

// One pass per instruction. The debugger and the evaluation stop are template switches: the
// modes are fixed for the whole run, so a run without them carries no test for them.
template <bool Trace, bool Evaluation>
void run_passes(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                std::uint64_t pass_limit) {
    CpuRegisters& registers = state.registers;
    for (std::uint64_t pass = 0; pass != pass_limit && state.quit.get() != 1; ++pass) {
        ppu_tick(image, state.surface, state.line_cycles, state.nmi_request, state.frame_count,
                 state.frame_skip, state.scanline, state.mirroring);
        bus_read(state.opcode, image, registers.pc);
        state.cycle_count += 4;
        state.line_cycles += 4;
        cpu_execute(state.quit, state.opcode, registers, image, state.interrupt_cause);
        cpu_service_interrupts(state.reset_request, state.nmi_request, state.interrupt_cause,
                               registers.pc, registers.sp, registers.p, image);
        if constexpr (Trace) {
            if (state.quit.get() == 0)
                debugger_console(state.quit, state.opcode, registers, image, state.interrupt_cause,
                                 state.debugger, state.cycle_count,
                                 static_cast<std::uint8_t>(state.scanline));
        }
        if constexpr (Evaluation) {
            // The clock is read only once every 10000 instructions.
            if ((state.cycle_count / 4) % 10000 == 0 && SDL_GetTicks() - start_ticks > 5000) {
                state.quit.set(1);
                std::printf("Inst/sec: %llu (375K in a real NES)\n\n",
                            static_cast<unsigned long long>(state.cycle_count / 20));
            }
        }
        if (image[priv::dma_active] == 1) [[unlikely]]
            sprite_dma_step(image);
    }
}

}  // namespace

void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit) {
    const bool trace = state.trace_mode != 0;
    const bool evaluation = state.evaluation_mode == 1;
    if (trace && evaluation)
        run_passes<true, true>(state, image, start_ticks, pass_limit);
    else if (trace)
        run_passes<true, false>(state, image, start_ticks, pass_limit);
    else if (evaluation)
        run_passes<false, true>(state, image, start_ticks, pass_limit);
    else
        run_passes<false, false>(state, image, start_ticks, pass_limit);
}

int emulation_thread(void* data) {
    // SDL starts its threads asynchronously cancellable. Start-up kills this thread at the end of
    // the run; taking the kill only at blocking calls (a read of standard input, a write) means it
    // never lands in the middle of emulation code, where unwinding could not be done cleanly.
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, nullptr);

    EmulationContext& context = *static_cast<EmulationContext*>(data);
    RunState& state = *context.state;
    std::uint8_t* image = context.image;

    display_update_start(state, image);
    calibrate_frame_skip(state.frame_skip);
    if (state.trace_mode != 0) std::printf("kien co\xF1" "o ta cambiado1");
    load_reset_vector(state, image);
    const std::uint32_t start_ticks = SDL_GetTicks();
    emulation_run(state, image, start_ticks, no_pass_limit);

    print_run_statistics(state.cycle_count, state.frame_count);
    return 0;
}

void print_run_statistics(std::uint64_t cycle_count, std::uint32_t frame_count) {
    std::printf("%llu Instrucion were executed\n", static_cast<unsigned long long>(cycle_count / 4));
    std::printf("fps: %i\n", static_cast<int>(frame_count / 5));
}
