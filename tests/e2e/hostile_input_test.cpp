// Files and typed input that nobody should hand the program, and which it must still meet with
// a clear message or a normal run: never a crash, a hang, or (in the sanitizer build) a report.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

const char* const not_a_rom = "This archive is not a valid ROM file or is corrupted\n";

// The run ended by itself with status, and nothing came on standard error: a sanitizer report
// would be there.
void expect_ended(const ProgramResult& result, int status) {
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, "");
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The output ends with the two statistics lines: "<n> Instrucion were executed", "fps: <n>".
bool ends_with_statistics(const std::string& out) {
    const auto digits_before = [&out](std::size_t end) {
        std::size_t start = end;
        while (start > 0 && out[start - 1] >= '0' && out[start - 1] <= '9') --start;
        return start;
    };
    if (!ends_with(out, "\n")) return false;
    const std::size_t fps_digits = digits_before(out.size() - 1);
    const std::string fps = "fps: ", executed = " Instrucion were executed\n";
    if (fps_digits == out.size() - 1 || fps_digits < fps.size() + executed.size() ||
        out.compare(fps_digits - fps.size(), fps.size(), fps) != 0)
        return false;
    const std::size_t executed_at = fps_digits - fps.size() - executed.size();
    return out.compare(executed_at, executed.size(), executed) == 0 && digits_before(executed_at) < executed_at;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string report(int prg, int chr, bool vertical, const char* pc) {
    return "The ROM has been succesfully loaded:\n\n" + std::to_string(prg) + " 16KB PRG banks loaded !!!\n" +
           std::to_string(chr) + "  8KB CHK banks loaded !!!\n" +
           (vertical ? "Vertical mirroring detected !!!\n" : "Horizontal mirroring detected!!!\n") +
           "Mapper #0 detected\n\nPC initialized at " + pc + "\n\n";
}

std::string too_large(int prg, int chr) {
    return "This ROM has " + std::to_string(prg) + " 16KB PRG banks and " + std::to_string(chr) +
           " 8KB CHR banks, but only 2 of each fit (no bank switching): not loaded\n";
}

// A cartridge whose program stops at its first instruction. PRG is opcode 0x02 throughout with
// every vector at 0x8000. Without PRG the header's bytes 10-15 are the vectors: they point at
// 0x0004, where power-on RAM holds 0xFF, which the CPU refuses as well. Only as much data as
// fits the image is written, whatever the header claims.
std::vector<std::uint8_t> stopping_cartridge(std::uint8_t prg, std::uint8_t chr) {
    std::vector<std::uint8_t> file = ines_header(prg, chr);
    file[12] = 0x04;
    const std::size_t banks = std::min<std::size_t>(prg, 2);
    file.resize(16 + banks * 16384, 0x02);
    if (banks > 0)
        for (std::size_t i = file.size() - 6; i < file.size(); i += 2) {
            file[i] = 0x00;
            file[i + 1] = 0x80;
        }
    file.resize(file.size() + std::min<std::size_t>(chr, 2) * 8192, 0x3C);
    return file;
}

std::string stopped_at(const char* opcode, const char* pc) {
    return std::string("This OPCODE (") + opcode + ") is not implemented yet or is invalid.\nPC was pointing: " + pc +
           "\n\n                     ***EXECUTION ABORTED***\n\n1 Instrucion were executed\nfps: 0\n";
}

// Runs the program on a temporary file holding bytes.
ProgramResult run_on_file(const std::vector<std::uint8_t>& bytes, std::vector<std::string> options = {},
                          const std::string& input = "") {
    const std::string path = write_temp_file(bytes);
    options.insert(options.begin(), path);
    ProgramResult result = run_quenrik(options, input);
    unlink(path.c_str());
    return result;
}

// ---- Cartridge files ---------------------------------------------------------------------

// Every bank count a header can hold, for PRG and CHR together and each against the other:
// 265 runs of the program, dealt out over eight cases so that the test jobs share them.
constexpr int bank_count_shares = 8;
class HostileBankCounts : public testing::TestWithParam<int> {};

TEST_P(HostileBankCounts, EveryBankCountLoadsOrIsRefusedWithItsNumbers) {
    std::vector<std::pair<int, int>> counts;
    for (int n = 0; n < 256; ++n) counts.emplace_back(n, n);
    for (auto pair : {std::pair{0, 2}, {2, 0}, {1, 2}, {3, 0}, {0, 3}, {2, 3}, {3, 2}, {255, 1}, {1, 255}})
        counts.push_back(pair);
    for (std::size_t i = static_cast<std::size_t>(GetParam()); i < counts.size(); i += bank_count_shares) {
        const auto [prg, chr] = counts[i];
        SCOPED_TRACE(testing::Message() << prg << " PRG banks, " << chr << " CHR banks");
        const ProgramResult result =
            run_on_file(stopping_cartridge(static_cast<std::uint8_t>(prg), static_cast<std::uint8_t>(chr)));
        if (prg > 2 || chr > 2) {
            EXPECT_EQ(result.out, too_large(prg, chr));
            expect_ended(result, 255);
            continue;
        }
        const bool prg_given = prg > 0;
        const std::string expected = report(prg, chr, false, prg_given ? "0x8000" : "0x4");
        EXPECT_EQ(result.out.substr(0, expected.size()), expected);
        EXPECT_TRUE(ends_with(result.out, prg_given ? stopped_at("0x2", "0x8000") : stopped_at("0xff", "0x4")))
            << result.out;
        expect_ended(result, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(, HostileBankCounts, testing::Range(0, bank_count_shares));

// A file that ends inside the header loads what is there (missing bytes count as 0); with
// nothing but zeros for a program it runs BRK forever, so the debugger runs it for a while
// and the end of its input ends the run.
class HostileShortHeader : public testing::TestWithParam<int> {};

TEST_P(HostileShortHeader, IsRefusedOrRunsUntilTheInputEnds) {
    const int length = GetParam();
    std::vector<std::uint8_t> file = ines_header(1, 1, 0x01);
    file.resize(static_cast<std::size_t>(length));
    const ProgramResult result = run_on_file(file, {"-t"}, "e 3000\n");
    if (length < 4) {
        EXPECT_EQ(result.out, std::string("Trace mode enabled\n\n") + not_a_rom);
        expect_ended(result, 255);
        return;
    }
    const std::string expected = "Trace mode enabled\n\n" + report(length > 4, length > 5, length > 6, "(nil)");
    EXPECT_EQ(result.out.substr(0, expected.size()), expected);
    EXPECT_TRUE(ends_with(result.out, "Quenrik>\n3001 Instrucion were executed\nfps: 0\n")) << result.out;
    expect_ended(result, 0);
}

INSTANTIATE_TEST_SUITE_P(, HostileShortHeader, testing::Range(0, 16));

// 100 MB files: only the header and the banks that fit are read.
TEST(HostileCartridge, HundredMegabyteFilesLoadOnlyWhatFits) {
    constexpr off_t size = 100 * 1024 * 1024;
    for (std::uint8_t banks : {2, 255}) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(banks) << " banks claimed");
        const std::string path = write_temp_file(stopping_cartridge(banks, banks));
        ASSERT_EQ(truncate(path.c_str(), size), 0);
        const ProgramResult result = run_quenrik({path});
        unlink(path.c_str());
        if (banks == 2) {
            EXPECT_EQ(result.out.substr(0, report(2, 2, false, "0x8000").size()), report(2, 2, false, "0x8000"));
            EXPECT_TRUE(ends_with(result.out, stopped_at("0x2", "0x8000"))) << result.out;
            expect_ended(result, 0);
        } else {
            EXPECT_EQ(result.out, too_large(255, 255));
            expect_ended(result, 255);
        }
    }
}

// Devices and directories open, but hold no iNES image; /dev/zero never ends, and the loader
// reads it no further than the first byte.
TEST(HostileCartridge, DevicesAndDirectoriesAreNotRomFiles) {
    for (const char* path : {"/dev/null", "/dev/zero", "/dev/full", "/", "/proc/self/mem"}) {
        SCOPED_TRACE(path);
        const ProgramResult result = run_quenrik({path, "-t"});
        EXPECT_EQ(result.out, std::string("Trace mode enabled\n\n") + not_a_rom);
        expect_ended(result, 255);
    }
}

TEST(HostileCartridge, WriteOnlyFileIsNotFound) {
    // Write-only for every user, root included.
    const char* path = "/proc/sys/vm/drop_caches";
    struct stat info;
    if (stat(path, &info) != 0) GTEST_SKIP() << path << " is missing here";
    const ProgramResult result = run_quenrik({path});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "File not found.\n");
    EXPECT_EQ(result.status, 255);
}

TEST(HostileCartridge, FileWithoutReadPermissionIsNotFound) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions";
    const std::string path = write_temp_file(stopping_cartridge(1, 1));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    const ProgramResult result = run_quenrik({path});
    unlink(path.c_str());
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "File not found.\n");
    EXPECT_EQ(result.status, 255);
}

