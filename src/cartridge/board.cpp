#include "cartridge/board.h"

#include <cstring>
#include <type_traits>

namespace {

constexpr std::uint32_t kb = 1024;

// ---- Shared wiring ----------------------------------------------------------------------------
void set_nametables(BoardState& b, std::uint8_t a, std::uint8_t c, std::uint8_t d, std::uint8_t e) {
    b.nametable[0] = a, b.nametable[1] = c, b.nametable[2] = d, b.nametable[3] = e;
}

void wired_nametables(BoardState& b) {
    switch (static_cast<Wiring>(b.wiring)) {
    case Wiring::horizontal: set_nametables(b, 0, 0, 1, 1); break;
    case Wiring::vertical: set_nametables(b, 0, 1, 0, 1); break;
    case Wiring::four_screen: set_nametables(b, 0, 1, 2, 3); break;
    }
}

// Banks of `size` bytes from `first` window on, numbered within the ROM (sizes are powers of
// two, so a bank number past the end wraps as the board's unused address lines do).
void map_prg(BoardState& b, std::uint32_t first, std::uint32_t count, std::uint32_t offset) {
    for (std::uint32_t i = 0; i < count; ++i) b.prg[first + i] = (offset + i * 8 * kb) & (b.prg_bytes - 1);
}
void map_chr(BoardState& b, std::uint32_t first, std::uint32_t count, std::uint32_t offset) {
    for (std::uint32_t i = 0; i < count; ++i) b.chr[first + i] = (offset + i * kb) & (b.chr_bytes - 1);
}

void ram_access(BoardState& b, bool readable, bool writable) {
    b.ram_readable = b.prg_ram_bytes != 0 && readable;
    b.ram_writable = b.ram_readable && writable;
}

// ---- NROM, UxROM, CNROM, AxROM ------------------------------------------------------------------
void nrom_update(BoardState& b) {
    map_prg(b, 0, 4, 0);
    map_chr(b, 0, 8, 0);
    wired_nametables(b);
    ram_access(b, true, true);
}

// 0x8000 the latch's 16 KB bank, 0xC000 the last.
void uxrom_update(BoardState& b) {
    nrom_update(b);
    map_prg(b, 0, 2, b.latch * 16 * kb);
    map_prg(b, 2, 2, b.prg_bytes - 16 * kb);
}

// The latch's 8 KB of CHR.
void cnrom_update(BoardState& b) {
    nrom_update(b);
    map_chr(b, 0, 8, b.latch * 8 * kb);
}

// Bits 0-2 the 32 KB PRG bank, bit 4 the one nametable page.
void axrom_update(BoardState& b) {
    nrom_update(b);
    map_prg(b, 0, 4, (b.latch & 7u) * 32 * kb);
    const std::uint8_t page = (b.latch >> 4) & 1;
    set_nametables(b, page, page, page, page);
}

bool latch_write(BoardState& b, std::uint32_t, std::uint16_t, std::uint8_t value) {
    b.latch = value;
    return true;
}

// ---- MMC1 ---------------------------------------------------------------------------------------
void mmc1_update(BoardState& b) {
    const std::uint8_t control = b.mmc1_control;
    switch (control & 3) {
    case 0: set_nametables(b, 0, 0, 0, 0); break;
    case 1: set_nametables(b, 1, 1, 1, 1); break;
    case 2: set_nametables(b, 0, 1, 0, 1); break;
    case 3: set_nametables(b, 0, 0, 1, 1); break;
    }
    if (control & 0x10) {
        map_chr(b, 0, 4, b.mmc1_chr0 * 4 * kb);
        map_chr(b, 4, 4, b.mmc1_chr1 * 4 * kb);
    } else {
        map_chr(b, 0, 8, (b.mmc1_chr0 & 0x1Eu) * 4 * kb);
    }
    // SUROM: CHR bank 0's bit 4 drives PRG A18, choosing the 256 KB half that every PRG mode,
    // the fixed banks included, works within. (In 4 KB CHR mode the board takes the bit from
    // whichever CHR register the PPU is using; games write both alike, and bank 0's is taken.)
    const std::uint32_t outer = b.prg_bytes > 256 * kb ? (b.mmc1_chr0 & 0x10u) << 14 : 0;
    const std::uint32_t bank = b.mmc1_prg & 0x0Fu;
    switch ((control >> 2) & 3) {
    case 0:
    case 1: map_prg(b, 0, 4, outer + (bank & 0x0Eu) * 16 * kb); break;
    case 2: map_prg(b, 0, 2, outer), map_prg(b, 2, 2, outer + bank * 16 * kb); break;
    case 3: map_prg(b, 0, 2, outer + bank * 16 * kb), map_prg(b, 2, 2, outer + 15 * 16 * kb); break;
    }
    // PRG bank bit 4 clear enables the RAM (MMC1B and later).
    ram_access(b, !(b.mmc1_prg & 0x10), true);
}

bool mmc1_write(BoardState& b, std::uint32_t cycle, std::uint16_t address, std::uint8_t value) {
    const bool consecutive = b.mmc1_wrote && cycle == b.mmc1_cycle + 1;
    b.mmc1_wrote = 1;
    b.mmc1_cycle = cycle;
    if (consecutive) return false;
    if (value & 0x80) {
        // Reset: the shift register empties and PRG mode 3 (last bank fixed) comes back.
        b.mmc1_shift = b.mmc1_count = 0;
        b.mmc1_control |= 0x0C;
        return true;
    }
    b.mmc1_shift = static_cast<std::uint8_t>(b.mmc1_shift >> 1 | (value & 1) << 4);
    if (++b.mmc1_count < 5) return false;
    const std::uint8_t data = b.mmc1_shift;
    b.mmc1_shift = b.mmc1_count = 0;
    switch ((address >> 13) & 3) {
    case 0: b.mmc1_control = data; break;
    case 1: b.mmc1_chr0 = data; break;
    case 2: b.mmc1_chr1 = data; break;
    case 3: b.mmc1_prg = data; break;
    }
    return true;
}

// ---- MMC3 ---------------------------------------------------------------------------------------
void mmc3_update(BoardState& b) {
    const std::uint8_t* r = b.mmc3_bank;
    // R6 at 0x8000 and the second-last bank at 0xC000, or swapped (bit 6); R7 at 0xA000, the
    // last bank at 0xE000.
    const std::uint32_t r6 = (r[6] & 0x3Fu) * 8 * kb, second_last = b.prg_bytes - 16 * kb;
    const bool prg_swap = b.mmc3_select & 0x40;
    map_prg(b, 0, 1, prg_swap ? second_last : r6);
    map_prg(b, 1, 1, (r[7] & 0x3Fu) * 8 * kb);
    map_prg(b, 2, 1, prg_swap ? r6 : second_last);
    map_prg(b, 3, 1, b.prg_bytes - 8 * kb);
    // R0, R1 2 KB and R2-R5 1 KB, the 2 KB pair at 0x0000 or at 0x1000 (bit 7).
    const std::uint32_t two = (b.mmc3_select & 0x80) ? 4 : 0, one = 4 - two;
    map_chr(b, two, 2, (r[0] & 0xFEu) * kb);
    map_chr(b, two + 2, 2, (r[1] & 0xFEu) * kb);
    for (std::uint32_t i = 0; i < 4; ++i) map_chr(b, one + i, 1, r[2 + i] * kb);
    if (b.wiring == static_cast<std::uint8_t>(Wiring::four_screen))
        wired_nametables(b);
    else if (b.mmc3_mirroring)
        set_nametables(b, 0, 0, 1, 1);
    else
        set_nametables(b, 0, 1, 0, 1);
    // 0xA001: bit 7 enables the RAM, bit 6 denies writes.
    ram_access(b, b.mmc3_ram & 0x80, !(b.mmc3_ram & 0x40));
}

bool mmc3_write(BoardState& b, std::uint32_t, std::uint16_t address, std::uint8_t value) {
    switch (address & 0xE001) {
    case 0x8000: b.mmc3_select = value; break;
    case 0x8001: b.mmc3_bank[b.mmc3_select & 7] = value; break;
    case 0xA000: b.mmc3_mirroring = value & 1; break;
    case 0xA001: b.mmc3_ram = value; break;
    case 0xC000: b.irq_latch = value; break;
    case 0xC001: b.irq_counter = 0, b.irq_reload = 1; break;  // reloaded on the next line
    case 0xE000: b.irq_enabled = 0, b.irq_pending = 0; break;  // disables and acknowledges
    case 0xE001: b.irq_enabled = 1; break;
    }
    return true;
}

// ---- The boards' table --------------------------------------------------------------------------
struct BoardModel {
    // A register write (at 0x8000-0xFFFF): true when the banks may have changed.
    bool (*write)(BoardState&, std::uint32_t cycle, std::uint16_t address, std::uint8_t value);
    // The windows, nametables and RAM access from the registers.
    void (*update)(BoardState&);
};

bool no_write(BoardState&, std::uint32_t, std::uint16_t, std::uint8_t) { return false; }

constexpr BoardModel models[board_kinds] = {
    {no_write, nrom_update},   {mmc1_write, mmc1_update},   {latch_write, uxrom_update},
    {latch_write, cnrom_update}, {mmc3_write, mmc3_update}, {latch_write, axrom_update},
};

const BoardModel& model(const BoardState& b) { return models[b.board]; }

}  // namespace

