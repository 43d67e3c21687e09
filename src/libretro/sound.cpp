#include "libretro/sound.h"

#include <cstddef>
#include <cstring>

#include "cpu/cpu.h"
#include "core/host.h"
#include "loop/pass_loop.h"

namespace {

struct CoreSound {
    ApuState apu;
    RunState* run = nullptr;
    std::uint64_t frame_start = 0;  // instructions before the frame
    std::uint32_t half_cycle = 0;   // 1 in the frames that start half a CPU cycle into one
    std::uint32_t stop_pass = 0;    // where the present run ends
    bool stopped_early = false;     // the present run was ended for an interrupt a write moved
    std::uint64_t silence_carry = 0;  // the samples' pace while no machine runs
    std::int16_t mono[apu_max_frame_samples];
    std::int16_t stereo[2 * 1024];
};
CoreSound sound;

// ---- Time -----------------------------------------------------------------------------------
// A frame is 8,228 instructions and 29,780.5 CPU cycles: pass k of a frame starts at cycle
// (k * 59,561 + h * 8,228) / 16,456, whole cycles from the frame's start, where h is 1 in the
// frames that start half a cycle into one (every other frame).
constexpr std::uint32_t cycles_twice = 59561, passes_twice = 2 * passes_per_frame;

std::uint32_t cycle_of(std::uint32_t pass) {
    return static_cast<std::uint32_t>((std::uint64_t{pass} * cycles_twice + sound.half_cycle * passes_per_frame) /
                                      passes_twice);
}

// The first pass that starts at or after `cycle`.
std::uint32_t pass_of(std::uint64_t cycle) {
    const std::uint64_t scaled = cycle * passes_twice;
    const std::uint64_t offset = sound.half_cycle * passes_per_frame;
    if (scaled <= offset) return 0;
    const std::uint64_t pass = (scaled - offset + cycles_twice - 1) / cycles_twice;
    return pass > passes_per_frame ? passes_per_frame : static_cast<std::uint32_t>(pass);
}

// The pass being run: the instruction that reads or writes a sound register.
std::uint32_t present_pass() {
    const std::uint64_t pass = sound.run->cycle_count / 4 - 1 - sound.frame_start;
    return pass < passes_per_frame ? static_cast<std::uint32_t>(pass) : passes_per_frame;
}

// The pass at which the unit's interrupt may next rise, after `pass`.
std::uint32_t next_irq_pass(std::uint32_t pass) {
    const std::uint32_t in = apu_irq_in(sound.apu);
    if (in == ~0u) return passes_per_frame;
    const std::uint32_t at = pass_of(std::uint64_t{sound.apu.now} + in);
    return at > pass ? at : pass + 1;
}

}  // namespace

// ---- The seams --------------------------------------------------------------------------------
void sound_write(std::uint8_t* image, std::uint32_t address, std::uint8_t value) {
    if (sound.run == nullptr) return;
    const std::uint32_t pass = present_pass();
    apu_write(sound.apu, image, cycle_of(pass), static_cast<std::uint16_t>(address), value);
    // A write that brings an interrupt forward (a DMC sample started, its rate or its IRQ
    // changed) ends the run after this instruction, so that the interrupt is not taken late.
    if (next_irq_pass(pass) < sound.stop_pass) {
        sound.stop_pass = pass + 1;
        sound.stopped_early = true;
        sound.run->quit.set(1);
    }
}

std::uint8_t sound_status(std::uint8_t* image, std::uint8_t kept) {
    if (sound.run == nullptr) return kept;
    return apu_read_status(sound.apu, image, cycle_of(present_pass()));
}

// ---- The frame --------------------------------------------------------------------------------
void sound_power(RunState& state, std::uint32_t rate) {
    sound.run = &state;
    apu_power(sound.apu, rate);
}

ApuState& sound_unit() { return sound.apu; }

void sound_reset(std::uint8_t* image) {
    ApuState& apu = sound.apu;
    apu_write(apu, image, apu.now, 0x4015, 0);
    apu_write(apu, image, apu.now, 0x4017, static_cast<std::uint8_t>(apu.frame.five_step << 7 | apu.frame.inhibit << 6));
}

bool irq_input_raised() { return apu_irq(sound.apu); }

bool sound_run_frame(RunState& state, std::uint8_t* image) {
    sound.run = &state;
    sound.frame_start = state.cycle_count / 4;
    sound.half_cycle = static_cast<std::uint32_t>(sound.frame_start / passes_per_frame & 1);
    std::uint32_t pass = 0;
    while (pass < passes_per_frame) {
        sound.stop_pass = next_irq_pass(pass);
        std::uint64_t skipped = 0;
        emulation_run(state, image, 0, sound.stop_pass - pass, Execution::fast, skipped, nullptr);
        if (sound.stopped_early) {
            sound.stopped_early = false;
            state.quit.set(0);
        } else if (state.quit.get() == 1) {
            return false;
        }
        pass = sound.stop_pass;
        // The interrupt as it stands here: taken now when I is clear, else by the instruction
        // that clears I.
        apu_run(sound.apu, image, cycle_of(pass));
        if (apu_irq(sound.apu) && flag_get(flag::I, state.registers.p) == 0 && state.interrupt_cause == 0) {
            state.interrupt_cause = 1;
            CpuRegisters& r = state.registers;
            cpu_service_interrupts(state.reset_request, state.nmi_request, state.interrupt_cause, r.pc, r.sp, r.p,
                                   image);
        }
    }
    return true;
}

void sound_end_frame(std::uint8_t* image, Heard heard, SampleBatch batch) {
    std::uint32_t count = 0;
    if (heard == Heard::nothing_ran) {
        // The unit waits with the machine; the frontend still has a frame's worth of silence.
        sound.silence_carry += std::uint64_t{cycle_of(passes_per_frame)} * sound.apu.rate;
        count = static_cast<std::uint32_t>(sound.silence_carry / apu_cpu_hz);
        sound.silence_carry %= apu_cpu_hz;
    } else {
        count = apu_end_frame(sound.apu, image, cycle_of(passes_per_frame), heard == Heard::on ? sound.mono : nullptr);
    }
    constexpr std::uint32_t most = sizeof sound.stereo / sizeof sound.stereo[0] / 2;
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t frames = count - done < most ? count - done : most;
        if (heard == Heard::on)
            for (std::uint32_t i = 0; i < frames; ++i) sound.stereo[2 * i] = sound.stereo[2 * i + 1] = sound.mono[done + i];
        else
            std::memset(sound.stereo, 0, 2 * frames * sizeof sound.stereo[0]);
        if (batch != nullptr) batch(sound.stereo, frames);
        done += frames;
    }
}
