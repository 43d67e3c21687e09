#include "apu/apu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t frame_cycles[2] = {29780, 29781};  // 29,780.5 a frame on average

struct Rig {
    std::unique_ptr<ApuState> apu = std::make_unique<ApuState>();
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(0x10000, 0);
    std::uint64_t frames = 0;
    explicit Rig(std::uint32_t rate = 48000) { apu_power(*apu, rate); }
    void write(std::uint16_t address, std::uint8_t value, std::uint32_t cycle = 0) {
        apu_write(*apu, image.data(), cycle, address, value);
    }
    // Whole frames of samples.
    std::vector<std::int16_t> play(int count) {
        std::vector<std::int16_t> all;
        std::int16_t out[apu_max_frame_samples];
        for (int i = 0; i < count; ++i) {
            const std::uint32_t n = apu_end_frame(*apu, image.data(), frame_cycles[frames++ & 1], out);
            all.insert(all.end(), out, out + n);
        }
        return all;
    }
};

// Power of a tone in the samples (Goertzel), relative to a full-scale sine's.
double tone_power(const std::vector<std::int16_t>& samples, double hz, double rate = 48000) {
    const double w = 2 * M_PI * hz / rate;
    double s1 = 0, s2 = 0;
    for (std::int16_t x : samples) {
        const double s0 = x + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    const double full = 32768.0 * samples.size() / 2;
    return power / (full * full);
}

// The frequency of the strongest tone between lo and hi, to a tenth of a hertz.
double strongest_tone(const std::vector<std::int16_t>& samples, double lo, double hi) {
    double best = lo, best_power = -1;
    for (double step : {10.0, 1.0, 0.1}) {
        const double from = best_power < 0 ? lo : best - 10 * step, to = best_power < 0 ? hi : best + 10 * step;
        for (double hz = from; hz <= to; hz += step) {
            const double power = tone_power(samples, hz);
            if (power > best_power) best_power = power, best = hz;
        }
    }
    return best;
}

}  // namespace

// Each channel's timer gives the documented pitch: pulse 1,789,773 / (16 (t + 1)), triangle
// 1,789,773 / (32 (t + 1)), measured in the output over one second.
TEST(Apu, ChannelPitchesFollowTheirTimers) {
    struct Case {
        const char* what;
        std::uint16_t base;  // the channel's first register
        std::uint16_t timer;
        double divisor;
    } cases[] = {
        {"pulse 1 A440", 0x4000, 253, 16}, {"pulse 2", 0x4004, 126, 16}, {"pulse 1 low", 0x4000, 1000, 16},
        {"triangle A220", 0x4008, 253, 32}, {"triangle high", 0x4008, 60, 32},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.write(0x4015, 0x0F);
        rig.write(c.base, c.base == 0x4008 ? 0xFF : 0xBF);  // length halted, constant volume 15
        rig.write(c.base + 2, c.timer & 0xFF);
        rig.write(c.base + 3, static_cast<std::uint8_t>(c.timer >> 8 | 0x08));
        rig.play(6);  // the filters settle
        const double expected = apu_cpu_hz / (c.divisor * (c.timer + 1));
        const double measured = strongest_tone(rig.play(60), expected * 0.9, expected * 1.1);
        EXPECT_NEAR(measured, expected, expected * 0.002) << c.what;
    }
}

