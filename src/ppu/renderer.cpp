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

// Pixel value 0-3 of a pattern row at column 0-7 (bit 7 is the leftmost pixel).
inline std::uint32_t pattern_pixel(std::uint8_t low, std::uint8_t high, std::uint32_t column) {
    const std::uint32_t shift = 7 - column;
    return (((high >> shift) & 1u) << 1) | ((low >> shift) & 1u);
}

// The eight pixel values of a pattern row at once: byte c (bits 8c to 8c+7) holds column c.
// spread_bits[byte] puts bit 7 - c of the byte into the lowest bit of byte c.
constexpr std::array<std::uint64_t, 256> make_spread_bits() {
    std::array<std::uint64_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte)
        for (std::uint32_t column = 0; column < 8; ++column)
            table[byte] |= static_cast<std::uint64_t>((byte >> (7 - column)) & 1u) << (8 * column);
    return table;
}
constexpr std::array<std::uint64_t, 256> spread_bits = make_spread_bits();

inline std::uint64_t pattern_row_pixels(std::uint8_t low, std::uint8_t high) {
    return spread_bits[low] | (spread_bits[high] << 1);
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
        for (std::uint32_t column = 0; column < 8 && left + column < picture_width; ++column) {
            const std::uint32_t x = left + column;
            const std::uint32_t value =
                pattern_pixel(low, high, (attributes & 0x40) ? 7 - column : column);
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

// The colour of every column goes straight into the surface row: the background first, then
// the sprite pixels that win over it.
void draw_line(std::uint16_t* row, SDL_Surface* surface, const std::uint8_t* image,
               std::uint32_t mirroring, std::uint32_t line, const LineSprites* sprites) {
    // The palette cannot change within a line: look its entries up once.
    const std::uint32_t* colours = surface_colours(surface);
    std::uint16_t background_colour[16];
    palette_colours(background_colour, colours, image, 0x3F00, mirroring);

    std::uint8_t background_value[picture_width];  // pixel value 0-3, for sprite priority
    if (show_background(image)) {
        const std::uint32_t scroll_x = image[priv::scroll_x];
        const std::uint32_t line_sum = line + image[priv::scroll_y];
        const std::uint32_t ny = line_sum % 240;
        const std::uint32_t pattern_row = background_pattern_base(image) + ny % 8;
        std::uint32_t table = nametable_base(image);
        if (line_sum >= 240) table = vertical_neighbour(table);
        const std::uint32_t tile_row = (ny / 8) * 32;
        const std::uint32_t attribute_row = (ny / 32) * 8;
        const std::uint32_t lower_half = (ny % 32) >= 16 ? 4 : 0;

        const std::uint16_t* tile_colours = background_colour;  // + attribute palette × 4
        // Each pass of the outer loop starts at a tile boundary of nx, except at column 0,
        // which fetches as at a boundary: a scroll that is not a multiple of 8 still starts
        // the line with the tile and attribute under it.
        for (std::uint32_t x = 0; x < picture_width;) {
            const std::uint32_t sum = x + scroll_x;
            const std::uint32_t nx = sum & 0xFF;
            const std::uint32_t current = sum >= 256 ? horizontal_neighbour(table) : table;
            const std::uint32_t tile = ppu_read(image, current + nx / 8 + tile_row, mirroring);
            const std::uint8_t low = ppu_read(image, pattern_row + tile * 16, mirroring);
            const std::uint8_t high = ppu_read(image, pattern_row + tile * 16 + 8, mirroring);
            if ((nx & 15) == 0 || x == 0) {
                const std::uint32_t attribute =
                    ppu_read(image, current + 0x3C0 + nx / 32 + attribute_row, mirroring);
                const std::uint32_t shift = lower_half + ((nx % 32) >= 16 ? 2 : 0);
                tile_colours = background_colour + ((attribute >> shift) & 3) * 4;
            }
            const std::uint64_t pixels = pattern_row_pixels(low, high);
            for (std::uint32_t column = nx & 7; column < 8 && x < picture_width; ++column, ++x) {
                const std::uint32_t b = (pixels >> (8 * column)) & 3u;
                background_value[x] = static_cast<std::uint8_t>(b);
                row[x] = tile_colours[b];
            }
        }
    } else {
        // Hidden background: value 0 everywhere, in the colour of 0x3F00.
        std::memset(background_value, 0, sizeof background_value);
        for (std::uint32_t x = 0; x < picture_width; ++x) row[x] = background_colour[0];
    }

    if (sprites == nullptr) return;
    std::uint16_t sprite_colour[16];
    palette_colours(sprite_colour, colours, image, 0x3F10, mirroring);
    // A sprite pixel in front wins; one behind the background shows only over value 0.
    for (std::uint32_t x = sprites->first; x < sprites->end; ++x) {
        const std::uint8_t shown = sprites->pixel[x];
        if (shown != 0 && (!(shown & sprite_behind) || background_value[x] == 0))
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
        // and with no per-line limit. Branch-free: every number is stored, only those on the
        // line are kept; the list has room for all 64 and the end mark.
        for (std::uint32_t n = 64; n-- > 0;) {
            const std::uint32_t top = image[priv::sprite_memory + 4 * n];
            list[count] = static_cast<std::uint8_t>(n);
            count += (line - top - 1) < 8 ? 1 : 0;
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
