#include "ppu/ppu_registers.h"

#include "core/machine.h"

namespace {

// ---- PPU address folding -----------------------------------------------------------------
std::uint32_t fold_ppu_address(std::uint16_t address, std::uint32_t mirroring) {
    std::uint32_t a = address & 0x3FFFu;
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
        a = 0x3F00;  // every multiple of 4 is the one backdrop byte
    }
    return ppu_space + a;
}

// ---- Latched 16-bit addresses ------------------------------------------------------------
std::uint32_t vram_address(const std::uint8_t* image) {
    return image[priv::vram_addr_hi] * 256u + image[priv::vram_addr_lo];
}

void set_vram_address(std::uint8_t* image, std::uint32_t value) {
    image[priv::vram_addr_hi] = static_cast<std::uint8_t>(value >> 8);
    image[priv::vram_addr_lo] = static_cast<std::uint8_t>(value);
}

// After a 0x2007 access: 0x3FFF wraps to 0, anything else moves by the increment.
std::uint32_t next_vram_address(const std::uint8_t* image, std::uint32_t address) {
    return address == 0x3FFF ? 0 : address + vram_increment(image);
}

// Sprite memory has 256 bytes: only the low 8 bits of the 16-bit index select one, so no
// index can reach the private state that follows sprite memory.
std::uint8_t& sprite_byte(std::uint8_t* image) {
    return image[priv::sprite_memory + image[priv::sprite_addr_lo]];
}

void advance_sprite_address(std::uint8_t* image) {
    std::uint32_t index = image[priv::sprite_addr_hi] * 256u + image[priv::sprite_addr_lo];
    index += vram_increment(image);
    image[priv::sprite_addr_hi] = static_cast<std::uint8_t>(index >> 8);
    image[priv::sprite_addr_lo] = static_cast<std::uint8_t>(index);
}

}  // namespace

// ---- Video memory ------------------------------------------------------------------------
void vram_read(std::uint8_t& destination, const std::uint8_t* image, std::uint16_t address,
               std::uint32_t mirroring) {
    destination = image[fold_ppu_address(address, mirroring)];
}

void vram_write(const std::uint8_t& source, std::uint8_t* image, std::uint16_t address,
                std::uint32_t mirroring) {
    image[fold_ppu_address(address, mirroring)] = source;
}

// ---- Register reads ----------------------------------------------------------------------
void ppu_register_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address) {
    switch (address) {
    case 0x2002:
        destination = image[ppu_status];
        image[ppu_status] &= 0x3F;
        set_vram_address(image, 0);
        image[priv::ppu_write_toggle] = 0;
        break;
    case 0x2004:
        destination = sprite_byte(image);
        advance_sprite_address(image);
        break;
    case 0x2007: {
        // The data port answers one read late.
        destination = image[priv::vram_read_buffer];
        const std::uint32_t current = vram_address(image);
        vram_read(image[priv::vram_read_buffer], image, static_cast<std::uint16_t>(current),
                  image[priv::mirroring]);
        set_vram_address(image, next_vram_address(image, current) & 0x3FFF);
        break;
    }
    default:
        break;
    }
}

// ---- Register writes ---------------------------------------------------------------------
void ppu_register_write(const std::uint8_t& source, std::uint8_t* image, std::uint32_t address) {
    switch (address) {
    case 0x2003:
        if (image[priv::sprite_addr_toggle] == 0) {
            image[priv::sprite_addr_hi] = source;
            image[priv::sprite_addr_toggle] = 1;
        } else {
            image[priv::sprite_addr_lo] = source;
            image[priv::sprite_addr_toggle] = 0;
        }
        break;
    case 0x2004:
        sprite_byte(image) = source;
        advance_sprite_address(image);
        break;
    case 0x2005:
        if (image[priv::ppu_write_toggle] == 0) {
            image[priv::scroll_x] = source;
            image[priv::ppu_write_toggle] = 1;
        } else {
            // Values from 240 up are kept one higher.
            image[priv::scroll_y] = static_cast<std::uint8_t>(source >= 240 ? source + 1 : source);
            image[priv::ppu_write_toggle] = 0;
        }
        break;
    case 0x2006:
        if (image[priv::ppu_write_toggle] == 0) {
            image[priv::vram_addr_pending] = source;
            image[priv::ppu_write_toggle] = 1;
        } else {
            image[priv::vram_addr_lo] = source;
            image[priv::vram_addr_hi] = image[priv::vram_addr_pending];
            image[priv::ppu_write_toggle] = 0;
        }
        break;
    case 0x2007: {
        const std::uint32_t current = vram_address(image);
        vram_write(source, image, static_cast<std::uint16_t>(current), image[priv::mirroring]);
        set_vram_address(image, next_vram_address(image, current) & 0xFFFF);
        break;
    }
    default:
        break;
    }
}

// ---- Control, mask and status bits -------------------------------------------------------
std::uint8_t nmi_enabled(const std::uint8_t* image) { return flag_get(7, image[ppu_control]); }

std::uint32_t vram_increment(const std::uint8_t* image) {
    return flag_get(2, image[ppu_control]) * 31u + 1u;
}

std::uint32_t sprite_pattern_base(const std::uint8_t* image) {
    return flag_get(3, image[ppu_control]) * 0x1000u;
}

std::uint32_t background_pattern_base(const std::uint8_t* image) {
    return flag_get(4, image[ppu_control]) * 0x1000u;
}

std::uint32_t nametable_base(const std::uint8_t* image) {
    const std::uint8_t control = image[ppu_control];
    return 0x2000u + (flag_get(0, control) + flag_get(1, control) * 2u) * 0x400u;
}

std::uint8_t show_background(const std::uint8_t* image) { return flag_get(3, image[ppu_mask]); }

std::uint8_t show_sprites(const std::uint8_t* image) { return flag_get(4, image[ppu_mask]); }

void set_vblank(std::uint8_t* image, std::uint32_t value) { flag_set(7, value, image[ppu_status]); }

void set_sprite0_hit(std::uint8_t* image, std::uint32_t value) { flag_set(6, value, image[ppu_status]); }
