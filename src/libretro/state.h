// Save states: what the game has changed of the machine (image, registers, counters, the stop,
// the sound unit) in
// a fixed-size, little-endian block, the same on every host, behind a magic, a format version and
// the hash of the cartridge it was made on. A state holds no ROM: it is loaded over the cartridge
// that is loaded, and only over the one it was made on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "apu/apu.h"
#include "core/machine.h"

constexpr std::uint8_t state_magic[4] = {'Q', 'N', 'R', 'K'};
constexpr std::uint32_t state_version = 3;

// The cartridge as the loader put it into the image, before any cheat patched it: PRG at
// 0x8000-0xFFFF and PPU space at 0x10000-0x13FFF (CHR, and the nametables a second CHR bank
// fills). The CPU and the picture processor may write over all of it.
constexpr std::uint32_t cartridge_start = 0x8000;
constexpr std::uint32_t cartridge_bytes = image_size - cartridge_start;

struct Cartridge {
    std::uint8_t bytes[cartridge_bytes];
    std::uint32_t mirroring;
    std::uint32_t mapper;
    bool chr_rom;        // CHR banks came with the cartridge: 0x10000-0x11FFF is its own
    std::uint64_t hash;  // FNV-1a 64 of bytes, then mirroring and mapper as one byte each
};

// Keeps the cartridge of a freshly loaded image and computes its hash.
void cartridge_keep(Cartridge& cartridge, const std::uint8_t* image, std::uint32_t mirroring,
                    std::uint32_t mapper, bool chr_rom);

// Bytes of a state: header, hash, image, the run-state fields, then the sound unit.
std::size_t state_size();

// Writes the state of the machine into destination (state_size() bytes). Cheat patches are to
// be undone first: the state holds the machine as the game left it.
void state_save(std::uint8_t* destination, const RunState& state, const std::uint8_t* image,
                const ApuState& apu, const Cartridge& cartridge);

// Takes a state back, only if it is whole, sound and of the loaded cartridge: the size, magic,
// version and hash, and every field within what the machine itself can reach (pc a 16-bit
// address, scanline 0-241, line_cycles a multiple of 4 up to 136, requests 0 or 1...). A state
// of version 1 (the whole image, no hash, no stop) is taken where its PRG and CHR are the
// cartridge's; one of version 1 or 2 brings the sound unit back to its power-on state. Anything
// else is refused, and the machine is left exactly as it was. The answer says which, with the
// reason in why. The stop (quit) comes back with the rest.
bool state_load(const std::uint8_t* source, std::size_t size, RunState& state, std::uint8_t* image,
                ApuState& apu, const Cartridge& cartridge, const char*& why);
