// The debugger console driven through a real standard input stream.
#include "debug/console.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

// Puts text in place of standard input, with a fresh stdio buffer.
void feed_stdin(const std::string& text) {
    const std::string path = write_temp_file(std::vector<std::uint8_t>(text.begin(), text.end()), ".txt");
    ASSERT_NE(std::freopen(path.c_str(), "r", stdin), nullptr);
    unlink(path.c_str());
}

std::string block(const std::string& count, const std::string& pc, const std::string& text,
                  const std::string& a, const std::string& x = "(nil)", const std::string& y = "(nil)") {
    return std::string(75, '-') + "\n" + "N\xBA" " Inst: " + count + "\n" +
           "Drawing scanline n\xBA" ": 7\n" + " PC: " + pc + "   SR: 0x24   SP: 0xfd" +
           "   Last Instrucion: " + text + "\n\n" + " X: " + x + "    Y: " + y + "\n" + " A: " + a +
           "\n\n\n";
}

const std::string prompt = "Quenrik>";

// A machine with a short program at 0xC000, executed by hand as the CPU would:
//   C000 A9 10     LDA #$10
//   C002 AD 02 20  LDA $2002
//   C005 85 00     STA $00
//   C007 8D 00 02  STA $0200
//   C00A 4C 10 C0  JMP $C010
//   C00D EA EA EA  NOP x3 (skipped)
//   C010 D0 FE     BNE $C010 (taken forever)
struct Session {
    TestMachine machine;
    RunState state;
    std::uint32_t executed = 0;

    Session() {
        const std::vector<std::uint8_t> program = {0xA9, 0x10, 0xAD, 0x02, 0x20, 0x85, 0x00,
                                                   0x8D, 0x00, 0x02, 0x4C, 0x10, 0xC0, 0xEA,
                                                   0xEA, 0xEA, 0xD0, 0xFE};
        for (std::size_t i = 0; i < program.size(); ++i) machine.image()[0xC000 + i] = program[i];
        state.registers.pc = 0xC000;
        state.registers.p = 0x24;
        state.registers.sp = 0xFD;
        state.scanline = 0x107;  // only the low 8 bits reach the console
    }

    // Executes the next instruction of the program by hand.
    void execute() {
        CpuRegisters& r = state.registers;
        std::uint8_t* image = machine.image();
        state.opcode = image[r.pc];
        switch (state.opcode) {
        case 0xA9: r.a = image[r.pc + 1]; r.pc += 2; break;
        case 0xAD: r.a = image[ppu_status]; r.pc += 3; break;
        case 0x85: image[image[r.pc + 1]] = r.a; r.pc += 2; break;
        case 0x8D: image[0x0200] = r.a; r.pc += 3; break;
        case 0x4C: r.pc = 0xC010; break;
        case 0xD0: r.pc = 0xC010; break;
        default: FAIL() << "unexpected opcode";
        }
        state.cycle_count += 4;
        ++executed;
    }

    void console() {
        debugger_console(state.quit, state.opcode, state.registers, machine.image(),
                         state.interrupt_cause, state.debugger, state.cycle_count,
                         static_cast<std::uint8_t>(state.scanline));
    }

    // One pass of the emulation loop: an instruction, then the console.
    std::string step() {
        return capture_stdout([&] {
            execute();
            console();
        });
    }

    // Runs passes until the console prompts (its output then ends with the prompt), or at most limit.
    std::string run_until_prompt(std::uint32_t limit) {
        std::string out;
        for (std::uint32_t i = 0; i < limit && state.quit.get() == 0; ++i) {
            out += step();
            if (out.size() >= prompt.size() && out.compare(out.size() - prompt.size(), prompt.size(), prompt) == 0)
                break;
        }
        return out;
    }
};

// One console call in mode 0 before any instruction, reading input; returns what follows
// the state block.
std::string console_at_rest(Session& session, const std::string& input) {
    feed_stdin(input);
    session.state.debugger.mode = 0;
    const std::string out = capture_stdout([&] { session.console(); });
    const std::string state_block = block("0", "0xc000", "BRK", "(nil)");
    EXPECT_EQ(out.substr(0, state_block.size()), state_block);
    return out.substr(state_block.size());
}

