// The host side over SDL: video mode, event loop and frame-skip calibration.
#pragma once

#include <cstdint>

#include "core/machine.h"

struct SDL_Surface;

// Starts SDL video and opens the 320x240x16 surface; ends the process with status 1 on failure.
SDL_Surface* video_open(bool full_screen);

// Main-thread loop: one event per 10 ms pass until quit is 1.
void event_loop(SharedWord& quit, SharedWord& reset_request);

// Frame skip for a count of clock polls in 50 ms.
std::uint32_t frame_skip_for_polls(std::uint32_t polls);

// Measures the host for 50 ms, stores the frame skip and prints it.
void calibrate_frame_skip(std::uint32_t& frame_skip);
