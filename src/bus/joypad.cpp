#include "bus/joypad.h"

#include "core/host.h"
#include "core/machine.h"

namespace {

enum Strobe : std::uint8_t { released = 0, held = 1, blocked = 2 };

}  // namespace

void joypad_poll_keys(std::uint8_t* image) { joypad_buttons(image + priv::button_states); }

void joypad_read(std::uint8_t& destination, std::uint8_t* image, std::uint32_t address) {
    if (image[priv::joypad_strobe] != released) return;
    if (address == 0x4017) {
        destination = 0;
        ++image[priv::joypad_port2_reads];
        return;
    }
    // Only a debugger write can put the position outside 0-7; fold it back into the eight slots.
    const std::uint8_t index = image[priv::joypad_index] & 7u;
    destination = image[priv::button_states + index];
    image[priv::joypad_index] = static_cast<std::uint8_t>(index == 7 ? 0 : index + 1);
}

void joypad_write(const std::uint8_t& source, std::uint8_t* image, std::uint32_t address) {
    if (address != 0x4016) return;
    std::uint8_t& strobe = image[priv::joypad_strobe];
    if (source == 0x01) {
        strobe = held;
    } else if (source == 0x00) {
        // Releasing from the blocked state needs a 1 first.
        if (strobe != blocked) strobe = released;
    } else if (strobe == held) {
        strobe = blocked;
    }
}
