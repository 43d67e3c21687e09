// CPU memory bus: address decode for reads and writes, sprite DMA start, display_update.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "bus/bus.h"
#include "core/machine.h"
#include "ppu/ppu_registers.h"
#include "support/test_support.h"

namespace {

std::uint8_t read_at(std::uint8_t* image, std::uint32_t address, std::uint8_t start = 0) {
    std::uint8_t value = start;
    bus_read(value, image, address);
    return value;
}

void write_at(std::uint8_t* image, std::uint32_t address, std::uint8_t value) { bus_write(value, image, address); }

std::vector<std::uint32_t> changed_bytes(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after) {
    std::vector<std::uint32_t> changed;
    for (std::uint32_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) changed.push_back(i);
    return changed;
}

struct Mapping {
    std::uint32_t address;
    std::uint32_t image_index;
};

}  // namespace

// ---- Reads -------------------------------------------------------------------------------
TEST(BusRead, EachAddressRangeReadsItsImageByte) {
    TestMachine m;
    for (std::uint32_t i = 0; i < 0x10000; ++i) m.bytes[i] = static_cast<std::uint8_t>(i ^ (i >> 8) ^ (i >> 11));
    const Mapping table[] = {
        {0x0000, 0x0000}, {0x07FF, 0x07FF}, {0x0800, 0x0000}, {0x0FFF, 0x07FF}, {0x1000, 0x0000},
        {0x1234, 0x0234}, {0x17FF, 0x07FF}, {0x1800, 0x0000}, {0x1FFF, 0x07FF}, {0x2000, 0x2000},
        {0x2001, 0x2001}, {0x2005, 0x2005}, {0x2008, 0x2000}, {0x200A, 0x2002}, {0x200D, 0x2005},
        {0x3FFC, 0x2004}, {0x3FFF, 0x2007}, {0x4000, 0x4000}, {0x4013, 0x4013}, {0x4014, 0x4014},
        {0x4015, 0x4015}, {0x4018, 0x4018}, {0x6000, 0x6000}, {0x7FFF, 0x7FFF}, {0x8000, 0x8000},
        {0xFFFF, 0xFFFF},
    };
    for (const auto& [address, index] : table) {
        if (address != index) {
            ASSERT_NE(m.bytes[address], m.bytes[index]) << "pattern must tell mirrors apart";
        }
        const auto before = m.bytes;
        EXPECT_EQ(read_at(m.image(), address), m.bytes[index]) << std::hex << address;
        EXPECT_EQ(m.bytes, before) << "read of " << std::hex << address << " changed the image";
    }
}

TEST(BusRead, RegisterMirrorsReadStoredBytesWithoutSideEffects) {
    TestMachine m;
    std::uint8_t* image = m.image();
    image[ppu_status] = 0xC0;
    write_at(image, 0x2006, 0x21);  // toggle now 1
    image[priv::vram_read_buffer] = 0x44;
    const auto before = m.bytes;
    EXPECT_EQ(read_at(image, 0x200A), 0xC0);  // status mirror: flags stay set
    EXPECT_EQ(read_at(image, 0x3FFA), 0xC0);
    EXPECT_EQ(read_at(image, 0x200C, 0x77), 0x00);  // sprite-data mirror: no advance
    EXPECT_EQ(read_at(image, 0x200F, 0x77), 0x00);  // data-port mirror: buffer untouched
    EXPECT_EQ(m.bytes, before);
}

TEST(BusRead, WriteOnlyRegistersLeaveTheDestinationAsItWas) {
    TestMachine m;
    for (std::uint32_t address : {0x2003u, 0x2006u}) {
        const auto before = m.bytes;
        EXPECT_EQ(read_at(m.image(), address, 0x5A), 0x5A);
        EXPECT_EQ(read_at(m.image(), address, 0x00), 0x00);  // a fresh temporary stays 0x00
        EXPECT_EQ(m.bytes, before);
    }
}

TEST(BusRead, AddressAbove16BitsFoldsIntoTheCpuSpace) {
    TestMachine m;
    m.bytes[0xFFFF] = 0x3C;
    EXPECT_EQ(read_at(m.image(), 0x1FFFF), 0x3C);
    write_at(m.image(), 0x1FFFE, 0x4D);
    EXPECT_EQ(m.bytes[0xFFFE], 0x4D);
}

