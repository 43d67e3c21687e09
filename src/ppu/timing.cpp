#include "ppu/timing.h"

#include "core/machine.h"
#include "ppu/ppu_registers.h"
#include "ppu/renderer.h"
#include "core/host.h"

namespace {

// A frame is drawn when the game changed something (always, outside fast mode) and the frame
// is one of those picked by the frame skip. A skip of 0 draws every frame rather than divide by 0.
inline bool frame_is_drawn(std::uint8_t display_update, std::uint32_t frame_count,
                           std::uint32_t frame_skip) {
    return display_update != 0 && (frame_skip <= 1 || frame_count % frame_skip == 0);
}

}  // namespace

void ppu_line_step(std::uint8_t* image, Screen* screen, std::uint32_t& line_cycles,
                   std::uint32_t& nmi_request, std::uint32_t& frame_count, std::uint32_t& frame_skip,
                   std::uint32_t& scanline, std::uint32_t& mirroring) {
    line_cycles = 0;

    std::uint8_t& display_update = image[priv::display_update];
    const bool drawn = frame_is_drawn(display_update, frame_count, frame_skip);
    if (scanline >= ppu_vertical_blank_step) {
        scanline = 0;
        if (drawn) {
            screen_show(screen);
            if (display_update == 1) display_update = 0;  // fast mode: wait for the next change
        }
        ++frame_count;
        set_vblank(image, 1);
        nmi_request = nmi_enabled(image);
    } else {
        if (drawn) render_scanline(screen, image, mirroring, scanline);
        ++scanline;
    }
}
