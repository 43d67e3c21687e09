// Colours and pixels of the SDL surface the program draws its picture into: the program's
// side of the screen the emulation draws on (core/host.h).
#pragma once

#include <SDL.h>

#include <cstdint>

struct Screen;

// The program's screen is its SDL surface; the emulation only carries the handle.
inline Screen* screen_of(SDL_Surface* surface) { return reinterpret_cast<Screen*>(surface); }
inline SDL_Surface* surface_of(Screen* screen) { return reinterpret_cast<SDL_Surface*>(screen); }

// The surface's own pixel value for a colour (SDL_MapRGB on its format).
std::uint32_t map_rgb(SDL_Surface* surface, std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// The 64 palette colours mapped for this surface. Mapped once and reused until another
// surface (or a surface with another format) is asked for.
const std::uint32_t* surface_colours(SDL_Surface* surface);

// How many times surface_colours has mapped the colours anew. Tables made from its colours
// are current for as long as this number stays the same.
std::uint64_t surface_colour_mappings();

// Lock and unlock around pixel writes, only where SDL says the surface needs it. The lock
// answers false when the pixels cannot be reached; nothing is to be written or unlocked then.
bool surface_lock(SDL_Surface* surface);
void surface_unlock(SDL_Surface* surface);

// Stores the low 16 bits of value at surface column x, row y; positions off the surface (and
// surfaces without 16-bit pixels) are ignored. Locks the surface for the write where needed.
void put_pixel(SDL_Surface* surface, std::uint32_t x, std::uint32_t y, std::uint32_t value);

// Picture column x, line y; lands at surface column x + 32. Prints a message for coordinates
// outside the picture, and still writes them if they lie on the surface.
void put_picture_pixel(SDL_Surface* surface, std::uint32_t x, std::int32_t y, std::uint32_t value);

// The 256 pixels of picture line y, that is surface row y from column 32, for the renderer,
// which writes a whole line at once (between surface_lock and surface_unlock). Null when the
// row is not on the surface (line 240) or the surface cannot take the picture.
inline std::uint16_t* picture_row(SDL_Surface* surface, std::uint32_t y) {
    if (y >= static_cast<std::uint32_t>(surface->h) || surface->w < 32 + 256 ||
        surface->format->BytesPerPixel != 2)
        return nullptr;
    auto* row = static_cast<std::uint8_t*>(surface->pixels) + y * surface->pitch;
    return reinterpret_cast<std::uint16_t*>(row) + 32;
}

// Shows the drawn frame.
void flip_screen(SDL_Surface* surface);
