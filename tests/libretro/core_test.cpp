// The core through its API, as a frontend drives it: the program's pictures and machine frame
// for frame, states that come back exactly and hostile ones refused, hostile cartridges as the
// program's loader takes them, cheats, memory, the stopped machine, and what the core says it is.
#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "core_frontend.h"

namespace {

constexpr const char* fast_key = "quenrik_fast_mode";
constexpr const char* crop_key = "quenrik_crop_overscan";

// A different set of buttons every 8 frames, none in some stretches.
std::uint8_t pad_for(std::uint32_t frame) {
    return (frame / 8) % 5 == 0 ? 0 : static_cast<std::uint8_t>(((frame / 8 + 1) * 2654435761u) >> 24);
}

// Where two sequences first differ, in words; empty when they are the same.
template <typename T>
std::string difference(const std::vector<T>& a, const std::vector<T>& b, const char* what) {
    char text[96] = "";
    if (a.size() != b.size())
        std::snprintf(text, sizeof text, "%s: %zu / %zu long", what, a.size(), b.size());
    for (std::size_t i = 0; i < a.size() && text[0] == '\0'; ++i)
        if (a[i] != b[i])
            std::snprintf(text, sizeof text, "%s 0x%zX: %X / %X", what, i, unsigned{a[i]}, unsigned{b[i]});
    return text;
}

// Frames with the pad's script from first on: every picture and the state at the end.
struct Frames {
    std::vector<Picture> pictures;
    std::vector<std::uint8_t> state;
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
    for (std::size_t i = 0; i < std::min(a.pictures.size(), b.pictures.size()); ++i)
        if (std::string d = difference(a.pictures[i], b.pictures[i], "pixel"); !d.empty())
            return "frame " + std::to_string(i) + ", " + d;
    return difference(a.state, b.state, "state byte");
}

class CoreTest : public testing::Test {
protected:
    void SetUp() override { core_start(); }
    void TearDown() override { core_stop(); }
};

// With the program's emulation beside the core, on SDL's dummy screen.
class WithProgram : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        surface = SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE);
        ASSERT_NE(surface, nullptr) << SDL_GetError();
        SDL_FillRect(surface, nullptr, 0);
        program.surface = surface;
    }
    void TearDown() override {
        SDL_Quit();
        CoreTest::TearDown();
    }
    SDL_Surface* surface = nullptr;
    Program program;
};

