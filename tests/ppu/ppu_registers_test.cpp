// PPU registers through the CPU bus, video memory folding and the register-bit accessors.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "bus/bus.h"
#include "core/machine.h"
#include "ppu/ppu_registers.h"
#include "support/test_support.h"

namespace {

class PpuRegisters : public testing::Test {
protected:
    std::uint8_t read(std::uint32_t address) {
        std::uint8_t value = 0;
        bus_read(value, m.image(), address);
        return value;
    }
    void write(std::uint32_t address, std::uint8_t value) { bus_write(value, m.image(), address); }
    void set_vram_address(std::uint8_t hi, std::uint8_t lo) {
        write(0x2006, hi);
        write(0x2006, lo);
    }
    std::uint32_t vram_address() { return m.bytes[priv::vram_addr_hi] * 256u + m.bytes[priv::vram_addr_lo]; }
    std::uint32_t sprite_address() { return m.bytes[priv::sprite_addr_hi] * 256u + m.bytes[priv::sprite_addr_lo]; }
    std::uint8_t* sprite_memory() { return m.image() + priv::sprite_memory; }

    TestMachine m;
};

}  // namespace

// ---- Video memory folding ----------------------------------------------------------------
TEST(VramFold, EachAddressLandsOnItsImageByteForBothMirrorings) {
    struct Row {
        std::uint16_t address;
        std::uint32_t horizontal, vertical;
    };
    const Row table[] = {
        {0x0000, 0x10000, 0x10000}, {0x1FFF, 0x11FFF, 0x11FFF}, {0x2005, 0x12005, 0x12005},
        {0x2405, 0x12005, 0x12405}, {0x2805, 0x12405, 0x12005}, {0x2C05, 0x12405, 0x12405},
        {0x2FFF, 0x127FF, 0x127FF}, {0x3123, 0x12123, 0x12123}, {0x3C05, 0x12405, 0x12405},
        {0x3EFF, 0x126FF, 0x126FF}, {0x6405, 0x12005, 0x12405}, {0x3F00, 0x13F00, 0x13F00},
        {0x3F04, 0x13F00, 0x13F00}, {0x3F10, 0x13F00, 0x13F00}, {0x3F1C, 0x13F00, 0x13F00},
        {0x3F11, 0x13F11, 0x13F11}, {0x3F1F, 0x13F1F, 0x13F1F}, {0x3F20, 0x13F20, 0x13F20},
        {0x3FFF, 0x13FFF, 0x13FFF}, {0x7F10, 0x13F00, 0x13F00}, {0xFFFF, 0x13FFF, 0x13FFF},
    };
    for (const auto& row : table) {
        for (std::uint32_t mirroring : {0u, 1u}) {
            TestMachine m;
            const std::uint32_t expected = mirroring == 1 ? row.vertical : row.horizontal;
            vram_write(0x6B, m.image(), row.address, mirroring);
            EXPECT_EQ(m.bytes[expected], 0x6B) << std::hex << row.address << " mirroring " << mirroring;
            EXPECT_EQ(std::count(m.bytes.begin() + ppu_space, m.bytes.end(), 0x6B), 1);
            std::uint8_t back = 0;
            vram_read(back, m.image(), row.address, mirroring);
            EXPECT_EQ(back, 0x6B);
        }
    }
}

TEST(VramFold, SecondLogicalTableKeepsItsOwnBytes) {
    TestMachine m;
    std::uint8_t value = 0;
    vram_write(0x11, m.image(), 0x2005, 0);
    vram_write(0x22, m.image(), 0x2C05, 0);
    vram_read(value, m.image(), 0x2805, 0);
    EXPECT_EQ(value, 0x22);
    vram_read(value, m.image(), 0x2405, 0);
    EXPECT_EQ(value, 0x11);
}

// ---- Data port 0x2007 --------------------------------------------------------------------
TEST_F(PpuRegisters, DataReadsAnswerOneReadLate) {
    m.bytes[0x12108] = 0x11;
    m.bytes[0x12109] = 0x22;
    m.bytes[priv::vram_read_buffer] = 0x99;
    set_vram_address(0x21, 0x08);
    EXPECT_EQ(read(0x2007), 0x99);
    EXPECT_EQ(read(0x2007), 0x11);
    EXPECT_EQ(read(0x2007), 0x22);
    EXPECT_EQ(vram_address(), 0x210Bu);

    m.bytes[0x13F00] = 0x0F;  // the palette is delayed like the rest
    set_vram_address(0x3F, 0x00);
    EXPECT_EQ(read(0x2007), 0x00);  // the byte fetched from 0x210A
    EXPECT_EQ(m.bytes[priv::vram_read_buffer], 0x0F);
}

TEST_F(PpuRegisters, DataWritesAdvanceByOneOr32) {
    set_vram_address(0x20, 0x00);
    write(0x2007, 0xA1);
    write(0x2007, 0xA2);
    EXPECT_EQ(m.bytes[0x12000], 0xA1);
    EXPECT_EQ(m.bytes[0x12001], 0xA2);
    write(0x2000, 0x04);
    set_vram_address(0x20, 0x00);
    write(0x2007, 0xB1);
    write(0x2007, 0xB2);
    EXPECT_EQ(m.bytes[0x12000], 0xB1);
    EXPECT_EQ(m.bytes[0x12020], 0xB2);
}

