// The cartridge boards: NROM, MMC1 (with SUROM's 512 KB), UxROM, CNROM, MMC3 and AxROM, as one
// model driven by a table of boards.
//
// The caller keeps PRG ROM, CHR (ROM or RAM) and PRG RAM; the board keeps its registers and,
// after every write, what they select: the offset into PRG ROM of each 8 KB CPU window at
// 0x8000-0xFFFF, the offset into CHR of each 1 KB PPU window at 0x0000-0x1FFF, and the 1 KB
// nametable page behind each of PPU 0x2000, 0x2400, 0x2800 and 0x2C00 (pages 0 and 1 are the
// console's 2 KB, 2 and 3 the cartridge's extra 2 KB of four-screen boards).
//
// Everything is plain fixed-width data with no pointers, so that a state is the same bytes on
// every host.
#pragma once

#include <cstdint>

#include "cartridge/cartridge.h"

struct BoardState {
    // The cartridge, from power-on: BoardKind, Wiring, sizes in bytes (powers of two).
    std::uint8_t board, wiring, bus_conflicts, chr_writable;
    std::uint32_t prg_bytes, chr_bytes, prg_ram_bytes;

    // What the registers select (read these; they follow every write).
    std::uint32_t prg[4];        // 0x8000, 0xA000, 0xC000, 0xE000
    std::uint32_t chr[8];        // 0x0000, 0x0400, ... 0x1C00
    std::uint8_t nametable[4];   // 0x2000, 0x2400, 0x2800, 0x2C00
    std::uint8_t ram_readable, ram_writable;  // PRG RAM at 0x6000-0x7FFF

    // UxROM, CNROM, AxROM: the latch, as written after any bus conflict.
    std::uint8_t latch;
    // MMC1: the serial shift register (bits come in at bit 4) and its count of bits, control,
    // CHR banks 0 and 1, the PRG bank; the cycle of the last write to 0x8000-0xFFFF.
    std::uint8_t mmc1_shift, mmc1_count, mmc1_control, mmc1_chr0, mmc1_chr1, mmc1_prg, mmc1_wrote;
    std::uint32_t mmc1_cycle;
    // MMC3: bank select, R0-R7, mirroring, PRG RAM protect, and the scanline IRQ.
    std::uint8_t mmc3_select, mmc3_bank[8], mmc3_mirroring, mmc3_ram;
    std::uint8_t irq_latch, irq_counter, irq_reload, irq_enabled, irq_pending;
};

// Power-on for a described cartridge.
void board_power(BoardState& board, const CartridgeInfo& cartridge);

// A CPU write at 0x6000-0xFFFF. `prg` is the PRG ROM, read for bus conflicts (the value is
// ANDed with the byte the ROM drives at that address); `cycle` is any running count of CPU
// cycles, for MMC1, which ignores a write on the cycle after another (the read-modify-write
// instructions' second write).
enum class BoardWrite : std::uint8_t { nothing, prg_ram, board_register };
struct BoardWriteAnswer {
    BoardWrite kind;
    std::uint32_t ram_offset;  // into PRG RAM, when kind is prg_ram
};
BoardWriteAnswer board_write(BoardState& board, const std::uint8_t* prg, std::uint32_t cycle, std::uint16_t address,
                             std::uint8_t value);

// A CPU read at 0x6000-0x7FFF: the offset into PRG RAM, or board_open_bus when nothing answers.
constexpr std::uint32_t board_open_bus = 0xFFFFFFFF;
std::uint32_t board_ram_read(const BoardState& board, std::uint16_t address);

// One rendered line while rendering is on: clocks MMC3's scanline counter.
void board_line(BoardState& board);

// True while the board asks for an interrupt.
inline bool board_irq(const BoardState& board) { return board.irq_pending != 0; }

// Reads through the windows: a CPU address at 0x8000-0xFFFF into PRG ROM, a PPU address at
// 0x0000-0x1FFF into CHR, a PPU address at 0x2000-0x3EFF into the 4 KB of nametable pages.
inline std::uint32_t board_prg_offset(const BoardState& board, std::uint16_t address) {
    return board.prg[(address >> 13) & 3] + (address & 0x1FFFu);
}
inline std::uint32_t board_chr_offset(const BoardState& board, std::uint16_t address) {
    return board.chr[(address >> 10) & 7] + (address & 0x3FFu);
}
inline std::uint32_t board_nametable_offset(const BoardState& board, std::uint16_t address) {
    return board.nametable[(address >> 10) & 3] * 0x400u + (address & 0x3FFu);
}

// The board between two frames as bytes that are the same on every host (board_state_bytes of
// them), and back. board_load takes them only for the cartridge `board` was powered on with and
// only when every register holds a value the board can reach; otherwise it answers false and
// leaves `board` as it was.
constexpr std::uint32_t board_state_bytes = 44;
void board_save(const BoardState& board, std::uint8_t* out);
bool board_load(BoardState& board, const std::uint8_t* in);