// ---- The program's pictures and machine, frame for frame -------------------------------------
class SameAsProgram : public WithProgram, public testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(SameAsProgram, EveryFrameWithInputAndAReset) {
    const auto [cartridge, fast] = GetParam();
    const std::vector<std::uint8_t> bytes = file_bytes(cartridge);
    fe.options[fast_key] = fast ? "enabled" : "disabled";
    ASSERT_TRUE(program.load(bytes, fast));
    ASSERT_TRUE(load(bytes));
    std::string first;  // kept, not asserted, inside the capture: a failure there would be captured too
    std::uint32_t frame = 0;
    bool stopped = false;
    capture_stdout([&] {  // the program prints the stop on standard output
        for (; frame < 120 && first.empty() && !stopped; ++frame) {
            if (frame == 60) {  // the R key
                program.state.reset_request.set(1);
                core.retro_reset();
            }
            program.frame(pad_for(frame));
            fe.pad = pad_for(frame);
            const unsigned dupes = fe.dupes;
            core.retro_run();
            stopped = program.state.quit.get() == 1;  // the program ends there
            // The frame the machine stops in is never flipped: the frontend keeps the one before.
            if (!stopped || fe.dupes == dupes) first = difference(fe.picture, program.picture(), "pixel");
            if (first.empty()) first = difference(save(), program.state_bytes(), "state byte");
        }
    });
    EXPECT_EQ(first, "") << "frame " << frame - 1;
    EXPECT_EQ(logged(RETRO_LOG_ERROR, "EXECUTION ABORTED"), stopped);
    EXPECT_EQ(fe.frames, frame);
    if (!fast && !stopped) {
        EXPECT_EQ(fe.dupes, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllCartridges, SameAsProgram,
    testing::Combine(testing::Values("demo", "bench_game", "bench_sprites", "bench_compute", "minimal", "halt", "reset",
                                     "cpu_selfcheck", "screen", "joypad", "nmi_count", "dma", "countdown"),
                     testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_fast" : "");
    });

// ---- Save states ---------------------------------------------------------------------------------
TEST_F(CoreTest, StatesComeBackExactlyAndRunTheSameWherever) {
    const std::vector<std::uint8_t> bytes = file_bytes("demo");
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast mode" : "plain");
        fe.options[fast_key] = fast ? "enabled" : "disabled";
        ASSERT_TRUE(load(bytes));
        run(30);
        const std::vector<std::uint8_t> state = save();
        ASSERT_EQ(state.size(), state_bytes);
        std::vector<std::uint8_t> small(state_bytes - 1);
        EXPECT_FALSE(core.retro_serialize(small.data(), small.size()));
        // Fast mode asks for the next frame drawn after a load, in the image: the round trip is plain's.
        run(10);
        ASSERT_TRUE(restore(state));
        if (!fast) {
            EXPECT_EQ(difference(save(), state, "state byte"), "");
        }

        const Frames reference = run(40, 30);
        run(25, 70);
        ASSERT_TRUE(restore(state));
        EXPECT_EQ(difference(run(40, 30), reference), "") << "the same machine later";
        core.retro_unload_game();
        ASSERT_TRUE(load(bytes));
        ASSERT_TRUE(restore(state));
        EXPECT_EQ(difference(run(40, 30), reference), "") << "a freshly loaded machine";
        core.retro_reset();
        run(3);
        ASSERT_TRUE(restore(state));
        EXPECT_EQ(difference(run(40, 30), reference), "") << "after a reset";
        EXPECT_EQ(core.retro_serialize_size(), state_bytes);
        core.retro_unload_game();
    }
}

TEST_F(CoreTest, HostileStatesAreRefusedAndChangeNothing) {
    ASSERT_TRUE(load(file_bytes("demo")));
    run(30);
    const std::vector<std::uint8_t> good = save();
    const Frames reference = run(3, 30);
    auto with = [&](std::size_t offset, std::uint64_t value, int width) {
        std::vector<std::uint8_t> state = good;
        for (int i = 0; i < width; ++i) state[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        return state;
    };
    const std::uint8_t mirroring = good[8 + priv::mirroring];
    const std::size_t f = state_fields;
    struct Hostile {
        std::string name;
        std::vector<std::uint8_t> bytes;
        bool null = false;
    };
    std::vector<Hostile> cases = {
        {"shorter", {good.begin(), good.end() - 1}}, {"longer", with(0, 0, 0)}, {"size 0", {}},
        {"null", good, true}, {"magic", with(0, 'q', 1)}, {"version 0", with(4, 0, 4)}, {"version 2", with(4, 2, 4)},
        {"pc 0x10000", with(f + 5, 0x10000, 4)}, {"nmi_request 2", with(f + 10, 2, 4)},
        {"interrupt_cause 3", with(f + 14, 3, 4)}, {"reset_request 2", with(f + 18, 2, 4)},
        {"line_cycles 137", with(f + 30, 137, 4)}, {"line_cycles 140", with(f + 30, 140, 4)},
        {"line_cycles 6", with(f + 30, 6, 4)}, {"scanline 242", with(f + 34, 242, 4)},
        {"mirroring 2", with(f + 42, 2, 4)}, {"mirroring not the image's", with(f + 42, mirroring ^ 1, 4)},
        {"the image's mirroring not the field's", with(8 + priv::mirroring, mirroring ^ 1, 1)},
        {"mapper 256", with(f + 46, 256, 4)}};
    cases[1].bytes.push_back(0);
    std::mt19937 random(1);
    for (int i = 0; i < 16; ++i) {
        Hostile noise{"random " + std::to_string(i), good};
        for (std::size_t j = 8; j < noise.bytes.size(); ++j) noise.bytes[j] = static_cast<std::uint8_t>(random());
        cases.push_back(noise);
    }
    for (const Hostile& c : cases) {
        ASSERT_TRUE(restore(good));
        const std::size_t lines = fe.log.size();
        EXPECT_FALSE(core.retro_unserialize(c.null ? nullptr : c.bytes.data(), c.bytes.size())) << c.name;
        EXPECT_TRUE(logged(RETRO_LOG_ERROR, "state not loaded: ", lines)) << c.name;
        EXPECT_EQ(difference(save(), good, "state byte"), "") << c.name;
        EXPECT_EQ(difference(run(3, 30), reference), "") << c.name;
    }
}

// ---- Cartridges ----------------------------------------------------------------------------------
// Each one as the program's loader takes it from the same bytes, or refused with the reason
// logged and the game that was running untouched.
TEST_F(WithProgram, HostileCartridgesAsTheProgramsLoaderTakesThem) {
    const std::vector<std::uint8_t> good = file_bytes("minimal");
    auto cartridge = [](std::uint8_t prg, std::uint8_t chr, std::size_t size) {
        std::vector<std::uint8_t> bytes = ines_header(prg, chr);
        bytes.resize(size, 0xEA);
        return bytes;
    };
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> cases = {{"empty", {}}};
    for (std::size_t n = 1; n < 16; ++n) cases.push_back({std::to_string(n) + " bytes", {good.begin(), good.begin() + n}});
    std::vector<std::uint8_t> magic = good;
    magic[3] = 0x1B;
    cases.insert(cases.end(), {{"bad magic", magic},
                               {"3 PRG banks", cartridge(3, 1, 16 + 3 * 16384 + 8192)},
                               {"3 CHR banks", cartridge(1, 3, 16 + 16384 + 3 * 8192)},
                               {"minimal after refusals", good},
                               {"header only", ines_header(1, 1)},
                               {"short PRG", {good.begin(), good.begin() + 16 + 5000}},
                               {"2 PRG and 2 CHR banks", cartridge(2, 2, 16 + 2 * 16384 + 2 * 8192)}});
    ASSERT_TRUE(load(file_bytes("demo")));
    run(5);
    for (const auto& [name, bytes] : cases) {
        const std::vector<std::uint8_t> before = save();
        const std::size_t lines = fe.log.size();
        Program loader;
        loader.surface = surface;
        const bool taken = loader.load(bytes, false);
        ASSERT_EQ(load(bytes), taken) << name;
        if (taken) {
            EXPECT_EQ(difference(save(), loader.state_bytes(), "state byte"), "") << name;
        } else {
            EXPECT_TRUE(logged(RETRO_LOG_ERROR, "", lines)) << name;
            EXPECT_EQ(difference(save(), before, "state byte"), "") << name;
        }
        run(1);
    }
    const std::vector<std::uint8_t> before = save();
    const retro_game_info nothing{nullptr, nullptr, 0, nullptr};
    EXPECT_FALSE(core.retro_load_game(&nothing));
    EXPECT_FALSE(core.retro_load_game(nullptr));
    EXPECT_TRUE(logged(RETRO_LOG_ERROR, "no cartridge given"));
    EXPECT_EQ(difference(save(), before, "state byte"), "");
}

// ---- Cheats -----------------------------------------------------------------------------------------
// A cartridge that copies what the CPU reads at 0x91D9 and 0x94A7 to RAM 0x00 and 0x01, forever;
// every other PRG byte is 0x03.
std::vector<std::uint8_t> cheat_cartridge() {
    std::vector<std::uint8_t> bytes = ines_header(2, 1);
    std::vector<std::uint8_t> prg(0x8000, 0x03);
    const std::uint8_t loop[] = {0xAD, 0xD9, 0x91, 0x85, 0x00, 0xAD, 0xA7, 0x94, 0x85, 0x01, 0x4C, 0x00, 0x80};
    std::memcpy(prg.data(), loop, sizeof loop);
    prg[0x7FFC] = 0x00;
    prg[0x7FFD] = 0x80;
    bytes.insert(bytes.end(), prg.begin(), prg.end());
    bytes.resize(bytes.size() + 0x2000, 0);
    return bytes;
}

TEST_F(CoreTest, CheatsPatchWhatTheCpuReadsAndHoldRam) {
    ASSERT_TRUE(load(cheat_cartridge()));
    auto* ram = static_cast<std::uint8_t*>(core.retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    const std::vector<std::uint8_t> unpatched = save();
    auto after_frame = [&] {
        core.retro_run();
        return std::vector<unsigned>{ram[0], ram[1], ram[0x10], ram[0x11]};
    };
    const unsigned held10 = ram[0x10], held11 = ram[0x11];
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0x03, 0x03, held10, held11}));
    // SXIOPO: S X I O P O = D A 5 9 1 9, address 0x91D9, value 0xAD. ZEXPYGLA: 2 8 A 1 7 4 3 0,
    // address 0x94A7, value 0x02 where the ROM holds 0x03; ZEXPYGGA the same where it holds 0x04.
    core.retro_cheat_set(0, true, "SXIOPO");
    core.retro_cheat_set(1, true, "ZEXPYGGA");
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0xAD, 0x03, held10, held11}));
    EXPECT_EQ(save()[8 + 0x91D9], 0xAD);
    core.retro_cheat_set(1, true, " zexpygla+0010:5A + 1811:a5 ");
    EXPECT_EQ(after_frame(), (std::vector<unsigned>{0xAD, 0x02, 0x5A, 0xA5}));
    ram[0x10] = 0;
    EXPECT_EQ(after_frame()[2], 0x5Au);  // held each frame

    const std::vector<std::uint8_t> before = save();
    std::string nine = "SXIOPO";
    for (int i = 0; i < 8; ++i) nine += "+SXIOPO";
    for (const std::string& code : std::vector<std::string>{"SXIOP", "SXIOPOA", "SXIOPQ", "2000:00", "0010:5", "0010-5A", "SXIOPO+", "", nine}) {
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
    const std::vector<std::uint8_t> now = save();
    EXPECT_EQ(0, std::memcmp(&now[8 + 0x8000], &unpatched[8 + 0x8000], 0x8000));
}

