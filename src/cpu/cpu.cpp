// The 6502 interpreter: stack steps, operand fetchers, the instruction bodies, the opcode
// table and interrupt entry. Decimal mode is not emulated (the NES has none).
#include "cpu/cpu.h"

#include <cstdint>
#include <cstdio>

#include "bus/bus.h"
#include "core/host.h"

namespace {

constexpr std::uint32_t stack_page = 0x0100;

// Every change to pc is taken modulo 0x10000.
inline void advance(std::uint32_t& pc, std::uint32_t count) { pc = (pc + count) & 0xFFFF; }

// A temporary that receives a bus read starts at 0: reads of 0x2003/0x2006, or of the joypad
// port while it is strobed, deliver nothing and leave it so.
inline std::uint8_t read_byte(std::uint8_t* image, std::uint32_t address) {
    std::uint8_t value = 0;
    bus_read(value, image, address);
    return value;
}

// Byte n (1 or 2) of the instruction whose opcode is at `at`. The fetchers read their operand
// bytes from the opcode address and move pc past the instruction once, at the end.
inline std::uint8_t operand_byte(std::uint32_t at, std::uint32_t n, std::uint8_t* image) {
    return read_byte(image, (at + n) & 0xFFFF);
}

}  // namespace

// ---- Stack ---------------------------------------------------------------------------------

void push(std::uint8_t value, std::uint8_t& sp, std::uint8_t* image) {
    image[stack_page + sp] = value;
    --sp;
}

std::uint8_t pull(std::uint8_t& sp, std::uint8_t* image) {
    ++sp;
    return image[stack_page + sp];
}

// ---- Operand fetchers ----------------------------------------------------------------------

std::uint8_t fetch_immediate(std::uint32_t& pc, std::uint8_t* image) {
    const std::uint32_t at = pc;
    const std::uint8_t nn = operand_byte(at, 1, image);
    pc = (at + 2) & 0xFFFF;
    return nn;
}

std::uint32_t address_zero_page(std::uint32_t& pc, std::uint8_t* image) {
    const std::uint32_t at = pc;
    const std::uint8_t nn = operand_byte(at, 1, image);
    pc = (at + 2) & 0xFFFF;
    return nn;
}

std::uint32_t address_zero_page_indexed(std::uint32_t& pc, std::uint8_t* image, std::uint8_t index) {
    const std::uint32_t at = pc;
    const std::uint8_t nn = operand_byte(at, 1, image);
    pc = (at + 2) & 0xFFFF;
    return (nn + index) & 0xFF;  // stays in page zero
}

std::uint32_t address_absolute(std::uint32_t& pc, std::uint8_t* image) {
    const std::uint32_t at = pc;
    const std::uint8_t lo = operand_byte(at, 1, image);
    const std::uint8_t hi = operand_byte(at, 2, image);
    pc = (at + 3) & 0xFFFF;
    return hi * 0x100u + lo;
}

std::uint32_t address_absolute_indexed(std::uint32_t& pc, std::uint8_t* image, std::uint8_t index) {
    const std::uint32_t at = pc;
    const std::uint8_t lo = operand_byte(at, 1, image);
    const std::uint8_t hi = operand_byte(at, 2, image);
    pc = (at + 3) & 0xFFFF;
    return (hi * 0x100u + lo + index) & 0xFFFF;
}

// The pointer's high byte comes from z + 1 without wrapping: a pointer at 0x00FF takes its
// high byte from 0x0100.
std::uint32_t address_indexed_indirect(std::uint32_t& pc, std::uint8_t* image, std::uint8_t x) {
    const std::uint32_t at = pc;
    const std::uint32_t z = (operand_byte(at, 1, image) + x) & 0xFF;
    const std::uint8_t lo = read_byte(image, z);
    const std::uint8_t hi = read_byte(image, z + 1);
    pc = (at + 2) & 0xFFFF;
    return hi * 0x100u + lo;
}

