#include "core/ines.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/expected_image.h"
#include "support/test_support.h"

namespace {

constexpr std::size_t bank16 = 16384;
constexpr std::size_t bank8 = 8192;
constexpr std::size_t guard = 4096;  // bytes behind the image that loading must never reach
constexpr std::uint8_t guard_byte = 0x5A;

// Bytes that differ from bank to bank and from offset to offset.
std::vector<std::uint8_t> pattern(std::size_t count, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) + seed);
    return bytes;
}

std::vector<std::uint8_t> cartridge(const std::vector<std::uint8_t>& header, std::size_t prg, std::size_t chr) {
    std::vector<std::uint8_t> file = header;
    for (std::size_t bank = 0; bank < prg; ++bank) {
        std::vector<std::uint8_t> data = pattern(bank16, static_cast<std::uint8_t>(0x10 + bank));
        file.insert(file.end(), data.begin(), data.end());
    }
    for (std::size_t bank = 0; bank < chr; ++bank) {
        std::vector<std::uint8_t> data = pattern(bank8, static_cast<std::uint8_t>(0x80 + bank));
        file.insert(file.end(), data.begin(), data.end());
    }
    return file;
}

struct Loaded {
    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(image_size + guard, guard_byte);
    std::uint32_t mirroring = 0xDEAD;
    std::uint32_t mapper = 0xBEEF;
    std::string report;
    std::uint8_t* image() { return memory.data(); }
};

// Loads bytes from a file whose stream was left at its end, as any position must do.
Loaded load(const std::vector<std::uint8_t>& bytes) {
    Loaded loaded;
    machine_image_clear(loaded.image());
    const std::string path = write_temp_file(bytes);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    loaded.report = capture_stdout([&] { load_ines(file, loaded.image(), loaded.mirroring, loaded.mapper); });
    std::fclose(file);
    unlink(path.c_str());
    for (std::size_t i = image_size; i < loaded.memory.size(); ++i)
        EXPECT_EQ(loaded.memory[i], guard_byte) << "written past the image at offset " << i;
    return loaded;
}

std::string report(int prg, int chr, bool vertical, int mapper, const char* pc) {
    return "The ROM has been succesfully loaded:\n\n" + std::to_string(prg) + " 16KB PRG banks loaded !!!\n" +
           std::to_string(chr) + "  8KB CHK banks loaded !!!\n" +
           (vertical ? "Vertical mirroring detected !!!\n" : "Horizontal mirroring detected!!!\n") + "Mapper #" +
           std::to_string(mapper) + " detected\n\nPC initialized at " + pc + "\n\n";
}

void set_vectors(std::vector<std::uint8_t>& file, std::size_t prg, std::uint16_t nmi, std::uint16_t reset,
                 std::uint16_t irq) {
    const std::size_t at = 16 + prg * bank16 - 6;
    const std::uint16_t vectors[3] = {nmi, reset, irq};
    for (int i = 0; i < 3; ++i) {
        file[at + 2 * i] = static_cast<std::uint8_t>(vectors[i]);
        file[at + 2 * i + 1] = static_cast<std::uint8_t>(vectors[i] >> 8);
    }
}

TEST(InesLoader, OnePrgBankAnswersAtBothHalves) {
    std::vector<std::uint8_t> file = cartridge(ines_header(1, 1), 1, 1);
    set_vectors(file, 1, 0x8123, 0xC123, 0xF00D);
    Loaded loaded = load(file);

    std::vector<std::uint8_t> expected = powered_on_image();
    place(expected, 0x8000, file, 16, bank16);
    place(expected, 0xC000, file, 16, bank16);
    place(expected, 0x10000, file, 16 + bank16, bank8);
    EXPECT_EQ(image_differences(loaded.image(), expected), "");
    EXPECT_EQ(loaded.image()[0xFFFC], 0x23);
    EXPECT_EQ(loaded.image()[0xFFFD], 0xC1);
    EXPECT_EQ(loaded.mirroring, 0u);
    EXPECT_EQ(loaded.mapper, 0u);
    EXPECT_EQ(loaded.report, report(1, 1, false, 0, "0xc123"));
}

