// The renderer from line to line: palette changes between lines, and the background values a
// behind-background sprite sees under a scroll that is not a multiple of 8.
#include "ppu/picture_fixture.h"

namespace {

using RendererLines = PictureTest;

TEST_F(RendererLines, PaletteWritesBetweenLinesShowFromTheNextLine) {
    show(true, true);
    fill_table(A, 4, 0b01010101);      // columns 0,1,2,3,0,1,2,3 in palette 1 everywhere
    set_sprite(7, 9, 1, 0x02, 100);    // solid value 1, sprite palette 2, lines 10-17
    for (std::uint32_t line = 10; line < 13; ++line) {
        if (line == 11) {
            image[0x13F00] = 0x30;     // backdrop
            image[0x13F05] = 0x21;     // background palette 1, value 1
            image[0x13F19] = 0x0F;     // sprite palette 2, value 1
        }
        if (line == 12) {
            image[0x13F00] = universal;
            image[0x13F05] = background_palettes[1][0];
            image[0x13F19] = sprite_palettes[2][0];
        }
        render(line);
    }
    for (int line : {10, 12}) {
        EXPECT_EQ(picture(0, line), backdrop()) << line;
        EXPECT_EQ(picture(1, line), bg(1, 1)) << line;
        EXPECT_EQ(picture(2, line), bg(1, 2)) << line;
        EXPECT_EQ(picture(100, line), spr(2, 1)) << line;
    }
    EXPECT_EQ(picture(0, 11), rgb565(0x30));
    EXPECT_EQ(picture(1, 11), rgb565(0x21));
    EXPECT_EQ(picture(2, 11), bg(1, 2));
    EXPECT_EQ(picture(100, 11), rgb565(0x0F));
}

TEST_F(RendererLines, BehindSpriteUnderAFineScrollSeesTheValueUnderEachColumn) {
    show(true, true);
    fill_table(A, 4, 0x00);            // every tile: 0,1,2,3,0,1,2,3
    set_scroll(3, 0);
    set_sprite(2, 0, 1, 0x20, 0);      // solid value 1, palette 0, behind, columns 0-7
    set_sprite(3, 0, 1, 0x20, 250);    // columns 250-255: nx 253-258, across the table edge
    render(1);
    // Column x shows name table column x + 3: the sprite only where that value is 0.
    for (int x = 0; x < 8; ++x) {
        const int value = (x + 3) % 4;
        EXPECT_EQ(picture(x, 1), value == 0 ? spr(0, 1) : bg(0, value)) << x;
    }
    for (int x = 250; x < 256; ++x) {
        const int value = (x + 3) % 4;
        EXPECT_EQ(picture(x, 1), value == 0 ? spr(0, 1) : bg(0, value)) << x;
    }
}

}  // namespace
