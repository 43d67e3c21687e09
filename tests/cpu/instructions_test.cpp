// Grouped checks of the instruction bodies, addressing wraps, the stack and interrupt entry.
#include <cstdint>
#include <initializer_list>

#include <gtest/gtest.h>

#include "cpu/cpu_rig.h"

namespace {

constexpr std::uint8_t C = 0x01, Z = 0x02, I = 0x04, D = 0x08, B = 0x10, V = 0x40, N = 0x80;

// Runs one instruction placed at 0x0200.
void run(CpuRig& rig, std::initializer_list<std::uint8_t> bytes) {
    rig.put(0x0200, bytes);
    rig.r().pc = 0x0200;
    rig.execute();
}

struct ArithmeticCase {
    std::uint8_t opcode, a, m, p_in, a_out, p_out;
};

}  // namespace

// ---- Shared bit operations -------------------------------------------------------------------

TEST(Flags, OutOfRangeBitsReadTheWholeByteAndWriteNothing) {
    EXPECT_EQ(flag_get(9, 0xA5), 0xA5);
    EXPECT_EQ(flag_get(8, 0x00), 0x00);
    EXPECT_EQ(flag_get(7, 0xA5), 1);
    EXPECT_EQ(flag_get(6, 0xA5), 0);
    std::uint8_t p = 0x5A;
    flag_set(8, 1, p);
    EXPECT_EQ(p, 0x5A);
    flag_set(200, 0, p);
    EXPECT_EQ(p, 0x5A);
    p = 0x00;
    flag_set(7, 1, p);
    EXPECT_EQ(p, 0x80);
    flag_set(7, 2, p);  // only the lowest bit of v counts
    EXPECT_EQ(p, 0x00);
    flag_set(0, 3, p);
    EXPECT_EQ(p, 0x01);
}

// ---- Addressing ------------------------------------------------------------------------------

TEST(Addressing, ZeroPageIndexedWrapsInsidePageZero) {
    CpuRig rig;
    rig.put(0x0010, {0x42});
    rig.put(0x0110, {0x99});
    rig.r().x = 0x20;
    run(rig, {0xB5, 0xF0});  // LDA 0xF0,X
    EXPECT_EQ(rig.r().a, 0x42);
    EXPECT_EQ(rig.r().pc, 0x0202u);

    CpuRig y;
    y.put(0x0005, {0x17});
    y.r().y = 0x06;
    run(y, {0xB6, 0xFF});  // LDX 0xFF,Y
    EXPECT_EQ(y.r().x, 0x17);
}

TEST(Addressing, IndexedIndirectTakesItsPointerInPageZeroWithUnwrappedHighByte) {
    CpuRig rig;
    rig.put(0x0010, {0x34, 0x03});  // pointer at (0x80 + 0x90) mod 0x100
    rig.put(0x0334, {0x5E});
    rig.r().x = 0x90;
    run(rig, {0xA1, 0x80});  // LDA (0x80,X)
    EXPECT_EQ(rig.r().a, 0x5E);

    CpuRig edge;
    edge.put(0x00FF, {0x20});
    edge.put(0x0100, {0x03});  // high byte from 0x0100, not 0x0000
    edge.put(0x0000, {0x07});
    edge.put(0x0320, {0xAB});
    edge.put(0x0720, {0xCD});
    run(edge, {0xA1, 0xFF});  // LDA (0xFF,X), x = 0
    EXPECT_EQ(edge.r().a, 0xAB);
}

TEST(Addressing, IndirectIndexedCarriesIntoTheHighByteAndWraps) {
    CpuRig edge;
    edge.put(0x00FF, {0x20});
    edge.put(0x0100, {0x03});
    edge.put(0x0000, {0x07});
    edge.put(0x0321, {0xAB});
    edge.put(0x0721, {0xCD});
    edge.r().y = 1;
    run(edge, {0xB1, 0xFF});  // LDA (0xFF),Y
    EXPECT_EQ(edge.r().a, 0xAB);

    CpuRig carry;
    carry.put(0x0040, {0xF0, 0x12});
    carry.put(0x0310, {0x66});  // 0x1310 is a mirror of it
    carry.r().y = 0x20;
    run(carry, {0xB1, 0x40});
    EXPECT_EQ(carry.r().a, 0x66);

    CpuRig wrap;
    wrap.put(0x0040, {0xF0, 0xFF});
    wrap.put(0x0010, {0x77});
    wrap.r().y = 0x20;
    run(wrap, {0xB1, 0x40});
    EXPECT_EQ(wrap.r().a, 0x77);
}