// ---- Memory --------------------------------------------------------------------------------------------
// A CPU address through the memory maps, as a frontend reads them; null where none holds it.
const std::uint8_t* mapped(std::uint32_t address) {
    for (const retro_memory_descriptor& d : fe.memory_maps) {
        const std::size_t select = d.select != 0 ? d.select : ~(d.len - 1) & 0xFFFF;
        const std::size_t offset = (address - d.start) & ~d.disconnect;
        if ((address & select) == (d.start & select) && offset < d.len)
            return static_cast<const std::uint8_t*>(d.ptr) + d.offset + offset;
    }
    return nullptr;
}

TEST_F(CoreTest, MemoryIsTheMachinesRamAndPrg) {
    EXPECT_EQ(core.retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM), nullptr);
    ASSERT_TRUE(load(file_bytes("demo")));
    run(20);
    const std::vector<std::uint8_t> state = save();
    const auto* ram = static_cast<const std::uint8_t*>(core.retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    ASSERT_EQ(core.retro_get_memory_size(RETRO_MEMORY_SYSTEM_RAM), 0x800u);
    EXPECT_EQ(0, std::memcmp(ram, &state[8], 0x800));
    EXPECT_EQ(core.retro_get_memory_size(RETRO_MEMORY_SAVE_RAM), 0u);
    ASSERT_EQ(fe.memory_maps.size(), 2u);
    EXPECT_EQ(fe.memory_maps[0].ptr, ram);
    EXPECT_EQ(fe.memory_maps[0].flags, RETRO_MEMDESC_SYSTEM_RAM);
    std::string wrong;
    for (std::uint32_t address = 0; address < 0x10000 && wrong.empty(); ++address) {
        const std::uint8_t* byte = mapped(address);
        const bool held = address < 0x2000 || address >= 0x8000;
        const std::uint32_t at = address < 0x2000 ? address & 0x7FF : address;
        if (held != (byte != nullptr) || (held && *byte != state[8 + at])) wrong = std::to_string(address);
    }
    EXPECT_EQ(wrong, "");
    EXPECT_EQ(fe.inputs.size(), 8u);
}

