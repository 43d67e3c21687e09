// What both fuzz targets share: a screen to draw into and the start of a run.
#pragma once

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "core/machine.h"
#include "program/surface.h"

namespace fuzz {

// A 320x240 16-bit software screen from SDL's dummy driver, and standard output silenced: the
// emulator's messages would only slow the runs down.
inline SDL_Surface* open_screen() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0) std::abort();
    SDL_Surface* screen = SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE);
    if (screen == nullptr) std::abort();
    return screen;
}

// The state start-up and the thread's start leave: everything at its initial value, the
// screen attached, every frame drawn.
inline void start_run(RunState& state, std::uint8_t* image, SDL_Surface* screen) {
    run_state_reset(state);
    machine_image_clear(image);
    state.surface = screen_of(screen);
    state.frame_skip = 1;
}

}  // namespace fuzz