// ---- Writes ------------------------------------------------------------------------------
TEST(BusWrite, EachStoringRangeChangesExactlyItsImageByte) {
    const Mapping table[] = {
        {0x0000, 0x0000}, {0x07FF, 0x07FF}, {0x0800, 0x0000}, {0x0FFF, 0x07FF}, {0x1000, 0x0000},
        {0x1800, 0x0000}, {0x1FFF, 0x07FF}, {0x2000, 0x2000}, {0x2001, 0x2001}, {0x2002, 0x2002},
        {0x4000, 0x4000}, {0x4013, 0x4013}, {0x4015, 0x4015}, {0x4018, 0x4018}, {0x6000, 0x6000},
        {0x7FFF, 0x7FFF}, {0x8000, 0x8000}, {0xFFFF, 0xFFFF},
    };
    for (const auto& [address, index] : table) {
        TestMachine m;
        m.bytes[priv::display_update] = 0xFF;  // so that raising it changes nothing
        const auto before = m.bytes;
        write_at(m.image(), address, 0xA5);
        EXPECT_EQ(changed_bytes(before, m.bytes), std::vector<std::uint32_t>{index}) << std::hex << address;
        EXPECT_EQ(read_at(m.image(), address), 0xA5) << std::hex << address;
    }
}

TEST(BusWrite, RamMirrorsShareOneByte) {
    TestMachine m;
    write_at(m.image(), 0x0800, 0x9C);
    for (std::uint32_t address : {0x0000u, 0x1000u, 0x1800u}) EXPECT_EQ(read_at(m.image(), address), 0x9C);
}

TEST(BusWrite, StatusWriteReplacesBothFlags) {
    TestMachine m;
    m.bytes[ppu_status] = 0xC0;
    write_at(m.image(), 0x2002, 0x01);
    EXPECT_EQ(m.bytes[ppu_status], 0x01);
    write_at(m.image(), 0x2002, 0xFF);
    EXPECT_EQ(m.bytes[ppu_status], 0xFF);
}

TEST(BusWrite, RegisterMirrorWritesAreDropped) {
    for (std::uint32_t address : {0x2008u, 0x200Au, 0x200Bu, 0x200Fu, 0x3456u, 0x3FFFu}) {
        TestMachine m;
        const auto before = m.bytes;
        write_at(m.image(), address, 0x80);
        EXPECT_EQ(m.bytes, before) << std::hex << address;
    }
}

TEST(BusWrite, SpriteDmaStartIsNotStored) {
    TestMachine m;
    std::uint8_t* image = m.image();
    const auto before = m.bytes;
    write_at(image, 0x4014, 0x02);
    EXPECT_EQ(changed_bytes(before, m.bytes),
              (std::vector<std::uint32_t>{priv::display_update, priv::dma_page, priv::dma_active}));
    EXPECT_EQ(image[priv::dma_index], 0x00);
    EXPECT_EQ(image[priv::dma_page], 0x02);
    EXPECT_EQ(image[priv::dma_active], 0x01);
    EXPECT_EQ(read_at(image, 0x4014, 0x66), 0x00);

    image[priv::dma_index] = 0x37;  // a copy in progress restarts with the new page
    write_at(image, 0x4014, 0x07);
    EXPECT_EQ(image[priv::dma_index], 0x00);
    EXPECT_EQ(image[priv::dma_page], 0x07);
    EXPECT_EQ(image[priv::dma_active], 0x01);
    EXPECT_EQ(image[0x4014], 0x00);
}

TEST(BusWrite, DisplayUpdateRaisedByPictureWritesOnly) {
    const std::uint32_t raising[] = {0x2000, 0x2001, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x4014};
    for (std::uint32_t address : raising) {
        for (auto [start, expected] : {std::pair<std::uint8_t, std::uint8_t>{0x00, 0x01}, {0x01, 0x01}, {0xFF, 0xFF}}) {
            TestMachine m;
            m.bytes[priv::display_update] = start;
            write_at(m.image(), address, 0x00);
            EXPECT_EQ(m.bytes[priv::display_update], expected) << std::hex << address << " from " << +start;
        }
    }
    for (std::uint32_t address : {0x0000u, 0x2002u, 0x2008u, 0x4000u, 0x4016u, 0x4017u, 0x8000u}) {
        TestMachine m;
        write_at(m.image(), address, 0x01);
        EXPECT_EQ(m.bytes[priv::display_update], 0x00) << std::hex << address;
    }
}

TEST(BusWrite, PpuPortWritesStoreNothingAtTheirAddresses) {
    TestMachine m;
    for (std::uint32_t address = 0x2003; address <= 0x2007; ++address) write_at(m.image(), address, 0xEE);
    for (std::uint32_t address = 0x2003; address <= 0x2007; ++address) EXPECT_EQ(m.bytes[address], 0x00);
    EXPECT_EQ(read_at(m.image(), 0x2005, 0x12), 0x00);  // the scroll port reads back its empty byte
}