TEST(Addressing, AbsoluteIndexedCarriesAndWrapsModulo64K) {
    CpuRig rig;
    rig.put(0x0010, {0x3C});
    rig.r().x = 0x20;
    run(rig, {0xBD, 0xF0, 0xFF});  // LDA 0xFFF0,X
    EXPECT_EQ(rig.r().a, 0x3C);
    EXPECT_EQ(rig.r().pc, 0x0203u);

    CpuRig carry;
    carry.put(0x0301, {0x8D});
    carry.r().y = 0x02;
    run(carry, {0xB9, 0xFF, 0x02});  // LDA 0x02FF,Y
    EXPECT_EQ(carry.r().a, 0x8D);
    EXPECT_EQ(carry.r().p, N);
}

TEST(Addressing, OperandBytesAtTheTopOfMemoryWrapPcToZero) {
    CpuRig rig;
    rig.put(0xFFFE, {0xAD, 0x10});  // LDA 0x??10: high byte at 0x0000
    rig.put(0x0000, {0x03});
    rig.put(0x0310, {0x21});
    rig.r().pc = 0xFFFE;
    rig.execute();
    EXPECT_EQ(rig.r().a, 0x21);
    EXPECT_EQ(rig.r().pc, 0x0001u);
}

TEST(Addressing, JumpIndirectStaysInThePointersPage) {
    CpuRig rig;
    rig.put(0x02FF, {0x34});
    rig.put(0x0300, {0x99});
    // The pointer's high byte comes from 0x0200, which holds JMP's own opcode 0x6C.
    run(rig, {0x6C, 0xFF, 0x02});
    EXPECT_EQ(rig.r().pc, 0x6C34u);

    CpuRig plain;
    plain.put(0x0340, {0x78, 0x56});
    run(plain, {0x6C, 0x40, 0x03});
    EXPECT_EQ(plain.r().pc, 0x5678u);
}

// A read that delivers nothing (0x2003, 0x2006) leaves a loaded register as it was and gives
// every other instruction an operand of 0.
TEST(Addressing, ReadsThatDeliverNothing) {
    CpuRig load;
    load.r().a = 0x91;
    run(load, {0xAD, 0x03, 0x20});  // LDA 0x2003
    EXPECT_EQ(load.r().a, 0x91);
    EXPECT_EQ(load.r().p, N);  // flags from the kept value

    CpuRig add;
    add.r().a = 0x10;
    run(add, {0x6D, 0x06, 0x20});  // ADC 0x2006
    EXPECT_EQ(add.r().a, 0x10);

    CpuRig bit;
    bit.r().a = 0xFF;
    bit.r().p = N | V;
    run(bit, {0x2C, 0x03, 0x20});  // BIT 0x2003
    EXPECT_EQ(bit.r().p, Z);

    // An immediate load takes fetch_immediate's byte, which is 0 when its read delivers nothing.
    CpuRig immediate;
    immediate.put(0x2002, {0xA9});  // the status byte, read as the opcode
    immediate.r().pc = 0x2002;
    immediate.r().a = 0x91;
    immediate.execute();  // LDA #nn with nn at 0x2003
    EXPECT_EQ(immediate.r().a, 0x00);
    EXPECT_EQ(immediate.r().pc, 0x2004u);

    CpuRig strobed;  // joypad held by the strobe
    strobed.at(priv::joypad_strobe) = 1;
    strobed.r().x = 0x44;
    run(strobed, {0xAE, 0x16, 0x40});  // LDX 0x4016
    EXPECT_EQ(strobed.r().x, 0x44);
    strobed.r().a = 0x0F;
    run(strobed, {0x4D, 0x16, 0x40});  // EOR 0x4016
    EXPECT_EQ(strobed.r().a, 0x0F);
}

// ---- Loads, stores, transfers ----------------------------------------------------------------

