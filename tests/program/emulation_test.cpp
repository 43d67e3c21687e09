// The emulation thread's body called in-process over SDL's dummy video driver: what it sets up
// before the first instruction, and a pass that ends the run.
#include "program/emulation.h"
#include "program/surface.h"

#include <SDL.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

const std::string start_message = "kien co\xF1" "o ta cambiado1";

class EmulationThread : public testing::Test {
protected:
    TestMachine machine;
    RunState state;

    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        state.surface = screen_of(SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE));
        ASSERT_NE(state.surface, nullptr) << SDL_GetError();
    }
    void TearDown() override { SDL_Quit(); }

    void set_vector(std::uint32_t vector, std::uint16_t address) {
        machine.image()[vector] = static_cast<std::uint8_t>(address);
        machine.image()[vector + 1] = static_cast<std::uint8_t>(address >> 8);
    }

    // Runs the thread body to its end and returns what it printed after the frame skip line,
    // which it checks against the skip it chose.
    std::string run() {
        EmulationContext context{&state, machine.image()};
        int returned = -1;
        const std::string out = capture_stdout([&] { returned = emulation_thread(&context); });
        EXPECT_EQ(returned, 0);
        const std::string skip_line = "Frame Skip set to: " + std::to_string(state.frame_skip) + "x\n\n";
        EXPECT_EQ(out.substr(0, skip_line.size()), skip_line);
        return out.substr(skip_line.size());
    }
};

// quit already 1 when the loop would start (Escape during the 50 ms measurement).
TEST_F(EmulationThread, QuitBeforeTheFirstInstructionStillSetsUpAndPrintsZeroes) {
    const struct {
        std::uint8_t fast_mode;
        std::uint32_t trace_mode;
        std::uint8_t display_update;
        std::string message;
    } cases[] = {
        {0, 0, 0xFF, ""},
        {1, 0, 0x01, ""},
        {0, 1, 0xFF, start_message},
        {1, 1, 0x01, start_message},
    };
    for (const auto& run_case : cases) {
        machine = TestMachine();
        run_state_reset(state);
        state.surface = screen_of(SDL_GetVideoSurface());
        state.fast_mode = run_case.fast_mode;
        state.trace_mode = run_case.trace_mode;
        state.quit.set(1);
        machine.image()[priv::display_update] = 0x5A;
        set_vector(reset_vector, 0x8ABC);

        EXPECT_EQ(run(), run_case.message + "0 Instrucion were executed\nfps: 0\n");
        EXPECT_EQ(machine.image()[priv::display_update], run_case.display_update);
        EXPECT_EQ(state.registers.pc, 0x8ABCu);  // from the vector, no instruction run
        EXPECT_EQ(state.cycle_count, 0u);
        EXPECT_EQ(state.line_cycles, 136u);  // no PPU step either
        EXPECT_EQ(state.scanline, 0u);
        EXPECT_EQ(state.debugger.step_count, 0u);
    }
}

// An opcode the CPU refuses ends the run, but its pass completes: interrupt entry and the DMA
// step still happen; the debugger console is not called.
TEST_F(EmulationThread, AbortingPassCompletesWithoutTheConsole) {
    for (std::uint32_t trace : {0u, 1u}) {
        machine = TestMachine();
        run_state_reset(state);
        state.surface = screen_of(SDL_GetVideoSurface());
        state.trace_mode = trace;
        std::uint8_t* image = machine.image();
        set_vector(reset_vector, 0x8123);
        set_vector(nmi_vector, 0x9000);
        image[0x8123] = 0x02;
        state.registers.sp = 0xFD;
        state.nmi_request = 1;  // pending from before: entered after the aborting instruction
        image[priv::dma_active] = 1;
        image[priv::dma_page] = 0x03;
        image[priv::dma_index] = 0x10;
        image[0x0310] = 0x77;

        EXPECT_EQ(run(), std::string(trace ? start_message : "") +
                             "This OPCODE (0x2) is not implemented yet or is invalid.\n"
                             "PC was pointing: 0x8123\n\n"
                             "                     ***EXECUTION ABORTED***\n\n"
                             "1 Instrucion were executed\nfps: 0\n");
        EXPECT_EQ(state.quit.get(), 1u);
        EXPECT_EQ(state.registers.pc, 0x9000u);
        EXPECT_EQ(state.registers.sp, 0xFAu);
        EXPECT_EQ(image[0x01FD], 0x81);
        EXPECT_EQ(image[0x01FC], 0x23);
        EXPECT_EQ(image[priv::sprite_memory + 0x10], 0x77);
        EXPECT_EQ(image[priv::dma_index], 0x11);
        EXPECT_EQ(image[priv::dma_active], 1);
        // The console would have counted its call down.
        EXPECT_EQ(state.debugger.step_count, 0u);
        EXPECT_EQ(state.debugger.mode, 0u);
        // The one PPU step before the instruction drew line 0.
        EXPECT_EQ(state.scanline, 1u);
        EXPECT_EQ(state.line_cycles, 4u);
        EXPECT_EQ(state.cycle_count, 4u);
    }
}

}  // namespace