// ---- Power-on, writes, lines --------------------------------------------------------------------
void board_power(BoardState& board, const CartridgeInfo& cartridge) {
    BoardState b{};
    b.board = static_cast<std::uint8_t>(cartridge.board);
    b.wiring = static_cast<std::uint8_t>(cartridge.wiring);
    b.bus_conflicts = cartridge.bus_conflicts;
    b.chr_writable = cartridge.chr_rom_bytes == 0;
    b.prg_bytes = cartridge.prg_bytes;
    b.chr_bytes = cartridge.chr_rom_bytes ? cartridge.chr_rom_bytes : cartridge.chr_ram_bytes;
    b.prg_ram_bytes = cartridge.prg_ram_bytes + cartridge.prg_nvram_bytes;
    // The other boards' registers stay zero, which the state checks rely on.
    if (cartridge.board == BoardKind::mmc1) {
        b.mmc1_control = 0x0C;  // the last bank fixed at 0xC000, where the reset vector is
    } else if (cartridge.board == BoardKind::mmc3) {
        // Unknown at power-on: a readable start, with the header's mirroring and the RAM enabled.
        const std::uint8_t banks[8] = {0, 2, 4, 5, 6, 7, 0, 1};
        std::memcpy(b.mmc3_bank, banks, sizeof banks);
        b.mmc3_mirroring = cartridge.wiring == Wiring::horizontal;
        b.mmc3_ram = 0x80;
    }
    model(b).update(b);
    board = b;
}