TEST(Transfers, FlagsFromTheDestinationExceptTxs) {
    CpuRig txs;
    txs.r().x = 0x00;
    txs.r().p = N;
    run(txs, {0x9A});
    EXPECT_EQ(txs.r().sp, 0x00);
    EXPECT_EQ(txs.r().p, N);
    EXPECT_EQ(txs.r().pc, 0x0201u);

    CpuRig tsx;
    tsx.r().sp = 0x00;
    tsx.r().x = 0x12;
    run(tsx, {0xBA});
    EXPECT_EQ(tsx.r().x, 0x00);
    EXPECT_EQ(tsx.r().p, Z);

    struct Case { std::uint8_t opcode; std::uint8_t CpuRegisters::*from, CpuRegisters::*to; };
    for (Case c : {Case{0xAA, &CpuRegisters::a, &CpuRegisters::x}, Case{0x8A, &CpuRegisters::x, &CpuRegisters::a},
                   Case{0xA8, &CpuRegisters::a, &CpuRegisters::y}, Case{0x98, &CpuRegisters::y, &CpuRegisters::a},
                   Case{0xBA, &CpuRegisters::sp, &CpuRegisters::x}}) {
        CpuRig rig;
        rig.r().*c.from = 0x80;
        rig.r().p = Z | C;
        run(rig, {c.opcode});
        EXPECT_EQ(rig.r().*c.to, 0x80) << int(c.opcode);
        EXPECT_EQ(rig.r().p, N | C) << int(c.opcode);
    }
}

TEST(LoadsAndStores, LoadsSetZeroAndNegativeStoresChangeNoFlag) {
    CpuRig rig;
    rig.r().p = N | C;
    run(rig, {0xA2, 0x00});  // LDX #0
    EXPECT_EQ(rig.r().p, Z | C);
    run(rig, {0xA0, 0xC1});  // LDY #0xC1
    EXPECT_EQ(rig.r().y, 0xC1);
    EXPECT_EQ(rig.r().p, N | C);
    run(rig, {0x8C, 0x00, 0x03});  // STY 0x0300
    EXPECT_EQ(rig.at(0x0300), 0xC1);
    EXPECT_EQ(rig.r().p, N | C);
    rig.r().y = 0x07;
    rig.r().x = 0x5A;
    run(rig, {0x96, 0x40});  // STX 0x40,Y
    EXPECT_EQ(rig.at(0x0047), 0x5A);
}

// ---- Arithmetic and logic --------------------------------------------------------------------

TEST(Arithmetic, AddWithCarry) {
    for (const ArithmeticCase& t : {
             ArithmeticCase{0x69, 0x50, 0x50, 0, 0xA0, V | N},
             ArithmeticCase{0x69, 0xFF, 0xFF, C, 0xFF, C | N},
             ArithmeticCase{0x69, 0xFF, 0x01, 0, 0x00, C | Z},
             ArithmeticCase{0x69, 0x09, 0x01, D, 0x0A, D},  // no decimal mode
             ArithmeticCase{0x69, 0x80, 0x80, 0, 0x00, C | Z | V},
             ArithmeticCase{0x69, 0x7F, 0x00, C, 0x80, V | N},
             ArithmeticCase{0x69, 0x01, 0x01, V | C, 0x03, 0},  // V is cleared, not kept
         }) {
        CpuRig rig;
        rig.r().a = t.a;
        rig.r().p = t.p_in;
        run(rig, {t.opcode, t.m});
        EXPECT_EQ(rig.r().a, t.a_out) << int(t.a) << "+" << int(t.m);
        EXPECT_EQ(rig.r().p, t.p_out) << int(t.a) << "+" << int(t.m);
    }
}

TEST(Arithmetic, SubtractWithBorrow) {
    for (const ArithmeticCase& t : {
             ArithmeticCase{0xE9, 0x50, 0xB0, C, 0xA0, V | N},
             ArithmeticCase{0xE9, 0x50, 0xF0, C, 0x60, 0},
             ArithmeticCase{0xE9, 0x00, 0x00, 0, 0xFF, N},
             ArithmeticCase{0xE9, 0x05, 0x05, C, 0x00, C | Z},
             ArithmeticCase{0xE9, 0x80, 0x01, C, 0x7F, C | V},
             ArithmeticCase{0xE9, 0x10, 0x01, D | C, 0x0F, D | C},
             ArithmeticCase{0xE9, 0x00, 0xFF, 0, 0x00, Z},  // d = -256
         }) {
        CpuRig rig;
        rig.r().a = t.a;
        rig.r().p = t.p_in;
        run(rig, {t.opcode, t.m});
        EXPECT_EQ(rig.r().a, t.a_out) << int(t.a) << "-" << int(t.m);
        EXPECT_EQ(rig.r().p, t.p_out) << int(t.a) << "-" << int(t.m);
    }
}

