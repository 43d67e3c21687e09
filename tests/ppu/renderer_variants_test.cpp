// The renderer is built in more than one form, and every form must draw every scene alike,
// pixel for pixel: the background colour tables in 32-bit entries (what lines whose colours
// change are drawn with) and in 64-bit ones (what the program settles its tables in), and on
// i386 the build for the i686 baseline and the one for SSE2 processors.
// Random patterns, names, attributes, sprites and scrolls, in both mirrorings and with both
// pattern tables, and palettes that change on some lines and hold on others.
#include <cstdint>
#include <set>
#include <vector>

#include "ppu/picture_fixture.h"

namespace {

using RendererVariants = PictureTest;

using Render = void (*)(Screen*, std::uint8_t*, std::uint32_t, std::uint32_t);
struct Variants {
    const char* name;
    Render first, second;
};

std::vector<Variants> variants() {
    std::vector<Variants> all = {{"32-bit and 64-bit entries", render_scanline_in<std::uint32_t>,
                                  render_scanline_in<std::uint64_t>}};
#ifdef QUENRIK_RENDERER_SSE2
    all.push_back({"i686 and SSE2 builds", render_scanline_baseline, render_scanline_sse2});
#endif
    return all;
}

struct Random {
    std::uint32_t state;
    std::uint8_t next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(state >> 24);
    }
};

TEST_F(RendererVariants, EveryFormDrawsTheSameRows) {
    SDL_Surface* other = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0xF800, 0x07E0, 0x001F, 0);
    ASSERT_NE(other, nullptr);
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
    for (const Variants& pair : variants()) for (const Scene& scene : scenes) {
        SCOPED_TRACE(pair.name);
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
        SDL_FillRect(other, nullptr, sentinel);

        std::set<std::uint16_t> colours;
        for (std::uint32_t line = 0; line <= 240; ++line) {
            if (line % scene.palette_every == 0)
                for (std::uint32_t n = random.next() % 4; n-- > 0;)
                    image[0x13F00 + random.next() % 32] = random.next() & 63;
            // The forms share the sprite lists (and the SSE2 build every cache): each goes first
            // on every other line, so each makes them anew for some lines.
            std::uint8_t hit[2];
            for (std::uint32_t turn = 0; turn < 2; ++turn) {
                const std::uint32_t form = (turn + line) % 2;
                (form == 0 ? pair.first : pair.second)(screen_of(form == 0 ? surface : other), image, mirroring, line);
                hit[form] = image[priv::sprite0_hit_cycle];
            }
            ASSERT_EQ(hit[0], hit[1]) << "scene " << scene.seed << " line " << line;
            if (line == 240) break;
            const auto* first_row = static_cast<const std::uint8_t*>(surface->pixels) + line * surface->pitch;
            const auto* second_row = static_cast<const std::uint8_t*>(other->pixels) + line * other->pitch;
            ASSERT_EQ(std::memcmp(first_row, second_row, 320 * sizeof(std::uint16_t)), 0)
                << "scene " << scene.seed << " line " << line;
            for (int x = 0; x < 256; ++x) colours.insert(picture(x, static_cast<int>(line)));
        }
        // Random scenes show many colours: the rows compared were really drawn.
        EXPECT_GE(colours.size(), 8u) << "scene " << scene.seed;
    }
    SDL_FreeSurface(other);
}

}  // namespace
