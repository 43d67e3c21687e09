// The emulation thread: runs the console one instruction per pass until quit.
#pragma once

#include <cstdint>

#include "core/machine.h"

struct EmulationContext {
    RunState* state;
    std::uint8_t* image;
};

// Thread body for SDL_CreateThread; data is an EmulationContext. Returns 0.
int emulation_thread(void* data);
