#include "program/video.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

// ---- Video mode --------------------------------------------------------------------------
SDL_Surface* video_open(bool full_screen) {
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
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
