// Whole runs of the program, headless: the debugger driven through standard input, the
// unimplemented-opcode stop, evaluation mode, sprite DMA and NMIs seen from the console, and
// an interrupt signal during start-up.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string prompt = "Quenrik>";
const std::string start_message = "kien co\xF1" "o ta cambiado1";

// What the emulation thread prints, after the option messages and the loader report: the
// frame skip line comes first; the rest depends on the run. Returns what follows that line.
std::string after_frame_skip(const std::string& out) {
    static const std::regex line("Frame Skip set to: (1|2|3|4|5|6|8|16)x\n\n");
    std::smatch match;
    if (!std::regex_search(out, match, line)) {
        ADD_FAILURE() << "no frame skip line in:\n" << out;
        return "";
    }
    return match.suffix().str();
}

std::string statistics(std::uint32_t instructions, std::uint32_t fps) {
    return std::to_string(instructions) + " Instrucion were executed\nfps: " + std::to_string(fps) + "\n";
}

// The debugger's state block, register values given as printed.
std::string block(std::uint32_t count, std::uint32_t scanline, const std::string& pc, const std::string& sr,
                  const std::string& sp, const std::string& text, const std::string& x, const std::string& y,
                  const std::string& a) {
    return std::string(75, '-') + "\n" + "N\xBA" " Inst: " + std::to_string(count) + "\n" + "Drawing scanline n\xBA" +
           ": " + std::to_string(scanline) + "\n" + " PC: " + pc + "   SR: " + sr + "   SP: " + sp +
           "   Last Instrucion: " + text + "\n\n" + " X: " + x + "    Y: " + y + "\n" + " A: " + a + "\n\n\n";
}

// v A: 8 lines of 16 bytes, offset in hex, each byte right-aligned in two columns.
std::string dump(std::uint32_t start, const std::function<std::uint8_t(std::uint32_t)>& byte_at) {
    std::string text;
    char cell[16];
    for (std::uint32_t line = start; line < start + 128; line += 16) {
        std::snprintf(cell, sizeof cell, "%x:", line);
        text += cell;
        for (std::uint32_t offset = line; offset < line + 16; ++offset) {
            std::snprintf(cell, sizeof cell, " %2x", byte_at(offset));
            text += cell;
        }
        text += "\n";
    }
    return text;
}

// Work RAM as the loader leaves it: 00 00 00 00 FF FF FF FF repeating.
std::uint8_t power_on_ram(std::uint32_t address) { return (address & 4) != 0 ? 0xFF : 0x00; }

// Splits what follows the frame skip line at each prompt: part 0 is what came before the
// first prompt, part i what the program printed in answer to input line i.
std::vector<std::string> answers(const std::string& body) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = body.find(prompt, from)) != std::string::npos; from = at + prompt.size())
        parts.push_back(body.substr(from, at - from));
    parts.push_back(body.substr(from));
    return parts;
}

// ---- Debugger console over the whole program ------------------------------------------------

// minimal.nes: C000 SEI, C001 LDX #$FF, C003 TXS, C004 JMP $C004.
TEST(TraceRun, EveryCommandOnTheMinimalCartridge) {
    const ProgramResult result = run_quenrik({cartridge_path("minimal"), "-t"},
                                             "\n"             // LDX
                                             "h\n"
                                             "w 300 7f\n"
                                             "v 300\n"
                                             "w 905 ab\n"
                                             "w 907 c8\n"
                                             "s 1\n"
                                             "e 3\n"          // TXS, JMP, JMP: state after the last two
                                             "q and the rest is not read\n"
                                             "v 0\n",
                                             {}, 20);
    const std::string& help = debugger_help_text;
    const std::string ram_dump =
        dump(0x300, [](std::uint32_t address) { return address == 0x300 ? 0x7F : power_on_ram(address); });
    // The first tick draws line 0 before the first instruction; line 1 follows at instruction 35.
    EXPECT_EQ(after_frame_skip(result.out),
              start_message +                                                                             //
                  block(1, 1, "0xc001", "0x4", "(nil)", "SEI", "(nil)", "(nil)", "(nil)") + prompt +         //
                  block(2, 1, "0xc003", "0x84", "(nil)", "LDX #ff", "0xff", "(nil)", "(nil)") + prompt +    //
                  help + prompt +                                                                         //
                  prompt +                                                                                //
                  ram_dump + prompt +                                                                     //
                  prompt + prompt +                                                                       //
                  "Sprite #1 Info:\nX: 200  Y: 0\nTile Index #171\n\n" + prompt +                         //
                  block(4, 1, "0xc004", "0x84", "0xff", "JMP aaaa", "0xff", "(nil)", "(nil)") +            //
                  block(5, 1, "0xc004", "0x84", "0xff", "JMP aaaa", "0xff", "(nil)", "(nil)") + prompt +   //
                  statistics(5, 0));
    EXPECT_EQ(result.out.substr(0, 20), "Trace mode enabled\n\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.signal, 0);
}

TEST(TraceRun, EndOfInputEndsTheRunWithTheStatistics) {
    const ProgramResult result = run_quenrik({cartridge_path("minimal"), "-t"}, "\n", {}, 20);
    EXPECT_EQ(after_frame_skip(result.out),
              start_message + block(1, 1, "0xc001", "0x4", "(nil)", "SEI", "(nil)", "(nil)", "(nil)") + prompt +
                  block(2, 1, "0xc003", "0x84", "(nil)", "LDX #ff", "0xff", "(nil)", "(nil)") + prompt + "\n" +
                  statistics(2, 0));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.signal, 0);
}

