// quenrik as a libretro core: the program's emulation, one frame per retro_run, under a
// frontend that paces it, shows it and keeps its states.
#include <libretro.h>

#include <cstdio>
#include <cstring>

#include "core/ines.h"
#include "core/machine.h"
#include "loop/pass_loop.h"
#include "cpu/cpu.h"
#include "libretro/cheats.h"
#include "libretro/frontend.h"
#include "libretro/keys.h"
#include "libretro/sound.h"
#include "libretro/state.h"

namespace {

// ---- The machine -----------------------------------------------------------------------------
RunState state;
MachineImage image;
MachineImage scratch;  // a cartridge is loaded here first, so a refused one changes nothing
Cartridge cartridge;   // as loaded, for states: they hold only what the game changed of it
CheatTable cheats;
bool loaded = false;
// The CPU met an opcode it does not know (quit, kept in states): frames repeat until a reset or
// the load of a state saved before the stop.
bool stopped = false;

// ---- Options -------------------------------------------------------------------------------------
bool can_dupe = false;
bool crop_overscan = false;
bool sound_heard = true;
constexpr std::uint32_t overscan_lines = 8;

retro_core_option_v2_definition option_definitions[] = {
    {option_fast_mode, "Draw only frames the game changed", nullptr,
     "Fast mode, as the program's -f: a frame in which the game did not touch the picture processor is not "
     "drawn, and the previous picture stays on screen.",
     nullptr, nullptr, {{"disabled", nullptr}, {"enabled", nullptr}, {nullptr, nullptr}}, "disabled"},
    {option_crop_overscan, "Crop the overscan", nullptr,
     "Hide the top and bottom 8 lines, which most televisions did not show.", nullptr, nullptr,
     {{"disabled", nullptr}, {"enabled", nullptr}, {nullptr, nullptr}}, "disabled"},
    {option_sound, "Sound", nullptr,
     "The console's sound. Off, the sound unit still runs for the game, but no samples are made: the fastest "
     "emulation.",
     nullptr, nullptr, {{"enabled", nullptr}, {"disabled", nullptr}, {nullptr, nullptr}}, "enabled"},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {{nullptr, nullptr}}, nullptr},
};
retro_core_option_v2_category option_categories[] = {{nullptr, nullptr, nullptr}};
retro_core_options_v2 options_v2 = {option_categories, option_definitions};

// For frontends without core options of version 2.
retro_variable option_variables[] = {
    {option_fast_mode, "Draw only frames the game changed; disabled|enabled"},
    {option_crop_overscan, "Crop the overscan; disabled|enabled"},
    {option_sound, "Sound; enabled|disabled"},
    {nullptr, nullptr},
};

// The option's value, or `otherwise` where the frontend gives none.
bool option_enabled(const char* key, bool otherwise = false) {
    retro_variable variable{key, nullptr};
    if (!frontend.environment(RETRO_ENVIRONMENT_GET_VARIABLE, &variable) || variable.value == nullptr)
        return otherwise;
    return std::strcmp(variable.value, "enabled") == 0;
}

// The frame-update flag as the program's thread sets it for its mode (1: draw the next frame).
void apply_fast_mode(bool fast) {
    state.fast_mode = fast ? 1 : 0;
    if (!fast)
        image[priv::display_update] = 0xFF;
    else if (image[priv::display_update] == 0xFF)
        image[priv::display_update] = 1;
}

void set_geometry();

void read_options() {
    const bool fast = option_enabled(option_fast_mode);
    if (fast != (state.fast_mode == 1)) apply_fast_mode(fast);
    const bool crop = option_enabled(option_crop_overscan);
    if (crop != crop_overscan) {
        crop_overscan = crop;
        set_geometry();
    }
    sound_heard = option_enabled(option_sound, true);
}

// ---- Pictures and sound ---------------------------------------------------------------------------
retro_game_geometry geometry() {
    const unsigned height = crop_overscan ? picture_height - 2 * overscan_lines : picture_height;
    return {picture_width, height, picture_width, picture_height, 4.0f / 3.0f};
}

void set_geometry() {
    retro_game_geometry g = geometry();
    frontend.environment(RETRO_ENVIRONMENT_SET_GEOMETRY, &g);
}

