#include "ppu/renderer.h"

#include <array>
#include <cstring>

#include "core/machine.h"
#include "ppu/ppu_registers.h"
#include "ppu/surface.h"

namespace {

constexpr std::uint32_t picture_width = 256;
constexpr std::uint32_t picture_height = 240;  // line 240 is handed over but has no row
constexpr std::uint8_t list_end = 0xFF;

// Nametable neighbours: 0x2000/0x2400 and 0x2800/0x2C00 sit side by side,
// 0x2000/0x2800 and 0x2400/0x2C00 one above the other.
constexpr std::uint32_t horizontal_neighbour(std::uint32_t table) { return table ^ 0x0400; }
constexpr std::uint32_t vertical_neighbour(std::uint32_t table) { return table ^ 0x0800; }

inline std::uint8_t ppu_read(const std::uint8_t* image, std::uint32_t address,
                             std::uint32_t mirroring) {
    std::uint8_t value;
    vram_read(value, image, static_cast<std::uint16_t>(address), mirroring);
    return value;
}

// ---- Pattern rows ------------------------------------------------------------------------
// The pixel values of one row of a tile, two bits per column: column c (0 the leftmost) in
// bits 2c and 2c + 1. In a plane byte bit 7 is the leftmost column; mirrored rows (sprites
// flipped horizontally) take bit 0 as the leftmost instead.
constexpr std::array<std::uint16_t, 256> make_plane_columns(bool mirrored) {
    std::array<std::uint16_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte)
        for (std::uint32_t column = 0; column < 8; ++column) {
            const std::uint32_t bit = mirrored ? column : 7 - column;
            table[byte] = static_cast<std::uint16_t>(table[byte] | ((byte >> bit) & 1u) << (2 * column));
        }
    return table;
}
constexpr std::array<std::uint16_t, 256> plane_columns = make_plane_columns(false);
constexpr std::array<std::uint16_t, 256> mirrored_plane_columns = make_plane_columns(true);

inline std::uint32_t pattern_row(std::uint8_t low, std::uint8_t high) {
    return plane_columns[low] | (plane_columns[high] << 1u);
}

inline std::uint32_t mirrored_pattern_row(std::uint8_t low, std::uint8_t high) {
    return mirrored_plane_columns[low] | (mirrored_plane_columns[high] << 1u);
}

inline std::uint32_t column_value(std::uint32_t row, std::uint32_t column) {
    return (row >> (2 * column)) & 3u;
}

// ---- Sprites of the line, spread over the columns ----------------------------------------
// pixel[x] is 0 where no sprite pixel shows (no sprite, or the chosen sprite is transparent
// there); otherwise `sprite_opaque`, `sprite_behind` for a behind-background sprite, and the
// palette entry (palette × 4 + pixel value) in the low four bits.
constexpr std::uint8_t sprite_opaque = 0x80;
constexpr std::uint8_t sprite_behind = 0x40;

struct LineSprites {
    std::uint8_t pixel[picture_width];
    std::uint8_t owner[picture_width];  // the sprite chosen for the column, list_end for none
    std::uint32_t first, end;           // the columns covered lie in [first, end)
};

// Writes every listed sprite's row into the columns it covers. The list runs from the
// highest sprite number down, so it is walked backwards: a higher-numbered sprite overwrites
// a lower one, transparent pixels included, and ends up owning the column.
// Returns the number of sprites on the line.
std::uint32_t spread_sprites(LineSprites& sprites, const std::uint8_t* image,
                             std::uint32_t mirroring, std::uint32_t line) {
    const std::uint8_t* list = image + priv::line_sprites;
    std::uint32_t count = 0;
    while (list[count] != list_end) ++count;
    if (count == 0) return 0;

    std::memset(sprites.pixel, 0, sizeof sprites.pixel);
    std::memset(sprites.owner, list_end, sizeof sprites.owner);
    sprites.first = picture_width;
    sprites.end = 0;
    const std::uint32_t pattern_base = sprite_pattern_base(image);
    for (std::uint32_t i = count; i-- > 0;) {
        const std::uint8_t number = list[i];
        const std::uint8_t* sprite = image + priv::sprite_memory + 4u * number;
        const std::uint32_t top = sprite[0], tile = sprite[1], attributes = sprite[2], left = sprite[3];

        std::uint32_t row = line - top - 1;
        if (attributes & 0x80) row = 7 - row;
        const std::uint32_t address = pattern_base + tile * 16 + row;
        const std::uint8_t low = ppu_read(image, address, mirroring);
        const std::uint8_t high = ppu_read(image, address + 8, mirroring);
        const std::uint8_t shown = static_cast<std::uint8_t>(
            sprite_opaque | ((attributes & 0x20) ? sprite_behind : 0) | ((attributes & 3) << 2));

        if (left < sprites.first) sprites.first = left;
        if (left + 8 > sprites.end) sprites.end = left + 8 < picture_width ? left + 8 : picture_width;
        const std::uint32_t values =
            (attributes & 0x40) ? mirrored_pattern_row(low, high) : pattern_row(low, high);
        for (std::uint32_t column = 0; column < 8 && left + column < picture_width; ++column) {
            const std::uint32_t x = left + column;
            const std::uint32_t value = column_value(values, column);
            sprites.owner[x] = number;
            sprites.pixel[x] = value ? static_cast<std::uint8_t>(shown | value) : 0;
        }
    }
    return count;
}

