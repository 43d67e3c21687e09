// Scanline timing: line steps, the vertical-blank step, frame skip, fast mode, sprite-0 moment.
#include "ppu/picture_fixture.h"
#include "ppu/timing.h"

namespace {

class Timing : public PictureTest {
protected:
    std::uint32_t line_cycles = 136;
    std::uint32_t nmi_request = 0;
    std::uint32_t frame_count = 0;
    std::uint32_t frame_skip = 1;
    std::uint32_t scanline = 0;
    std::uint32_t passes = 0;

    void SetUp() override {
        PictureTest::SetUp();
        use_video_surface();
        image[priv::display_update] = 0xFF;
    }

    // One pass of the emulation loop: the timing step, then the instruction's 4 units.
    void pass() {
        ppu_tick(image, screen_of(surface), line_cycles, nmi_request, frame_count, frame_skip, scanline, mirroring);
        line_cycles += 4;
        ++passes;
    }
    // Passes up to and including the next one that makes a line step.
    void line_step() {
        while (line_cycles != 136) pass();
        pass();
    }
    void line_steps(std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) line_step();
    }
    bool vblank() const { return (image[ppu_status] & 0x80) != 0; }
    bool sprite0_hit() const { return (image[ppu_status] & 0x40) != 0; }
    void set_backdrop(std::uint8_t colour) { image[0x13F00] = colour; }
};

TEST_F(Timing, FirstCallHandlesLine0) {
    set_backdrop(0x16);
    ppu_tick(image, screen_of(surface), line_cycles, nmi_request, frame_count, frame_skip, scanline, mirroring);
    EXPECT_EQ(line_cycles, 0u);
    EXPECT_EQ(scanline, 1u);
    EXPECT_EQ(picture(0, 0), rgb565(0x16));
    EXPECT_EQ(picture(255, 0), rgb565(0x16));
    EXPECT_EQ(picture(0, 1), sentinel);

    // Nothing happens between line steps.
    line_cycles = 4;
    ppu_tick(image, screen_of(surface), line_cycles, nmi_request, frame_count, frame_skip, scanline, mirroring);
    EXPECT_EQ(line_cycles, 4u);
    EXPECT_EQ(scanline, 1u);
    EXPECT_EQ(picture(0, 1), sentinel);
}

TEST_F(Timing, FrameOf242StepsEndsInVerticalBlankAndNmi) {
    image[ppu_control] = 0x80;
    line_steps(241);
    EXPECT_EQ(passes, 1u + 240 * 34);
    EXPECT_EQ(scanline, 241u);
    EXPECT_EQ(frame_count, 0u);
    EXPECT_FALSE(vblank());
    EXPECT_EQ(nmi_request, 0u);

    line_step();
    EXPECT_EQ(passes, 1u + 241 * 34);
    EXPECT_EQ(scanline, 0u);
    EXPECT_EQ(frame_count, 1u);
    EXPECT_TRUE(vblank());
    EXPECT_EQ(nmi_request, 1u);

    // The flag stays until the CPU reads it; the NMI is decided at the step only.
    nmi_request = 0;
    image[ppu_control] = 0x00;
    line_steps(100);
    EXPECT_TRUE(vblank());
    image[ppu_control] = 0x80;  // enabled mid-frame: no NMI before the next step
    line_steps(141);
    EXPECT_EQ(nmi_request, 0u);
    EXPECT_EQ(frame_count, 1u);
    line_step();
    EXPECT_EQ(frame_count, 2u);
    EXPECT_EQ(nmi_request, 1u);

    // With the enable bit clear the step leaves no request behind.
    image[ppu_control] = 0x00;
    line_steps(242);
    EXPECT_EQ(frame_count, 3u);
    EXPECT_EQ(nmi_request, 0u);
}

TEST_F(Timing, FrameSkip2DrawsOnlyEvenFrames) {
    frame_skip = 2;
    image[ppu_control] = 0x80;
    const std::uint8_t colours[5] = {0x16, 0x2A, 0x12, 0x27, 0x02};
    for (std::uint32_t frame = 0; frame < 5; ++frame) {
        set_backdrop(colours[frame]);
        image[ppu_status] = 0;
        nmi_request = 0;
        line_steps(242);
        EXPECT_EQ(frame_count, frame + 1);
        EXPECT_TRUE(vblank()) << frame;
        EXPECT_EQ(nmi_request, 1u) << frame;
        const std::uint16_t shown = rgb565(colours[frame - frame % 2]);
        EXPECT_EQ(picture(0, 0), shown) << frame;
        EXPECT_EQ(picture(128, 120), shown) << frame;
        EXPECT_EQ(picture(255, 239), shown) << frame;
    }
}

