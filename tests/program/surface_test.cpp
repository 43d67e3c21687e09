// Colour table, colour mapping by the surface's format, pixel writes and their range message.
#include <algorithm>
#include <string>
#include <vector>

#include "ppu/picture_fixture.h"

namespace {

using Surface = PictureTest;

void expect_rgb(std::uint8_t index, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    EXPECT_EQ(rgb_palette[index][0], r) << "index " << int(index);
    EXPECT_EQ(rgb_palette[index][1], g) << "index " << int(index);
    EXPECT_EQ(rgb_palette[index][2], b) << "index " << int(index);
}

TEST(RgbPalette, EntriesAcrossTheTable) {
    expect_rgb(0x00, 128, 128, 128);
    expect_rgb(0x01, 0, 0, 187);
    expect_rgb(0x08, 123, 43, 0);
    expect_rgb(0x0C, 0, 47, 102);
    expect_rgb(0x0D, 0, 0, 0);
    expect_rgb(0x0E, 5, 5, 5);
    expect_rgb(0x0F, 5, 5, 5);
    expect_rgb(0x10, 200, 200, 200);
    expect_rgb(0x16, 255, 55, 26);
    expect_rgb(0x1B, 0, 149, 102);
    expect_rgb(0x1D, 17, 17, 17);
    expect_rgb(0x20, 255, 255, 255);
    expect_rgb(0x23, 213, 111, 255);
    expect_rgb(0x2B, 77, 213, 174);
    expect_rgb(0x2D, 102, 102, 102);
    expect_rgb(0x30, 255, 255, 255);
    expect_rgb(0x37, 255, 204, 174);
    expect_rgb(0x39, 204, 225, 153);
    expect_rgb(0x3C, 179, 238, 255);
    expect_rgb(0x3D, 221, 221, 221);
    expect_rgb(0x3F, 17, 17, 17);
}

TEST_F(Surface, ColoursAreMappedByTheSurfaceFormat) {
    EXPECT_EQ(map_rgb(surface, 255, 55, 26), 0xF9A3u);  // 11111 001101 00011
    EXPECT_EQ(map_rgb(surface, 0, 0, 0), 0x0000u);
    EXPECT_EQ(surface_colours(surface)[0x16], 0xF9A3u);
    for (std::uint8_t i = 0; i < 64; ++i) EXPECT_EQ(surface_colours(surface)[i], rgb565(i)) << int(i);

    // Another layout (15-bit, blue high) gets its own mapping, also through the cache.
    SDL_Surface* other = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0x001F, 0x03E0, 0x7C00, 0);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(map_rgb(other, 255, 55, 26), 0x0CDFu);  // 00011 00110 11111
    EXPECT_EQ(surface_colours(other)[0x16], 0x0CDFu);
    EXPECT_EQ(surface_colours(surface)[0x16], 0xF9A3u);
    SDL_FreeSurface(other);
}

TEST_F(Surface, ColourCacheFollowsAReplacedSurface) {
    EXPECT_EQ(surface_colours(surface)[0x16], 0xF9A3u);
    SDL_FreeSurface(surface);
    // The allocator may well hand back the same addresses for a surface of another format.
    surface = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0x001F, 0x03E0, 0x7C00, 0);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface_colours(surface)[0x16], 0x0CDFu);
}

// A surface freed and made again can come back at the same addresses, its format too, with the
// same colour masks and another alpha mask, which SDL_MapRGB ORs into every value. The format
// is changed in place here, as such a reuse would leave it: the colours must be mapped again.
TEST(SurfaceColours, FollowEveryFieldOfTheFormat) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0x0F00, 0x00F0, 0x000F, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(surface_colours(s)[0x20], 0x0FFFu);
    const std::uint64_t mappings = surface_colour_mappings();
    s->format->Amask = 0xF000;  // as SDL_AllocFormat makes a 4444 format with alpha
    s->format->Ashift = 12;
    s->format->Aloss = 4;
    const std::uint32_t* colours = surface_colours(s);
    EXPECT_EQ(surface_colour_mappings(), mappings + 1);
    EXPECT_EQ(colours[0x20], 0xFFFFu);
    for (std::uint32_t i = 0; i < 64; ++i)
        EXPECT_EQ(colours[i], SDL_MapRGB(s->format, rgb_palette[i][0], rgb_palette[i][1], rgb_palette[i][2])) << i;
    s->format->Rloss = 5;  // any other field too
    EXPECT_NE(surface_colours(s)[0x20], 0xFFFFu);
    SDL_FreeSurface(s);
}

