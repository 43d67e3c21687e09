// Where the emulation meets the host that runs it: the picture, the joypad, text and the clock.
// The emulation calls these and never asks which host it runs under; each host defines every one
// of them once, in its own folder: the SDL program in src/program/seams.cpp, the libretro core in
// src/libretro/seams.cpp. They are bound when the program is linked, so a call costs what a
// direct call costs, and nothing where link-time optimisation puts it in its caller.
#pragma once

#include <cstdint>

// ---- The picture -------------------------------------------------------------------------
// The host's screen, drawn into line by line: an SDL surface for the program, a plain buffer of
// RGB565 pixels for the core. The emulation only hands the handle back.
struct Screen;

// Lock and unlock around the writes of one line. The lock answers false when the pixels cannot
// be reached; nothing is to be written or unlocked then.
bool screen_lock(Screen* screen);
void screen_unlock(Screen* screen);

// The 256 pixels of picture line y, while locked; null when the screen has no row for it.
std::uint16_t* screen_row(Screen* screen, std::uint32_t y);

// The 64 palette colours as the screen's own pixel values, and how many times they have been
// mapped anew: tables made from them are current while that number stays the same.
const std::uint32_t* screen_colours(Screen* screen);
std::uint64_t screen_colour_mappings();

// The frame is finished: show it (the program's flip).
void screen_show(Screen* screen);

// ---- The joypad --------------------------------------------------------------------------
// The pad's buttons numbered in the order the game reads them, one bit a read; every host maps
// its keys or buttons onto these slots by name.
namespace pad_slot {
constexpr std::uint32_t a = 0, b = 1, select = 2, start = 3, up = 4, down = 5, left = 6, right = 7;
constexpr std::uint32_t count = 8;
}  // namespace pad_slot

// The eight buttons as they are now, by slot: 1 held, 0 released. Asked at every read of the
// joypad port.
void joypad_buttons(std::uint8_t* buttons);

// ---- The sound registers -------------------------------------------------------------------
// A CPU write to 0x4000-0x4013, 0x4015 or 0x4017, after the bus has kept the byte as it keeps
// every byte there; and a read of 0x4015, given the byte the bus keeps, answering what the CPU
// reads. The program has no sound: its write does nothing and its read answers the kept byte.
void sound_write(std::uint8_t* image, std::uint32_t address, std::uint8_t value);
std::uint8_t sound_status(std::uint8_t* image, std::uint8_t kept);

// ---- Text and clock ----------------------------------------------------------------------
// Text the emulation has for its user (the loader's report, an unknown opcode), exactly as the
// program prints it on standard output.
void host_print(const char* text);

// Milliseconds from some fixed moment, wrapping at 2^32: the evaluation stop's clock.
std::uint32_t host_ticks();
