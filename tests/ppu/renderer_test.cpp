// The scanline renderer drawing prepared images into a real RGB565 software surface.
#include <vector>

#include "ppu/picture_fixture.h"

namespace {

using Renderer = PictureTest;

std::vector<std::uint8_t> line_sprite_list(const std::uint8_t* image) {
    std::vector<std::uint8_t> list;
    for (std::uint32_t i = 0; i < 65; ++i) {
        list.push_back(image[priv::line_sprites + i]);
        if (image[priv::line_sprites + i] == 0xFF) break;
    }
    return list;
}

// ---- Background ----------------------------------------------------------------------------

TEST_F(Renderer, BackgroundTilesTakeThePaletteOfTheirAttributeQuarter) {
    show(true, false);
    fill_table(A, 1, 0x00);
    set_attribute(A, 0, 0b11100100);  // upper left 0, upper right 1, lower left 2, lower right 3
    set_attribute(A, 9, 0b00000011);  // block column 1, block row 1: upper left 3
    for (std::uint32_t line = 0; line < 64; ++line) render(line);

    EXPECT_EQ(picture(0, 0), bg(0, 1));
    EXPECT_EQ(picture(15, 15), bg(0, 1));
    EXPECT_EQ(picture(16, 0), bg(1, 1));
    EXPECT_EQ(picture(31, 15), bg(1, 1));
    EXPECT_EQ(picture(0, 16), bg(2, 1));
    EXPECT_EQ(picture(15, 31), bg(2, 1));
    EXPECT_EQ(picture(16, 16), bg(3, 1));
    EXPECT_EQ(picture(31, 31), bg(3, 1));
    EXPECT_EQ(picture(32, 0), bg(0, 1));   // attribute byte 1
    EXPECT_EQ(picture(32, 32), bg(3, 1));  // attribute byte 9
    EXPECT_EQ(picture(47, 47), bg(3, 1));
    EXPECT_EQ(picture(48, 32), bg(0, 1));
    EXPECT_EQ(picture(32, 48), bg(0, 1));
}

TEST_F(Renderer, PatternBitsRowsAndPatternTableBase) {
    show(true, false);
    fill_table(A, 0, 0x00);
    set_name(A, 2, 1, 4);  // columns 16-23, lines 8-15
    set_name(A, 3, 2, 5);  // columns 24-31, lines 16-23
    for (std::uint32_t line = 0; line < 24; ++line) render(line);

    const int values[8] = {0, 1, 2, 3, 0, 1, 2, 3};
    for (int column = 0; column < 8; ++column) {
        EXPECT_EQ(picture(16 + column, 8), bg(0, values[column])) << column;
        EXPECT_EQ(picture(16 + column, 15), bg(0, values[column])) << column;
    }
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 8; ++column)
            EXPECT_EQ(picture(24 + column, 16 + row), bg(0, row == column ? 1 : 0)) << row << "," << column;
    EXPECT_EQ(picture(16, 7), backdrop());

    // Bit 4 of the control register moves the background to the pattern table at 0x1000.
    image[ppu_control] = 0x10;
    for (std::uint32_t row = 0; row < 8; ++row) set_tile_row(0x1000, 4, row, 0xFF, 0xFF);
    render(8);
    EXPECT_EQ(picture(16, 8), bg(0, 3));
    EXPECT_EQ(picture(23, 8), bg(0, 3));
}

TEST_F(Renderer, ScrollBy8TakesTheLastColumnsFromTheNeighbourTable) {
    show(true, false);
    set_scroll(8, 0);
    for (std::uint32_t mode : {0u, 1u}) {
        mirroring = mode;
        fill_table(A, 1, 0x00);  // palette 0
        fill_table(B, 1, 0x55);  // palette 1
        set_name(A, 0, 0, 3);
        set_name(A, 1, 0, 2);
        set_name(B, 0, 0, 3);
        image[ppu_control] = 0x00;  // table 0x2000
        render(0);
        for (int x = 0; x < 8; ++x) EXPECT_EQ(picture(x, 0), bg(0, 2)) << mode << " " << x;
        EXPECT_EQ(picture(8, 0), bg(0, 1));
        EXPECT_EQ(picture(247, 0), bg(0, 1));
        // 0x2400 is table B with vertical mirroring, table A again with horizontal.
        const std::uint16_t right = mode == 1 ? bg(1, 3) : bg(0, 3);
        for (int x = 248; x < 256; ++x) EXPECT_EQ(picture(x, 0), right) << mode << " " << x;

        // From 0x2C00 the neighbour is 0x2800: table A (vertical) or B (horizontal).
        set_name(B, 1, 0, 2);
        image[ppu_control] = 0x03;
        render(0);
        EXPECT_EQ(picture(0, 0), bg(1, 2)) << mode;
        EXPECT_EQ(picture(247, 0), bg(1, 1)) << mode;
        EXPECT_EQ(picture(248, 0), mode == 1 ? bg(0, 3) : bg(1, 3)) << mode;
    }
}