TEST(Arithmetic, ComparesLeaveTheRegisterAndOverflowAlone) {
    struct Case { std::uint8_t opcode, r, m, p_in, p_out; };
    for (const Case& t : {
             Case{0xC9, 0x10, 0x20, V, V | N},
             Case{0xC9, 0x80, 0x00, V, V | C | N},
             Case{0xC9, 0x42, 0x42, N, C | Z},
             Case{0xE0, 0x00, 0xFF, C, 0},  // CPX: 0 - 0xFF = 0x01
             Case{0xC0, 0xFF, 0x7F, Z, C | N},  // CPY
         }) {
        CpuRig rig;
        rig.r().a = rig.r().x = rig.r().y = t.r;
        rig.r().p = t.p_in;
        run(rig, {t.opcode, t.m});
        EXPECT_EQ(rig.r().p, t.p_out) << int(t.opcode) << " " << int(t.r) << " vs " << int(t.m);
        EXPECT_EQ(rig.r().a, t.r);
        EXPECT_EQ(rig.r().x, t.r);
        EXPECT_EQ(rig.r().y, t.r);
    }
}

TEST(Arithmetic, BitTestsMemoryAgainstTheAccumulator) {
    CpuRig rig;
    rig.put(0x0040, {0xC0});
    rig.r().a = 0x3F;
    run(rig, {0x24, 0x40});
    EXPECT_EQ(rig.r().p, N | V | Z);
    EXPECT_EQ(rig.r().a, 0x3F);

    rig.put(0x0340, {0x01});
    rig.r().p = N | V | C;
    run(rig, {0x2C, 0x40, 0x03});
    EXPECT_EQ(rig.r().p, C);
}

TEST(Arithmetic, LogicOnTheAccumulator) {
    CpuRig rig;
    rig.r().a = 0xF0;
    run(rig, {0x09, 0x0F});  // ORA
    EXPECT_EQ(rig.r().a, 0xFF);
    EXPECT_EQ(rig.r().p, N);
    run(rig, {0x29, 0x0F});  // AND
    EXPECT_EQ(rig.r().a, 0x0F);
    EXPECT_EQ(rig.r().p, 0);
    run(rig, {0x49, 0x0F});  // EOR
    EXPECT_EQ(rig.r().a, 0x00);
    EXPECT_EQ(rig.r().p, Z);
}

TEST(Arithmetic, ShiftsAndRotates) {
    struct Case { std::uint8_t opcode, v, p_in, out, p_out; };
    for (const Case& t : {
             Case{0x0A, 0x81, 0, 0x02, C},           // ASL
             Case{0x0A, 0x80, 0, 0x00, C | Z},
             Case{0x4A, 0x01, N, 0x00, C | Z},       // LSR
             Case{0x4A, 0xFE, C, 0x7F, 0},
             Case{0x2A, 0x80, C, 0x01, C},           // ROL
             Case{0x2A, 0x40, 0, 0x80, N},
             Case{0x6A, 0x01, C, 0x80, C | N},       // ROR
             Case{0x6A, 0x02, 0, 0x01, 0},
         }) {
        CpuRig acc;
        acc.r().a = t.v;
        acc.r().p = t.p_in;
        run(acc, {t.opcode});
        EXPECT_EQ(acc.r().a, t.out) << int(t.opcode) << " " << int(t.v);
        EXPECT_EQ(acc.r().p, t.p_out) << int(t.opcode) << " " << int(t.v);
        EXPECT_EQ(acc.r().pc, 0x0201u);

        // The same on memory (zp form = accumulator opcode - 4), leaving a alone.
        CpuRig mem;
        mem.put(0x0040, {t.v});
        mem.r().p = t.p_in;
        mem.r().a = 0x33;
        run(mem, {static_cast<std::uint8_t>(t.opcode - 4), 0x40});
        EXPECT_EQ(mem.at(0x0040), t.out) << int(t.opcode) << " on memory";
        EXPECT_EQ(mem.r().p, t.p_out) << int(t.opcode) << " on memory";
        EXPECT_EQ(mem.r().a, 0x33);
    }
}

