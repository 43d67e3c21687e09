#include "program/emulation.h"

#include <SDL.h>
#include <pthread.h>

#include <cstdint>
#include <cstdio>

#include "loop/pass_loop.h"
#include "debug/console.h"
#include "program/video.h"

void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit, Execution execution, std::uint64_t& skipped_passes) {
    emulation_run(state, image, start_ticks, pass_limit, execution, skipped_passes, debugger_turn);
}

void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                   std::uint64_t pass_limit) {
    std::uint64_t skipped = 0;
    emulation_run(state, image, start_ticks, pass_limit, Execution::fast, skipped, debugger_turn);
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
