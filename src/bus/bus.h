// The CPU memory bus: every CPU read and write passes through here.
#pragma once

#include <cstdint>

// destination = what the CPU reads at address (0x0000-0xFFFF; higher bits are ignored).
// Reads of 0x2003 and 0x2006, and joypad reads while the strobe is not released, leave
// destination as it was.
void bus_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address);

// The CPU writes source at address (0x0000-0xFFFF; higher bits are ignored).
void bus_write(const std::uint8_t& source, std::uint8_t* image, std::uint32_t address);

// Marks the picture as changed (fast mode): 0 becomes 1, any other value stays.
void display_update_raise(std::uint8_t* image);
