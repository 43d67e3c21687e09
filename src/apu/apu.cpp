#include "apu/apu.h"

#include <array>
#include <type_traits>
#include <cstddef>
#include <iterator>
#include <cstring>

// ---- The documented tables (NTSC) ------------------------------------------------------
const std::uint8_t apu_length_table[32] = {10, 254, 20,  2,  40, 4,  80, 6,  160, 8,  60,
                                           10, 14,  12,  26, 14, 12, 16, 24, 18, 48, 20,
                                           96, 22,  192, 24, 72, 26, 16, 28, 32,  30};
const std::uint16_t apu_noise_periods[16] = {4,   8,   16,  32,  64,  96,   128,  160,
                                             202, 254, 380, 508, 762, 1016, 2034, 4068};
const std::uint16_t apu_dmc_rates[16] = {428, 380, 340, 320, 286, 254, 226, 214,
                                         190, 160, 142, 128, 106, 84,  72,  54};

namespace {

constexpr std::uint8_t duty_table[4][8] = {
    {0, 1, 0, 0, 0, 0, 0, 0}, {0, 1, 1, 0, 0, 0, 0, 0}, {0, 1, 1, 1, 1, 0, 0, 0}, {1, 0, 0, 1, 1, 1, 1, 1}};
constexpr std::uint8_t triangle_table[32] = {15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,
                                             4,  3,  2,  1,  0,  0,  1,  2,  3,  4,  5,
                                             6,  7,  8,  9,  10, 11, 12, 13, 14, 15};

// ---- The mix ----------------------------------------------------------------------------
// The console's non-linear mix as its two documented lookup tables, in units of 1/16384 of the
// loudest output. Made by the compiler, so that every host has the same numbers.
constexpr std::int32_t mix_unit = 16384;
constexpr auto pulse_mix = [] {
    std::array<std::int32_t, 31> table{};
    for (int n = 1; n < 31; ++n) table[n] = static_cast<std::int32_t>(95.52 / (8128.0 / n + 100) * mix_unit + 0.5);
    return table;
}();
constexpr auto tnd_mix = [] {
    std::array<std::int32_t, 203> table{};
    for (int n = 1; n < 203; ++n) table[n] = static_cast<std::int32_t>(163.67 / (24329.0 / n + 100) * mix_unit + 0.5);
    return table;
}();

// ---- The band-limited step --------------------------------------------------------------
// A change of level at a fraction of a sample is spread over apu_step_taps samples as a
// windowed-sinc impulse (cut off at 0.45 of the output rate, Blackman window), which the
// output then integrates into a step. Each phase's taps sum to exactly step_unit, so that the
// integrated level settles exactly on the new level: no drift, no DC error.
constexpr int step_phases = 32;
constexpr std::int32_t step_unit = 4096;
constexpr double pi = 3.14159265358979323846;

constexpr double series_sin(double x) {
    // Brought into [-pi, pi], then its Taylor series.
    const double turns = x / (2 * pi);
    x -= 2 * pi * static_cast<double>(static_cast<long long>(turns + (turns < 0 ? -0.5 : 0.5)));
    double term = x, sum = x;
    for (int n = 1; n < 30; ++n) {
        term *= -x * x / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}
constexpr double series_cos(double x) { return series_sin(x + pi / 2); }

constexpr auto step_kernel = [] {
    std::array<std::array<std::int32_t, apu_step_taps>, step_phases> kernel{};
    constexpr double cutoff = 0.45;  // of the output rate
    constexpr double half = apu_step_taps / 2.0;
    for (int phase = 0; phase < step_phases; ++phase) {
        double taps[apu_step_taps]{};
        double total = 0;
        for (std::uint32_t k = 0; k < apu_step_taps; ++k) {
            const double x = k + 0.5 - half - static_cast<double>(phase) / step_phases;  // from the centre
            const double sinc = x == 0 ? 1.0 : series_sin(2 * pi * cutoff * x) / (2 * pi * cutoff * x);
            const double w = (x + half) / apu_step_taps;  // 0..1 across the window
            const double window = 0.42 - 0.5 * series_cos(2 * pi * w) + 0.08 * series_cos(4 * pi * w);
            taps[k] = sinc * window;
            total += taps[k];
        }
        std::int32_t sum = 0;
        std::uint32_t peak = 0;
        for (std::uint32_t k = 0; k < apu_step_taps; ++k) {
            const double scaled = taps[k] / total * step_unit;
            kernel[phase][k] = static_cast<std::int32_t>(scaled + (scaled < 0 ? -0.5 : 0.5));
            sum += kernel[phase][k];
            if (kernel[phase][k] > kernel[phase][peak]) peak = k;
        }
        kernel[phase][peak] += step_unit - sum;
    }
    return kernel;
}();

// ---- Envelope, length, sweep ------------------------------------------------------------
void envelope_clock(ApuEnvelope& envelope, std::uint8_t control) {
    const std::uint8_t period = control & 0x0F;
    if (envelope.start) {
        envelope.start = 0;
        envelope.decay = 15;
        envelope.divider = period;
    } else if (envelope.divider == 0) {
        envelope.divider = period;
        if (envelope.decay > 0) --envelope.decay;
        else if (control & 0x20) envelope.decay = 15;
    } else {
        --envelope.divider;
    }
}

std::uint8_t envelope_volume(const ApuEnvelope& envelope, std::uint8_t control) {
    return (control & 0x10) ? control & 0x0F : envelope.decay;
}

std::int32_t sweep_target(const ApuPulse& pulse) {
    const std::int32_t change = pulse.period >> (pulse.sweep & 7);
    if (!(pulse.sweep & 0x08)) return pulse.period + change;
    const std::int32_t target = pulse.period - change - pulse.ones_complement;
    return target < 0 ? 0 : target;
}

bool pulse_muted(const ApuPulse& pulse) { return pulse.period < 8 || sweep_target(pulse) > 0x7FF; }

void sweep_clock(ApuPulse& pulse) {
    if (pulse.sweep_divider == 0 && (pulse.sweep & 0x80) && (pulse.sweep & 7) && !pulse_muted(pulse))
        pulse.period = static_cast<std::uint16_t>(sweep_target(pulse));
    if (pulse.sweep_divider == 0 || pulse.sweep_reload) {
        pulse.sweep_divider = (pulse.sweep >> 4) & 7;
        pulse.sweep_reload = 0;
    } else {
        --pulse.sweep_divider;
    }
}

void quarter_frame(ApuState& apu) {
    for (ApuPulse& pulse : apu.pulse) envelope_clock(pulse.envelope, pulse.control);
    envelope_clock(apu.noise.envelope, apu.noise.control);
    ApuTriangle& triangle = apu.triangle;
    if (triangle.linear_reload) triangle.linear = triangle.control & 0x7F;
    else if (triangle.linear > 0) --triangle.linear;
    if (!(triangle.control & 0x80)) triangle.linear_reload = 0;
}

void half_frame(ApuState& apu) {
    for (ApuPulse& pulse : apu.pulse) {
        if (pulse.length && !(pulse.control & 0x20)) --pulse.length;
        sweep_clock(pulse);
    }
    if (apu.triangle.length && !(apu.triangle.control & 0x80)) --apu.triangle.length;
    if (apu.noise.length && !(apu.noise.control & 0x20)) --apu.noise.length;
}

// ---- DMC ----------------------------------------------------------------------------------
void dmc_restart(ApuDmc& dmc) {
    dmc.address = static_cast<std::uint16_t>(0xC000 + dmc.sample_address * 64);
    dmc.remaining = static_cast<std::uint16_t>(dmc.sample_length * 16 + 1);
}

void dmc_fetch(ApuDmc& dmc, const std::uint8_t* image) {
    if (dmc.buffer_full || dmc.remaining == 0) return;
    dmc.buffer = image[dmc.address];
    dmc.buffer_full = 1;
    dmc.address = dmc.address == 0xFFFF ? 0x8000 : static_cast<std::uint16_t>(dmc.address + 1);
    if (--dmc.remaining == 0) {
        if (dmc.control & 0x40) dmc_restart(dmc);
        else if (dmc.control & 0x80) dmc.irq = 1;
    }
}

void dmc_clock(ApuDmc& dmc, const std::uint8_t* image) {
    if (!dmc.silence) {
        if (dmc.shift & 1) {
            if (dmc.level <= 125) dmc.level = static_cast<std::uint8_t>(dmc.level + 2);
        } else if (dmc.level >= 2) {
            dmc.level = static_cast<std::uint8_t>(dmc.level - 2);
        }
    }
    dmc.shift >>= 1;
    if (--dmc.bits == 0) {
        dmc.bits = 8;
        dmc.silence = !dmc.buffer_full;
        if (dmc.buffer_full) {
            dmc.shift = dmc.buffer;
            dmc.buffer_full = 0;
        }
    }
    dmc_fetch(dmc, image);
}

// ---- Timers -------------------------------------------------------------------------------
// A channel whose output cannot change parks its timer: no events while it is silent (its
// sequencer's phase then waits, which no one can hear).
std::uint32_t pulse_period(const ApuPulse& pulse) { return 2u * (pulse.period + 1u); }
bool pulse_runs(const ApuPulse& pulse) { return pulse.length && !pulse_muted(pulse); }
bool triangle_runs(const ApuTriangle& t) { return t.length && t.linear && t.period >= 2; }
bool noise_runs(const ApuNoise& noise) { return noise.length != 0; }
bool dmc_runs(const ApuDmc& dmc) { return !dmc.silence || dmc.buffer_full || dmc.remaining; }

// ---- Frame counter ------------------------------------------------------------------------
// The sequences' steps in CPU cycles: quarter (1), half (2), IRQ (4), end of the sequence (8).
struct FrameStep {
    std::uint32_t cycle;
    std::uint8_t what;
};
constexpr FrameStep four_step[] = {{7457, 1}, {14913, 3}, {22371, 1}, {29828, 4}, {29829, 7}, {29830, 12}};
constexpr FrameStep five_step[] = {{7457, 1}, {14913, 3}, {22371, 1}, {37281, 3}, {37282, 8}};

// The next step of the sequence, or none (a mode written while the old one was past the new
// one's end waits for the restart that the write brings).
const FrameStep* frame_next(const ApuFrameCounter& frame) {
    const FrameStep* steps = frame.five_step ? five_step : four_step;
    const std::size_t count = frame.five_step ? std::size(five_step) : std::size(four_step);
    for (std::size_t i = 0; i < count; ++i)
        if (steps[i].cycle > frame.cycle) return steps + i;
    return nullptr;
}

void frame_step(ApuState& apu, const FrameStep& step) {
    ApuFrameCounter& frame = apu.frame;
    if (step.what & 1) quarter_frame(apu);
    if (step.what & 2) half_frame(apu);
    if ((step.what & 4) && !frame.inhibit) frame.irq = 1;
    if (step.what & 8) frame.cycle = 0;
}

// ---- Output -------------------------------------------------------------------------------
std::int32_t mixed_level(const ApuState& apu) {
    std::uint32_t pulses = 0;
    for (const ApuPulse& pulse : apu.pulse)
        if (pulse.length && !pulse_muted(pulse) && duty_table[pulse.control >> 6][pulse.step])
            pulses += envelope_volume(pulse.envelope, pulse.control);
    const ApuTriangle& triangle = apu.triangle;
    const std::uint32_t t = triangle_table[triangle.step];
    const std::uint32_t n =
        (apu.noise.length && !(apu.noise.shift & 1)) ? envelope_volume(apu.noise.envelope, apu.noise.control) : 0;
    return pulse_mix[pulses] + tnd_mix[3 * t + 2 * n + apu.dmc.level];
}

// Places the change to the present level at the present time, as a band-limited step.
void place_level(ApuState& apu) {
    const std::int32_t level = mixed_level(apu);
    const std::int32_t delta = level - apu.level;
    if (delta == 0) return;
    apu.level = level;
    const std::uint64_t position = std::uint64_t{apu.now} * apu.rate + apu.carry;
    std::uint64_t index = position / apu_cpu_hz;
    if (index >= apu_max_frame_samples) index = apu_max_frame_samples - 1;
    const auto& taps = step_kernel[(position % apu_cpu_hz) * step_phases / apu_cpu_hz];
    std::int32_t* at = apu.steps + index;
    for (std::uint32_t k = 0; k < apu_step_taps; ++k) at[k] += delta * taps[k];
    if (index + apu_step_taps > apu.steps_end) apu.steps_end = static_cast<std::uint32_t>(index + apu_step_taps);
}

std::int32_t fixed_coefficient(double value) { return static_cast<std::int32_t>(value * 65536 + 0.5); }

}  // namespace

void apu_power(ApuState& apu, std::uint32_t rate) {
    std::memset(&apu, 0, sizeof apu);
    apu.pulse[0].ones_complement = 1;
    apu.noise.shift = 1;
    apu.dmc.bits = 8;
    apu.dmc.silence = 1;
    apu.dmc.address = 0xC000;  // where a sample starts; nothing is fetched before one does
    for (ApuPulse& pulse : apu.pulse) pulse.timer = pulse_period(pulse);
    apu.triangle.timer = 1;
    apu.noise.timer = apu_noise_periods[0];
    apu.dmc.timer = apu_dmc_rates[0];
    apu.rate = rate < 8000 ? 8000 : rate > 192000 ? 192000 : rate;
    apu.level = mixed_level(apu);
    apu.integrator = apu.level * step_unit;
    // First-order filters as the console's output stage has them: high-pass at 90 Hz and at
    // 440 Hz, low-pass at 14 kHz.
    const double dt = 1.0 / apu.rate;
    const auto rc = [](double hz) { return 1.0 / (2 * pi * hz); };
    apu.high90_coef = fixed_coefficient(rc(90) / (rc(90) + dt));
    apu.high440_coef = fixed_coefficient(rc(440) / (rc(440) + dt));
    apu.low14k_coef = fixed_coefficient(dt / (rc(14000) + dt));
    apu.high90_in = apu.level * 3 / 2 * 256;  // power-on starts from silence, without a click
    apu.steps_end = apu_step_taps;
}

void apu_run(ApuState& apu, const std::uint8_t* image, std::uint32_t cycle) {
    while (apu.now < cycle) {
        ApuPulse* pulses = apu.pulse;
        ApuTriangle& triangle = apu.triangle;
        ApuNoise& noise = apu.noise;
        ApuDmc& dmc = apu.dmc;
        const bool runs[5] = {pulse_runs(pulses[0]), pulse_runs(pulses[1]), triangle_runs(triangle),
                              noise_runs(noise), dmc_runs(dmc)};
        std::uint32_t* timers[5] = {&pulses[0].timer, &pulses[1].timer, &triangle.timer, &noise.timer,
                                    &dmc.timer};
        std::uint32_t step = cycle - apu.now;
        const FrameStep* frame = frame_next(apu.frame);
        const std::uint32_t frame_in = frame ? frame->cycle - apu.frame.cycle : ~0u;
        if (frame_in < step) step = frame_in;
        if (apu.frame.reset_delay && apu.frame.reset_delay < step) step = apu.frame.reset_delay;
        for (int i = 0; i < 5; ++i)
            if (runs[i] && *timers[i] < step) step = *timers[i];

        apu.now += step;
        apu.frame.cycle += step;
        for (int i = 0; i < 5; ++i)
            if (runs[i]) *timers[i] -= step;
        for (int i = 0; i < 2; ++i)
            if (runs[i] && pulses[i].timer == 0) {
                pulses[i].timer = pulse_period(pulses[i]);
                pulses[i].step = (pulses[i].step + 1) & 7;
            }
        if (runs[2] && triangle.timer == 0) {
            triangle.timer = triangle.period + 1u;
            triangle.step = (triangle.step + 1) & 31;
        }
        if (runs[3] && noise.timer == 0) {
            noise.timer = apu_noise_periods[noise.mode_period & 0x0F];
            const std::uint16_t other = (noise.mode_period & 0x80) ? noise.shift >> 6 : noise.shift >> 1;
            noise.shift = static_cast<std::uint16_t>((noise.shift >> 1) | (((noise.shift ^ other) & 1) << 14));
        }
        if (runs[4] && dmc.timer == 0) {
            dmc.timer = apu_dmc_rates[dmc.control & 0x0F];
            dmc_clock(dmc, image);
        }
        if (apu.frame.reset_delay && (apu.frame.reset_delay -= static_cast<std::uint8_t>(step)) == 0) {
            apu.frame.cycle = 0;
            if (apu.frame.five_step) {
                quarter_frame(apu);
                half_frame(apu);
            }
        } else if (step == frame_in) {
            frame_step(apu, *frame);
        }
        place_level(apu);
    }
}

void apu_write(ApuState& apu, const std::uint8_t* image, std::uint32_t cycle, std::uint16_t address,
               std::uint8_t value) {
    apu_run(apu, image, cycle);
    if (address < 0x4000 || address > 0x4017) return;
    const bool load_length = [&] {
        const std::uint32_t channel = (address - 0x4000) / 4;
        return channel < 4 && (apu.enabled >> channel & 1);
    }();
    if (address < 0x4008) {
        ApuPulse& pulse = apu.pulse[(address - 0x4000) / 4];
        switch (address & 3) {
        case 0: pulse.control = value; break;
        case 1:
            pulse.sweep = value;
            pulse.sweep_reload = 1;
            break;
        case 2: pulse.period = static_cast<std::uint16_t>((pulse.period & 0x700) | value); break;
        case 3:
            pulse.period = static_cast<std::uint16_t>((pulse.period & 0xFF) | (value & 7) << 8);
            if (load_length) pulse.length = apu_length_table[value >> 3];
            pulse.step = 0;
            pulse.envelope.start = 1;
            break;
        }
    } else if (address < 0x400C) {
        ApuTriangle& triangle = apu.triangle;
        if (address == 0x4008) triangle.control = value;
        else if (address == 0x400A) triangle.period = static_cast<std::uint16_t>((triangle.period & 0x700) | value);
        else if (address == 0x400B) {
            triangle.period = static_cast<std::uint16_t>((triangle.period & 0xFF) | (value & 7) << 8);
            if (load_length) triangle.length = apu_length_table[value >> 3];
            triangle.linear_reload = 1;
        }
    } else if (address < 0x4010) {
        ApuNoise& noise = apu.noise;
        if (address == 0x400C) noise.control = value;
        else if (address == 0x400E) noise.mode_period = value;
        else if (address == 0x400F) {
            if (load_length) noise.length = apu_length_table[value >> 3];
            noise.envelope.start = 1;
        }
    } else if (address < 0x4014) {
        ApuDmc& dmc = apu.dmc;
        if (address == 0x4010) {
            dmc.control = value;
            if (!(value & 0x80)) dmc.irq = 0;
        } else if (address == 0x4011) {
            dmc.level = value & 0x7F;
        } else if (address == 0x4012) {
            dmc.sample_address = value;
        } else {
            dmc.sample_length = value;
        }
    } else if (address == 0x4015) {
        apu.enabled = value & 0x1F;
        if (!(value & 1)) apu.pulse[0].length = 0;
        if (!(value & 2)) apu.pulse[1].length = 0;
        if (!(value & 4)) apu.triangle.length = 0;
        if (!(value & 8)) apu.noise.length = 0;
        apu.dmc.irq = 0;
        if (!(value & 0x10)) {
            apu.dmc.remaining = 0;
        } else if (apu.dmc.remaining == 0) {
            dmc_restart(apu.dmc);
            dmc_fetch(apu.dmc, image);
        }
    } else if (address == 0x4017) {
        apu.frame.five_step = value >> 7;
        apu.frame.inhibit = (value >> 6) & 1;
        if (apu.frame.inhibit) apu.frame.irq = 0;
        // The sequence restarts three or four cycles later, by the APU cycle's half.
        apu.frame.reset_delay = (cycle & 1) ? 4 : 3;
    }
    place_level(apu);
}

std::uint8_t apu_read_status(ApuState& apu, const std::uint8_t* image, std::uint32_t cycle) {
    apu_run(apu, image, cycle);
    const std::uint8_t status = static_cast<std::uint8_t>(
        (apu.pulse[0].length ? 1 : 0) | (apu.pulse[1].length ? 2 : 0) | (apu.triangle.length ? 4 : 0) |
        (apu.noise.length ? 8 : 0) | (apu.dmc.remaining ? 0x10 : 0) | (apu.frame.irq ? 0x40 : 0) |
        (apu.dmc.irq ? 0x80 : 0));
    apu.frame.irq = 0;
    return status;
}

bool apu_irq(const ApuState& apu) { return apu.frame.irq || apu.dmc.irq; }

std::uint32_t apu_end_frame(ApuState& apu, const std::uint8_t* image, std::uint32_t frame_cycles,
                            std::int16_t* out) {
    apu_run(apu, image, frame_cycles);
    const std::uint64_t end = std::uint64_t{frame_cycles} * apu.rate + apu.carry;
    std::uint32_t count = static_cast<std::uint32_t>(end / apu_cpu_hz);
    if (count > apu_max_frame_samples) count = apu_max_frame_samples;
    apu.carry = static_cast<std::uint32_t>(end % apu_cpu_hz);
    if (out == nullptr) {
        // Nothing is heard: the output settles on the present level at once.
        apu.integrator = apu.level * step_unit;
    }
    for (std::uint32_t i = 0; out != nullptr && i < count; ++i) {
        const std::int32_t before[5] = {apu.high90_in, apu.high90_out, apu.high440_in, apu.high440_out,
                                        apu.low14k_out};
        apu.integrator += apu.steps[i];
        // The filters work on 1/256 of a sample's unit, so that their rounding leaves no DC.
        const std::int32_t in = apu.integrator / step_unit * 3 / 2 * 256;  // the loudest mix near 24,600
        const auto high = [](std::int32_t coef, std::int32_t& last_in, std::int32_t& last_out, std::int32_t x) {
            last_out = static_cast<std::int32_t>(std::int64_t{coef} * (last_out + x - last_in) >> 16);
            last_in = x;
            return last_out;
        };
        std::int32_t x = high(apu.high90_coef, apu.high90_in, apu.high90_out, in);
        x = high(apu.high440_coef, apu.high440_in, apu.high440_out, x);
        apu.low14k_out += static_cast<std::int32_t>(std::int64_t{apu.low14k_coef} * (x - apu.low14k_out) >> 16);
        x = (apu.low14k_out + 128) >> 8;
        out[i] = static_cast<std::int16_t>(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
        // Past the frame's last step, filters that came to rest give this sample to the end.
        const std::int32_t after[5] = {apu.high90_in, apu.high90_out, apu.high440_in, apu.high440_out,
                                       apu.low14k_out};
        if (i >= apu.steps_end && std::memcmp(before, after, sizeof before) == 0) {
            for (std::uint32_t j = i + 1; j < count; ++j) out[j] = out[i];
            break;
        }
    }
    // The steps' tails that fall into the next frame move to its start; past steps_end all is
    // still empty.
    std::memmove(apu.steps, apu.steps + count, apu_step_taps * sizeof apu.steps[0]);
    const std::uint32_t used = apu.steps_end < count + apu_step_taps ? apu.steps_end : count + apu_step_taps;
    if (used > apu_step_taps) std::memset(apu.steps + apu_step_taps, 0, (used - apu_step_taps) * sizeof apu.steps[0]);
    apu.steps_end = apu_step_taps;
    apu.now = 0;
    return count;
}

std::uint32_t apu_irq_in(const ApuState& apu) {
    std::uint32_t due = ~0u;
    const ApuFrameCounter& frame = apu.frame;
    if (!frame.five_step && !frame.inhibit && !frame.irq) {
        constexpr std::uint32_t irq_step = 29828;
        if (frame.reset_delay) due = frame.reset_delay + irq_step;
        else if (frame.cycle < irq_step) due = irq_step - frame.cycle;
    }
    const ApuDmc& dmc = apu.dmc;
    if ((dmc.control & 0xC0) == 0x80 && dmc.remaining && !dmc.irq) {
        // The last byte is fetched when the one before it has been shifted out, or sooner.
        const std::uint32_t rate = apu_dmc_rates[dmc.control & 0x0F];
        const std::uint32_t at = dmc.timer + 8u * rate * (dmc.remaining - 1u);
        if (at < due) due = at;
    }
    return due;
}

// ---- States ---------------------------------------------------------------------------------
namespace {

// Every field that lasts from one frame to the next, with the largest magnitude the unit gives
// it. The filters' coefficients follow from the rate, and the steps past the taps are empty.
template <typename Visit>
constexpr void visit_fields(ApuState& apu, Visit&& field) {
    constexpr std::uint32_t any = 0xFFFFFFFF, wide = 1u << 28;
    for (ApuPulse& p : apu.pulse) {
        field(p.control, any), field(p.sweep, any), field(p.period, 0x7FF), field(p.timer, 4096);
        field(p.step, 7), field(p.length, 254), field(p.sweep_divider, 7), field(p.sweep_reload, 1);
        field(p.envelope.start, 1), field(p.envelope.divider, 15), field(p.envelope.decay, 15);
    }
    ApuTriangle& t = apu.triangle;
    field(t.control, any), field(t.linear, 127), field(t.linear_reload, 1), field(t.length, 254);
    field(t.step, 31), field(t.period, 0x7FF), field(t.timer, 2048);
    ApuNoise& n = apu.noise;
    field(n.control, any), field(n.mode_period, any), field(n.length, 254);
    field(n.envelope.start, 1), field(n.envelope.divider, 15), field(n.envelope.decay, 15);
    field(n.shift, 0x7FFF), field(n.timer, 4068);
    ApuDmc& d = apu.dmc;
    field(d.control, any), field(d.level, 127), field(d.sample_address, any), field(d.sample_length, any);
    field(d.address, any), field(d.remaining, 0xFF * 16 + 1), field(d.buffer, any), field(d.buffer_full, 1);
    field(d.shift, any), field(d.bits, 8), field(d.silence, 1), field(d.irq, 1), field(d.timer, 428);
    ApuFrameCounter& f = apu.frame;
    field(f.five_step, 1), field(f.inhibit, 1), field(f.irq, 1), field(f.reset_delay, 4), field(f.cycle, 37282);
    field(apu.enabled, 0x1F), field(apu.level, wide), field(apu.carry, apu_cpu_hz - 1);
    field(apu.integrator, wide), field(apu.high90_in, wide), field(apu.high90_out, wide);
    field(apu.high440_in, wide), field(apu.high440_out, wide), field(apu.low14k_out, wide);
    for (std::uint32_t i = 0; i < apu_step_taps; ++i) field(apu.steps[i], wide);
}

static_assert([] {
    ApuState apu{};
    std::uint32_t total = 0;
    visit_fields(apu, [&total](auto& value, std::uint32_t) { total += sizeof value; });
    return total;
}() == apu_state_bytes);

}  // namespace

void apu_save(const ApuState& apu, std::uint8_t* out) {
    visit_fields(const_cast<ApuState&>(apu), [&out](auto& value, std::uint32_t) {
        using Unsigned = std::make_unsigned_t<std::remove_reference_t<decltype(value)>>;
        const auto bits = static_cast<Unsigned>(value);
        for (std::size_t i = 0; i < sizeof value; ++i) *out++ = static_cast<std::uint8_t>(bits >> (8 * i));
    });
}

bool apu_load(ApuState& apu, const std::uint8_t* in) {
    ApuState taken = apu;
    bool sound = true;
    visit_fields(taken, [&in, &sound](auto& value, std::uint32_t largest) {
        using Field = std::remove_reference_t<decltype(value)>;
        using Unsigned = std::make_unsigned_t<Field>;
        Unsigned bits = 0;
        for (std::size_t i = 0; i < sizeof value; ++i) bits = static_cast<Unsigned>(bits | Unsigned{*in++} << (8 * i));
        value = static_cast<Field>(bits);
        if constexpr (std::is_signed_v<Field>)
            sound = sound && value >= -static_cast<std::int64_t>(largest) && value <= static_cast<std::int64_t>(largest);
        else
            sound = sound && value <= largest;
    });
    // What no run of the unit leaves: timers and counters at 0, an empty shift register, a
    // fetch outside the cartridge, and a level other than the channels' mix.
    for (const ApuPulse& p : taken.pulse) sound = sound && p.timer != 0;
    sound = sound && taken.triangle.timer != 0 && taken.noise.timer != 0 && taken.noise.shift != 0;
    sound = sound && taken.dmc.timer != 0 && taken.dmc.bits != 0 && taken.dmc.address >= 0x8000;
    sound = sound && taken.level == mixed_level(taken);
    if (!sound) return false;
    std::memset(taken.steps + apu_step_taps, 0, sizeof taken.steps - apu_step_taps * sizeof taken.steps[0]);
    taken.steps_end = apu_step_taps;
    taken.now = 0;
    apu = taken;
    return true;
}
