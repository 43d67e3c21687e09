#include "program/startup.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "core/expected_image.h"
#include "support/test_support.h"

namespace {

struct StartUp {
    RunState state;
    TestMachine machine;
    bool full_screen = true;
    std::string out;
};

// Runs start-up over a state and an image that hold leftovers, as a second start would find them.
void start(StartUp& run, std::vector<std::string> arguments) {
    run.state.cycle_count = 12;
    run.state.debugger.breakpoint = 0;
    std::fill(run.machine.bytes.begin(), run.machine.bytes.end(), 0xEE);
    arguments.insert(arguments.begin(), "quenrik");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    run.out = capture_stdout([&] {
        start_up(static_cast<int>(arguments.size()), argv.data(), run.state, run.machine.image(), run.full_screen);
    });
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(StartUp, AssembledCartridgeIsLoadedIntoAFreshMachine) {
    StartUp run;
    start(run, {cartridge_path("halt")});
    const std::vector<std::uint8_t> file = file_bytes(cartridge_path("halt"));
    ASSERT_EQ(file.size(), 16u + 16384 + 8192);

    std::vector<std::uint8_t> expected = powered_on_image();
    place(expected, 0x8000, file, 16, 16384);
    place(expected, 0xC000, file, 16, 16384);
    place(expected, 0x10000, file, 16 + 16384, 8192);
    EXPECT_EQ(image_differences(run.machine.image(), expected), "");
    // The reset vector leads to the opcode the CPU refuses, at both halves.
    EXPECT_EQ(run.machine.image()[0xFFFC], 0x00);
    EXPECT_EQ(run.machine.image()[0xFFFD], 0xC0);
    EXPECT_EQ(run.machine.image()[0xC000], 0x02);
    EXPECT_EQ(run.machine.image()[0x8000], 0x02);
    EXPECT_EQ(run.machine.image()[0x11FFF], 0xC5);

    EXPECT_EQ(run.state.cycle_count, 0u);
    EXPECT_EQ(run.state.line_cycles, 136u);
    EXPECT_EQ(run.state.debugger.breakpoint, 0xFFFFu);
    EXPECT_EQ(run.state.mirroring, 0u);
    EXPECT_EQ(run.state.mapper, 0u);
    EXPECT_FALSE(run.full_screen);
}

TEST(StartUp, MirroringOfTheCartridgeIsCopiedIntoTheImage) {
    std::vector<std::uint8_t> file = ines_header(0, 0, 0x11, 0x20);
    const std::string path = write_temp_file(file);
    StartUp run;
    start(run, {path});
    unlink(path.c_str());

    std::vector<std::uint8_t> expected = powered_on_image();
    expected[0x0A05] = 0x01;
    EXPECT_EQ(image_differences(run.machine.image(), expected), "");
    EXPECT_EQ(run.state.mirroring, 1u);
    EXPECT_EQ(run.state.mapper, 33u);
}

struct OptionCase {
    const char* name;
    std::vector<std::string> options;
    int evaluation, trace, fast;
    bool full_screen;
};

void PrintTo(const OptionCase& option, std::ostream* os) { *os << option.name; }

class StartUpOptions : public testing::TestWithParam<OptionCase> {};

TEST_P(StartUpOptions, SetTheModesOfTheRun) {
    const OptionCase& expected = GetParam();
    std::vector<std::string> arguments = expected.options;
    arguments.insert(arguments.begin(), cartridge_path("halt"));
    StartUp run;
    start(run, arguments);
    EXPECT_EQ(run.state.evaluation_mode, expected.evaluation);
    EXPECT_EQ(run.state.trace_mode, static_cast<std::uint32_t>(expected.trace));
    EXPECT_EQ(run.state.fast_mode, expected.fast);
    EXPECT_EQ(run.full_screen, expected.full_screen);
}

INSTANTIATE_TEST_SUITE_P(
    , StartUpOptions,
    testing::Values(OptionCase{"none", {}, 0, 0, 0, false}, OptionCase{"fs_s", {"-fs", "-s"}, 1, 0, 0, true},
                    OptionCase{"s_fs_ignored", {"-s", "-fs"}, 1, 0, 0, false},
                    OptionCase{"s_t", {"-s", "-t"}, 1, 1, 0, false},
                    OptionCase{"t_f", {"-t", "-f"}, 0, 1, 1, false},
                    OptionCase{"four_arguments", {"-t", "-s", "-f"}, 0, 1, 0, false},
                    OptionCase{"case_sensitive", {"-S", "-FS"}, 0, 0, 0, false}),
    [](const testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

}  // namespace
