// The core through its API, as a frontend drives it: the built core dlopened by a small frontend of
// the tests' own, beside the program's emulation linked in (the core keeps its symbols to itself).
// The program's pictures and machine frame for frame, states that come back exactly, hostile states
// and cartridges, cheats, memory, the stopped machine, and what the core says it is.
#include <SDL.h>
#include <dlfcn.h>
#include <libretro.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "apu/apu.h"
#include "core/ines.h"
#include "program/emulation.h"
#include "program/surface.h"
#include "support/test_support.h"

namespace {

// ---- The frontend ------------------------------------------------------------------------------
#define CORE_FUNCTIONS(X)                                                                                   \
    X(retro_set_environment) X(retro_set_video_refresh) X(retro_set_audio_sample)                          \
    X(retro_set_audio_sample_batch) X(retro_set_input_poll) X(retro_set_input_state) X(retro_init)          \
    X(retro_deinit) X(retro_get_system_info) X(retro_get_system_av_info) X(retro_load_game)                 \
    X(retro_unload_game) X(retro_run) X(retro_reset) X(retro_serialize_size) X(retro_serialize)              \
    X(retro_unserialize) X(retro_cheat_reset) X(retro_cheat_set) X(retro_get_memory_data)                   \
    X(retro_get_memory_size)
struct {
#define CORE_POINTER(name) decltype(&::name) name;
    CORE_FUNCTIONS(CORE_POINTER)
} core;

using Picture = std::vector<std::uint16_t>;
using Bytes = std::vector<std::uint8_t>;

struct Frontend {
    std::map<std::string, std::string> options, defaults;  // set by the test; the core's own
    bool options_updated = false, can_dupe = true;
    std::uint8_t pad = 0;  // bit i: button i in the pad's read order, A B Select Start Up Down Left Right
    std::vector<std::pair<retro_log_level, std::string>> log;
    std::vector<std::string> messages;
    std::vector<retro_memory_descriptor> maps;
    unsigned inputs = 0, width = 0, height = 0, frames = 0, dupes = 0;
    Picture picture;  // the last frame shown, kept over dupes
    std::uint64_t samples = 0;
    bool sound = false;
    std::vector<std::int16_t> heard;  // every sample, left then right
    std::size_t largest_batch = 0;
} fe;

void log(retro_log_level level, const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    fe.log.push_back({level, text});
}

bool environment(unsigned command, void* data) {
    switch (command) {
    case RETRO_ENVIRONMENT_GET_CAN_DUPE: *static_cast<bool*>(data) = fe.can_dupe; return true;
    case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT:
        return *static_cast<retro_pixel_format*>(data) == RETRO_PIXEL_FORMAT_RGB565;
    case RETRO_ENVIRONMENT_GET_LOG_INTERFACE: static_cast<retro_log_callback*>(data)->log = log; return true;
    case RETRO_ENVIRONMENT_GET_VARIABLE: {
        auto* variable = static_cast<retro_variable*>(data);
        auto& values = fe.options.count(variable->key) ? fe.options : fe.defaults;
        variable->value = values.count(variable->key) ? values[variable->key].c_str() : nullptr;
        return variable->value != nullptr;
    }
    case RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE:
        *static_cast<bool*>(data) = std::exchange(fe.options_updated, false);
        return true;
    case RETRO_ENVIRONMENT_SET_MESSAGE: fe.messages.push_back(static_cast<retro_message*>(data)->msg); return true;
    case RETRO_ENVIRONMENT_SET_MEMORY_MAPS: {
        const auto* map = static_cast<retro_memory_map*>(data);
        fe.maps.assign(map->descriptors, map->descriptors + map->num_descriptors);
        return true;
    }
    case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS:
        for (auto* d = static_cast<retro_input_descriptor*>(data); d->description != nullptr; ++d) ++fe.inputs;
        return true;
    case RETRO_ENVIRONMENT_GET_CORE_OPTIONS_VERSION: *static_cast<unsigned*>(data) = 2; return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2:
        for (auto* d = static_cast<retro_core_options_v2*>(data)->definitions; d->key != nullptr; ++d)
            fe.defaults[d->key] = d->default_value;
        return true;
    default: return false;
    }
}

void video(const void* data, unsigned width, unsigned height, std::size_t pitch) {
    ++fe.frames;
    if (data == nullptr) {
        ++fe.dupes;
        return;
    }
    fe.width = width;
    fe.height = height;
    fe.picture.resize(std::size_t{width} * height);
    for (unsigned y = 0; y < height; ++y)
        std::memcpy(&fe.picture[y * width], static_cast<const std::uint8_t*>(data) + y * pitch, width * 2);
}

std::size_t audio(const std::int16_t* data, std::size_t frames) {
    fe.samples += frames;
    fe.largest_batch = std::max(fe.largest_batch, frames);
    fe.heard.insert(fe.heard.end(), data, data + 2 * frames);
    for (std::size_t i = 0; i < 2 * frames; ++i) fe.sound = fe.sound || data[i] != 0;
    return frames;
}

std::int16_t input(unsigned port, unsigned device, unsigned, unsigned id) {
    static constexpr int slot_of_id[9] = {1, -1, 2, 3, 4, 5, 6, 7, 0};  // RetroPad ids to the pad's order
    const bool pad = port == 0 && device == RETRO_DEVICE_JOYPAD && id < 9 && slot_of_id[id] >= 0;
    return pad ? (fe.pad >> slot_of_id[id]) & 1 : 0;
}

// The core opened once; each test starts it afresh (callbacks, retro_init) and ends it.
void core_start() {
    static void* library = dlopen(QUENRIK_CORE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
#define CORE_LOOKUP(name) ASSERT_NE(core.name = reinterpret_cast<decltype(core.name)>(dlsym(library, #name)), nullptr);
    CORE_FUNCTIONS(CORE_LOOKUP)
    fe = Frontend{};
    core.retro_set_environment(environment);
    core.retro_set_video_refresh(video);
    core.retro_set_audio_sample([](std::int16_t, std::int16_t) { fe.sound = true; });
    core.retro_set_audio_sample_batch(audio);
    core.retro_set_input_poll([] {});
    core.retro_set_input_state(input);
    core.retro_init();
}

Bytes file_bytes(const std::string& cartridge) {
    std::ifstream file(cartridge_path(cartridge), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
bool load(const Bytes& bytes) {
    fe.picture.assign(256 * 240, 0);  // black, as a new window
    const retro_game_info game{nullptr, bytes.data(), bytes.size(), nullptr};
    return core.retro_load_game(&game);
}
Bytes save() {
    Bytes state(core.retro_serialize_size());
    return core.retro_serialize(state.data(), state.size()) ? state : Bytes{};
}
bool restore(const Bytes& state) { return core.retro_unserialize(state.data(), state.size()); }
bool logged(retro_log_level level, const std::string& part, std::size_t from = 0) {
    for (std::size_t i = from; i < fe.log.size(); ++i)
        if (fe.log[i].first == level && fe.log[i].second.find(part) != std::string::npos) return true;
    return false;
}

// A state: magic, version, the cartridge's hash (8), the image with 0x8000-0x13FFF as its
// difference from the cartridge as loaded, then the fields from here: a x y sp p (1 byte each),
// pc (4), opcode (1), nmi_request interrupt_cause reset_request (4), cycle_count (8), line_cycles
// scanline frame_count mirroring mapper (4), stopped (4), then the sound unit's bytes. Version 1
// had no hash, the whole image as it is, and no stopped; version 2 no sound unit.
constexpr std::size_t image_at = 16, fields = image_at + image_size, sound_at = fields + 54,
                      state_size = sound_at + apu_state_bytes;

// ---- The program's emulation, as its own tests drive it -----------------------------------------
struct Program {
    TestMachine machine;
    std::uint8_t* image = machine.image();
    RunState state;
    SDL_Surface* surface = nullptr;

    bool load(const Bytes& bytes) {  // the program reads a file: an empty one is /dev/null
        std::FILE* file = bytes.empty() ? std::fopen("/dev/null", "rb")
                                        : fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb");
        bool taken = false;
        capture_stdout([&] { taken = load_ines_image(file, image, state.mirroring, state.mapper); });
        std::fclose(file);
        image[priv::mirroring] = static_cast<std::uint8_t>(state.mirroring);
        cartridge.assign(image + 0x8000, image + image_size);
        state.fast_mode = fe.options.count("quenrik_fast_mode") && fe.options.at("quenrik_fast_mode") == "enabled";
        state.frame_skip = 1;
        state.surface = screen_of(surface);
        emulation_prepare(state, image);
        // The core powers on with I set, as the console's reset leaves it; the program with I clear.
        flag_set(flag::I, 1, state.registers.p);
        return taken;
    }
    void frame(std::uint8_t pad) {  // the keys of the pad's buttons held
        static constexpr SDLKey keys[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};
        for (std::uint32_t i = 0; i < 8; ++i) SDL_GetKeyState(nullptr)[keys[i]] = (pad >> i) & 1;
        emulation_run(state, image, SDL_GetTicks(), passes_per_frame);
    }
    Picture picture() const {  // surface columns 32-287
        Picture picture(256 * 240);
        for (int y = 0; y < 240; ++y)
            std::memcpy(&picture[y * 256], static_cast<std::uint8_t*>(surface->pixels) + y * surface->pitch + 64, 512);
        return picture;
    }
    Bytes state_bytes(int version = 2) const {  // the core's state of this machine, of version 1 or 2
        Bytes bytes(version == 1 ? 8 + image_size : fields);
        std::memcpy(bytes.data(), version == 1 ? "QNRK\1\0\0\0" : "QNRK\2\0\0\0", 8);
        std::uint64_t hash = 0xCBF29CE484222325;  // FNV-1a 64 of the cartridge, mirroring, mapper
        for (std::uint32_t byte : cartridge) hash = (hash ^ byte) * 0x100000001B3;
        for (std::uint32_t byte : {state.mirroring, state.mapper}) hash = (hash ^ byte) * 0x100000001B3;
        for (int i = 0; i < 8 && version == 2; ++i) bytes[8 + i] = static_cast<std::uint8_t>(hash >> (8 * i));
        std::memcpy(&bytes[bytes.size() - image_size], image, image_size);
        for (std::size_t i = 0; i < cartridge.size() && version == 2; ++i) bytes[image_at + 0x8000 + i] ^= cartridge[i];
        auto put = [&](std::uint64_t value, int width) {
            for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        };
        const CpuRegisters& r = state.registers;
        for (std::uint8_t byte : {r.a, r.x, r.y, r.sp, r.p}) put(byte, 1);
        put(r.pc, 4);
        put(state.opcode, 1);
        for (std::uint32_t word : {state.nmi_request, state.interrupt_cause, state.reset_request.get()}) put(word, 4);
        put(state.cycle_count, 8);
        for (std::uint32_t word : {state.line_cycles, state.scanline, state.frame_count, state.mirroring, state.mapper})
            put(word, 4);
        if (version == 2) put(state.quit.get(), 4);
        return bytes;
    }
    Bytes cartridge;  // the image's 0x8000-0x13FFF as loaded
};

// ---- Helpers of the tests -------------------------------------------------------------------------
// A state of the core as the program's machine would give it: without the sound unit, which the
// program has not, and so of version 2.
Bytes program_part(Bytes state) {
    if (state.size() != state_size) return state;
    state.resize(sound_at);
    state[4] = 2;
    return state;
}

// A different set of buttons every 8 frames, none in some stretches.
std::uint8_t pad_for(std::uint32_t frame) {
    return (frame / 8) % 5 == 0 ? 0 : static_cast<std::uint8_t>(((frame / 8 + 1) * 2654435761u) >> 24);
}

// Where two sequences first differ, in words; empty when they are the same.
template <typename T>
std::string difference(const std::vector<T>& a, const std::vector<T>& b, const char* what) {
    char text[96] = "";
    if (a.size() != b.size()) std::snprintf(text, sizeof text, "%s: %zu / %zu long", what, a.size(), b.size());
    for (std::size_t i = 0; i < a.size() && text[0] == '\0'; ++i)
        if (a[i] != b[i])
            std::snprintf(text, sizeof text, "%s 0x%zX: %X / %X", what, i, unsigned{a[i]}, unsigned{b[i]});
    return text;
}

// Frames with the pad's script from frame first on: the pictures, and the state at the end.
struct Frames {
    std::vector<Picture> pictures;
    Bytes state;
};
Frames run(unsigned frames, std::uint32_t first = 0) {
    Frames result;
    for (std::uint32_t frame = first; frame < first + frames; ++frame) {
        fe.pad = pad_for(frame);
        core.retro_run();
        result.pictures.push_back(fe.picture);
    }
    result.state = save();
    return result;
}
std::string difference(const Frames& a, const Frames& b) {
    for (std::size_t i = 0; i < a.pictures.size() && i < b.pictures.size(); ++i)
        if (std::string d = difference(a.pictures[i], b.pictures[i], "pixel"); !d.empty())
            return "frame " + std::to_string(i) + ", " + d;
    return difference(a.state, b.state, "state byte");
}

class Core : public testing::Test {
protected:
    void SetUp() override {
        core_start();
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        ASSERT_NE(program.surface = SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE), nullptr) << SDL_GetError();
        SDL_FillRect(program.surface, nullptr, 0);
    }
    void TearDown() override {
        SDL_Quit();
        core.retro_unload_game();
        core.retro_deinit();
    }
    Program program;
};

// ---- The program's pictures and machine, frame for frame --------------------------------------------
class SameAsProgram : public Core, public testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(SameAsProgram, EveryFrameWithInputAndAReset) {
    const auto [cartridge, fast] = GetParam();
    const Bytes bytes = file_bytes(cartridge);
    fe.options["quenrik_fast_mode"] = fast ? "enabled" : "disabled";
    ASSERT_TRUE(program.load(bytes));
    ASSERT_TRUE(load(bytes));
    std::string first;  // kept, not asserted, in the capture: a failure there would be captured too
    std::uint32_t frame = 0;
    bool stopped = false;
    capture_stdout([&] {  // the program prints its stop
        for (; frame < 120 && first.empty() && !stopped; ++frame) {
            if (frame == 60) {  // the R key
                program.state.reset_request.set(1);
                core.retro_reset();
            }
            program.frame(fe.pad = pad_for(frame));
            const unsigned dupes = fe.dupes;
            core.retro_run();
            stopped = program.state.quit.get() == 1;  // where the program ends
            // The frame the machine stops in is never flipped: a frontend keeps the one before.
            if (!stopped || fe.dupes == dupes) first = difference(fe.picture, program.picture(), "pixel");
            if (first.empty()) first = difference(program_part(save()), program.state_bytes(), "state byte");
        }
    });
    EXPECT_EQ(first, "") << "frame " << frame - 1;
    EXPECT_EQ(logged(RETRO_LOG_ERROR, "EXECUTION ABORTED"), stopped);
    EXPECT_EQ(fe.frames, frame);
    EXPECT_TRUE(fast || stopped || fe.dupes == 0);
}

INSTANTIATE_TEST_SUITE_P(AllCartridges, SameAsProgram,
                         testing::Combine(testing::Values("demo", "demo-libretro", "demo-web", "bench_game",
                                                          "bench_sprites", "bench_compute",
                                                          "minimal", "halt", "reset", "cpu_selfcheck", "screen",
                                                          "joypad", "nmi_count", "dma", "countdown"),
                                          testing::Bool()),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name + (std::get<1>(info.param) ? "_fast" : "");
                         });

// ---- The demo at its host's pace ------------------------------------------------------------------------
// The ship's left edge: the first column with a pixel other than the backdrop in the band of empty
// tile rows the ship starts in (lines 160-223); -1 when there is none.
int ship_left(const Picture& picture) {
    const std::uint16_t backdrop = picture[239 * 256];  // the blank last line
    for (int x = 0; x < 256; ++x)
        for (int y = 160; y < 224; ++y)
            if (picture[y * 256 + x] != backdrop) return x;
    return -1;
}

// The program's demo moves in fractions of a pixel a frame, as the program runs thousands of frames
// a second (Right held for 60 frames: 60/64 of a pixel, so no change); the core's and the page's
// at the console's 60 frames a second (the same source with other speeds). Right held, A with Right
// held, and the frames between the colour strip's steps.
TEST_F(Core, EachDemoMovesAtItsHostsPace) {
    struct Pace {
        const char* cartridge;
        int right_60_frames, fast_30_frames;  // pixels the ship moves
        std::uint32_t colour_step;            // frames
    };
    for (const Pace& pace : {Pace{"demo", 0, 1, 2048}, Pace{"demo-libretro", 60, 90, 32}, Pace{"demo-web", 60, 90, 32}}) {
        SCOPED_TRACE(pace.cartridge);
        // From start-up: the pixels the ship moves with the pad holding `buttons` for `count`
        // frames (and 3 frames more without, for the picture to catch up).
        bool loaded = false;
        auto moved = [&](std::uint32_t count, std::uint8_t buttons) {
            if (std::exchange(loaded, true)) core.retro_unload_game();
            EXPECT_TRUE(load(file_bytes(pace.cartridge)));
            for (std::uint32_t i = 0; i < 10 + count + 3; ++i) {
                fe.pad = i >= 10 && i < 10 + count ? buttons : 0;
                core.retro_run();
                if (i == 9) {
                    EXPECT_EQ(ship_left(fe.picture), 120);
                }
            }
            return ship_left(fe.picture) - 120;
        };
        constexpr std::uint8_t a = 1, right = 1 << 7;
        EXPECT_EQ(moved(60, right), pace.right_60_frames);
        EXPECT_EQ(moved(30, a | right), pace.fast_30_frames);
        // A cell of palette 3 in the colour strip (tile row 16, column 22): its first two steps.
        std::vector<std::uint32_t> steps;
        for (std::uint32_t frame = 0; frame < 2 * pace.colour_step + 10 && steps.size() < 2; ++frame) {
            const std::uint16_t before = fe.picture[128 * 256 + 176];
            core.retro_run();
            if (fe.picture[128 * 256 + 176] != before) steps.push_back(frame);
        }
        ASSERT_EQ(steps.size(), 2u);
        EXPECT_EQ(steps[1] - steps[0], pace.colour_step);
    }
}

// ---- Save states ------------------------------------------------------------------------------------
TEST_F(Core, StatesComeBackExactlyAndRunTheSameWherever) {
    const Bytes demo = file_bytes("demo");
    for (const char* mode : {"disabled", "enabled"}) {
        SCOPED_TRACE(mode);
        fe.options["quenrik_fast_mode"] = mode;
        const bool plain = mode[0] == 'd';
        ASSERT_TRUE(load(demo));
        run(30);
        const Bytes state = save();
        ASSERT_EQ(state.size(), state_size);
        Bytes small(state_size - 1);
        EXPECT_FALSE(core.retro_serialize(small.data(), small.size()));
        run(10);
        ASSERT_TRUE(restore(state));
        // Fast mode asks for the next frame drawn after a load, in the image: the round trip is plain's.
        EXPECT_EQ(plain ? difference(save(), state, "state byte") : "", "") << "the same machine";
        const Frames reference = run(40, 30);
        run(25, 70);
        ASSERT_TRUE(restore(state));
        EXPECT_EQ(difference(run(40, 30), reference), "") << "the same machine later";
        core.retro_unload_game();
        ASSERT_TRUE(load(demo));
        ASSERT_TRUE(restore(state));
        EXPECT_EQ(plain ? difference(save(), state, "state byte") : "", "") << "a freshly loaded machine";
        EXPECT_EQ(difference(run(40, 30), reference), "") << "a freshly loaded machine";
        core.retro_reset();
        run(3);
        ASSERT_TRUE(restore(state));
        EXPECT_EQ(difference(run(40, 30), reference), "") << "after a reset";
        EXPECT_EQ(core.retro_serialize_size(), state_size);
    }
}

TEST_F(Core, HostileStatesAreRefusedAndChangeNothing) {
    ASSERT_TRUE(load(file_bytes("demo")));
    run(30);
    const Bytes good = save();
    const Frames reference = run(3, 30);
    auto with = [&](std::size_t at, std::uint64_t value, int width) {
        Bytes state = good;
        for (int i = 0; i < width; ++i) state[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        return state;
    };
    const std::uint8_t mirroring = good[image_at + priv::mirroring];
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"shorter", {good.begin(), good.end() - 1}}, {"longer", good}, {"size 0", {}}, {"null", good},
        {"magic", with(0, 'q', 1)}, {"version 0", with(4, 0, 4)}, {"version 4", with(4, 4, 4)},
        {"another cartridge's hash", with(8, good[8] ^ 1, 1)},
        {"pc 0x10000", with(fields + 5, 0x10000, 4)}, {"nmi_request 2", with(fields + 10, 2, 4)},
        {"interrupt_cause 3", with(fields + 14, 3, 4)}, {"reset_request 2", with(fields + 18, 2, 4)},
        {"line_cycles 137", with(fields + 30, 137, 4)}, {"line_cycles 140", with(fields + 30, 140, 4)},
        {"line_cycles 6", with(fields + 30, 6, 4)}, {"scanline 242", with(fields + 34, 242, 4)},
        {"mirroring 2", with(fields + 42, 2, 4)}, {"mirroring not the image's", with(fields + 42, mirroring ^ 1, 4)},
        {"the image's mirroring not the field's", with(image_at + priv::mirroring, mirroring ^ 1, 1)},
        {"mapper 256", with(fields + 46, 256, 4)}, {"stopped 2", with(fields + 50, 2, 4)},
        // The sound unit's fields (see apu_save): pulse 1's step, the triangle's, the noise's shift
        // register, the DMC's address and bits, the frame counter, the level, a filter.
        {"pulse step 8", with(sound_at + 8, 8, 1)}, {"triangle step 32", with(sound_at + 34, 32, 1)},
        {"noise shift 0", with(sound_at + 47, 0, 2)}, {"DMC address 0x7FFF", with(sound_at + 57, 0x7FFF, 2)},
        {"DMC bits 0", with(sound_at + 64, 0, 1)}, {"frame counter 37283", with(sound_at + 75, 37283, 4)},
        {"level not the mix", with(sound_at + 80, good[sound_at + 80] + 1u, 1)},
        {"filter 2^29", with(sound_at + 92, 1u << 29, 4)}};
    cases[1].second.push_back(0);
    std::mt19937 random(1);
    for (int i = 0; i < 16; ++i) {
        cases.push_back({"random " + std::to_string(i), good});
        for (std::size_t j = image_at; j < state_size; ++j)
            cases.back().second[j] = static_cast<std::uint8_t>(random());
    }
    for (const auto& [name, bytes] : cases) {
        ASSERT_TRUE(restore(good));
        const std::size_t lines = fe.log.size();
        EXPECT_FALSE(core.retro_unserialize(name == "null" ? nullptr : bytes.data(), bytes.size())) << name;
        EXPECT_TRUE(logged(RETRO_LOG_ERROR, "state not loaded: ", lines)) << name;
        EXPECT_EQ(difference(save(), good, "state byte"), "") << name;
        EXPECT_EQ(difference(run(3, 30), reference), "") << name;
    }
}

// A state holds what the game changed, and the cartridge it was made on by a hash: over another
// cartridge, or the same one patched, it is refused and changes nothing. A state of version 1,
// which holds the whole image, loads only where its PRG and CHR are the loaded cartridge's.
Bytes cheat_cartridge();
Bytes writing_cartridge();
const std::uint8_t* mapped(std::uint32_t address);

TEST_F(Core, StatesOfAnotherCartridgeAreRefused) {
    const Bytes game = cheat_cartridge();
    Bytes patched = game;
    patched[16 + 0x1234] ^= 0xFF;  // one PRG byte, as a frontend's soft patch
    Bytes recoloured = game;
    recoloured[16 + 0x8000 + 0x10] ^= 0xFF;  // one CHR byte
    std::vector<std::pair<std::string, Bytes>> cases;
    for (const auto& [name, cartridge] : std::vector<std::pair<std::string, Bytes>>{
             {"another cartridge", writing_cartridge()}, {"PRG patched", patched}, {"CHR patched", recoloured}}) {
        ASSERT_TRUE(load(cartridge));
        run(2);
        cases.push_back({name, save()});
        Program loader;
        ASSERT_TRUE(loader.load(cartridge));
        cases.push_back({name + ", version 1", loader.state_bytes(1)});
    }
    ASSERT_TRUE(load(game));
    core.retro_cheat_set(0, true, "SXIOPO");  // 0xAD at 0x91D9
    run(2);
    const Bytes before = save();
    for (const auto& [name, bytes] : cases) {
        const std::size_t lines = fe.log.size();
        EXPECT_FALSE(restore(bytes)) << name;
        EXPECT_TRUE(logged(RETRO_LOG_ERROR, "state not loaded: the state is of another cartridge", lines)) << name;
        EXPECT_EQ(difference(save(), before, "state byte"), "") << name;
    }
    EXPECT_EQ(*mapped(0x91D9), 0xAD);
    core.retro_cheat_reset();
    std::uint32_t address = 0x8000;  // the first PRG byte that is not the game's
    while (address < 0x10000 && *mapped(address) == game[16 + address - 0x8000]) ++address;
    EXPECT_EQ(address, 0x10000u);

    // The game's own state of version 1 loads, under the codes set now.
    core.retro_cheat_set(0, true, "SXIOPO");
    Program loader;
    ASSERT_TRUE(loader.load(game));
    EXPECT_TRUE(restore(loader.state_bytes(1)));
    EXPECT_EQ(difference(program_part(save()), loader.state_bytes(), "state byte"), "");
    EXPECT_EQ(*mapped(0x91D9), 0xAD);
}

// A machine that stopped stays stopped through its states, with nothing new said; a state of the
// same game saved before the stop starts it again.
TEST_F(Core, AStoppedMachineIsInItsState) {
    ASSERT_TRUE(load(file_bytes("halt")));  // opcode 0x02 at once
    const Bytes fresh = save();
    run(1);
    const Bytes stopped = save();
    ASSERT_EQ(fe.messages.size(), 1u);
    const std::size_t lines = fe.log.size();
    for (int i = 0; i < 100; ++i) {  // as run-ahead does it
        ASSERT_TRUE(restore(stopped));
        core.retro_run();
    }
    EXPECT_EQ(difference(save(), stopped, "state byte"), "");  // cycle_count too
    EXPECT_EQ(fe.log.size(), lines);
    EXPECT_EQ(fe.messages.size(), 1u);
    ASSERT_TRUE(load(file_bytes("halt")));  // a running machine takes the stop from a state too
    ASSERT_TRUE(restore(stopped));
    EXPECT_EQ(difference(run(3).state, stopped, "state byte"), "");
    EXPECT_EQ(fe.messages.size(), 1u);
    ASSERT_TRUE(restore(fresh));
    run(1);
    EXPECT_EQ(fe.messages.size(), 2u);
}

// ---- Cartridges: each taken as the program's loader takes the same bytes, or refused with the reason
// logged and the running game untouched ----------------------------------------------------------------
TEST_F(Core, HostileCartridgesAsTheProgramsLoaderTakesThem) {
    const Bytes good = file_bytes("minimal");
    auto cartridge = [](std::uint8_t prg, std::uint8_t chr, std::size_t size) {
        Bytes bytes = ines_header(prg, chr);
        bytes.resize(size, 0xEA);
        return bytes;
    };
    std::vector<std::pair<std::string, Bytes>> cases = {{"empty", {}}};
    for (std::size_t n = 1; n < 16; ++n)
        cases.push_back({std::to_string(n) + " bytes", {good.begin(), good.begin() + n}});
    cases.insert(cases.end(), {{"bad magic", cartridge(1, 1, 24592)}, {"3 PRG banks", cartridge(3, 1, 57360)},
                               {"3 CHR banks", cartridge(1, 3, 40976)}, {"minimal after refusals", good},
                               {"header only", ines_header(1, 1)}, {"short PRG", {good.begin(), good.begin() + 5016}},
                               {"2 PRG and 2 CHR banks", cartridge(2, 2, 49168)}});
    cases[16].second[3] = 0x1B;
    ASSERT_TRUE(load(file_bytes("demo")));
    run(5);
    for (const auto& [name, bytes] : cases) {
        const Bytes before = save();
        const std::size_t lines = fe.log.size();
        Program loader;
        const bool taken = loader.load(bytes);
        ASSERT_EQ(load(bytes), taken) << name;
        EXPECT_EQ(difference(taken ? program_part(save()) : save(), taken ? loader.state_bytes() : before, "state byte"),
                  "")
            << name;
        EXPECT_TRUE(taken || logged(RETRO_LOG_ERROR, "", lines)) << name;
        run(1);
    }
    const Bytes before = save();
    const retro_game_info nothing{nullptr, nullptr, 0, nullptr};
    EXPECT_FALSE(core.retro_load_game(&nothing));
    EXPECT_FALSE(core.retro_load_game(nullptr));
    EXPECT_TRUE(logged(RETRO_LOG_ERROR, "no cartridge given"));
    EXPECT_EQ(difference(save(), before, "state byte"), "");
}

// ---- Cheats and memory ----------------------------------------------------------------------------------
// A CPU address through the memory maps, as a frontend reads them; null where none holds it.
const std::uint8_t* mapped(std::uint32_t address) {
    for (const retro_memory_descriptor& d : fe.maps) {
        const std::size_t select = d.select != 0 ? d.select : ~(d.len - 1) & 0xFFFF;
        const std::size_t offset = (address - d.start) & ~d.disconnect;
        if ((address & select) == (d.start & select) && offset < d.len)
            return static_cast<const std::uint8_t*>(d.ptr) + d.offset + offset;
    }
    return nullptr;
}

// A cartridge of 2 PRG banks and 1 CHR bank running code from 0x8000; every other byte is 0x03.
Bytes cartridge_running(const std::vector<std::uint8_t>& code) {
    Bytes bytes = ines_header(2, 1);
    bytes.resize(16 + 0x8000 + 0x2000, 0x03);
    std::copy(code.begin(), code.end(), &bytes[16]);
    bytes[16 + 0x7FFC] = 0x00;
    bytes[16 + 0x7FFD] = 0x80;
    return bytes;
}

// 0x5A written at 0x6123, at 0x9000 in PRG and at 0x0010 in CHR (through 0x2006/0x2007), then a
// loop: the emulation keeps every one of them.
Bytes writing_cartridge() {
    return cartridge_running({0xA9, 0x5A, 0x8D, 0x23, 0x61, 0x8D, 0x00, 0x90, 0xA9, 0x00, 0x8D, 0x06, 0x20, 0xA9,
                              0x10, 0x8D, 0x06, 0x20, 0xA9, 0x5A, 0x8D, 0x07, 0x20, 0x4C, 0x17, 0x80});
}

// The maps hold the memory as the CPU sees it, writable wherever the CPU's writes are kept.
TEST_F(Core, MemoryIsTheMachinesAsTheCpuSeesIt) {
    EXPECT_EQ(core.retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM), nullptr);
    const Bytes cartridge = writing_cartridge();
    ASSERT_TRUE(load(cartridge));
    run(2);
    const auto* ram = static_cast<const std::uint8_t*>(core.retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    ASSERT_EQ(core.retro_get_memory_size(RETRO_MEMORY_SYSTEM_RAM), 0x800u);
    EXPECT_EQ(core.retro_get_memory_size(RETRO_MEMORY_SAVE_RAM), 0u);
    ASSERT_FALSE(fe.maps.empty());
    EXPECT_TRUE(fe.maps[0].ptr == ram && fe.maps[0].flags == RETRO_MEMDESC_SYSTEM_RAM);
    for (const retro_memory_descriptor& d : fe.maps) EXPECT_EQ(d.flags & RETRO_MEMDESC_CONST, 0u) << d.start;
    std::uint32_t address = 0;  // the first one mapped wrongly
    for (; address < 0x10000; ++address) {
        const std::uint8_t* byte = mapped(address);
        const std::uint8_t written = address == 0x6123 || address == 0x9000 ? 0x5A : 0x00;
        if (address < 0x2000 ? byte != ram + (address & 0x7FF)
            : address < 0x6000 ? byte != nullptr
            : address < 0x8000 ? byte == nullptr || *byte != written
                               : byte == nullptr || *byte != (written ? written : cartridge[16 + address - 0x8000]))
            break;
    }
    EXPECT_EQ(address, 0x10000u);
    EXPECT_EQ(fe.inputs, 8u);
}

// A cartridge that copies what the CPU reads at 0x91D9 and 0x94A7 to RAM 0x00 and 0x01, forever.
Bytes cheat_cartridge() {
    return cartridge_running({0xAD, 0xD9, 0x91, 0x85, 0x00, 0xAD, 0xA7, 0x94, 0x85, 0x01, 0x4C, 0x00, 0x80});
}

TEST_F(Core, CheatsPatchWhatTheCpuReadsAndHoldRam) {
    ASSERT_TRUE(load(cheat_cartridge()));
    auto* ram = static_cast<std::uint8_t*>(core.retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    const Bytes unpatched = save();
    auto after_frame = [&] {
        core.retro_run();
        return std::vector<unsigned>{ram[0], ram[1], ram[0x10], ram[0x11]};
    };
    const unsigned ram10 = ram[0x10], ram11 = ram[0x11];
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0x03, 0x03, ram10, ram11}));
    // SXIOPO: S X I O P O = D A 5 9 1 9, address 0x91D9, value 0xAD. ZEXPYGLA: 2 8 A 1 7 4 3 0,
    // address 0x94A7, value 0x02 where the ROM holds 0x03; ZEXPYGGA the same where it holds 0x04.
    core.retro_cheat_set(0, true, "SXIOPO");
    core.retro_cheat_set(1, true, "ZEXPYGGA");
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0xAD, 0x03, ram10, ram11}));
    EXPECT_EQ(*mapped(0x91D9), 0xAD);
    core.retro_cheat_set(1, true, " zexpygla+0010:5A + 1811:a5 ");
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0xAD, 0x02, 0x5A, 0xA5}));
    ram[0x10] = 0;
    EXPECT_EQ(after_frame()[2], 0x5Au);  // held each frame

    const Bytes before = save();
    std::string nine = "SXIOPO";
    for (int i = 0; i < 8; ++i) nine += "+SXIOPO";
    for (const std::string& code :
         std::vector<std::string>{"SXIOP", "SXIOPOA", "SXIOPQ", "2000:00", "0010:5", "0010-5A", "SXIOPO+", "", nine}) {
        const std::size_t lines = fe.log.size();
        core.retro_cheat_set(2, true, code.c_str());
        EXPECT_TRUE(logged(RETRO_LOG_WARN, "cheat 2 refused", lines)) << code;
        EXPECT_EQ(difference(save(), before, "state byte"), "") << code;
    }
    core.retro_cheat_set(64, true, "SXIOPO");
    EXPECT_TRUE(logged(RETRO_LOG_WARN, "cheat 64 refused"));

    core.retro_cheat_set(0, false, "");
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0x03, 0x02, 0x5A, 0xA5}));
    core.retro_cheat_reset();
    ram[0x10] = 0;
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0x03, 0x03, 0x00, 0xA5}));
    EXPECT_EQ(0, std::memcmp(&save()[image_at + 0x8000], &unpatched[image_at + 0x8000], 0x8000));

    // The codes are the frontend's, not the machine's: a state takes the ones set now, not those
    // set when it was saved.
    core.retro_cheat_set(0, true, "SXIOPO");
    const Bytes with_code = save();
    ASSERT_TRUE(restore(unpatched));
    EXPECT_EQ(after_frame()[0], 0xADu);
    core.retro_cheat_reset();
    ASSERT_TRUE(restore(with_code));
    EXPECT_EQ(after_frame()[0], 0x03u);
}

