// The trace disassembler and the machine-state block of the debugger.
#include "debug/disassembler.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "bus/bus.h"

namespace {

// ---- The rendering table -----------------------------------------------------------------
// One printf format per opcode. Rows of instructions that move pc carry no operand value,
// since the bytes in front of the new pc are not theirs; placeholders "aa"/"aaaa" are printed
// as they stand. ORA is written "OR" throughout, and "MAL MAL" marks opcodes the table does
// not know (the CPU may still execute some of them).
constexpr std::array<const char*, 256> trace_formats = {
    // 0x
    "BRK", "OR (%x,X)", "MAL MAL", "MAL MAL", "NOP", "OR %x", "ASL %x", "ASO aa",
    "PHP", "OR #%x", "ASL A", "MAL MAL", "NOP", "OR $%x", "ASL $%x", "ASO aaaa",
    // 1x
    "BPL", "OR (%x),Y", "MAL MAL", "MAL MAL", "NOP", "OR %x,X", "ASL %x,X", "ASO aa, X",
    "CLC", "OR aaaa,Y", "NOP", "ASO aaaa, Y", "NOP", "OR aaaa,X", "ASL $%x,X", "ASO aaaa, X",
    // 2x
    "JSR", "AND (%x,X)", "MAL MAL", "MAL MAL", "BIT aa", "AND %x", "ROL %x", "RLA aa",
    "PLP", "AND #%x", "ROL A", "MAL MAL", "BIT $%x", "AND $%x", "ROL $%x", "RLA aaaa",
    // 3x
    "BMI", "AND (%x),Y", "MAL MAL", "MAL MAL", "NOP", "AND %x,X", "ROL %x,X", "RLA aa, X",
    "SEC", "AND aaaa,Y", "NOP", "RLA aaaa, Y", "NOP", "AND aaaa,X", "ROL aaaa, X", "RLA aaaa, X",
    // 4x
    "RTI", "EOR (%x,X)", "MAL MAL", "MAL MAL", "MAL MAL", "EOR %x", "lSR %x", "MAL MAL",
    "PHA", "EOR #%x", "LSR A", "MAL MAL", "JMP aaaa", "EOR $%x", "LSR $%x", "MAL MAL",
    // 5x
    "BVC", "EOR (%x),Y", "MAL MAL", "MAL MAL", "NOP", "EOR %x,X", "lSR %x,X", "MAL MAL",
    "CLI", "EOR aaaa,Y", "NOP", "MAL MAL", "NOP", "EOR aaaa,X", "LSR $%x,X", "MAL MAL",
    // 6x
    "RTS", "MAL MAL", "MAL MAL", "MAL MAL", "MAL MAL", "ADC %x", "ROR %x", "MAL MAL",
    "PLA", "ADC #%x", "ROR A", "MAL MAL", "JMP (aaaa)", "ADC aaaa", "ROR $%x", "MAL MAL",
    // 7x
    "BVS", "MAL MAL", "MAL MAL", "MAL MAL", "NOP", "ADC %x,X", "ROR %x,X", "MAL MAL",
    "SEI", "MAL MAL", "NOP", "MAL MAL", "NOP", "ADC aaaa,X", "ROR aaaa, X", "MAL MAL",
    // 8x
    "NOP", "STA (%x,X)", "NOP", "MAL MAL", "STY %x", "STA %x", "STX %x", "MAL MAL",
    "DEY", "NOP", "TXA", "MAL MAL", "STY $%x", "STA $%x", "STX $%x", "MAL MAL",
    // 9x
    "BCC", "STA (%x),Y", "MAL MAL", "MAL MAL", "STY %x,X", "STA %x,X", "STX %x,Y", "MAL MAL",
    "TYA", "STA $%x,Y", "TXS", "MAL MAL", "MAL MAL", "STA $%x,X", "MAL MAL", "MAL MAL",
    // Ax
    "LDY #%x", "LDA (%x,X)", "LDX #%x", "MAL MAL", "LDY %x", "LDA %x", "LDX %x", "MAL MAL",
    "TAY", "LDA #%x", "TAX", "MAL MAL", "LDY $%x", "LDA $%x", "LDX $%x", "MAL MAL",
    // Bx
    "BCS", "LDA (%x),Y", "MAL MAL", "MAL MAL", "LDY %x,X", "LDA %x,X", "LDX %x,Y", "MAL MAL",
    "CLV", "LDA $%x,Y", "TSX", "MAL MAL", "LDY $%x,X", "LDA $%x,X", "LDX $%x,Y", "MAL MAL",
    // Cx
    "CPY #%x", "CMP (%x,X)", "NOP", "MAL MAL", "CPY %x", "CMP %x", "DEC %x", "MAL MAL",
    "INY", "CMP #%x", "DEX", "MAL MAL", "CPY $%x", "CMP $%x", "DEC aaaa", "MAL MAL",
    // Dx
    "BNE", "CMP (%x),Y", "MAL MAL", "MAL MAL", "NOP", "CMP #%x,X", "DEC %x,X", "MAL MAL",
    "CLD", "CMP aaaa,Y", "NOP", "MAL MAL", "NOP", "CMP aaaa,X", "DEC aaaa,X", "MAL MAL",
    // Ex
    "CPX #%x", "MAL MAL", "NOP", "MAL MAL", "CPX %x", "SBC %x", "INC %x", "MAL MAL",
    "INX", "SBC #%x", "NOP", "MAL MAL", "CPX $%x", "SBC aaaa", "INC aaaa", "MAL MAL",
    // Fx
    "BEQ", "MAL MAL", "MAL MAL", "MAL MAL", "NOP", "SBC %x,X", "INC %x,X", "MAL MAL",
    "SED", "MAL MAL", "NOP", "MAL MAL", "NOP", "SBC aaaa,X", "INC aaaa, X", "MAL MAL",
};

enum class OperandKind : std::uint8_t { none, byte, word };

// The operand kind follows from the text: "$%x" is an absolute word, any other "%x" a byte.
constexpr OperandKind operand_kind_of(std::string_view text) {
    if (text.find("$%x") != std::string_view::npos) return OperandKind::word;
    if (text.find("%x") != std::string_view::npos) return OperandKind::byte;
    return OperandKind::none;
}

constexpr std::array<OperandKind, 256> make_operand_kinds() {
    std::array<OperandKind, 256> kinds{};
    for (std::size_t i = 0; i < kinds.size(); ++i) kinds[i] = operand_kind_of(trace_formats[i]);
    return kinds;
}

constexpr std::array<OperandKind, 256> operand_kinds = make_operand_kinds();

constexpr std::size_t count_kind(OperandKind kind) {
    std::size_t n = 0;
    for (OperandKind k : operand_kinds) n += k == kind ? 1 : 0;
    return n;
}
static_assert(count_kind(OperandKind::none) == 170 && count_kind(OperandKind::byte) == 61 &&
              count_kind(OperandKind::word) == 25);

// Register values are shown the way glibc prints pointers: 0x.., or (nil) for zero.
void* as_pointer(std::uint32_t value) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value));
}

}  // namespace

