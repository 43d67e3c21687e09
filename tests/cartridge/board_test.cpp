#include "cartridge/board.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kb = 1024;

// A cartridge as the header reader would describe it; CHR of 0 KB means 8 KB of CHR RAM.
CartridgeInfo cart(BoardKind board, std::uint32_t prg_kb, std::uint32_t chr_kb, Wiring wiring = Wiring::vertical,
                   std::uint32_t ram_kb = 8, bool conflicts = false) {
    CartridgeInfo c{};
    c.board = board;
    c.prg_bytes = prg_kb * kb;
    c.chr_rom_bytes = chr_kb * kb;
    c.chr_ram_bytes = chr_kb ? 0 : 8 * kb;
    c.prg_ram_bytes = ram_kb * kb;
    c.wiring = wiring;
    c.bus_conflicts = conflicts;
    return c;
}

struct Rig {
    BoardState board{};
    std::vector<std::uint8_t> prg;
    std::uint32_t cycle = 1000;
    explicit Rig(const CartridgeInfo& c) : prg(c.prg_bytes, 0xFF) { board_power(board, c); }
    BoardWriteAnswer write(std::uint16_t address, std::uint8_t value) {
        cycle += 3;  // never on consecutive cycles unless a test says so
        return board_write(board, prg.data(), cycle, address, value);
    }
    // MMC1: a register's five bits, low first.
    void serial(std::uint16_t address, std::uint8_t value) {
        for (int i = 0; i < 5; ++i) write(address, static_cast<std::uint8_t>(value >> i & 1));
    }
};

struct Write {
    std::uint16_t address;
    std::uint8_t value;
};