// ---- The stopped machine ------------------------------------------------------------------------------
TEST_F(Core, StoppedMachineSaysSoRepeatsItsFrameAndStartsAgain) {
    for (const bool dupe : {true, false}) {
        SCOPED_TRACE(dupe ? "dupes" : "no dupes");
        fe.can_dupe = dupe;
        fe.messages.clear();
        ASSERT_TRUE(load(file_bytes("halt")));  // opcode 0x02 at once
        const Bytes fresh = save();
        Frames stopped;
        // Where the program prints its stop, the core prints nothing: the words go to the log.
        EXPECT_EQ(capture_stdout([&] { stopped = run(1); }), "");
        EXPECT_TRUE(logged(RETRO_LOG_ERROR, "This OPCODE (0x2) is not implemented"));
        ASSERT_EQ(fe.messages.size(), 1u);
        EXPECT_NE(fe.messages[0].find("This OPCODE (0x2) is not implemented yet or is invalid. PC was pointing"),
                  std::string::npos);
        const unsigned dupes = fe.dupes;
        EXPECT_EQ(difference(run(5), stopped), "");
        EXPECT_EQ(fe.dupes, dupe ? dupes + 5 : dupes);
        core.retro_reset();
        run(1);
        ASSERT_TRUE(restore(fresh));
        run(1);
        EXPECT_EQ(fe.messages.size(), 3u);  // it ran into the opcode again after each
    }
}