std::uint32_t address_indirect_indexed(std::uint32_t& pc, std::uint8_t* image, std::uint8_t y) {
    const std::uint32_t at = pc;
    const std::uint32_t nn = operand_byte(at, 1, image);
    const std::uint8_t lo = read_byte(image, nn);
    const std::uint8_t hi = read_byte(image, nn + 1);
    pc = (at + 2) & 0xFFFF;
    return (hi * 0x100u + lo + y) & 0xFFFF;
}

namespace {

// What every instruction body works on.
struct Cpu {
    CpuRegisters& r;
    std::uint8_t* image;
    std::uint32_t& interrupt_cause;
    SharedWord& quit;
    std::uint8_t opcode;
    // Set when the instruction writes memory, stops the run, raises BRK or reads anything but RAM,
    // PRG and 0x2002. Only cpu_execute_watched hands it out; elsewhere it is never read and the
    // compiler drops it.
    bool effects = false;
    bool jumped_back = false;  // what cpu_execute answers
};

inline void note_jump(Cpu& c, std::uint32_t from, std::uint32_t to) {
    c.jumped_back = from - to <= cpu_short_loop_bytes;
}

inline void note_read(Cpu& c, std::uint32_t address) {
    if (!(address < 0x2000 || address >= 0x8000 || address == 0x2002)) c.effects = true;
}

inline void note_effect(Cpu& c) { c.effects = true; }

using Body = void (*)(Cpu&);
using Register = std::uint8_t CpuRegisters::*;

constexpr Register A = &CpuRegisters::a;
constexpr Register X = &CpuRegisters::x;
constexpr Register Y = &CpuRegisters::y;
constexpr Register S = &CpuRegisters::sp;

enum class Mode { Imm, Zp, ZpX, ZpY, Abs, AbsX, AbsY, IzX, IzY };
using enum Mode;

template <Mode M>
[[gnu::always_inline]] inline std::uint32_t effective_address(Cpu& c) {
    if constexpr (M == Zp) return address_zero_page(c.r.pc, c.image);
    if constexpr (M == ZpX) return address_zero_page_indexed(c.r.pc, c.image, c.r.x);
    if constexpr (M == ZpY) return address_zero_page_indexed(c.r.pc, c.image, c.r.y);
    if constexpr (M == Abs) return address_absolute(c.r.pc, c.image);
    if constexpr (M == AbsX) return address_absolute_indexed(c.r.pc, c.image, c.r.x);
    if constexpr (M == AbsY) return address_absolute_indexed(c.r.pc, c.image, c.r.y);
    if constexpr (M == IzX) return address_indexed_indirect(c.r.pc, c.image, c.r.x);
    if constexpr (M == IzY) return address_indirect_indexed(c.r.pc, c.image, c.r.y);
}

// The value operand m: the immediate byte or one bus read at the effective address.
template <Mode M>
[[gnu::always_inline]] inline std::uint8_t read_operand(Cpu& c) {
    if constexpr (M == Imm) {
        return fetch_immediate(c.r.pc, c.image);
    } else {
        const std::uint32_t address = effective_address<M>(c);
        note_read(c, address);
        return read_byte(c.image, address);
    }
}

inline void set_zn(std::uint8_t& p, std::uint8_t value) {
    flag_set(flag::Z, value == 0, p);
    flag_set(flag::N, value >> 7, p);
}

// ---- Loads, stores and transfers -----------------------------------------------------------

// A memory load reads straight into the register, so a read that delivers nothing keeps its old
// value; the immediate form takes fetch_immediate's byte like every other immediate instruction.
template <Register R, Mode M>
void load(Cpu& c) {
    if constexpr (M == Imm) {
        c.r.*R = fetch_immediate(c.r.pc, c.image);
    } else {
        const std::uint32_t address = effective_address<M>(c);
        note_read(c, address);
        bus_read(c.r.*R, c.image, address);
    }
    set_zn(c.r.p, c.r.*R);
}

template <Register R, Mode M>
void store(Cpu& c) {
    const std::uint32_t address = effective_address<M>(c);
    note_effect(c);
    bus_write(c.r.*R, c.image, address);
}

template <Register From, Register To>
void transfer(Cpu& c) {
    c.r.*To = c.r.*From;
    set_zn(c.r.p, c.r.*To);
    advance(c.r.pc, 1);
}

void txs(Cpu& c) {
    c.r.sp = c.r.x;  // the one transfer that leaves the flags alone
    advance(c.r.pc, 1);
}

// ---- Stack instructions --------------------------------------------------------------------

void pha(Cpu& c) {
    note_effect(c);
    push(c.r.a, c.r.sp, c.image);
    advance(c.r.pc, 1);
}

void php(Cpu& c) {
    note_effect(c);
    push(c.r.p | 0x30, c.r.sp, c.image);
    advance(c.r.pc, 1);
}

void pla(Cpu& c) {
    c.r.a = pull(c.r.sp, c.image);
    set_zn(c.r.p, c.r.a);
    advance(c.r.pc, 1);
}

// The IRQ input is a level: an instruction that clears I takes one that is raised, after itself.
inline void irq_unmasked(Cpu& c) {
    if (c.image[priv::irq_line] != 0 && flag_get(flag::I, c.r.p) == 0 && c.interrupt_cause == 0) [[unlikely]]
        c.interrupt_cause = 1;
}

void plp(Cpu& c) {
    c.r.p = pull(c.r.sp, c.image) & 0xCF;
    advance(c.r.pc, 1);
    irq_unmasked(c);
}

// ---- Flags and no-operations ---------------------------------------------------------------

template <std::uint32_t Bit, std::uint32_t Value>
void set_flag(Cpu& c) {
    flag_set(Bit, Value, c.r.p);
    advance(c.r.pc, 1);
}

// The skipped operand bytes are not read.
template <std::uint32_t Length>
void skip(Cpu& c) {
    advance(c.r.pc, Length);
}

// ---- Jumps, calls, returns, branches, BRK --------------------------------------------------

void jmp_absolute(Cpu& c) {
    const std::uint32_t at = c.r.pc;
    c.r.pc = address_absolute(c.r.pc, c.image);
    note_jump(c, at, c.r.pc);
}

// The pointer's high byte never leaves its page: JMP (0x10FF) reads 0x10FF and 0x1000.
void jmp_indirect(Cpu& c) {
    const std::uint32_t pointer = address_absolute(c.r.pc, c.image);
    const std::uint8_t lo = read_byte(c.image, pointer);
    const std::uint32_t high_at = (pointer & 0xFF) == 0xFF ? pointer - 0xFF : pointer + 1;
    note_read(c, pointer);
    note_read(c, high_at);
    const std::uint8_t hi = read_byte(c.image, high_at);
    c.r.pc = hi * 0x100u + lo;
}

// High byte first, as JSR and interrupt entry store a return address.
inline void push_pc(std::uint32_t pc, std::uint8_t& sp, std::uint8_t* image) {
    push(static_cast<std::uint8_t>(pc >> 8), sp, image);
    push(static_cast<std::uint8_t>(pc), sp, image);
}

// Pushes the address of its own last byte before reading the target.
void jsr(Cpu& c) {
    note_effect(c);
    push_pc((c.r.pc + 2) & 0xFFFF, c.r.sp, c.image);
    c.r.pc = address_absolute(c.r.pc, c.image);
}

void rts(Cpu& c) {
    const std::uint8_t lo = pull(c.r.sp, c.image);
    const std::uint8_t hi = pull(c.r.sp, c.image);
    c.r.pc = (hi * 0x100u + lo + 1) & 0xFFFF;
}

// Unlike PLP, all eight bits come back as they were pushed.
void rti(Cpu& c) {
    c.r.p = pull(c.r.sp, c.image);
    const std::uint8_t lo = pull(c.r.sp, c.image);
    const std::uint8_t hi = pull(c.r.sp, c.image);
    c.r.pc = hi * 0x100u + lo;
    irq_unmasked(c);
}

void cli(Cpu& c) {
    flag_set(flag::I, 0, c.r.p);
    advance(c.r.pc, 1);
    irq_unmasked(c);
}

// The displacement is read only when the branch is taken.
template <std::uint32_t Bit, std::uint32_t Value>
void branch(Cpu& c) {
    if (flag_get(Bit, c.r.p) == Value) {
        const std::uint32_t at = c.r.pc;
        const auto displacement = static_cast<std::int8_t>(fetch_immediate(c.r.pc, c.image));
        advance(c.r.pc, static_cast<std::uint32_t>(static_cast<std::int32_t>(displacement)));
        note_jump(c, at, c.r.pc);
    } else {
        advance(c.r.pc, 2);
    }
}

// The entry itself (pushes, vector) happens in cpu_service_interrupts of the same step.
void brk(Cpu& c) {
    note_effect(c);
    c.interrupt_cause = 2;
    advance(c.r.pc, 2);
}

// Out of line and given plain values, so that the dispatch keeps nothing in memory for it.
[[gnu::cold, gnu::noinline]] void abort_unimplemented(SharedWord& quit, std::uint8_t opcode,
                                                      std::uint32_t pc) {
    print_text("This OPCODE (%p) is not implemented yet or is invalid.\n",
               reinterpret_cast<void*>(static_cast<std::uintptr_t>(opcode)));
    print_text("PC was pointing: %p\n\n", reinterpret_cast<void*>(static_cast<std::uintptr_t>(pc)));
    host_print("                     ***EXECUTION ABORTED***\n\n");
    quit.set(1);
}

void unimplemented(Cpu& c) {
    note_effect(c);
    abort_unimplemented(c.quit, c.opcode, c.r.pc);
}

// ---- Logic, arithmetic, compares, BIT ------------------------------------------------------

enum class Logic { Or, And, Xor };

template <Logic L, Mode M>
void logic(Cpu& c) {
    const std::uint8_t m = read_operand<M>(c);
    if constexpr (L == Logic::Or) c.r.a |= m;
    if constexpr (L == Logic::And) c.r.a &= m;
    if constexpr (L == Logic::Xor) c.r.a ^= m;
    set_zn(c.r.p, c.r.a);
}

void add_with_carry(std::uint8_t m, std::uint8_t& a, std::uint8_t& p) {
    const std::uint32_t sum = a + m + flag_get(flag::C, p);
    const std::uint8_t r = static_cast<std::uint8_t>(sum);
    flag_set(flag::V, ((a ^ r) & ~(a ^ m)) >> 7, p);  // same-sign operands, other-sign result
    flag_set(flag::C, sum > 0xFF, p);
    a = r;
    set_zn(p, a);
}

void subtract_with_borrow(std::uint8_t m, std::uint8_t& a, std::uint8_t& p) {
    const std::int32_t d = a - m - (1 - static_cast<std::int32_t>(flag_get(flag::C, p)));
    const std::uint8_t r = static_cast<std::uint8_t>(d);
    flag_set(flag::V, ((a ^ m) & (a ^ r)) >> 7, p);
    flag_set(flag::C, d >= 0, p);
    a = r;
    set_zn(p, a);
}

void compare_register(std::uint8_t r, std::uint8_t m, std::uint8_t& p) {
    flag_set(flag::C, r >= m, p);
    set_zn(p, static_cast<std::uint8_t>(r - m));
}

template <Mode M>
void adc(Cpu& c) {
    add_with_carry(read_operand<M>(c), c.r.a, c.r.p);
}

template <Mode M>
void sbc(Cpu& c) {
    subtract_with_borrow(read_operand<M>(c), c.r.a, c.r.p);
}

template <Register R, Mode M>
void compare(Cpu& c) {
    const std::uint8_t m = read_operand<M>(c);
    compare_register(c.r.*R, m, c.r.p);
}

template <Mode M>
void bit(Cpu& c) {
    const std::uint8_t m = read_operand<M>(c);
    flag_set(flag::N, m >> 7, c.r.p);
    flag_set(flag::V, m >> 6, c.r.p);
    flag_set(flag::Z, (c.r.a & m) == 0, c.r.p);
}

// ---- Shifts, rotates, increments, decrements -----------------------------------------------

enum class Shift { Asl, Lsr, Rol, Ror };

template <Shift S>
std::uint8_t shift(std::uint8_t v, std::uint8_t& p) {
    const std::uint32_t old_carry = flag_get(flag::C, p);
    std::uint32_t r = 0;
    if constexpr (S == Shift::Asl) r = v << 1;
    if constexpr (S == Shift::Lsr) r = v >> 1;
    if constexpr (S == Shift::Rol) r = (v << 1) | old_carry;
    if constexpr (S == Shift::Ror) r = (v >> 1) | (old_carry << 7);
    if constexpr (S == Shift::Asl || S == Shift::Rol) flag_set(flag::C, v >> 7, p);
    if constexpr (S == Shift::Lsr || S == Shift::Ror) flag_set(flag::C, v, p);
    const std::uint8_t result = static_cast<std::uint8_t>(r);
    set_zn(p, result);
    return result;
}

template <Shift S>
void shift_accumulator(Cpu& c) {
    c.r.a = shift<S>(c.r.a, c.r.p);
    advance(c.r.pc, 1);
}

// Read-modify-write: one read, one write of the new value.
template <Shift S, Mode M>
void shift_memory(Cpu& c) {
    const std::uint32_t address = effective_address<M>(c);
    note_effect(c);
    const std::uint8_t result = shift<S>(read_byte(c.image, address), c.r.p);
    bus_write(result, c.image, address);
}

template <int Delta, Mode M>
void step_memory(Cpu& c) {
    const std::uint32_t address = effective_address<M>(c);
    note_effect(c);
    const std::uint8_t result = static_cast<std::uint8_t>(read_byte(c.image, address) + Delta);
    set_zn(c.r.p, result);
    bus_write(result, c.image, address);
}

template <Register R, int Delta>
void step_register(Cpu& c) {
    c.r.*R = static_cast<std::uint8_t>(c.r.*R + Delta);
    set_zn(c.r.p, c.r.*R);
    advance(c.r.pc, 1);
}

// The undocumented combined instructions: the second body fetches its operand afresh from the
// opcode, so the memory byte is read twice (the second read sees the first body's result).
template <Body First, Body Second>
void combined(Cpu& c) {
    const std::uint32_t start = c.r.pc;
    First(c);
    c.r.pc = start;
    Second(c);
}

// ---- The opcode table ----------------------------------------------------------------------

// One name per instruction, so that the table reads like a 6502 opcode chart.
template <Mode M> constexpr Body LDA = load<A, M>;
template <Mode M> constexpr Body LDX = load<X, M>;
template <Mode M> constexpr Body LDY = load<Y, M>;
template <Mode M> constexpr Body STA = store<A, M>;
template <Mode M> constexpr Body STX = store<X, M>;
template <Mode M> constexpr Body STY = store<Y, M>;
template <Mode M> constexpr Body ORA = logic<Logic::Or, M>;
template <Mode M> constexpr Body AND = logic<Logic::And, M>;
template <Mode M> constexpr Body EOR = logic<Logic::Xor, M>;
template <Mode M> constexpr Body ADC = adc<M>;
template <Mode M> constexpr Body SBC = sbc<M>;
template <Mode M> constexpr Body CMP = compare<A, M>;
template <Mode M> constexpr Body CPX = compare<X, M>;
template <Mode M> constexpr Body CPY = compare<Y, M>;
template <Mode M> constexpr Body BIT = bit<M>;
template <Mode M> constexpr Body ASL = shift_memory<Shift::Asl, M>;
template <Mode M> constexpr Body LSR = shift_memory<Shift::Lsr, M>;
template <Mode M> constexpr Body ROL = shift_memory<Shift::Rol, M>;
template <Mode M> constexpr Body ROR = shift_memory<Shift::Ror, M>;
template <Mode M> constexpr Body INC = step_memory<+1, M>;
template <Mode M> constexpr Body DEC = step_memory<-1, M>;
template <Mode M> constexpr Body ASO = combined<ASL<M>, ORA<M>>;
template <Mode M> constexpr Body RLA = combined<ROL<M>, AND<M>>;
template <Mode M> constexpr Body DCM = combined<DEC<M>, CMP<M>>;  // DEC+CMP

constexpr Body ASL_A = shift_accumulator<Shift::Asl>;
constexpr Body LSR_A = shift_accumulator<Shift::Lsr>;
constexpr Body ROL_A = shift_accumulator<Shift::Rol>;
constexpr Body ROR_A = shift_accumulator<Shift::Ror>;
constexpr Body TAX = transfer<A, X>, TXA = transfer<X, A>, TAY = transfer<A, Y>, TYA = transfer<Y, A>;
constexpr Body TSX = transfer<S, X>, TXS = txs;
constexpr Body INX = step_register<X, +1>, INY = step_register<Y, +1>;
constexpr Body DEX = step_register<X, -1>, DEY = step_register<Y, -1>;
constexpr Body CLC = set_flag<flag::C, 0>, SEC = set_flag<flag::C, 1>;
constexpr Body CLI = cli, SEI = set_flag<flag::I, 1>;
constexpr Body CLD = set_flag<flag::D, 0>, SED = set_flag<flag::D, 1>;
constexpr Body CLV = set_flag<flag::V, 0>;
constexpr Body BPL = branch<flag::N, 0>, BMI = branch<flag::N, 1>;
constexpr Body BVC = branch<flag::V, 0>, BVS = branch<flag::V, 1>;
constexpr Body BCC = branch<flag::C, 0>, BCS = branch<flag::C, 1>;
constexpr Body BNE = branch<flag::Z, 0>, BEQ = branch<flag::Z, 1>;
constexpr Body BRK = brk, RTI = rti, RTS = rts, JSR = jsr, JMP = jmp_absolute, JMP_I = jmp_indirect;
constexpr Body PHP = php, PLP = plp, PHA = pha, PLA = pla;
constexpr Body NOP = skip<1>, NOP2 = skip<2>, NOP3 = skip<3>;
constexpr Body ___ = unimplemented;

// clang-format off
constexpr Body opcode_table[256] = {
/*      x0        x1         x2    x3         x4        x5        x6        x7        x8    x9         xA     xB         xC        xD         xE         xF */
/*0x*/  BRK,      ORA<IzX>,  ___,  ASO<IzX>,  NOP2,     ORA<Zp>,  ASL<Zp>,  ASO<Zp>,  PHP,  ORA<Imm>,  ASL_A, ___,       NOP3,     ORA<Abs>,  ASL<Abs>,  ASO<Abs>,
/*1x*/  BPL,      ORA<IzY>,  ___,  ___,       NOP2,     ORA<ZpX>, ASL<ZpX>, ASO<ZpX>, CLC,  ORA<AbsY>, NOP,   ASO<AbsY>, NOP2,     ORA<AbsX>, ASL<AbsX>, ASO<AbsX>,
/*2x*/  JSR,      AND<IzX>,  ___,  ___,       BIT<Zp>,  AND<Zp>,  ROL<Zp>,  RLA<Zp>,  PLP,  AND<Imm>,  ROL_A, ___,       BIT<Abs>, AND<Abs>,  ROL<Abs>,  RLA<Abs>,
/*3x*/  BMI,      AND<IzY>,  ___,  ___,       NOP2,     AND<ZpX>, ROL<ZpX>, RLA<ZpX>, SEC,  AND<AbsY>, NOP,   RLA<AbsY>, NOP3,     AND<AbsX>, ROL<AbsX>, RLA<AbsX>,
/*4x*/  RTI,      EOR<IzX>,  ___,  ___,       ___,      EOR<Zp>,  LSR<Zp>,  ___,      PHA,  EOR<Imm>,  LSR_A, ___,       JMP,      EOR<Abs>,  LSR<Abs>,  ___,
/*5x*/  BVC,      EOR<IzY>,  ___,  ___,       NOP2,     EOR<ZpX>, LSR<ZpX>, ___,      CLI,  EOR<AbsY>, NOP,   ___,       NOP3,     EOR<AbsX>, LSR<AbsX>, ___,
/*6x*/  RTS,      ___,       ___,  ___,       ___,      ADC<Zp>,  ROR<Zp>,  ___,      PLA,  ADC<Imm>,  ROR_A, ___,       JMP_I,    ADC<Abs>,  ROR<Abs>,  ___,
/*7x*/  BVS,      ADC<IzY>,  ___,  ___,       NOP2,     ADC<ZpX>, ROR<ZpX>, ___,      SEI,  ADC<AbsY>, NOP,   ___,       NOP3,     ADC<AbsX>, ROR<AbsX>, ___,
/*8x*/  NOP2,     STA<IzX>,  NOP2, ___,       STY<Zp>,  STA<Zp>,  STX<Zp>,  ___,      DEY,  NOP2,      TXA,   ___,       STY<Abs>, STA<Abs>,  STX<Abs>,  ___,
/*9x*/  BCC,      STA<IzY>,  ___,  ___,       STY<ZpX>, STA<ZpX>, STX<ZpY>, ___,      TYA,  STA<AbsY>, TXS,   ___,       ___,      STA<AbsX>, ___,       ___,
/*Ax*/  LDY<Imm>, LDA<IzX>,  LDX<Imm>, ___,   LDY<Zp>,  LDA<Zp>,  LDX<Zp>,  ___,      TAY,  LDA<Imm>,  TAX,   ___,       LDY<Abs>, LDA<Abs>,  LDX<Abs>,  ___,
/*Bx*/  BCS,      LDA<IzY>,  ___,  ___,       LDY<ZpX>, LDA<ZpX>, LDX<ZpY>, ___,      CLV,  LDA<AbsY>, TSX,   ___,       LDY<AbsX>,LDA<AbsX>, LDX<AbsY>, ___,
/*Cx*/  CPY<Imm>, CMP<IzX>,  NOP2, ___,       CPY<Zp>,  CMP<Zp>,  DEC<Zp>,  ___,      INY,  CMP<Imm>,  DEX,   ___,       CPY<Abs>, CMP<Abs>,  DEC<Abs>,  DCM<Abs>,
/*Dx*/  BNE,      CMP<IzY>,  ___,  ___,       NOP2,     CMP<ZpX>, DEC<ZpX>, ___,      CLD,  CMP<AbsY>, NOP,   DCM<AbsY>, NOP3,     CMP<AbsX>, DEC<AbsX>, DCM<AbsX>,
/*Ex*/  CPX<Imm>, ___,       NOP2, ___,       CPX<Zp>,  SBC<Zp>,  INC<Zp>,  ___,      INX,  SBC<Imm>,  NOP,   ___,       CPX<Abs>, SBC<Abs>,  INC<Abs>,  ___,
/*Fx*/  BEQ,      SBC<IzY>,  ___,  ___,       NOP2,     SBC<ZpX>, INC<ZpX>, ___,      SED,  SBC<AbsY>, NOP,   ___,       NOP3,     SBC<AbsX>, INC<AbsX>, ___,
};
// clang-format on

}  // namespace

