#include "core/machine.h"

#include <gtest/gtest.h>

#include "core/expected_image.h"

namespace {

TEST(MachineImage, ClearLeavesOnlyTheSpritesBehindTheBackground) {
    std::vector<std::uint8_t> image(image_size, 0xEE);
    machine_image_clear(image.data());
    EXPECT_EQ(image_differences(image.data(), cleared_image()), "");
    EXPECT_EQ(image[0x0902], 0x20);
    EXPECT_EQ(image[0x09FE], 0x20);
    EXPECT_EQ(image[0x0900], 0x00);
    EXPECT_EQ(image[0x09FF], 0x00);
}

TEST(RunState, ResetRestoresEveryInitialValue) {
    RunState state;
    state.evaluation_mode = 1;
    state.trace_mode = 1;
    state.fast_mode = 1;
    state.quit.set(1);
    state.reset_request.set(1);
    state.nmi_request = 1;
    state.interrupt_cause = 2;
    state.registers = CpuRegisters{1, 2, 3, 4, 5, 0x1234};
    state.opcode = 0xEA;
    state.cycle_count = 99;
    state.line_cycles = 4;
    state.scanline = 241;
    state.frame_count = 7;
    state.frame_skip = 16;
    state.mirroring = 1;
    state.mapper = 33;
    state.surface = reinterpret_cast<Screen*>(&state);
    state.debugger = DebuggerState{1, 5, 0x8000};

    run_state_reset(state);

    EXPECT_EQ(state.evaluation_mode, 0);
    EXPECT_EQ(state.trace_mode, 0u);
    EXPECT_EQ(state.fast_mode, 0);
    EXPECT_EQ(state.quit.get(), 0u);
    EXPECT_EQ(state.reset_request.get(), 0u);
    EXPECT_EQ(state.nmi_request, 0u);
    EXPECT_EQ(state.interrupt_cause, 0u);
    EXPECT_EQ(state.registers.a | state.registers.x | state.registers.y | state.registers.sp | state.registers.p, 0);
    EXPECT_EQ(state.registers.pc, 0u);
    EXPECT_EQ(state.opcode, 0);
    EXPECT_EQ(state.cycle_count, 0u);
    EXPECT_EQ(state.line_cycles, 136u);
    EXPECT_EQ(state.scanline, 0u);
    EXPECT_EQ(state.frame_count, 0u);
    EXPECT_EQ(state.frame_skip, 0u);
    EXPECT_EQ(state.mirroring, 0u);
    EXPECT_EQ(state.mapper, 0u);
    EXPECT_EQ(state.surface, nullptr);
    EXPECT_EQ(state.debugger.mode, 0u);
    EXPECT_EQ(state.debugger.step_count, 0u);
    EXPECT_EQ(state.debugger.breakpoint, 0xFFFFu);
}

TEST(Flags, GetReadsOneBitOrTheWholeByteAboveSeven) {
    EXPECT_EQ(flag_get(0, 0x01), 1);
    EXPECT_EQ(flag_get(7, 0x80), 1);
    EXPECT_EQ(flag_get(6, 0xBF), 0);
    EXPECT_EQ(flag_get(8, 0xA5), 0xA5);
    EXPECT_EQ(flag_get(200, 0x3C), 0x3C);
}

TEST(Flags, SetTakesTheLowestBitAndIgnoresBitsAboveSeven) {
    std::uint8_t byte = 0x00;
    flag_set(7, 1, byte);
    EXPECT_EQ(byte, 0x80);
    flag_set(0, 3, byte);  // only bit 0 of the value counts
    EXPECT_EQ(byte, 0x81);
    flag_set(7, 2, byte);
    EXPECT_EQ(byte, 0x01);
    flag_set(8, 1, byte);
    flag_set(31, 1, byte);
    EXPECT_EQ(byte, 0x01);
}

}  // namespace