BoardWriteAnswer board_write(BoardState& board, const std::uint8_t* prg, std::uint32_t cycle, std::uint16_t address,
                             std::uint8_t value) {
    if (address < 0x6000) return {BoardWrite::nothing, 0};
    if (address < 0x8000) {
        if (!board.ram_writable) return {BoardWrite::nothing, 0};
        return {BoardWrite::prg_ram, (address - 0x6000u) & (board.prg_ram_bytes - 1)};
    }
    // NROM has no register: a write to its ROM does nothing.
    if (model(board).write == no_write) return {BoardWrite::nothing, 0};
    if (board.bus_conflicts) value &= prg[board_prg_offset(board, address)];
    if (model(board).write(board, cycle, address, value)) model(board).update(board);
    return {BoardWrite::board_register, 0};
}

std::uint32_t board_ram_read(const BoardState& board, std::uint16_t address) {
    if (address < 0x6000 || address >= 0x8000 || !board.ram_readable) return board_open_bus;
    return (address - 0x6000u) & (board.prg_ram_bytes - 1);
}

// MMC3 (the revisions most games have): a counter at zero, or asked to reload, takes the latch;
// otherwise it counts down. Reaching zero with the IRQ enabled raises it, so a latch of 0
// raises it on every line.
void board_line(BoardState& b) {
    if (b.board != static_cast<std::uint8_t>(BoardKind::mmc3)) return;
    if (b.irq_counter == 0 || b.irq_reload) {
        b.irq_counter = b.irq_latch;
        b.irq_reload = 0;
    } else {
        --b.irq_counter;
    }
    if (b.irq_counter == 0 && b.irq_enabled) b.irq_pending = 1;
}

