// Joypad port at 0x4016/0x4017 with keys held in SDL's keyboard-state array.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <SDL.h>
#include <gtest/gtest.h>

#include "bus/bus.h"
#include "core/machine.h"
#include "support/test_support.h"

namespace {

// Keys in the pad's read order: A, B, Select, Start, Up, Down, Left, Right.
constexpr SDLKey pad_keys[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};

class Joypad : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // SDL clears its key array when the video subsystem starts, so start it before holding keys.
        if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        }
    }
    void TearDown() override { release_all(); }

    static void hold(SDLKey key) { SDL_GetKeyState(nullptr)[key] = 1; }
    static void release_all() {
        for (SDLKey key : pad_keys) SDL_GetKeyState(nullptr)[key] = 0;
    }
    std::uint8_t read(std::uint32_t address, std::uint8_t start = 0x00) {
        std::uint8_t value = start;
        bus_read(value, m.image(), address);
        return value;
    }
    std::vector<int> read_pad(int count) {
        std::vector<int> values;
        for (int i = 0; i < count; ++i) values.push_back(read(0x4016));
        return values;
    }
    void write(std::uint32_t address, std::uint8_t value) { bus_write(value, m.image(), address); }
    std::uint8_t& strobe() { return m.bytes[priv::joypad_strobe]; }
    std::uint8_t& index() { return m.bytes[priv::joypad_index]; }

    TestMachine m;
};

}  // namespace

TEST_F(Joypad, EachKeyReachesItsOwnSlot) {
    for (int slot = 0; slot < 8; ++slot) {
        release_all();
        hold(pad_keys[slot]);
        std::vector<int> expected(8, 0);
        expected[slot] = 1;
        EXPECT_EQ(read_pad(8), expected) << "slot " << slot;
        EXPECT_EQ(m.bytes[priv::button_states + slot], 1);
    }
    EXPECT_EQ(SDLK_LEFT, 276);  // Left is read before Right although SDL numbers it after
    EXPECT_EQ(SDLK_RIGHT, 275);
}

TEST_F(Joypad, ReadsFollowThePadOrderAndWrapAfterEight) {
    hold(SDLK_x);
    hold(SDLK_UP);
    EXPECT_EQ(read_pad(8), (std::vector<int>{1, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(index(), 0);
    EXPECT_EQ(read(0x4016), 1);  // the ninth read is A again
    EXPECT_EQ(index(), 1);
}

TEST_F(Joypad, KeysAreSampledAtEveryReadOfEitherPort) {
    hold(SDLK_a);
    read(0x4017);
    EXPECT_EQ(m.bytes[priv::button_states + 2], 1);
    release_all();
    write(0x4016, 0x01);  // even a strobed read samples
    read(0x4016);
    EXPECT_EQ(m.bytes[priv::button_states + 2], 0);
}

TEST_F(Joypad, StrobeDoesNotRewindThePosition) {
    hold(SDLK_DOWN);
    read_pad(5);
    write(0x4016, 0x01);
    write(0x4016, 0x00);
    EXPECT_EQ(read(0x4016), 1);  // slot 5, Down
    EXPECT_EQ(index(), 6);
}

TEST_F(Joypad, StrobeTransitionsCompareTheWholeByte) {
    struct Row {
        std::uint8_t state, written, expected;
    };
    const Row table[] = {
        {0, 0x01, 1}, {0, 0x00, 0}, {0, 0x41, 0}, {0, 0x03, 0}, {1, 0x01, 1}, {1, 0x00, 0},
        {1, 0x03, 2}, {1, 0xFF, 2}, {2, 0x01, 1}, {2, 0x00, 2}, {2, 0x02, 2},
    };
    for (const auto& [state, written, expected] : table) {
        strobe() = state;
        write(0x4016, written);
        EXPECT_EQ(strobe(), expected) << "state " << +state << " write " << +written;
    }
    strobe() = 0;
    write(0x4016, 0x01);
    write(0x4016, 0x03);
    write(0x4016, 0x00);
    EXPECT_EQ(strobe(), 2);  // blocked: 0 alone does not release
    write(0x4016, 0x01);
    write(0x4016, 0x00);
    EXPECT_EQ(strobe(), 0);
}

TEST_F(Joypad, StrobedPortDeliversNothingAndKeepsItsPosition) {
    hold(SDLK_x);
    index() = 3;
    for (std::uint8_t state : {1, 2}) {
        strobe() = state;
        for (std::uint8_t start : {0x00, 0x5A}) {
            EXPECT_EQ(read(0x4016, start), start);
            EXPECT_EQ(read(0x4017, start), start);
        }
        EXPECT_EQ(index(), 3);
        EXPECT_EQ(m.bytes[priv::joypad_port2_reads], 0);
    }
}

TEST_F(Joypad, SecondPortReadsZeroAndCountsReads) {
    hold(SDLK_x);
    EXPECT_EQ(read(0x4017, 0x77), 0x00);
    EXPECT_EQ(m.bytes[priv::joypad_port2_reads], 1);
    EXPECT_EQ(index(), 0);
    m.bytes[priv::joypad_port2_reads] = 0xFF;
    read(0x4017);
    EXPECT_EQ(m.bytes[priv::joypad_port2_reads], 0x00);  // wraps at 256

    const auto before = m.bytes;
    for (std::uint8_t value : {0x00, 0x01, 0x03}) write(0x4017, value);
    EXPECT_EQ(m.bytes, before);
}

TEST_F(Joypad, PositionOutsideTheEightSlotsFoldsBack) {
    hold(SDLK_s);
    index() = 0x0B;
    EXPECT_EQ(read(0x4016), 1);  // slot 3, Start
    EXPECT_EQ(index(), 4);
    hold(SDLK_RIGHT);
    index() = 0xFF;
    EXPECT_EQ(read(0x4016), 1);  // slot 7, Right
    EXPECT_EQ(index(), 0);
}
