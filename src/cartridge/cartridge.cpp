#include "cartridge/cartridge.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

constexpr std::uint32_t kb = 1024;

// Each board's reach: its registers' widths times its bank sizes. UxROM and CNROM take the
// latch's eight bits; AxROM's three bits of 32 KB; MMC3's six PRG bits of 8 KB and eight CHR bits
// of 1 KB; MMC1 reaches 512 KB through SUROM's high line.
const BoardReach board_reach[board_kinds] = {
    {"NROM", 0, 8 * kb, 32 * kb, 8 * kb},
    {"MMC1", 1, 16 * kb, 512 * kb, 128 * kb},
    {"UxROM", 2, 16 * kb, 4096 * kb, 8 * kb},
    {"CNROM", 3, 8 * kb, 32 * kb, 2048 * kb},
    {"MMC3", 4, 16 * kb, 512 * kb, 256 * kb},
    {"AxROM", 7, 32 * kb, 256 * kb, 8 * kb},
};

namespace {

// ---- Refusals -------------------------------------------------------------------------------
__attribute__((format(printf, 1, 2))) CartridgeAnswer refuse(const char* format, ...) {
    CartridgeAnswer answer{};
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(answer.reason, sizeof answer.reason, format, args);
    va_end(args);
    return answer;
}

// A size in words: "48 KB", "3 bytes".
struct SizeWords {
    char text[32];
    explicit SizeWords(std::uint64_t bytes) {
        if (bytes >= std::uint64_t{1} << 40)
            std::snprintf(text, sizeof text, "over 1024 GB");
        else if (bytes == 1)
            std::snprintf(text, sizeof text, "1 byte");
        else if (bytes % kb == 0 && bytes != 0)
            std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(bytes / kb));
        else
            std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    }
};

// What a board takes: "8 KB", or "a power of two from 16 KB to 512 KB".
struct SpanWords {
    char text[96];
    SpanWords(std::uint32_t least, std::uint32_t most) {
        if (least == most)
            std::snprintf(text, sizeof text, "%s", SizeWords(least).text);
        else
            std::snprintf(text, sizeof text, "a power of two from %s to %s", SizeWords(least).text, SizeWords(most).text);
    }
};

bool power_of_two(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// ---- NES 2.0 sizes --------------------------------------------------------------------------
// A ROM size from its low byte and high nibble; a high nibble of 0xF makes the low byte an
// exponent (bits 2-7) and a multiplier (bits 0-1: 1, 3, 5, 7 times 2^exponent bytes).
std::uint64_t rom_size(std::uint8_t low, std::uint8_t high, std::uint32_t unit) {
    if (high != 0xF) return (std::uint64_t{high} << 8 | low) * unit;
    const std::uint32_t exponent = low >> 2, multiplier = (low & 3u) * 2 + 1;
    // No board reaches 2^41 bytes; stopping there keeps the product in range.
    return exponent > 40 ? std::uint64_t{1} << 41 : (std::uint64_t{1} << exponent) * multiplier;
}

// A RAM size from its shift count: none, or 64 bytes shifted left.
std::uint32_t ram_size(std::uint32_t shift) { return shift == 0 ? 0 : 64u << shift; }

}  // namespace

