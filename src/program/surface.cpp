#include "program/surface.h"

#include <cstdio>
#include <cstring>

#include "ppu/palette.h"

std::uint32_t map_rgb(SDL_Surface* surface, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return SDL_MapRGB(surface->format, red, green, blue);
}

// ---- Mapped colours, once per surface ----------------------------------------------------
namespace {

// One surface is drawn at a time, so one cached mapping is enough. The key is the surface and
// its whole pixel format, bytes as they are: a freed surface's address (and its format's) may
// come back with another format, and SDL_MapRGB ORs the alpha mask into every value.
struct ColourCache {
    const SDL_Surface* surface = nullptr;
    const SDL_PixelFormat* format = nullptr;
    unsigned char format_bytes[sizeof(SDL_PixelFormat)] = {};
    std::uint32_t colours[64] = {};
    std::uint64_t mappings = 0;  // 64 bits: never wraps back to a value a caller holds
};

ColourCache colour_cache;

bool cache_matches(const SDL_Surface* surface) {
    return colour_cache.surface == surface && colour_cache.format == surface->format &&
           std::memcmp(colour_cache.format_bytes, surface->format, sizeof(SDL_PixelFormat)) == 0;
}

}  // namespace

const std::uint32_t* surface_colours(SDL_Surface* surface) {
    if (!cache_matches(surface)) {
        for (std::uint32_t i = 0; i < 64; ++i)
            colour_cache.colours[i] =
                map_rgb(surface, rgb_palette[i][0], rgb_palette[i][1], rgb_palette[i][2]);
        colour_cache.surface = surface;
        colour_cache.format = surface->format;
        std::memcpy(colour_cache.format_bytes, surface->format, sizeof(SDL_PixelFormat));
        ++colour_cache.mappings;
    }
    return colour_cache.colours;
}

std::uint64_t surface_colour_mappings() { return colour_cache.mappings; }

// ---- Locking and pixel writes ------------------------------------------------------------
bool surface_lock(SDL_Surface* surface) {
    return !SDL_MUSTLOCK(surface) || SDL_LockSurface(surface) == 0;
}

void surface_unlock(SDL_Surface* surface) {
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
}

void put_pixel(SDL_Surface* surface, std::uint32_t x, std::uint32_t y, std::uint32_t value) {
    if (x >= static_cast<std::uint32_t>(surface->w) || y >= static_cast<std::uint32_t>(surface->h) ||
        surface->format->BytesPerPixel != 2)
        return;
    if (!surface_lock(surface)) return;  // locks nest, so a caller may hold the lock already
    auto* row = static_cast<std::uint8_t*>(surface->pixels) + y * surface->pitch;
    reinterpret_cast<std::uint16_t*>(row)[x] = static_cast<std::uint16_t>(value);
    surface_unlock(surface);
}

void put_picture_pixel(SDL_Surface* surface, std::uint32_t x, std::int32_t y, std::uint32_t value) {
    if (x > 256 || y > 240 || y < 0) std::fputs("Se kiere pintar fuera de rango", stdout);
    if (y < 0 || x > 0xFFFFFFFFu - 32) return;  // no wrap back onto the surface
    put_pixel(surface, x + 32, static_cast<std::uint32_t>(y), value);
}

// ---- The flip ----------------------------------------------------------------------------
void flip_screen(SDL_Surface* surface) { SDL_Flip(surface); }
