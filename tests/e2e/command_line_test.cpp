// The program as a user runs it: exact standard output, standard error and exit status.
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

const char* const not_a_rom = "This archive is not a valid ROM file or is corrupted\n";

template <typename Case>
std::string by_name(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// What the command interpreter says when handed "PAUSE", the way the program hands it over.
std::string shell_complaint_about_pause() {
    std::string text;
    std::FILE* shell = popen("PAUSE 2>&1", "r");
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, shell)) > 0) text.append(buffer, n);
    pclose(shell);
    return text;
}

std::string report(int prg, int chr, bool vertical, int mapper, const char* pc) {
    return "The ROM has been succesfully loaded:\n\n" + std::to_string(prg) + " 16KB PRG banks loaded !!!\n" +
           std::to_string(chr) + "  8KB CHK banks loaded !!!\n" +
           (vertical ? "Vertical mirroring detected !!!\n" : "Horizontal mirroring detected!!!\n") + "Mapper #" +
           std::to_string(mapper) + " detected\n\nPC initialized at " + pc + "\n\n";
}

// A cartridge whose PRG is all opcode 0x02, which the CPU refuses: wherever the reset vector
// points into PRG the run ends at its first instruction. A reset vector of 0 starts on the
// BRK that RAM holds at 0x0000, whose IRQ vector leads into PRG as well.
std::vector<std::uint8_t> halting_cartridge(std::uint8_t prg, std::uint8_t chr, std::uint8_t flags6,
                                            std::uint8_t flags7, std::uint16_t reset) {
    std::vector<std::uint8_t> file = ines_header(prg, chr, flags6, flags7);
    file.resize(16 + prg * 16384, 0x02);
    const std::uint16_t vectors[3] = {0x8000, reset, 0x8000};
    for (int i = 0; i < 3; ++i) {
        file[file.size() - 6 + 2 * i] = static_cast<std::uint8_t>(vectors[i]);
        file[file.size() - 5 + 2 * i] = static_cast<std::uint8_t>(vectors[i] >> 8);
    }
    file.resize(file.size() + chr * 8192, 0x3C);
    return file;
}

// For a run that loads a cartridge: the option messages and the loader report come first, and
// the run ends by itself without complaint.
void expect_started(const ProgramResult& result, const std::string& expected_prefix) {
    EXPECT_EQ(result.out.substr(0, expected_prefix.size()), expected_prefix);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.signal, 0);
    EXPECT_NE(result.status, 255);
    EXPECT_NE(result.status, 1);
}

TEST(CommandLine, NoArgumentPrintsTheUsageAndEndsWithZero) {
    const ProgramResult result = run_quenrik({});
    EXPECT_EQ(result.out,
              "Use: quenrik <nes rom file> [-fs] [-s|-t] [-f]\n"
              "     -fs: Fullscreen Mode\n"
              "     -s:  Stats (CPU IPS & fps)\n"
              "     -t:  Ejecution Trace is shown\n"
              "     -f:  Fast mode (Still Experimental)\n\n");
    EXPECT_EQ(result.err, shell_complaint_about_pause());
    EXPECT_EQ(result.status, 0);
}