// ---- The stopped machine ------------------------------------------------------------------------------
TEST_F(CoreTest, StoppedMachineSaysSoRepeatsItsFrameAndStartsAgain) {
    for (const bool dupe : {true, false}) {
        SCOPED_TRACE(dupe ? "dupes" : "no dupes");
        fe.can_dupe = dupe;
        ASSERT_TRUE(load(file_bytes("halt")));  // opcode 0x02 at once
        const std::vector<std::uint8_t> fresh = save();
        run(1);
        EXPECT_TRUE(logged(RETRO_LOG_ERROR, "This OPCODE (0x2) is not implemented"));
        ASSERT_EQ(fe.messages.size(), 1u);
        EXPECT_NE(fe.messages[0].find("This OPCODE (0x2)"), std::string::npos);
        EXPECT_NE(fe.messages[0].find("PC was pointing"), std::string::npos);
        const Frames stopped = run(1);
        const unsigned dupes = fe.dupes;
        EXPECT_EQ(difference(run(5), stopped), "");
        EXPECT_EQ(fe.dupes, dupe ? dupes + 5 : dupes);
        EXPECT_EQ(fe.messages.size(), 1u);
        for (const bool reset : {true, false}) {  // a reset, then a state load
            if (reset)
                core.retro_reset();
            else
                ASSERT_TRUE(restore(fresh));
            const std::size_t messages = fe.messages.size();
            run(1);
            EXPECT_EQ(fe.messages.size(), messages + 1);  // it ran into the opcode again
        }
        core.retro_unload_game();
        fe.messages.clear();
    }
}

