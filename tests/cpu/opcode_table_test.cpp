// Every one of the 256 opcodes against a chart written out independently of the CPU's own table:
// whether it aborts, how far it moves pc, which operand bytes it reads and how often it reads and
// writes its effective address.
#include <cstdint>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cpu/cpu_rig.h"

namespace {

// "-" has no entry; modes: imm zp zpx zpy abs absx absy izx izy ind, none for one-byte forms.
const char* const chart[16][16] = {
    {"BRK", "ORA izx", "-", "ASO izx", "NOP2", "ORA zp", "ASL zp", "ASO zp", "PHP", "ORA imm", "ASL", "-", "NOP3", "ORA abs", "ASL abs", "ASO abs"},
    {"BPL", "ORA izy", "-", "-", "NOP2", "ORA zpx", "ASL zpx", "ASO zpx", "CLC", "ORA absy", "NOP", "ASO absy", "NOP2", "ORA absx", "ASL absx", "ASO absx"},
    {"JSR abs", "AND izx", "-", "-", "BIT zp", "AND zp", "ROL zp", "RLA zp", "PLP", "AND imm", "ROL", "-", "BIT abs", "AND abs", "ROL abs", "RLA abs"},
    {"BMI", "AND izy", "-", "-", "NOP2", "AND zpx", "ROL zpx", "RLA zpx", "SEC", "AND absy", "NOP", "RLA absy", "NOP3", "AND absx", "ROL absx", "RLA absx"},
    {"RTI", "EOR izx", "-", "-", "-", "EOR zp", "LSR zp", "-", "PHA", "EOR imm", "LSR", "-", "JMP abs", "EOR abs", "LSR abs", "-"},
    {"BVC", "EOR izy", "-", "-", "NOP2", "EOR zpx", "LSR zpx", "-", "CLI", "EOR absy", "NOP", "-", "NOP3", "EOR absx", "LSR absx", "-"},
    {"RTS", "-", "-", "-", "-", "ADC zp", "ROR zp", "-", "PLA", "ADC imm", "ROR", "-", "JMP ind", "ADC abs", "ROR abs", "-"},
    {"BVS", "ADC izy", "-", "-", "NOP2", "ADC zpx", "ROR zpx", "-", "SEI", "ADC absy", "NOP", "-", "NOP3", "ADC absx", "ROR absx", "-"},
    {"NOP2", "STA izx", "NOP2", "-", "STY zp", "STA zp", "STX zp", "-", "DEY", "NOP2", "TXA", "-", "STY abs", "STA abs", "STX abs", "-"},
    {"BCC", "STA izy", "-", "-", "STY zpx", "STA zpx", "STX zpy", "-", "TYA", "STA absy", "TXS", "-", "-", "STA absx", "-", "-"},
    {"LDY imm", "LDA izx", "LDX imm", "-", "LDY zp", "LDA zp", "LDX zp", "-", "TAY", "LDA imm", "TAX", "-", "LDY abs", "LDA abs", "LDX abs", "-"},
    {"BCS", "LDA izy", "-", "-", "LDY zpx", "LDA zpx", "LDX zpy", "-", "CLV", "LDA absy", "TSX", "-", "LDY absx", "LDA absx", "LDX absy", "-"},
    {"CPY imm", "CMP izx", "NOP2", "-", "CPY zp", "CMP zp", "DEC zp", "-", "INY", "CMP imm", "DEX", "-", "CPY abs", "CMP abs", "DEC abs", "DCM abs"},
    {"BNE", "CMP izy", "-", "-", "NOP2", "CMP zpx", "DEC zpx", "-", "CLD", "CMP absy", "NOP", "DCM absy", "NOP3", "CMP absx", "DEC absx", "DCM absx"},
    {"CPX imm", "-", "NOP2", "-", "CPX zp", "SBC zp", "INC zp", "-", "INX", "SBC imm", "NOP", "-", "CPX abs", "SBC abs", "INC abs", "-"},
    {"BEQ", "SBC izy", "-", "-", "NOP2", "SBC zpx", "INC zpx", "-", "SED", "SBC absy", "NOP", "-", "NOP3", "SBC absx", "INC absx", "-"},
};

enum class Access { None, Read, Write, Modify, Combined };

struct Opcode {
    std::uint8_t value = 0;
    std::string name;
    std::string mode;
    bool aborts() const { return name == "-"; }
    bool is_branch() const { return name.size() == 3 && name[0] == 'B' && name != "BIT" && name != "BRK"; }
    bool is_skip() const { return name.rfind("NOP", 0) == 0; }
    bool is_control() const { return is_branch() || name == "JMP" || name == "JSR" || name == "RTS" || name == "RTI"; }

