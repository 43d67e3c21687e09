// The scanline renderer: background and sprites of one line, straight into the surface.
#pragma once

#include <cstdint>

struct Screen;

// Fills line_sprites with the sprites on line, 63 down to 0, ended by 0xFF.
void select_line_sprites(std::uint8_t* image, std::uint32_t line);

// Draws one line with background colour tables of Word entries (std::uint32_t or
// std::uint64_t): both give the same pixels.
template <typename Word>
void render_scanline_in(Screen* screen, std::uint8_t* image, std::uint32_t mirroring,
                        std::uint32_t line);

// 64-bit entries on every host: measured on i386 they cost fewer host instructions and give
// more frames a second than 32-bit ones, even without SSE2, where each is copied in two halves.
using RendererWord = std::uint64_t;

#if defined(__i386__) && !defined(__SSE2__)
// i386 programs are built for the i686, which has no SSE2, but nearly every 32-bit x86 processor
// in use has it, and with it the 64-bit entries move whole. The renderer is built twice, and the
// first line drawn picks the build this processor runs; both give the same pixels.
#define QUENRIK_RENDERER_SSE2 1
void render_scanline_baseline(Screen* screen, std::uint8_t* image, std::uint32_t mirroring,
                              std::uint32_t line);
void render_scanline_sse2(Screen* screen, std::uint8_t* image, std::uint32_t mirroring,
                          std::uint32_t line);
void render_scanline(Screen* screen, std::uint8_t* image, std::uint32_t mirroring, std::uint32_t line);
#else
inline void render_scanline(Screen* screen, std::uint8_t* image, std::uint32_t mirroring,
                            std::uint32_t line) {
    render_scanline_in<RendererWord>(screen, image, mirroring, line);
}
#endif
