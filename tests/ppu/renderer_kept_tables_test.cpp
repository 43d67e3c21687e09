// The tables the renderer keeps from line to line (the sprites of each line, the colours of the
// palettes) must follow every change made between two lines, and the columns a sprite owns
// must come out the same wherever its eight columns fall.
#include <vector>

#include "ppu/picture_fixture.h"

namespace {

using RendererKeptTables = PictureTest;

// The list as defined: sprites 63 down to 0 with Y + 1 <= line < Y + 9, the sums not wrapped.
std::vector<std::uint8_t> defined_list(const std::uint8_t* image, std::uint32_t line) {
    std::vector<std::uint8_t> list;
    if (image[ppu_mask] & 0x10)
        for (std::uint32_t n = 64; n-- > 0;) {
            const std::uint64_t top = image[priv::sprite_memory + 4 * n];
            if (top + 1 <= line && line < top + 9) list.push_back(static_cast<std::uint8_t>(n));
        }
    list.push_back(0xFF);
    return list;
}

std::vector<std::uint8_t> written_list(const std::uint8_t* image) {
    std::vector<std::uint8_t> list;
    for (std::uint32_t i = 0; i < 65; ++i) {
        list.push_back(image[priv::line_sprites + i]);
        if (list.back() == 0xFF) break;
    }
    return list;
}

TEST_F(RendererKeptTables, SpriteListsFollowSpriteMemoryChangedByteByByte) {
    std::uint32_t state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u, state >> 8; };
    const std::uint32_t lines[] = {0, 1, 8, 9, 100, 238, 239, 240, 241, 255, 256, 263, 264, 1000, 0xFFFFFFFF};
    for (std::uint32_t step = 0; step < 4000; ++step) {
        // One byte of sprite memory per step, as a sprite DMA copies it; now and then a burst
        // of Y bytes, sprites hidden, or the same value written again.
        const std::uint32_t kind = next() % 16;
        if (kind == 0) {
            image[ppu_mask] ^= 0x10;
        } else if (kind == 1) {
            for (std::uint32_t n = 0; n < 64; n += 1 + next() % 8)
                image[priv::sprite_memory + 4 * n] = static_cast<std::uint8_t>(next());
        } else {
            const std::uint32_t index = next() % 256;
            const std::uint32_t value = next();
            image[priv::sprite_memory + index] =
                static_cast<std::uint8_t>(index % 4 == 0 && value % 2 ? 230 + value % 26 : value);
        }
        const std::uint32_t line = step % 3 == 0 ? lines[next() % std::size(lines)] : next() % 241;
        select_line_sprites(image, line);
        ASSERT_EQ(written_list(image), defined_list(image, line)) << "step " << step << " line " << line;
    }
}

TEST_F(RendererKeptTables, ColoursFollowTheSurfaceWithThePaletteUnchanged) {
    show(true, true);
    fill_table(A, 1, 0x00);           // background value 1, palette 0
    set_sprite(3, 9, 2, 0x01, 100);   // sprite value 2, palette 1
    SDL_Surface* other = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0x001F, 0x03E0, 0x7C00, 0);
    ASSERT_NE(other, nullptr);
    auto mapped = [](SDL_Surface* s, std::uint8_t index) {
        const std::uint8_t* c = rgb_palette[index & 63];
        return static_cast<std::uint16_t>(SDL_MapRGB(s->format, c[0], c[1], c[2]));
    };
    auto at = [](SDL_Surface* s, int x, int y) {
        return reinterpret_cast<const std::uint16_t*>(static_cast<std::uint8_t*>(s->pixels) + y * s->pitch)[x + 32];
    };
    for (int round = 0; round < 2; ++round) {
        render(10);
        EXPECT_EQ(picture(0, 10), bg(0, 1)) << round;
        EXPECT_EQ(picture(100, 10), spr(1, 2)) << round;
        render_scanline(screen_of(other), image, mirroring, 10);
        EXPECT_EQ(at(other, 0, 10), mapped(other, background_palettes[0][0])) << round;
        EXPECT_EQ(at(other, 100, 10), mapped(other, sprite_palettes[1][1])) << round;
        EXPECT_NE(mapped(other, background_palettes[0][0]), bg(0, 1));
    }
    SDL_FreeSurface(other);
}