    // Bytes stepped over when execution simply continues with the next instruction.
    std::uint32_t length() const {
        if (name == "NOP") return 1;
        if (name == "NOP2" || name == "BRK" || is_branch()) return 2;
        if (name == "NOP3") return 3;
        if (mode.empty()) return 1;
        if (mode == "abs" || mode == "absx" || mode == "absy" || mode == "ind") return 3;
        return 2;
    }

    Access access() const {
        if (mode.empty() || mode == "imm" || is_skip() || is_control()) return Access::None;
        static const std::set<std::string> reads = {"LDA", "LDX", "LDY", "ORA", "AND", "EOR", "ADC", "SBC", "CMP", "CPX", "CPY", "BIT"};
        static const std::set<std::string> writes = {"STA", "STX", "STY"};
        static const std::set<std::string> modifies = {"ASL", "LSR", "ROL", "ROR", "INC", "DEC"};
        if (reads.count(name)) return Access::Read;
        if (writes.count(name)) return Access::Write;
        if (modifies.count(name)) return Access::Modify;
        return Access::Combined;  // ASO, RLA, DCM
    }

    std::uint32_t effective_reads() const {
        switch (access()) {
        case Access::Read:
        case Access::Modify: return 1;
        case Access::Combined: return 2;
        default: return 0;
        }
    }
    std::uint32_t effective_writes() const {
        const Access a = access();
        return a == Access::Write || a == Access::Modify || a == Access::Combined ? 1 : 0;
    }
    // Branches taken when p = 0x00; the others are taken when p = 0xFF.
    bool branch_taken(std::uint8_t p) const {
        const bool when_clear = name == "BPL" || name == "BVC" || name == "BCC" || name == "BNE";
        return when_clear == (p == 0x00);
    }
};

Opcode describe(std::uint32_t value) {
    Opcode op;
    op.value = static_cast<std::uint8_t>(value);
    std::istringstream words(chart[value >> 4][value & 15]);
    words >> op.name >> op.mode;
    return op;
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string abort_text(std::uint8_t opcode, std::uint32_t pc) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "This OPCODE (0x%x) is not implemented yet or is invalid.\nPC was pointing: 0x%x\n\n"
                  "                     ***EXECUTION ABORTED***\n\n",
                  opcode, pc);
    return text;
}

// Lays out the operand bytes at 0x0201 so that the effective address is target, with x = y = 0x10.
void place_operand(CpuRig& rig, const Opcode& op, std::uint32_t target) {
    const std::uint8_t lo = static_cast<std::uint8_t>(target), hi = static_cast<std::uint8_t>(target >> 8);
    const std::uint32_t indexed = target - 0x10;
    if (op.mode == "imm") rig.put(0x0201, {0x77});
    if (op.mode == "zp") rig.put(0x0201, {lo});
    if (op.mode == "zpx" || op.mode == "zpy") rig.put(0x0201, {static_cast<std::uint8_t>(lo - 0x10)});
    if (op.mode == "abs" || op.mode == "ind") rig.put(0x0201, {lo, hi});
    if (op.mode == "absx" || op.mode == "absy")
        rig.put(0x0201, {static_cast<std::uint8_t>(indexed), static_cast<std::uint8_t>(indexed >> 8)});
    if (op.mode == "izx") {
        rig.put(0x0201, {0x70});
        rig.put(0x0080, {lo, hi});
    }
    if (op.mode == "izy") {
        rig.put(0x0201, {0x90});
        rig.put(0x0090, {static_cast<std::uint8_t>(indexed), static_cast<std::uint8_t>(indexed >> 8)});
    }
    if (op.is_branch()) rig.put(0x0201, {0x10});
}

void prepare(CpuRig& rig, const Opcode& op, std::uint32_t pc) {
    rig.at(pc) = op.value;
    rig.r().pc = pc;
    rig.r().x = 0x10;
    rig.r().y = 0x10;
    rig.r().a = 0xA3;
    rig.r().sp = 0xFC;
}

}  // namespace

TEST(OpcodeTable, ChartHas188EntriesAnd68Dashes) {
    int entries = 0;
    for (std::uint32_t value = 0; value < 256; ++value) entries += describe(value).aborts() ? 0 : 1;
    EXPECT_EQ(entries, 188);
}

