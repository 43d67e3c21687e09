#include "loop/pass_loop.h"

#include <algorithm>
#include <cstdint>

#include "bus/bus.h"
#include "core/host.h"
#include "cpu/cpu.h"
#include "ppu/timing.h"

namespace {

// ---- Sprite DMA --------------------------------------------------------------------------
// One byte per instruction, read through the bus like a CPU read.
void sprite_dma_step(std::uint8_t* image) {
    const std::uint8_t index = image[priv::dma_index];
    std::uint8_t byte = 0;  // a read that delivers nothing copies 0x00
    bus_read(byte, image, image[priv::dma_page] * 256u + index);
    image[priv::sprite_memory + index] = byte;
    image[priv::dma_index] = static_cast<std::uint8_t>(index + 1);
    if (image[priv::dma_index] == 0) image[priv::dma_active] = 0;
}

}  // namespace

void display_update_start(RunState& state, std::uint8_t* image) {
    image[priv::display_update] = state.fast_mode == 1 ? 1 : 0xFF;
}

void load_reset_vector(RunState& state, const std::uint8_t* image) {
    state.registers.pc = read_vector(image, reset_vector);
}

void emulation_prepare(RunState& state, std::uint8_t* image) {
    display_update_start(state, image);
    load_reset_vector(state, image);
}

namespace {

// ---- The evaluation stop's clock ------------------------------------------------------------
// The clock is read when the instruction count reaches a multiple of 10000; a countdown to
// that moment is cheaper per pass than dividing the count.
struct EvaluationClock {
    std::uint32_t start_ticks;
    std::uint32_t until_check;  // passes to go to the next multiple of 10000, 1 to 10000

    EvaluationClock(std::uint32_t start, std::uint64_t cycle_count)
        : start_ticks(start), until_check(10000 - static_cast<std::uint32_t>(cycle_count / 4 % 10000)) {}
};

// ---- One pass --------------------------------------------------------------------------------
// One instruction with everything around it. The debugger and the evaluation stop are template
// switches: the modes are fixed for the whole run, so a run without them carries no test for
// them; the debugger's turn is the host's (a trace run gives one). The watched form also answers
// whether the instruction was a pure read (cpu_execute_watched). The plain form answers whether
// the instruction jumped back a few bytes (cpu_execute).
template <bool Trace, bool Evaluation, bool Watched = false>
[[gnu::always_inline]] inline bool run_pass(RunState& state, std::uint8_t* image,
                                            EvaluationClock& clock, DebuggerTurn debugger = nullptr) {
    CpuRegisters& registers = state.registers;
    ppu_tick(image, state.surface, state.line_cycles, state.nmi_request, state.frame_count,
             state.frame_skip, state.scanline, state.mirroring);
    bus_read(state.opcode, image, registers.pc);
    state.cycle_count += 4;
    state.line_cycles += 4;
    bool answer;
    if constexpr (Watched)
        answer = cpu_execute_watched(state.quit, state.opcode, registers, image, state.interrupt_cause);
    else
        answer = cpu_execute(state.quit, state.opcode, registers, image, state.interrupt_cause);
    cpu_service_interrupts(state.reset_request, state.nmi_request, state.interrupt_cause,
                           registers.pc, registers.sp, registers.p, image);
    if constexpr (Trace) {
        if (state.quit.get() == 0) debugger(state, image);
    }
    if constexpr (Evaluation) {
        // The clock is read only once every 10000 instructions.
        if (--clock.until_check == 0) [[unlikely]] {
            clock.until_check = 10000;
            if (host_ticks() - clock.start_ticks > 5000) {
                state.quit.set(1);
                print_text("Inst/sec: %llu (375K in a real NES)\n\n",
                           static_cast<unsigned long long>(state.cycle_count / 20));
            }
        }
    }
    if (image[priv::dma_active] == 1) [[unlikely]]
        sprite_dma_step(image);
    return answer;
}

// ---- Wait-loop fast-forward ------------------------------------------------------------------
// Games spend most of their instructions in short loops that poll memory until something outside
// them happens: the NMI bumps a frame counter, the sprite-0 hit raises a flag of 0x2002. Once
// one pass of such a loop, from its head back to its head, has read nothing but RAM, PRG and
// 0x2002, written nothing, and left the registers, the flags and what a 0x2002 read changes
// (status byte, VRAM address, write toggle) exactly as they were, the machine is at a fixed
// point: the image cannot have changed at any moment of the pass (a 0x2002 read only clears,
// and nothing in the pass could set again), so every later pass reads the same bytes and goes
// through the same register values, instruction by instruction, as this one did.
//
// That holds as long as nothing outside the CPU acts: no pending interrupt, reset, quit or sprite
// DMA, no sprite-0 flag rising where the pass sees it low, no vertical-blank step (it sets a
// flag of 0x2002 and may request the NMI), no evaluation clock check, the pass limit not reached.
// Until the first of those, the instructions are counted instead of run: the counters move as
// one-by-one execution moves them, every PPU timing step on the way is made when its turn comes
// (a plain line step reads and changes nothing that the loop reads), and the registers are left
// as the watched pass had them after the same instruction. Quit and reset requests are looked
// at before every line step, so the window is still answered within a line.

constexpr std::uint32_t loop_max_instructions = 16;  // the longest pass looked at

// What one pass of a wait loop may change and must find as it was.
struct LoopSnapshot {
    CpuRegisters registers;
    std::uint8_t status, vram_hi, vram_lo, toggle;

