#include "ppu/renderer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "core/machine.h"
#include "ppu/ppu_registers.h"
#include "core/host.h"

namespace {

constexpr std::uint32_t picture_width = 256;
constexpr std::uint32_t picture_height = 240;  // line 240 is handed over but has no row
constexpr std::uint8_t list_end = 0xFF;
constexpr std::uint32_t sprite_count = 64;
constexpr std::uint32_t palette_index = ppu_space + 0x3F00;  // image index of the palette

// Nametable neighbours: 0x2000/0x2400 and 0x2800/0x2C00 sit side by side,
// 0x2000/0x2800 and 0x2400/0x2C00 one above the other.
constexpr std::uint32_t horizontal_neighbour(std::uint32_t table) { return table ^ 0x0400; }
constexpr std::uint32_t vertical_neighbour(std::uint32_t table) { return table ^ 0x0800; }

// ---- Pattern rows ------------------------------------------------------------------------
// The pixel values of one row of a tile, two bits per column: column c (0 the leftmost) in
// bits 2c and 2c + 1. In a plane byte bit 7 is the leftmost column; mirrored rows (sprites
// flipped horizontally) take bit 0 as the leftmost instead. Each plane has its own half of the
// table, the high plane's already in the upper bit of each pair: one base address serves both,
// which leaves 32-bit hosts a register for the tile loop.
constexpr std::array<std::uint16_t, 512> make_plane_columns(bool mirrored) {
    std::array<std::uint16_t, 512> table{};
    for (std::uint32_t plane = 0; plane < 2; ++plane)
        for (std::uint32_t byte = 0; byte < 256; ++byte)
            for (std::uint32_t column = 0; column < 8; ++column) {
                const std::uint32_t bit = mirrored ? column : 7 - column;
                table[plane * 256 + byte] = static_cast<std::uint16_t>(
                    table[plane * 256 + byte] | ((byte >> bit) & 1u) << (2 * column + plane));
            }
    return table;
}
constexpr std::array<std::uint16_t, 512> plane_columns = make_plane_columns(false);
constexpr std::array<std::uint16_t, 512> mirrored_plane_columns = make_plane_columns(true);

inline std::uint32_t pattern_row(std::uint8_t low, std::uint8_t high) {
    return plane_columns[low] | plane_columns[256 + high];
}

inline std::uint32_t mirrored_pattern_row(std::uint8_t low, std::uint8_t high) {
    return mirrored_plane_columns[low] | mirrored_plane_columns[256 + high];
}

inline std::uint32_t column_value(std::uint32_t row, std::uint32_t column) {
    return (row >> (2 * column)) & 3u;
}

// A plane byte with the leftmost column in bit 0, for column masks.
constexpr std::array<std::uint8_t, 256> make_reversed_bits() {
    std::array<std::uint8_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte)
        for (std::uint32_t bit = 0; bit < 8; ++bit)
            table[byte] = static_cast<std::uint8_t>(table[byte] | ((byte >> bit) & 1u) << (7 - bit));
    return table;
}
constexpr std::array<std::uint8_t, 256> reversed_bits = make_reversed_bits();

// ---- Sprite selection --------------------------------------------------------------------
// Which lines a sprite covers follows from its Y byte alone, so the sprites of every line are
// kept as one set per line (bit n: sprite n) and brought up to date from the Y bytes that
// differ from the ones the sets were made from. Sprite memory can change between any two
// lines, but seldom does: comparing it costs far less than testing 64 sprites per line.
constexpr std::uint32_t covered_lines = 255 + 9;  // a Y of 255 covers lines 256-263

struct SpriteLines {
    alignas(16) std::uint8_t memory[256];  // the sprite memory the sets follow; only its Y bytes count
    std::uint64_t sprites[covered_lines];
    bool valid = false;
};
SpriteLines sprite_lines;

// Bytes 0 and 4 of every 8 bytes of sprite memory: the Y bytes of two sprites.
constexpr std::uint64_t y_bytes =
    std::bit_cast<std::uint64_t>(std::array<std::uint8_t, 8>{0xFF, 0, 0, 0, 0xFF, 0, 0, 0});

// Compared 16 bytes at a time, as a vector of two 64-bit words: hosts with 16-byte vector
// registers take it whole, the others in words of their own size. Byte by byte, the way a
// plain loop stays on hosts without such registers (i386), it cost 256 steps a line.
using SpriteBlock = std::uint64_t __attribute__((vector_size(16)));