// ---- What the core tells the frontend: itself, its options, the picture's size, the sound -------------
TEST_F(Core, InfoOptionsOverscanAndSilence) {
    retro_system_info info{};
    core.retro_get_system_info(&info);
    EXPECT_STREQ(info.library_name, "quenrik");
    EXPECT_STREQ(info.library_version, QUENRIK_VERSION);
    EXPECT_STREQ(info.valid_extensions, "nes");
    EXPECT_FALSE(info.need_fullpath);
    EXPECT_EQ(fe.defaults, (std::map<std::string, std::string>{{"quenrik_crop_overscan", "disabled"},
                                                               {"quenrik_fast_mode", "disabled"},
                                                               {"quenrik_sound", "enabled"}}));
    ASSERT_TRUE(load(file_bytes("demo")));
    retro_system_av_info av{};
    core.retro_get_system_av_info(&av);
    EXPECT_TRUE(av.geometry.base_width == 256 && av.geometry.base_height == 240);
    EXPECT_FLOAT_EQ(av.geometry.aspect_ratio, 4.0f / 3.0f);
    EXPECT_DOUBLE_EQ(av.timing.fps, 39375000.0 / 655171.0);  // 60.0988...
    EXPECT_EQ(av.timing.sample_rate, 48000.0);

    // A game that plays nothing is silent: whole sample frames a video frame, at the rate given.
    const double per_frame = av.timing.sample_rate / av.timing.fps;
    const Bytes state = run(600).state;
    EXPECT_LE(std::abs(static_cast<double>(fe.samples) - 600 * per_frame), per_frame);
    EXPECT_FALSE(fe.sound);

    // The cropped overscan: lines 8-231 of the same frame.
    run(1);
    const Picture full = fe.picture;
    fe.options["quenrik_crop_overscan"] = "enabled";
    fe.options_updated = true;
    ASSERT_TRUE(restore(state));
    run(1);
    ASSERT_TRUE(fe.width == 256 && fe.height == 224);
    EXPECT_EQ(difference(fe.picture, Picture(full.begin() + 8 * 256, full.begin() + 232 * 256), "pixel"), "");
    core.retro_get_system_av_info(&av);
    EXPECT_EQ(av.geometry.base_height, 224u);
}

}  // namespace