    static LoopSnapshot of(const RunState& state, const std::uint8_t* image) {
        return {state.registers, image[ppu_status], image[priv::vram_addr_hi],
                image[priv::vram_addr_lo], image[priv::ppu_write_toggle]};
    }
    bool operator==(const LoopSnapshot& o) const {
        const CpuRegisters& r = registers;
        return r.a == o.registers.a && r.x == o.registers.x && r.y == o.registers.y &&
               r.sp == o.registers.sp && r.p == o.registers.p && r.pc == o.registers.pc &&
               status == o.status && vram_hi == o.vram_hi && vram_lo == o.vram_lo &&
               toggle == o.toggle;
    }
};

// Nothing but the CPU itself can act in the next pass.
inline bool nothing_pending(RunState& state, const std::uint8_t* image) {
    return state.nmi_request == 0 && state.interrupt_cause == 0 && state.reset_request.get() == 0 &&
           state.quit.get() == 0 && image[priv::dma_active] == 0;
}

// The sprite-0 test of ppu_tick would change 0x2002 at this line_cycles value.
inline bool sprite0_would_rise(std::uint32_t line_cycles, std::uint8_t hit_cycle, std::uint8_t status) {
    return hit_cycle > 4 && line_cycles >= hit_cycle && (status & 0x40) == 0;
}

// Heads of loops whose pass wrote, read a register or changed something. Such a head is looked
// at again only after some line steps, twice as many after each new failure (up to 128), so a
// loop that copies or counts costs next to nothing, and a wait loop that failed once, as its
// first pass does when it clears a flag, is taken up again a line later. Lines are counted as
// frame_count * 242 + scanline; where that wraps, a retry only comes earlier or later.
inline std::uint32_t line_number(const RunState& state) { return state.frame_count * 242 + state.scanline; }

struct LoopMemory {
    // The head last held back, and the line from which it may be tried again: until then the
    // loop passes it over without a call.
    std::uint32_t blocked_head = ~0u;
    std::uint32_t blocked_until = 0;
    struct Entry {
        std::uint32_t head = ~0u;
        std::uint32_t failures = 0;
        std::uint32_t retry_line = 0;
    };
    Entry entries[8];