// ---- Dispatch and interrupt entry ----------------------------------------------------------

// A switch over the table rather than a call through it: with a constant index each entry is a
// known function, which the compiler calls directly or inlines.
#define QUENRIK_CASE(n) \
    case n: opcode_table[n](c); return;
#define QUENRIK_CASES16(h)                                                                         \
    QUENRIK_CASE(h + 0x0) QUENRIK_CASE(h + 0x1) QUENRIK_CASE(h + 0x2) QUENRIK_CASE(h + 0x3)         \
    QUENRIK_CASE(h + 0x4) QUENRIK_CASE(h + 0x5) QUENRIK_CASE(h + 0x6) QUENRIK_CASE(h + 0x7)         \
    QUENRIK_CASE(h + 0x8) QUENRIK_CASE(h + 0x9) QUENRIK_CASE(h + 0xA) QUENRIK_CASE(h + 0xB)         \
    QUENRIK_CASE(h + 0xC) QUENRIK_CASE(h + 0xD) QUENRIK_CASE(h + 0xE) QUENRIK_CASE(h + 0xF)

namespace {

[[gnu::always_inline]] inline void dispatch(Cpu& c) {
    switch (c.opcode) {
        QUENRIK_CASES16(0x00) QUENRIK_CASES16(0x10) QUENRIK_CASES16(0x20) QUENRIK_CASES16(0x30)
        QUENRIK_CASES16(0x40) QUENRIK_CASES16(0x50) QUENRIK_CASES16(0x60) QUENRIK_CASES16(0x70)
        QUENRIK_CASES16(0x80) QUENRIK_CASES16(0x90) QUENRIK_CASES16(0xA0) QUENRIK_CASES16(0xB0)
        QUENRIK_CASES16(0xC0) QUENRIK_CASES16(0xD0) QUENRIK_CASES16(0xE0) QUENRIK_CASES16(0xF0)
    }
}

}  // namespace