void send_picture() {
    const std::uint16_t* first = screen.pixels + (crop_overscan ? overscan_lines * picture_width : 0);
    frontend.video(first, picture_width, geometry().base_height, picture_width * sizeof(std::uint16_t));
}

// The NTSC console's frame rate, 39375000 / 655171 frames a second, and the sound's rate: the
// frontend's own where it names one, else 48 kHz.
constexpr std::uint64_t frame_rate_numerator = 39375000, frame_rate_denominator = 655171;
std::uint32_t sample_rate = sound_default_rate;

std::uint32_t frontend_sample_rate() {
#ifdef RETRO_ENVIRONMENT_GET_TARGET_SAMPLE_RATE
    unsigned rate = 0;
    if (frontend.environment(RETRO_ENVIRONMENT_GET_TARGET_SAMPLE_RATE, &rate) && rate >= 8000 && rate <= 192000)
        return rate;
#endif
    return sound_default_rate;
}

// ---- Messages --------------------------------------------------------------------------------------
void show_message(const char* text) {
    retro_message message{text, 600};  // ten seconds
    frontend.environment(RETRO_ENVIRONMENT_SET_MESSAGE, &message);
}

// The CPU has stopped: its text to the log, its first two lines on screen.
void report_stop() {
    char shown[256] = {};
    const char* first_end = std::strchr(frontend.text, '\n');
    if (first_end != nullptr) {
        const char* second = first_end + 1;
        const char* second_end = std::strchr(second, '\n');
        std::snprintf(shown, sizeof shown, "%.*s %.*s", static_cast<int>(first_end - frontend.text), frontend.text,
                      static_cast<int>(second_end ? second_end - second : 0), second);
    }
    frontend_log_text(RETRO_LOG_ERROR);
    show_message(shown);
}

// ---- Memory maps -----------------------------------------------------------------------------------
void set_memory_maps() {
    // The memory as the bus keeps it: work RAM seen at 0x0000-0x1FFF (four mirrors: address bits
    // 11-12 do not count), plain bytes at 0x6000-0x7FFF, and PRG at 0x8000-0xFFFF, which keeps
    // what the CPU writes there as well. All of it read back as written, so none is constant.
    static retro_memory_descriptor descriptors[3];
    descriptors[0] = {RETRO_MEMDESC_SYSTEM_RAM, image, 0, 0x0000, 0xE000, 0x1800, 0x0800, nullptr};
    descriptors[1] = {0, image, 0x6000, 0x6000, 0xE000, 0, 0x2000, nullptr};
    descriptors[2] = {0, image, 0x8000, 0x8000, 0x8000, 0, 0x8000, nullptr};
    static retro_memory_map map{descriptors, 3};
    frontend.environment(RETRO_ENVIRONMENT_SET_MEMORY_MAPS, &map);
}

void set_input_descriptors() {
    static const retro_input_descriptor descriptors[] = {
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_A, "A"},
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_B, "B"},
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_SELECT, "Select"},
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_START, "Start"},
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_UP, "Up"},
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_DOWN, "Down"},
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_LEFT, "Left"},
        {0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_RIGHT, "Right"},
        {0, 0, 0, 0, nullptr},
    };
    frontend.environment(RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS, const_cast<retro_input_descriptor*>(descriptors));
}

