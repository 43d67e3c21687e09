// Fuzz target: the cartridge loader, then the first instructions of whatever it loaded, run by
// the emulation thread's own loop (PPU timing and drawing, CPU, interrupts, sprite DMA).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/ines.h"
#include "fuzz_machine.h"
#include "program/emulation.h"

namespace {

constexpr std::uint64_t instruction_limit = 5000;  // about 150 scanlines, every one drawn

// Globals of their own (not inline ones shared through a header), so that AddressSanitizer
// puts its guard zones around the image.
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    screen = fuzz::open_screen();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!loader_takes(data, size)) return -1;  // not worth keeping in the corpus
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) std::abort();

    fuzz::start_run(state, image, screen);
    load_ines(file, image, state.mirroring, state.mapper);
    std::fclose(file);
    image[priv::mirroring] = static_cast<std::uint8_t>(state.mirroring);

    // Header bytes 8 and 9, which the loader leaves alone, pick fast mode and an R press.
    state.fast_mode = size > 8 ? data[8] & 1 : 0;
    state.reset_request.set(size > 9 ? data[9] & 1 : 0);
    emulation_prepare(state, image);
    // An unknown opcode ends a run as it ends the program's.
    emulation_run(state, image, 0, instruction_limit);
    return 0;
}
