// A prepared machine and a 320x240 RGB565 software surface for the picture tests.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include "ppu/renderer.h"
#include "program/surface.h"
#include "ppu/palette.h"
#include "support/test_support.h"

// RGB565 of a colour index, composed here by hand so that the mapping is checked too.
inline std::uint16_t rgb565(std::uint8_t index) {
    const std::uint8_t* c = rgb_palette[index & 63];
    return static_cast<std::uint16_t>(((c[0] >> 3) << 11) | ((c[1] >> 2) << 5) | (c[2] >> 3));
}

// Physical nametables: A at PPU 0x2000, B at PPU 0x2400. Horizontal mirroring shows A as
// 0x2000/0x2400 and B as 0x2800/0x2C00; vertical shows A as 0x2000/0x2800 and B as 0x2400/0x2C00.
enum Table : std::uint32_t { A = 0x12000, B = 0x12400 };

class PictureTest : public ::testing::Test {
protected:
    static constexpr std::uint16_t sentinel = 0x1234;
    static constexpr std::uint8_t universal = 0x0D;
    // Colour indices of palette entries 1-3 of the four background and four sprite palettes.
    static constexpr std::uint8_t background_palettes[4][3] = {
        {0x16, 0x2A, 0x12}, {0x27, 0x1A, 0x02}, {0x20, 0x14, 0x0C}, {0x38, 0x03, 0x11}};
    static constexpr std::uint8_t sprite_palettes[4][3] = {
        {0x06, 0x09, 0x25}, {0x31, 0x3B, 0x08}, {0x36, 0x1C, 0x01}, {0x24, 0x2C, 0x19}};

    TestMachine machine;
    std::uint8_t* image = machine.image();
    SDL_Surface* surface = nullptr;
    std::uint32_t mirroring = 0;

    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        surface = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 16, 0xF800, 0x07E0, 0x001F, 0);
        ASSERT_NE(surface, nullptr);
        fill_surface(sentinel);

        image[0x13F00] = universal;
        std::set<std::uint16_t> seen{rgb565(universal), sentinel};
        for (std::uint32_t p = 0; p < 4; ++p)
            for (std::uint32_t v = 1; v < 4; ++v) {
                image[0x13F00 + p * 4 + v] = background_palettes[p][v - 1];
                image[0x13F10 + p * 4 + v] = sprite_palettes[p][v - 1];
                seen.insert(rgb565(background_palettes[p][v - 1]));
                seen.insert(rgb565(sprite_palettes[p][v - 1]));
            }
        ASSERT_EQ(seen.size(), 26u) << "test colours must be told apart";

        // Pattern table 0x0000: tile 0 empty, 1-3 solid values 1-3, 4 columns 0,1,2,3,0,1,2,3,
        // 5 a diagonal (row r lit at column r), 6 an asymmetric sprite shape.
        for (std::uint32_t row = 0; row < 8; ++row) {
            set_tile_row(0x0000, 1, row, 0xFF, 0x00);
            set_tile_row(0x0000, 2, row, 0x00, 0xFF);
            set_tile_row(0x0000, 3, row, 0xFF, 0xFF);
            set_tile_row(0x0000, 4, row, 0x55, 0x33);
            set_tile_row(0x0000, 5, row, static_cast<std::uint8_t>(0x80 >> row), 0x00);
        }
        // Tile 6: row 0 is 3,1 at columns 0,1; row 1 is 2 at column 0; the rest transparent.
        set_tile_row(0x0000, 6, 0, 0xC0, 0x80);
        set_tile_row(0x0000, 6, 1, 0x00, 0x80);

        // Start-up leaves every sprite at Y 0 (lines 1-8); park them below the picture instead.
        for (std::uint32_t n = 0; n < 64; ++n) image[priv::sprite_memory + 4 * n] = 0xFF;
    }

    void TearDown() override {
        if (video_surface) {
            SDL_Quit();
        } else {
            SDL_FreeSurface(surface);
        }
    }

    // Replaces the software surface by a video mode of the dummy driver, so that flips
    // are real flips of the screen surface.
    bool video_surface = false;
    void use_video_surface() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_Surface* screen = SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
        ASSERT_EQ(screen->format->Rmask, 0xF800u);
        ASSERT_EQ(screen->format->Gmask, 0x07E0u);
        ASSERT_EQ(screen->format->Bmask, 0x001Fu);
        SDL_FreeSurface(surface);
        surface = screen;
        video_surface = true;
        fill_surface(sentinel);
    }

    void set_tile_row(std::uint32_t base, std::uint32_t tile, std::uint32_t row, std::uint8_t low,
                      std::uint8_t high) {
        image[0x10000 + base + tile * 16 + row] = low;
        image[0x10000 + base + tile * 16 + row + 8] = high;
    }

    void fill_table(Table table, std::uint8_t tile, std::uint8_t attribute) {
        std::memset(image + table, tile, 960);
        std::memset(image + table + 960, attribute, 64);
    }
    void set_name(Table table, std::uint32_t column, std::uint32_t row, std::uint8_t tile) {
        image[table + row * 32 + column] = tile;
    }
    void set_attribute(Table table, std::uint32_t index, std::uint8_t value) {
        image[table + 0x3C0 + index] = value;
    }

    void set_sprite(std::uint32_t n, std::uint8_t y, std::uint8_t tile, std::uint8_t attributes,
                    std::uint8_t x) {
        std::uint8_t* sprite = image + priv::sprite_memory + 4 * n;
        sprite[0] = y;
        sprite[1] = tile;
        sprite[2] = attributes;
        sprite[3] = x;
    }

    void show(bool background, bool sprites) {
        image[ppu_mask] = static_cast<std::uint8_t>((background ? 0x08 : 0) | (sprites ? 0x10 : 0));
    }
    void set_scroll(std::uint8_t x, std::uint8_t y) {
        image[priv::scroll_x] = x;
        image[priv::scroll_y] = y;
    }

    void render(std::uint32_t line) { render_scanline(screen_of(surface), image, mirroring, line); }

    void fill_surface(std::uint16_t value) {
        for (int y = 0; y < surface->h; ++y)
            for (int x = 0; x < surface->w; ++x) pixel_ref(x, y) = value;
    }
    std::uint16_t& pixel_ref(int x, int y) {
        return reinterpret_cast<std::uint16_t*>(static_cast<std::uint8_t*>(surface->pixels) +
                                                y * surface->pitch)[x];
    }
    std::uint16_t surface_pixel(int x, int y) { return pixel_ref(x, y); }
    std::uint16_t picture(int x, int y) { return pixel_ref(x + 32, y); }

    // Expected surface values.
    static std::uint16_t backdrop() { return rgb565(universal); }
    static std::uint16_t bg(int palette, int value) {
        return value == 0 ? backdrop() : rgb565(background_palettes[palette][value - 1]);
    }
    static std::uint16_t spr(int palette, int value) { return rgb565(sprite_palettes[palette][value - 1]); }
};