// ---- What the core tells the frontend -------------------------------------------------------------
TEST_F(CoreTest, SystemAndAvInfoAndOptions) {
    retro_system_info info{};
    core.retro_get_system_info(&info);
    EXPECT_STREQ(info.library_name, "quenrik");
    EXPECT_STREQ(info.library_version, QUENRIK_VERSION);
    EXPECT_STREQ(info.valid_extensions, "nes");
    EXPECT_FALSE(info.need_fullpath);
    EXPECT_EQ(core.retro_api_version(), RETRO_API_VERSION);
    ASSERT_TRUE(load(file_bytes("demo")));
    retro_system_av_info av{};
    core.retro_get_system_av_info(&av);
    EXPECT_EQ(av.geometry.base_width, 256u);
    EXPECT_EQ(av.geometry.base_height, 240u);
    EXPECT_FLOAT_EQ(av.geometry.aspect_ratio, 4.0f / 3.0f);
    EXPECT_DOUBLE_EQ(av.timing.fps, 39375000.0 / 655171.0);  // 60.0988...
    EXPECT_GT(av.timing.sample_rate, 0.0);
    const std::map<std::string, std::string> defaults = {{fast_key, "disabled"}, {crop_key, "disabled"}};
    EXPECT_EQ(fe.option_defaults, defaults);
    core_stop();
    core_start(1);  // a frontend without version 2 of the options
    EXPECT_EQ(fe.option_defaults, defaults);
}

TEST_F(CoreTest, SilenceAtASteadyRate) {
    ASSERT_TRUE(load(file_bytes("minimal")));
    retro_system_av_info av{};
    core.retro_get_system_av_info(&av);
    const double per_frame = av.timing.sample_rate / av.timing.fps;
    constexpr unsigned frames = 600;
    for (unsigned i = 0; i < frames; ++i) {
        const std::uint64_t before = fe.sample_frames;
        core.retro_run();
        const double got = static_cast<double>(fe.sample_frames - before);
        ASSERT_LE(std::abs(got - per_frame), 1.0) << "frame " << i;
    }
    EXPECT_LE(std::abs(static_cast<double>(fe.sample_frames) - frames * per_frame), per_frame);
    EXPECT_FALSE(fe.sound);
}

TEST_F(CoreTest, CroppedOverscanIsLines8To231) {
    ASSERT_TRUE(load(file_bytes("demo")));
    run(20);
    const std::vector<std::uint8_t> state = save();
    run(1);
    const Picture full = fe.picture;
    ASSERT_EQ(fe.height, 240u);
    fe.options[crop_key] = "enabled";
    fe.options_updated = true;
    ASSERT_TRUE(restore(state));
    run(1);
    EXPECT_EQ(fe.geometry.base_height, 224u);
    ASSERT_EQ(fe.width, 256u);
    ASSERT_EQ(fe.height, 224u);
    EXPECT_EQ(difference(fe.picture, Picture(full.begin() + 8 * 256, full.begin() + 232 * 256), "pixel"), "");
    core.retro_unload_game();
    ASSERT_TRUE(load(file_bytes("demo")));  // enabled from the start
    retro_system_av_info av{};
    core.retro_get_system_av_info(&av);
    EXPECT_EQ(av.geometry.base_height, 224u);
}

}  // namespace