TEST_F(PpuRegisters, DataPortFoldsWithTheCartridgeMirroring) {
    m.bytes[priv::mirroring] = 1;  // vertical: 0x2405 is the second table
    set_vram_address(0x24, 0x05);
    write(0x2007, 0x5E);
    EXPECT_EQ(m.bytes[0x12405], 0x5E);
    m.bytes[priv::mirroring] = 0;  // horizontal: so is 0x2805
    set_vram_address(0x28, 0x05);
    read(0x2007);
    EXPECT_EQ(read(0x2007), 0x5E);
}

TEST_F(PpuRegisters, DataAddressWrapsAtTheTop) {
    struct Row {
        std::uint8_t control, hi, lo;
        bool is_read;
        std::uint32_t after;
    };
    const Row table[] = {
        {0x00, 0x3F, 0xFF, false, 0x0000}, {0x04, 0x3F, 0xFF, false, 0x0000}, {0x00, 0x3F, 0xFF, true, 0x0000},
        {0x04, 0x3F, 0xFF, true, 0x0000},  {0x04, 0x3F, 0xF0, true, 0x0010},  {0x04, 0x3F, 0xF0, false, 0x4010},
        {0x04, 0xFF, 0xF0, false, 0x0010}, {0x00, 0x7F, 0xFF, true, 0x0000},  {0x00, 0x7F, 0xFF, false, 0x8000},
    };
    for (const auto& row : table) {
        m = TestMachine();
        write(0x2000, row.control);
        set_vram_address(row.hi, row.lo);
        if (row.is_read) read(0x2007); else write(0x2007, 0x01);
        EXPECT_EQ(vram_address(), row.after) << std::hex << +row.hi << +row.lo << (row.is_read ? " read" : " write");
    }
}

// ---- Address and scroll latches ----------------------------------------------------------
TEST_F(PpuRegisters, AddressWritesTakeEffectOnTheSecond) {
    write(0x2006, 0x23);
    EXPECT_EQ(vram_address(), 0x0000u);
    EXPECT_EQ(m.bytes[priv::vram_addr_pending], 0x23);
    write(0x2006, 0x45);
    EXPECT_EQ(vram_address(), 0x2345u);
    EXPECT_EQ(m.bytes[priv::ppu_write_toggle], 0);
}

TEST_F(PpuRegisters, ScrollAndAddressShareOneToggle) {
    write(0x2005, 0x12);  // first write: scroll_x
    write(0x2006, 0x34);  // second write: address low byte, high from the pending byte
    EXPECT_EQ(m.bytes[priv::scroll_x], 0x12);
    EXPECT_EQ(vram_address(), 0x0034u);
    write(0x2006, 0x3F);  // first
    write(0x2005, 0x20);  // second: scroll_y
    EXPECT_EQ(m.bytes[priv::scroll_y], 0x20);
    EXPECT_EQ(m.bytes[priv::ppu_write_toggle], 0);
}

TEST_F(PpuRegisters, ScrollYFrom240UpIsKeptOneHigher) {
    const std::pair<std::uint8_t, std::uint8_t> table[] = {{0x00, 0x00}, {0xEF, 0xEF}, {0xF0, 0xF1}, {0xFE, 0xFF}, {0xFF, 0x00}};
    for (auto [written, stored] : table) {
        write(0x2005, 0xFF);
        write(0x2005, written);
        EXPECT_EQ(m.bytes[priv::scroll_x], 0xFF);
        EXPECT_EQ(m.bytes[priv::scroll_y], stored) << +written;
    }
}

TEST_F(PpuRegisters, StatusReadClearsFlagsAddressAndToggle) {
    m.bytes[ppu_status] = 0xE5;
    set_vram_address(0x21, 0x08);
    write(0x2006, 0x27);  // toggle is 1
    write(0x2003, 0x00);  // sprite toggle is 1
    EXPECT_EQ(read(0x2002), 0xE5);
    EXPECT_EQ(m.bytes[ppu_status], 0x25);
    EXPECT_EQ(read(0x2002), 0x25);
    EXPECT_EQ(vram_address(), 0x0000u);
    EXPECT_EQ(m.bytes[priv::sprite_addr_toggle], 1);  // 0x2003's toggle is its own
    write(0x2006, 0x05);  // a first write again
    EXPECT_EQ(m.bytes[priv::vram_addr_pending], 0x05);
    EXPECT_EQ(vram_address(), 0x0000u);
}

