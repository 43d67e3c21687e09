// The browser's side of quenrik: a frontend to the libretro core that lives in the page's
// WebAssembly module. It answers the core's callbacks from memory (the picture, the sound,
// RetroPad 1, the options, the log) and gives the page's JavaScript (src/web/page.js) a few plain
// functions.
// It calls nothing but the retro_* API, so it links as well against the native core.
#include <libretro.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libretro/keys.h"

namespace {

// ---- What the core hands over -----------------------------------------------------------------
const void* picture = nullptr;  // the last frame the core sent (256x240 RGB565, 512 bytes a row)
std::uint32_t new_pictures = 0;  // frames the core drew since the page last asked
std::uint8_t buttons = 0;       // the pad, bit i = button i in the pad's read order
bool fast_mode = false;
bool options_changed = false;

// The log: one line per entry, its first character the kind (D, I, W, E; M for a message the
// core wants on screen), kept until the page takes it. A line that does not fit is dropped
// whole, with a mark in its place.
char log_text[16384];
std::size_t log_length = 0;
char taken_text[sizeof log_text];
bool log_overflowed = false;

void log_line(char kind, const char* line, std::size_t length) {
    while (length > 0 && line[length - 1] == '\n') --length;
    if (log_length + length + 3 > sizeof log_text) {
        log_overflowed = true;
        return;
    }
    log_text[log_length++] = kind;
    std::memcpy(log_text + log_length, line, length);
    log_length += length;
    log_text[log_length++] = '\n';
    log_text[log_length] = '\0';
}

void log_printf(retro_log_level level, const char* format, ...) {
    static constexpr char kinds[] = {'D', 'I', 'W', 'E'};
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    const std::size_t kept = static_cast<std::size_t>(length) < sizeof line ? length : sizeof line - 1;
    log_line(level >= RETRO_LOG_DEBUG && level <= RETRO_LOG_ERROR ? kinds[level] : 'I', line, kept);
}

// ---- The frontend's callbacks --------------------------------------------------------------------
bool environment(unsigned command, void* data) {
    switch (command) {
    case RETRO_ENVIRONMENT_SET_SUPPORT_NO_GAME:
    case RETRO_ENVIRONMENT_SET_VARIABLES:
    case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS:
    case RETRO_ENVIRONMENT_SET_MEMORY_MAPS:
    case RETRO_ENVIRONMENT_SET_GEOMETRY:
        return true;
    case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT:
        return *static_cast<const retro_pixel_format*>(data) == RETRO_PIXEL_FORMAT_RGB565;
    case RETRO_ENVIRONMENT_GET_LOG_INTERFACE:
        static_cast<retro_log_callback*>(data)->log = log_printf;
        return true;
    case RETRO_ENVIRONMENT_GET_CAN_DUPE:
        // A frame the game left alone comes without a picture: the page then draws nothing.
        *static_cast<bool*>(data) = true;
        return true;
    case RETRO_ENVIRONMENT_GET_VARIABLE: {
        auto* variable = static_cast<retro_variable*>(data);
        if (variable->key == nullptr) return false;
        if (std::strcmp(variable->key, option_fast_mode) == 0) {
            variable->value = fast_mode ? "enabled" : "disabled";
            return true;
        }
        if (std::strcmp(variable->key, option_crop_overscan) == 0) {
            variable->value = "disabled";  // the page shows the whole picture
            return true;
        }
        return false;
    }
    case RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE:
        *static_cast<bool*>(data) = options_changed;
        options_changed = false;
        return true;
    case RETRO_ENVIRONMENT_SET_MESSAGE: {
        const char* text = static_cast<const retro_message*>(data)->msg;
        if (text != nullptr) log_line('M', text, std::strlen(text));
        return true;
    }
    default:
        return false;
    }
}

void video(const void* data, unsigned, unsigned, std::size_t) {
    if (data == nullptr) return;  // the same picture again
    picture = data;
    ++new_pictures;
}

void input_poll() {}

std::int16_t input_state(unsigned port, unsigned device, unsigned index, unsigned id) {
    if (port != 0 || device != RETRO_DEVICE_JOYPAD || index != 0) return 0;
    for (unsigned slot = 0; slot < pad_slot::count; ++slot)
        if (retropad_of_slot[slot] == id) return (buttons >> slot) & 1u;
    return 0;
}

// The sound since the page last took it: stereo int16 sample frames, as the core hands them.
// The page takes it after every run of frames (at most 4 frames, about 3,200 sample frames at
// 48 kHz); a page that does not take it (a benchmark) loses what does not fit, counted, rather
// than the buffer growing.
constexpr std::uint32_t sound_room = 4096;  // sample frames
std::int16_t sound[2 * sound_room];
std::uint32_t sound_frames = 0;
std::uint32_t sound_dropped = 0;  // sample frames, since the start

std::size_t keep_sound(const std::int16_t* data, std::size_t frames) {
    const std::size_t kept = frames < sound_room - sound_frames ? frames : sound_room - sound_frames;
    if (kept > 0) std::memcpy(sound + 2 * sound_frames, data, 2 * kept * sizeof *data);
    sound_frames += static_cast<std::uint32_t>(kept);
    sound_dropped += static_cast<std::uint32_t>(frames - kept);
    return frames;
}

bool started = false;
bool loaded = false;
std::uint8_t* cartridge = nullptr;  // the running game's bytes, to put it back after a refused one
std::uint32_t cartridge_size = 0;

}  // namespace

