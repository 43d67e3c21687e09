// PPU registers, latches and the 16 KB PPU address space, all kept in the machine image.
#pragma once

#include <cstdint>

#include "core/machine.h"

// ---- Video memory ------------------------------------------------------------------------
// Image index of a PPU address after the mirroring fold (0 horizontal, 1 vertical): 0x3000-
// 0x3EFF repeat the name tables, the four logical tables fold onto two, and every multiple of
// 4 in the palette is the one backdrop byte. Inline: the renderer reads through it per tile.
inline std::uint32_t ppu_image_index(std::uint16_t address, std::uint32_t mirroring) {
    std::uint32_t a = address & 0x3FFFu;
    if (a < 0x2000) return ppu_space + a;  // pattern tables, the common case
    if (a >= 0x3000 && a <= 0x3EFF) a -= 0x1000;
    if (a >= 0x2000 && a <= 0x2FFF) {
        if (mirroring == 1) {
            if (a >= 0x2800) a -= 0x0800;
        } else if (a >= 0x2C00) {
            a -= 0x0800;
        } else if (a >= 0x2400) {
            a -= 0x0400;
        }
    } else if (a >= 0x3F00 && a <= 0x3F1F && (a & 3u) == 0) {
        a = 0x3F00;
    }
    return ppu_space + a;
}

// PPU memory access through the mirroring fold.
inline void vram_read(std::uint8_t& destination, const std::uint8_t* image, std::uint16_t address,
                      std::uint32_t mirroring) {
    destination = image[ppu_image_index(address, mirroring)];
}

inline void vram_write(const std::uint8_t& source, std::uint8_t* image, std::uint16_t address,
                       std::uint32_t mirroring) {
    image[ppu_image_index(address, mirroring)] = source;
}

// ---- Registers ---------------------------------------------------------------------------
// The status read: the byte as it stands, then vertical blank and sprite-0 hit cleared and the
// address latches reset. Inline, as the bus's fast path: games poll 0x2002 in tight loops.
inline void ppu_status_read(std::uint8_t& destination, std::uint8_t* image) {
    destination = image[ppu_status];
    image[ppu_status] &= 0x3F;
    image[priv::vram_addr_hi] = 0;
    image[priv::vram_addr_lo] = 0;
    image[priv::ppu_write_toggle] = 0;
}

// Register side effects, for reads of 0x2002/0x2004/0x2007 and writes of 0x2003-0x2007.
void ppu_register_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address);
void ppu_register_write(const std::uint8_t& source, std::uint8_t* image, std::uint32_t address);

// ---- Control, mask and status bits -------------------------------------------------------
inline std::uint8_t nmi_enabled(const std::uint8_t* image) { return flag_get(7, image[ppu_control]); }

inline std::uint32_t vram_increment(const std::uint8_t* image) {
    return flag_get(2, image[ppu_control]) * 31u + 1u;
}

inline std::uint32_t sprite_pattern_base(const std::uint8_t* image) {
    return flag_get(3, image[ppu_control]) * 0x1000u;
}

inline std::uint32_t background_pattern_base(const std::uint8_t* image) {
    return flag_get(4, image[ppu_control]) * 0x1000u;
}

inline std::uint32_t nametable_base(const std::uint8_t* image) {
    const std::uint8_t control = image[ppu_control];
    return 0x2000u + (flag_get(0, control) + flag_get(1, control) * 2u) * 0x400u;
}

inline std::uint8_t show_background(const std::uint8_t* image) { return flag_get(3, image[ppu_mask]); }

inline std::uint8_t show_sprites(const std::uint8_t* image) { return flag_get(4, image[ppu_mask]); }

inline void set_vblank(std::uint8_t* image, std::uint32_t value) { flag_set(7, value, image[ppu_status]); }

inline void set_sprite0_hit(std::uint8_t* image, std::uint32_t value) {
    flag_set(6, value, image[ppu_status]);
}