TEST(Arithmetic, IncrementsAndDecrementsWrap) {
    CpuRig rig;
    rig.put(0x0045, {0xFF, 0x00});
    rig.r().x = 0x05;
    run(rig, {0xF6, 0x40});  // INC 0x40,X
    EXPECT_EQ(rig.at(0x0045), 0x00);
    EXPECT_EQ(rig.r().p, Z);
    rig.r().x = 0x06;
    run(rig, {0xD6, 0x40});  // DEC 0x40,X
    EXPECT_EQ(rig.at(0x0046), 0xFF);
    EXPECT_EQ(rig.r().p, N);

    rig.r().x = 0xFF;
    run(rig, {0xE8});  // INX
    EXPECT_EQ(rig.r().x, 0x00);
    EXPECT_EQ(rig.r().p, Z);
    rig.r().y = 0x00;
    run(rig, {0x88});  // DEY
    EXPECT_EQ(rig.r().y, 0xFF);
    EXPECT_EQ(rig.r().p, N);
    run(rig, {0xC8});  // INY
    run(rig, {0xCA});  // DEX
    EXPECT_EQ(rig.r().y, 0x00);
    EXPECT_EQ(rig.r().x, 0xFF);
    EXPECT_EQ(rig.r().p, N);
}

// ---- The combined instructions -------------------------------------------------------------

TEST(Combined, AsoShiftsMemoryThenOrsTheNewValue) {
    CpuRig rig;
    rig.put(0x0040, {0x81});
    rig.r().a = 0x02;
    run(rig, {0x07, 0x40});  // ASO zp
    EXPECT_EQ(rig.at(0x0040), 0x02);
    EXPECT_EQ(rig.r().a, 0x02);  // ORed with the shifted byte, not with 0x81
    EXPECT_EQ(rig.r().p, C);
    EXPECT_EQ(rig.r().pc, 0x0202u);
}

TEST(Combined, RlaRotatesMemoryThenAndsTheNewValue) {
    CpuRig rig;
    rig.put(0x0345, {0xC0});
    rig.r().y = 0x05;
    rig.r().a = 0xFF;
    rig.r().p = C;
    run(rig, {0x3B, 0x40, 0x03});  // RLA 0x0340,Y
    EXPECT_EQ(rig.at(0x0345), 0x81);
    EXPECT_EQ(rig.r().a, 0x81);
    EXPECT_EQ(rig.r().p, C | N);
    EXPECT_EQ(rig.r().pc, 0x0203u);
}

TEST(Combined, DecCmpDecrementsThenCompares) {
    CpuRig rig;
    rig.put(0x0340, {0x05});
    rig.r().a = 0x04;
    rig.r().p = N;
    run(rig, {0xCF, 0x40, 0x03});  // DEC+CMP abs
    EXPECT_EQ(rig.at(0x0340), 0x04);
    EXPECT_EQ(rig.r().p, C | Z);
    EXPECT_EQ(rig.r().a, 0x04);
}

// The second body reads the status register again: it sees what the first body wrote back,
// and that read clears the flags once more.
TEST(Combined, AsoOnPpuStatusReadsItTwice) {
    CpuRig rig;
    rig.at(ppu_status) = 0xC0;
    rig.at(priv::ppu_write_toggle) = 1;
    rig.r().a = 0x01;
    run(rig, {0x0F, 0x02, 0x20});  // ASO 0x2002
    EXPECT_EQ(rig.r().a, 0x81);  // 0x01 | (0xC0 << 1) as written, not 0x01 | 0xC0
    EXPECT_EQ(rig.at(ppu_status), 0x00);
    EXPECT_EQ(rig.at(priv::ppu_write_toggle), 0);
    EXPECT_EQ(rig.r().p, C | N);
}

TEST(Combined, IndexedIndirectFormReadsThePointerAgain) {
    CpuRig rig;
    rig.put(0x0044, {0x40, 0x03});
    rig.put(0x0340, {0x40});
    rig.r().x = 0x04;
    rig.r().a = 0x01;
    run(rig, {0x03, 0x40});  // ASO (0x40,X)
    EXPECT_EQ(rig.at(0x0340), 0x80);
    EXPECT_EQ(rig.r().a, 0x81);
    EXPECT_EQ(rig.r().pc, 0x0202u);
}

// ---- Stack -----------------------------------------------------------------------------------

