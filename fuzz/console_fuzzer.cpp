// Fuzz target: the debugger console reading arbitrary bytes as its standard input, in the
// emulation thread's own loop in trace mode.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_machine.h"
#include "program/emulation.h"

namespace {

// Commands such as "e -1" run on for billions of instructions; a run stops here instead.
constexpr std::uint64_t instruction_limit = 4096;

// Globals of their own (not inline ones shared through a header), so that AddressSanitizer
// puts its guard zones around the image.
MachineImage image;
RunState state;
SDL_Surface* screen = nullptr;

// INX / JMP $8000 with every vector on it: pc moves, so breakpoints and counts have something
// to meet, and "w" commands may patch it into anything else.
void place_program() {
    const std::uint8_t program[] = {0xE8, 0x4C, 0x00, 0x80};
    for (std::uint32_t i = 0; i < sizeof program; ++i) image[0x8000 + i] = program[i];
    for (std::uint32_t vector = nmi_vector; vector < 0x10000; vector += 2) {
        image[vector] = 0x00;
        image[vector + 1] = 0x80;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    screen = fuzz::open_screen();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // fmemopen wants at least one byte; no input at all is the same as an empty file.
    std::FILE* input = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "r")
                                : std::fopen("/dev/null", "r");
    if (input == nullptr) std::abort();
    std::FILE* const terminal = stdin;
    stdin = input;

    fuzz::start_run(state, image, screen);
    place_program();
    state.trace_mode = 1;
    emulation_prepare(state, image);
    // Ends at q, at the end of the input, at an unknown opcode, or at the limit.
    emulation_run(state, image, 0, instruction_limit);

    stdin = terminal;
    std::fclose(input);
    return 0;
}
