#include "ppu/surface.h"

#include <cstdio>

// ---- The colour table --------------------------------------------------------------------
// Red, green, blue of every NES colour index 0x00-0x3F.
const std::uint8_t rgb_palette[64][3] = {
    {128, 128, 128}, {0, 0, 187},     {55, 0, 191},    {132, 0, 166},   // 0x00
    {187, 0, 106},   {183, 0, 30},    {179, 0, 0},     {145, 38, 0},    // 0x04
    {123, 43, 0},    {0, 62, 0},      {0, 72, 13},     {0, 60, 34},     // 0x08
    {0, 47, 102},    {0, 0, 0},       {5, 5, 5},       {5, 5, 5},       // 0x0C
    {200, 200, 200}, {0, 89, 255},    {68, 60, 255},   {183, 51, 204},  // 0x10
    {255, 51, 170},  {255, 55, 94},   {255, 55, 26},   {213, 75, 0},    // 0x14
    {196, 98, 0},    {60, 123, 0},    {30, 132, 21},   {0, 149, 102},   // 0x18
    {0, 132, 196},   {17, 17, 17},    {9, 9, 9},       {9, 9, 9},       // 0x1C
    {255, 255, 255}, {0, 149, 255},   {111, 132, 255}, {213, 111, 255}, // 0x20
    {255, 119, 204}, {255, 111, 153}, {255, 123, 89},  {255, 145, 95},  // 0x24
    {255, 162, 51},  {166, 191, 0},   {81, 217, 106},  {77, 213, 174},  // 0x28
    {0, 217, 255},   {102, 102, 102}, {13, 13, 13},    {13, 13, 13},    // 0x2C
    {255, 255, 255}, {132, 191, 255}, {187, 187, 255}, {208, 187, 255}, // 0x30
    {255, 191, 234}, {255, 191, 204}, {255, 196, 183}, {255, 204, 174}, // 0x34
    {255, 217, 162}, {204, 225, 153}, {174, 238, 183}, {170, 247, 238}, // 0x38
    {179, 238, 255}, {221, 221, 221}, {17, 17, 17},    {17, 17, 17},    // 0x3C
};

std::uint32_t map_rgb(SDL_Surface* surface, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return SDL_MapRGB(surface->format, red, green, blue);
}

// ---- Mapped colours, once per surface ----------------------------------------------------
namespace {

// One surface is drawn at a time, so one cached mapping is enough. The key includes the
// masks: a freed surface's address may come back with another format.
struct ColourCache {
    const SDL_Surface* surface = nullptr;
    const SDL_PixelFormat* format = nullptr;
    std::uint32_t masks[3] = {0, 0, 0};
    std::uint8_t bits = 0;
    std::uint32_t colours[64] = {};
    std::uint64_t mappings = 0;  // 64 bits: never wraps back to a value a caller holds
};

ColourCache colour_cache;

bool cache_matches(const SDL_Surface* surface) {
    const SDL_PixelFormat* format = surface->format;
    return colour_cache.surface == surface && colour_cache.format == format &&
           colour_cache.masks[0] == format->Rmask && colour_cache.masks[1] == format->Gmask &&
           colour_cache.masks[2] == format->Bmask && colour_cache.bits == format->BitsPerPixel;
}

}  // namespace

const std::uint32_t* surface_colours(SDL_Surface* surface) {
    if (!cache_matches(surface)) {
        for (std::uint32_t i = 0; i < 64; ++i)
            colour_cache.colours[i] =
                map_rgb(surface, rgb_palette[i][0], rgb_palette[i][1], rgb_palette[i][2]);
        const SDL_PixelFormat* format = surface->format;
        colour_cache.surface = surface;
        colour_cache.format = format;
        colour_cache.masks[0] = format->Rmask;
        colour_cache.masks[1] = format->Gmask;
        colour_cache.masks[2] = format->Bmask;
        colour_cache.bits = format->BitsPerPixel;
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