TEST_F(Renderer, ScrollBy3StartsWithTheTileAndAttributeUnderColumn0) {
    show(true, false);
    set_scroll(3, 0);
    for (std::uint32_t mode : {0u, 1u}) {
        mirroring = mode;
        fill_table(A, 1, 0x00);
        fill_table(B, 1, 0x55);
        set_name(A, 0, 0, 4);          // 0,1,2,3,0,1,2,3
        set_name(A, 1, 0, 2);
        set_attribute(A, 0, 0b10);     // upper left quarter: palette 2
        set_name(B, 0, 0, 4);
        render(0);
        // Columns 0-4 are pixels 3-7 of tile column 0 with the attribute of its quarter.
        EXPECT_EQ(picture(0, 0), bg(2, 3)) << mode;
        EXPECT_EQ(picture(1, 0), bg(2, 0)) << mode;
        EXPECT_EQ(picture(2, 0), bg(2, 1)) << mode;
        EXPECT_EQ(picture(3, 0), bg(2, 2)) << mode;
        EXPECT_EQ(picture(4, 0), bg(2, 3)) << mode;
        for (int x = 5; x < 13; ++x) EXPECT_EQ(picture(x, 0), bg(2, 2)) << mode << " " << x;
        EXPECT_EQ(picture(13, 0), bg(0, 1)) << mode;  // nx 16: upper right quarter
        EXPECT_EQ(picture(252, 0), bg(0, 1)) << mode;  // nx 255
        // Columns 253-255 are pixels 0-2 of tile column 0 of 0x2400.
        if (mode == 1) {
            EXPECT_EQ(picture(253, 0), backdrop());
            EXPECT_EQ(picture(254, 0), bg(1, 1));
            EXPECT_EQ(picture(255, 0), bg(1, 2));
        } else {
            EXPECT_EQ(picture(253, 0), backdrop());
            EXPECT_EQ(picture(254, 0), bg(2, 1));
            EXPECT_EQ(picture(255, 0), bg(2, 2));
        }
    }
}

TEST_F(Renderer, VerticalScrollPast240UsesTheTableBelow) {
    show(true, false);
    set_scroll(0, 16);
    for (std::uint32_t mode : {0u, 1u}) {
        mirroring = mode;
        fill_table(A, 0, 0x00);
        fill_table(B, 0, 0x55);
        for (std::uint32_t column = 0; column < 32; ++column) {
            set_name(A, column, 29, 5);  // diagonal on the last tile row of A
            set_name(A, column, 0, 4);
            set_name(B, column, 0, 5);
        }
        // Line 223 + 16 = 239: row 239 of table 0x2000, the last pixel row of tile row 29.
        render(223);
        EXPECT_EQ(picture(7, 223), bg(0, 1)) << mode;
        EXPECT_EQ(picture(6, 223), backdrop()) << mode;
        // Line 230 + 16 = 246: row 6 of 0x2800, which is B (horizontal) or A (vertical).
        render(230);
        if (mode == 0) {
            EXPECT_EQ(picture(6, 230), bg(1, 1));
            EXPECT_EQ(picture(14, 230), bg(1, 1));
            EXPECT_EQ(picture(7, 230), backdrop());
        } else {
            EXPECT_EQ(picture(1, 230), bg(0, 1));
            EXPECT_EQ(picture(3, 230), bg(0, 3));
            EXPECT_EQ(picture(6, 230), bg(0, 2));
        }
    }
}