// ---- Banks through every register and mode ------------------------------------------------------
TEST(BoardTest, BanksFollowTheRegisters) {
    using B = BoardKind;
    struct Case {
        const char* name;
        CartridgeInfo cartridge;
        std::vector<Write> writes;  // MMC1: each a whole register, written serially
        std::array<std::uint32_t, 4> prg_kb;
        std::array<std::uint32_t, 8> chr_kb;
        std::array<std::uint8_t, 4> nametables;
    };
    const CartridgeInfo mmc1 = cart(B::mmc1, 256, 128, Wiring::vertical);
    const CartridgeInfo surom = cart(B::mmc1, 512, 0);
    const CartridgeInfo mmc3 = cart(B::mmc3, 512, 256, Wiring::vertical);
    const Case cases[] = {
        {"NROM 16 KB mirrored", cart(B::nrom, 16, 8), {}, {0, 8, 0, 8}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1}},
        {"NROM 32 KB four-screen", cart(B::nrom, 32, 0, Wiring::four_screen), {}, {0, 8, 16, 24}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3}},
        {"UxROM at power-on", cart(B::uxrom, 128, 0, Wiring::horizontal), {}, {0, 8, 112, 120}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 1, 1}},
        {"UxROM bank 3", cart(B::uxrom, 128, 0), {{0x8000, 3}}, {48, 56, 112, 120}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1}},
        {"UxROM bank 9 of 8 wraps", cart(B::uxrom, 128, 0), {{0xC123, 9}}, {16, 24, 112, 120}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1}},
        {"CNROM bank 2", cart(B::cnrom, 32, 32), {{0x8000, 2}}, {0, 8, 16, 24}, {16, 17, 18, 19, 20, 21, 22, 23}, {0, 1, 0, 1}},
        {"CNROM bank 5 of 4 wraps", cart(B::cnrom, 16, 32), {{0xFFFF, 5}}, {0, 8, 0, 8}, {8, 9, 10, 11, 12, 13, 14, 15}, {0, 1, 0, 1}},
        {"AxROM at power-on", cart(B::axrom, 256, 0), {}, {0, 8, 16, 24}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0}},
        {"AxROM bank 3, upper page", cart(B::axrom, 256, 0), {{0x8000, 0x13}}, {96, 104, 112, 120}, {0, 1, 2, 3, 4, 5, 6, 7}, {1, 1, 1, 1}},
        {"AxROM bank 7, bit 3 unused", cart(B::axrom, 256, 0), {{0x9000, 0x0F}}, {224, 232, 240, 248}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0}},
        {"MMC1 at power-on", mmc1, {}, {0, 8, 240, 248}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0}},
        {"MMC1 32 KB mode, vertical", mmc1, {{0x8000, 0x02}, {0xE000, 0x05}}, {64, 72, 80, 88}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1}},
        {"MMC1 first bank fixed, horizontal", mmc1, {{0x8000, 0x0B}, {0xE000, 0x05}}, {0, 8, 80, 88}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 1, 1}},
        {"MMC1 last bank fixed, upper page", mmc1, {{0x8000, 0x0D}, {0xE000, 0x05}}, {80, 88, 240, 248}, {0, 1, 2, 3, 4, 5, 6, 7}, {1, 1, 1, 1}},
        {"MMC1 4 KB CHR, bank 30 of 32", mmc1, {{0x8000, 0x10}, {0xA000, 3}, {0xC000, 0x1E}}, {0, 8, 16, 24}, {12, 13, 14, 15, 120, 121, 122, 123}, {0, 0, 0, 0}},
        {"MMC1 8 KB CHR ignores bit 0", mmc1, {{0x8000, 0x0C}, {0xA000, 3}, {0xC000, 9}}, {0, 8, 240, 248}, {8, 9, 10, 11, 12, 13, 14, 15}, {0, 0, 0, 0}},
        {"SUROM upper half", surom, {{0xA000, 0x10}}, {256, 264, 496, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0}},
        {"SUROM upper half, bank 3", surom, {{0xA000, 0x10}, {0xE000, 3}}, {304, 312, 496, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0}},
        {"SUROM 32 KB mode", surom, {{0x8000, 0}, {0xA000, 0x10}, {0xE000, 3}}, {288, 296, 304, 312}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0}},
        {"SUROM lower half, first fixed", surom, {{0x8000, 0x08}, {0xE000, 0x0F}}, {0, 8, 240, 248}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0}},
        {"MMC3 at power-on", mmc3, {}, {0, 8, 496, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1}},
        {"MMC3 R6, R7 (six bits)", mmc3, {{0x8000, 6}, {0x8001, 10}, {0x8000, 7}, {0x8001, 0x43}}, {80, 24, 496, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1}},
        {"MMC3 PRG swapped", mmc3, {{0x8000, 6}, {0x8001, 10}, {0x8000, 7}, {0x8001, 3}, {0x8000, 0x40}}, {496, 24, 80, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1}},
        {"MMC3 CHR banks",
         mmc3,
         {{0x8000, 0}, {0x8001, 0x21}, {0x8000, 1}, {0x8001, 0x40}, {0x8000, 2}, {0x8001, 0x80}, {0x8000, 3}, {0x8001, 0x81}, {0x8000, 4}, {0x8001, 0x82}, {0x8000, 5}, {0x8001, 0x83}},
         {0, 8, 496, 504},
         {32, 33, 64, 65, 128, 129, 130, 131},
         {0, 1, 0, 1}},
        {"MMC3 CHR inverted",
         mmc3,
         {{0x8000, 0}, {0x8001, 0x20}, {0x8000, 1}, {0x8001, 0x40}, {0x8000, 2}, {0x8001, 0x80}, {0x8000, 0x85}, {0x8001, 0x83}},
         {0, 8, 496, 504},
         {128, 5, 6, 131, 32, 33, 64, 65},
         {0, 1, 0, 1}},
        {"MMC3 1 KB bank wraps in 128 KB", cart(B::mmc3, 64, 128), {{0x8000, 2}, {0x8001, 0x85}}, {0, 8, 48, 56}, {0, 1, 2, 3, 5, 5, 6, 7}, {0, 1, 0, 1}},
        {"MMC3 horizontal", mmc3, {{0xA000, 1}}, {0, 8, 496, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 1, 1}},
        {"MMC3 horizontal header", cart(B::mmc3, 512, 256, Wiring::horizontal), {}, {0, 8, 496, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 1, 1}},
        {"MMC3 four-screen keeps its pages", cart(B::mmc3, 512, 256, Wiring::four_screen), {{0xA000, 1}}, {0, 8, 496, 504}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.cartridge);
        for (const Write& w : c.writes) {
            if (c.cartridge.board == B::mmc1)
                rig.serial(w.address, w.value);
            else
                EXPECT_EQ(rig.write(w.address, w.value).kind, BoardWrite::board_register);
        }
        for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.board.prg[i], c.prg_kb[i] * kb) << "PRG window " << i;
        for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.board.chr[i], c.chr_kb[i] * kb) << "CHR window " << i;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.board.nametable[i], c.nametables[i]) << "nametable " << i;
    }
}