TEST_F(RendererKeptTables, BackgroundColoursFollowPaletteWritesHeldForAnyNumberOfLines) {
    // Every column shows the colour its palette bytes give on that line: changes held for one
    // line or several, the backdrop, a byte whose new colour is the same as the old one
    // (0x0E and 0x0F are alike), and a change undone.
    show(true, false);
    fill_table(A, 4, 0xE4);  // values 0,1,2,3,...; palettes 0, 1 above, 2, 3 below in each block
    struct Write {
        std::uint32_t line, entry;
        std::uint8_t value;
    };
    const Write writes[] = {{3, 0x01, 0x30}, {4, 0x01, 0x21}, {5, 0x0E, 0x0F}, {8, 0x0E, 0x0E},
                            {9, 0x00, 0x15}, {10, 0x00, 0x0D}, {11, 0x07, 0x3A}, {11, 0x0B, 0x12},
                            {12, 0x0F, 0x2C}, {16, 0x00, 0x30}, {17, 0x09, 0x0F}, {20, 0x05, 0x27},
                            {21, 0x05, 0x1A}, {22, 0x05, 0x27}, {30, 0x03, 0x01}};
    for (std::uint32_t line = 0; line < 40; ++line) {
        for (const Write& write : writes)
            if (write.line == line) image[0x13F00 + write.entry] = write.value;
        render(line);
        for (std::uint32_t x = 0; x < 256; ++x) {
            const std::uint32_t palette = (line % 32 >= 16 ? 2 : 0) + (x % 32 >= 16 ? 1 : 0);
            const std::uint32_t value = x % 4;
            const std::uint8_t index = image[0x13F00 + (value == 0 ? 0 : palette * 4 + value)];
            ASSERT_EQ(picture(static_cast<int>(x), static_cast<int>(line)), rgb565(index)) << line << " " << x;
        }
    }
}

TEST_F(RendererKeptTables, OverlappingSpritesAnywhereOnTheLine) {
    // A higher-numbered sprite at X and sprite 0 k columns right or left of it, for X on both
    // sides of every 64-column boundary and at the right edge. The owner shows tile 4 (values
    // 0,1,2,3,0,1,2,3), so its transparent columns show the background, not sprite 0 (solid 3).
    show(true, true);
    fill_table(A, 1, 0x00);
    const int starts[] = {0, 7, 55, 57, 60, 63, 64, 71, 119, 121, 124, 127, 183, 185, 188, 191, 240, 248, 250, 255};
    for (int x : starts)
        for (int k : {-8, -7, -5, -1, 1, 2, 3, 6, 7, 8}) {
            const int second = x + k;  // sprite 0's first column
            const bool listed = second >= 0 && second <= 255;
            set_sprite(9, 39, 4, 0x01, static_cast<std::uint8_t>(x));
            set_sprite(0, listed ? 39 : 0xFF, 3, 0x02, static_cast<std::uint8_t>(second));
            render(40);
            int last_owned = -1;  // of sprite 0
            for (int column = std::max(0, x - 8); column < 256 && column < x + 16; ++column) {
                std::uint16_t expected = bg(0, 1);
                if (column >= x && column < x + 8) {
                    const int value = (column - x) % 4;
                    if (value != 0) expected = spr(1, value);
                } else if (listed && column >= second && column < second + 8) {
                    expected = spr(2, 3);
                    last_owned = column;
                }
                ASSERT_EQ(picture(column, 40), expected) << x << " " << k << " " << column;
            }
            const std::uint8_t moment = last_owned >= 0 ? static_cast<std::uint8_t>((last_owned + 16) / 3) : 0;
            EXPECT_EQ(image[priv::sprite0_hit_cycle], moment) << x << " " << k;
        }
}

}  // namespace