TEST_F(Renderer, HiddenBackgroundShowsTheBackdropColour) {
    show(false, false);
    fill_table(A, 3, 0xFF);
    render(100);
    for (int x = 0; x < 256; ++x) ASSERT_EQ(picture(x, 100), backdrop()) << x;
}

// ---- Sprites -------------------------------------------------------------------------------

TEST_F(Renderer, SpritesFlipHorizontallyAndVertically) {
    show(false, true);
    set_sprite(1, 9, 6, 0x00, 40);
    set_sprite(2, 9, 6, 0x41, 60);   // horizontal flip, palette 1
    set_sprite(3, 9, 6, 0x82, 80);   // vertical flip, palette 2
    set_sprite(4, 9, 6, 0xC3, 100);  // both, palette 3
    for (std::uint32_t line = 9; line <= 18; ++line) render(line);

    EXPECT_EQ(picture(40, 10), spr(0, 3));
    EXPECT_EQ(picture(41, 10), spr(0, 1));
    EXPECT_EQ(picture(42, 10), backdrop());
    EXPECT_EQ(picture(40, 11), spr(0, 2));
    EXPECT_EQ(picture(41, 11), backdrop());

    EXPECT_EQ(picture(67, 10), spr(1, 3));
    EXPECT_EQ(picture(66, 10), spr(1, 1));
    EXPECT_EQ(picture(60, 10), backdrop());
    EXPECT_EQ(picture(67, 11), spr(1, 2));

    EXPECT_EQ(picture(80, 17), spr(2, 3));
    EXPECT_EQ(picture(81, 17), spr(2, 1));
    EXPECT_EQ(picture(80, 16), spr(2, 2));
    EXPECT_EQ(picture(80, 10), backdrop());

    EXPECT_EQ(picture(107, 17), spr(3, 3));
    EXPECT_EQ(picture(106, 17), spr(3, 1));
    EXPECT_EQ(picture(107, 16), spr(3, 2));
    EXPECT_EQ(picture(100, 17), backdrop());

    // Lines Y and Y + 9 are outside the sprites.
    for (int x : {40, 67, 80, 107}) {
        EXPECT_EQ(picture(x, 9), backdrop()) << x;
        EXPECT_EQ(picture(x, 18), backdrop()) << x;
    }

    // Bit 3 of the control register moves sprites to the pattern table at 0x1000.
    image[ppu_control] = 0x08;
    for (std::uint32_t row = 0; row < 8; ++row) set_tile_row(0x1000, 6, row, 0xFF, 0x00);
    render(12);
    for (int x = 40; x < 48; ++x) EXPECT_EQ(picture(x, 12), spr(0, 1)) << x;
}

TEST_F(Renderer, HighestNumberedSpriteOwnsTheColumn) {
    show(true, true);
    fill_table(A, 1, 0x00);
    set_sprite(3, 19, 2, 0x00, 50);   // solid value 2, palette 0, columns 50-57
    set_sprite(10, 19, 4, 0x01, 54);  // 0,1,2,3,0,1,2,3, palette 1, columns 54-61
    render(20);
    for (int x = 50; x < 54; ++x) EXPECT_EQ(picture(x, 20), spr(0, 2)) << x;
    // Where sprite 10 is transparent the background shows, not sprite 3.
    EXPECT_EQ(picture(54, 20), bg(0, 1));
    EXPECT_EQ(picture(55, 20), spr(1, 1));
    EXPECT_EQ(picture(56, 20), spr(1, 2));
    EXPECT_EQ(picture(57, 20), spr(1, 3));
    EXPECT_EQ(picture(58, 20), bg(0, 1));
    EXPECT_EQ(picture(61, 20), spr(1, 3));
    EXPECT_EQ(picture(62, 20), bg(0, 1));

    // Swapped numbers: sprite 10 now covers 50-57 whole, sprite 3 only shows from 58.
    set_sprite(10, 19, 2, 0x00, 50);
    set_sprite(3, 19, 4, 0x01, 54);
    render(20);
    for (int x = 50; x < 58; ++x) EXPECT_EQ(picture(x, 20), spr(0, 2)) << x;
    EXPECT_EQ(picture(58, 20), bg(0, 1));
    EXPECT_EQ(picture(59, 20), spr(1, 1));
}

