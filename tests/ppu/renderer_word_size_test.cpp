// The background colour tables come in two word sizes: the program settles its tables in 64-bit
// entries on every host, and the 32-bit form is what lines whose colours change are drawn with.
// Both must draw every scene alike, pixel for pixel:
// random patterns, names, attributes, sprites and scrolls, in both mirrorings and with both
// pattern tables, and palettes that change on some lines and hold on others.
#include <cstdint>
#include <set>

#include "ppu/picture_fixture.h"

namespace {

using RendererWordSize = PictureTest;

struct Random {
    std::uint32_t state;
    std::uint8_t next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(state >> 24);
    }
};

TEST_F(RendererWordSize, BothTableWordsDrawTheSameRows) {
    SDL_Surface* wide = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0xF800, 0x07E0, 0x001F, 0);
    ASSERT_NE(wide, nullptr);
    struct Scene {
        std::uint32_t seed, mirroring;
        std::uint8_t control, scroll_x, scroll_y, mask;
        std::uint32_t palette_every;  // palette bytes rewritten every this many lines
    };
    const Scene scenes[] = {
        {1, 0, 0x00, 0, 0, 0x18, 1000},  {2, 1, 0x10, 3, 17, 0x18, 1},  {3, 0, 0x13, 255, 239, 0x18, 2},
        {4, 1, 0x09, 8, 100, 0x18, 7},   {5, 0, 0x1A, 129, 5, 0x08, 3}, {6, 1, 0x08, 77, 200, 0x1E, 1},
        {7, 0, 0x11, 250, 0, 0x10, 5},   {8, 1, 0x02, 1, 238, 0x18, 4},
    };
    for (const Scene& scene : scenes) {
        Random random{scene.seed};
        for (std::uint32_t i = 0; i < 0x2000; ++i) image[0x10000 + i] = random.next();
        for (std::uint32_t i = 0; i < 0x800; ++i) image[A + i] = random.next();
        for (std::uint32_t i = 0; i < 256; ++i) image[priv::sprite_memory + i] = random.next();
        for (std::uint32_t i = 0; i < 32; ++i) image[0x13F00 + i] = random.next() & 63;
        mirroring = scene.mirroring;
        image[ppu_control] = scene.control;
        image[ppu_mask] = scene.mask;
        set_scroll(scene.scroll_x, scene.scroll_y);
        fill_surface(sentinel);
        SDL_FillRect(wide, nullptr, sentinel);

        std::set<std::uint16_t> colours;
        for (std::uint32_t line = 0; line <= 240; ++line) {
            if (line % scene.palette_every == 0)
                for (std::uint32_t n = random.next() % 4; n-- > 0;)
                    image[0x13F00 + random.next() % 32] = random.next() & 63;
            render_scanline_in<std::uint32_t>(surface, image, mirroring, line);
            const std::uint8_t hit = image[priv::sprite0_hit_cycle];
            render_scanline_in<std::uint64_t>(wide, image, mirroring, line);
            ASSERT_EQ(image[priv::sprite0_hit_cycle], hit) << "scene " << scene.seed << " line " << line;
            if (line == 240) break;
            const auto* narrow_row = static_cast<const std::uint8_t*>(surface->pixels) + line * surface->pitch;
            const auto* wide_row = static_cast<const std::uint8_t*>(wide->pixels) + line * wide->pitch;
            ASSERT_EQ(std::memcmp(narrow_row, wide_row, 320 * sizeof(std::uint16_t)), 0)
                << "scene " << scene.seed << " line " << line;
            for (int x = 0; x < 256; ++x) colours.insert(picture(x, static_cast<int>(line)));
        }
        // Random scenes show many colours: the rows compared were really drawn.
        EXPECT_GE(colours.size(), 8u) << "scene " << scene.seed;
    }
    SDL_FreeSurface(wide);
}

}  // namespace