// ---- Loading ---------------------------------------------------------------------------------------
// The program's start-up on a cartridge held in memory: run state and image cleared, the loader,
// the mirroring copied, then the thread's start with every frame drawn. Into the scratch image;
// the answer says whether the cartridge was taken.
bool power_on(const std::uint8_t* data, std::size_t size) {
    RunState fresh_state;  // the run state of a new start, before it is taken
    run_state_reset(fresh_state);
    machine_image_clear(scratch);
    // An empty file is refused as the program refuses it; the first byte alone decides that.
    static const std::uint8_t no_bytes[1] = {0};
    std::FILE* file = size == 0 ? fmemopen(const_cast<std::uint8_t*>(no_bytes), 1, "rb")
                                : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) {
        frontend_log(RETRO_LOG_ERROR, "the cartridge could not be read");
        return false;
    }
    const bool taken = load_ines_image(file, scratch, fresh_state.mirroring, fresh_state.mapper);
    std::fclose(file);
    frontend_log_text(taken ? RETRO_LOG_INFO : RETRO_LOG_ERROR);
    if (!taken) return false;

    scratch[priv::mirroring] = static_cast<std::uint8_t>(fresh_state.mirroring);
    // The file's CHR bank count (byte 5), as the loader read it: pattern tables it filled are ROM.
    cartridge_keep(cartridge, scratch, fresh_state.mirroring, fresh_state.mapper, size > 5 && data[5] != 0);
    std::memcpy(image, scratch, sizeof image);
    run_state_reset(state);
    state.mirroring = fresh_state.mirroring;
    state.mapper = fresh_state.mapper;
    state.fast_mode = option_enabled(option_fast_mode) ? 1 : 0;
    sample_rate = frontend_sample_rate();
    sound_power(state, sample_rate);
    emulation_prepare(state, image);
    // The console's reset leaves interrupts masked: a game that never sets I itself takes no
    // interrupt of the sound unit's before it asks for one.
    flag_set(flag::I, 1, state.registers.p);
    state.frame_skip = 1;
    state.surface = &screen;
    return true;
}

}  // namespace

// ---- The API ---------------------------------------------------------------------------------------
RETRO_API unsigned retro_api_version() { return RETRO_API_VERSION; }

RETRO_API void retro_set_environment(retro_environment_t environment) {
    frontend.environment = environment;
    bool no_game = false;
    environment(RETRO_ENVIRONMENT_SET_SUPPORT_NO_GAME, &no_game);
    unsigned version = 0;
    if (environment(RETRO_ENVIRONMENT_GET_CORE_OPTIONS_VERSION, &version) && version >= 2)
        environment(RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2, &options_v2);
    else
        environment(RETRO_ENVIRONMENT_SET_VARIABLES, option_variables);
}

RETRO_API void retro_set_video_refresh(retro_video_refresh_t video) { frontend.video = video; }
RETRO_API void retro_set_audio_sample(retro_audio_sample_t) {}
RETRO_API void retro_set_audio_sample_batch(retro_audio_sample_batch_t batch) { frontend.audio_batch = batch; }
RETRO_API void retro_set_input_poll(retro_input_poll_t poll) { frontend.input_poll = poll; }
RETRO_API void retro_set_input_state(retro_input_state_t input) { frontend.input_state = input; }

RETRO_API void retro_init() {
    retro_log_callback log{};
    frontend.log = frontend.environment != nullptr && frontend.environment(RETRO_ENVIRONMENT_GET_LOG_INTERFACE, &log)
                       ? log.log
                       : nullptr;
    frontend.text_length = 0;
    frontend.text[0] = '\0';
    screen_map_colours();
}

RETRO_API void retro_deinit() { loaded = false; }

RETRO_API void retro_get_system_info(retro_system_info* info) {
    *info = {};
    info->library_name = "quenrik";
    info->library_version = QUENRIK_VERSION;
    info->valid_extensions = "nes";
    info->need_fullpath = false;
    info->block_extract = false;
}

RETRO_API void retro_get_system_av_info(retro_system_av_info* info) {
    info->geometry = geometry();
    info->timing.fps = static_cast<double>(frame_rate_numerator) / static_cast<double>(frame_rate_denominator);
    info->timing.sample_rate = sample_rate;
}

RETRO_API void retro_set_controller_port_device(unsigned, unsigned) {}

RETRO_API bool retro_load_game(const retro_game_info* game) {
    if (game == nullptr || (game->data == nullptr && game->size != 0)) {
        frontend_log(RETRO_LOG_ERROR, "no cartridge given");
        return false;
    }
    retro_pixel_format format = RETRO_PIXEL_FORMAT_RGB565;
    if (!frontend.environment(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT, &format)) {
        frontend_log(RETRO_LOG_ERROR, "the frontend cannot take RGB565 pictures");
        return false;
    }
    if (!power_on(static_cast<const std::uint8_t*>(game->data), game->size)) return false;
    can_dupe = false;
    frontend.environment(RETRO_ENVIRONMENT_GET_CAN_DUPE, &can_dupe);
    crop_overscan = option_enabled(option_crop_overscan);
    sound_heard = option_enabled(option_sound, true);
    std::memset(screen.pixels, 0, sizeof screen.pixels);  // black, as a fresh SDL surface
    screen.shown = false;
    cheats_start(cheats, image);
    set_input_descriptors();
    set_memory_maps();
    stopped = false;
    loaded = true;
    return true;
}