// ---- Sprite memory through 0x2003/0x2004 -------------------------------------------------
TEST_F(PpuRegisters, SpriteWritesFollowTheIncrement) {
    write(0x2003, 0x00);
    write(0x2003, 0x00);
    for (std::uint8_t v : {0xA0, 0xA1, 0xA2, 0xA3}) write(0x2004, v);
    EXPECT_EQ(std::vector<std::uint8_t>(sprite_memory(), sprite_memory() + 4), (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 0xA3}));
    write(0x2000, 0x04);
    write(0x2003, 0x00);
    write(0x2003, 0x00);
    for (std::uint8_t v : {0xB0, 0xB1, 0xB2, 0xB3}) write(0x2004, v);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(sprite_memory()[32 * i], 0xB0 + i);
    EXPECT_EQ(sprite_address(), 128u);
}

TEST_F(PpuRegisters, SpriteReadsReturnAndAdvance) {
    sprite_memory()[0x10] = 0x31;
    sprite_memory()[0x11] = 0x32;
    write(0x2003, 0x00);
    write(0x2003, 0x10);
    EXPECT_EQ(read(0x2004), 0x31);
    EXPECT_EQ(read(0x2004), 0x32);
    EXPECT_EQ(sprite_address(), 0x12u);
}

TEST_F(PpuRegisters, SpriteIndexUsesOnlyItsLowByte) {
    const std::vector<std::uint8_t> beyond(m.bytes.begin() + 0x0A00, m.bytes.begin() + 0x1000);
    write(0x2003, 0x01);  // high byte
    write(0x2003, 0xFE);
    for (std::uint8_t v : {0xC0, 0xC1, 0xC2}) write(0x2004, v);
    EXPECT_EQ(sprite_memory()[0xFE], 0xC0);
    EXPECT_EQ(sprite_memory()[0xFF], 0xC1);
    EXPECT_EQ(sprite_memory()[0x00], 0xC2);
    EXPECT_EQ(sprite_address(), 0x0201u);  // the full 16-bit index advances
    EXPECT_EQ(read(0x2004), 0x00);         // index 0x0201 reads byte 0x01
    write(0x2000, 0x04);
    write(0x2003, 0xFF);
    write(0x2003, 0xE0);
    write(0x2004, 0xD0);
    EXPECT_EQ(sprite_memory()[0xE0], 0xD0);
    EXPECT_EQ(sprite_address(), 0x0000u);  // 0xFFE0 + 32 wraps in 16 bits
    EXPECT_EQ(std::vector<std::uint8_t>(m.bytes.begin() + 0x0A00, m.bytes.begin() + 0x1000), beyond);
}

// ---- Control, mask and status bits -------------------------------------------------------
TEST(PpuAccessors, ControlBits) {
    struct Row {
        std::uint8_t control;
        std::uint8_t nmi;
        std::uint32_t increment, nametable, sprites, background;
    };
    const Row table[] = {
        {0x00, 0, 1, 0x2000, 0x0000, 0x0000}, {0x01, 0, 1, 0x2400, 0x0000, 0x0000},
        {0x02, 0, 1, 0x2800, 0x0000, 0x0000}, {0x03, 0, 1, 0x2C00, 0x0000, 0x0000},
        {0x04, 0, 32, 0x2000, 0x0000, 0x0000}, {0x08, 0, 1, 0x2000, 0x1000, 0x0000},
        {0x10, 0, 1, 0x2000, 0x0000, 0x1000}, {0x80, 1, 1, 0x2000, 0x0000, 0x0000},
        {0x60, 0, 1, 0x2000, 0x0000, 0x0000}, {0xFF, 1, 32, 0x2C00, 0x1000, 0x1000},
    };
    for (const auto& row : table) {
        TestMachine m;
        m.bytes[ppu_control] = row.control;
        EXPECT_EQ(nmi_enabled(m.image()), row.nmi) << std::hex << +row.control;
        EXPECT_EQ(vram_increment(m.image()), row.increment) << std::hex << +row.control;
        EXPECT_EQ(nametable_base(m.image()), row.nametable) << std::hex << +row.control;
        EXPECT_EQ(sprite_pattern_base(m.image()), row.sprites) << std::hex << +row.control;
        EXPECT_EQ(background_pattern_base(m.image()), row.background) << std::hex << +row.control;
    }
}

TEST(PpuAccessors, MaskAndStatusBits) {
    TestMachine m;
    const std::uint8_t masks[][3] = {{0x00, 0, 0}, {0x08, 1, 0}, {0x10, 0, 1}, {0xE7, 0, 0}, {0xFF, 1, 1}};
    for (const auto& [mask, background, sprites] : masks) {
        m.bytes[ppu_mask] = mask;
        EXPECT_EQ(show_background(m.image()), background) << +mask;
        EXPECT_EQ(show_sprites(m.image()), sprites) << +mask;
    }
    m.bytes[ppu_status] = 0x3F;
    set_vblank(m.image(), 1);
    EXPECT_EQ(m.bytes[ppu_status], 0xBF);
    set_sprite0_hit(m.image(), 1);
    EXPECT_EQ(m.bytes[ppu_status], 0xFF);
    set_vblank(m.image(), 0);
    EXPECT_EQ(m.bytes[ppu_status], 0x7F);
    set_sprite0_hit(m.image(), 0);
    EXPECT_EQ(m.bytes[ppu_status], 0x3F);
}
