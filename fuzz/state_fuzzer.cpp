// Fuzz target: a save state handed to the libretro core, over a game of the project's that has
// run a while; a state it takes is run for a few frames. The seeds are states of that game, which
// the target writes itself when QUENRIK_FUZZ_STATE_SEEDS names a folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "libretro_frontend.h"

namespace {

std::vector<std::uint8_t> cartridge, start;  // the game, and its state after the first frames

std::vector<std::uint8_t> state() {
    std::vector<std::uint8_t> bytes(retro_serialize_size());
    if (!retro_serialize(bytes.data(), bytes.size())) std::abort();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_core();
    // Inputs shorter than a state could never load one.
    if (retro_serialize_size() != QUENRIK_FUZZ_STATE_BYTES) {
        std::fprintf(stderr, "fuzz_state: states are %zu bytes, the fuzzer's inputs at most %d\n",
                     retro_serialize_size(), QUENRIK_FUZZ_STATE_BYTES);
        std::abort();
    }
    std::FILE* file = std::fopen(QUENRIK_FUZZ_CARTRIDGE, "rb");
    if (file == nullptr) std::abort();
    for (int byte; (byte = std::fgetc(file)) != EOF;) cartridge.push_back(static_cast<std::uint8_t>(byte));
    std::fclose(file);
    const retro_game_info game{nullptr, cartridge.data(), cartridge.size(), nullptr};
    if (!retro_load_game(&game)) std::abort();
    const char* seeds = std::getenv("QUENRIK_FUZZ_STATE_SEEDS");
    for (int frame = 1; frame <= 120; ++frame) {
        fuzz::pad = static_cast<std::uint8_t>(frame / 10 * 37);
        retro_run();
        if (frame == 30) start = state();
        if (seeds != nullptr && frame % 30 == 0) {  // a few moments of the game, as seeds
            const std::vector<std::uint8_t> seed = state();
            const std::string path = std::string(seeds) + "/frame" + std::to_string(frame);
            std::FILE* out = std::fopen(path.c_str(), "wb");
            if (out == nullptr || std::fwrite(seed.data(), 1, seed.size(), out) != seed.size()) std::abort();
            std::fclose(out);
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every input meets the same machine.
    if (!retro_unserialize(start.data(), start.size())) std::abort();
    if (!retro_unserialize(data, size)) return 0;
    for (int frame = 0; frame < 3; ++frame) {
        fuzz::pad = static_cast<std::uint8_t>(frame * 85);
        retro_run();
    }
    return 0;
}
