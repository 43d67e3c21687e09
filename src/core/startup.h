// The entry point's work: options, loading, window, threads, shutdown.
#pragma once

#include "core/machine.h"

int quenrik_main(int argc, char** argv, RunState& state, std::uint8_t* image);