TEST(Stack, PushAndPullWrapInsideTheStackPage) {
    CpuRig rig;
    std::uint8_t sp = 0x00;
    push(0x5D, sp, rig.image());
    EXPECT_EQ(rig.at(0x0100), 0x5D);
    EXPECT_EQ(sp, 0xFF);
    EXPECT_EQ(pull(sp, rig.image()), 0x5D);
    EXPECT_EQ(sp, 0x00);

    // The stack page is the same RAM the bus reaches.
    rig.r().a = 0x9C;
    run(rig, {0x8D, 0xFF, 0x01});  // STA 0x01FF
    sp = 0xFE;
    EXPECT_EQ(pull(sp, rig.image()), 0x9C);
}

TEST(Stack, PhpPushesBreakAndBit5PlpClearsThem) {
    CpuRig rig;
    rig.r().sp = 0xFF;
    run(rig, {0x08});  // PHP
    EXPECT_EQ(rig.at(0x01FF), 0x30);
    EXPECT_EQ(rig.r().p, 0x00);
    EXPECT_EQ(rig.r().sp, 0xFE);

    rig.at(0x01FF) = 0xFF;
    run(rig, {0x28});  // PLP
    EXPECT_EQ(rig.r().p, 0xCF);
    EXPECT_EQ(rig.r().sp, 0xFF);

    rig.r().a = 0x00;
    rig.r().p = 0;
    run(rig, {0x48});  // PHA
    rig.at(0x01FF) = 0x80;
    run(rig, {0x68});  // PLA
    EXPECT_EQ(rig.r().a, 0x80);
    EXPECT_EQ(rig.r().p, N);
}

// ---- Control flow ----------------------------------------------------------------------------

TEST(ControlFlow, JsrPushesItsLastByteAndRtsReturnsAfterIt) {
    CpuRig rig;
    rig.put(0x8000, {0x20, 0x00, 0x90});
    rig.put(0x9000, {0x60});
    rig.r().pc = 0x8000;
    rig.r().sp = 0xFD;
    rig.execute();
    EXPECT_EQ(rig.at(0x01FD), 0x80);
    EXPECT_EQ(rig.at(0x01FC), 0x02);
    EXPECT_EQ(rig.r().sp, 0xFB);
    EXPECT_EQ(rig.r().pc, 0x9000u);
    rig.execute();
    EXPECT_EQ(rig.r().pc, 0x8003u);
    EXPECT_EQ(rig.r().sp, 0xFD);
}

// The pushes come first: a JSR whose operand overlaps the stack reads the pushed byte.
TEST(ControlFlow, JsrPushesBeforeReadingItsTarget) {
    CpuRig rig;
    rig.put(0x01FA, {0x20, 0x34, 0x12});
    rig.r().pc = 0x01FA;
    rig.r().sp = 0xFD;
    rig.execute();
    // Return address 0x01FC: 0x01 lands on 0x01FD, 0xFC on 0x01FC, over the target's high byte.
    EXPECT_EQ(rig.r().pc, 0xFC34u);
}

TEST(ControlFlow, BranchesTestOneFlagEach) {
    struct Case { std::uint8_t opcode, flag; bool when_set; };
    for (const Case& t : {Case{0x10, N, false}, Case{0x30, N, true}, Case{0x50, V, false}, Case{0x70, V, true},
                          Case{0x90, C, false}, Case{0xB0, C, true}, Case{0xD0, Z, false}, Case{0xF0, Z, true}}) {
        for (bool set : {false, true}) {
            CpuRig rig;
            rig.r().p = set ? t.flag : static_cast<std::uint8_t>(~t.flag);
            run(rig, {t.opcode, 0x80});  // -128
            EXPECT_EQ(rig.r().pc, set == t.when_set ? 0x0182u : 0x0202u) << int(t.opcode) << " " << set;
        }
    }
}

TEST(ControlFlow, BranchDisplacementsWrapAroundMemory) {
    CpuRig loop;
    loop.put(0x8000, {0xD0, 0xFE});
    loop.r().pc = 0x8000;
    loop.execute();
    EXPECT_EQ(loop.r().pc, 0x8000u);
    loop.r().p = Z;
    loop.execute();
    EXPECT_EQ(loop.r().pc, 0x8002u);

    CpuRig forward;
    forward.put(0xFFF0, {0x10, 0x7F});
    forward.r().pc = 0xFFF0;
    forward.execute();
    EXPECT_EQ(forward.r().pc, 0x0071u);

    CpuRig back;
    back.put(0x0010, {0x10, 0x80});
    back.r().pc = 0x0010;
    back.execute();
    EXPECT_EQ(back.r().pc, 0xFF92u);
}