RETRO_API bool retro_load_game_special(unsigned, const retro_game_info*, size_t) { return false; }

RETRO_API void retro_unload_game() { loaded = false; }

RETRO_API unsigned retro_get_region() { return RETRO_REGION_NTSC; }

// One frame: passes_per_frame passes of the program's loop. A frame the game left untouched in
// fast mode, and every frame of a stopped machine, shows the previous picture again.
RETRO_API void retro_run() {
    bool updated = false;
    if (frontend.environment(RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE, &updated) && updated) read_options();
    if (frontend.input_poll != nullptr) frontend.input_poll();
    screen.shown = false;
    const bool ran = loaded && !stopped;
    if (ran) {
        cheats_hold_ram(cheats, image);
        if (!sound_run_frame(state, image)) {
            stopped = true;
            report_stop();
        } else if (frontend.text_length != 0) {
            frontend_log_text(RETRO_LOG_INFO);
        }
    }
    if (screen.shown || !can_dupe)
        send_picture();
    else
        frontend.video(nullptr, picture_width, geometry().base_height, picture_width * sizeof(std::uint16_t));
    // A stopped machine, or none, is silent; the samples' count goes on at the same pace.
    sound_end_frame(image, !ran ? Heard::nothing_ran : sound_heard ? Heard::on : Heard::off, frontend.audio_batch);
}

// The R key's path: the reset is taken after the next instruction. A stopped machine would
// meet its unknown opcode again first, so it takes the reset at once.
RETRO_API void retro_reset() {
    if (!loaded) return;
    state.reset_request.set(1);
    sound_reset(image);
    if (stopped) {
        CpuRegisters& r = state.registers;
        cpu_service_interrupts(state.reset_request, state.nmi_request, state.interrupt_cause, r.pc, r.sp, r.p, image);
        state.quit.set(0);
        stopped = false;
    }
}

RETRO_API size_t retro_serialize_size() { return state_size(); }

RETRO_API bool retro_serialize(void* data, size_t size) {
    if (!loaded || data == nullptr || size < state_size()) return false;
    // The codes are the frontend's, which sets them again after a load: the state holds the
    // machine as the game left it.
    cheats_unpatch(cheats, image);
    state_save(static_cast<std::uint8_t*>(data), state, image, sound_unit(), cartridge);
    cheats_patch(cheats, image);
    return true;
}

RETRO_API bool retro_unserialize(const void* data, size_t size) {
    const char* why = nullptr;
    if (!loaded) return false;
    if (!state_load(static_cast<const std::uint8_t*>(data), size, state, image, sound_unit(), cartridge, why)) {
        char line[128];
        std::snprintf(line, sizeof line, "state not loaded: %s", why);
        frontend_log(RETRO_LOG_ERROR, line);
        return false;
    }
    // The frame-update flag as the thread's start sets it for the mode chosen now: in fast mode
    // the next frame is drawn, so the picture follows the state at once.
    display_update_start(state, image);
    cheats_patch(cheats, image);
    // A machine saved stopped loads stopped, its stop already told; one saved running runs.
    stopped = state.quit.get() == 1;
    return true;
}

RETRO_API void retro_cheat_reset() {
    if (loaded) cheats_reset(cheats, image);
}

RETRO_API void retro_cheat_set(unsigned index, bool enabled, const char* code) {
    if (!loaded) return;
    const char* why = nullptr;
    if (!cheats_set(cheats, image, index, enabled, code, why)) {
        char line[160];
        std::snprintf(line, sizeof line, "cheat %u refused (%.60s): %s", index, code ? code : "", why);
        frontend_log(RETRO_LOG_WARN, line);
    }
}

RETRO_API void* retro_get_memory_data(unsigned id) {
    return id == RETRO_MEMORY_SYSTEM_RAM && loaded ? image : nullptr;
}

RETRO_API size_t retro_get_memory_size(unsigned id) { return id == RETRO_MEMORY_SYSTEM_RAM && loaded ? 0x800 : 0; }