TEST(InesLoader, TwoPrgAndTwoChrBanksFillTheImageInFileOrder) {
    std::vector<std::uint8_t> file = cartridge(ines_header(2, 2, 0x01), 2, 2);
    set_vectors(file, 2, 0x0000, 0x8000, 0x0000);
    Loaded loaded = load(file);

    std::vector<std::uint8_t> expected = powered_on_image();
    place(expected, 0x8000, file, 16, 2 * bank16);
    // The second CHR bank lands on nametable and palette storage.
    place(expected, 0x10000, file, 16 + 2 * bank16, 2 * bank8);
    EXPECT_EQ(image_differences(loaded.image(), expected), "");
    EXPECT_EQ(loaded.mirroring, 1u);
    EXPECT_EQ(loaded.report, report(2, 2, true, 0, "0x8000"));
}

TEST(InesLoader, ZeroPrgBanksTakeTheVectorsFromTheHeader) {
    std::vector<std::uint8_t> header = ines_header(0, 0);
    for (std::uint8_t i = 0; i < 6; ++i) header[10 + i] = static_cast<std::uint8_t>(0xA1 + i);
    std::vector<std::uint8_t> file = header;
    file.resize(16 + bank8, 0x77);  // data that a header without banks does not ask for
    Loaded loaded = load(file);

    std::vector<std::uint8_t> expected = powered_on_image();
    place(expected, 0xFFFA, header, 10, 6);
    EXPECT_EQ(image_differences(loaded.image(), expected), "");
    EXPECT_EQ(loaded.report, report(0, 0, false, 0, "0xa4a3"));
}

TEST(InesLoader, EightyByteFileLoadsWhatThereIs) {
    std::vector<std::uint8_t> file = cartridge(ines_header(1, 1), 1, 1);
    file.resize(80);
    Loaded loaded = load(file);

    std::vector<std::uint8_t> expected = powered_on_image();
    place(expected, 0x8000, file, 16, 64);
    place(expected, 0xC000, file, 16, 64);
    EXPECT_EQ(image_differences(loaded.image(), expected), "");
    EXPECT_EQ(loaded.report, report(1, 1, false, 0, "(nil)"));
}

struct HeaderFlags {
    std::uint8_t byte6, byte7;
    std::uint32_t mirroring, mapper;
};

void PrintTo(const HeaderFlags& flags, std::ostream* os) {
    char text[32];
    std::snprintf(text, sizeof text, "flags_%02X_%02X", flags.byte6, flags.byte7);
    *os << text;
}

class InesHeaderFlags : public testing::TestWithParam<HeaderFlags> {};

// Battery, trainer and four-screen bits and the low nibble of byte 7 change nothing, and a
// trainer is not skipped: PRG data always starts at offset 16.
TEST_P(InesHeaderFlags, GiveMirroringAndMapper) {
    const HeaderFlags flags = GetParam();
    std::vector<std::uint8_t> file = cartridge(ines_header(1, 0, flags.byte6, flags.byte7), 1, 0);
    Loaded loaded = load(file);

    EXPECT_EQ(loaded.mirroring, flags.mirroring);
    EXPECT_EQ(loaded.mapper, flags.mapper);
    std::vector<std::uint8_t> expected = powered_on_image();
    place(expected, 0x8000, file, 16, bank16);
    place(expected, 0xC000, file, 16, bank16);
    EXPECT_EQ(image_differences(loaded.image(), expected), "");
    const std::uint32_t reset = file[16 + bank16 - 3] * 256u + file[16 + bank16 - 4];
    char pc[32];
    std::snprintf(pc, sizeof pc, "0x%x", reset);
    EXPECT_EQ(loaded.report, report(1, 0, flags.mirroring == 1, static_cast<int>(flags.mapper), pc));
}

INSTANTIATE_TEST_SUITE_P(, InesHeaderFlags,
                         testing::Values(HeaderFlags{0x11, 0x20, 1, 33}, HeaderFlags{0xF1, 0xF0, 1, 255},
                                         HeaderFlags{0x40, 0x00, 0, 4}, HeaderFlags{0x0E, 0x0F, 0, 0},
                                         HeaderFlags{0x0F, 0x00, 1, 0}),
                         [](const testing::TestParamInfo<HeaderFlags>& info) {
                             return testing::PrintToString(info.param);
                         });