TEST_F(Renderer, BehindBackgroundSpritesShowOnlyOverValueZero) {
    fill_table(A, 0, 0x00);
    set_name(A, 10, 3, 4);            // columns 80-87 of lines 24-31: 0,1,2,3,0,1,2,3
    set_attribute(A, 2, 0b11000000);  // its lower right quarter: palette 3
    set_sprite(5, 29, 1, 0x21, 80);   // solid value 1, palette 1, behind

    show(true, true);
    render(30);
    EXPECT_EQ(picture(80, 30), spr(1, 1));
    EXPECT_EQ(picture(81, 30), bg(3, 1));
    EXPECT_EQ(picture(82, 30), bg(3, 2));
    EXPECT_EQ(picture(83, 30), bg(3, 3));
    EXPECT_EQ(picture(84, 30), spr(1, 1));
    EXPECT_EQ(picture(87, 30), bg(3, 3));

    // A transparent pixel of a behind sprite over value 0 leaves the backdrop.
    set_sprite(5, 29, 4, 0x21, 80);
    render(30);
    EXPECT_EQ(picture(80, 30), backdrop());
    EXPECT_EQ(picture(81, 30), bg(3, 1));

    // With the background hidden a behind sprite shows everywhere it is opaque.
    set_sprite(5, 29, 1, 0x21, 80);
    show(false, true);
    render(30);
    for (int x = 80; x < 88; ++x) EXPECT_EQ(picture(x, 30), spr(1, 1)) << x;

    // In front it covers the background.
    set_sprite(5, 29, 1, 0x01, 80);
    show(true, true);
    render(30);
    for (int x = 80; x < 88; ++x) EXPECT_EQ(picture(x, 30), spr(1, 1)) << x;
}

TEST_F(Renderer, TwelveSpritesOnOneLineAreAllDrawn) {
    show(false, true);
    for (std::uint32_t i = 0; i < 12; ++i)
        set_sprite(20 + i, 99, 1, static_cast<std::uint8_t>(i % 4), static_cast<std::uint8_t>(20 * i));
    render(100);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(picture(20 * i, 100), spr(i % 4, 1)) << i;
        EXPECT_EQ(picture(20 * i + 7, 100), spr(i % 4, 1)) << i;
        EXPECT_EQ(picture(20 * i + 8, 100), backdrop()) << i;
    }
    const std::vector<std::uint8_t> expected = {31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 0xFF};
    EXPECT_EQ(line_sprite_list(image), expected);
}

TEST_F(Renderer, SpriteListRangesAndHiddenSprites) {
    show(false, true);
    set_sprite(7, 9, 1, 0, 0);      // lines 10-17
    set_sprite(8, 239, 1, 0, 0);    // line 240 only
    set_sprite(9, 255, 1, 0, 0);    // never: the sum does not wrap
    const std::vector<std::uint8_t> none = {0xFF}, seven = {7}, eight = {8};
    select_line_sprites(image, 9);
    EXPECT_EQ(line_sprite_list(image), none);
    select_line_sprites(image, 10);
    EXPECT_EQ(line_sprite_list(image), (std::vector<std::uint8_t>{7, 0xFF}));
    select_line_sprites(image, 17);
    EXPECT_EQ(line_sprite_list(image), (std::vector<std::uint8_t>{7, 0xFF}));
    select_line_sprites(image, 18);
    EXPECT_EQ(line_sprite_list(image), none);
    select_line_sprites(image, 239);
    EXPECT_EQ(line_sprite_list(image), none);
    select_line_sprites(image, 240);
    EXPECT_EQ(line_sprite_list(image), (std::vector<std::uint8_t>{8, 0xFF}));
    select_line_sprites(image, 0);
    EXPECT_EQ(line_sprite_list(image), none);

    // All 64 on one line fill the list to its last byte and touch nothing after it.
    for (std::uint32_t n = 0; n < 64; ++n) set_sprite(n, 49, 1, 0, 0);
    image[priv::line_sprites + 65] = 0xAB;
    select_line_sprites(image, 50);
    std::vector<std::uint8_t> all;
    for (int n = 63; n >= 0; --n) all.push_back(static_cast<std::uint8_t>(n));
    all.push_back(0xFF);
    EXPECT_EQ(line_sprite_list(image), all);
    EXPECT_EQ(image[priv::line_sprites + 65], 0xAB);

    // Sprites hidden: the list is empty and nothing is drawn, sprite 0 sets no moment.
    show(false, false);
    image[priv::sprite0_hit_cycle] = 77;
    render(50);
    EXPECT_EQ(line_sprite_list(image), none);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 0);
    EXPECT_EQ(picture(0, 50), backdrop());
}

