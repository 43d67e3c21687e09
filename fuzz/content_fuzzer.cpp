// Fuzz target: a cartridge handed to the libretro core from memory, as a frontend hands it over,
// then two frames (about 16000 instructions, every line drawn).
#include <cstdint>
#include <cstdlib>

#include "libretro_frontend.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_core();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Header bytes 8 and 9, which the loader leaves alone, pick the options, the pad and a reset.
    fuzz::fast_mode = size > 8 && (data[8] & 1) != 0;
    fuzz::crop_overscan = size > 8 && (data[8] & 2) != 0;
    fuzz::pad = size > 9 ? data[9] : 0;
    retro_unload_game();  // as a frontend does, so that no input runs the game of the one before
    const retro_game_info game{nullptr, size == 0 ? nullptr : data, size, nullptr};
    if (!retro_load_game(&game)) return 0;
    retro_run();
    if (size > 8 && (data[8] & 4) != 0) retro_reset();
    retro_run();
    return 0;
}