TEST(ControlFlow, FlagInstructions) {
    CpuRig rig;
    const std::uint8_t sets[] = {0x38, 0x78, 0xF8};
    for (std::uint8_t opcode : sets) run(rig, {opcode});
    EXPECT_EQ(rig.r().p, C | I | D);
    rig.r().p = 0xFF;
    const std::uint8_t clears[] = {0x18, 0x58, 0xD8, 0xB8};
    for (std::uint8_t opcode : clears) run(rig, {opcode});
    EXPECT_EQ(rig.r().p, 0xFF & ~(C | I | D | V));
    EXPECT_EQ(rig.r().pc, 0x0201u);
}

TEST(ControlFlow, UnimplementedOpcodeAbortsWithTheExactMessages) {
    for (std::uint8_t opcode : {0x61, 0xFF}) {
        CpuRig rig;
        rig.put(0x8123, {opcode, 0x00});
        rig.r().pc = 0x8123;
        rig.r().a = 0x11;
        const std::string out = rig.execute_quietly();
        EXPECT_EQ(out, std::string("This OPCODE (") + (opcode == 0x61 ? "0x61" : "0xff") +
                           ") is not implemented yet or is invalid.\nPC was pointing: 0x8123\n\n"
                           "                     ***EXECUTION ABORTED***\n\n");
        EXPECT_EQ(rig.state.quit.get(), 1u);
        EXPECT_EQ(rig.r().pc, 0x8123u);
        EXPECT_EQ(rig.r().a, 0x11);
    }
}

// ---- Interrupt entry -------------------------------------------------------------------------

TEST(Interrupts, BrkEntryThenRtiReturnsAfterItsPaddingByte) {
    CpuRig rig;
    rig.put(0xC000, {0x00, 0xEA});
    rig.set_vector(irq_vector, 0xE000);
    rig.put(0xE000, {0x40});
    rig.r().pc = 0xC000;
    rig.r().sp = 0xFF;
    rig.step();
    EXPECT_EQ(rig.at(0x01FF), 0xC0);
    EXPECT_EQ(rig.at(0x01FE), 0x02);
    EXPECT_EQ(rig.at(0x01FD), 0x10);
    EXPECT_EQ(rig.r().p, B | I);
    EXPECT_EQ(rig.r().pc, 0xE000u);
    EXPECT_EQ(rig.state.interrupt_cause, 0u);
    rig.step();  // RTI
    EXPECT_EQ(rig.r().p, B);
    EXPECT_EQ(rig.r().pc, 0xC002u);
    EXPECT_EQ(rig.r().sp, 0xFF);
}

TEST(Interrupts, RtiTakesAllEightBits) {
    CpuRig rig;
    rig.put(0x01FD, {0xFF, 0x34, 0x12});
    rig.r().sp = 0xFC;
    run(rig, {0x40});
    EXPECT_EQ(rig.r().p, 0xFF);
    EXPECT_EQ(rig.r().pc, 0x1234u);
}

TEST(Interrupts, NmiPushesStatusUnchanged) {
    for (std::uint8_t p : {0x10, 0x00, 0xC3}) {
        CpuRig rig;
        rig.set_vector(nmi_vector, 0xD000);
        rig.r().pc = 0x8456;
        rig.r().sp = 0xFF;
        rig.r().p = p;
        rig.state.nmi_request = 1;
        rig.service();
        EXPECT_EQ(rig.at(0x01FF), 0x84);
        EXPECT_EQ(rig.at(0x01FE), 0x56);
        EXPECT_EQ(rig.at(0x01FD), p);
        EXPECT_EQ(rig.r().p, p | I);
        EXPECT_EQ(rig.r().pc, 0xD000u);
        EXPECT_EQ(rig.r().sp, 0xFC);
        EXPECT_EQ(rig.state.nmi_request, 0u);
    }
}

TEST(Interrupts, IrqLeavesBreakAloneAndIgnoresTheIFlag) {
    CpuRig rig;
    rig.set_vector(irq_vector, 0xE100);
    rig.r().pc = 0x9000;
    rig.r().sp = 0x00;  // pushes wrap through 0x0100, 0x01FF, 0x01FE
    rig.r().p = I | C;
    rig.state.interrupt_cause = 1;
    rig.service();
    EXPECT_EQ(rig.at(0x0100), 0x90);
    EXPECT_EQ(rig.at(0x01FF), 0x00);
    EXPECT_EQ(rig.at(0x01FE), I | C);
    EXPECT_EQ(rig.r().p, I | C);
    EXPECT_EQ(rig.r().pc, 0xE100u);
    EXPECT_EQ(rig.r().sp, 0xFD);
    EXPECT_EQ(rig.state.interrupt_cause, 0u);
}

