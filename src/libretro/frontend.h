// The core's side of the host seams: what the libretro API functions and the seams share.
#pragma once

#include <libretro.h>

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t picture_width = 256;
constexpr std::uint32_t picture_height = 240;

// The screen the emulation draws on: the picture itself, RGB565, 256 pixels a row.
struct Screen {
    std::uint16_t pixels[picture_width * picture_height];
    bool shown;  // a frame was finished since the flag was lowered
};

struct Frontend {
    retro_environment_t environment = nullptr;
    retro_video_refresh_t video = nullptr;
    retro_audio_sample_batch_t audio_batch = nullptr;
    retro_input_poll_t input_poll = nullptr;
    retro_input_state_t input_state = nullptr;
    retro_log_printf_t log = nullptr;

    // The emulation's text since it was last taken (host_print), cut off where it overflows.
    char text[2048];
    std::size_t text_length = 0;
};

extern Frontend frontend;
extern Screen screen;

// The emulation's text line by line to the frontend's log at level, then forgotten.
void frontend_log_text(retro_log_level level);

// The 64 colours in RGB565, once before anything is drawn.
void screen_map_colours();

// One line of the core's own to the log.
void frontend_log(retro_log_level level, const char* line);