// ---- Debugger input ------------------------------------------------------------------------

struct Garbage {
    const char* name;
    std::string bytes;
};

void PrintTo(const Garbage& garbage, std::ostream* os) { *os << garbage.name; }

std::string random_bytes(std::uint32_t seed, std::size_t size) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// Commands, separators and numbers of every form, shuffled; never q. Without e and p, which
// run the program on (and so to its end), every piece is read.
std::string command_soup(std::uint32_t seed, std::size_t pieces, bool running_commands) {
    std::vector<std::string> parts = {"v", "w", "s", "h", "x", " ", " ", "\n", "\n", "\t", "-", "0x", "0", "7",
                                      "ff", "13fff", "14000", "ffffffffffffffffffff", "99999999999999999999",
                                      "\x80", "\xff", std::string(1, '\0')};
    if (running_commands) parts.insert(parts.end(), {"e", "p"});
    std::mt19937 generator(seed);
    std::string soup;
    for (std::size_t i = 0; i < pieces; ++i) soup += parts[generator() % parts.size()];
    return soup;
}

std::string repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

class HostileDebuggerInput : public testing::TestWithParam<Garbage> {};

// The countdown cartridge stops by itself after some 33000 instructions; "-s" stops the run
// after five seconds should the input have made it loop for ever.
TEST_P(HostileDebuggerInput, EndsTheRunNormally) {
    const ProgramResult result = run_quenrik({cartridge_path("countdown"), "-s", "-t"}, GetParam().bytes);
    EXPECT_TRUE(ends_with_statistics(result.out)) << result.out.substr(result.out.size() > 2000 ? result.out.size() - 2000 : 0);
    expect_ended(result, 0);
}