bool y_bytes_differ(const std::uint8_t* memory) {
    SpriteBlock difference = {};
#pragma GCC unroll 16
    for (std::uint32_t i = 0; i < sizeof sprite_lines.memory; i += sizeof difference) {
        SpriteBlock now, then;
        std::memcpy(&now, memory + i, sizeof now);
        std::memcpy(&then, sprite_lines.memory + i, sizeof then);
        difference |= now ^ then;
    }
    return ((difference[0] | difference[1]) & y_bytes) != 0;
}

// Y + 1 <= line < Y + 9, without wrapping: a Y of 239 and above stays off the picture.
void place_sprite(std::uint32_t number, std::uint32_t top) {
    for (std::uint32_t line = top + 1; line < top + 9; ++line)
        sprite_lines.sprites[line] |= std::uint64_t{1} << number;
}

void lift_sprite(std::uint32_t number, std::uint32_t top) {
    for (std::uint32_t line = top + 1; line < top + 9; ++line)
        sprite_lines.sprites[line] &= ~(std::uint64_t{1} << number);
}

void follow_sprite_memory(const std::uint8_t* memory) {
    if (!sprite_lines.valid) {
        std::memset(sprite_lines.sprites, 0, sizeof sprite_lines.sprites);
        for (std::uint32_t n = 0; n < sprite_count; ++n) {
            sprite_lines.memory[4 * n] = memory[4 * n];
            place_sprite(n, memory[4 * n]);
        }
        sprite_lines.valid = true;
        return;
    }
    if (!y_bytes_differ(memory)) return;
    for (std::uint32_t n = 0; n < sprite_count; ++n) {
        const std::uint8_t top = memory[4 * n];
        if (top == sprite_lines.memory[4 * n]) continue;
        lift_sprite(n, sprite_lines.memory[4 * n]);
        place_sprite(n, top);
        sprite_lines.memory[4 * n] = top;
    }
}

// Writes the list (highest sprite number first, no per-line limit; it has room for all 64
// and the end mark) and returns the number of sprites in it.
std::uint32_t list_line_sprites(std::uint8_t* image, std::uint32_t line) {
    std::uint8_t* list = image + priv::line_sprites;
    std::uint32_t count = 0;
    if (show_sprites(image)) {
        follow_sprite_memory(image + priv::sprite_memory);
        std::uint64_t on_line = line < covered_lines ? sprite_lines.sprites[line] : 0;
        while (on_line != 0) {
            const std::uint32_t number = 63 - static_cast<std::uint32_t>(std::countl_zero(on_line));
            list[count++] = static_cast<std::uint8_t>(number);
            on_line ^= std::uint64_t{1} << number;
        }
    }
    list[count] = list_end;
    return count;
}

// ---- Colours -----------------------------------------------------------------------------
// Palette entry 0-31 as the fold gives it: every multiple of 4 is the byte of 0x3F00.
inline std::uint8_t palette_byte(const std::uint8_t* image, std::uint32_t entry) {
    return image[palette_index + (entry % 4 == 0 ? 0 : entry)];
}

// Two pixels that lie side by side in the row, as one word (the first at the lower address).
inline std::uint32_t pixel_pair(std::uint16_t first, std::uint16_t second) {
    const std::uint16_t two[2] = {first, second};
    std::uint32_t word;
    std::memcpy(&word, two, sizeof word);
    return word;
}

// Likewise two pairs: four neighbouring columns, half a tile row.
inline std::uint64_t pixel_quad(std::uint32_t first, std::uint32_t second) {
    if constexpr (std::endian::native == std::endian::little)
        return first | std::uint64_t{second} << 32;
    else
        return std::uint64_t{first} << 32 | second;
}

// The background colours in two forms, both indexed by the two-bit pixel values of
// neighbouring columns, the leftmost in the lowest bits (as in a pattern_row value):
// settled[palette][v] holds as many columns as one Word does, four (v: a byte) for 64-bit
// entries, two (v: 4 bits) for 32-bit ones. pairs[palette][v0 + 4 × v1] holds two columns: a
// sixteenth of the making of the 64-bit table.
template <typename Word>
constexpr std::uint32_t word_columns = sizeof(Word) / sizeof(std::uint16_t);
template <typename Word>
using SettledTable = Word[4][1u << (2 * word_columns<Word>)];
using PairTable = std::uint32_t[4][16];

