#include "libretro/cheats.h"

#include <cstring>

namespace {

// ---- Game Genie ----------------------------------------------------------------------------
// Each letter is four bits, scattered over address, value and compare.
constexpr char genie_letters[] = "APZLGITYEOXUKSVN";

int genie_nibble(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (int i = 0; i < 16; ++i)
        if (genie_letters[i] == c) return i;
    return -1;
}

bool parse_genie(const char* text, std::uint32_t length, Cheat& cheat) {
    if (length != 6 && length != 8) return false;
    std::uint32_t n[8] = {};
    for (std::uint32_t i = 0; i < length; ++i) {
        const int nibble = genie_nibble(text[i]);
        if (nibble < 0) return false;
        n[i] = static_cast<std::uint32_t>(nibble);
    }
    cheat.kind = Cheat::genie;
    cheat.address = static_cast<std::uint16_t>(0x8000 | (n[3] & 7) << 12 | (n[5] & 7) << 8 | (n[4] & 8) << 8 |
                                               (n[2] & 7) << 4 | (n[1] & 8) << 4 | (n[4] & 7) | (n[3] & 8));
    const std::uint32_t last = length == 6 ? n[5] : n[7];
    cheat.value = static_cast<std::uint8_t>((n[1] & 7) << 4 | (n[0] & 8) << 4 | (n[0] & 7) | (last & 8));
    cheat.compared = length == 8;
    cheat.compare = length == 8 ? static_cast<std::uint8_t>((n[7] & 7) << 4 | (n[6] & 8) << 4 | (n[6] & 7) | (n[5] & 8)) : 0;
    return true;
}

// ---- Raw RAM codes -------------------------------------------------------------------------
int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parse_hex(const char* text, std::uint32_t digits, std::uint32_t& value) {
    value = 0;
    for (std::uint32_t i = 0; i < digits; ++i) {
        const int d = hex_digit(text[i]);
        if (d < 0) return false;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
}

bool parse_ram(const char* text, std::uint32_t length, Cheat& cheat) {
    std::uint32_t address = 0, value = 0;
    if (length != 7 || text[4] != ':' || !parse_hex(text, 4, address) || !parse_hex(text + 5, 2, value) ||
        address >= 0x2000)
        return false;
    cheat.kind = Cheat::ram;
    cheat.address = static_cast<std::uint16_t>(address & 0x07FF);
    cheat.value = static_cast<std::uint8_t>(value);
    return true;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

// ---- Patching PRG ----------------------------------------------------------------------------
void cheats_unpatch(CheatTable& table, std::uint8_t* image) {
    for (std::uint32_t offset = 0; offset < 0x8000; ++offset)
        if (table.patched[offset / 8] & (1u << (offset % 8))) image[0x8000 + offset] = table.rom[offset];
    std::memset(table.patched, 0, sizeof table.patched);
}

bool cheat_parse(const char* text, std::uint32_t length, Cheat& cheat) {
    while (length > 0 && blank(*text)) ++text, --length;
    while (length > 0 && blank(text[length - 1])) --length;
    cheat = Cheat{};
    return parse_genie(text, length, cheat) || parse_ram(text, length, cheat);
}

void cheats_start(CheatTable& table, const std::uint8_t* image) {
    std::memset(table.codes, 0, sizeof table.codes);
    std::memcpy(table.rom, image + 0x8000, sizeof table.rom);
    std::memset(table.patched, 0, sizeof table.patched);
    table.holds_ram = false;
}

bool cheats_set(CheatTable& table, std::uint8_t* image, std::uint32_t index, bool enabled,
                const char* line, const char*& why) {
    if (index >= cheat_slots) {
        why = "too many cheats";
        return false;
    }
    Cheat codes[codes_per_slot] = {};
    if (enabled) {
        if (line == nullptr) line = "";
        std::uint32_t count = 0;
        for (const char* start = line;;) {
            const char* end = std::strchr(start, '+');
            const std::uint32_t length = static_cast<std::uint32_t>(end ? end - start : std::strlen(start));
            if (count == codes_per_slot) {
                why = "too many codes in one cheat";
                return false;
            }
            if (!cheat_parse(start, length, codes[count++])) {
                why = "not a Game Genie code (6 or 8 letters) or a RAM code AAAA:VV";
                return false;
            }
            if (end == nullptr) break;
            start = end + 1;
        }
    }
    std::memcpy(table.codes[index], codes, sizeof codes);
    table.holds_ram = false;
    for (const auto& slot : table.codes)
        for (const Cheat& cheat : slot) table.holds_ram = table.holds_ram || cheat.kind == Cheat::ram;
    cheats_unpatch(table, image);
    cheats_patch(table, image);
    return true;
}

void cheats_reset(CheatTable& table, std::uint8_t* image) {
    std::memset(table.codes, 0, sizeof table.codes);
    table.holds_ram = false;
    cheats_unpatch(table, image);
}

void cheats_patch(CheatTable& table, std::uint8_t* image) {
    for (const auto& slot : table.codes)
        for (const Cheat& cheat : slot) {
            if (cheat.kind != Cheat::genie) continue;
            const std::uint32_t offset = cheat.address - 0x8000u;
            if (cheat.compared && table.rom[offset] != cheat.compare) continue;
            image[cheat.address] = cheat.value;
            table.patched[offset / 8] = static_cast<std::uint8_t>(table.patched[offset / 8] | 1u << (offset % 8));
        }
}

void cheats_hold_ram(const CheatTable& table, std::uint8_t* image) {
    if (!table.holds_ram) return;
    for (const auto& slot : table.codes)
        for (const Cheat& cheat : slot)
            if (cheat.kind == Cheat::ram) image[cheat.address] = cheat.value;
}
