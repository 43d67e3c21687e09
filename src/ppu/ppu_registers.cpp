#include "ppu/ppu_registers.h"

#include "core/machine.h"

namespace {

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

// ---- Register reads ----------------------------------------------------------------------
void ppu_register_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address) {
    switch (address) {
    case 0x2002:
        ppu_status_read(destination, image);
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
