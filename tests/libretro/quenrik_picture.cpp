// The standalone program's picture after N frames, for the RetroArch and web page tests to compare
// the libretro core's frames and the page's with. It runs the program's own start-up (options, loader), opens its surface on
// SDL's dummy driver, and runs the emulation thread's loop with every frame drawn (frame skip 1),
// 8228 passes (one frame) at a time; the picture is then columns 32-287 of the 320x240 surface.
//
// usage: quenrik_picture <nes rom file> <output prefix> [-f] [-r F] [F:buttons]... N...
//   -f          fast mode, as the program's -f
//   -r F        the R key after F frames have run (a reset request, as the window makes it)
//   F:buttons   from frame F + 1 on (after F frames have run) the joypad holds these buttons,
//               joined by '+' from a, b, select, start, up, down, left, right; "F:" holds none.
//               They are held through the program's own key path: the keys that the window maps
//               to the buttons (X, Z, A, S, arrows) are set in SDL's key-state array.
//   N           write the picture after N frames to <prefix>N.ppm (binary PPM, 256x240; each
//               RGB565 channel widened to 8 bits by repeating its top bits, so the top 5, 6 and
//               5 bits of the channels are the surface's pixel)
//   N-M         the pictures after N to M frames, each only where it differs from the one before
//               it: <prefix>N.ppm, then <prefix>K.ppm for every K up to M whose picture is new
// The frame counts and input frames may come in any order. The program's text (the loader's report,
// an unknown opcode's message) goes to standard output as the program prints it; a run that the
// program ends by itself (an unknown opcode) keeps its last picture for the frames that follow.
#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/machine.h"
#include "program/startup.h"
#include "program/emulation.h"
#include "program/surface.h"
#include "program/video.h"

namespace {

RunState run_state;
MachineImage machine_image;

constexpr std::uint64_t passes_per_frame = 242 * 34;  // line steps per frame × passes per step

int usage() {
    std::fputs("usage: quenrik_picture <nes rom file> <output prefix> [-f] [-r F] [F:buttons]... N...\n", stderr);
    return 2;
}

bool parse_frame(const std::string& text, std::uint32_t& frame) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    frame = static_cast<std::uint32_t>(std::stoul(text));
    return true;
}

// The buttons in the joypad's read order and the keys the window maps to them.
constexpr const char* button_names[8] = {"a", "b", "select", "start", "up", "down", "left", "right"};
constexpr SDLKey button_keys[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};

bool parse_buttons(const std::string& text, std::uint8_t& mask) {
    mask = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('+', start);
        if (end == std::string::npos) end = text.size();
        const std::string name = text.substr(start, end - start);
        int found = -1;
        for (int i = 0; i < 8; ++i)
            if (name == button_names[i]) found = i;
        if (found < 0) return false;
        mask = static_cast<std::uint8_t>(mask | (1u << found));
        start = end + 1;
    }
    return true;
}

void hold_buttons(std::uint8_t mask) {
    Uint8* keys = SDL_GetKeyState(nullptr);
    for (int i = 0; i < 8; ++i) keys[button_keys[i]] = (mask >> i) & 1u;
}

std::uint8_t widen(std::uint32_t value, int bits) {
    return static_cast<std::uint8_t>((value << (8 - bits)) | (value >> (2 * bits - 8)));
}

// The 256x240 picture: surface columns 32-287 of every row.
std::vector<std::uint16_t> picture(const SDL_Surface* surface) {
    std::vector<std::uint16_t> pixels(256 * 240);
    for (int y = 0; y < 240; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(
                              static_cast<const std::uint8_t*>(surface->pixels) + y * surface->pitch) + 32;
        std::copy(row, row + 256, pixels.begin() + 256 * y);
    }
    return pixels;
}

