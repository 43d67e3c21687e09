// The entry point's work: options, loading, window, threads, shutdown.
#pragma once

#include "core/machine.h"

// Everything before the window opens: resets the run state and the image, reads the options
// (full_screen receives the "-fs" choice), loads the cartridge and copies its mirroring into
// the image. Ends the process after the usage text or when the cartridge cannot be loaded.
void start_up(int argc, char** argv, RunState& state, std::uint8_t* image, bool& full_screen);

int quenrik_main(int argc, char** argv, RunState& state, std::uint8_t* image);