const std::string& help = debugger_help_text;

}  // namespace

// ---- Stepping and the state block ---------------------------------------------------------
TEST(DebuggerConsole, EnterStepsOneInstructionAndShowsEachState) {
    Session session;
    feed_stdin("\n\n\n\n\n\n\n");
    const std::string expected[] = {
        block("1", "0xc002", "LDA #10", "0x10"),
        block("2", "0xc005", "LDA $2002", "(nil)"),
        block("3", "0xc007", "STA 0", "(nil)"),
        block("4", "0xc00a", "STA $200", "(nil)"),
        block("5", "0xc010", "JMP aaaa", "(nil)"),
        block("6", "0xc010", "BNE", "(nil)"),
    };
    for (const std::string& state_block : expected) EXPECT_EQ(session.step(), state_block + prompt);
    EXPECT_EQ(session.executed, 6u);
    EXPECT_EQ(session.state.quit.get(), 0u);
    EXPECT_EQ(session.state.debugger.mode, 0u);
}

TEST(DebuggerConsole, ExecuteFivePrintsAfterFourthAndFifthAndPromptsOnce) {
    Session session;
    feed_stdin("e 5\nq\n");
    EXPECT_EQ(session.step(), block("1", "0xc002", "LDA #10", "0x10") + prompt);
    EXPECT_EQ(session.step(), "");
    EXPECT_EQ(session.step(), "");
    EXPECT_EQ(session.step(), "");
    EXPECT_EQ(session.step(), block("5", "0xc010", "JMP aaaa", "(nil)"));
    EXPECT_EQ(session.step(), block("6", "0xc010", "BNE", "(nil)") + prompt);
    EXPECT_EQ(session.state.quit.get(), 1u);
}

TEST(DebuggerConsole, ExecuteTwoPrintsAfterEachAndPromptsOnce) {
    Session session;
    feed_stdin("e 2\nq\n");
    session.step();
    EXPECT_EQ(session.step(), block("2", "0xc005", "LDA $2002", "(nil)"));
    EXPECT_EQ(session.step(), block("3", "0xc007", "STA 0", "(nil)") + prompt);
    EXPECT_EQ(session.state.quit.get(), 1u);
}

TEST(DebuggerConsole, ExecuteOnePromptsWithoutStateThenRunsToTheBreakpoint) {
    Session session;
    feed_stdin("p c007\n\ne 1\n\nq\n");
    // Prompt at the first instruction; p then an empty line runs to 0xC007.
    EXPECT_EQ(session.step(), block("1", "0xc002", "LDA #10", "0x10") + prompt + prompt);
    EXPECT_EQ(session.step(), "");
    EXPECT_EQ(session.step(), block("3", "0xc007", "STA 0", "(nil)") + prompt);
    // e 1: one instruction, a prompt, no state block.
    EXPECT_EQ(session.step(), prompt);
    EXPECT_EQ(session.executed, 4u);
    // Enter: running on without output; the loop never reaches 0xC007 again.
    EXPECT_EQ(session.run_until_prompt(200), "");
    EXPECT_EQ(session.executed, 204u);
    EXPECT_EQ(session.state.debugger.mode, 1u);
}

TEST(DebuggerConsole, ExecuteZeroRunsSilentlyUntilTheBreakpoint) {
    Session session;
    session.state.debugger.breakpoint = 0xC00A;
    feed_stdin("e 0\nq\n");
    session.step();
    EXPECT_EQ(session.run_until_prompt(100), block("4", "0xc00a", "STA $200", "(nil)") + prompt);
    EXPECT_EQ(session.executed, 4u);
    EXPECT_EQ(session.state.quit.get(), 1u);
}

TEST(DebuggerConsole, NegativeCountAlsoRunsUntilTheBreakpoint) {
    Session session;
    session.state.debugger.breakpoint = 0xC010;
    feed_stdin("e -3\nq\n");
    session.step();
    EXPECT_EQ(session.run_until_prompt(100), block("5", "0xc010", "JMP aaaa", "(nil)") + prompt);
}

