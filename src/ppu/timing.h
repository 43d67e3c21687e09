// Scanline timing: lines, vertical blank, the NMI request and the sprite-0 moment.
#pragma once

#include <cstdint>

#include "core/machine.h"
#include "ppu/ppu_registers.h"

struct Screen;

// line_cycles at which a line step is due: 34 instructions of 4 units.
constexpr std::uint32_t ppu_line_step_cycles = 136;
// The step after line 240, which ends the frame.
constexpr std::uint32_t ppu_vertical_blank_step = 241;

// The step made when line_cycles has reached ppu_line_step_cycles: one line drawn (or only
// counted), or the vertical-blank step that ends the frame.
void ppu_line_step(std::uint8_t* image, Screen* screen, std::uint32_t& line_cycles,
                   std::uint32_t& nmi_request, std::uint32_t& frame_count, std::uint32_t& frame_skip,
                   std::uint32_t& scanline, std::uint32_t& mirroring);

// Called once per instruction, so only its first two tests are on the common path.
inline void ppu_tick(std::uint8_t* image, Screen* screen, std::uint32_t& line_cycles,
                     std::uint32_t& nmi_request, std::uint32_t& frame_count, std::uint32_t& frame_skip,
                     std::uint32_t& scanline, std::uint32_t& mirroring) {
    // The sprite-0 flag rises once the line has run up to the moment the renderer computed.
    const std::uint8_t hit_cycle = image[priv::sprite0_hit_cycle];
    if (hit_cycle > 4 && line_cycles >= hit_cycle) [[unlikely]]
        set_sprite0_hit(image, 1);

    if (line_cycles == ppu_line_step_cycles) [[unlikely]]
        ppu_line_step(image, screen, line_cycles, nmi_request, frame_count, frame_skip, scanline,
                      mirroring);
}