INSTANTIATE_TEST_SUITE_P(
    , HostileDebuggerInput,
    testing::Values(Garbage{"random_bytes_1", random_bytes(1, 65536)},
                    Garbage{"random_bytes_2", random_bytes(2, 65536)},
                    Garbage{"nul_lines", repeated(std::string("\0\0\0\n", 4), 4096)},
                    Garbage{"ff_lines", repeated("\xff\xff\xff\n", 4096)},
                    Garbage{"one_long_line", std::string(262144, 'x')},
                    Garbage{"one_long_number", "v " + std::string(262144, '7')},
                    Garbage{"command_soup", command_soup(1, 20000, false)},
                    Garbage{"command_soup_running", command_soup(2, 20000, true)}),
    [](const testing::TestParamInfo<Garbage>& info) { return std::string(info.param.name); });

// Numbers past every range the commands have: offsets past the image, numbers wider than 64
// bits, negative ones. The program stops at 0xC004 (JMP to itself) of the minimal cartridge.
TEST(HostileDebuggerNumbers, OutOfRangeNumbersAreRefusedOrFolded) {
    const std::string input =
        "v 14000\n"
        "v ffffffffffffffffffff\n"
        "v -1\n"
        "w 14000 1\n"
        "w -1 1\n"
        "w 13fff 1ff\n"
        "w 13ffe fffffffffffffffffffff\n"
        "v 13ff9\n"
        "s -1\n"
        "s 99999999999999999999\n"
        "s -99999999999999999999\n"
        "p 1c004\n"
        "e 99999999999999999999\n"  // the low 32 bits of the largest number: runs to the breakpoint
        "e -99999999999999999999\n"
        "q\n";
    const ProgramResult result = run_quenrik({cartridge_path("minimal"), "-t"}, input);
    EXPECT_EQ(count(result.out, "Address outside memory (0-13fff)\n"), 5u);
    EXPECT_EQ(count(result.out, "13ff9:  0  0  0  0  0 ff ff\n"), 1u);
    EXPECT_EQ(count(result.out, "Sprite #255 Info:\n"), 2u);
    EXPECT_EQ(count(result.out, "Sprite #0 Info:\n"), 1u);
    EXPECT_EQ(count(result.out, " PC: 0xc004 "), 2u);  // both runs stopped at the breakpoint
    EXPECT_TRUE(ends_with(result.out, "Quenrik>4 Instrucion were executed\nfps: 0\n")) << result.out;
    expect_ended(result, 0);
}

// ---- Closed standard streams ---------------------------------------------------------------

struct ShellRun {
    std::string out;
    int status = -1;
};

// Runs the program through the shell so that redirections can close its standard streams.
ShellRun run_in_shell(const std::string& arguments_and_redirections) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    const std::string command = "exec timeout " + std::to_string(30 * QUENRIK_TIMEOUT_SCALE) + " " + quenrik_command() + " " + arguments_and_redirections;
    ShellRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

TEST(HostileStreams, ClosedInputEndsTheDebuggerAtItsFirstPrompt) {
    const ShellRun run = run_in_shell(cartridge_path("minimal") + " -t <&- 2>&1");
    EXPECT_TRUE(ends_with(run.out, "Quenrik>\n1 Instrucion were executed\nfps: 0\n")) << run.out;
    EXPECT_EQ(run.status, 0);
}

TEST(HostileStreams, ClosedOutputAndErrorStillLetTheProgramRunAndFail) {
    EXPECT_EQ(run_in_shell(cartridge_path("countdown") + " -t >&- 2>&- <<'END'\ne 100000\nEND").status, 0);
    EXPECT_EQ(run_in_shell("/nonexistent/cartridge.nes >&- 2>&-").status, 255);
}

}  // namespace