    bool passes_over(std::uint32_t head, std::uint32_t line) const {
        return head == blocked_head && static_cast<std::int32_t>(blocked_until - line) > 0;
    }
    bool holds_back(std::uint32_t head, std::uint32_t line) {
        const Entry& e = entries[head % 8];
        if (e.head != head || e.failures == 0 || static_cast<std::int32_t>(e.retry_line - line) <= 0)
            return false;
        blocked_head = head;
        blocked_until = e.retry_line;
        return true;
    }
    void failed(std::uint32_t head, std::uint32_t line) {
        Entry& e = entries[head % 8];
        if (e.head != head) e = Entry{head, 0, 0};
        if (e.failures < 8) ++e.failures;
        e.retry_line = line + (1u << e.failures) / 2;
        blocked_head = head;
        blocked_until = e.retry_line;
    }
    void succeeded(std::uint32_t head) {
        Entry& e = entries[head % 8];
        if (e.head == head) e.failures = 0;
    }
};

// Called when the instruction at `end` has jumped back to registers.pc, the loop's head. Runs
// the next pass of the loop watched, instruction by instruction, and when it proves to be a fixed
// point counts the passes that repeat it unchanged. Returns the number of instructions run or
// counted, at most passes_left; skipped_passes receives the ones counted.
template <bool Evaluation>
[[gnu::noinline]] std::uint64_t wait_loop_fast_forward(RunState& state, std::uint8_t* image,
                                                       EvaluationClock& clock, std::uint32_t end,
                                                       std::uint64_t passes_left, LoopMemory& memory,
                                                       std::uint64_t& skipped_passes) {
    const std::uint32_t head = state.registers.pc;
    const std::uint32_t line = line_number(state);
    if (!nothing_pending(state, image) || memory.holds_back(head, line)) return 0;

    const LoopSnapshot before = LoopSnapshot::of(state, image);
    const std::uint8_t hit_cycle = image[priv::sprite0_hit_cycle];
    CpuRegisters after[loop_max_instructions];  // after each instruction of the watched pass
    std::uint8_t opcodes[loop_max_instructions];
    std::uint64_t length = 0;
    do {
        if (length == passes_left) return length;
        const std::uint32_t pc = state.registers.pc;
        const std::uint8_t status = image[ppu_status];
        // An active PPU step ends the pass (the loop may be tried again after it); an instruction
        // outside RAM and PRG, or one that is no pure read, holds the loop back for some lines.
        if (state.line_cycles == ppu_line_step_cycles ||
            sprite0_would_rise(state.line_cycles, hit_cycle, status))
            return length;
        const bool code_in_memory = pc + 2 < 0x2000 || (pc >= 0x8000 && pc + 2 <= 0xFFFF);
        const bool pure = run_pass<false, Evaluation, true>(state, image, clock);
        after[length] = state.registers;
        opcodes[length] = state.opcode;
        ++length;
        if (!pure || !code_in_memory) {
            memory.failed(head, line);
            return length;
        }
        if (state.quit.get() == 1) return length;
        // Leaving the loop's bytes ends the watch: the wait is over.
        if (state.registers.pc < head || state.registers.pc > end) return length;
    } while (state.registers.pc != head && length < loop_max_instructions);

    if (state.registers.pc != head) {
        memory.failed(head, line);
        return length;
    }
    if (!nothing_pending(state, image)) return length;
    if (!(LoopSnapshot::of(state, image) == before)) {
        memory.failed(head, line);
        return length;
    }
    memory.succeeded(head);

    const bool flag_low = (image[ppu_status] & 0x40) == 0;  // as it is all through every pass
    // Counted in 32 bits, which 32-bit hosts add and compare in one step: the stretch ends at
    // the vertical blank at the latest, a frame's passes, far below 2^32.
    std::uint32_t budget = static_cast<std::uint32_t>(std::min<std::uint64_t>(passes_left - length, UINT32_MAX));
    if constexpr (Evaluation) {
        // Up to, not including, the next multiple of 10000, whose clock check a real pass makes.
        if (budget > clock.until_check - 1u) budget = clock.until_check - 1u;
    }
    std::uint32_t skipped = 0;
    while (skipped < budget) {
        // A stretch of idle PPU steps: line_cycles up to 132 (136 is the line step), and below
        // the sprite-0 moment while the flag is low.
        const std::uint8_t hit = image[priv::sprite0_hit_cycle];
        std::uint32_t last_idle = ppu_line_step_cycles - 4;
        if (flag_low && hit > 4 && hit - 1u < last_idle) last_idle = hit - 1u;
        if (state.line_cycles <= last_idle) {
            std::uint32_t run = (last_idle - state.line_cycles) / 4 + 1;
            if (run > budget - skipped) run = budget - skipped;
            state.cycle_count += 4 * std::uint64_t{run};
            state.line_cycles += 4 * run;
            skipped += run;
            continue;
        }
        // Then a plain line step is made in its turn, with the instruction that follows it;
        // anything else is left to real passes.
        if (state.line_cycles != ppu_line_step_cycles || state.scanline >= ppu_vertical_blank_step ||
            sprite0_would_rise(state.line_cycles, hit, image[ppu_status]) ||
            state.quit.get() != 0 || state.reset_request.get() != 0)
            break;
        ppu_tick(image, state.surface, state.line_cycles, state.nmi_request, state.frame_count,
                 state.frame_skip, state.scanline, state.mirroring);
        state.cycle_count += 4;
        state.line_cycles += 4;
        ++skipped;
    }
    if (skipped != 0) {
        const std::uint32_t last = (skipped - 1) % static_cast<std::uint32_t>(length);
        state.registers = after[last];
        state.opcode = opcodes[last];
    }
    if constexpr (Evaluation) clock.until_check -= skipped;
    skipped_passes += skipped;
    return length + skipped;
}

// The thread's loop. In fast execution a branch or JMP back by a few bytes hands over to the
// fast-forward above.
template <bool Trace, bool Evaluation, bool Fast>
void run_passes(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                std::uint64_t pass_limit, std::uint64_t& skipped_passes, DebuggerTurn debugger) {
    EvaluationClock clock(start_ticks, state.cycle_count);
    LoopMemory memory;
    std::uint64_t pass = 0;
    while (pass != pass_limit && state.quit.get() != 1) {
        const std::uint32_t at = state.registers.pc;
        const bool jumped_back = run_pass<Trace, Evaluation>(state, image, clock, debugger);
        ++pass;
        if constexpr (Fast) {
            const std::uint32_t head = state.registers.pc;
            // After an interrupt entry pc is elsewhere: the fast-forward finds it pending.
            if (jumped_back && !memory.passes_over(head, line_number(state)))
                [[unlikely]] pass += wait_loop_fast_forward<Evaluation>(state, image, clock, at,
                                                           pass_limit - pass, memory, skipped_passes);
        }
    }
}

}  // namespace

// Out of line (it is called once a run): inlined into the program's wrappers, its loops
// measured one more host instruction per pass.
[[gnu::noinline]] void emulation_run(RunState& state, std::uint8_t* image, std::uint32_t start_ticks,
                                     std::uint64_t pass_limit, Execution execution,
                                     std::uint64_t& skipped_passes, DebuggerTurn debugger) {
    const bool trace = state.trace_mode != 0 && debugger != nullptr;
    const bool evaluation = state.evaluation_mode == 1;
    const bool fast = execution == Execution::fast;
    std::uint64_t& s = skipped_passes;
    if (trace && evaluation)
        run_passes<true, true, false>(state, image, start_ticks, pass_limit, s, debugger);
    else if (trace)
        run_passes<true, false, false>(state, image, start_ticks, pass_limit, s, debugger);
    else if (evaluation)
        fast ? run_passes<false, true, true>(state, image, start_ticks, pass_limit, s, nullptr)
             : run_passes<false, true, false>(state, image, start_ticks, pass_limit, s, nullptr);
    else
        fast ? run_passes<false, false, true>(state, image, start_ticks, pass_limit, s, nullptr)
             : run_passes<false, false, false>(state, image, start_ticks, pass_limit, s, nullptr);
}