// ---- The sprite-0 moment -------------------------------------------------------------------

TEST_F(Renderer, Sprite0MomentComesFromItsLastOwnedColumn) {
    show(false, true);
    set_sprite(0, 59, 0, 0x00, 30);  // transparent tile: still counts
    render(60);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 17);  // (37 + 16) / 3

    set_sprite(0, 59, 1, 0x00, 0);
    render(60);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 7);  // last column 7
    set_sprite(1, 59, 1, 0x00, 1);                // leaves sprite 0 column 0 only
    render(60);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 5);
    set_sprite(1, 0xFF, 0, 0x00, 0);

    set_sprite(0, 59, 1, 0x00, 250);  // columns 250-255 only
    render(60);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 90);

    // A higher sprite taking columns 34-41 leaves sprite 0 ending at 33.
    set_sprite(0, 59, 1, 0x00, 30);
    set_sprite(1, 59, 0, 0x00, 34);
    render(60);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 16);

    // Fully covered: no moment.
    set_sprite(1, 59, 0, 0x00, 30);
    render(60);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 0);

    // A line without sprite 0 starts again from 0.
    set_sprite(1, 0xFF, 0, 0x00, 30);
    render(60);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 17);
    render(70);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], 0);
}

// ---- What is never written -----------------------------------------------------------------

TEST_F(Renderer, SurfaceColumnsBesideThePictureAreNeverWritten) {
    show(true, true);
    fill_table(A, 4, 0xE4);
    fill_table(B, 3, 0x1B);
    set_scroll(3, 200);
    set_sprite(0, 20, 3, 0x40, 0);
    set_sprite(1, 100, 3, 0x80, 252);
    set_sprite(2, 200, 3, 0x20, 255);
    for (std::uint32_t mode : {0u, 1u}) {
        mirroring = mode;
        for (std::uint32_t line = 0; line <= 240; ++line) render(line);
    }
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 32; ++x) ASSERT_EQ(surface_pixel(x, y), sentinel) << x << "," << y;
        for (int x = 288; x < 320; ++x) ASSERT_EQ(surface_pixel(x, y), sentinel) << x << "," << y;
        for (int x = 32; x < 288; ++x) ASSERT_NE(surface_pixel(x, y), sentinel) << x << "," << y;
    }
}

TEST_F(Renderer, Line240WritesNothingButKeepsTheSprite0Moment) {
    show(true, true);
    fill_table(A, 3, 0x00);
    set_sprite(0, 235, 3, 0x00, 100);  // lines 236-243
    const std::vector<std::uint8_t> before(static_cast<std::uint8_t*>(surface->pixels),
                                           static_cast<std::uint8_t*>(surface->pixels) + 240 * surface->pitch);
    const std::string out = capture_stdout([&] { render(240); });
    const std::vector<std::uint8_t> after(static_cast<std::uint8_t*>(surface->pixels),
                                          static_cast<std::uint8_t*>(surface->pixels) + 240 * surface->pitch);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(before == after);
    EXPECT_EQ(image[priv::sprite0_hit_cycle], (107 + 16) / 3);
}

TEST_F(Renderer, SurfacesThatNeedLockingAreLockedAndReleased) {
    // Run-length acceleration makes SDL require a lock before pixel access.
    // The encoding happens at the first blit.
    SDL_SetColorKey(surface, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0xFFFF);
    SDL_Surface* target = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0xF800, 0x07E0, 0x001F, 0);
    SDL_BlitSurface(surface, nullptr, target, nullptr);
    SDL_FreeSurface(target);
    ASSERT_TRUE(SDL_MUSTLOCK(surface));
    show(false, false);
    render(5);
    EXPECT_EQ(surface->locked, 0u);
    SDL_LockSurface(surface);
    EXPECT_EQ(picture(0, 5), backdrop());
    EXPECT_EQ(picture(255, 5), backdrop());
    EXPECT_EQ(surface_pixel(31, 5), sentinel);
    SDL_UnlockSurface(surface);
}

}  // namespace