// The length counter: loaded from the table, counted down twice a 4-step sequence (at 14,913
// and 29,829 cycles), held by the halt bit, cleared by disabling the channel; 0x4015 shows it.
TEST(Apu, LengthCountersCountHalfFramesAndShowIn4015) {
    for (std::uint8_t index : {0, 1, 3, 5, 30}) {
        Rig rig;
        rig.write(0x4015, 0x0F);
        rig.write(0x400F, static_cast<std::uint8_t>(index << 3));
        const std::uint32_t length = apu_length_table[index];
        // The half-frame clock that empties it: the length-th of them.
        const std::uint32_t last = length - 1;
        const std::uint64_t at = (last / 2) * 29830ull + (last % 2 ? 29829 : 14913);
        std::uint64_t now = 0;
        while (now + 29780 < at) {
            rig.play(1);
            now += frame_cycles[(rig.frames - 1) & 1];
        }
        const std::uint32_t before = static_cast<std::uint32_t>(at - now);
        EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), before - 1) & 8, 8) << int(index);
        EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), before) & 8, 0) << int(index);
    }
    EXPECT_EQ(apu_length_table[1], 254);
    EXPECT_EQ(apu_length_table[31], 30);

    Rig rig;
    rig.write(0x4015, 0x0F);
    rig.write(0x4000, 0x20);  // halted
    rig.write(0x4003, 0x00);  // length 10
    rig.write(0x4007, 0x00);  // pulse 2 not halted
    rig.play(10);
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 0) & 0x1F, 0x01);
    rig.write(0x4015, 0x00);
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 0) & 0x1F, 0x00);
    rig.write(0x4003, 0x00);  // a disabled channel takes no length
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 0) & 0x1F, 0x00);
}

// The envelope decays from 15 by one every period + 1 quarter frames and loops when asked; the
// sweep's target adds or takes the shifted period, one less for pulse 1, and mutes the channel
// past 0x7FF or below 8.
TEST(Apu, EnvelopeDecayAndSweepTargets) {
    // Quarter frames by a time: at 7,457, 14,913, 22,371 and 29,829 of every 29,830 cycles.
    const auto quarters_by = [](std::uint64_t t) {
        std::uint64_t q = t / 29830 * 4;
        for (std::uint32_t at : {7457, 14913, 22371, 29829}) q += t % 29830 >= at;
        return q;
    };
    for (std::uint8_t control : {0x00, 0x03, 0x20, 0x21}) {
        Rig rig;
        rig.write(0x4015, 0x01);
        rig.write(0x4000, control);
        rig.write(0x4003, 0x08);
        const std::uint64_t period = (control & 0x0F) + 1u;
        std::uint64_t now = 0;
        for (int frame = 0; frame < 20; ++frame) {
            rig.play(1);
            now += frame_cycles[frame & 1];
            const std::uint64_t steps = (quarters_by(now) - 1) / period;  // the first quarter starts it
            const std::uint64_t expected = (control & 0x20) ? 15 - steps % 16 : steps >= 15 ? 0 : 15 - steps;
            ASSERT_EQ(rig.apu->pulse[0].envelope.decay, expected) << int(control) << " frame " << frame;
        }
    }
    struct Sweep {
        int channel;
        std::uint16_t period;
        std::uint8_t sweep;
        std::uint16_t after;  // the period after one half-frame clock of the sweep
        bool muted;
    } sweeps[] = {
        {0, 0x100, 0x81, 0x180, false}, {0, 0x100, 0x89, 0x7F, false}, {1, 0x100, 0x89, 0x80, false},
        {1, 0x600, 0x81, 0x600, true},  {0, 0x007, 0x00, 0x007, true},  {1, 0x400, 0x01, 0x400, false},
    };
    for (const Sweep& s : sweeps) {
        Rig rig;
        const std::uint16_t base = s.channel ? 0x4004 : 0x4000;
        rig.write(0x4015, 0x03);
        rig.write(base + 1, s.sweep);
        rig.write(base + 2, s.period & 0xFF);
        rig.write(base + 3, static_cast<std::uint8_t>(s.period >> 8 | 0xF8));
        apu_run(*rig.apu, rig.image.data(), 14914);  // the first half frame
        EXPECT_EQ(rig.apu->pulse[s.channel].period, s.after) << s.channel << " " << s.period;
        EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 14914) & (1 << s.channel), 1 << s.channel);
        rig.write(base, 0xBF, 14914);  // constant volume 15, half duty
        const std::int32_t silence = rig.apu->level;
        bool sounds = false;
        for (std::uint32_t at = 14915; at < 14915 + 16 * (s.period + 1u); at += 5) {
            apu_run(*rig.apu, rig.image.data(), at);
            sounds |= rig.apu->level != silence;
        }
        EXPECT_EQ(sounds, !s.muted) << s.channel << " " << s.period;
    }
}

