#include "cartridge/cartridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Header = std::array<std::uint8_t, 16>;
constexpr std::uint32_t kb = 1024;

// A header of the given bytes 4 to 11 (12-15 clear unless told) and a file of `size` bytes.
Header header(std::uint8_t prg, std::uint8_t chr, std::uint8_t f6, std::uint8_t f7, std::uint8_t b8 = 0,
              std::uint8_t b9 = 0, std::uint8_t b10 = 0, std::uint8_t b11 = 0) {
    return {'N', 'E', 'S', 0x1A, prg, chr, f6, f7, b8, b9, b10, b11, 0, 0, 0, 0};
}

CartridgeAnswer describe(const Header& h, std::uint64_t size) {
    std::vector<std::uint8_t> file(size < 16 ? 16 : size, 0);
    std::memcpy(file.data(), h.data(), 16);
    return cartridge_describe(file.data(), size);
}

constexpr std::uint8_t nes2 = 0x08;

auto fields(const CartridgeInfo& c) {
    return std::tuple(c.prg_offset, c.prg_bytes, c.chr_offset, c.chr_rom_bytes, c.chr_ram_bytes, c.prg_ram_bytes,
                      c.prg_nvram_bytes, c.mapper, int{c.submapper}, static_cast<int>(c.board),
                      static_cast<int>(c.wiring), c.battery, c.trainer, c.nes2, c.bus_conflicts);
}

