// Save states: the whole machine (image, registers, counters, run state) in a fixed-size,
// little-endian block, the same on every host, behind a magic and a format version.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/machine.h"

constexpr std::uint8_t state_magic[4] = {'Q', 'N', 'R', 'K'};
constexpr std::uint32_t state_version = 1;

// Bytes of a state: header, image, then the run-state fields.
std::size_t state_size();

// Writes the state of the machine into destination (state_size() bytes).
void state_save(std::uint8_t* destination, const RunState& state, const std::uint8_t* image);

// Takes a state back, only if it is whole and sound: the size, magic and version, and every
// field within what the machine itself can reach (pc a 16-bit address, scanline 0-241,
// line_cycles a multiple of 4 up to 136, requests 0 or 1...). Anything else is refused, and
// the machine is left exactly as it was. The answer says which, with the reason in why.
bool state_load(const std::uint8_t* source, std::size_t size, RunState& state, std::uint8_t* image,
                const char*& why);