// ---- The instruction text ----------------------------------------------------------------
void trace_print_instruction(std::uint8_t opcode, std::uint32_t pc, std::uint8_t* image) {
    const char* text = trace_formats[opcode];
    // Operand bytes sit just in front of pc; the addresses wrap in 16 bits like the CPU's.
    const std::uint32_t last = (pc - 1) & 0xFFFFu;
    const std::uint32_t before_last = (pc - 2) & 0xFFFFu;
    // Reads of 0x2003/0x2006 deliver nothing, so the bytes start from a defined value.
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    switch (operand_kinds[opcode]) {
    case OperandKind::none:
        std::fputs(text, stdout);
        break;
    case OperandKind::byte:
        bus_read(low, image, last);
        std::printf(text, static_cast<unsigned>(low));
        break;
    case OperandKind::word:
        // Little-endian operand: the high byte is the one nearest pc, and it is read first.
        bus_read(high, image, last);
        bus_read(low, image, before_last);
        std::printf(text, static_cast<unsigned>(high) * 256u + low);
        break;
    }
}

// ---- The state block ---------------------------------------------------------------------
void print_machine_state(std::uint64_t cycle_count, std::uint8_t scanline,
                         const CpuRegisters& registers, std::uint8_t opcode, std::uint8_t* image) {
    std::puts("---------------------------------------------------------------------------");
    std::printf("N\xBA" " Inst: %llu\n", static_cast<unsigned long long>(cycle_count / 4));
    std::printf("Drawing scanline n\xBA" ": %i\n", static_cast<int>(scanline));
    std::printf(" PC: %p", as_pointer(registers.pc));
    std::printf("   SR: %p", as_pointer(registers.p));
    std::printf("   SP: %p", as_pointer(registers.sp));
    std::printf("   Last Instrucion: ");
    trace_print_instruction(opcode, registers.pc, image);
    std::puts("\n");
    std::printf(" X: %p", as_pointer(registers.x));
    std::printf("    Y: %p\n", as_pointer(registers.y));
    std::printf(" A: %p\n\n\n", as_pointer(registers.a));
}