// ---- MMC1's serial port ---------------------------------------------------------------------------
TEST(BoardTest, Mmc1SerialWrites) {
    struct Step {
        std::uint16_t address;
        std::uint8_t value;
        std::uint32_t cycle;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::uint8_t control, chr0, chr1, prg, count;
    };
    const Case cases[] = {
        {"five bits, low first, to the PRG register", {{0xE000, 1, 10}, {0xE000, 0, 20}, {0xE000, 1, 30}, {0xE000, 1, 40}, {0xF000, 0, 50}}, 0x0C, 0, 0, 0x0D, 0},
        {"the fifth write's address picks the register", {{0x8000, 1, 10}, {0x8000, 1, 20}, {0xE000, 1, 30}, {0xA000, 1, 40}, {0xDFFF, 1, 50}}, 0x0C, 0, 0x1F, 0, 0},
        {"four bits wait", {{0xA000, 1, 10}, {0xA000, 1, 20}, {0xA000, 1, 30}, {0xA000, 1, 40}}, 0x0C, 0, 0, 0, 4},
        {"bit 7 resets the count", {{0xA000, 1, 10}, {0xA000, 1, 20}, {0xA000, 1, 30}, {0x8000, 0x80, 40}, {0xA000, 1, 50}, {0xA000, 0, 60}}, 0x0C, 0, 0, 0, 2},
        {"reset sets PRG mode 3, keeps the rest",
         {{0x8000, 1, 10}, {0x8000, 1, 20}, {0x8000, 0, 30}, {0x8000, 0, 40}, {0x8000, 1, 50}, {0x8000, 0xFF, 60}},
         0x1F, 0, 0, 0, 0},
        {"a write on the next cycle is ignored (INC on 0xFF)",
         {{0xFFFF, 0xFF, 10}, {0xFFFF, 0x00, 11}, {0xE000, 1, 20}, {0xE000, 1, 30}, {0xE000, 0, 40}, {0xE000, 0, 50}, {0xE000, 0, 60}},
         0x0C, 0, 0, 0x03, 0},
        {"a bit on the next cycle is ignored", {{0xA000, 1, 10}, {0xA000, 1, 11}, {0xA000, 1, 13}}, 0x0C, 0, 0, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(cart(BoardKind::mmc1, 256, 128));
        for (const Step& s : c.steps) board_write(rig.board, rig.prg.data(), s.cycle, s.address, s.value);
        EXPECT_EQ(rig.board.mmc1_control, c.control);
        EXPECT_EQ(rig.board.mmc1_chr0, c.chr0);
        EXPECT_EQ(rig.board.mmc1_chr1, c.chr1);
        EXPECT_EQ(rig.board.mmc1_prg, c.prg);
        EXPECT_EQ(rig.board.mmc1_count, c.count);
    }
}

// ---- MMC3's scanline IRQ ----------------------------------------------------------------------------
// Steps: R reload (0xC001), E enable (0xE001), D disable and acknowledge (0xE000), L a line;
// the IRQ line after each step.
TEST(BoardTest, Mmc3IrqSequences) {
    struct Case {
        const char* name;
        std::uint8_t latch;
        const char* steps;
        const char* irq;
    };
    const Case cases[] = {
        {"latch 3 fires on the fourth line and stays", 3, "RELLLLL", "0000011"},
        {"acknowledged, it fires again a latch later", 2, "RELLLDELLL", "0000100001"},
        {"latch 0 fires on every line", 0, "RELLDEL", "0011001"},
        {"disabled, it counts without firing", 1, "RLLELL", "000001"},
        {"a reload mid-count starts again", 5, "RELLRLLLLLL", "00000000001"},
        {"disabling does not stop the count", 2, "RELDLELL", "00000011"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(cart(BoardKind::mmc3, 128, 128));
        rig.write(0xC000, c.latch);
        std::string irq;
        for (const char* s = c.steps; *s; ++s) {
            if (*s == 'R') rig.write(0xC001, 0x55);
            if (*s == 'E') rig.write(0xE001, 0x55);
            if (*s == 'D') rig.write(0xE000, 0x55);
            if (*s == 'L') board_line(rig.board);
            irq += board_irq(rig.board) ? '1' : '0';
        }
        EXPECT_EQ(irq, c.irq);
    }
    // Lines clock no other board.
    Rig uxrom(cart(BoardKind::uxrom, 128, 0));
    for (int i = 0; i < 300; ++i) board_line(uxrom.board);
    EXPECT_FALSE(board_irq(uxrom.board));
}

// ---- What a write reaches: PRG RAM, a register, nothing; bus conflicts --------------------------------------------------------------------
TEST(BoardTest, PrgRamAccess) {
    using B = BoardKind;
    struct Case {
        const char* name;
        CartridgeInfo cartridge;
        std::vector<Write> writes;  // MMC1: serial registers
        std::uint16_t address;
        std::uint32_t read;      // offset, or board_open_bus
        BoardWrite write;
    };
    const Case cases[] = {
        {"NROM without RAM", cart(B::nrom, 32, 8, Wiring::vertical, 0), {}, 0x6000, board_open_bus, BoardWrite::nothing},
        {"below 0x6000", cart(B::nrom, 32, 8), {}, 0x5FFF, board_open_bus, BoardWrite::nothing},
        {"NROM's ROM", cart(B::nrom, 32, 8), {}, 0x8000, board_open_bus, BoardWrite::nothing},
        {"UxROM's register", cart(B::uxrom, 128, 0, Wiring::vertical, 2), {}, 0xFFFF, board_open_bus, BoardWrite::board_register},
        {"UxROM with 2 KB mirrored", cart(B::uxrom, 128, 0, Wiring::vertical, 2), {}, 0x6801, 0x001, BoardWrite::prg_ram},
        {"MMC1 enabled at power-on", cart(B::mmc1, 128, 0), {}, 0x7123, 0x1123, BoardWrite::prg_ram},
        {"MMC1 disabled by PRG bit 4", cart(B::mmc1, 128, 0), {{0xE000, 0x10}}, 0x6000, board_open_bus, BoardWrite::nothing},
        {"MMC3 enabled at power-on", cart(B::mmc3, 128, 128), {}, 0x6ABC, 0x0ABC, BoardWrite::prg_ram},
        {"MMC3 chip disabled", cart(B::mmc3, 128, 128), {{0xA001, 0x00}}, 0x6000, board_open_bus, BoardWrite::nothing},
        {"MMC3 writes denied", cart(B::mmc3, 128, 128), {{0xA001, 0xC0}}, 0x7FFF, 0x1FFF, BoardWrite::nothing},
        {"MMC3 enabled again", cart(B::mmc3, 128, 128), {{0xA001, 0xC0}, {0xA001, 0x80}}, 0x7FFF, 0x1FFF, BoardWrite::prg_ram},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.cartridge);
        for (const Write& w : c.writes) c.cartridge.board == B::mmc1 ? rig.serial(w.address, w.value) : void(rig.write(w.address, w.value));
        EXPECT_EQ(board_ram_read(rig.board, c.address), c.read);
        const BoardWriteAnswer answer = rig.write(c.address, 0x42);
        EXPECT_EQ(answer.kind, c.write);
        if (answer.kind == BoardWrite::prg_ram) {
            EXPECT_EQ(answer.ram_offset, c.read);
        }
    }
}

TEST(BoardTest, BusConflictsAndTheRomByte) {
    using B = BoardKind;
    struct Case {
        const char* name;
        CartridgeInfo cartridge;
        std::uint8_t rom, value, latch;
    };
    const Case cases[] = {
        {"UxROM ANDs with the ROM", cart(B::uxrom, 128, 0, Wiring::vertical, 0, true), 0x05, 0x07, 0x05},
        {"UxROM without conflicts", cart(B::uxrom, 128, 0), 0x05, 0x07, 0x07},
        {"CNROM ANDs with the ROM", cart(B::cnrom, 32, 32, Wiring::vertical, 0, true), 0xFE, 0x03, 0x02},
        {"AxROM ANDs with the ROM", cart(B::axrom, 256, 0, Wiring::vertical, 0, true), 0x12, 0x17, 0x12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.cartridge);
        // The byte at 0xC010: UxROM's fixed last bank; the others' bank 0.
        rig.prg[board_prg_offset(rig.board, 0xC010)] = c.rom;
        rig.write(0xC010, c.value);
        EXPECT_EQ(rig.board.latch, c.latch);
    }
}

// ---- States -------------------------------------------------------------------------------------------
std::vector<CartridgeInfo> every_board() {
    using B = BoardKind;
    return {cart(B::nrom, 32, 8), cart(B::mmc1, 512, 0), cart(B::uxrom, 256, 0, Wiring::horizontal, 0, true),
            cart(B::cnrom, 32, 32), cart(B::mmc3, 512, 256, Wiring::four_screen), cart(B::axrom, 256, 0)};
}

// The board after writes of every kind, at an uneven point (MMC1 mid-register, MMC3 mid-count).
Rig worked(const CartridgeInfo& c, std::uint32_t seed) {
    Rig rig(c);
    for (int i = 0; i < 301; ++i) {
        seed = seed * 1664525u + 1013904223u;
        rig.write(static_cast<std::uint16_t>(0x8000 | (seed >> 8 & 0x7FFF)), static_cast<std::uint8_t>(seed >> 24 & 0x9F));
        if (i % 7 == 0) board_line(rig.board);
    }
    return rig;
}

std::vector<std::uint8_t> saved(const BoardState& b) {
    std::vector<std::uint8_t> bytes(board_state_bytes);
    board_save(b, bytes.data());
    return bytes;
}

void expect_same_view(const BoardState& a, const BoardState& b) {
    EXPECT_EQ(0, std::memcmp(a.prg, b.prg, sizeof a.prg));
    EXPECT_EQ(0, std::memcmp(a.chr, b.chr, sizeof a.chr));
    EXPECT_EQ(0, std::memcmp(a.nametable, b.nametable, sizeof a.nametable));
    EXPECT_EQ(a.ram_readable, b.ram_readable);
    EXPECT_EQ(a.ram_writable, b.ram_writable);
}

TEST(BoardTest, StatesRoundTrip) {
    for (const CartridgeInfo& c : every_board()) {
        SCOPED_TRACE(board_reach[static_cast<int>(c.board)].name);
        const Rig rig = worked(c, 7 + static_cast<std::uint32_t>(c.board));
        const std::vector<std::uint8_t> bytes = saved(rig.board);
        Rig fresh(c);
        ASSERT_TRUE(board_load(fresh.board, bytes.data()));
        EXPECT_EQ(saved(fresh.board), bytes);
        expect_same_view(fresh.board, rig.board);
    }
}

// Byte offsets of the saved fields, for the hostile states.
enum Offset : std::uint32_t {
    at_board = 0, at_prg_bytes = 4, at_latch = 16, at_shift = 17, at_count = 18, at_control = 19, at_mmc1_prg = 22,
    at_select = 28, at_mirroring = 37, at_irq_counter = 40, at_irq_reload = 41, at_irq_enabled = 42, at_irq_pending = 43,
};

TEST(BoardTest, HostileStatesAreRefusedWholly) {
    using B = BoardKind;
    struct Case {
        const char* name;
        BoardKind board;
        std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
        bool taken;
    };
    const Case cases[] = {
        {"another board", B::mmc1, {{at_board, 4}}, false},
        {"another PRG size", B::mmc1, {{at_prg_bytes + 2, 0x04}}, false},
        {"UxROM latch of any value", B::uxrom, {{at_latch, 0xFF}}, true},
        {"a latch on MMC1", B::mmc1, {{at_latch, 1}}, false},
        {"MMC1 fields on UxROM", B::uxrom, {{at_control, 0x0C}}, false},
        {"MMC1 five bits counted", B::mmc1, {{at_count, 5}}, false},
        {"MMC1 four bits shifted in", B::mmc1, {{at_count, 4}, {at_shift, 0x1E}}, true},
        {"MMC1 a bit below those shifted in", B::mmc1, {{at_count, 4}, {at_shift, 0x01}}, false},
        {"MMC1 one bit at bit 4", B::mmc1, {{at_count, 1}, {at_shift, 0x10}}, true},
        {"MMC1 one bit at bit 3", B::mmc1, {{at_count, 1}, {at_shift, 0x08}}, false},
        {"MMC1 a sixth control bit", B::mmc1, {{at_control, 0x20}}, false},
        {"MMC1 PRG RAM off", B::mmc1, {{at_mmc1_prg, 0x1F}}, true},
        {"MMC3 select of any value", B::mmc3, {{at_select, 0xC7}}, true},
        {"MMC3 mirroring 2", B::mmc3, {{at_mirroring, 2}}, false},
        {"MMC3 reload with the counter at 5", B::mmc3, {{at_irq_reload, 1}, {at_irq_counter, 5}}, false},
        {"MMC3 reload with the counter at 0", B::mmc3, {{at_irq_reload, 1}, {at_irq_counter, 0}}, true},
        {"MMC3 pending while disabled", B::mmc3, {{at_irq_pending, 1}, {at_irq_enabled, 0}}, false},
        {"MMC3 pending while enabled", B::mmc3, {{at_irq_pending, 1}, {at_irq_enabled, 1}}, true},
        {"MMC3 fields on CNROM", B::cnrom, {{at_irq_enabled, 1}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CartridgeInfo cartridge = every_board()[static_cast<int>(c.board)];
        Rig rig(cartridge);
        std::vector<std::uint8_t> bytes = saved(rig.board);
        bytes[at_irq_reload] = 0;  // a state at rest: no reload waiting
        if (c.board == B::mmc3) bytes[at_irq_counter] = 3;
        for (const auto& [offset, value] : c.bytes) bytes[offset] = value;
        rig = worked(cartridge, 99);
        const std::vector<std::uint8_t> before = saved(rig.board);
        EXPECT_EQ(board_load(rig.board, bytes.data()), c.taken);
        EXPECT_EQ(saved(rig.board), c.taken ? bytes : before);
    }
}

// Every single-byte corruption of every board's state: refused with nothing changed, or taken
// with every window inside the cartridge.
TEST(BoardTest, CorruptStatesLeaveWindowsInside) {
    for (const CartridgeInfo& c : every_board()) {
        SCOPED_TRACE(board_reach[static_cast<int>(c.board)].name);
        const std::vector<std::uint8_t> good = saved(worked(c, 3).board);
        for (std::uint32_t i = 0; i < board_state_bytes; ++i) {
            for (std::uint8_t value : {0x00, 0x01, 0x10, 0x1F, 0x20, 0x80, 0xFF}) {
                std::vector<std::uint8_t> bytes = good;
                bytes[i] = value;
                Rig rig = worked(c, 5);
                const std::vector<std::uint8_t> before = saved(rig.board);
                if (!board_load(rig.board, bytes.data())) {
                    ASSERT_EQ(saved(rig.board), before) << i;
                    continue;
                }
                ASSERT_EQ(saved(rig.board), bytes);
                const BoardState& b = rig.board;
                for (std::uint32_t w : b.prg) ASSERT_LE(w + 8 * kb, b.prg_bytes);
                for (std::uint32_t w : b.chr) ASSERT_LE(w + kb, b.chr_bytes);
                for (std::uint8_t page : b.nametable) ASSERT_LE(page, c.wiring == Wiring::four_screen ? 3 : 1);
            }
        }
    }
}

}  // namespace
