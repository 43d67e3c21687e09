// The iNES cartridge loader.
#pragma once

#include <cstdint>
#include <cstdio>

// Places PRG and CHR data, vectors and the power-on RAM pattern, and reports on the cartridge.
// A file that is not an iNES image or does not fit the image is refused: the answer is false,
// with the reason told, before anything is written.
bool load_ines_image(std::FILE* file, std::uint8_t* image, std::uint32_t& mirroring,
                     std::uint32_t& mapper);

// The same for the program: a refused file ends the process with status 255.
void load_ines(std::FILE* file, std::uint8_t* image, std::uint32_t& mirroring,
               std::uint32_t& mapper);