// The moment of the sprite-0 hit: from the last column that sprite 0 owns; 0 when it owns none.
std::uint8_t sprite0_moment(const LineSprites& sprites, const std::uint8_t* image) {
    const std::uint32_t left = image[priv::sprite_memory + 3];
    const std::uint32_t last = left + 7 < picture_width ? left + 7 : picture_width - 1;
    for (std::uint32_t x = last + 1; x-- > left;)
        if (sprites.owner[x] == 0) return static_cast<std::uint8_t>((x + 16) / 3);
    return 0;
}

// ---- Drawing one line ----------------------------------------------------------------------
// Surface values of the 16 palette entries from base: colour index modulo 64, then the
// surface's mapping of its RGB triple.
void palette_colours(std::uint16_t* out, const std::uint32_t* colours, const std::uint8_t* image,
                     std::uint32_t base, std::uint32_t mirroring) {
    for (std::uint32_t i = 0; i < 16; ++i)
        out[i] = static_cast<std::uint16_t>(colours[ppu_read(image, base + i, mirroring) & 63]);
}

// Two neighbouring columns are coloured at once: pairs[palette][v0 + 4 × v1] holds the colours
// of pixel values v0 and v1 under one of the four background palettes.
struct PixelPair {
    std::uint16_t first, second;  // left, right
};
static_assert(sizeof(PixelPair) == 2 * sizeof(std::uint16_t), "pairs are two pixels of the row");
using PairTable = PixelPair[4][16];

// The table depends only on the 16 background colours, which seldom change from one line to
// the next: it is rebuilt only when they do.
struct PairCache {
    std::uint16_t palette[16];
    PairTable pairs;
    bool valid = false;
};
PairCache pair_cache;

const PairTable& pair_table(const std::uint16_t* palette) {
    if (!pair_cache.valid || std::memcmp(pair_cache.palette, palette, sizeof pair_cache.palette) != 0) {
        std::memcpy(pair_cache.palette, palette, sizeof pair_cache.palette);
        for (std::uint32_t p = 0; p < 4; ++p)
            for (std::uint32_t i = 0; i < 16; ++i)
                pair_cache.pairs[p][i] = PixelPair{palette[p * 4 + i % 4], palette[p * 4 + i / 4]};
        pair_cache.valid = true;
    }
    return pair_cache.pairs;
}

// The background of one line, drawn tile by tile from the tile under picture column 0: up to
// 33 tiles, in which column 0 is at offset scroll_x mod 8.
struct BackgroundStrip {
    PixelPair colour[33 * 4];
    std::uint16_t values[33];  // pattern_row of each tile, for the sprite priority
    std::uint32_t offset;      // strip position of picture column 0

    std::uint32_t value_at(std::uint32_t x) const {
        const std::uint32_t position = offset + x;
        return column_value(values[position / 8], position % 8);
    }
};

// A name table row (32 tile numbers) or attribute row (8 bytes) lies within one table, and the
// mirroring fold moves whole tables: the bytes after the folded address are the row's.
inline const std::uint8_t* table_row(const std::uint8_t* image, std::uint32_t address,
                                     std::uint32_t mirroring) {
    return image + ppu_image_index(static_cast<std::uint16_t>(address), mirroring);
}

