// Cheats: Game Genie codes, which patch what the CPU reads from PRG, and raw AAAA:VV codes,
// which hold a work-RAM byte at a value.
#pragma once

#include <cstdint>

struct Cheat {
    enum Kind : std::uint8_t { none, genie, ram } kind = none;
    std::uint16_t address = 0;  // 0x8000-0xFFFF for a Game Genie code, 0x0000-0x07FF for RAM
    std::uint8_t value = 0;
    bool compared = false;      // 8-letter codes patch only where the ROM holds compare
    std::uint8_t compare = 0;
};

// One code: 6 or 8 Game Genie letters, or AAAA:VV in hexadecimal with AAAA a work-RAM address
// (0000-1FFF, folded onto the 2 KB). Case and surrounding blanks do not matter. False when the
// code is neither.
bool cheat_parse(const char* text, std::uint32_t length, Cheat& cheat);

// The cheats set at once, by the frontend's index. Each index may hold a line of several
// codes joined by '+'.
constexpr std::uint32_t cheat_slots = 64;
constexpr std::uint32_t codes_per_slot = 8;

struct CheatTable {
    Cheat codes[cheat_slots][codes_per_slot];
    std::uint8_t rom[0x8000];  // PRG as loaded, to undo patches from
    std::uint8_t patched[0x8000 / 8];  // bit per PRG byte that a code has patched
    bool holds_ram;  // some code is a RAM code: only then is the table walked every frame
};

// Keeps the PRG of a newly loaded cartridge and forgets every cheat.
void cheats_start(CheatTable& table, const std::uint8_t* image);

// Sets the codes of one index (enabled) or clears it, and patches PRG anew. False (nothing
// changed) when a code is malformed or the index is out of range; why says which.
bool cheats_set(CheatTable& table, std::uint8_t* image, std::uint32_t index, bool enabled,
                const char* line, const char*& why);

// Undoes every cheat: PRG bytes back as loaded.
void cheats_reset(CheatTable& table, std::uint8_t* image);

// Puts the PRG bytes that codes have patched back as loaded, keeping the codes (cheats_patch
// patches them again).
void cheats_unpatch(CheatTable& table, std::uint8_t* image);

// Puts the patches back after the image was replaced (a loaded state).
void cheats_patch(CheatTable& table, std::uint8_t* image);

// Holds the RAM codes' bytes: once before every frame.
void cheats_hold_ram(const CheatTable& table, std::uint8_t* image);