TEST(Interrupts, ResetReloadsPcAndSetsIOnly) {
    CpuRig rig;
    rig.set_vector(reset_vector, 0xC000);
    rig.r() = CpuRegisters{0x11, 0x22, 0x33, 0x44, N | C, 0x8765};
    rig.state.reset_request.set(1);
    rig.service();
    EXPECT_EQ(rig.r().pc, 0xC000u);
    EXPECT_EQ(rig.r().p, N | I | C);
    EXPECT_EQ(rig.r().a, 0x11);
    EXPECT_EQ(rig.r().x, 0x22);
    EXPECT_EQ(rig.r().y, 0x33);
    EXPECT_EQ(rig.r().sp, 0x44);
    EXPECT_EQ(rig.state.reset_request.get(), 0u);
    EXPECT_EQ(rig.at(0x0144), 0x00);  // nothing pushed
    EXPECT_EQ(rig.at(0x0143), 0x00);
}

TEST(Interrupts, OnlyAPendingValueOfOneCounts) {
    CpuRig rig;
    rig.r().pc = 0x8000;
    rig.r().sp = 0xFF;
    rig.state.reset_request.set(2);
    rig.state.nmi_request = 2;
    rig.state.interrupt_cause = 3;
    rig.service();
    EXPECT_EQ(rig.r().pc, 0x8000u);
    EXPECT_EQ(rig.r().sp, 0xFF);
    EXPECT_EQ(rig.r().p, 0x00);
    EXPECT_EQ(rig.state.reset_request.get(), 2u);
    EXPECT_EQ(rig.state.nmi_request, 2u);
    EXPECT_EQ(rig.state.interrupt_cause, 3u);
}

// Reset beats NMI, which waits for one more instruction and pushes the pc after it.
TEST(Interrupts, ResetBeforeNmiOnePerStep) {
    CpuRig rig;
    rig.set_vector(reset_vector, 0xC000);
    rig.set_vector(nmi_vector, 0xD000);
    rig.put(0x8000, {0xEA});
    rig.put(0xC000, {0xA9, 0x01});
    rig.r().pc = 0x8000;
    rig.r().sp = 0xFF;
    rig.state.reset_request.set(1);
    rig.state.nmi_request = 1;
    rig.step();
    EXPECT_EQ(rig.r().pc, 0xC000u);
    EXPECT_EQ(rig.state.nmi_request, 1u);
    EXPECT_EQ(rig.r().sp, 0xFF);
    rig.step();  // LDA #1, then the NMI
    EXPECT_EQ(rig.r().pc, 0xD000u);
    EXPECT_EQ(rig.at(0x01FF), 0xC0);
    EXPECT_EQ(rig.at(0x01FE), 0x02);
    EXPECT_EQ(rig.at(0x01FD), I);
}

// A BRK under a pending NMI: the NMI goes first, pushing BRK's return address without B; the
// BRK entry follows after the NMI handler's first instruction and pushes B set.
TEST(Interrupts, BrkUnderAPendingNmi) {
    CpuRig rig;
    rig.set_vector(nmi_vector, 0xD000);
    rig.set_vector(irq_vector, 0xE000);
    rig.put(0x8000, {0x00, 0xFF});
    rig.put(0xD000, {0xEA});
    rig.r().pc = 0x8000;
    rig.r().sp = 0xFF;
    rig.state.nmi_request = 1;
    rig.step();
    EXPECT_EQ(rig.r().pc, 0xD000u);
    EXPECT_EQ(rig.at(0x01FF), 0x80);
    EXPECT_EQ(rig.at(0x01FE), 0x02);
    EXPECT_EQ(rig.at(0x01FD), 0x00);
    EXPECT_EQ(rig.state.interrupt_cause, 2u);
    rig.step();  // NOP in the NMI handler, then the BRK entry
    EXPECT_EQ(rig.r().pc, 0xE000u);
    EXPECT_EQ(rig.at(0x01FC), 0xD0);
    EXPECT_EQ(rig.at(0x01FB), 0x01);
    EXPECT_EQ(rig.at(0x01FA), B | I);
    EXPECT_EQ(rig.state.interrupt_cause, 0u);
}