// Each tile is fetched once, its attribute palette once per 16 columns. With a scroll that is
// not a multiple of 8, column 0 fetches as at a boundary, so the line still starts with the
// tile and attribute under it.
void draw_background(BackgroundStrip& strip, const std::uint8_t* image, std::uint32_t mirroring,
                     std::uint32_t line, const std::uint16_t* palette) {
    const PairTable& pairs = pair_table(palette);

    const std::uint32_t scroll_x = image[priv::scroll_x];
    const std::uint32_t line_sum = line + image[priv::scroll_y];
    const std::uint32_t ny = line_sum % 240;
    std::uint32_t table = nametable_base(image);
    if (line_sum >= 240) table = vertical_neighbour(table);
    // The line's rows in its own table and in the table to its right.
    const std::uint32_t tile_row = table + (ny / 8) * 32;
    const std::uint32_t attribute_row = table + 0x3C0 + (ny / 32) * 8;
    const std::uint8_t* const names[2] = {table_row(image, tile_row, mirroring),
                                          table_row(image, horizontal_neighbour(tile_row), mirroring)};
    const std::uint8_t* const attributes[2] = {
        table_row(image, attribute_row, mirroring),
        table_row(image, horizontal_neighbour(attribute_row), mirroring)};
    // Pattern tables lie below 0x2000, where the fold changes nothing.
    const std::uint8_t* const patterns = image + ppu_space + background_pattern_base(image) + ny % 8;
    const std::uint32_t lower_half = (ny % 32) >= 16 ? 4 : 0;

    strip.offset = scroll_x % 8;
    const std::uint32_t tiles = strip.offset == 0 ? 32 : 33;
    const PixelPair* tile_pairs = pairs[0];  // of the attribute palette
    for (std::uint32_t t = 0; t < tiles; ++t) {
        const std::uint32_t sum = scroll_x - strip.offset + 8 * t;  // the tile's first column
        const std::uint32_t side = sum >= 256 ? 1 : 0;             // 1: the table to the right
        const std::uint32_t nx = sum & 0xFF;
        const std::uint32_t tile = names[side][nx / 8];
        const std::uint32_t values = pattern_row(patterns[tile * 16], patterns[tile * 16 + 8]);
        if (nx % 16 == 0 || t == 0) {
            const std::uint32_t shift = lower_half + ((nx % 32) >= 16 ? 2 : 0);
            tile_pairs = pairs[(attributes[side][nx / 32] >> shift) & 3];
        }
        strip.values[t] = static_cast<std::uint16_t>(values);
        PixelPair* out = strip.colour + 4 * t;
        out[0] = tile_pairs[values & 15];
        out[1] = tile_pairs[(values >> 4) & 15];
        out[2] = tile_pairs[(values >> 8) & 15];
        out[3] = tile_pairs[values >> 12];
    }
}

// The colour of every column goes straight into the surface row: the background first, then
// the sprite pixels that win over it.
void draw_line(std::uint16_t* row, SDL_Surface* surface, const std::uint8_t* image,
               std::uint32_t mirroring, std::uint32_t line, const LineSprites* sprites) {
    // The palette cannot change within a line: look its entries up once.
    const std::uint32_t* colours = surface_colours(surface);
    std::uint16_t background_colour[16];
    palette_colours(background_colour, colours, image, 0x3F00, mirroring);

    BackgroundStrip strip;
    if (show_background(image)) {
        draw_background(strip, image, mirroring, line, background_colour);
        const auto* strip_bytes = reinterpret_cast<const unsigned char*>(strip.colour);
        std::memcpy(row, strip_bytes + strip.offset * sizeof *row, picture_width * sizeof *row);
    } else {
        // Hidden background: value 0 everywhere, in the colour of 0x3F00.
        strip.offset = 0;
        std::memset(strip.values, 0, sizeof strip.values);
        for (std::uint32_t x = 0; x < picture_width; ++x) row[x] = background_colour[0];
    }

    if (sprites == nullptr) return;
    std::uint16_t sprite_colour[16];
    palette_colours(sprite_colour, colours, image, 0x3F10, mirroring);
    // A sprite pixel in front wins; one behind the background shows only over value 0.
    for (std::uint32_t x = sprites->first; x < sprites->end; ++x) {
        const std::uint8_t shown = sprites->pixel[x];
        if (shown != 0 && (!(shown & sprite_behind) || strip.value_at(x) == 0))
            row[x] = sprite_colour[shown & 15];
    }
}

}  // namespace

// ---- Sprite selection --------------------------------------------------------------------
void select_line_sprites(std::uint8_t* image, std::uint32_t line) {
    std::uint8_t* list = image + priv::line_sprites;
    std::uint32_t count = 0;
    if (show_sprites(image)) {
        // Y + 1 <= line < Y + 9 without wrapping (Y of 239 and above stays off the picture)
        // and with no per-line limit; the list has room for all 64 and the end mark.
        const std::uint8_t* top = image + priv::sprite_memory + 4 * 64;
#pragma GCC unroll 8
        for (std::uint32_t n = 64; n-- > 0;) {
            top -= 4;
            if (line - std::uint32_t{*top} - 1 < 8) list[count++] = static_cast<std::uint8_t>(n);
        }
    }
    list[count] = list_end;
}

// ---- One line ----------------------------------------------------------------------------
void render_scanline(SDL_Surface* surface, std::uint8_t* image, std::uint32_t mirroring,
                     std::uint32_t line) {
    select_line_sprites(image, line);
    image[priv::sprite0_hit_cycle] = 0;

    LineSprites sprites;
    const std::uint32_t sprite_count = spread_sprites(sprites, image, mirroring, line);
    const bool any_sprites = sprite_count != 0;
    // Sprite 0, if listed, is last in the descending list.
    if (any_sprites && image[priv::line_sprites + sprite_count - 1] == 0)
        image[priv::sprite0_hit_cycle] = sprite0_moment(sprites, image);

    // Line 240 only gets its sprite-0 moment: the surface has no row for it.
    if (line >= picture_height || !surface_lock(surface)) return;
    std::uint16_t* const row = picture_row(surface, line);
    if (row != nullptr) draw_line(row, surface, image, mirroring, line, any_sprites ? &sprites : nullptr);
    surface_unlock(surface);
}