// The palette bytes seldom change from one line to the next. The settled table serves every
// line whose palette bytes and mapping are those it was checked against. A line with other
// colours is drawn with pairs, made for it; once its colours have held for a second line the
// settled table is made again, for the palettes whose colours changed only. So a palette that
// changes on every line never pays for a 64-bit table.
template <typename Word>
struct BackgroundColours {
    std::uint8_t source[16];  // palette bytes 0x3F00-0x3F0F the settled table was checked against
    std::uint64_t mapping = 0;
    bool valid = false;
    std::uint16_t colour[4][4];  // the colours each palette's entries were made of
    SettledTable<Word> settled;

    std::uint8_t unsettled[16];  // palette bytes of the last line drawn with pairs
    std::uint64_t unsettled_mapping = 0;
    bool unsettled_valid = false;
    PairTable pairs;
};
template <typename Word>
BackgroundColours<Word> background_colours;

// The table a line is drawn with: one of the two.
template <typename Word>
struct BackgroundPalettes {
    const SettledTable<Word>* settled;
    const PairTable* pairs;
};

void make_pairs(std::uint32_t* pairs, const std::uint16_t* colour) {
#pragma GCC unroll 16
    for (std::uint32_t i = 0; i < 16; ++i) pairs[i] = pixel_pair(colour[i % 4], colour[i / 4]);
}

void make_settled(std::uint32_t* pairs, const std::uint16_t* colour) { make_pairs(pairs, colour); }

void make_settled(std::uint64_t* quads, const std::uint16_t* colour) {
    std::uint32_t pairs[16];
    make_pairs(pairs, colour);
    for (std::uint32_t right = 0; right < 16; ++right) {
        const std::uint64_t right_half = pixel_quad(0, pairs[right]);
#pragma GCC unroll 16
        for (std::uint32_t left = 0; left < 16; ++left)
            quads[right * 16 + left] = right_half | pixel_quad(pairs[left], 0);
    }
}

void palette_colours(std::uint16_t* colour, const std::uint32_t* colours, const std::uint8_t* image,
                     std::uint32_t palette) {
#pragma GCC unroll 4
    for (std::uint32_t value = 0; value < 4; ++value)
        colour[value] = static_cast<std::uint16_t>(colours[palette_byte(image, palette * 4 + value) & 63]);
}

template <typename Word>
BackgroundPalettes<Word> background_palettes(const std::uint32_t* colours, const std::uint8_t* image) {
    BackgroundColours<Word>& cache = background_colours<Word>;
    const std::uint64_t mapping = screen_colour_mappings();
    const std::uint8_t* source = image + palette_index;
    if (cache.valid && cache.mapping == mapping && std::memcmp(cache.source, source, 16) == 0)
        return {&cache.settled, nullptr};

    if (cache.unsettled_valid && cache.unsettled_mapping == mapping &&
        std::memcmp(cache.unsettled, source, 16) == 0) {
        for (std::uint32_t palette = 0; palette < 4; ++palette) {
            std::uint16_t colour[4];
            palette_colours(colour, colours, image, palette);
            if (cache.valid && std::memcmp(colour, cache.colour[palette], sizeof colour) == 0) continue;
            make_settled(cache.settled[palette], colour);
            std::memcpy(cache.colour[palette], colour, sizeof colour);
        }
        std::memcpy(cache.source, source, sizeof cache.source);
        cache.mapping = mapping;
        cache.valid = true;
        cache.unsettled_valid = false;
        return {&cache.settled, nullptr};
    }

    for (std::uint32_t palette = 0; palette < 4; ++palette) {
        std::uint16_t colour[4];
        palette_colours(colour, colours, image, palette);
        make_pairs(cache.pairs[palette], colour);
    }
    std::memcpy(cache.unsettled, source, sizeof cache.unsettled);
    cache.unsettled_mapping = mapping;
    cache.unsettled_valid = true;
    return {nullptr, &cache.pairs};
}

// colour[palette × 4 + value] of the sprite palettes, kept like the background's. Value 0 is
// transparent and never drawn: its entries stay 0, so 0x3F00 is none of their business.
struct SpriteColours {
    std::uint8_t source[16];  // palette bytes 0x3F10-0x3F1F
    std::uint64_t mapping = 0;
    bool valid = false;
    std::uint16_t colour[16] = {};
};
SpriteColours sprite_colours;