TEST(DebuggerConsole, BreakpointStopsAndStaysSet) {
    Session session;
    feed_stdin("p C010\n\ne 0\nq\n");
    EXPECT_EQ(session.step(), block("1", "0xc002", "LDA #10", "0x10") + prompt + prompt);
    EXPECT_EQ(session.run_until_prompt(100), block("5", "0xc010", "JMP aaaa", "(nil)") + prompt);
    EXPECT_EQ(session.state.debugger.breakpoint, 0xC010u);
    // The breakpoint equals the next pc when e 0 is typed: the first stop comes only after
    // the next instruction, the BNE that lands on 0xC010 again.
    EXPECT_EQ(session.run_until_prompt(100), block("6", "0xc010", "BNE", "(nil)") + prompt);
    EXPECT_EQ(session.executed, 6u);
    EXPECT_EQ(session.state.quit.get(), 1u);
}

TEST(DebuggerConsole, BreakpointComparesOnlyTheLowSixteenBits) {
    Session session;
    feed_stdin("p 1C010\n\nq\n");
    session.step();
    EXPECT_EQ(session.state.debugger.breakpoint, 0x1C010u);
    EXPECT_EQ(session.run_until_prompt(100), block("5", "0xc010", "JMP aaaa", "(nil)") + prompt);
}

TEST(DebuggerConsole, NumbersFollowScanfConversions) {
    Session session;
    // A number may be on the next line; e takes 0x and 0 prefixes.
    console_at_rest(session, "e\n  0x10 rest of line\n");
    EXPECT_EQ(session.state.debugger.step_count, 0x10u);
    EXPECT_EQ(session.state.debugger.mode, 1u);
    console_at_rest(session, "e 010\n");
    EXPECT_EQ(session.state.debugger.step_count, 8u);
    console_at_rest(session, "p 0xc123\n\n");
    EXPECT_EQ(session.state.debugger.breakpoint, 0xC123u);
    // Numbers wider than 32 bits keep their low 32 bits, as glibc stores them.
    console_at_rest(session, "e 4294967298\n");
    EXPECT_EQ(session.state.debugger.step_count, 2u);
    console_at_rest(session, "p 123456789abc\n\n");
    EXPECT_EQ(session.state.debugger.breakpoint, 0x56789ABCu);
}

TEST(DebuggerConsole, MalformedCountOrBreakpointKeepsTheOldValueButStillRuns) {
    Session session;
    session.state.debugger.step_count = 8;  // the stop decision counts it down to 7
    EXPECT_EQ(console_at_rest(session, "e xyz\nq\n"), prompt);
    EXPECT_EQ(session.state.debugger.step_count, 7u);
    EXPECT_EQ(session.state.debugger.mode, 1u);
    // The rest of the line was discarded: the next command read is q.
    EXPECT_EQ(std::getchar(), 'q');
    session.state.debugger.breakpoint = 0xFFFF;
    EXPECT_EQ(console_at_rest(session, "p zz\nq\n"), prompt + prompt);
    EXPECT_EQ(session.state.debugger.breakpoint, 0xFFFFu);
    EXPECT_EQ(session.state.debugger.mode, 1u);
}

// ---- Commands that prompt again -----------------------------------------------------------
TEST(DebuggerConsole, SpriteUsesTheLowEightBitsOfItsNumber) {
    Session session;
    std::uint8_t* image = session.machine.image();
    image[0x0904] = 16;   // Y
    image[0x0905] = 34;   // tile
    image[0x0907] = 200;  // X
    const std::string sprite = "Sprite #1 Info:\nX: 200  Y: 16\nTile Index #34\n\n";
    EXPECT_EQ(console_at_rest(session, "s 1\ns 257\ns 0x101\n\n"),
              prompt + sprite + prompt + sprite + prompt + sprite + prompt);
    // Beyond sprite memory the bytes of the private area are shown as they are.
    image[0x0CFC] = 1;
    image[0x0CFD] = 2;
    image[0x0CFF] = 3;
    EXPECT_EQ(console_at_rest(session, "s 255\n\n"),
              prompt + "Sprite #255 Info:\nX: 3  Y: 1\nTile Index #2\n\n" + prompt);
}