namespace {

// ---- Sound --------------------------------------------------------------------------------------------
// A cartridge that runs `code` from 0x8000 with `irq` as its interrupt handler at 0x8100.
Bytes cartridge_with_irq(const std::vector<std::uint8_t>& code, const std::vector<std::uint8_t>& irq) {
    Bytes bytes = cartridge_running(code);
    std::copy(irq.begin(), irq.end(), &bytes[16 + 0x100]);
    bytes[16 + 0x7FFE] = 0x00;
    bytes[16 + 0x7FFF] = 0x81;
    return bytes;
}

// Pulse 1 at timer 0x0FD (440.4 Hz), duty 1/2, constant volume 15, then a loop.
Bytes tone_cartridge() {
    return cartridge_running({0x78, 0xA9, 0x01, 0x8D, 0x15, 0x40, 0xA9, 0xBF, 0x8D, 0x00, 0x40, 0xA9, 0xFD, 0x8D,
                              0x02, 0x40, 0xA9, 0x00, 0x8D, 0x03, 0x40, 0x4C, 0x15, 0x80});
}

// The sound from a state is the same sample for sample, whatever ran before; off, it is silence
// of the same length, and the game runs as it does with sound.
TEST_F(Core, SoundComesBackTheSameFromAStateAndOffIsSilence) {
    ASSERT_TRUE(load(tone_cartridge()));
    run(10);
    const Bytes state = save();
    fe.heard.clear();
    const Frames reference = run(600, 10);
    const std::vector<std::int16_t> sound = fe.heard;
    // 29,780.5 CPU cycles a frame at 1,789,773 Hz: 798.7 samples a frame at 48 kHz, in whole frames.
    EXPECT_LE(std::abs(static_cast<double>(sound.size() / 2) - 600 * 29780.5 * 48000 / 1789773), 1.0);
    EXPECT_LE(fe.largest_batch, 1024u);
    // 440.4 Hz: the rises from below -2000 to above 2000 over the last 9 seconds, within 0.5%
    // (the margin passes over the ringing of the band-limited edges).
    std::size_t rising = 0;
    bool low = false;
    for (std::size_t i = sound.size() - 2 * 9 * 48000; i < sound.size(); i += 2) {
        if (sound[i] < -2000) low = true;
        if (sound[i] > 2000 && low) {
            ++rising;
            low = false;
        }
    }
    EXPECT_NEAR(rising / 9.0, 1789773.0 / (16 * 254), 1789773.0 / (16 * 254) * 0.005);

    run(25, 610);
    ASSERT_TRUE(restore(state));
    fe.heard.clear();
    EXPECT_EQ(difference(run(600, 10), reference), "");
    EXPECT_EQ(fe.heard == sound, true) << "the same machine later";
    core.retro_unload_game();
    ASSERT_TRUE(load(tone_cartridge()));
    ASSERT_TRUE(restore(state));
    fe.heard.clear();
    run(600, 10);
    EXPECT_EQ(fe.heard == sound, true) << "a freshly loaded machine";

    // The reset button silences the channels: a cartridge that plays its tone only once, at its
    // first start, is silent after a reset (RAM 0x00 remembers the start).
    ASSERT_TRUE(load(cartridge_running({0xA5, 0x00, 0xD0, 0x16, 0xE6, 0x00, 0xA9, 0x01, 0x8D, 0x15, 0x40, 0xA9, 0xBF,
                                        0x8D, 0x00, 0x40, 0xA9, 0xFD, 0x8D, 0x02, 0x40, 0xA9, 0x00, 0x8D, 0x03, 0x40,
                                        0x4C, 0x1A, 0x80})));
    run(10);
    core.retro_reset();
    run(20);
    fe.heard.clear();
    run(10);
    EXPECT_LE(*std::max_element(fe.heard.begin(), fe.heard.end()), 1) << "after a reset";
    EXPECT_GE(*std::min_element(fe.heard.begin(), fe.heard.end()), -1) << "after a reset";

    fe.options["quenrik_sound"] = "disabled";
    fe.options_updated = true;
    ASSERT_TRUE(load(tone_cartridge()));
    ASSERT_TRUE(restore(state));
    fe.heard.clear();
    const Frames silent = run(600, 10);
    EXPECT_EQ(fe.heard, std::vector<std::int16_t>(sound.size(), 0));
    EXPECT_TRUE(silent.pictures == reference.pictures);
    EXPECT_EQ(difference(program_part(silent.state), program_part(reference.state), "state byte"), "");
}

// The frame counter's and the DMC's interrupts: taken while I is clear, as often as the console
// gives them; held back by I and by the frame counter's inhibit; and 0x4015 as the console reads
// it. Each cartridge counts its interrupts at 0x10 and ORs what it reads at 0x4015 into 0x11.
TEST_F(Core, TheSoundUnitsInterrupts) {
    // INC 10, BIT 4015, RTI; INC 10, PHA, LDA #10, STA 4015, PLA, RTI: A kept for the main loop.
    const std::vector<std::uint8_t> count_and_read = {0xE6, 0x10, 0x2C, 0x15, 0x40, 0x40};
    const std::vector<std::uint8_t> count_and_restart = {0xE6, 0x10, 0x48, 0xA9, 0x10, 0x8D, 0x15, 0x40, 0x68, 0x40};
    auto main_loop = [](std::vector<std::uint8_t> setup) {  // then: LDA 4015, ORA 11, STA 11, JMP loop
        const auto loop = static_cast<std::uint8_t>(setup.size());
        setup.insert(setup.end(), {0xAD, 0x15, 0x40, 0x05, 0x11, 0x85, 0x11, 0x4C, loop, 0x80});
        return setup;
    };
    const std::vector<std::uint8_t> cli = {0x78, 0x58};  // SEI, CLI
    const std::vector<std::uint8_t> dmc = {0xA9, 0x8F, 0x8D, 0x10, 0x40, 0xA9, 0x01, 0x8D, 0x13, 0x40,
                                           0xA9, 0x10, 0x8D, 0x15, 0x40};  // IRQ, rate 54; 17 bytes; start
    auto then = [](std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        Bytes cartridge;
        unsigned fewest, most, read;  // interrupts in 60 frames; 0x4015's bits seen
    };
    // 60 frames are 1,786,830 cycles; the frame counter raises its flag at 29,828 and every 29,830
    // after: 59 times. A DMC sample of 17 bytes at 54 cycles a bit ends every 17 x 8 x 54 cycles
    // at most (less the byte fetched at its start): between 242 and 258 times.
    const std::vector<Case> cases = {
        {"frame counter", cartridge_with_irq(main_loop(cli), count_and_read), 59, 59, 0x00},
        {"I set", cartridge_with_irq(main_loop({0x78}), count_and_read), 0, 0, 0x40},
        {"inhibited", cartridge_with_irq(main_loop(then(cli, {0xA9, 0x40, 0x8D, 0x17, 0x40})), count_and_read), 0, 0,
         0x00},
        {"DMC", cartridge_with_irq(main_loop(then(then(cli, {0xA9, 0x40, 0x8D, 0x17, 0x40}), dmc)), count_and_restart),
         242, 258, 0x10},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(load(c.cartridge)) << c.name;
        run(60);
        const auto* ram = static_cast<const std::uint8_t*>(core.retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
        EXPECT_GE(ram[0x10], c.fewest) << c.name;
        EXPECT_LE(ram[0x10], c.most) << c.name;
        EXPECT_EQ(ram[0x11], c.read) << c.name;
    }
}

}  // namespace