CartridgeAnswer cartridge_describe(const std::uint8_t* file, std::uint64_t size) {
    if (size < cartridge_header_bytes)
        return refuse("the file is %llu bytes, shorter than a cartridge header",
                      static_cast<unsigned long long>(size));
    if (std::memcmp(file, "NES\x1A", 4) != 0) return refuse("not a cartridge image: no NES mark at its start");

    // ---- The header's fields ----
    CartridgeInfo c{};
    const std::uint8_t f6 = file[6], f7 = file[7];
    c.nes2 = (f7 & 0x0C) == 0x08;
    c.battery = f6 & 0x02;
    c.trainer = f6 & 0x04;
    c.wiring = (f6 & 0x08) ? Wiring::four_screen : (f6 & 0x01) ? Wiring::vertical : Wiring::horizontal;
    std::uint64_t prg, chr;
    std::uint32_t chr_ram = 0;
    if (c.nes2) {
        c.mapper = static_cast<std::uint16_t>((file[8] & 0x0F) << 8 | (f7 & 0xF0) | f6 >> 4);
        c.submapper = file[8] >> 4;
        prg = rom_size(file[4], file[9] & 0x0F, 16 * kb);
        chr = rom_size(file[5], file[9] >> 4, 8 * kb);
        c.prg_ram_bytes = ram_size(file[10] & 0x0F);
        c.prg_nvram_bytes = ram_size(file[10] >> 4);
        chr_ram = ram_size(file[11] & 0x0F) + ram_size(file[11] >> 4);
    } else {
        // Old tools wrote text over bytes 7-15 ("DiskDude!"): byte 7's mapper nibble counts
        // only when its format bits and bytes 12-15 are clear.
        const bool clean = (f7 & 0x0C) == 0 && !file[12] && !file[13] && !file[14] && !file[15];
        c.mapper = static_cast<std::uint16_t>((clean ? f7 & 0xF0 : 0) | f6 >> 4);
        prg = std::uint64_t{file[4]} * 16 * kb;
        chr = std::uint64_t{file[5]} * 8 * kb;
    }

    // ---- The board ----
    std::uint32_t kind = 0;
    while (kind < board_kinds && board_reach[kind].mapper != c.mapper) ++kind;
    if (kind == board_kinds) return refuse("mapper %u is not supported", c.mapper);
    c.board = static_cast<BoardKind>(kind);
    const BoardReach& reach = board_reach[kind];
    // MMC6 shares mapper 4 but maps its RAM otherwise.
    if (c.board == BoardKind::mmc3 && c.submapper == 1) return refuse("mapper 4 submapper 1 (MMC6) is not supported");

    // ---- Sizes the board can address ----
    if (!power_of_two(prg) || prg < reach.prg_min || prg > reach.prg_max)
        return refuse("PRG ROM of %s: %s takes %s", SizeWords(prg).text, reach.name,
                      SpanWords(reach.prg_min, reach.prg_max).text);
    if (chr != 0) {
        if (!power_of_two(chr) || chr < 8 * kb || chr > reach.chr_rom_max)
            return refuse("CHR ROM of %s: %s takes %s", SizeWords(chr).text, reach.name,
                          SpanWords(8 * kb, reach.chr_rom_max).text);
        chr_ram = 0;
    } else {
        if (chr_ram == 0) chr_ram = 8 * kb;
        if (chr_ram != 8 * kb)
            return refuse("CHR RAM of %s: %s takes 8 KB", SizeWords(chr_ram).text, reach.name);
    }
    if (!c.nes2) {
        // iNES says nothing reliable of PRG RAM: 8 KB where the board has it (MMC1, MMC3, and
        // any board with the battery), kept when the battery is there.
        const bool has_ram = c.battery || c.board == BoardKind::mmc1 || c.board == BoardKind::mmc3;
        (c.battery ? c.prg_nvram_bytes : c.prg_ram_bytes) = has_ram ? 8 * kb : 0;
    }
    const std::uint32_t prg_ram = c.prg_ram_bytes + c.prg_nvram_bytes;
    if (prg_ram != 0 && (!power_of_two(prg_ram) || prg_ram > 8 * kb))
        return refuse("PRG RAM of %s: %s maps a power of two up to 8 KB", SizeWords(prg_ram).text, reach.name);

    // ---- Where they are in the file ----
    c.prg_offset = cartridge_header_bytes + (c.trainer ? cartridge_trainer_bytes : 0);
    c.prg_bytes = static_cast<std::uint32_t>(prg);
    c.chr_offset = c.prg_offset + c.prg_bytes;
    c.chr_rom_bytes = static_cast<std::uint32_t>(chr);
    c.chr_ram_bytes = chr_ram;
    const std::uint64_t needed = std::uint64_t{c.chr_offset} + c.chr_rom_bytes;
    if (size < needed)
        return refuse("the file is %llu bytes; its header says %llu", static_cast<unsigned long long>(size),
                      static_cast<unsigned long long>(needed));

    // UxROM and CNROM drive the data bus against the ROM unless submapper 1 says otherwise;
    // AxROM only where submapper 2 says it does.
    if (c.board == BoardKind::uxrom || c.board == BoardKind::cnrom) c.bus_conflicts = c.submapper != 1;
    if (c.board == BoardKind::axrom) c.bus_conflicts = c.submapper == 2;

    CartridgeAnswer answer{};
    answer.taken = true;
    answer.info = c;
    return answer;
}
