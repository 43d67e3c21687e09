#include "bus/bus.h"

#include "bus/joypad.h"
#include "core/host.h"
#include "core/machine.h"
#include "ppu/ppu_registers.h"

void display_update_raise(std::uint8_t* image) {
    if (image[priv::display_update] == 0) image[priv::display_update] = 1;
}

// ---- Reads of 0x2000-0x7FFF --------------------------------------------------------------
// Returns the byte read, or destination itself where the read delivers nothing.
std::uint8_t bus_read_registers(std::uint8_t destination, std::uint8_t* image, std::uint32_t address) {
    if (address < 0x4000) {
        switch (address) {
        case 0x2002:
        case 0x2004:
        case 0x2007:
            ppu_register_read(destination, image, address);
            break;
        case 0x2003:
        case 0x2006:
            break;  // write-only: the destination keeps its value
        default:
            // 0x2000, 0x2001, 0x2005 read their stored byte; the mirrors above read the stored
            // register byte without any side effect.
            destination = image[0x2000 + (address & 7)];
            break;
        }
    } else if (address == 0x4016 || address == 0x4017) {
        joypad_poll_keys(image);
        joypad_read(destination, image, address);
    } else if (address == 0x4015) {
        destination = sound_status(image, image[address]);
    } else {
        destination = image[address];
    }
    return destination;
}

// ---- Writes of 0x2000-0x7FFF -------------------------------------------------------------
void bus_write_registers(std::uint8_t source, std::uint8_t* image, std::uint32_t address) {
    if (address < 0x4000) {
        if (address > 0x2007) return;  // register mirrors take no writes
        if (address == 0x2002) {
            image[address] = source;
        } else if (address < 0x2002) {
            display_update_raise(image);
            image[address] = source;
        } else {
            display_update_raise(image);
            ppu_register_write(source, image, address);
        }
    } else if (address == 0x4014) {
        // Sprite DMA: the emulation thread copies one byte per instruction from here on.
        display_update_raise(image);
        image[priv::dma_index] = 0;
        image[priv::dma_page] = source;
        image[priv::dma_active] = 1;
    } else if (address == 0x4016 || address == 0x4017) {
        joypad_write(source, image, address);
        if (address == 0x4017) sound_write(image, address, source);  // the frame counter's too
    } else {
        image[address] = source;
        if (address < 0x4018) sound_write(image, address, source);
    }
}
