// Colours and pixels of the SDL surface the picture is drawn into.
#pragma once

#include <cstdint>

struct SDL_Surface;

extern const std::uint8_t rgb_palette[64][3];

std::uint32_t map_rgb(SDL_Surface* surface, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
void put_pixel(SDL_Surface* surface, std::uint32_t x, std::uint32_t y, std::uint32_t value);
// Picture column x, line y; lands at surface column x + 32.
void put_picture_pixel(SDL_Surface* surface, std::uint32_t x, std::int32_t y, std::uint32_t value);
void flip_screen(SDL_Surface* surface);
