// PPU registers, latches and the 16 KB PPU address space, all kept in the machine image.
#pragma once

#include <cstdint>

// PPU memory access through the mirroring fold (0 horizontal, 1 vertical).
void vram_read(std::uint8_t& destination, const std::uint8_t* image, std::uint16_t address,
               std::uint32_t mirroring);
void vram_write(const std::uint8_t& source, std::uint8_t* image, std::uint16_t address,
                std::uint32_t mirroring);

// Register side effects, for reads of 0x2002/0x2004/0x2007 and writes of 0x2003-0x2007.
void ppu_register_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address);
void ppu_register_write(const std::uint8_t& source, std::uint8_t* image, std::uint32_t address);

// Control, mask and status bits.
std::uint8_t nmi_enabled(const std::uint8_t* image);
std::uint32_t vram_increment(const std::uint8_t* image);
std::uint32_t sprite_pattern_base(const std::uint8_t* image);
std::uint32_t background_pattern_base(const std::uint8_t* image);
std::uint32_t nametable_base(const std::uint8_t* image);
std::uint8_t show_background(const std::uint8_t* image);
std::uint8_t show_sprites(const std::uint8_t* image);
void set_vblank(std::uint8_t* image, std::uint32_t value);
void set_sprite0_hit(std::uint8_t* image, std::uint32_t value);
