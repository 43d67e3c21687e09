// The scanline renderer: background and sprites of one line, straight into the surface.
#pragma once

#include <cstdint>

struct SDL_Surface;

// Fills line_sprites with the sprites on line, 63 down to 0, ended by 0xFF.
void select_line_sprites(std::uint8_t* image, std::uint32_t line);

void render_scanline(SDL_Surface* surface, std::uint8_t* image, std::uint32_t mirroring,
                     std::uint32_t line);
