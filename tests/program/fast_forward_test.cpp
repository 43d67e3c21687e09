// Differential test of the wait-loop fast-forward: every cartridge of the project runs twice side
// by side, once in fast execution (as the emulation thread runs) and once plain, one instruction
// per pass, with the same scripted joypad input and a reset along the way. After every frame both
// machines must be identical: the whole image, the registers, every counter and the picture.
#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/ines.h"
#include "program/emulation.h"
#include "program/surface.h"
#include "support/test_support.h"

namespace {

constexpr std::uint64_t passes_per_frame = 242 * 34;

struct Machine {
    TestMachine machine;
    RunState state;
    std::uint8_t* image = machine.image();

    void load(const std::string& cartridge, std::uint8_t fast_mode, std::uint8_t evaluation,
              SDL_Surface* surface) {
        std::FILE* file = std::fopen(cartridge_path(cartridge).c_str(), "rb");
        load_ines(file, image, state.mirroring, state.mapper);
        std::fclose(file);
        image[priv::mirroring] = static_cast<std::uint8_t>(state.mirroring);
        state.fast_mode = fast_mode;
        state.evaluation_mode = evaluation;
        state.surface = screen_of(surface);
        state.frame_skip = 1;
        emulation_prepare(state, image);
    }
};

// Where two machines differ, in words; empty when they are the same.
std::string difference(const Machine& a, const Machine& b) {
    for (std::uint32_t i = 0; i < image_size; ++i)
        if (a.image[i] != b.image[i]) {
            char text[64];
            std::snprintf(text, sizeof text, "image byte 0x%05X: %02X / %02X", i, a.image[i], b.image[i]);
            return text;
        }
    const RunState& s = a.state;
    const RunState& t = b.state;
    const CpuRegisters& r = s.registers;
    const CpuRegisters& q = t.registers;
    if (r.a != q.a || r.x != q.x || r.y != q.y || r.sp != q.sp || r.p != q.p || r.pc != q.pc)
        return "registers";
    if (s.cycle_count != t.cycle_count || s.line_cycles != t.line_cycles || s.scanline != t.scanline ||
        s.frame_count != t.frame_count || s.opcode != t.opcode || s.nmi_request != t.nmi_request ||
        s.interrupt_cause != t.interrupt_cause || s.quit.get() != t.quit.get() ||
        s.reset_request.get() != t.reset_request.get())
        return "counters or requests";
    const SDL_Surface* p = surface_of(s.surface);
    const SDL_Surface* o = surface_of(t.surface);
    for (int y = 0; y < p->h; ++y)
        if (std::memcmp(static_cast<const std::uint8_t*>(p->pixels) + y * p->pitch,
                        static_cast<const std::uint8_t*>(o->pixels) + y * o->pitch,
                        static_cast<std::size_t>(p->w) * 2) != 0)
            return "picture row " + std::to_string(y);
    return "";
}

// The keys held during a frame: a different set every 16 frames, nothing held in some stretches.
void hold_keys_for(std::uint32_t frame) {
    static constexpr SDLKey pad[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};
    const std::uint32_t pattern = ((frame / 16) * 2654435761u) >> 24;
    Uint8* keys = SDL_GetKeyState(nullptr);
    for (std::uint32_t i = 0; i < 8; ++i) keys[pad[i]] = (frame / 16) % 5 == 0 ? 0 : (pattern >> i) & 1;
}

struct Case {
    const char* cartridge;
    std::uint8_t fast_mode;      // -f: frames drawn only when the game changed the picture
    std::uint8_t evaluation;     // -s: the clock check every 10000 instructions
    std::uint32_t skipped_share;  // at least this % of the fast machine's passes were skipped
};

class FastForward : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        fast_surface = SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE);
        ASSERT_NE(fast_surface, nullptr) << SDL_GetError();
        const SDL_PixelFormat* f = fast_surface->format;
        plain_surface = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, f->Rmask, f->Gmask, f->Bmask, 0);
        ASSERT_NE(plain_surface, nullptr);
        SDL_FillRect(fast_surface, nullptr, 0);
        SDL_FillRect(plain_surface, nullptr, 0);
    }
    void TearDown() override {
        SDL_FreeSurface(plain_surface);
        SDL_Quit();
    }
    SDL_Surface* fast_surface = nullptr;
    SDL_Surface* plain_surface = nullptr;
};

