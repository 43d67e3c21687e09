// The trace disassembler: instruction texts, operand reads and the state block.
#include "debug/disassembler.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

std::string render(TestMachine& machine, std::uint8_t opcode, std::uint32_t pc) {
    return capture_stdout([&] { trace_print_instruction(opcode, pc, machine.image()); });
}

// Places an instruction at address and returns the pc that follows it.
std::uint32_t place(TestMachine& machine, std::uint32_t address, std::vector<std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) machine.image()[address++] = byte;
    return address;
}

}  // namespace

TEST(TraceInstruction, OperandsPrintInLowerCaseHexWithoutPadding) {
    TestMachine machine;
    EXPECT_EQ(render(machine, 0xA9, place(machine, 0xC000, {0xA9, 0x10})), "LDA #10");
    EXPECT_EQ(render(machine, 0xAD, place(machine, 0xC000, {0xAD, 0x02, 0x20})), "LDA $2002");
    EXPECT_EQ(render(machine, 0x85, place(machine, 0xC000, {0x85, 0x00})), "STA 0");
    EXPECT_EQ(render(machine, 0x8D, place(machine, 0xC000, {0x8D, 0x00, 0x02})), "STA $200");
    EXPECT_EQ(render(machine, 0x69, place(machine, 0xC000, {0x69, 0x0F})), "ADC #f");
    EXPECT_EQ(render(machine, 0xBD, place(machine, 0xC000, {0xBD, 0xEF, 0xBE})), "LDA $beef,X");
    EXPECT_EQ(render(machine, 0xB1, place(machine, 0xC000, {0xB1, 0x44})), "LDA (44),Y");
}

TEST(TraceInstruction, ControlFlowRowsIgnoreTheBytesInFrontOfTheNewPc) {
    TestMachine machine;
    place(machine, 0xC00E, {0x12, 0x34});
    EXPECT_EQ(render(machine, 0x4C, 0xC010), "JMP aaaa");
    EXPECT_EQ(render(machine, 0x6C, 0xC010), "JMP (aaaa)");
    EXPECT_EQ(render(machine, 0xD0, 0xC010), "BNE");
    EXPECT_EQ(render(machine, 0x20, 0xC010), "JSR");
    EXPECT_EQ(render(machine, 0x60, 0xC010), "RTS");
    EXPECT_EQ(render(machine, 0x00, 0xC010), "BRK");
    // A row with an operand shows whatever lies in front of pc, for instance after an NMI entry.
    EXPECT_EQ(render(machine, 0xA9, 0xC010), "LDA #34");
}

TEST(TraceInstruction, TextsAreKeptAsTheTableWritesThem) {
    TestMachine machine;
    const std::uint32_t pc = place(machine, 0x0300, {0xCD, 0xAB});
    EXPECT_EQ(render(machine, 0x05, pc), "OR ab");
    EXPECT_EQ(render(machine, 0x0D, pc), "OR $abcd");
    EXPECT_EQ(render(machine, 0x19, pc), "OR aaaa,Y");
    EXPECT_EQ(render(machine, 0x46, pc), "lSR ab");
    EXPECT_EQ(render(machine, 0x56, pc), "lSR ab,X");
    EXPECT_EQ(render(machine, 0xD5, pc), "CMP #ab,X");
    EXPECT_EQ(render(machine, 0x76, pc), "ROR ab,X");
    EXPECT_EQ(render(machine, 0x17, pc), "ASO aa, X");
    EXPECT_EQ(render(machine, 0x3B, pc), "RLA aaaa, Y");
    EXPECT_EQ(render(machine, 0x24, pc), "BIT aa");
    EXPECT_EQ(render(machine, 0xFE, pc), "INC aaaa, X");
    EXPECT_EQ(render(machine, 0x0A, pc), "ASL A");
}

