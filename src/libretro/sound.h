// The core's sound: the sound unit timed by the emulation, which counts instructions, at the
// console's pace; its interrupt on the CPU's IRQ input; its samples for the frontend.
#pragma once

#include <cstdint>

#include "apu/apu.h"
#include "core/machine.h"

// The output rate when the frontend names none.
constexpr std::uint32_t sound_default_rate = 48000;

// Powers the unit on for a machine that has just been started (or loaded) at `rate`.
void sound_power(RunState& state, std::uint32_t rate);

// The unit itself, for states.
ApuState& sound_unit();

// The console's reset button: the channels are silenced (0x4015 written with 0) and the frame
// counter starts again in the mode it had, as a write of 0x4017 would.
void sound_reset(std::uint8_t* image);

// One frame of the machine, passes_per_frame passes, stopped where the unit's interrupt may
// rise. Answers false when the CPU stopped the machine.
bool sound_run_frame(RunState& state, std::uint8_t* image);

// The frame's samples: stereo, 16-bit, in batches the frontend takes (at most 1,024 frames).
// Sound off gives silence while the unit runs all the same; a frame in which no machine ran
// gives silence and leaves the unit as it was.
enum class Heard : std::uint8_t { on, off, nothing_ran };
using SampleBatch = std::size_t (*)(const std::int16_t* data, std::size_t frames);
void sound_end_frame(std::uint8_t* image, Heard heard, SampleBatch batch);
