// What the libretro fuzz targets share: a frontend that answers the core's questions and throws
// away what it is sent. The core's code is linked in, instrumented as the rest.
#pragma once

#include <libretro.h>

#include <cstdint>
#include <cstring>

#include "libretro/keys.h"

namespace fuzz {

// Chosen by each input: the options the frontend reports, and the pad's buttons.
inline bool fast_mode = false, crop_overscan = false;
inline std::uint8_t pad = 0;

inline void ignore_log(retro_log_level, const char*, ...) {}

inline bool environment(unsigned command, void* data) {
    switch (command) {
    case RETRO_ENVIRONMENT_GET_CAN_DUPE: *static_cast<bool*>(data) = true; return true;
    case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT: return true;
    case RETRO_ENVIRONMENT_GET_LOG_INTERFACE: static_cast<retro_log_callback*>(data)->log = ignore_log; return true;
    case RETRO_ENVIRONMENT_GET_VARIABLE: {
        auto* variable = static_cast<retro_variable*>(data);
        const bool on = std::strcmp(variable->key, option_fast_mode) == 0 ? fast_mode : crop_overscan;
        variable->value = on ? "enabled" : "disabled";
        return true;
    }
    case RETRO_ENVIRONMENT_SET_MESSAGE:
    case RETRO_ENVIRONMENT_SET_MEMORY_MAPS:
    case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS:
    case RETRO_ENVIRONMENT_SET_GEOMETRY: return true;
    default: return false;
    }
}

inline void start_core() {
    retro_set_environment(environment);
    retro_set_video_refresh([](const void*, unsigned, unsigned, std::size_t) {});
    retro_set_audio_sample([](std::int16_t, std::int16_t) {});
    retro_set_audio_sample_batch([](const std::int16_t*, std::size_t frames) { return frames; });
    retro_set_input_poll([] {});
    retro_set_input_state([](unsigned, unsigned, unsigned, unsigned id) -> std::int16_t { return (pad >> (id & 7)) & 1; });
    retro_init();
}

}  // namespace fuzz