// ---- States -------------------------------------------------------------------------------------
namespace {

// Every field that lasts, with the largest value it can take: the cartridge's fields (which a
// state must share with the board it is loaded into), then the registers, each 0 on the boards
// that do not have it (the board's kind is the one of the state loaded into, which the loaded
// one must equal). The windows follow from the registers and are not kept.
template <typename Visit>
constexpr void visit_fields(BoardState& b, Visit&& field) {
    constexpr std::uint32_t any = 0xFFFFFFFF;
    const auto kind = static_cast<BoardKind>(b.board);
    const bool mmc1 = kind == BoardKind::mmc1, mmc3 = kind == BoardKind::mmc3;
    const bool latched = kind == BoardKind::uxrom || kind == BoardKind::cnrom || kind == BoardKind::axrom;
    field(b.board, any), field(b.wiring, any), field(b.bus_conflicts, any), field(b.chr_writable, any);
    field(b.prg_bytes, any), field(b.chr_bytes, any), field(b.prg_ram_bytes, any);
    field(b.latch, latched ? 0xFF : 0);
    field(b.mmc1_shift, mmc1 ? 0x1E : 0), field(b.mmc1_count, mmc1 ? 4 : 0), field(b.mmc1_control, mmc1 ? 0x1F : 0);
    field(b.mmc1_chr0, mmc1 ? 0x1F : 0), field(b.mmc1_chr1, mmc1 ? 0x1F : 0), field(b.mmc1_prg, mmc1 ? 0x1F : 0);
    field(b.mmc1_wrote, mmc1 ? 1 : 0), field(b.mmc1_cycle, mmc1 ? any : 0);
    field(b.mmc3_select, mmc3 ? 0xFF : 0);
    for (std::uint8_t& r : b.mmc3_bank) field(r, mmc3 ? 0xFF : 0);
    field(b.mmc3_mirroring, mmc3 ? 1 : 0), field(b.mmc3_ram, mmc3 ? 0xFF : 0);
    field(b.irq_latch, mmc3 ? 0xFF : 0), field(b.irq_counter, mmc3 ? 0xFF : 0), field(b.irq_reload, mmc3 ? 1 : 0);
    field(b.irq_enabled, mmc3 ? 1 : 0), field(b.irq_pending, mmc3 ? 1 : 0);
}

static_assert([] {
    BoardState b{};
    std::uint32_t total = 0;
    visit_fields(b, [&total](auto& value, std::uint32_t) { total += sizeof value; });
    return total;
}() == board_state_bytes);

}  // namespace

void board_save(const BoardState& board, std::uint8_t* out) {
    visit_fields(const_cast<BoardState&>(board), [&out](auto& value, std::uint32_t) {
        for (std::size_t i = 0; i < sizeof value; ++i) *out++ = static_cast<std::uint8_t>(value >> (8 * i));
    });
}

bool board_load(BoardState& board, const std::uint8_t* in) {
    BoardState taken = board;
    bool sound = true;
    visit_fields(taken, [&in, &sound](auto& value, std::uint32_t largest) {
        using Field = std::remove_reference_t<decltype(value)>;
        Field bits = 0;
        for (std::size_t i = 0; i < sizeof value; ++i) bits = static_cast<Field>(bits | Field{*in++} << (8 * i));
        value = bits;
        sound = sound && value <= largest;
    });
    // Another cartridge's state, or one with fields the board never leaves together: bits in
    // the shift register below those shifted in, a reload asked with the counter not at zero,
    // an interrupt pending while disabled.
    sound = sound && taken.board == board.board && board.board < board_kinds && taken.wiring == board.wiring;
    sound = sound && taken.bus_conflicts == board.bus_conflicts && taken.chr_writable == board.chr_writable;
    sound = sound && taken.prg_bytes == board.prg_bytes && taken.chr_bytes == board.chr_bytes;
    sound = sound && taken.prg_ram_bytes == board.prg_ram_bytes;
    sound = sound && (taken.mmc1_shift & ((0x20u >> taken.mmc1_count) - 1)) == 0;
    sound = sound && (!taken.irq_reload || taken.irq_counter == 0);
    sound = sound && (!taken.irq_pending || taken.irq_enabled);
    if (!sound) return false;
    models[taken.board].update(taken);
    board = taken;
    return true;
}