// Abort or not, pc afterwards, the exact bytes written (image diff), and BRK's interrupt cause.
// The instruction sits at 0x0200; its effective address is 0x0340 (0x0040 for zero-page forms)
// holding 0x55 0x66, so every store and read-modify-write changes it.
TEST(OpcodeTable, AbortPcAndWrittenBytesOfEveryOpcode) {
    for (std::uint32_t value = 0; value < 256; ++value) {
        const Opcode op = describe(value);
        SCOPED_TRACE(hex(value) + " " + op.name + " " + op.mode);
        CpuRig rig;
        const bool zero_page = op.mode.rfind("zp", 0) == 0;
        const std::uint32_t target = zero_page ? 0x0040 : 0x0340;
        prepare(rig, op, 0x0200);
        place_operand(rig, op, target);
        rig.put(target, {0x55, 0x66});
        rig.put(0x01FD, {0xC5, 0x34, 0x12});  // what RTS and RTI pull
        const std::vector<std::uint8_t> before = rig.machine.bytes;

        const std::string out = rig.execute_quietly();

        std::set<std::uint32_t> changed;
        for (std::uint32_t i = 0; i < image_size; ++i)
            if (rig.machine.bytes[i] != before[i]) changed.insert(i);
        std::set<std::uint32_t> expected_changes;
        if (op.effective_writes()) expected_changes = {target};
        if (op.name == "PHA" || op.name == "PHP") expected_changes = {0x01FC};
        if (op.name == "JSR") expected_changes = {0x01FC, 0x01FB};
        EXPECT_EQ(changed, expected_changes);

        std::uint32_t expected_pc = 0x0200 + op.length();
        if (op.aborts()) expected_pc = 0x0200;
        if (op.is_branch() && op.branch_taken(0x00)) expected_pc = 0x0212;
        if (op.name == "JMP" || op.name == "JSR") expected_pc = op.mode == "ind" ? 0x6655 : target;
        if (op.name == "RTS") expected_pc = 0x34C6;
        if (op.name == "RTI") expected_pc = 0x1234;
        EXPECT_EQ(rig.r().pc, expected_pc);

        EXPECT_EQ(rig.state.quit.get(), op.aborts() ? 1u : 0u);
        EXPECT_EQ(out, op.aborts() ? abort_text(op.value, 0x0200) : "");
        EXPECT_EQ(rig.state.interrupt_cause, op.name == "BRK" ? 2u : 0u);
        if (op.aborts()) {
            EXPECT_EQ(rig.r().a, 0xA3);
            EXPECT_EQ(rig.r().x, 0x10);
            EXPECT_EQ(rig.r().y, 0x10);
            EXPECT_EQ(rig.r().sp, 0xFC);
            EXPECT_EQ(rig.r().p, 0x00);
        }
    }
}

// Operand-byte reads: with the opcode at 0x4015 its operand bytes are the joypad ports, whose
// reads are counted (0x4016 moves the read position, 0x4017 counts its reads). Both deliver 0.
TEST(OpcodeTable, OperandBytesReadByEveryOpcode) {
    for (std::uint8_t p : {0x00, 0xFF}) {
        for (std::uint32_t value = 0; value < 256; ++value) {
            const Opcode op = describe(value);
            SCOPED_TRACE(hex(value) + " " + op.name + " " + op.mode + " p=" + hex(p));
            CpuRig rig;
            prepare(rig, op, 0x4015);
            rig.r().p = p;
            rig.execute_quietly();

            std::uint32_t first = 0, second = 0;
            const std::uint32_t times = op.access() == Access::Combined ? 2 : 1;
            if (op.aborts() || op.is_skip() || op.name == "BRK" || op.length() == 1) {
                // nothing read
            } else if (op.is_branch()) {
                first = op.branch_taken(p) ? 1 : 0;
            } else {
                first = times;
                second = op.length() == 3 ? times : 0;
            }
            EXPECT_EQ(rig.at(priv::joypad_index), first) << "reads of 0x4016";
            EXPECT_EQ(rig.at(priv::joypad_port2_reads), second) << "reads of 0x4017";
            if (!op.is_control() && !op.aborts()) {
                EXPECT_EQ(rig.r().pc, 0x4015 + op.length());
            }
            if (op.is_branch()) {
                EXPECT_EQ(rig.r().pc, 0x4017u) << "displacement 0 either way";
            }
        }
    }
}

// Reads and writes of the effective address for the forms that can reach a register: reads are
// counted at 0x4017; reads plus writes at 0x2004, whose every access advances the sprite index.
TEST(OpcodeTable, EffectiveAddressAccessesOfEveryOpcode) {
    int checked = 0;
    for (std::uint32_t value = 0; value < 256; ++value) {
        const Opcode op = describe(value);
        if (op.aborts() || op.access() == Access::None || op.mode.rfind("zp", 0) == 0) continue;
        SCOPED_TRACE(hex(value) + " " + op.name + " " + op.mode);
        ++checked;

        CpuRig reads;
        prepare(reads, op, 0x0200);
        place_operand(reads, op, 0x4017);
        reads.execute_quietly();
        EXPECT_EQ(reads.at(priv::joypad_port2_reads), op.effective_reads());

        CpuRig accesses;
        prepare(accesses, op, 0x0200);
        place_operand(accesses, op, 0x2004);
        accesses.execute_quietly();
        EXPECT_EQ(accesses.at(priv::sprite_addr_lo), op.effective_reads() + op.effective_writes());
        EXPECT_EQ(accesses.r().pc, 0x0200 + op.length());
    }
    EXPECT_EQ(checked, 69);  // counted by hand from the chart
}