// The frame counter: the 4-step sequence raises its IRQ at 29,828 unless inhibited, a read of
// 0x4015 clears it; the 5-step sequence raises none, and a write that selects it clocks the
// quarter and half frame at once.
TEST(Apu, FrameCounterSequencesAndIrq) {
    Rig rig;
    apu_run(*rig.apu, rig.image.data(), 29827);
    EXPECT_FALSE(apu_irq(*rig.apu));
    apu_run(*rig.apu, rig.image.data(), 29828);
    EXPECT_TRUE(apu_irq(*rig.apu));
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 29828), 0x40);
    EXPECT_FALSE(apu_irq(*rig.apu));
    // Set again on the next two cycles, the second of which starts the next sequence.
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 29831), 0x40);
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 29832), 0x00);
    rig.write(0x4017, 0x40, 29833);  // inhibit
    apu_run(*rig.apu, rig.image.data(), 29833 + 3 * 29830);
    EXPECT_FALSE(apu_irq(*rig.apu));

    Rig five;
    five.write(0x4015, 0x01);
    five.write(0x4003, 0x18);  // length 2
    five.write(0x4017, 0x80, 100);
    apu_run(*five.apu, five.image.data(), 104);
    EXPECT_EQ(five.apu->pulse[0].length, 1);  // the immediate half frame
    five.play(4);
    EXPECT_FALSE(apu_irq(*five.apu));
    // Restarted three cycles after the write (an even cycle): three sequences of 37,282 in.
    EXPECT_EQ(five.apu->frame.cycle, 119122u - 103 - 3 * 37282);
}

// The DMC: NTSC rates, fetches from 0xC000 + A x 64 wrapping to 0x8000 after 0xFFFF, L x 16 + 1
// bytes, its IRQ at the end unless it loops, the direct load through 0x4011.
TEST(Apu, DmcRatesFetchesAndIrq) {
    EXPECT_EQ(apu_dmc_rates[0], 428);
    EXPECT_EQ(apu_dmc_rates[15], 54);
    for (std::uint8_t rate : {0, 7, 15}) {
        Rig rig;
        std::memset(rig.image.data() + 0xC000, 0xFF, 0x4000);
        rig.write(0x4011, 0);
        rig.write(0x4010, rate);
        rig.write(0x4012, 0);
        rig.write(0x4013, 1);  // 17 bytes
        rig.write(0x4015, 0x10);
        // The power-on timer (428 cycles) runs out first; then each output clock of a 0xFF
        // byte raises the level by 2.
        const std::uint32_t period = apu_dmc_rates[rate], start = 428 + 8 * period;
        apu_run(*rig.apu, rig.image.data(), start);
        const std::uint8_t before = rig.apu->dmc.level;
        apu_run(*rig.apu, rig.image.data(), start + 20 * period);
        EXPECT_EQ(rig.apu->dmc.level - before, 2 * 20) << int(rate);
    }
    Rig rig;
    rig.image[0xFFFF] = 0xAA;
    rig.image[0x8000] = 0x55;
    rig.write(0x4010, 0x8F);  // IRQ, fastest
    rig.write(0x4012, 0xFF);  // 0xFFC0
    rig.write(0x4013, 4);     // 65 bytes: 0xFFC0-0xFFFF then 0x8000
    rig.write(0x4015, 0x10);
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), 0) & 0x10, 0x10);
    // Output clock n at 428 + (n - 1) x 54; byte k is fetched at the clock 8 k that empties the
    // buffer into the shifter (byte 0 at the write).
    const auto clock = [](std::uint32_t n) { return 428 + (n - 1) * 54; };
    apu_run(*rig.apu, rig.image.data(), clock(8 * 63));
    EXPECT_EQ(rig.apu->dmc.buffer, 0xAA);
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), clock(8 * 63)), 0x10);
    apu_run(*rig.apu, rig.image.data(), clock(8 * 64));
    EXPECT_EQ(rig.apu->dmc.buffer, 0x55);
    EXPECT_EQ(rig.apu->dmc.address, 0x8001);
    EXPECT_EQ(apu_read_status(*rig.apu, rig.image.data(), clock(8 * 64)), 0x80);
    EXPECT_TRUE(apu_irq(*rig.apu));
    rig.write(0x4015, 0x00, clock(8 * 64) + 1);
    EXPECT_FALSE(apu_irq(*rig.apu));
}

