#include "core/ines.h"

#include <cstdlib>

#include "core/host.h"
#include "core/machine.h"

namespace {

constexpr long header_size = 16;
constexpr long prg_bank_size = 16384;
constexpr long chr_bank_size = 8192;
// The image holds two PRG banks (0x8000-0xFFFF) and two CHR banks (0x10000-0x13FFF).
constexpr std::uint32_t max_banks = 2;

// One byte at offset; a byte missing from the file reads as 0.
std::uint8_t read_byte_at(std::FILE* file, long offset) {
    std::uint8_t byte = 0;
    std::fseek(file, offset, SEEK_SET);
    if (std::fread(&byte, 1, 1, file) != 1) byte = 0;
    return byte;
}

// Reads up to count bytes at offset into destination; what the file lacks stays as it was.
void read_block_at(std::FILE* file, long offset, std::uint8_t* destination, std::size_t count) {
    std::fseek(file, offset, SEEK_SET);
    std::size_t got = std::fread(destination, 1, count, file);
    (void)got;
}

}  // namespace

bool load_ines_image(std::FILE* file, std::uint8_t* image, std::uint32_t& mirroring,
                     std::uint32_t& mapper) {
    static const std::uint8_t signature[4] = {0x4E, 0x45, 0x53, 0x1A};
    for (long i = 0; i < 4; ++i) {
        std::uint8_t byte = 0;
        std::fseek(file, i, SEEK_SET);
        if (std::fread(&byte, 1, 1, file) != 1 || byte != signature[i]) {
            host_print("This archive is not a valid ROM file or is corrupted\n");
            return false;
        }
    }

    const std::uint32_t prg = read_byte_at(file, 4);
    const std::uint32_t chr = read_byte_at(file, 5);

    // Without bank switching only two banks of each fit; loading more would run off the image.
    if (prg > max_banks || chr > max_banks) {
        print_text("This ROM has %u 16KB PRG banks and %u 8KB CHR banks, but only 2 of each fit "
                    "(no bank switching): not loaded\n",
                    prg, chr);
        return false;
    }

    std::uint8_t flags = read_byte_at(file, 6);
    mirroring = flag_get(0, flags);
    flags = read_byte_at(file, 6);
    mapper = flags >> 4;
    mapper += read_byte_at(file, 7) & 0xF0;

    read_block_at(file, prg * prg_bank_size + 10, image + nmi_vector, 6);

    if (prg == 1) {
        read_block_at(file, header_size, image + 0x8000, prg_bank_size);
        read_block_at(file, header_size, image + 0xC000, prg_bank_size);
    } else {
        read_block_at(file, header_size, image + 0x8000, prg * prg_bank_size);
    }

    read_block_at(file, header_size + prg * prg_bank_size, image + ppu_space, chr * chr_bank_size);

    host_print("The ROM has been succesfully loaded:\n\n");
    print_text("%i 16KB PRG banks loaded !!!\n", static_cast<int>(prg));
    print_text("%i  8KB CHK banks loaded !!!\n", static_cast<int>(chr));
    if (mirroring == 1)
        host_print("Vertical mirroring detected !!!\n");
    else
        host_print("Horizontal mirroring detected!!!\n");
    print_text("Mapper #%i detected\n\n", static_cast<int>(mapper));
    const std::uintptr_t reset = read_vector(image, reset_vector);
    print_text("PC initialized at %p\n\n", reinterpret_cast<void*>(reset));

    // Power-on RAM: 00 00 00 00 FF FF FF FF repeating.
    for (std::uint32_t address = 0; address < 0x0800; ++address)
        if ((address % 16) % 8 >= 4) image[address] = 0xFF;
    image[0x01FE] = 0x30;
    image[0x01FF] = 0x02;
    return true;
}

void load_ines(std::FILE* file, std::uint8_t* image, std::uint32_t& mirroring, std::uint32_t& mapper) {
    if (!load_ines_image(file, image, mirroring, mapper)) std::exit(-1);
}
