// The console's 64 colours.
#pragma once

#include <cstdint>

// Red, green, blue of every colour index 0x00-0x3F; a palette byte is taken modulo 64 first.
extern const std::uint8_t rgb_palette[64][3];