// The output: a pulse at 12.4 kHz leaves its folded harmonics (10.7 kHz, 14.1 kHz, ...) far
// below itself; the loudest mix does not clip; silence has no DC; and the samples do not
// depend on where the frames end, so frame edges cannot click.
TEST(Apu, OutputIsBandLimitedCleanAndIndependentOfFrameEdges) {
    Rig high;
    high.write(0x4015, 0x01);
    high.write(0x4000, 0xBF);
    high.write(0x4002, 8);
    high.write(0x4003, 0x08);
    high.play(6);
    const std::vector<std::int16_t> tone = high.play(60);
    const double fundamental = apu_cpu_hz / (16.0 * 9);
    const double loud = tone_power(tone, fundamental);
    for (double alias : {48000 - 3 * fundamental, 5 * fundamental - 48000, 96000 - 7 * fundamental})
        EXPECT_LT(tone_power(tone, alias), loud * 1e-5) << alias << " Hz";

    Rig loudest;
    loudest.write(0x4015, 0x0F);
    for (std::uint16_t base : {0x4000, 0x4004, 0x400C}) loudest.write(base, 0x3F), loudest.write(base + 3, 0x08);
    loudest.write(0x4002, 0xFF);
    loudest.write(0x4006, 0xFF);
    loudest.write(0x4008, 0xFF);
    loudest.write(0x400A, 0xFF);
    loudest.write(0x400B, 0x08);
    loudest.write(0x4011, 0x7F);
    std::int32_t peak = 0;
    for (std::int16_t x : loudest.play(120)) peak = std::max<std::int32_t>(peak, std::abs(x));
    EXPECT_GT(peak, 8000);
    EXPECT_LT(peak, 32767);

    Rig quiet;
    quiet.write(0x4011, 0x7F);  // a DC step that the high-pass takes away
    quiet.play(120);
    double mean = 0;
    const std::vector<std::int16_t> rest = quiet.play(60);
    for (std::int16_t x : rest) mean += x;
    EXPECT_LT(std::abs(mean / rest.size()), 1.0);

    // The same writes, once in console frames and once in frames of other lengths.
    const auto run = [](const std::uint32_t* lengths, int count) {
        Rig rig;
        std::vector<std::int16_t> all;
        std::int16_t out[apu_max_frame_samples];
        std::uint32_t frame = 0;
        for (int i = 0; i < count; ++i) {
            const std::uint32_t length = lengths[i % 2];
            for (std::uint32_t at = (frame + 999) / 1000 * 1000; at < frame + length; at += 1000) {
                const std::uint8_t note = static_cast<std::uint8_t>(at / 1000 * 37);
                rig.write(0x4000, 0x9F, at - frame);
                rig.write(0x4002, note, at - frame);
                rig.write(0x4015, 0x01, at - frame);
                rig.write(0x4003, 0x08, at - frame);
            }
            const std::uint32_t n = apu_end_frame(*rig.apu, rig.image.data(), length, out);
            all.insert(all.end(), out, out + n);
            frame += length;
        }
        return all;
    };
    const std::uint32_t console[2] = {29780, 29781}, other[2] = {10000, 19561};
    const std::vector<std::int16_t> a = run(console, 20), b = run(other, 42);
    ASSERT_GE(b.size(), a.size());
    EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin()));
}

// The same state and the same writes give the same samples.
TEST(Apu, SameStateGivesTheSameSamples) {
    Rig rig;
    rig.write(0x4015, 0x0F);
    rig.write(0x400C, 0x3F);
    rig.write(0x400E, 0x83);
    rig.write(0x400F, 0x08);
    rig.write(0x4008, 0xFF);
    rig.write(0x400A, 0x80);
    rig.write(0x400B, 0x08);
    rig.play(7);
    Rig copy;
    std::memcpy(copy.apu.get(), rig.apu.get(), sizeof(ApuState));
    copy.frames = rig.frames;
    EXPECT_EQ(rig.play(30), copy.play(30));
}
