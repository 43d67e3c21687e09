// The CPU memory bus: every CPU read and write passes through here.
#pragma once

#include <cstdint>

#include "ppu/ppu_registers.h"

// The part of the decode that is neither RAM nor PRG (0x2000-0x7FFF): PPU registers, sprite
// DMA, the joypad port and the plain bytes in between.
// Out of line even where the compiler could inline them (link-time optimisation, the CPU's
// flattened dispatch): they are the rare path, and 256 copies would only fill the cache.
// By value, so that no caller's byte has its address taken: the hot path of every instruction
// then keeps its bytes in registers and needs no stack-protector canary.
[[gnu::noinline]] std::uint8_t bus_read_registers(std::uint8_t destination, std::uint8_t* image,
                                                  std::uint32_t address);
[[gnu::noinline]] void bus_write_registers(std::uint8_t source, std::uint8_t* image,
                                           std::uint32_t address);

// destination = what the CPU reads at address (0x0000-0xFFFF; higher bits are ignored).
// Reads of 0x2003 and 0x2006, and joypad reads while the strobe is not released, leave
// destination as it was. Inline: every instruction reads through here, nearly always PRG
// (opcodes, operands) or RAM, and wait loops poll 0x2002.
inline void bus_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address) {
    address &= 0xFFFF;  // never index past the CPU half, whatever a caller hands in
    if (address >= 0x8000)
        destination = image[address];  // PRG
    else if (address < 0x2000)
        destination = image[address & 0x07FF];  // 2 KB of RAM, mirrored four times
    else if (address == 0x2002)
        ppu_status_read(destination, image);
    else [[unlikely]]
        destination = bus_read_registers(destination, image, address);
}

// The CPU writes source at address (0x0000-0xFFFF; higher bits are ignored).
inline void bus_write(const std::uint8_t& source, std::uint8_t* image, std::uint32_t address) {
    address &= 0xFFFF;
    if (address < 0x2000)
        image[address & 0x07FF] = source;
    else if (address >= 0x8000)
        image[address] = source;  // PRG is not protected
    else [[unlikely]]
        bus_write_registers(source, image, address);  // a copy: see above
}

// Marks the picture as changed (fast mode): 0 becomes 1, any other value stays.
void display_update_raise(std::uint8_t* image);
