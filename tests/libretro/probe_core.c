/* A libretro core that emulates nothing: it shows what the frontend does with a core.
 *
 * Every retro_run adds one to a run counter and draws a 256x240 RGB565 frame made from it:
 * pixel (0,0) holds the counter's low 16 bits, (1,0) its high 16 bits, (2,0) the RetroPad
 * buttons of port 1 read in that run (bit 0 A, 1 B, 2 Select, 3 Start, 4 Up, 5 Down, 6 Left,
 * 7 Right); every other pixel, (x, y) with y >= 1, is (3 * (y * 256 + x) + 7 * counter) & 0xFFFF, so
 * that a frame holds 61184 of the 65536 RGB565 values and every level of each channel.
 * A state is the counter. With QUENRIK_PROBE_LOG set, each call is appended to that file as a
 * line: "run <counter> <buttons>", "serialize <counter>", "unserialize <counter>", "reset".
 *
 * The RetroArch tests read the counter out of RetroArch's screenshots: they learn exactly how
 * many retro_run calls came before each shot, and that the PNG gives back the core's RGB565
 * values. */
#include <libretro.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { width = 256, height = 240 };

static retro_environment_t environment;
static retro_video_refresh_t video_refresh;
static retro_input_poll_t input_poll;
static retro_input_state_t input_state;
static uint32_t counter;
static uint16_t frame[width * height];
static FILE *log_file;

static void log_line(const char *what, uint32_t value, int buttons) {
    if (log_file == NULL) return;
    if (buttons >= 0)
        fprintf(log_file, "%s %u %d\n", what, (unsigned)value, buttons);
    else
        fprintf(log_file, "%s %u\n", what, (unsigned)value);
    fflush(log_file);
}

RETRO_API unsigned retro_api_version(void) { return RETRO_API_VERSION; }

RETRO_API void retro_set_environment(retro_environment_t cb) { environment = cb; }
RETRO_API void retro_set_video_refresh(retro_video_refresh_t cb) { video_refresh = cb; }
RETRO_API void retro_set_audio_sample(retro_audio_sample_t cb) { (void)cb; }
RETRO_API void retro_set_audio_sample_batch(retro_audio_sample_batch_t cb) { (void)cb; }
RETRO_API void retro_set_input_poll(retro_input_poll_t cb) { input_poll = cb; }
RETRO_API void retro_set_input_state(retro_input_state_t cb) { input_state = cb; }

RETRO_API void retro_init(void) {
    const char *path = getenv("QUENRIK_PROBE_LOG");
    log_file = path != NULL && *path != '\0' ? fopen(path, "a") : NULL;
    counter = 0;
}

RETRO_API void retro_deinit(void) {
    if (log_file != NULL) fclose(log_file);
    log_file = NULL;
}

RETRO_API void retro_get_system_info(struct retro_system_info *info) {
    memset(info, 0, sizeof *info);
    info->library_name = "quenrik probe";
    info->library_version = "1";
    info->valid_extensions = "nes";
    info->need_fullpath = true;
}

RETRO_API void retro_get_system_av_info(struct retro_system_av_info *info) {
    memset(info, 0, sizeof *info);
    info->geometry.base_width = width;
    info->geometry.base_height = height;
    info->geometry.max_width = width;
    info->geometry.max_height = height;
    info->geometry.aspect_ratio = 4.0f / 3.0f;
    info->timing.fps = 60.0;
    info->timing.sample_rate = 44100.0;
}

RETRO_API void retro_set_controller_port_device(unsigned port, unsigned device) {
    (void)port;
    (void)device;
}

RETRO_API void retro_reset(void) { log_line("reset", counter, -1); }

RETRO_API void retro_run(void) {
    static const unsigned ids[8] = {RETRO_DEVICE_ID_JOYPAD_A,  RETRO_DEVICE_ID_JOYPAD_B,
                                    RETRO_DEVICE_ID_JOYPAD_SELECT, RETRO_DEVICE_ID_JOYPAD_START,
                                    RETRO_DEVICE_ID_JOYPAD_UP, RETRO_DEVICE_ID_JOYPAD_DOWN,
                                    RETRO_DEVICE_ID_JOYPAD_LEFT, RETRO_DEVICE_ID_JOYPAD_RIGHT};
    int buttons = 0;
    input_poll();
    for (int i = 0; i < 8; ++i)
        if (input_state(0, RETRO_DEVICE_JOYPAD, 0, ids[i])) buttons |= 1 << i;
    ++counter;
    for (int y = 1; y < height; ++y)
        for (int x = 0; x < width; ++x) frame[y * width + x] = (uint16_t)(3u * (y * width + x) + 7u * counter);
    memset(frame, 0, width * sizeof frame[0]);
    frame[0] = (uint16_t)counter;
    frame[1] = (uint16_t)(counter >> 16);
    frame[2] = (uint16_t)buttons;
    log_line("run", counter, buttons);
    video_refresh(frame, width, height, width * sizeof frame[0]);
}

RETRO_API size_t retro_serialize_size(void) { return sizeof counter; }

RETRO_API bool retro_serialize(void *data, size_t size) {
    if (size < sizeof counter) return false;
    memcpy(data, &counter, sizeof counter);
    log_line("serialize", counter, -1);
    return true;
}

RETRO_API bool retro_unserialize(const void *data, size_t size) {
    if (size < sizeof counter) return false;
    memcpy(&counter, data, sizeof counter);
    log_line("unserialize", counter, -1);
    return true;
}

RETRO_API void retro_cheat_reset(void) {}
RETRO_API void retro_cheat_set(unsigned index, bool enabled, const char *code) {
    (void)index;
    (void)enabled;
    (void)code;
}

RETRO_API bool retro_load_game(const struct retro_game_info *game) {
    enum retro_pixel_format format = RETRO_PIXEL_FORMAT_RGB565;
    (void)game;
    return environment(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT, &format);
}

RETRO_API bool retro_load_game_special(unsigned type, const struct retro_game_info *info, size_t count) {
    (void)type;
    (void)info;
    (void)count;
    return false;
}

RETRO_API void retro_unload_game(void) {}
RETRO_API unsigned retro_get_region(void) { return RETRO_REGION_NTSC; }
RETRO_API void *retro_get_memory_data(unsigned id) {
    (void)id;
    return NULL;
}
RETRO_API size_t retro_get_memory_size(unsigned id) {
    (void)id;
    return 0;
}