// Without a display and without a driver named, SDL would fall back to its terminal driver, which
// draws with escape codes into standard output and reads standard input itself. The program runs
// without a picture instead, as with the dummy driver, and says so on standard error; a driver
// named in SDL_VIDEODRIVER is still the one used.
TEST(NoDisplay, TheDebuggerSessionRunsAsWithoutAPictureUnlessADriverIsNamed) {
    const std::string session = "e 100\nv 0\nq\n";
    const std::vector<std::string> arguments = {cartridge_path("demo"), "-t"};
    const ProgramResult dummy = run_quenrik(arguments, session, {}, 20);
    const ProgramResult none = run_quenrik(arguments, session, {"DISPLAY", "SDL_VIDEODRIVER"}, 20);
    // 101 instructions, the page dump, then the end's statistics.
    ASSERT_NE(dummy.out.find(prompt + "0:  0  0  0  0  0  0  0  0  0  0  0  0 ff ff ff ff\n"), std::string::npos);
    const std::string end = prompt + statistics(101, 0);
    ASSERT_GE(dummy.out.size(), end.size());
    EXPECT_EQ(dummy.out.substr(dummy.out.size() - end.size()), end);
    EXPECT_EQ(after_frame_skip(none.out), after_frame_skip(dummy.out));
    EXPECT_EQ(none.out.substr(0, none.out.find("Frame Skip")), dummy.out.substr(0, dummy.out.find("Frame Skip")));
    EXPECT_EQ(none.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(none.err, "No display found: running without a picture (SDL_VIDEODRIVER chooses a video driver).\n");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(dummy.err, "");

    // Named, the terminal driver draws among the text and takes the commands: one instruction runs.
    const ProgramResult caca = run_quenrik(arguments, session, {"DISPLAY", "SDL_VIDEODRIVER=caca", "TERM=xterm"}, 20);
    EXPECT_NE(caca.out.find("\x1b["), std::string::npos);
    EXPECT_EQ(caca.out.find(statistics(101, 0)), std::string::npos);
    EXPECT_EQ(caca.err, "");
}

// dma.nes fills 0x0200-0x02FF with i XOR 0xA5 (1289 instructions), then
//   C019 LDA #$02, C01B STA $4014 (instruction 1291), C01E LDA #$01, C020 STA $00, C022 JMP $C022.
// The console runs before the DMA step of its pass, so at the stop after instruction n the
// bytes of passes 1291 to n - 1 have been copied.
TEST(TraceRun, SpriteDmaCopiesOneBytePerInstruction) {
    const ProgramResult result = run_quenrik({cartridge_path("dma"), "-t"},
                                             "p c01e\n"
                                             "\n"        // 2: runs to the instruction after the write
                                             "v 900\n"   // 3
                                             "v a01\n"   // 4
                                             "\n"        // 5
                                             "v 900\n"   // 6
                                             "\n"        // 7
                                             "v 900\n"   // 8
                                             "\n"        // 9
                                             "v 900\n"   // 10
                                             "e 300\n"   // 11
                                             "v 900\n"   // 12
                                             "v 980\n"   // 13
                                             "v a01\n"   // 14
                                             "s 0\n"     // 15
                                             "v 0\n"     // 16
                                             "q\n",
                                             {}, 20);
    const std::vector<std::string> part = answers(after_frame_skip(result.out));
    ASSERT_EQ(part.size(), 18u) << result.out;

    const auto sprite_memory = [](std::uint32_t copied) {
        return [copied](std::uint32_t offset) -> std::uint8_t {
            const std::uint32_t i = offset - 0x900;
            if (i < copied) return static_cast<std::uint8_t>(i ^ 0xA5);
            return i % 4 == 2 ? 0x20 : 0x00;  // start-up: every sprite behind the background
        };
    };
    EXPECT_EQ(part[1], "");
    EXPECT_EQ(part[2], block(1291, 38, "0xc01e", "0x4", "0xff", "STA $4014", "(nil)", "(nil)", "0x2"));
    EXPECT_EQ(part[3], dump(0x900, sprite_memory(0)));
    EXPECT_EQ(part[4].substr(0, 13), "a01:  0  2  1");  // index 0, page 2, active
    EXPECT_EQ(part[5], block(1292, 38, "0xc020", "0x4", "0xff", "LDA #1", "(nil)", "(nil)", "0x1"));
    EXPECT_EQ(part[6], dump(0x900, sprite_memory(1)));
    EXPECT_EQ(part[7], block(1293, 39, "0xc022", "0x4", "0xff", "STA 0", "(nil)", "(nil)", "0x1"));
    EXPECT_EQ(part[8], dump(0x900, sprite_memory(2)));
    EXPECT_EQ(part[9], block(1294, 39, "0xc022", "0x4", "0xff", "JMP aaaa", "(nil)", "(nil)", "0x1"));
    EXPECT_EQ(part[10], dump(0x900, sprite_memory(3)));
    EXPECT_EQ(part[11], block(1593, 47, "0xc022", "0x4", "0xff", "JMP aaaa", "(nil)", "(nil)", "0x1") +
                            block(1594, 47, "0xc022", "0x4", "0xff", "JMP aaaa", "(nil)", "(nil)", "0x1"));
    EXPECT_EQ(part[12], dump(0x900, sprite_memory(256)));
    EXPECT_EQ(part[13], dump(0x980, sprite_memory(256)));
    EXPECT_EQ(part[14].substr(0, 13), "a01:  0  2  0");  // index wrapped, copy over
    EXPECT_EQ(part[15], "Sprite #0 Info:\nX: 166  Y: 165\nTile Index #164\n\n");
    EXPECT_EQ(part[16], dump(0, [](std::uint32_t address) { return address == 0 ? 1 : power_on_ram(address); }));
    EXPECT_EQ(part[17], statistics(1594, 0));
    EXPECT_EQ(result.status, 0);
}

// nmi_count.nes: C000-C012 switch NMIs on, C013 JMP $C013; the handler at C016 counts NMIs in
// 0x0000/0x0001. A frame is 242 line steps of 34 instructions (8228); the first line step comes
// before instruction 1, so vertical-blank step m comes before instruction 8228m - 33 and its
// NMI is entered right after that instruction.
TEST(TraceRun, OneNmiPerFrameWhileNmiIsEnabled) {
    constexpr std::uint32_t last = 300 * 8228 + 5;
    const ProgramResult result = run_quenrik({cartridge_path("nmi_count"), "-t"},
                                             "p c016\n"
                                             "\n"          // 2: runs into the first NMI
                                             "v 0\n"       // 3
                                             "\n"          // 4: the handler's INC $00
                                             "v 0\n"       // 5
                                             "p ffff\n"    // 6: a breakpoint that is never reached
                                             "e " + std::to_string(last - 8196) + "\n"  // 7
                                             "v 0\n"       // 8
                                             "q\n",
                                             {}, 20);
    const std::vector<std::string> part = answers(after_frame_skip(result.out));
    ASSERT_EQ(part.size(), 10u) << result.out;

    const auto count_is = [](std::uint32_t count) {
        return dump(0, [count](std::uint32_t address) -> std::uint8_t {
            if (address < 2) return static_cast<std::uint8_t>(count >> (8 * address));
            return power_on_ram(address);
        });
    };
    // NMI entered: 3 bytes pushed, the next instruction is the handler's first.
    EXPECT_EQ(part[2], block(8195, 0, "0xc016", "0x84", "0xfc", "JMP aaaa", "0xff", "(nil)", "0x80"));
    EXPECT_EQ(part[3], count_is(0));
    EXPECT_EQ(part[4], block(8196, 0, "0xc018", "0x4", "0xfc", "INC 0", "0xff", "(nil)", "0x80"));
    EXPECT_EQ(part[5], count_is(1));
    EXPECT_EQ(part[7], block(last - 1, 1, "0xc013", "0x84", "0xff", "JMP aaaa", "0xff", "(nil)", "0x80") +
                           block(last, 1, "0xc013", "0x84", "0xff", "JMP aaaa", "0xff", "(nil)", "0x80"));
    EXPECT_EQ(part[8], count_is(300));
    EXPECT_EQ(part[9], statistics(last, 300 / 5));
    EXPECT_EQ(result.status, 0);
}

// ---- Runs that end by themselves --------------------------------------------------------------

// halt.nes starts with opcode 0x02 at 0xC000.
TEST(SelfEndingRun, UnimplementedOpcodeAbortsAfterOneInstruction) {
    const std::string abort_text =
        "This OPCODE (0x2) is not implemented yet or is invalid.\n"
        "PC was pointing: 0xc000\n\n"
        "                     ***EXECUTION ABORTED***\n\n";
    const struct {
        std::vector<std::string> options;
        std::string input, before;
    } cases[] = {
        {{}, "", ""},
        // The console is not called for the aborting instruction: no state block, no prompt,
        // and the waiting input is never read.
        {{"-t"}, "q\n", start_message},
    };
    for (const auto& run : cases) {
        std::vector<std::string> arguments = run.options;
        arguments.insert(arguments.begin(), cartridge_path("halt"));
        const ProgramResult result = run_quenrik(arguments, run.input, {}, 20);
        EXPECT_EQ(after_frame_skip(result.out), run.before + abort_text + statistics(1, 0)) << run.input;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.signal, 0);
    }
}

