// The 2A03's audio processing unit: two pulse channels, triangle, noise, the delta modulation
// channel, the frame counter and the console's mix and output filters (NTSC).
//
// Time is counted in CPU cycles from the start of the current frame. The caller runs the unit
// up to a cycle before each register access (apu_write, apu_read_status do that themselves) and
// closes each frame with apu_end_frame, which turns the frame into samples at the chosen rate.
// Channels are stepped from one event to the next, not cycle by cycle; every change of the
// mixed level is placed into the output as a band-limited step at its exact time, so that
// tones above the output's Nyquist frequency do not fold back into audible ones.
//
// Everything is plain fixed-width data with no pointers, so that a state is the same bytes on
// every host, and the same state and writes give the same samples.
#pragma once

#include <cstdint>

constexpr std::uint32_t apu_cpu_hz = 1789773;
// Taps of the band-limited step, and the longest frame of samples apu_end_frame gives (a frame
// at 192 kHz is 3,195 samples).
constexpr std::uint32_t apu_step_taps = 16;
constexpr std::uint32_t apu_max_frame_samples = 4096;

struct ApuEnvelope {
    std::uint8_t start, divider, decay;
};

struct ApuPulse {
    std::uint8_t control;  // 0x4000/0x4004: duty, halt/loop, constant, volume/period
    std::uint8_t sweep;    // 0x4001/0x4005: enable, period, negate, shift
    std::uint16_t period;  // 11-bit timer reload
    std::uint32_t timer;   // CPU cycles to the next sequencer step
    std::uint8_t step, length, sweep_divider, sweep_reload;
    ApuEnvelope envelope;
    std::uint8_t ones_complement;  // pulse 1 negates with one's complement
};

struct ApuTriangle {
    std::uint8_t control;  // 0x4008: control/halt, linear counter reload value
    std::uint8_t linear, linear_reload, length, step;
    std::uint16_t period;
    std::uint32_t timer;
};

struct ApuNoise {
    std::uint8_t control;  // 0x400C
    std::uint8_t mode_period;  // 0x400E
    std::uint8_t length;
    ApuEnvelope envelope;
    std::uint16_t shift;  // 15-bit feedback register
    std::uint32_t timer;
};

struct ApuDmc {
    std::uint8_t control;  // 0x4010: IRQ enable, loop, rate
    std::uint8_t level;    // 7-bit output
    std::uint8_t sample_address, sample_length;  // 0x4012, 0x4013
    std::uint16_t address, remaining;  // current fetch address, bytes left
    std::uint8_t buffer, buffer_full, shift, bits, silence, irq;
    std::uint32_t timer;
};

struct ApuFrameCounter {
    std::uint8_t five_step, inhibit, irq;
    std::uint8_t reset_delay;  // cycles until a 0x4017 write restarts the sequence (0: none)
    std::uint32_t cycle;       // CPU cycles into the sequence
};

struct ApuState {
    ApuPulse pulse[2];
    ApuTriangle triangle;
    ApuNoise noise;
    ApuDmc dmc;
    ApuFrameCounter frame;
    std::uint8_t enabled;  // 0x4015 bits 0-4 as last written
    std::uint32_t now;     // CPU cycles into the current frame
    // Output: the mixed level last placed, the sample rate, the fraction of a sample carried
    // across frames (in units of 1/apu_cpu_hz sample), the filters' memories, and the
    // band-limited steps not yet turned into samples (the tail of the last frame's).
    std::int32_t level;
    std::uint32_t rate;
    std::uint32_t carry;
    std::int32_t integrator;
    std::int32_t high90_in, high90_out, high440_in, high440_out, low14k_out;
    std::int32_t high90_coef, high440_coef, low14k_coef;  // 16.16 fixed point
    std::int32_t steps[apu_max_frame_samples + apu_step_taps];
    std::uint32_t steps_end;  // no step of the frame reaches this sample or later
};

// Power-on: every channel silent, the frame counter in 4-step mode, output at `rate` samples a
// second (8,000 to 192,000).
void apu_power(ApuState& apu, std::uint32_t rate);

// Runs the unit up to `cycle` CPU cycles into the frame. The DMC fetches its sample bytes from
// the CPU half of `image`.
void apu_run(ApuState& apu, const std::uint8_t* image, std::uint32_t cycle);

// A CPU write to 0x4000-0x4013, 0x4015 or 0x4017 at `cycle`; other addresses are ignored.
void apu_write(ApuState& apu, const std::uint8_t* image, std::uint32_t cycle, std::uint16_t address,
               std::uint8_t value);

// A CPU read of 0x4015 at `cycle`: length counters, DMC active, the two IRQ flags; it clears
// the frame IRQ flag.
std::uint8_t apu_read_status(ApuState& apu, const std::uint8_t* image, std::uint32_t cycle);

// True while the frame counter or the DMC asks for an interrupt.
bool apu_irq(const ApuState& apu);

// CPU cycles from the unit's present time until an interrupt request may next rise, never
// later than it does (0xFFFFFFFF: none is due, unless a register write changes that).
std::uint32_t apu_irq_in(const ApuState& apu);

// Ends the frame at `frame_cycles` CPU cycles: runs to it, writes the frame's samples (16-bit,
// mono) into `out` and returns their count. The next frame's cycle 0 is this one's end. With
// no `out` the samples are not made (sound off): the channels run all the same.
std::uint32_t apu_end_frame(ApuState& apu, const std::uint8_t* image, std::uint32_t frame_cycles,
                            std::int16_t* out);

// The unit between two frames as bytes that are the same on every host (apu_state_bytes of them),
// and back. apu_load takes them only when every field is one the unit can reach, and keeps the
// output rate it has; otherwise it answers false and leaves `apu` as it was.
constexpr std::uint32_t apu_state_bytes = 176;
void apu_save(const ApuState& apu, std::uint8_t* out);
bool apu_load(ApuState& apu, const std::uint8_t* in);

// The documented tables, for the tests and the state checks.
extern const std::uint8_t apu_length_table[32];
extern const std::uint16_t apu_noise_periods[16];
extern const std::uint16_t apu_dmc_rates[16];