const std::uint16_t* sprite_palette(const std::uint32_t* colours, const std::uint8_t* image) {
    SpriteColours& cache = sprite_colours;
    const std::uint64_t mapping = screen_colour_mappings();
    const std::uint8_t* source = image + palette_index + 16;
    if (cache.valid && cache.mapping == mapping && std::memcmp(cache.source, source, 16) == 0)
        return cache.colour;

    for (std::uint32_t entry = 0; entry < 16; ++entry)
        if (entry % 4 != 0)
            cache.colour[entry] = static_cast<std::uint16_t>(colours[palette_byte(image, 16 + entry) & 63]);
    std::memcpy(cache.source, source, sizeof cache.source);
    cache.mapping = mapping;
    cache.valid = true;
    return cache.colour;
}

// ---- Background --------------------------------------------------------------------------
// The tiles of one line, from the tile under picture column 0: up to 33, in which column 0 is
// at offset scroll_x mod 8. Their pattern rows stay for the sprites behind the background.
struct BackgroundRow {
    std::uint16_t values[33];  // pattern_row of each tile
    std::uint32_t offset;      // tile position of picture column 0
    bool shown = false;        // hidden: value 0 everywhere

    std::uint32_t value_at(std::uint32_t x) const {
        if (!shown) return 0;
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

// The row of one name table that a line takes tiles from.
struct TableRow {
    const std::uint8_t* names;       // 32 tile numbers
    const std::uint8_t* attributes;  // 8 attribute bytes
};

struct LinePatterns {
    const std::uint8_t* rows;     // the line's row of tile 0 in the background pattern table
    std::uint32_t quarter_shift;  // 4 for the lower quarters of the attribute bytes, else 0
};

// Tile column c takes the attribute quarter of its own 16 columns.
template <typename Table>
inline const auto* tile_palette(const Table& table, const std::uint8_t* attributes,
                                std::uint32_t quarter_shift, std::uint32_t column) {
    const std::uint32_t shift = quarter_shift + (column & 2);  // right half: columns 2, 3 of 4
    return table[(attributes[column / 4] >> shift) & 3];
}

// The 8 pixels of a tile row from its pattern_row value, a table entry for each word's columns.
template <typename Word>
inline void store_tile(std::uint16_t* pixels, const Word* entries, std::uint32_t values) {
    constexpr std::uint32_t columns = word_columns<Word>;
    constexpr std::uint32_t mask = (1u << (2 * columns)) - 1;
#pragma GCC unroll 4
    for (std::uint32_t i = 0; i < 8 / columns; ++i)
        std::memcpy(pixels + columns * i, &entries[(values >> (2 * columns * i)) & mask], sizeof(Word));
}

// 8 pixels and the pattern row of one tile.
template <typename Palette>
inline void draw_tile(std::uint16_t* pixels, std::uint16_t* values, const std::uint8_t* rows,
                      std::uint32_t tile, const Palette* palette) {
    const std::uint8_t* pattern = rows + tile * 16;
    const std::uint32_t row_values = pattern_row(pattern[0], pattern[8]);
    *values = static_cast<std::uint16_t>(row_values);
    store_tile(pixels, palette, row_values);
}

// Tile columns [first, end) of one table. The four tiles of an attribute byte share its fetch
// and its shift; the tiles before the first whole byte and after the last are drawn singly.
// Everything is read into locals first: the pixel stores could otherwise alias it.
template <typename Table>
void draw_tiles(std::uint16_t* pixels, std::uint16_t* values, const LinePatterns& line,
                const Table& palettes, const TableRow& table, std::uint32_t first, std::uint32_t end) {
    const std::uint8_t* const rows = line.rows;
    const std::uint32_t quarter_shift = line.quarter_shift;
    const std::uint8_t* const names = table.names;
    const std::uint8_t* const attributes = table.attributes;
    std::uint32_t column = first;
    const auto single = [&] {
        draw_tile(pixels, values, rows, names[column], tile_palette(palettes, attributes, quarter_shift, column));
        pixels += 8;
        ++values;
        ++column;
    };
    while (column < end && column % 4 != 0) single();
    for (; column + 4 <= end; column += 4) {
        const std::uint32_t quarters = attributes[column / 4] >> quarter_shift;
        const auto* left = palettes[quarters & 3];
        const auto* right = palettes[(quarters >> 2) & 3];
        draw_tile(pixels, values, rows, names[column], left);
        draw_tile(pixels + 8, values + 1, rows, names[column + 1], left);
        draw_tile(pixels + 16, values + 2, rows, names[column + 2], right);
        draw_tile(pixels + 24, values + 3, rows, names[column + 3], right);
        pixels += 32;
        values += 4;
    }
    while (column < end) single();
}

// The line's tiles come from its own table from the scrolled-to column on, then from the
// table to its right from column 0. With a scroll that is not a multiple of 8 the first and
// the 33rd tile are cut: the tiles are drawn aside and the picture's columns copied out;
// otherwise the 32 tiles go straight into the row.
template <typename Table>
void draw_background(std::uint16_t* row, BackgroundRow& background, const std::uint8_t* image,
                     std::uint32_t mirroring, std::uint32_t line, const Table& palettes) {
    const std::uint32_t scroll_x = image[priv::scroll_x];
    const std::uint32_t line_sum = line + image[priv::scroll_y];
    const std::uint32_t ny = line_sum % 240;
    std::uint32_t table = nametable_base(image);
    if (line_sum >= 240) table = vertical_neighbour(table);
    const std::uint32_t tile_row = table + (ny / 8) * 32;
    const std::uint32_t attribute_row = table + 0x3C0 + (ny / 32) * 8;
    const TableRow own = {table_row(image, tile_row, mirroring), table_row(image, attribute_row, mirroring)};
    const TableRow right = {table_row(image, horizontal_neighbour(tile_row), mirroring),
                            table_row(image, horizontal_neighbour(attribute_row), mirroring)};
    // Pattern tables lie below 0x2000, where the fold changes nothing.
    const LinePatterns patterns = {image + ppu_space + background_pattern_base(image) + ny % 8,
                                   (ny % 32) >= 16 ? 4u : 0u};

    background.shown = true;
    background.offset = scroll_x % 8;
    std::uint16_t aside[33 * 8];
    std::uint16_t* const pixels = background.offset == 0 ? row : aside;
    const std::uint32_t first_column = scroll_x / 8;
    const std::uint32_t own_tiles = 32 - first_column;
    const std::uint32_t tiles = background.offset == 0 ? 32 : 33;
    draw_tiles(pixels, background.values, patterns, palettes, own, first_column, 32);
    draw_tiles(pixels + 8 * own_tiles, background.values + own_tiles, patterns, palettes, right, 0,
               tiles - own_tiles);
    if (background.offset != 0)
        std::memcpy(row, aside + background.offset, picture_width * sizeof *row);
}

// ---- Sprites -----------------------------------------------------------------------------
// Of the sprites that cover a column the highest-numbered owns it, a transparent pixel
// included. The list runs from the highest number down, so each sprite in turn owns the
// columns that no sprite before it took: a set of taken columns, bit x for column x, with a
// spare word for the 8 columns from 249-255 that reach past the last.
// 32-bit words: a 64-bit one costs 32-bit hosts a pair of shifts and a branch per shift, and
// 64-bit hosts do no better with it.
struct TakenColumns {
    std::uint32_t bits[picture_width / 32 + 1];
};

// Bit c: column x + c is taken.
inline std::uint32_t taken_from(const TakenColumns& taken, std::uint32_t x) {
    const std::uint32_t word = x / 32, shift = x % 32;
    std::uint32_t window = taken.bits[word] >> shift;
    if (shift > 24) window |= taken.bits[word + 1] << (32 - shift);
    return window & 0xFF;
}

inline void take(TakenColumns& taken, std::uint32_t x, std::uint32_t columns) {
    const std::uint32_t word = x / 32, shift = x % 32;
    taken.bits[word] |= columns << shift;
    if (shift > 24) taken.bits[word + 1] |= columns >> (32 - shift);
}

// Draws the listed sprites over the background (when there is a row) and returns the moment
// of the sprite-0 hit: from the last column that sprite 0 owns, 0 when it owns none.
// A sprite pixel in front wins; one behind the background shows only over value 0.
std::uint8_t draw_sprites(std::uint16_t* row, const std::uint8_t* image, std::uint32_t count,
                          std::uint32_t line, const BackgroundRow& background,
                          const std::uint16_t* colours) {
    const std::uint8_t* list = image + priv::line_sprites;
    const std::uint8_t* patterns = image + ppu_space + sprite_pattern_base(image);
    TakenColumns taken = {};
    std::uint8_t moment = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t number = list[i];
        const std::uint8_t* sprite = image + priv::sprite_memory + 4 * number;
        const std::uint32_t top = sprite[0], tile = sprite[1], attributes = sprite[2], left = sprite[3];

        const std::uint32_t on_picture = left <= picture_width - 8 ? 0xFFu : 0xFFu >> (left - (picture_width - 8));
        const std::uint32_t owned = ~taken_from(taken, left) & on_picture;
        take(taken, left, owned);
        if (number == 0 && owned != 0)
            moment = static_cast<std::uint8_t>((left + std::bit_width(owned) - 1 + 16) / 3);
        if (row == nullptr) continue;

        // 0-7, as the sprite is listed for the line; the mask only keeps the read in the table.
        std::uint32_t sprite_row = (line - top - 1) % 8;
        if (attributes & 0x80) sprite_row = 7 - sprite_row;
        const std::uint8_t* pattern = patterns + tile * 16 + sprite_row;
        const std::uint8_t low = pattern[0], high = pattern[8];
        const bool mirrored = (attributes & 0x40) != 0;
        const std::uint32_t values = mirrored ? mirrored_pattern_row(low, high) : pattern_row(low, high);
        const std::uint32_t opaque = mirrored ? (low | high) : reversed_bits[low | high];
        const bool behind = (attributes & 0x20) != 0;
        const std::uint16_t* palette = colours + (attributes & 3) * 4;
        for (std::uint32_t shown = owned & opaque; shown != 0; shown &= shown - 1) {
            const std::uint32_t column = static_cast<std::uint32_t>(std::countr_zero(shown));
            const std::uint32_t x = left + column;
            if (behind && background.value_at(x) != 0) continue;
            row[x] = palette[column_value(values, column)];
        }
    }
    return moment;
}

}  // namespace

