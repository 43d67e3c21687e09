// The watched dispatch's "pure read" answer, checked for every opcode against what the instruction
// was seen to do. The wait-loop fast-forward skips passes on that answer alone, so an instruction
// that writes, stops, raises BRK or reads a register with side effects while it answers true
// would make skipped passes differ from executed ones.
//
// Each opcode runs with its operand bytes aimed at one target address in every addressing mode at
// once: the absolute forms name the target, the zero-page pointer the indirect forms use holds it
// (X = Y = 0), and the zero-page forms hit that pointer in RAM. Each case runs twice, with the byte
// a read of the target returns set to 0x00 and to 0xFF. Seen independently of the answer:
// - a change of the image, other than what reading 0x2002 itself does to the PPU's bytes
//   (a write; a side-effect read of 0x2007, 0x2004 or the joypad port),
// - a stop (quit) or BRK (interrupt_cause 2),
// - for targets outside RAM, PRG and 0x2002, a result (registers or image) that depends on the
//   target's byte: the instruction read it.
// The watched form must also do exactly what the plain form does.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bus/bus.h"
#include "cpu/cpu.h"
#include "ppu/ppu_registers.h"
#include "support/test_support.h"

namespace {

constexpr std::uint32_t origin = 0xC000;

struct Outcome {
    std::vector<std::uint8_t> image;
    CpuRegisters registers;
    std::uint32_t quit = 0, interrupt_cause = 0;
    bool answer = false;  // what cpu_execute_watched said (plain form: unused)
};

bool same(const CpuRegisters& r, const CpuRegisters& q) {
    return r.a == q.a && r.x == q.x && r.y == q.y && r.sp == q.sp && r.p == q.p && r.pc == q.pc;
}

// Where a read of target takes its byte from (RAM and register mirrors read their base byte).
std::uint32_t source_of(std::uint32_t target) {
    if (target < 0x2000) return target & 0x07FF;
    return target >= 0x2000 && target < 0x4000 ? 0x2000 + (target & 7) : target;
}

struct Case {
    std::uint8_t opcode;
    std::uint32_t target;
    std::uint8_t p;
    std::uint8_t target_byte;
};

std::vector<std::uint8_t> prepared_image(const Case& s) {
    TestMachine machine;
    std::vector<std::uint8_t>& m = machine.bytes;
    const std::uint8_t lo = static_cast<std::uint8_t>(s.target), hi = static_cast<std::uint8_t>(s.target >> 8);
    m[origin] = s.opcode;
    m[origin + 1] = lo;
    m[origin + 2] = hi;
    m[lo] = lo;  // the zero-page pointer of the indirect forms (and JMP's, for a target in page zero)
    m[(lo + 1) & 0xFF] = hi;
    m[0x01FE] = 0x34;  // what RTS and RTI pull
    m[0x01FF] = 0x92;
    m[0x0100] = 0x56;
    for (const std::uint32_t vector : {nmi_vector, reset_vector, irq_vector}) {
        m[vector] = 0x00;
        m[vector + 1] = 0xE0;
    }
    m[source_of(s.target)] = s.target_byte;
    return m;
}

template <bool Watched>
Outcome run(const Case& s) {
    Outcome o;
    o.image = prepared_image(s);
    RunState state;
    state.registers = {0x5A, 0x00, 0x00, 0xFD, s.p, origin};
    state.opcode = s.opcode;
    if constexpr (Watched)
        o.answer = cpu_execute_watched(state.quit, state.opcode, state.registers, o.image.data(),
                                       state.interrupt_cause);
    else
        cpu_execute(state.quit, state.opcode, state.registers, o.image.data(), state.interrupt_cause);
    o.registers = state.registers;
    o.quit = state.quit.get();
    o.interrupt_cause = state.interrupt_cause;
    return o;
}

// The image after nothing but reads of 0x2002 (none, one, or the two of a combined instruction).
bool only_status_reads(std::vector<std::uint8_t> before, const std::vector<std::uint8_t>& after) {
    for (int reads = 0; reads <= 2; ++reads) {
        if (before == after) return true;
        std::uint8_t value = 0;
        ppu_status_read(value, before.data());
    }
    return false;
}

// Targets: RAM, its mirror, the stack page, PRG, the status register and its mirror, other PPU
// registers, sprite DMA and the joypad port, the plain bytes between.
constexpr std::array<std::uint32_t, 12> targets = {0x0345, 0x0B45, 0x01FD, 0x9123, 0x2002, 0x200A,
                                                   0x2001, 0x2004, 0x2007, 0x4014, 0x4016, 0x6789};

bool allowed_read(std::uint32_t address) { return address < 0x2000 || address >= 0x8000 || address == 0x2002; }

// A quarter of the opcodes per case, so that the test jobs share the 12,288 cases.
constexpr std::uint32_t opcodes_per_case = 64;
class WatchedDispatch : public testing::TestWithParam<std::uint32_t> {};

TEST_P(WatchedDispatch, PureReadAnswerMatchesWhatEveryOpcodeDid) {
    const std::uint32_t first = GetParam() * opcodes_per_case, end = first + opcodes_per_case;
    std::array<std::uint32_t, 256> runs{};
    std::array<std::uint32_t, 256> pure_answers{};
    std::uint32_t stops = 0;
    std::vector<std::string> faults;  // reported after the capture, where a failure can be seen
    const std::string printed = capture_stdout([&] {  // the abort message of unknown opcodes
    for (std::uint32_t opcode = first; opcode < end; ++opcode)
        for (const std::uint32_t target : targets)
            for (const std::uint8_t p : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
                bool impure = false, answered_pure = true;
                Outcome seen[2];
                for (int v = 0; v < 2; ++v) {
                    const Case s{static_cast<std::uint8_t>(opcode), target, p, static_cast<std::uint8_t>(v ? 0xFF : 0x00)};
                    const std::vector<std::uint8_t> before = prepared_image(s);
                    const Outcome watched = run<true>(s);
                    const Outcome plain = run<false>(s);
                    ++runs[opcode];
                    stops += watched.quit;
                    char where[64];
                    std::snprintf(where, sizeof where, "opcode 0x%02X, target 0x%04X, p 0x%02X, byte 0x%02X",
                                  opcode, target, p, s.target_byte);
                    if (watched.image != plain.image || !same(watched.registers, plain.registers) ||
                        watched.quit != plain.quit || watched.interrupt_cause != plain.interrupt_cause)
                        faults.push_back(std::string(where) + ": the watched form did otherwise than the plain one");
                    impure = impure || watched.quit != 0 || watched.interrupt_cause != 0 ||
                             !only_status_reads(before, watched.image);
                    answered_pure = answered_pure && watched.answer;
                    if (v == 1 && watched.answer != seen[0].answer)
                        faults.push_back(std::string(where) + ": the answer depends on the target's byte");
                    seen[v] = watched;
                }
                // Reading the target changed the result: it was read. The byte itself was set
                // differently; whether it changed is the write check's business.
                seen[1].image[source_of(target)] = seen[0].image[source_of(target)];
                if (!allowed_read(target) &&
                    (seen[0].image != seen[1].image || !same(seen[0].registers, seen[1].registers)))
                    impure = true;
                if (answered_pure) ++pure_answers[opcode];
                // Where a write or read leaves no trace to see, only the answer that matters to
                // the fast-forward (never "pure" for more than a read) can be checked: stores to a
                // register mirror (which takes none) or to the joypad port that leave its strobe as
                // it was, and JMP ($2002), which takes its high byte from write-only 0x2003.
                const bool unseen = target == 0x200A || target == 0x4016 || (opcode == 0x6C && target == 0x2002);
                if (answered_pure == impure && !(unseen && !answered_pure)) {
                    char text[96];
                    std::snprintf(text, sizeof text, "opcode 0x%02X, target 0x%04X, p 0x%02X: answered %s, did %s",
                                  opcode, target, p, answered_pure ? "pure" : "not pure",
                                  impure ? "more than read" : "nothing but read");
                    faults.push_back(text);
                }
            }
    });
    std::string all;
    for (const std::string& f : faults) all += f + "\n";
    EXPECT_EQ(all, "");
    std::uint32_t run_opcodes = 0, pure_opcodes = 0;
    for (std::uint32_t opcode = 0; opcode < 256; ++opcode) {
        run_opcodes += runs[opcode] == 2 * 2 * targets.size();
        pure_opcodes += pure_answers[opcode] > 0;
    }
    EXPECT_EQ(run_opcodes, opcodes_per_case);
    std::uint32_t abort_messages = 0;
    for (std::size_t at = printed.find("***EXECUTION ABORTED***"); at != std::string::npos;
         at = printed.find("***EXECUTION ABORTED***", at + 1))
        ++abort_messages;
    EXPECT_EQ(abort_messages, 2 * stops);  // each stop said so, in both forms
    std::printf("opcodes 0x%02X-0x%02X through the watched dispatch, %u of them a pure read in some case\n", first,
                end - 1, pure_opcodes);
}

INSTANTIATE_TEST_SUITE_P(, WatchedDispatch, testing::Range(0u, 256 / opcodes_per_case));

}  // namespace
