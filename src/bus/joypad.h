// The first joypad, read through 0x4016, with the keyboard standing in for it.
#pragma once

#include <cstdint>

// Samples the host's eight buttons (the program's keyboard) into the button slots.
void joypad_poll_keys(std::uint8_t* image);

// Delivers the button at the read position (0x4016) or 0 (0x4017); nothing while the strobe is
// held or blocked.
void joypad_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address);

// Moves the strobe state on a write of 0x4016; 0x4017 has no effect.
void joypad_write(const std::uint8_t& source, std::uint8_t* image, std::uint32_t address);