TEST_F(Timing, FrameSkip2FlipsOnlyEvenFrames) {
    // In fast mode the update flag is lowered where the frame is shown: it tells which frames
    // reached the flip.
    frame_skip = 2;
    for (std::uint32_t frame = 0; frame < 4; ++frame) {
        image[priv::display_update] = 1;
        line_steps(242);
        EXPECT_EQ(image[priv::display_update], frame % 2 == 0 ? 0 : 1) << frame;
    }
}

TEST_F(Timing, FastModeSkipsFramesWithoutChanges) {
    image[priv::display_update] = 1;
    set_backdrop(0x16);
    line_steps(242);
    EXPECT_EQ(image[priv::display_update], 0);
    EXPECT_EQ(picture(0, 0), rgb565(0x16));

    // A frame with no PPU write draws nothing and is not shown; the count still advances.
    set_backdrop(0x2A);
    line_steps(242);
    EXPECT_EQ(frame_count, 2u);
    EXPECT_TRUE(vblank());
    EXPECT_EQ(picture(0, 0), rgb565(0x16));
    EXPECT_EQ(picture(0, 239), rgb565(0x16));

    // A write at line 100 (the bus raises the flag) draws from there on, then the frame is shown.
    line_steps(100);
    image[priv::display_update] = 1;
    line_steps(142);
    EXPECT_EQ(frame_count, 3u);
    EXPECT_EQ(picture(0, 99), rgb565(0x16));
    EXPECT_EQ(picture(0, 100), rgb565(0x2A));
    EXPECT_EQ(picture(0, 239), rgb565(0x2A));
    EXPECT_EQ(image[priv::display_update], 0);

    // Outside fast mode the flag is never lowered.
    image[priv::display_update] = 0xFF;
    line_steps(242 * 2);
    EXPECT_EQ(image[priv::display_update], 0xFF);
}

TEST_F(Timing, Sprite0FlagRisesAtTheComputedMoment) {
    show(false, true);
    set_sprite(0, 0, 0, 0x00, 0);   // lines 1-8, columns 0-7: moment (7 + 16) / 3 = 7
    line_step();                     // line 0
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 0);
    line_step();                     // line 1
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 7);
    EXPECT_EQ(line_cycles, 4u);
    EXPECT_FALSE(sprite0_hit());
    pass();                          // at 4
    EXPECT_FALSE(sprite0_hit());
    pass();                          // at 8: the second call after the step
    EXPECT_TRUE(sprite0_hit());

    // Sprite 0 at column 30: moment 17, reached at the fifth call (line_cycles 20).
    set_sprite(0, 0, 0, 0x00, 30);
    line_step();  // line 2; the passes before it raised the flag again with the old moment
    image[ppu_status] = 0;
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 17);
    for (int call = 1; call <= 4; ++call) {
        pass();
        EXPECT_FALSE(sprite0_hit()) << call;
    }
    pass();
    EXPECT_TRUE(sprite0_hit());

    // Moment 8 (last column 8) is reached exactly at line_cycles 8.
    set_sprite(0, 0, 0, 0x00, 1);
    line_step();  // line 3
    image[ppu_status] = 0;
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 8);
    pass();
    EXPECT_FALSE(sprite0_hit());
    pass();
    EXPECT_TRUE(sprite0_hit());
}

TEST_F(Timing, Sprite0FlagNeverRisesWithoutAMoment) {
    show(true, true);
    line_steps(242);
    EXPECT_FALSE(sprite0_hit());
    // Values up to 4 mean no hit.
    image[priv::sprite0_hit_cycle] = 4;
    for (int i = 0; i < 33; ++i) pass();
    EXPECT_FALSE(sprite0_hit());
}

TEST_F(Timing, Sprite0MomentOfTheLastDrawnLineHoldsThroughSkippedFrames) {
    frame_skip = 2;
    show(false, true);
    set_sprite(0, 235, 0, 0x00, 30);  // on line 240
    line_steps(242);                  // frame 0, drawn
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 17);
    // Frame 1 is not drawn: every line raises the flag again once line_cycles reaches 17.
    for (int line = 0; line < 3; ++line) {
        line_step();
        image[ppu_status] = 0;
        for (int call = 0; call < 4; ++call) pass();
        EXPECT_FALSE(sprite0_hit()) << line;
        pass();
        EXPECT_TRUE(sprite0_hit()) << line;
    }
}

}  // namespace