struct Refusal {
    const char* name;
    std::vector<std::uint8_t> bytes;  // contents of the cartridge file, unless missing or a directory
    std::vector<std::string> options;
    std::string out, err;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class CommandLineRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(CommandLineRefusal, PrintsOneMessageAndEndsWith255) {
    const Refusal& refusal = GetParam();
    std::string path;
    const std::string name = refusal.name;
    if (name.starts_with("missing")) path = "/nonexistent/quenrik/cartridge.nes";
    else if (name == "directory") path = "/tmp";
    else path = write_temp_file(refusal.bytes);
    std::vector<std::string> arguments = refusal.options;
    arguments.insert(arguments.begin(), path);
    const ProgramResult result = run_quenrik(arguments);
    if (path.starts_with("/tmp/quenrik-test")) unlink(path.c_str());
    EXPECT_EQ(result.out, refusal.out);
    EXPECT_EQ(result.err, refusal.err);
    EXPECT_EQ(result.status, 255);
}

std::vector<std::uint8_t> with_byte(std::vector<std::uint8_t> bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    , CommandLineRefusal,
    testing::Values(
        Refusal{"missing", {}, {}, "", "File not found.\n"},
        // Options are read before the file is opened.
        Refusal{"missing_after_options", {}, {"-s", "-f"}, "Evaluation mode enabled\n\nFast mode enabled\n\n",
                "File not found.\n"},
        Refusal{"first_signature_byte", with_byte(halting_cartridge(1, 1, 0, 0, 0x8000), 0, 'n'), {}, not_a_rom, ""},
        Refusal{"fourth_signature_byte", with_byte(halting_cartridge(1, 1, 0, 0, 0x8000), 3, 0x1B), {}, not_a_rom,
                ""},
        Refusal{"three_bytes", {0x4E, 0x45, 0x53}, {}, not_a_rom, ""},
        Refusal{"empty", {}, {}, not_a_rom, ""},
        Refusal{"directory", {}, {}, not_a_rom, ""},
        Refusal{"three_prg_banks", halting_cartridge(3, 1, 0, 0, 0x8000), {"-t"},
                "Trace mode enabled\n\nThis ROM has 3 16KB PRG banks and 1 8KB CHR banks, but only 2 of each fit "
                "(no bank switching): not loaded\n",
                ""},
        Refusal{"three_chr_banks", halting_cartridge(2, 3, 0, 0, 0x8000), {},
                "This ROM has 2 16KB PRG banks and 3 8KB CHR banks, but only 2 of each fit "
                "(no bank switching): not loaded\n",
                ""}),
    by_name<Refusal>);

struct OptionRun {
    const char* name;
    std::vector<std::string> options;
    std::string messages;
};

void PrintTo(const OptionRun& run, std::ostream* os) { *os << run.name; }

class CommandLineOptions : public testing::TestWithParam<OptionRun> {};

TEST_P(CommandLineOptions, PrintTheirMessagesBeforeTheLoaderReport) {
    std::vector<std::string> arguments = GetParam().options;
    arguments.insert(arguments.begin(), cartridge_path("halt"));
    const ProgramResult result = run_quenrik(arguments);
    expect_started(result, GetParam().messages + report(1, 1, false, 0, "0xc000"));
}

const std::string evaluation = "Evaluation mode enabled\n\n";
const std::string trace = "Trace mode enabled\n\n";
const std::string fast = "Fast mode enabled\n\n";
const std::string full_screen = "Full Screen Mode Enabled\n\n";

INSTANTIATE_TEST_SUITE_P(
    , CommandLineOptions,
    testing::Values(OptionRun{"none", {}, ""}, OptionRun{"s", {"-s"}, evaluation}, OptionRun{"t", {"-t"}, trace},
                    OptionRun{"f", {"-f"}, fast}, OptionRun{"fs", {"-fs"}, full_screen},
                    OptionRun{"fs_s", {"-fs", "-s"}, full_screen + evaluation},
                    OptionRun{"s_fs_ignored", {"-s", "-fs"}, evaluation},
                    OptionRun{"s_t", {"-s", "-t"}, evaluation + trace},
                    OptionRun{"s_twice", {"-s", "-s"}, evaluation + evaluation},
                    OptionRun{"f_t", {"-f", "-t"}, fast + trace},
                    OptionRun{"four_arguments", {"-t", "-s", "-f"}, trace},
                    OptionRun{"five_arguments", {"-fs", "-s", "-t", "-f"}, full_screen},
                    OptionRun{"x_ignored", {"-x"}, ""}, OptionRun{"x_then_f", {"-x", "-f"}, fast},
                    OptionRun{"case_sensitive", {"-S", "-T"}, ""}),
    by_name<OptionRun>);

struct LoaderRun {
    const char* name;
    std::uint8_t prg, chr, flags6, flags7;
    std::uint16_t reset;
    std::string report;
};

void PrintTo(const LoaderRun& run, std::ostream* os) { *os << run.name; }

class LoaderReport : public testing::TestWithParam<LoaderRun> {};

TEST_P(LoaderReport, DescribesTheCartridge) {
    const LoaderRun& run = GetParam();
    const std::string path = write_temp_file(halting_cartridge(run.prg, run.chr, run.flags6, run.flags7, run.reset));
    const ProgramResult result = run_quenrik({path});
    unlink(path.c_str());
    expect_started(result, run.report);
}

INSTANTIATE_TEST_SUITE_P(
    , LoaderReport,
    testing::Values(LoaderRun{"one_prg_zero_chr", 1, 0, 0x00, 0x00, 0xC000, report(1, 0, false, 0, "0xc000")},
                    LoaderRun{"two_prg_two_chr_vertical", 2, 2, 0x01, 0x00, 0x8abc, report(2, 2, true, 0, "0x8abc")},
                    LoaderRun{"mapper_33", 1, 1, 0x11, 0x20, 0xFFF0, report(1, 1, true, 33, "0xfff0")},
                    LoaderRun{"zero_reset_vector", 1, 1, 0x00, 0x00, 0x0000, report(1, 1, false, 0, "(nil)")}),
    by_name<LoaderRun>);

}  // namespace
