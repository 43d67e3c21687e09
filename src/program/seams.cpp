// The program's side of the emulation's seams (core/host.h): its SDL surface, the keyboard as
// the joypad, no sound, standard output and SDL's clock.
#include <SDL.h>

#include <array>
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

// The key of each of the pad's slots.
constexpr std::array<SDLKey, pad_slot::count> key_of_slot = [] {
    std::array<SDLKey, pad_slot::count> keys{};
    keys[pad_slot::a] = SDLK_x;
    keys[pad_slot::b] = SDLK_z;
    keys[pad_slot::select] = SDLK_a;
    keys[pad_slot::start] = SDLK_s;
    keys[pad_slot::up] = SDLK_UP;
    keys[pad_slot::down] = SDLK_DOWN;
    keys[pad_slot::left] = SDLK_LEFT;
    keys[pad_slot::right] = SDLK_RIGHT;
    return keys;
}();

}  // namespace

void joypad_buttons(std::uint8_t* buttons) {
    const Uint8* keys = SDL_GetKeyState(nullptr);
    for (std::uint32_t slot = 0; slot < pad_slot::count; ++slot) buttons[slot] = keys[key_of_slot[slot]];
}

// ---- The sound registers: plain bytes --------------------------------------------------------
void sound_write(std::uint8_t*, std::uint32_t, std::uint8_t) {}
std::uint8_t sound_status(std::uint8_t*, std::uint8_t kept) { return kept; }

// ---- Text and clock --------------------------------------------------------------------------
void host_print(const char* text) { std::fputs(text, stdout); }
std::uint32_t host_ticks() { return SDL_GetTicks(); }