// Flattened: every instruction body, its operand fetch and the bus fast path are inlined into
// the one switch, so an instruction costs no call beyond this one.
[[gnu::flatten]] bool cpu_execute(SharedWord& quit, std::uint8_t& opcode, CpuRegisters& registers,
                                  std::uint8_t* image, std::uint32_t& interrupt_cause) {
    Cpu c{registers, image, interrupt_cause, quit, opcode};
    dispatch(c);
    return c.jumped_back;
}

// The same dispatch, instantiated a second time so that the effects it notes are kept.
[[gnu::flatten]] bool cpu_execute_watched(SharedWord& quit, std::uint8_t& opcode,
                                          CpuRegisters& registers, std::uint8_t* image,
                                          std::uint32_t& interrupt_cause) {
    Cpu c{registers, image, interrupt_cause, quit, opcode};
    dispatch(c);
    return !c.effects;
}

#undef QUENRIK_CASES16
#undef QUENRIK_CASE

// At most one entry per call, reset first; a request that loses waits for a later step.
// The I flag is set on every entry; it holds back only the IRQ input, which is dropped then and
// taken up again by the instruction that clears I, if the input is still raised.
void cpu_enter_interrupt(SharedWord& reset_request, std::uint32_t& nmi_request,
                         std::uint32_t& interrupt_cause, std::uint32_t& pc, std::uint8_t& sp,
                         std::uint8_t& p, std::uint8_t* image) {
    if (reset_request.get() == 1) {
        pc = read_vector(image, reset_vector);
        flag_set(flag::I, 1, p);
        reset_request.set(0);
    } else if (nmi_request == 1) {
        push_pc(pc, sp, image);
        push(p, sp, image);  // as it is, B included
        pc = read_vector(image, nmi_vector);
        flag_set(flag::I, 1, p);
        nmi_request = 0;
    } else if (interrupt_cause == 1 && flag_get(flag::I, p) == 1) {
        interrupt_cause = 0;
    } else if (interrupt_cause == 1 || interrupt_cause == 2) {
        push_pc(pc, sp, image);
        if (interrupt_cause == 2) flag_set(flag::B, 1, p);  // in p itself, and so in the pushed copy
        push(p, sp, image);
        pc = read_vector(image, irq_vector);
        flag_set(flag::I, 1, p);
        interrupt_cause = 0;
    }
}
