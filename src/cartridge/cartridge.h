// A cartridge file's header (iNES and NES 2.0), read for the core and the page: where PRG and
// CHR lie in the file, their sizes, the board, its wiring and RAM; or, for a file that cannot
// play, why not in words fit for a log line and the page. The program keeps its own loader.
#pragma once

#include <cstdint>

// The boards that play, in the order of the boards' table.
enum class BoardKind : std::uint8_t { nrom, mmc1, uxrom, cnrom, mmc3, axrom };
constexpr std::uint32_t board_kinds = 6;

// Nametable wiring as the header gives it; boards with mirroring control start from it.
enum class Wiring : std::uint8_t { horizontal, vertical, four_screen };

struct CartridgeInfo {
    std::uint32_t prg_offset, prg_bytes;      // PRG ROM in the file (past header and trainer)
    std::uint32_t chr_offset, chr_rom_bytes;  // CHR ROM in the file, 0 bytes for CHR RAM
    std::uint32_t chr_ram_bytes;              // 8 KB when there is no CHR ROM, else 0
    std::uint32_t prg_ram_bytes;              // at 0x6000, lost at power-off
    std::uint32_t prg_nvram_bytes;            // at 0x6000, kept by the battery
    std::uint16_t mapper;
    std::uint8_t submapper;  // NES 2.0 only, else 0
    BoardKind board;
    Wiring wiring;
    bool battery, trainer, nes2;
    bool bus_conflicts;  // a register write is ANDed with the ROM byte the CPU drives
};

constexpr std::uint32_t cartridge_header_bytes = 16, cartridge_trainer_bytes = 512;
constexpr std::uint32_t cartridge_reason_size = 96;

struct CartridgeAnswer {
    bool taken;
    CartridgeInfo info;                   // valid when taken
    char reason[cartridge_reason_size];   // when refused: one line, no full stop ("mapper 5 is not supported")
};

// Describes the cartridge in the `size` bytes of `file`, or refuses it: a missing mark, a file
// shorter than its header says, sizes the board cannot address, a board quenrik does not have.
CartridgeAnswer cartridge_describe(const std::uint8_t* file, std::uint64_t size);

// What each board can address: power-of-two sizes from the least to the most, in bytes.
struct BoardReach {
    const char* name;
    std::uint16_t mapper;
    std::uint32_t prg_min, prg_max;
    std::uint32_t chr_rom_max;  // CHR ROM starts at 8 KB on every board
};
extern const BoardReach board_reach[board_kinds];