TEST(DebuggerConsole, ViewPrintsEightLinesWithAlignedBytes) {
    Session session;
    std::uint8_t* image = session.machine.image();
    for (std::uint32_t i = 0; i < 128; ++i) image[0x10000 + i] = static_cast<std::uint8_t>(i * 2);
    image[0x1000F] = 0x05;
    image[0x10010] = 0xAB;
    const std::string dump =
        "10000:  0  2  4  6  8  a  c  e 10 12 14 16 18 1a 1c  5\n"
        "10010: ab 22 24 26 28 2a 2c 2e 30 32 34 36 38 3a 3c 3e\n"
        "10020: 40 42 44 46 48 4a 4c 4e 50 52 54 56 58 5a 5c 5e\n"
        "10030: 60 62 64 66 68 6a 6c 6e 70 72 74 76 78 7a 7c 7e\n"
        "10040: 80 82 84 86 88 8a 8c 8e 90 92 94 96 98 9a 9c 9e\n"
        "10050: a0 a2 a4 a6 a8 aa ac ae b0 b2 b4 b6 b8 ba bc be\n"
        "10060: c0 c2 c4 c6 c8 ca cc ce d0 d2 d4 d6 d8 da dc de\n"
        "10070: e0 e2 e4 e6 e8 ea ec ee f0 f2 f4 f6 f8 fa fc fe\n";
    EXPECT_EQ(console_at_rest(session, "v 10000\n\n"), prompt + dump + prompt);
}

TEST(DebuggerConsole, WriteThenViewThePrivateArea) {
    Session session;
    // The sprite attribute bytes hold 0x20 from the start; 0x0801 is the joypad position.
    const std::string out = console_at_rest(session, "w 801 3\nw 80f 1ff\nw 0810,7\nv 0800\n\n");
    const std::string dump =
        "800:  0  3  0  0  0  0  0  0  0  0  0  0  0  0  0 ff\n"
        "810:  7  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n"
        "820:  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n"
        "830:  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n"
        "840:  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n"
        "850:  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n"
        "860:  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n"
        "870:  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n";
    EXPECT_EQ(out, prompt + prompt + prompt + prompt + dump + prompt);
    EXPECT_EQ(session.machine.image()[priv::joypad_index], 3);
    EXPECT_EQ(session.machine.image()[0x080F], 0xFF);
}

TEST(DebuggerConsole, ViewStartNotOnASixteenByteBoundaryIsUsedAsGiven) {
    Session session;
    session.machine.image()[0xC005] = 0x85;
    const std::string out = console_at_rest(session, "v c003\n\n");
    EXPECT_EQ(out.substr(0, prompt.size() + 54),
              prompt + "c003:  2 20 85  0 8d  0  2 4c 10 c0 ea ea ea d0 fe  0\n");
    EXPECT_NE(out.find("\nc073:  0  0"), std::string::npos);
}

TEST(DebuggerConsole, ViewAndWriteNeverLeaveTheImage) {
    Session session;
    std::uint8_t* image = session.machine.image();
    for (std::uint32_t i = 0x13FE0; i < image_size; ++i) image[i] = static_cast<std::uint8_t>(i);
    const std::string outside = "Address outside memory (0-13fff)\n";
    // A dump reaching past the end stops at the last byte; the last line may be shorter.
    EXPECT_EQ(console_at_rest(session, "v 13fe0\n\n"),
              prompt +
                  "13fe0: e0 e1 e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef\n"
                  "13ff0: f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff\n" +
                  prompt);
    EXPECT_EQ(console_at_rest(session, "v 13ff7\n\n"),
              prompt + "13ff7: f7 f8 f9 fa fb fc fd fe ff\n" + prompt);
    EXPECT_EQ(console_at_rest(session, "v 13fff\n\n"), prompt + "13fff: ff\n" + prompt);
    EXPECT_EQ(console_at_rest(session, "v 14000\nv 100000010\n\n"),
              prompt + outside + prompt + outside + prompt);
    // A write beyond the image is refused; one at the last byte is made.
    const std::vector<std::uint8_t> before = session.machine.bytes;
    EXPECT_EQ(console_at_rest(session, "w 14000 1\nw 100000000 1\n\n"),
              prompt + outside + prompt + outside + prompt);
    EXPECT_EQ(session.machine.bytes, before);
    console_at_rest(session, "w 13fff 5a\n\n");
    EXPECT_EQ(image[0x13FFF], 0x5A);
}