TEST_P(FastForward, LeavesEveryFrameAsPlainExecution) {
    const Case& c = GetParam();
    std::FILE* file = std::fopen(cartridge_path(c.cartridge).c_str(), "rb");
    ASSERT_NE(file, nullptr) << c.cartridge;
    std::fclose(file);
    Machine fast, plain;
    constexpr std::uint32_t frames = 1000;
    std::uint64_t skipped = 0, unused = 0;
    // The first difference, with where it was seen; asserted after the capture, since a failure
    // reported inside it would land in the captured text and never be shown.
    std::string first_difference;
    capture_stdout([&] {  // what the loader and the cartridges print is not the point here
        fast.load(c.cartridge, c.fast_mode, c.evaluation, fast_surface);
        plain.load(c.cartridge, c.fast_mode, c.evaluation, plain_surface);
        first_difference = difference(fast, plain);
        if (!first_difference.empty()) first_difference = "after loading: " + first_difference;
        for (std::uint32_t frame = 0; frame < frames && first_difference.empty(); ++frame) {
            hold_keys_for(frame);
            if (frame == 500) {  // the R key
                fast.state.reset_request.set(1);
                plain.state.reset_request.set(1);
            }
            // The clock check never finds five seconds over: the start is always now. Each frame
            // is run in two parts cut at a point that moves, and compared at the cut as well, so
            // that skips meet the pass limit anywhere in a line and a difference that the rest
            // of the frame would hide is seen.
            const std::uint64_t cut = 1 + (frame * 2654435761u) % (passes_per_frame - 1);
            std::uint64_t into_frame = 0;
            for (const std::uint64_t passes : {cut, passes_per_frame - cut}) {
                emulation_run(fast.state, fast.image, SDL_GetTicks(), passes, Execution::fast, skipped);
                emulation_run(plain.state, plain.image, SDL_GetTicks(), passes, Execution::plain, unused);
                into_frame += passes;
                const std::string d = difference(fast, plain);
                if (!d.empty() && first_difference.empty())
                    first_difference = "frame " + std::to_string(frame) + ", pass " + std::to_string(into_frame) +
                                       " of it: " + d;
            }
        }
    });
    ASSERT_EQ(first_difference, "") << c.cartridge;
    EXPECT_EQ(unused, 0u);
    std::printf("%s: %llu of %llu passes skipped\n", c.cartridge, static_cast<unsigned long long>(skipped),
                static_cast<unsigned long long>(fast.state.cycle_count / 4));
    EXPECT_GE(skipped * 100, c.skipped_share * (fast.state.cycle_count / 4));
}

// Every cartridge of the project, in normal and in fast mode, with and without evaluation mode.
INSTANTIATE_TEST_SUITE_P(
    AllCartridges, FastForward,
    testing::Values(Case{"demo", 0, 0, 0}, Case{"demo", 1, 1, 0}, Case{"bench_game", 0, 1, 0},
                    Case{"bench_game", 1, 0, 0}, Case{"bench_sprites", 0, 0, 0}, Case{"bench_compute", 1, 1, 0},
                    Case{"minimal", 0, 1, 0}, Case{"halt", 0, 0, 0}, Case{"reset", 0, 0, 0},
                    Case{"cpu_selfcheck", 0, 1, 0}, Case{"screen", 1, 0, 0}, Case{"joypad", 0, 0, 0},
                    Case{"nmi_count", 0, 1, 0}, Case{"dma", 1, 0, 0}, Case{"countdown", 0, 0, 0}),
    [](const testing::TestParamInfo<Case>& info) {
        return std::string(info.param.cartridge) + (info.param.fast_mode ? "_f" : "") +
               (info.param.evaluation ? "_s" : "");
    });

}  // namespace