TEST(HeaderTest, DescribesWhatTheHeaderSays) {
    Header disk_dude = header(2, 1, 0x10, 'D');
    std::memcpy(disk_dude.data() + 8, "iskDude!", 8);
    struct Case {
        const char* name;
        Header h;
        std::uint32_t size;
        CartridgeInfo want;
    };
    using B = BoardKind;
    using W = Wiring;
    // prg_offset, prg, chr_offset, chr ROM, chr RAM, PRG RAM, PRG NVRAM, mapper, submapper, board,
    // wiring, battery, trainer, nes2, bus conflicts.
    const Case cases[] = {
        {"iNES NROM, vertical", header(1, 1, 0x01, 0), 16 + 24 * kb,
         {16, 16 * kb, 16 + 16 * kb, 8 * kb, 0, 0, 0, 0, 0, B::nrom, W::vertical, false, false, false, false}},
        {"iNES NROM, a longer file", header(2, 1, 0x00, 0), 16 + 40 * kb + 100,
         {16, 32 * kb, 16 + 32 * kb, 8 * kb, 0, 0, 0, 0, 0, B::nrom, W::horizontal, false, false, false, false}},
        {"iNES NROM with trainer", header(2, 1, 0x04, 0), 16 + 512 + 40 * kb,
         {528, 32 * kb, 528 + 32 * kb, 8 * kb, 0, 0, 0, 0, 0, B::nrom, W::horizontal, false, true, false, false}},
        {"iNES NROM with battery", header(1, 1, 0x02, 0), 16 + 24 * kb,
         {16, 16 * kb, 16 + 16 * kb, 8 * kb, 0, 0, 8 * kb, 0, 0, B::nrom, W::horizontal, true, false, false, false}},
        {"iNES MMC1, battery, CHR RAM", header(8, 0, 0x12, 0), 16 + 128 * kb,
         {16, 128 * kb, 16 + 128 * kb, 0, 8 * kb, 0, 8 * kb, 1, 0, B::mmc1, W::horizontal, true, false, false, false}},
        {"iNES UxROM, mapper in byte 6", header(8, 0, 0x21, 0), 16 + 128 * kb,
         {16, 128 * kb, 16 + 128 * kb, 0, 8 * kb, 0, 0, 2, 0, B::uxrom, W::vertical, false, false, false, true}},
        {"iNES CNROM", header(2, 4, 0x30, 0), 16 + 64 * kb,
         {16, 32 * kb, 16 + 32 * kb, 32 * kb, 0, 0, 0, 3, 0, B::cnrom, W::horizontal, false, false, false, true}},
        {"iNES MMC3, four-screen", header(4, 8, 0x48, 0), 16 + 128 * kb,
         {16, 64 * kb, 16 + 64 * kb, 64 * kb, 0, 8 * kb, 0, 4, 0, B::mmc3, W::four_screen, false, false, false, false}},
        {"iNES AxROM", header(8, 0, 0x70, 0), 16 + 128 * kb,
         {16, 128 * kb, 16 + 128 * kb, 0, 8 * kb, 0, 0, 7, 0, B::axrom, W::horizontal, false, false, false, false}},
        {"text over bytes 7-15: byte 6's nibble only", disk_dude, 16 + 40 * kb,
         {16, 32 * kb, 16 + 32 * kb, 8 * kb, 0, 8 * kb, 0, 1, 0, B::mmc1, W::horizontal, false, false, false, false}},
        {"NES 2.0 PRG in exponent form", header(15 << 2, 1, 0x00, nes2, 0, 0x0F), 16 + 40 * kb,
         {16, 32 * kb, 16 + 32 * kb, 8 * kb, 0, 0, 0, 0, 0, B::nrom, W::horizontal, false, false, true, false}},
        {"NES 2.0 CHR in exponent form", header(8, 17 << 2, 0x40, nes2, 0, 0xF0), 16 + 256 * kb,
         {16, 128 * kb, 16 + 128 * kb, 128 * kb, 0, 0, 0, 4, 0, B::mmc3, W::horizontal, false, false, true, false}},
        {"NES 2.0 SUROM, 512 KB, battery", header(32, 0, 0x12, nes2, 0, 0, 0x70, 0x07), 16 + 512 * kb,
         {16, 512 * kb, 16 + 512 * kb, 0, 8 * kb, 0, 8 * kb, 1, 0, B::mmc1, W::horizontal, true, false, true, false}},
        {"NES 2.0 UxROM, 4 MB, submapper 1, RAM", header(0, 0, 0x20, nes2, 0x10, 0x01, 0x05, 0x07), 16 + 4096 * kb,
         {16, 4096 * kb, 16 + 4096 * kb, 0, 8 * kb, 2 * kb, 0, 2, 1, B::uxrom, W::horizontal, false, false, true, false}},
        {"NES 2.0 AxROM submapper 2", header(2, 0, 0x70, nes2, 0x20), 16 + 32 * kb,
         {16, 32 * kb, 16 + 32 * kb, 0, 8 * kb, 0, 0, 7, 2, B::axrom, W::horizontal, false, false, true, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CartridgeAnswer a = describe(c.h, c.size);
        ASSERT_TRUE(a.taken) << a.reason;
        EXPECT_EQ(fields(a.info), fields(c.want));
    }
}

TEST(HeaderTest, RefusesWithItsReason) {
    struct Case {
        Header h;
        std::uint64_t size;
        const char* reason;
    };
    Header no_mark = header(1, 1, 0, 0);
    no_mark[3] = 0;
    const Case cases[] = {
        {header(1, 1, 0, 0), 10, "the file is 10 bytes, shorter than a cartridge header"},
        {no_mark, 16 + 24 * kb, "not a cartridge image: no NES mark at its start"},
        {header(1, 1, 0, 0), 16 + 16 * kb + 100, "the file is 16500 bytes; its header says 24592"},
        {header(1, 1, 0x04, 0), 16 + 24 * kb, "the file is 24592 bytes; its header says 25104"},
        {header(2, 1, 0x50, 0), 16 + 40 * kb, "mapper 5 is not supported"},
        {header(2, 1, 0x10, nes2, 0x01), 16 + 40 * kb, "mapper 257 is not supported"},
        {header(2, 1, 0x40, nes2, 0x10), 16 + 40 * kb, "mapper 4 submapper 1 (MMC6) is not supported"},
        {header(3, 1, 0, 0), 16 + 56 * kb, "PRG ROM of 48 KB: NROM takes a power of two from 8 KB to 32 KB"},
        {header(0, 1, 0, 0), 16 + 8 * kb, "PRG ROM of 0 bytes: NROM takes a power of two from 8 KB to 32 KB"},
        {header(1, 0, 0x70, 0), 16 + 16 * kb, "PRG ROM of 16 KB: AxROM takes a power of two from 32 KB to 256 KB"},
        {header(0, 1, 0x40, nes2, 0, 0x01), 16, "PRG ROM of 4096 KB: MMC3 takes a power of two from 16 KB to 512 KB"},
        {header(0xFF, 1, 0, nes2, 0, 0x0F), 16, "PRG ROM of over 1024 GB: NROM takes a power of two from 8 KB to 32 KB"},
        {header(14 << 2 | 1, 1, 0, nes2, 0, 0x0F), 16, "PRG ROM of 48 KB: NROM takes a power of two from 8 KB to 32 KB"},
        {header(0, 1, 0, nes2, 0, 0x0F), 16, "PRG ROM of 1 byte: NROM takes a power of two from 8 KB to 32 KB"},
        {header(2, 2, 0, 0), 16 + 48 * kb, "CHR ROM of 16 KB: NROM takes 8 KB"},
        {header(2, 32, 0x10, 0), 16 + 288 * kb, "CHR ROM of 256 KB: MMC1 takes a power of two from 8 KB to 128 KB"},
        {header(2, 10 << 2, 0x30, nes2, 0, 0xF0), 16, "CHR ROM of 1 KB: CNROM takes a power of two from 8 KB to 2048 KB"},
        {header(2, 0, 0x20, nes2, 0, 0, 0, 0x09), 16 + 32 * kb, "CHR RAM of 32 KB: UxROM takes 8 KB"},
        {header(2, 0, 0x10, nes2, 0, 0, 0x77), 16 + 32 * kb, "PRG RAM of 16 KB: MMC1 maps a power of two up to 8 KB"},
        {header(2, 0, 0x40, nes2, 0, 0, 0x56), 16 + 32 * kb, "PRG RAM of 6 KB: MMC3 maps a power of two up to 8 KB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const CartridgeAnswer a = describe(c.h, c.size);
        EXPECT_FALSE(a.taken);
        EXPECT_STREQ(a.reason, c.reason);
    }
}

// Every mapper number either plays on its board or is refused by number, in both formats (NES
// 2.0 reaching 4095).
TEST(HeaderTest, EveryMapperNumberTakenOrRefused) {
    const std::uint16_t supported[] = {0, 1, 2, 3, 4, 7};
    for (std::uint32_t mapper = 0; mapper < 4096; ++mapper) {
        for (bool two : {false, true}) {
            if (!two && mapper > 255) continue;
            const Header h = header(2, 1, static_cast<std::uint8_t>(mapper << 4), static_cast<std::uint8_t>((mapper & 0xF0) | (two ? nes2 : 0)),
                                    static_cast<std::uint8_t>(mapper >> 8));
            const CartridgeAnswer a = describe(h, 16 + 40 * kb);
            const bool known = std::find(std::begin(supported), std::end(supported), mapper) != std::end(supported);
            ASSERT_EQ(a.taken, known) << mapper << " " << a.reason;
            if (known)
                EXPECT_EQ(board_reach[static_cast<std::uint32_t>(a.info.board)].mapper, mapper);
            else
                EXPECT_EQ(std::string(a.reason), "mapper " + std::to_string(mapper) + " is not supported");
        }
    }
}

// Headers of any bytes over files of any length: refused with a reason, or described within
// the file and within the board's reach.
TEST(HeaderTest, HostileHeadersStayWithinTheFile) {
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
    const std::uint8_t boards[] = {0x00, 0x10, 0x20, 0x30, 0x40, 0x70};
    std::uint32_t taken = 0;
    for (int i = 0; i < 200000; ++i) {
        Header h{};
        for (std::uint8_t& byte : h) byte = static_cast<std::uint8_t>(next());
        std::memcpy(h.data(), "NES\x1A", 4);
        h[6] = static_cast<std::uint8_t>((h[6] & 0x0F) | boards[next() % 6]);  // mostly boards that play
        h[7] &= (next() & 1) ? 0x0C : 0x0F;
        h[4] &= 0x3F, h[5] &= 0x3F;
        if (next() & 1) h[8] &= 0xF0;
        if (next() & 1) h[9] = static_cast<std::uint8_t>(h[9] & 0xF0 ? 0xFF : 0);
        const std::uint64_t size = next() % (1100 * kb);
        // Only the header is read: the rest of the file need not be there.
        const CartridgeAnswer a = cartridge_describe(h.data(), size);
        if (!a.taken) {
            ASSERT_NE(a.reason[0], 0);
            continue;
        }
        ++taken;
        const CartridgeInfo& c = a.info;
        const BoardReach& reach = board_reach[static_cast<std::uint32_t>(c.board)];
        ASSERT_LE(std::uint64_t{c.chr_offset} + c.chr_rom_bytes, size);
        ASSERT_EQ(c.chr_offset, c.prg_offset + c.prg_bytes);
        ASSERT_TRUE(c.prg_bytes >= reach.prg_min && c.prg_bytes <= reach.prg_max);
        ASSERT_LE(c.chr_rom_bytes, reach.chr_rom_max);
        ASSERT_EQ(c.chr_rom_bytes ? 0u : 8 * kb, c.chr_ram_bytes);
        ASSERT_LE(c.prg_ram_bytes + c.prg_nvram_bytes, 8 * kb);
    }
    EXPECT_GT(taken, 400u);  // enough that the check saw boards taken
}

}  // namespace