// ---- For the page ------------------------------------------------------------------------------------
extern "C" {

// The core set up once, before anything else.
void web_start() {
    if (started) return;
    retro_set_environment(environment);
    retro_set_video_refresh(video);
    retro_set_audio_sample_batch(keep_sound);
    retro_set_input_poll(input_poll);
    retro_set_input_state(input_state);
    retro_init();
    started = true;
}

// A cartridge from its bytes. A refused one leaves the running game as it was; the loader's
// report is in the log either way. 1 taken, 0 refused.
// The core holds one game at a time and is told when it goes: the running one is unloaded
// first, and after a refusal loaded again and given back its state, the log kept as it was
// after the refusal.
int web_load_cartridge(const std::uint8_t* data, std::uint32_t size) {
    std::uint8_t* running = nullptr;
    if (loaded) {
        running = static_cast<std::uint8_t*>(std::malloc(retro_serialize_size()));
        if (running == nullptr || !retro_serialize(running, retro_serialize_size())) {
            std::free(running);
            return 0;
        }
        retro_unload_game();
        loaded = false;
    }
    const retro_game_info game{nullptr, data, size, nullptr};
    if (!retro_load_game(&game)) {
        if (running != nullptr) {
            const std::size_t kept = log_length;
            const bool overflowed = log_overflowed;
            const retro_game_info again{nullptr, cartridge, cartridge_size, nullptr};
            loaded = retro_load_game(&again) && retro_unserialize(running, retro_serialize_size());
            log_length = kept;
            log_text[kept] = '\0';
            log_overflowed = overflowed;
            std::free(running);
        }
        return 0;
    }
    std::free(running);
    std::free(cartridge);
    cartridge = static_cast<std::uint8_t*>(std::malloc(size > 0 ? size : 1));
    if (cartridge != nullptr && size > 0) std::memcpy(cartridge, data, size);
    cartridge_size = cartridge != nullptr ? size : 0;
    loaded = true;
    picture = nullptr;
    new_pictures = 0;
    sound_frames = 0;  // the previous game's last sound
    return 1;
}

// Runs count frames; answers how many of them brought a new picture.
std::uint32_t web_run_frames(std::uint32_t count) {
    new_pictures = 0;
    if (loaded)
        for (std::uint32_t i = 0; i < count; ++i) retro_run();
    return new_pictures;
}

// The picture: 256x240 RGB565, 256 pixels a row; null before the first frame.
const void* web_picture() { return picture; }

// The sound of the frames run since the last call, at web_sound(): answers the number of stereo
// sample frames there, readable until the next frame is run, and empties the buffer.
std::uint32_t web_take_sound() {
    const std::uint32_t frames = sound_frames;
    sound_frames = 0;
    return frames;
}

const std::int16_t* web_sound() { return sound; }

// Sample frames lost because the page did not take them in time, since the start.
std::uint32_t web_sound_dropped() { return sound_dropped; }

// The core's sample rate (Hz) for the running game.
std::uint32_t web_sound_rate() {
    retro_system_av_info info{};
    retro_get_system_av_info(&info);
    return static_cast<std::uint32_t>(info.timing.sample_rate + 0.5);
}

void web_set_buttons(std::uint32_t mask) { buttons = static_cast<std::uint8_t>(mask); }

void web_reset() { retro_reset(); }

void web_set_fast_mode(int on) {
    if (fast_mode != (on != 0)) options_changed = true;
    fast_mode = on != 0;
}

std::uint32_t web_state_size() { return static_cast<std::uint32_t>(retro_serialize_size()); }

// The machine's state into destination (web_state_size() bytes). 1 written, 0 not.
int web_save_state(std::uint8_t* destination) {
    return loaded && retro_serialize(destination, retro_serialize_size()) ? 1 : 0;
}

// A state back; a refused one leaves the machine as it was, with the reason in the log.
int web_load_state(const std::uint8_t* source, std::uint32_t size) {
    return loaded && retro_unserialize(source, size) ? 1 : 0;
}

// The log since it was last taken, then emptied. The text stays readable until the next call.
const char* web_take_log() {
    std::memcpy(taken_text, log_text, log_length + 1);
    if (log_overflowed) {
        static constexpr char mark[] = "W(some lines of the log were lost)\n";
        const std::size_t room = sizeof taken_text - log_length - 1;
        std::strncat(taken_text, mark, room);
    }
    log_length = 0;
    log_text[0] = '\0';
    log_overflowed = false;
    return taken_text;
}

}  // extern "C"
