// Scanline timing: lines, vertical blank, the NMI request and the sprite-0 moment.
#pragma once

#include <cstdint>

struct SDL_Surface;

void ppu_tick(std::uint8_t* image, SDL_Surface* surface, std::uint32_t& line_cycles,
              std::uint32_t& nmi_request, std::uint32_t& frame_count, std::uint32_t& frame_skip,
              std::uint32_t& scanline, std::uint32_t& mirroring);