void select_line_sprites(std::uint8_t* image, std::uint32_t line) { list_line_sprites(image, line); }

// ---- One line ----------------------------------------------------------------------------
// The palette cannot change within a line: its colours are looked up once per line at most.
template <typename Word>
void render_scanline_in(Screen* screen, std::uint8_t* image, std::uint32_t mirroring,
                        std::uint32_t line) {
    const std::uint32_t count = list_line_sprites(image, line);

    // Line 240 only gets its sprite-0 moment: the screen has no row for it.
    const bool locked = line < picture_height && screen_lock(screen);
    std::uint16_t* const row = locked ? screen_row(screen, line) : nullptr;
    BackgroundRow background;
    const std::uint16_t* colours = nullptr;
    if (row != nullptr) {
        const std::uint32_t* mapped = screen_colours(screen);
        if (show_background(image)) {
            const BackgroundPalettes<Word> palettes = background_palettes<Word>(mapped, image);
            if (palettes.settled != nullptr)
                draw_background(row, background, image, mirroring, line, *palettes.settled);
            else
                draw_background(row, background, image, mirroring, line, *palettes.pairs);
        } else {
            background.shown = false;
            std::fill(row, row + picture_width, static_cast<std::uint16_t>(mapped[palette_byte(image, 0) & 63]));
        }
        if (count != 0) colours = sprite_palette(mapped, image);
    }
    image[priv::sprite0_hit_cycle] = count != 0 ? draw_sprites(row, image, count, line, background, colours) : 0;
    if (locked) screen_unlock(screen);
}

template void render_scanline_in<std::uint32_t>(Screen*, std::uint8_t*, std::uint32_t, std::uint32_t);
template void render_scanline_in<std::uint64_t>(Screen*, std::uint8_t*, std::uint32_t, std::uint32_t);

#ifdef QUENRIK_RENDERER_SSE2
// Everything the line calls is built into each of the two, so the SSE2 one is SSE2 throughout.
__attribute__((flatten)) void render_scanline_baseline(Screen* screen, std::uint8_t* image,
                                                       std::uint32_t mirroring, std::uint32_t line) {
    render_scanline_in<RendererWord>(screen, image, mirroring, line);
}

__attribute__((target("sse2"), flatten)) void render_scanline_sse2(Screen* screen, std::uint8_t* image,
                                                                   std::uint32_t mirroring, std::uint32_t line) {
    render_scanline_in<RendererWord>(screen, image, mirroring, line);
}

void render_scanline(Screen* screen, std::uint8_t* image, std::uint32_t mirroring, std::uint32_t line) {
    static const bool sse2 = __builtin_cpu_supports("sse2");
    (sse2 ? render_scanline_sse2 : render_scanline_baseline)(screen, image, mirroring, line);
}
#endif
