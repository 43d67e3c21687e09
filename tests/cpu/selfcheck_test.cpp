// Runs the assembled self-check cartridge through the CPU until its final "jmp *" loop and reads
// the results it leaves in RAM.
#include <cstdint>
#include <cstdio>

#include <gtest/gtest.h>

#include "core/ines.h"
#include "cpu/cpu_rig.h"

namespace {

constexpr std::uint32_t result = 0x0600, checks = 0x0601, first_fail = 0x0602, fails = 0x0603, total = 0x0604;

// Loads the cartridge as start-up does and starts at the reset vector.
void load_cartridge(CpuRig& rig, const std::string& name) {
    std::FILE* file = std::fopen(cartridge_path(name).c_str(), "rb");
    ASSERT_NE(file, nullptr) << cartridge_path(name);
    capture_stdout([&] { load_ines(file, rig.image(), rig.state.mirroring, rig.state.mapper); });
    std::fclose(file);
    rig.r().pc = rig.at(reset_vector + 1) * 0x100u + rig.at(reset_vector);
}

// Steps until a JMP lands on itself; returns the number of instructions run, 0 if it never did.
std::uint32_t run_to_spin(CpuRig& rig, std::uint32_t limit) {
    for (std::uint32_t steps = 1; steps <= limit && rig.state.quit.get() == 0; ++steps) {
        const std::uint32_t pc = rig.r().pc;
        rig.step();
        if (rig.state.opcode == 0x4C && rig.r().pc == pc) return steps;
    }
    return 0;
}

}  // namespace

TEST(SelfCheckCartridge, PassesEveryCheck) {
    CpuRig rig;
    load_cartridge(rig, "cpu_selfcheck");
    const std::uint32_t steps = run_to_spin(rig, 1000000);
    ASSERT_NE(steps, 0u) << "never reached its final loop; pc " << rig.r().pc << ", checks made "
                         << int(rig.at(checks));
    EXPECT_EQ(rig.at(first_fail), 0) << "first failing check";
    EXPECT_EQ(rig.at(fails), 0);
    EXPECT_EQ(rig.at(result), 0x01);
    EXPECT_EQ(rig.at(checks), rig.at(total)) << "every check in the program ran";
    EXPECT_GE(rig.at(checks), 100);
    EXPECT_GT(steps, 5000u);
    EXPECT_EQ(rig.r().sp, 0xFF);
}