// A refused file must leave the image and the run-state words exactly as they were.
const std::uint8_t* watched_image;
const std::uint32_t* watched_words[2];

void exit_if_anything_placed() {
    const std::vector<std::uint8_t> clean = cleared_image();
    for (std::size_t i = 0; i < image_size; ++i)
        if (watched_image[i] != clean[i]) _exit(3);
    if (*watched_words[0] != 0xDEAD || *watched_words[1] != 0xBEEF) _exit(4);
}

void load_watched(const std::vector<std::uint8_t>& bytes) {
    static Loaded loaded;
    machine_image_clear(loaded.image());
    watched_image = loaded.image();
    watched_words[0] = &loaded.mirroring;
    watched_words[1] = &loaded.mapper;
    std::atexit(exit_if_anything_placed);
    const std::string path = write_temp_file(bytes);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    unlink(path.c_str());
    load_ines(file, loaded.image(), loaded.mirroring, loaded.mapper);
}

// A file that ends inside the header: the bytes it lacks read as 0. Fewer than four bytes
// cannot hold the signature and are refused.
class InesShortHeader : public testing::TestWithParam<int> {};

TEST_P(InesShortHeader, MissingBytesReadAsZero) {
    const int length = GetParam();
    const std::vector<std::uint8_t> full = {0x4E, 0x45, 0x53, 0x1A, 2, 1, 0x11, 0x20,
                                            0, 0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    const std::vector<std::uint8_t> file(full.begin(), full.begin() + length);
    if (length < 4) {
        EXPECT_EXIT(load_watched(file), testing::ExitedWithCode(255), "");
        return;
    }
    Loaded loaded = load(file);
    EXPECT_EQ(image_differences(loaded.image(), powered_on_image()), "");
    EXPECT_EQ(loaded.mirroring, length > 6 ? 1u : 0u);
    EXPECT_EQ(loaded.mapper, (length > 6 ? 1u : 0u) + (length > 7 ? 0x20u : 0u));
    EXPECT_EQ(loaded.report, report(length > 4 ? 2 : 0, length > 5 ? 1 : 0, length > 6,
                                    static_cast<int>(loaded.mapper), "(nil)"));
}

INSTANTIATE_TEST_SUITE_P(, InesShortHeader, testing::Range(0, 16));

struct RefusedFile {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

void PrintTo(const RefusedFile& file, std::ostream* os) { *os << file.name; }

class InesRefused : public testing::TestWithParam<RefusedFile> {};

TEST_P(InesRefused, EndsWithStatus255BeforePlacingAnything) {
    EXPECT_EXIT(load_watched(GetParam().bytes), testing::ExitedWithCode(255), "");
}

std::vector<std::uint8_t> with_byte(std::vector<std::uint8_t> bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    , InesRefused,
    testing::Values(RefusedFile{"three_prg_banks", cartridge(ines_header(3, 1), 3, 1)},
                    RefusedFile{"three_chr_banks", cartridge(ines_header(1, 3), 1, 3)},
                    // Headers that claim far more than the file holds.
                    RefusedFile{"prg_255", cartridge(ines_header(255, 0), 1, 0)},
                    RefusedFile{"chr_255", cartridge(ines_header(0, 255), 0, 0)},
                    RefusedFile{"first_byte", with_byte(cartridge(ines_header(1, 1), 1, 1), 0, 0x4F)},
                    RefusedFile{"second_byte", with_byte(cartridge(ines_header(1, 1), 1, 1), 1, 0x65)},
                    RefusedFile{"third_byte", with_byte(cartridge(ines_header(1, 1), 1, 1), 2, 0x73)},
                    RefusedFile{"fourth_byte", with_byte(cartridge(ines_header(1, 1), 1, 1), 3, 0x1B)},
                    RefusedFile{"empty", {}}),
    [](const testing::TestParamInfo<RefusedFile>& info) { return std::string(info.param.name); });

}  // namespace