TEST(TraceInstruction, UnknownAndNopRowsAreTheListedOpcodes) {
    const std::vector<std::uint8_t> unknown = {
        0x02, 0x03, 0x0B, 0x12, 0x13, 0x22, 0x23, 0x2B, 0x32, 0x33, 0x42, 0x43, 0x44, 0x47, 0x4B,
        0x4F, 0x52, 0x53, 0x57, 0x5B, 0x5F, 0x61, 0x62, 0x63, 0x64, 0x67, 0x6B, 0x6F, 0x71, 0x72,
        0x73, 0x77, 0x79, 0x7B, 0x7F, 0x83, 0x87, 0x8B, 0x8F, 0x92, 0x93, 0x97, 0x9B, 0x9C, 0x9E,
        0x9F, 0xA3, 0xA7, 0xAB, 0xAF, 0xB2, 0xB3, 0xB7, 0xBB, 0xBF, 0xC3, 0xC7, 0xCB, 0xCF, 0xD2,
        0xD3, 0xD7, 0xDB, 0xDF, 0xE1, 0xE3, 0xE7, 0xEB, 0xEF, 0xF1, 0xF2, 0xF3, 0xF7, 0xF9, 0xFB,
        0xFF};
    const std::vector<std::uint8_t> nop = {0x04, 0x0C, 0x14, 0x1A, 0x1C, 0x34, 0x3A, 0x3C, 0x54,
                                           0x5A, 0x5C, 0x74, 0x7A, 0x7C, 0x80, 0x82, 0x89, 0xC2,
                                           0xD4, 0xDA, 0xDC, 0xE2, 0xEA, 0xF4, 0xFA, 0xFC};
    ASSERT_EQ(unknown.size(), 76u);
    ASSERT_EQ(nop.size(), 26u);
    TestMachine machine;
    for (std::uint32_t opcode = 0; opcode < 256; ++opcode) {
        const std::string text = render(machine, static_cast<std::uint8_t>(opcode), 0xC002);
        std::string expected_mark;
        for (std::uint8_t u : unknown) if (u == opcode) expected_mark = "MAL MAL";
        for (std::uint8_t n : nop) if (n == opcode) expected_mark = "NOP";
        if (!expected_mark.empty())
            EXPECT_EQ(text, expected_mark) << "opcode " << std::hex << opcode;
        else
            EXPECT_TRUE(text != "MAL MAL" && text != "NOP") << "opcode " << std::hex << opcode;
    }
}

// Reads of 0x2002 clear the status flags, so they show which operand bytes were fetched:
// with pc 0x2003 a byte operand is read from 0x2002; with pc 0x2004 only a word reaches it
// (0x2003 first, then 0x2002), and a byte operand reads 0x2003, which has no effect.
TEST(TraceInstruction, EveryRowReadsExactlyItsOperandBytes) {
    int none = 0, byte = 0, word = 0;
    for (std::uint32_t opcode = 0; opcode < 256; ++opcode) {
        TestMachine machine;
        std::uint8_t* image = machine.image();
        image[ppu_status] = 0xC0;
        render(machine, static_cast<std::uint8_t>(opcode), 0x2003);
        const bool read_at_last = image[ppu_status] == 0x00;
        image[ppu_status] = 0xC0;
        render(machine, static_cast<std::uint8_t>(opcode), 0x2004);
        const bool read_before_last = image[ppu_status] == 0x00;

        // The same row on plain memory: the value shows which byte was taken as the high one.
        const std::uint32_t pc = place(machine, 0x0300, {0xCD, 0xAB});
        const std::string text = render(machine, static_cast<std::uint8_t>(opcode), pc);
        const bool shows_word = text.find("abcd") != std::string::npos;
        const bool shows_byte = !shows_word && text.find("ab") != std::string::npos;

        SCOPED_TRACE("opcode " + std::to_string(opcode) + ": " + text);
        if (!read_at_last && !read_before_last) {
            ++none;
            EXPECT_FALSE(shows_word || shows_byte);
            EXPECT_EQ(text.find("cd"), std::string::npos);
        } else if (read_at_last && !read_before_last) {
            ++byte;
            EXPECT_TRUE(shows_byte);
        } else {
            ++word;
            EXPECT_TRUE(read_at_last && read_before_last);
            EXPECT_TRUE(shows_word);
        }
    }
    EXPECT_EQ(none, 170);
    EXPECT_EQ(byte, 61);
    EXPECT_EQ(word, 25);
}

