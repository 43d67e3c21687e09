// A small libretro frontend of the tests' own around the built core (dlopened, as a frontend
// loads it), and the program's emulation beside it to compare with.
#pragma once

#include <SDL.h>
#include <libretro.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/machine.h"
#include "support/test_support.h"

#define CORE_FUNCTIONS(X)                                                                                     \
    X(retro_set_environment) X(retro_set_video_refresh) X(retro_set_audio_sample) X(retro_set_audio_sample_batch) \
    X(retro_set_input_poll) X(retro_set_input_state) X(retro_init) X(retro_deinit) X(retro_get_system_info)     \
    X(retro_get_system_av_info) X(retro_load_game) X(retro_unload_game) X(retro_run) X(retro_reset)             \
    X(retro_serialize_size) X(retro_serialize) X(retro_unserialize) X(retro_cheat_reset) X(retro_cheat_set)     \
    X(retro_get_memory_data) X(retro_get_memory_size) X(retro_api_version)

// The core's API, looked up in the shared library.
struct CoreApi {
#define CORE_POINTER(name) decltype(&::name) name = nullptr;
    CORE_FUNCTIONS(CORE_POINTER)
#undef CORE_POINTER
};
extern CoreApi core;

using Picture = std::vector<std::uint16_t>;

struct LogLine {
    retro_log_level level;
    std::string text;
};

// What the frontend answers with (set by the tests) and what the core handed it.
struct Frontend {
    std::map<std::string, std::string> options;  // set by the test; others take their default
    bool options_updated = false;                 // GET_VARIABLE_UPDATE's next answer
    bool can_dupe = true;
    unsigned options_version = 2;
    std::uint8_t pad = 0;  // bit i: the i-th button in the pad's read order (A B Select Start Up Down Left Right)

    std::map<std::string, std::string> option_defaults;
    std::vector<LogLine> log;
    std::vector<std::string> messages;
    std::vector<retro_memory_descriptor> memory_maps;
    std::vector<retro_input_descriptor> inputs;
    retro_game_geometry geometry{};  // the last SET_GEOMETRY
    Picture picture;                 // the last frame shown, kept over dupes
    unsigned width = 0, height = 0;
    unsigned frames = 0, dupes = 0;
    std::uint64_t sample_frames = 0;
    bool sound = false;  // a sample that was not silence
};
extern Frontend fe;

// The core opened once; each test starts it afresh (callbacks, retro_init) and stops it
// (retro_unload_game, retro_deinit).
void core_start(unsigned options_version = 2);
void core_stop();

std::vector<std::uint8_t> file_bytes(const std::string& cartridge);
bool load(const std::vector<std::uint8_t>& bytes);  // the picture black, as a new window
std::vector<std::uint8_t> save();
bool restore(const std::vector<std::uint8_t>& state);
bool logged(retro_log_level level, const std::string& part, std::size_t from = 0);

// The standalone program's emulation on a dummy SDL surface, as the program's tests drive it.
struct Program {
    TestMachine machine;
    std::uint8_t* image = machine.image();
    RunState state;
    SDL_Surface* surface = nullptr;

    bool load(const std::vector<std::uint8_t>& bytes, bool fast);  // false where the loader refuses
    void frame(std::uint8_t pad);                                  // one frame with the pad's keys held
    Picture picture() const;                                       // columns 32-287
    std::vector<std::uint8_t> state_bytes() const;                 // the core's state of this machine
};

// Bytes of a core state, and where its fields begin (after the magic, the version and the image).
constexpr std::size_t state_fields = 8 + image_size;
constexpr std::size_t state_bytes = state_fields + 50;
constexpr std::uint64_t passes_per_frame = 242 * 34;
