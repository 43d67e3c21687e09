#include "ppu/renderer.h"

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

// ---- Sprites of the line, spread over the columns ----------------------------------------
// pixel[x] is 0 where no sprite pixel shows (no sprite, or the chosen sprite is transparent
// there); otherwise `sprite_opaque`, `sprite_behind` for a behind-background sprite, and the
// palette entry (palette × 4 + pixel value) in the low four bits.
constexpr std::uint8_t sprite_opaque = 0x80;
constexpr std::uint8_t sprite_behind = 0x40;

struct LineSprites {
    std::uint8_t pixel[picture_width];
    std::uint8_t owner[picture_width];  // the sprite chosen for the column, list_end for none
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

}  // namespace

// ---- Sprite selection --------------------------------------------------------------------
void select_line_sprites(std::uint8_t* image, std::uint32_t line) {
    std::uint8_t* list = image + priv::line_sprites;
    std::uint32_t count = 0;
    if (show_sprites(image)) {
        // No per-line limit; the sums do not wrap, so Y of 239 and above stays off the picture.
        for (std::uint32_t n = 64; n-- > 0;) {
            const std::uint32_t top = image[priv::sprite_memory + 4 * n];
            if (top + 1 <= line && line < top + 9) list[count++] = static_cast<std::uint8_t>(n);
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
    if (line >= picture_height) return;

    // The palette cannot change within a line: map its 32 entries once.
    const std::uint32_t* colours = surface_colours(surface);
    std::uint32_t background_colour[16];
    std::uint32_t sprite_colour[16];
    for (std::uint32_t i = 0; i < 16; ++i) {
        background_colour[i] = colours[ppu_read(image, 0x3F00 + i, mirroring) & 63];
        sprite_colour[i] = colours[ppu_read(image, 0x3F10 + i, mirroring) & 63];
    }

    const bool background = show_background(image) != 0;
    const std::uint32_t scroll_x = image[priv::scroll_x];
    const std::uint32_t line_sum = line + image[priv::scroll_y];
    const std::uint32_t ny = line_sum % 240;
    const std::uint32_t pattern_base = background_pattern_base(image);
    std::uint32_t table = nametable_base(image);
    if (line_sum >= 240) table = vertical_neighbour(table);
    const std::uint32_t tile_row = (ny / 8) * 32;
    const std::uint32_t attribute_row = (ny / 32) * 8;
    const std::uint32_t lower_half = (ny % 32) >= 16 ? 4 : 0;

    std::uint8_t low = 0, high = 0;
    std::uint32_t palette4 = 0;  // attribute palette × 4
    const std::int32_t y = static_cast<std::int32_t>(line);
    surface_lock(surface);
    for (std::uint32_t x = 0; x < picture_width; ++x) {
        std::uint32_t b = 0;
        if (background) {
            const std::uint32_t sum = x + scroll_x;
            const std::uint32_t nx = sum & 0xFF;
            // Column 0 fetches as at a boundary, so a scroll that is not a multiple of 8
            // still starts the line with its proper tile and attribute.
            if ((nx & 7) == 0 || x == 0) {
                const std::uint32_t current = sum >= 256 ? horizontal_neighbour(table) : table;
                const std::uint32_t tile = ppu_read(image, current + nx / 8 + tile_row, mirroring);
                const std::uint32_t address = pattern_base + tile * 16 + ny % 8;
                low = ppu_read(image, address, mirroring);
                high = ppu_read(image, address + 8, mirroring);
                if ((nx & 15) == 0 || x == 0) {
                    const std::uint32_t attribute =
                        ppu_read(image, current + 0x3C0 + nx / 32 + attribute_row, mirroring);
                    const std::uint32_t shift = lower_half + ((nx % 32) >= 16 ? 2 : 0);
                    palette4 = ((attribute >> shift) & 3) * 4;
                }
            }
            b = pattern_pixel(low, high, nx & 7);
        }

        // A sprite pixel in front wins; one behind the background shows only over value 0.
        const std::uint8_t shown = any_sprites ? sprites.pixel[x] : 0;
        std::uint32_t value;
        if ((shown & sprite_opaque) && (!(shown & sprite_behind) || b == 0))
            value = sprite_colour[shown & 15];
        else
            value = background_colour[background ? palette4 + b : 0];
        put_picture_pixel(surface, x, y, value);
    }
    surface_unlock(surface);
}
