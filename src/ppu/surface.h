// Colours and pixels of the SDL surface the picture is drawn into.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <cstdio>

extern const std::uint8_t rgb_palette[64][3];

// The surface's own pixel value for a colour (SDL_MapRGB on its format).
std::uint32_t map_rgb(SDL_Surface* surface, std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// The 64 palette colours mapped for this surface. Mapped once and reused until another
// surface (or a surface with another format) is asked for.
const std::uint32_t* surface_colours(SDL_Surface* surface);

// Lock and unlock around pixel writes, only where SDL says the surface needs it.
void surface_lock(SDL_Surface* surface);
void surface_unlock(SDL_Surface* surface);

// The pixel writes are inline: the renderer makes one per picture pixel. They do not lock;
// the caller holds the lock (surface_lock) while it writes.

// Stores the low 16 bits of value at surface column x, row y; positions off the surface are ignored.
inline void put_pixel(SDL_Surface* surface, std::uint32_t x, std::uint32_t y, std::uint32_t value) {
    if (x >= static_cast<std::uint32_t>(surface->w) || y >= static_cast<std::uint32_t>(surface->h))
        return;
    auto* row = static_cast<std::uint8_t*>(surface->pixels) + y * surface->pitch;
    reinterpret_cast<std::uint16_t*>(row)[x] = static_cast<std::uint16_t>(value);
}

// Picture column x, line y; lands at surface column x + 32.
inline void put_picture_pixel(SDL_Surface* surface, std::uint32_t x, std::int32_t y,
                              std::uint32_t value) {
    if (x > 256 || y > 240 || y < 0) std::fputs("Se kiere pintar fuera de rango", stdout);
    if (y < 0 || x > 0xFFFFFFFFu - 32) return;  // no wrap back onto the surface
    put_pixel(surface, x + 32, static_cast<std::uint32_t>(y), value);
}

// Shows the drawn frame.
void flip_screen(SDL_Surface* surface);
