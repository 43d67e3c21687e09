// The iNES cartridge loader.
#pragma once

#include <cstdint>
#include <cstdio>

// Places PRG and CHR data, vectors and the power-on RAM pattern; ends the process with status
// 255 when the file is not an iNES image or does not fit the image.
void load_ines(std::FILE* file, std::uint8_t* image, std::uint32_t& mirroring,
               std::uint32_t& mapper);