TEST_F(Surface, PicturePixelsLandThirtyTwoColumnsRight) {
    const std::string out = capture_stdout([&] {
        put_picture_pixel(surface, 0, 0, 0x1111);
        put_picture_pixel(surface, 255, 239, 0xABCD2222);  // low 16 bits only
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(surface_pixel(32, 0), 0x1111);
    EXPECT_EQ(surface_pixel(287, 239), 0x2222);
    EXPECT_EQ(surface_pixel(31, 0), sentinel);
    EXPECT_EQ(surface_pixel(288, 239), sentinel);

    put_pixel(surface, 319, 5, 0x3333);
    EXPECT_EQ(surface_pixel(319, 5), 0x3333);
    put_pixel(surface, 320, 5, 0x4444);  // off the surface: ignored
    put_pixel(surface, 0, 240, 0x4444);
    EXPECT_EQ(surface_pixel(0, 6), sentinel);
}

TEST_F(Surface, OutOfRangePicturePixels) {
    const std::vector<std::uint8_t> before(static_cast<std::uint8_t*>(surface->pixels),
                                           static_cast<std::uint8_t*>(surface->pixels) + 240 * surface->pitch);
    auto unchanged = [&] {
        return std::equal(before.begin(), before.end(), static_cast<std::uint8_t*>(surface->pixels));
    };

    // Accepted coordinates whose row is off the surface: no message, no write.
    EXPECT_EQ(capture_stdout([&] { put_picture_pixel(surface, 256, 240, 0x5555); }), "");
    EXPECT_TRUE(unchanged());

    // Out of range: the message, with no line end, once per pixel.
    const char* message = "Se kiere pintar fuera de rango";
    EXPECT_EQ(capture_stdout([&] { put_picture_pixel(surface, 10, 241, 0x5555); }), message);
    EXPECT_EQ(capture_stdout([&] { put_picture_pixel(surface, 10, -1, 0x5555); }), message);
    EXPECT_EQ(capture_stdout([&] { put_picture_pixel(surface, 300, 10, 0x5555); }), message);
    EXPECT_EQ(capture_stdout([&] { put_picture_pixel(surface, 0xFFFFFFF0u, 10, 0x5555); }), message);
    EXPECT_EQ(capture_stdout([&] {
                  put_picture_pixel(surface, 10, 300, 0x5555);
                  put_picture_pixel(surface, 10, 301, 0x5555);
              }),
              std::string(message) + message);
    EXPECT_TRUE(unchanged());

    // Column 257 is out of range but still lies on the surface, at column 289.
    EXPECT_EQ(capture_stdout([&] { put_picture_pixel(surface, 257, 3, 0x5555); }), message);
    EXPECT_EQ(surface_pixel(289, 3), 0x5555);
    // Column 256 is accepted silently and lands at 288.
    EXPECT_EQ(capture_stdout([&] { put_picture_pixel(surface, 256, 3, 0x6666); }), "");
    EXPECT_EQ(surface_pixel(288, 3), 0x6666);
}

TEST_F(Surface, PixelWritesLockSurfacesThatNeedIt) {
    // Run-length acceleration makes SDL require a lock; the encoding happens at the first blit.
    SDL_SetColorKey(surface, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0xFFFF);
    SDL_Surface* target = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0xF800, 0x07E0, 0x001F, 0);
    SDL_BlitSurface(surface, nullptr, target, nullptr);
    SDL_FreeSurface(target);
    ASSERT_TRUE(SDL_MUSTLOCK(surface));
    put_picture_pixel(surface, 10, 20, 0x7777);
    EXPECT_EQ(surface->locked, 0u);
    SDL_LockSurface(surface);
    EXPECT_EQ(surface_pixel(42, 20), 0x7777);
    EXPECT_EQ(surface_pixel(43, 20), sentinel);
    SDL_UnlockSurface(surface);
}

TEST_F(Surface, SurfacesWithoutSixteenBitPixelsAreLeftAlone) {
    // 8-bit rows are half as long: a 16-bit write there would run past the pixels.
    SDL_Surface* narrow = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 8, 0, 0, 0, 0);
    ASSERT_NE(narrow, nullptr);
    std::memset(narrow->pixels, 0x5A, static_cast<std::size_t>(narrow->pitch) * 240);
    put_pixel(narrow, 319, 239, 0xFFFF);
    put_picture_pixel(narrow, 255, 239, 0xFFFF);
    image[ppu_mask] = 0x18;
    render_scanline(screen_of(narrow), image, 0, 239);
    for (int i = 0; i < narrow->pitch * 240; ++i)
        ASSERT_EQ(static_cast<std::uint8_t*>(narrow->pixels)[i], 0x5A) << i;
    SDL_FreeSurface(narrow);
}

}  // namespace
