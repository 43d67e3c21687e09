// The core's side of the emulation's seams (core/host.h): a picture buffer in the frontend's
// RGB565, RetroPad 1 as the joypad, the frontend's log for text.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/host.h"
#include "libretro/frontend.h"
#include "libretro/keys.h"
#include "ppu/palette.h"

Frontend frontend;
Screen screen;

// ---- The picture ---------------------------------------------------------------------------
namespace {

std::uint32_t colours[64];

}  // namespace

void screen_map_colours() {
    // RGB565 as SDL_MapRGB makes it for the program's 16-bit surface: each channel's top bits.
    for (std::uint32_t i = 0; i < 64; ++i)
        colours[i] = (rgb_palette[i][0] >> 3u) << 11 | (rgb_palette[i][1] >> 2u) << 5 | rgb_palette[i][2] >> 3u;
}

bool screen_lock(Screen*) { return true; }
void screen_unlock(Screen*) {}

std::uint16_t* screen_row(Screen* s, std::uint32_t y) {
    return y < picture_height ? s->pixels + y * picture_width : nullptr;
}

const std::uint32_t* screen_colours(Screen*) { return colours; }
std::uint64_t screen_colour_mappings() { return 1; }  // mapped once, before the first line

void screen_show(Screen* s) { s->shown = true; }

// ---- The joypad: RetroPad 1 ------------------------------------------------------------------
void joypad_buttons(std::uint8_t* buttons) {
    for (std::uint32_t slot = 0; slot < pad_slot::count; ++slot)
        buttons[slot] = frontend.input_state != nullptr &&
                        frontend.input_state(0, RETRO_DEVICE_JOYPAD, 0, retropad_of_slot[slot]) != 0;
}

// ---- Text and clock ----------------------------------------------------------------------------
void host_print(const char* text) {
    const std::size_t room = sizeof frontend.text - 1 - frontend.text_length;
    const std::size_t length = std::min(std::strlen(text), room);
    std::memcpy(frontend.text + frontend.text_length, text, length);
    frontend.text_length += length;
    frontend.text[frontend.text_length] = '\0';
}

std::uint32_t host_ticks() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void frontend_log(retro_log_level level, const char* line) {
    if (frontend.log != nullptr)
        frontend.log(level, "%s\n", line);
    else
        std::fprintf(stderr, "quenrik: %s\n", line);
}

void frontend_log_text(retro_log_level level) {
    char* line = frontend.text;
    while (*line != '\0') {
        char* end = std::strchr(line, '\n');
        if (end != nullptr) *end = '\0';
        if (*line != '\0') frontend_log(level, line);
        if (end == nullptr) break;
        line = end + 1;
    }
    frontend.text_length = 0;
    frontend.text[0] = '\0';
}
