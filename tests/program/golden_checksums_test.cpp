// One picture on every platform: each cartridge of the project runs a fixed number of frames in
// several modes, and checksums of the whole machine image and of the picture must equal the
// table below on every host (amd64, i386, arm64, armhf), whatever its word size or byte order.
//
// The checksums are FNV-1a 64 in fixed-width arithmetic; the image is hashed byte by byte and the
// picture as its 16-bit pixel values, low byte then high byte, so the host's byte order does not
// enter. No clock is involved: frame skip 1, no evaluation stop.
//
// When a deliberate change alters what a cartridge leaves behind (a renderer fix, a cartridge
// edited), run the suite with QUENRIK_PRINT_GOLDEN=1: this test then prints the table as it is
// now, in source form. Look at the changed rows' pictures first (the window tests, make
// screenshots) and make sure the change is the one intended, then paste the rows here and say in
// the commit message which rows changed and why. Never take new values from another
// architecture's run: they must come from amd64 and agree everywhere else.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "program/startup.h"
#include "program/emulation.h"
#include "program/surface.h"
#include "support/test_support.h"

namespace {

constexpr std::uint64_t passes_per_frame = 242 * 34;
constexpr std::uint32_t frames = 90;
constexpr std::uint32_t reset_frame = 40;  // the R key, in the reset mode

constexpr std::uint64_t fnv_offset = 0xCBF29CE484222325ull;
constexpr std::uint64_t fnv_prime = 0x100000001B3ull;

std::uint64_t fnv1a(std::uint64_t hash, std::uint8_t byte) { return (hash ^ byte) * fnv_prime; }

std::uint64_t image_checksum(const std::uint8_t* image) {
    std::uint64_t hash = fnv_offset;
    for (std::uint32_t i = 0; i < image_size; ++i) hash = fnv1a(hash, image[i]);
    return hash;
}

std::uint64_t picture_checksum(const SDL_Surface* surface) {
    std::uint64_t hash = fnv_offset;
    for (int y = 0; y < surface->h; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(static_cast<const std::uint8_t*>(surface->pixels) +
                                                                 y * surface->pitch);
        for (int x = 0; x < surface->w; ++x) {
            hash = fnv1a(hash, static_cast<std::uint8_t>(row[x]));
            hash = fnv1a(hash, static_cast<std::uint8_t>(row[x] >> 8));
        }
    }
    return hash;
}

enum class Mode : std::uint8_t { plain, fast, joypad, reset };

// The keys held during a frame in the joypad mode: a different set every 8 frames.
void hold_keys_for(std::uint32_t frame, bool any) {
    static constexpr SDLKey pad[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};
    const std::uint32_t pattern = ((frame / 8 + 1) * 2654435761u) >> 24;
    Uint8* keys = SDL_GetKeyState(nullptr);
    for (std::uint32_t i = 0; i < 8; ++i) keys[pad[i]] = any ? (pattern >> i) & 1 : 0;
}

struct Golden {
    const char* cartridge;
    Mode mode;
    std::uint64_t image;
    std::uint64_t picture;
};

struct Result {
    std::uint64_t image = 0, picture = 0;
    std::uint32_t frame_count = 0;
};

// The cartridge started as the program starts it (with -f in the fast mode), then run frame by frame.
Result run_cartridge(const std::string& cartridge, Mode mode, SDL_Surface* surface) {
    static RunState state;
    static MachineImage image;
    std::string path = cartridge_path(cartridge);
    char program[] = "quenrik";
    char fast_option[] = "-f";
    char* argv[] = {program, path.data(), mode == Mode::fast ? fast_option : nullptr, nullptr};
    bool full_screen = false;
    start_up(mode == Mode::fast ? 3 : 2, argv, state, image, full_screen);
    SDL_FillRect(surface, nullptr, 0);
    state.surface = screen_of(surface);
    state.frame_skip = 1;
    emulation_prepare(state, image);
    for (std::uint32_t frame = 0; frame < frames && state.quit.get() == 0; ++frame) {
        hold_keys_for(frame, mode == Mode::joypad);
        if (mode == Mode::reset && frame == reset_frame) state.reset_request.set(1);
        emulation_run(state, image, SDL_GetTicks(), passes_per_frame);
    }
    hold_keys_for(0, false);
    return {image_checksum(image), picture_checksum(surface), state.frame_count};
}

const char* mode_name(Mode mode) {
    switch (mode) {
    case Mode::plain: return "plain";
    case Mode::fast: return "fast";
    case Mode::joypad: return "joypad";
    case Mode::reset: return "reset";
    }
    return "?";
}

// clang-format off
constexpr Golden golden[] = {
    {"demo", Mode::plain, 0x757AFF2AFB9E5B5Bull, 0xA02284B7F755C38Full},
    {"demo", Mode::fast, 0x3E7EE9E9030996A5ull, 0xA02284B7F755C38Full},
    {"demo", Mode::joypad, 0x1AE03895A18DC5FAull, 0x8B144E0D656A8DB3ull},
    {"demo", Mode::reset, 0x5FEF1A1E96E4C749ull, 0xA02284B7F755C38Full},
    {"bench_game", Mode::plain, 0xF8709E0771681231ull, 0x627F1D5C6844A9FAull},
    {"bench_game", Mode::fast, 0x4E60504DB14538FFull, 0x627F1D5C6844A9FAull},
    {"bench_game", Mode::joypad, 0x35C72B9A2C20E3B0ull, 0x478898A08E27C44Full},
    {"bench_game", Mode::reset, 0x7B0959827486F55Full, 0xE00FDCBC560BEC83ull},
    {"bench_sprites", Mode::plain, 0x0F301B051373D795ull, 0xF6971489E6815669ull},
    {"bench_sprites", Mode::fast, 0xFABC43327E6749EFull, 0xF6971489E6815669ull},
    {"bench_sprites", Mode::joypad, 0x0F301B051373D795ull, 0xF6971489E6815669ull},
    {"bench_sprites", Mode::reset, 0x41836712E334AE0Bull, 0xB7485E7B1C3C2FBAull},
    {"bench_compute", Mode::plain, 0xD30601CAAE543F9Eull, 0x410423AE492C0325ull},
    {"bench_compute", Mode::fast, 0x2E4C062217B5CA1Full, 0x410423AE492C0325ull},
    {"bench_compute", Mode::joypad, 0xD30601CAAE543F9Eull, 0x410423AE492C0325ull},
    {"bench_compute", Mode::reset, 0xBB84C5B53D3060FFull, 0x410423AE492C0325ull},
    {"minimal", Mode::plain, 0x49BA59A81CABBB68ull, 0x410423AE492C0325ull},
    {"minimal", Mode::fast, 0x58A6238ABC90842Dull, 0x410423AE492C0325ull},
    {"minimal", Mode::joypad, 0x49BA59A81CABBB68ull, 0x410423AE492C0325ull},
    {"minimal", Mode::reset, 0x49BA59A81CABBB68ull, 0x410423AE492C0325ull},
    {"halt", Mode::plain, 0xA59C89CA3504A36Cull, 0x8065634234789325ull},
    {"halt", Mode::fast, 0xECF3992C270AA9D6ull, 0x8065634234789325ull},
    {"halt", Mode::joypad, 0xA59C89CA3504A36Cull, 0x8065634234789325ull},
    {"halt", Mode::reset, 0xA59C89CA3504A36Cull, 0x8065634234789325ull},
    {"reset", Mode::plain, 0x2E94BBE10F61D3A5ull, 0xA7A6394317524325ull},
    {"reset", Mode::fast, 0x73CFFEE96514CC64ull, 0xA03476D8CB8AE725ull},
    {"reset", Mode::joypad, 0x2E94BBE10F61D3A5ull, 0xA7A6394317524325ull},
    {"reset", Mode::reset, 0x4F32E1EC2A1AA8DEull, 0x22EB3DC72C0D6325ull},
    {"cpu_selfcheck", Mode::plain, 0x3F45CE30D00D22E3ull, 0x410423AE492C0325ull},
    {"cpu_selfcheck", Mode::fast, 0x5ABDC57557617D6Aull, 0x410423AE492C0325ull},
    {"cpu_selfcheck", Mode::joypad, 0x3F45CE30D00D22E3ull, 0x410423AE492C0325ull},
    {"cpu_selfcheck", Mode::reset, 0x3BF2DE267B91309Bull, 0x410423AE492C0325ull},
    {"screen", Mode::plain, 0x4D4975232A217841ull, 0xA92F4F9B90984535ull},
    {"screen", Mode::fast, 0x138DFCD591458824ull, 0xA92F4F9B90984535ull},
    {"screen", Mode::joypad, 0x4D4975232A217841ull, 0xA92F4F9B90984535ull},
    {"screen", Mode::reset, 0x4D4975232A217841ull, 0xA92F4F9B90984535ull},
    {"joypad", Mode::plain, 0x7BAE487F856EA2E2ull, 0x04633B2293C52875ull},
    {"joypad", Mode::fast, 0xDD3D0FAD648B85E0ull, 0x04633B2293C52875ull},
    {"joypad", Mode::joypad, 0x75DC37A5A9FC67BAull, 0x67C5BFCF8126E70Dull},
    {"joypad", Mode::reset, 0x77F6CC2802B153DAull, 0x04633B2293C52875ull},
    {"nmi_count", Mode::plain, 0x28126734FD2B0B59ull, 0x410423AE492C0325ull},
    {"nmi_count", Mode::fast, 0x19631D86A44349ACull, 0x410423AE492C0325ull},
    {"nmi_count", Mode::joypad, 0x28126734FD2B0B59ull, 0x410423AE492C0325ull},
    {"nmi_count", Mode::reset, 0x90588FE43AA0C381ull, 0x410423AE492C0325ull},
    {"dma", Mode::plain, 0xB0AA03C20C9F2ECCull, 0x410423AE492C0325ull},
    {"dma", Mode::fast, 0x39323EBF49145CF5ull, 0x410423AE492C0325ull},
    {"dma", Mode::joypad, 0xB0AA03C20C9F2ECCull, 0x410423AE492C0325ull},
    {"dma", Mode::reset, 0xB0AA03C20C9F2ECCull, 0x410423AE492C0325ull},
    {"countdown", Mode::plain, 0x9FBF8AA9D06E904Bull, 0x410423AE492C0325ull},
    {"countdown", Mode::fast, 0x012F779E42C05492ull, 0x410423AE492C0325ull},
    {"countdown", Mode::joypad, 0x9FBF8AA9D06E904Bull, 0x410423AE492C0325ull},
    {"countdown", Mode::reset, 0x9FBF8AA9D06E904Bull, 0x410423AE492C0325ull},
};
// clang-format on

TEST(GoldenChecksums, EveryCartridgeLeavesTheSameImageAndPictureOnEveryHost) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Surface* surface = SDL_SetVideoMode(320, 240, 16, SDL_SWSURFACE);
    ASSERT_NE(surface, nullptr) << SDL_GetError();
    ASSERT_EQ(surface->format->BytesPerPixel, 2);
    const bool print = std::getenv("QUENRIK_PRINT_GOLDEN") != nullptr;
    std::string differences, table;
    for (const Golden& g : golden) {
        Result r;
        capture_stdout([&] { r = run_cartridge(g.cartridge, g.mode, surface); });  // the loader's lines
        char row[128];
        std::snprintf(row, sizeof row, "    {\"%s\", Mode::%s, 0x%016llXull, 0x%016llXull},\n", g.cartridge,
                      mode_name(g.mode), static_cast<unsigned long long>(r.image),
                      static_cast<unsigned long long>(r.picture));
        table += row;
        if (r.image != g.image || r.picture != g.picture)
            differences += std::string(g.cartridge) + " (" + mode_name(g.mode) + ", " +
                           std::to_string(r.frame_count) + " frames) now:\n" + row;
    }
    SDL_Quit();
    if (print) std::printf("%s", table.c_str());
    EXPECT_EQ(differences, "");
}

}  // namespace
