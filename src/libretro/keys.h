// What the core and its frontends (RetroArch, the web page's web.cpp) name alike: the option
// keys, and RetroPad 1's buttons in the pad's read order.
#pragma once

#include <libretro.h>

#include <array>

#include "core/host.h"

constexpr const char* option_fast_mode = "quenrik_fast_mode";
constexpr const char* option_crop_overscan = "quenrik_crop_overscan";
constexpr const char* option_sound = "quenrik_sound";

// The RetroPad button of each of the pad's slots.
constexpr std::array<unsigned, pad_slot::count> retropad_of_slot = [] {
    std::array<unsigned, pad_slot::count> ids{};
    ids[pad_slot::a] = RETRO_DEVICE_ID_JOYPAD_A;
    ids[pad_slot::b] = RETRO_DEVICE_ID_JOYPAD_B;
    ids[pad_slot::select] = RETRO_DEVICE_ID_JOYPAD_SELECT;
    ids[pad_slot::start] = RETRO_DEVICE_ID_JOYPAD_START;
    ids[pad_slot::up] = RETRO_DEVICE_ID_JOYPAD_UP;
    ids[pad_slot::down] = RETRO_DEVICE_ID_JOYPAD_DOWN;
    ids[pad_slot::left] = RETRO_DEVICE_ID_JOYPAD_LEFT;
    ids[pad_slot::right] = RETRO_DEVICE_ID_JOYPAD_RIGHT;
    return ids;
}();
