// The emulation loop run for a fixed number of passes, as the benchmark driver runs it: whole
// frames, early ends, and the evaluation stop inside a limited run.
#include "program/emulation.h"
#include "program/surface.h"

#include <SDL.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

constexpr std::uint64_t passes_per_frame = 242 * 34;

class EmulationRun : public testing::Test {
protected:
    TestMachine machine;
    RunState state;
    std::uint8_t* image = machine.image();

    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        state.surface = screen_of(SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE));
        ASSERT_NE(state.surface, nullptr) << SDL_GetError();
        state.frame_skip = 1;
    }
    void TearDown() override { SDL_Quit(); }

    // A program at 0x8000, started through the reset vector.
    void load_program(std::initializer_list<std::uint8_t> bytes) {
        std::uint32_t address = 0x8000;
        for (std::uint8_t byte : bytes) image[address++] = byte;
        image[reset_vector] = 0x00;
        image[reset_vector + 1] = 0x80;
    }
};

TEST_F(EmulationRun, WholeFramesLeaveTheLineCountersAsAtTheStart) {
    load_program({0x4C, 0x00, 0x80});  // JMP $8000
    state.fast_mode = 1;
    emulation_prepare(state, image);
    EXPECT_EQ(image[priv::display_update], 1);
    EXPECT_EQ(state.registers.pc, 0x8000u);

    emulation_run(state, image, 0, 3 * passes_per_frame);
    EXPECT_EQ(state.frame_count, 3u);
    EXPECT_EQ(state.cycle_count, 4u * 3 * passes_per_frame);
    EXPECT_EQ(state.scanline, 0u);
    EXPECT_EQ(state.line_cycles, 136u);  // the next pass starts line 0 of frame 3
    EXPECT_EQ(image[priv::display_update], 0);  // frame 0 shown, nothing changed since
    EXPECT_EQ(state.quit.get(), 0u);

    // A second run goes on where the first stopped.
    emulation_run(state, image, 0, 100);
    EXPECT_EQ(state.frame_count, 3u);
    EXPECT_EQ(state.scanline, 3u);  // line steps at passes 1, 35 and 69
    EXPECT_EQ(state.cycle_count, 4u * (3 * passes_per_frame + 100));
}

TEST_F(EmulationRun, AnInvalidOpcodeEndsALimitedRunEarly) {
    load_program({0xEA, 0xEA, 0x02});  // NOP, NOP, an opcode without an entry
    emulation_prepare(state, image);
    const std::string out = capture_stdout([&] { emulation_run(state, image, 0, 1000); });
    EXPECT_EQ(out,
              "This OPCODE (0x2) is not implemented yet or is invalid.\n"
              "PC was pointing: 0x8002\n\n"
              "                     ***EXECUTION ABORTED***\n\n");
    EXPECT_EQ(state.quit.get(), 1u);
    EXPECT_EQ(state.cycle_count, 12u);  // three passes, the third being the abort's

    // quit stays 1: a further run does nothing.
    emulation_run(state, image, 0, 1000);
    EXPECT_EQ(state.cycle_count, 12u);
}

TEST_F(EmulationRun, EvaluationStopComesAtTheFirstMultipleOf10000Instructions) {
    load_program({0x4C, 0x00, 0x80});
    state.evaluation_mode = 1;
    emulation_prepare(state, image);
    // A start six seconds ago: the clock test holds at the first multiple of 10000.
    const std::uint32_t start_ticks = SDL_GetTicks() - 6000;
    const std::string out = capture_stdout([&] { emulation_run(state, image, start_ticks, 50000); });
    EXPECT_EQ(out, "Inst/sec: 2000 (375K in a real NES)\n\n");  // 10000 instructions / 5
    EXPECT_EQ(state.cycle_count, 40000u);
    EXPECT_EQ(state.quit.get(), 1u);

    // With the five seconds not yet over, the run goes on to its limit.
    run_state_reset(state);
    state.surface = screen_of(SDL_GetVideoSurface());
    state.frame_skip = 1;
    state.evaluation_mode = 1;
    emulation_prepare(state, image);
    const std::string quiet = capture_stdout([&] { emulation_run(state, image, SDL_GetTicks(), 50000); });
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(state.cycle_count, 200000u);
    EXPECT_EQ(state.quit.get(), 0u);
}

// The instruction count has 64 bits: past 2^30 instructions (where a 32-bit count of 4 per
// instruction wrapped) the evaluation stop still falls on true multiples of 10000, and every
// figure printed from the count is the true one.
TEST_F(EmulationRun, InstructionCountsPastTwoToThe30StayTrue) {
    load_program({0x4C, 0x00, 0x80});
    const struct {
        std::uint64_t instructions_before;  // when the run starts
        std::uint64_t passes;
        std::string printed;  // by the evaluation stop; empty: no stop within the passes
        std::uint64_t instructions_after;
    } cases[] = {
        // 2^30 is no multiple of 10000: the run goes through it without a stop.
        {(1ull << 30) - 2, 4, "", (1ull << 30) + 2},
        {1073749999, 10, "Inst/sec: 214750000 (375K in a real NES)\n\n", 1073750000},
        // An Inst/sec figure above 2^31, which a signed 32-bit conversion turned negative.
        {11999999999, 10, "Inst/sec: 2400000000 (375K in a real NES)\n\n", 12000000000},
    };
    for (const auto& run_case : cases) {
        run_state_reset(state);
        state.surface = screen_of(SDL_GetVideoSurface());
        state.frame_skip = 1;
        state.evaluation_mode = 1;
        emulation_prepare(state, image);
        state.cycle_count = 4 * run_case.instructions_before;
        const std::uint32_t long_ago = SDL_GetTicks() - 6000;
        const std::string out =
            capture_stdout([&] { emulation_run(state, image, long_ago, run_case.passes); });
        EXPECT_EQ(out, run_case.printed) << run_case.instructions_before;
        EXPECT_EQ(state.cycle_count, 4 * run_case.instructions_after);
        EXPECT_EQ(state.quit.get(), run_case.printed.empty() ? 0u : 1u);
        EXPECT_EQ(capture_stdout([&] { print_run_statistics(state.cycle_count, 60); }),
                  std::to_string(run_case.instructions_after) + " Instrucion were executed\nfps: 12\n");
    }
}

}  // namespace
