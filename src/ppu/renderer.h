// The scanline renderer: background and sprites of one line, straight into the surface.
#pragma once

#include <cstdint>

struct SDL_Surface;

// Fills line_sprites with the sprites on line, 63 down to 0, ended by 0xFF.
void select_line_sprites(std::uint8_t* image, std::uint32_t line);

// Draws one line with background colour tables of Word entries (std::uint32_t or
// std::uint64_t): both give the same pixels.
template <typename Word>
void render_scanline_in(SDL_Surface* surface, std::uint8_t* image, std::uint32_t mirroring,
                        std::uint32_t line);

// 64-bit entries on every host: measured on i386 they cost fewer host instructions and give
// more frames a second than 32-bit ones, although each is copied there in two halves.
using RendererWord = std::uint64_t;

inline void render_scanline(SDL_Surface* surface, std::uint8_t* image, std::uint32_t mirroring,
                            std::uint32_t line) {
    render_scanline_in<RendererWord>(surface, image, mirroring, line);
}
