// Images as they must look after start-up and loading, built byte by byte for comparison.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/machine.h"

// All zero except the 64 sprite attribute bytes, which mark every sprite as behind the background.
inline std::vector<std::uint8_t> cleared_image() {
    std::vector<std::uint8_t> image(image_size, 0x00);
    for (std::uint32_t address = 0x0902; address <= 0x09FE; address += 4) image[address] = 0x20;
    return image;
}

// A cleared image with the power-on RAM: 00 00 00 00 FF FF FF FF repeating, 0x30 0x02 at 0x01FE.
inline std::vector<std::uint8_t> powered_on_image() {
    static const std::uint8_t row[16] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<std::uint8_t> image = cleared_image();
    for (std::uint32_t address = 0; address < 0x0800; ++address) image[address] = row[address % 16];
    image[0x01FE] = 0x30;
    image[0x01FF] = 0x02;
    return image;
}

inline void place(std::vector<std::uint8_t>& image, std::uint32_t at, const std::vector<std::uint8_t>& bytes,
                  std::size_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) image[at + i] = bytes[from + i];
}

// Empty when the two images agree, else the first differing offsets.
inline std::string image_differences(const std::uint8_t* actual, const std::vector<std::uint8_t>& expected) {
    std::string report;
    int shown = 0;
    for (std::size_t i = 0; i < expected.size() && shown < 8; ++i) {
        if (actual[i] == expected[i]) continue;
        char line[80];
        std::snprintf(line, sizeof line, "image[0x%05zX] = 0x%02X, expected 0x%02X\n", i, actual[i], expected[i]);
        report += line;
        ++shown;
    }
    return report;
}