bool write_picture(const std::vector<std::uint16_t>& pixels, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    std::fprintf(file, "P6\n256 240\n255\n");
    std::vector<std::uint8_t> row(256 * 3);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 256; ++x) {
            const std::uint32_t p = pixels[256 * y + x];
            row[3 * x] = widen(p >> 11, 5);
            row[3 * x + 1] = widen((p >> 5) & 63, 6);
            row[3 * x + 2] = widen(p & 31, 5);
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    const std::string prefix = argv[2];
    bool fast = false;
    bool reset = false;
    std::uint32_t reset_frame = 0;
    std::map<std::uint32_t, std::uint8_t> input;  // frame after which the held buttons change
    std::vector<std::uint32_t> shots;
    std::vector<std::uint32_t> single;  // frames asked for one by one: written even inside a range
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (int i = 3; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::size_t colon = argument.find(':');
        std::uint32_t frame = 0;
        std::uint8_t mask = 0;
        if (argument == "-f") {
            fast = true;
        } else if (argument == "-r" && i + 1 < argc && parse_frame(argv[i + 1], reset_frame)) {
            reset = true;
            ++i;
        } else if (colon != std::string::npos) {
            if (!parse_frame(argument.substr(0, colon), frame) || !parse_buttons(argument.substr(colon + 1), mask))
                return usage();
            input[frame] = mask;
        } else if (parse_frame(argument, frame) && frame > 0) {
            shots.push_back(frame);
            single.push_back(frame);
        } else if (const std::size_t dash = argument.find('-'); dash != std::string::npos &&
                   parse_frame(argument.substr(0, dash), frame) && frame > 0) {
            std::uint32_t last = 0;
            if (!parse_frame(argument.substr(dash + 1), last) || last < frame || last - frame > 100000)
                return usage();
            ranges.emplace_back(frame, last);
            for (std::uint32_t f = frame; f <= last; ++f) shots.push_back(f);
        } else {
            return usage();
        }
    }
    if (shots.empty()) return usage();
    std::sort(shots.begin(), shots.end());
    shots.erase(std::unique(shots.begin(), shots.end()), shots.end());
    setenv("SDL_VIDEODRIVER", "dummy", 1);  // never a window

    // The program's own start-up, with the fast-mode option if asked for.
    static char fast_option[] = "-f";
    char* program_arguments[] = {argv[0], argv[1], fast ? fast_option : nullptr, nullptr};
    bool full_screen = false;
    start_up(fast ? 3 : 2, program_arguments, run_state, machine_image, full_screen);
    SDL_Surface* surface = video_open(false);
    run_state.surface = screen_of(surface);
    const SDL_PixelFormat* format = surface->format;
    if (surface->w != 320 || surface->h != 240 || format->BytesPerPixel != 2 ||
        format->Rmask != 0xF800 || format->Gmask != 0x07E0 || format->Bmask != 0x001F) {
        std::fputs("quenrik_picture: the surface is not 320x240 RGB565\n", stderr);
        return 1;
    }
    hold_buttons(0);

    // As the emulation thread, but with every frame drawn instead of a measured frame skip.
    emulation_prepare(run_state, machine_image);
    run_state.frame_skip = 1;

    std::vector<std::uint16_t> previous;  // the picture of the frame before, inside a range

    // Runs from one event (an input change or a picture) to the next.
    std::vector<std::uint32_t> stops(shots);
    for (const auto& [frame, mask] : input) stops.push_back(frame);
    if (reset) stops.push_back(reset_frame);
    std::sort(stops.begin(), stops.end());
    stops.erase(std::unique(stops.begin(), stops.end()), stops.end());
    std::uint32_t done = 0;
    for (const std::uint32_t stop : stops) {
        if (stop > done) {
            if (run_state.quit.get() == 0) emulation_run(run_state, machine_image, 0, (stop - done) * passes_per_frame);
            done = stop;
        }
        if (const auto change = input.find(stop); change != input.end()) hold_buttons(change->second);
        if (reset && stop == reset_frame) run_state.reset_request.set(1);
        if (std::binary_search(shots.begin(), shots.end(), stop)) {
            const std::vector<std::uint16_t> now = picture(surface);
            // Inside a range only a new picture is written; a single frame always is.
            bool write = std::find(single.begin(), single.end(), stop) != single.end();
            for (const auto& [first, last] : ranges)
                if (stop >= first && stop <= last && (stop == first || now != previous)) write = true;
            previous = now;
            const std::string path = prefix + std::to_string(stop) + ".ppm";
            if (write && !write_picture(now, path)) {
                std::fprintf(stderr, "quenrik_picture: cannot write %s\n", path.c_str());
                return 1;
            }
        }
    }
    SDL_Quit();
    return 0;
}