TEST(DebuggerConsole, UnreadableNumbersChangeNothingAndDiscardTheLine) {
    Session session;
    const std::vector<std::uint8_t> before = session.machine.bytes;
    const std::string bad = "Invalid number\n";
    EXPECT_EQ(console_at_rest(session, "v zz 10\nw 10 zz\nw zz 10\ns -\nh\n"),
              prompt + bad + prompt + bad + prompt + bad + prompt + bad + prompt + help + prompt +
                  "\n");
    EXPECT_EQ(session.machine.bytes, before);
}

TEST(DebuggerConsole, HelpPrintsItsEightLines) {
    Session session;
    EXPECT_EQ(console_at_rest(session, "h and the rest\n\n"), prompt + help + prompt);
}

TEST(DebuggerConsole, UnknownLettersAndLeadingBlanks) {
    Session session;
    EXPECT_EQ(console_at_rest(session, "x\n h\nQ\n\n"),
              prompt + "Unknown Command\n" + prompt + "Unknown Command\n" + prompt +
                  "Unknown Command\n" + prompt);
    EXPECT_EQ(session.state.quit.get(), 0u);
}

// ---- Leaving the program ------------------------------------------------------------------
TEST(DebuggerConsole, QuitLeavesAtOnceWithoutReadingTheRestOfTheLine) {
    Session session;
    EXPECT_EQ(console_at_rest(session, "qxyz\n"), prompt);
    EXPECT_EQ(session.state.quit.get(), 1u);
    EXPECT_EQ(std::getchar(), 'x');
}

TEST(DebuggerConsole, EndOfInputEndsTheRun) {
    Session session;
    EXPECT_EQ(console_at_rest(session, ""), prompt + "\n");
    EXPECT_EQ(session.state.quit.get(), 1u);
}

TEST(DebuggerConsole, EndOfInputWhileWaitingForANumberEndsTheRun) {
    for (const char* input : {"e", "e  \n\n", "p ", "s\n", "v", "w 10", "w 10 "}) {
        Session session;
        SCOPED_TRACE(input);
        session.state.debugger.step_count = 10;  // the stop decision counts it down to 9
        const std::vector<std::uint8_t> before = session.machine.bytes;
        EXPECT_EQ(console_at_rest(session, input), prompt + "\n");
        EXPECT_EQ(session.state.quit.get(), 1u);
        EXPECT_EQ(session.state.debugger.step_count, 9u);
        EXPECT_EQ(session.machine.bytes, before);
    }
}

TEST(DebuggerConsole, LastLineWithoutLineEndStillRunsThenEnds) {
    Session session;
    EXPECT_EQ(console_at_rest(session, "s 1"),
              prompt + "Sprite #1 Info:\nX: 0  Y: 0\nTile Index #0\n\n" + prompt + "\n");
    EXPECT_EQ(session.state.quit.get(), 1u);
}

// The prompt must reach a pipe before the console blocks on input.
TEST(DebuggerConsole, PromptIsFlushedBeforeWaitingForInput) {
    int to_child[2], from_child[2];
    ASSERT_EQ(pipe(to_child), 0);
    ASSERT_EQ(pipe(from_child), 0);
    std::fflush(stdout);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        // Fresh streams: stdin without earlier tests' buffered input, stdout fully buffered
        // as it is on any pipe.
        if (!std::freopen("/dev/stdin", "r", stdin) || !std::freopen("/dev/stdout", "w", stdout))
            _exit(2);
        Session session;
        session.console();
        _exit(session.state.quit.get() == 1 ? 0 : 1);
    }
    close(to_child[0]);
    close(from_child[1]);
    std::string seen;
    while (seen.find(prompt) == std::string::npos) {
        pollfd fd = {from_child[0], POLLIN, 0};
        if (poll(&fd, 1, 5000) != 1) break;
        char buffer[512];
        const ssize_t n = read(from_child[0], buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_NE(seen.find(prompt), std::string::npos) << "no prompt while the console waits";
    ASSERT_EQ(write(to_child[1], "q\n", 2), 2);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(to_child[1]);
    close(from_child[0]);
}
