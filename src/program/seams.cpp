// The program's side of the emulation's seams (core/host.h): its SDL surface, the keyboard as
// the joypad, standard output and SDL's clock.
#include <SDL.h>

#include <cstdio>

#include "core/host.h"
#include "program/surface.h"

// ---- The picture: the SDL surface --------------------------------------------------------
bool screen_lock(Screen* screen) { return surface_lock(surface_of(screen)); }
void screen_unlock(Screen* screen) { surface_unlock(surface_of(screen)); }
std::uint16_t* screen_row(Screen* screen, std::uint32_t y) { return picture_row(surface_of(screen), y); }
const std::uint32_t* screen_colours(Screen* screen) { return surface_colours(surface_of(screen)); }
std::uint64_t screen_colour_mappings() { return surface_colour_mappings(); }
void screen_show(Screen* screen) { flip_screen(surface_of(screen)); }

// ---- The joypad: the keyboard --------------------------------------------------------------
namespace {

// Keys in the pad's read order: A, B, Select, Start, Up, Down, Left, Right.
// SDL numbers Right (275) before Left (276); the pad reads Left first.
constexpr SDLKey key_of_slot[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};

}  // namespace

void joypad_buttons(std::uint8_t* buttons) {
    const Uint8* keys = SDL_GetKeyState(nullptr);
    for (std::uint32_t slot = 0; slot < 8; ++slot) buttons[slot] = keys[key_of_slot[slot]];
}

// ---- Text and clock --------------------------------------------------------------------------
void host_print(const char* text) { std::fputs(text, stdout); }
std::uint32_t host_ticks() { return SDL_GetTicks(); }