TEST(TraceInstruction, OperandAddressesWrapInSixteenBits) {
    TestMachine machine;
    std::uint8_t* image = machine.image();
    image[0xFFFF] = 0x12;
    image[0xFFFE] = 0x34;
    image[0x0000] = 0x56;
    EXPECT_EQ(render(machine, 0xAD, 0x0000), "LDA $1234");
    EXPECT_EQ(render(machine, 0xA9, 0x0000), "LDA #12");
    EXPECT_EQ(render(machine, 0xAD, 0x0001), "LDA $5612");
}

TEST(TraceInstruction, WordOperandFromPcMinusOneHighThenPcMinusTwoLow) {
    TestMachine machine;
    std::uint8_t* image = machine.image();
    place(machine, 0xBFFF, {0xAD, 0x02, 0x20});
    EXPECT_EQ(render(machine, 0xAD, 0xC002), "LDA $2002");
    // The operand bytes are memory here, so reading them leaves the status register alone.
    image[ppu_status] = 0x80;
    render(machine, 0xAD, 0xC002);
    EXPECT_EQ(image[ppu_status], 0x80);
}

TEST(MachineState, BlockLayoutByteForByte) {
    TestMachine machine;
    place(machine, 0xC000, {0xA9, 0x10});
    CpuRegisters registers;
    registers.pc = 0xC002;
    registers.p = 0x24;
    registers.sp = 0xFD;
    registers.a = 0x10;
    const std::string out =
        capture_stdout([&] { print_machine_state(4000, 241, registers, 0xA9, machine.image()); });
    const std::string expected =
        "---------------------------------------------------------------------------\n"
        "N\xBA" " Inst: 1000\n"
        "Drawing scanline n\xBA" ": 241\n"
        " PC: 0xc002   SR: 0x24   SP: 0xfd   Last Instrucion: LDA #10\n"
        "\n"
        " X: (nil)    Y: (nil)\n"
        " A: 0x10\n"
        "\n"
        "\n";
    EXPECT_EQ(out, expected);
}

TEST(MachineState, InstructionCountIsTrueBeyondThirtyTwoBits) {
    TestMachine machine;
    CpuRegisters registers;
    for (const std::uint64_t instructions : {1ull << 30, 3000000000ull, 1ull << 40}) {
        const std::string out = capture_stdout(
            [&] { print_machine_state(4 * instructions, 0, registers, 0xEA, machine.image()); });
        EXPECT_NE(out.find("N\xBA" " Inst: " + std::to_string(instructions) + "\n"), std::string::npos);
    }
}

TEST(MachineState, InstructionCountIsCycleCountOverFour) {
    TestMachine machine;
    CpuRegisters registers;
    registers.x = 0xFF;
    registers.y = 0x01;
    const std::string out =
        capture_stdout([&] { print_machine_state(0xFFFFFFFF, 0, registers, 0xEA, machine.image()); });
    EXPECT_NE(out.find("N\xBA" " Inst: 1073741823\n"), std::string::npos);
    EXPECT_NE(out.find("Drawing scanline n\xBA" ": 0\n"), std::string::npos);
    EXPECT_NE(out.find(" PC: (nil)   SR: (nil)   SP: (nil)   Last Instrucion: NOP\n\n"),
              std::string::npos);
    EXPECT_NE(out.find(" X: 0xff    Y: 0x1\n A: (nil)\n\n\n"), std::string::npos);
}
