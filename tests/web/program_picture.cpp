// The program's picture after a number of frames, for the web page's test to compare with: the
// cartridge started as the program starts it (with -f for fast mode), every frame drawn on the
// headless SDL surface, then the picture (surface columns 32-287) written out as 256x240 RGB565
// pixels, little-endian. The loader's report goes to standard output as the program prints it.
//
// usage: web_program_picture <nes file> <frames> <output file> [-f] [-b <buttons>] [-r <frame>]
//   -b  the pad's buttons for each frame, two hex digits a frame (bit i = button i in the pad's
//       read order: A, B, Select, Start, Up, Down, Left, Right); frames past the end hold none
//   -r  the R key before that frame (0 is the first)
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/machine.h"
#include "core/startup.h"
#include "host/emulation.h"
#include "host/surface.h"
#include "host/video.h"

namespace {

RunState state;
MachineImage image;
constexpr std::uint64_t passes_per_frame = 242 * 34;

void hold_buttons(std::uint32_t mask) {
    static constexpr SDLKey pad[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};
    Uint8* keys = SDL_GetKeyState(nullptr);
    for (std::uint32_t i = 0; i < 8; ++i) keys[pad[i]] = (mask >> i) & 1u;
}

int usage() {
    std::fputs("usage: web_program_picture <nes file> <frames> <output file> [-f] [-b <buttons>] [-r <frame>]\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    const long frames = std::strtol(argv[2], nullptr, 10);
    bool fast = false;
    std::string buttons;
    long reset_frame = -1;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "-f") == 0) {
            fast = true;
        } else if (std::strcmp(argv[i], "-b") == 0 && i + 1 < argc) {
            buttons = argv[++i];
        } else if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc) {
            reset_frame = std::strtol(argv[++i], nullptr, 10);
        } else {
            return usage();
        }
    }
    if (frames < 0 || frames > 1000000 || buttons.size() % 2 != 0) return usage();
    setenv("SDL_VIDEODRIVER", "dummy", 1);

    static char fast_option[] = "-f";
    char* program_arguments[] = {argv[0], argv[1], fast ? fast_option : nullptr, nullptr};
    bool full_screen = false;
    start_up(fast ? 3 : 2, program_arguments, state, image, full_screen);
    std::fflush(stdout);
    SDL_Surface* surface = video_open(false);
    state.surface = screen_of(surface);
    emulation_prepare(state, image);
    state.frame_skip = 1;
    for (long frame = 0; frame < frames && state.quit.get() == 0; ++frame) {
        const std::size_t at = static_cast<std::size_t>(frame) * 2;
        hold_buttons(at < buttons.size() ? std::stoul(buttons.substr(at, 2), nullptr, 16) : 0);
        if (frame == reset_frame) state.reset_request.set(1);
        emulation_run(state, image, SDL_GetTicks(), passes_per_frame);
    }

    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    SDL_LockSurface(surface);
    for (int y = 0; y < 240; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(static_cast<const std::uint8_t*>(surface->pixels) +
                                                                 y * surface->pitch);
        for (int x = 32; x < 288; ++x) {
            const std::uint8_t pixel[2] = {static_cast<std::uint8_t>(row[x]), static_cast<std::uint8_t>(row[x] >> 8)};
            std::fwrite(pixel, 1, 2, out);
        }
    }
    SDL_UnlockSurface(surface);
    const bool written = std::fclose(out) == 0;
    SDL_Quit();
    return written ? 0 : 1;
}
