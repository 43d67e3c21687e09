#include "program/video.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---- Video mode --------------------------------------------------------------------------
namespace {

// SDL 1.2's drivers that show the picture on a display of their own, in the order SDL tries
// them; a name this SDL was built without is simply not available.
constexpr const char* display_drivers[] = {"x11",      "dga",   "nanox", "qtopia", "wscons", "fbcon",
                                           "directfb", "ps2gs", "ps3",   "ggi",    "svgalib"};

// Starts SDL video as SDL itself would, except where it would fall back to a terminal driver
// (aalib, caca): those draw with escape codes among the program's text and read the terminal's
// input, so the debugger's commands and the statistics are lost. There the picture is dropped
// instead, as with the dummy driver. A driver named in SDL_VIDEODRIVER is used as asked.
int video_init() {
    if (std::getenv("SDL_VIDEODRIVER") != nullptr) return SDL_Init(SDL_INIT_VIDEO);
    // Naming each display driver in turn is SDL's own choice, without ever starting a terminal
    // driver: the first available one is the one SDL would pick, and its failure is SDL's.
    int result = -1;
    for (const char* driver : display_drivers) {
        setenv("SDL_VIDEODRIVER", driver, 1);
        result = SDL_Init(SDL_INIT_VIDEO);
        if (result == 0 || std::strcmp(SDL_GetError(), "No available video device") != 0) break;
    }
    if (result != 0 && std::strcmp(SDL_GetError(), "No available video device") == 0) {
        std::fputs("No display found: running without a picture (SDL_VIDEODRIVER chooses a video driver).\n", stderr);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        result = SDL_Init(SDL_INIT_VIDEO);
    }
    unsetenv("SDL_VIDEODRIVER");
    return result;
}

}  // namespace

SDL_Surface* video_open(bool full_screen) {
    if (video_init() < 0) {
        std::printf("Unable to init SDL: %s\n", SDL_GetError());
        std::exit(1);
    }
    SDL_WM_SetCaption("Quenrik 0.1.5", nullptr);
    const Uint32 flags = full_screen ? SDL_FULLSCREEN : (SDL_HWSURFACE | SDL_DOUBLEBUF);
    SDL_Surface* surface = SDL_SetVideoMode(320, 240, 16, flags);
    if (surface == nullptr) {
        std::printf("Unable to set 320x240x16 video mode: %s\n", SDL_GetError());
        std::exit(1);
    }
    return surface;
}

// ---- Event loop --------------------------------------------------------------------------
void event_loop(SharedWord& quit, SharedWord& reset_request) {
    if (quit.get() == 1) return;
    for (;;) {
        // One event per pass keeps the main thread nearly idle.
        SDL_Delay(10);
        SDL_Event event;
        if (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) {
                quit.set(1);
                return;
            }
            if (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) {
                if (event.key.keysym.sym == SDLK_ESCAPE) {
                    quit.set(1);
                    return;
                }
                if (event.key.keysym.sym == SDLK_r) reset_request.set(1);
            }
        }
        // The emulation thread may have asked to stop (debugger, unknown opcode, evaluation end).
        if (quit.get() == 1) return;
    }
}

// ---- Frame-skip calibration --------------------------------------------------------------
std::uint32_t frame_skip_for_polls(std::uint32_t polls) {
    if (polls >= 38000) return 1;
    if (polls >= 25000) return 2;
    if (polls >= 22000) return 3;
    if (polls >= 18000) return 4;
    if (polls >= 12000) return 5;
    if (polls >= 8000) return 6;
    if (polls >= 4500) return 8;
    return 16;
}

void calibrate_frame_skip(std::uint32_t& frame_skip) {
    // Counts clock reads for 50 ms. The elapsed time is compared rather than a deadline, so
    // the measure also holds when the millisecond counter wraps.
    const std::uint32_t start = SDL_GetTicks();
    std::uint32_t polls = 0;
    while (SDL_GetTicks() - start < 50) ++polls;
    frame_skip = frame_skip_for_polls(polls);
    std::printf("Frame Skip set to: %ix\n\n", static_cast<int>(frame_skip));
}