// The one five-second run of the suite, on the demo cartridge (NMIs, sprite DMA, drawing).
TEST(SelfEndingRun, EvaluationModeStopsAfterFiveSeconds) {
    const auto start = Clock::now();
    const ProgramResult result = run_quenrik({cartridge_path("demo"), "-s"}, "", {}, 30);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();

    const std::string body = after_frame_skip(result.out);
    static const std::regex shape("Inst/sec: ([0-9]+) \\(375K in a real NES\\)\n\n"
                                  "([0-9]+) Instrucion were executed\nfps: ([0-9]+)\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(body, match, shape)) << body;
    const std::uint64_t per_second = std::stoull(match[1]);
    const std::uint64_t instructions = std::stoull(match[2]);
    const std::uint64_t fps = std::stoull(match[3]);
    EXPECT_GT(instructions, 0u);
    EXPECT_EQ(instructions % 10000, 0u);
    EXPECT_EQ(per_second, instructions / 5);
    // Frames follow from the instruction count alone: line steps before instructions 1, 35, 69...
    EXPECT_EQ(fps, ((instructions - 1) / 34 + 1) / 242 / 5);
    // 500 ms start-up delay, 50 ms measurement, then more than 5000 ms of emulation.
    EXPECT_GE(took, 5550);
    EXPECT_LE(took, 9000);
    EXPECT_EQ(result.out.substr(0, 25), "Evaluation mode enabled\n\n");
    EXPECT_EQ(result.status, 0);
}

// ---- Interrupt signal -------------------------------------------------------------------------

// True once the process has a handler installed for SIGINT (SDL's, which turns it into SDL_QUIT).
bool catches_sigint(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0;
    return false;
}

// qemu-user catches every signal itself, for the program it runs, and hands it on later: there
// the handler above is always seen and the signal's moment is qemu's, not the program's.
const bool emulated = std::string(QUENRIK_EMULATOR) != "";

// A Ctrl-C during the 500 ms start-up delay: the event loop takes the quit event before the
// emulation thread has finished measuring the host, so no instruction runs.
TEST(InterruptedRun, SigintDuringStartUpEndsBeforeTheFirstInstruction) {
    if (emulated) GTEST_SKIP() << "under qemu-user the signal's moment cannot be placed inside the start-up delay";
    int out_pipe[2];
    ASSERT_EQ(pipe(out_pipe), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        close(out_pipe[1]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 2);
        signal(SIGINT, SIG_DFL);  // SDL only takes over a signal left at its default
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        exec_quenrik({cartridge_path("minimal")});
        _exit(127);
    }
    close(out_pipe[1]);

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    bool sent = false;
    std::string out;
    for (;;) {
        if (!sent && catches_sigint(pid)) {
            // SDL installs the handler while it starts its event queue; a short pause lets the
            // queue come up, still well inside the 500 ms delay that follows the window.
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            kill(pid, SIGINT);
            sent = true;
        }
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "quenrik did not end after SIGINT";
            break;
        }
        pollfd fd = {out_pipe[0], POLLIN, 0};
        if (poll(&fd, 1, 5) > 0) {
            char buffer[4096];
            const ssize_t n = read(out_pipe[0], buffer, sizeof buffer);
            if (n <= 0) break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(out_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    EXPECT_TRUE(sent);
    EXPECT_EQ(after_frame_skip(out), statistics(0, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
