// Benchmark driver: runs a cartridge through the emulator's own loop for a fixed number of
// frames, every frame drawn, on a headless surface. `make bench` runs it under callgrind to
// count the host instructions spent per emulated frame, a figure that does not depend on the
// load of the machine.
//
// usage: quenrik_bench <nes rom file> <frames> [-f]
#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/machine.h"
#include "program/startup.h"
#include "program/emulation.h"
#include "program/surface.h"
#include "program/video.h"

namespace {

RunState run_state;
MachineImage machine_image;

constexpr std::uint64_t passes_per_frame = 242 * 34;  // line steps per frame × passes per step
constexpr std::uint32_t warmup_frames = 60;           // past the cartridges' start-up work

// FNV-1a, to show that two builds left the same machine and the same picture behind.
std::uint32_t checksum(const std::uint8_t* bytes, std::size_t count, std::uint32_t hash = 2166136261u) {
    for (std::size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

std::uint32_t picture_checksum(const SDL_Surface* surface) {
    std::uint32_t hash = 2166136261u;
    for (int y = 0; y < surface->h; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(surface->pixels) + y * surface->pitch;
        hash = checksum(row, static_cast<std::size_t>(surface->w) * surface->format->BytesPerPixel, hash);
    }
    return hash;
}

// The measured frames, out of line so that callgrind can count them alone (--toggle-collect).
[[gnu::noinline]] void run_measured_frames(std::uint32_t frames) {
    emulation_run(run_state, machine_image, 0, frames * passes_per_frame);
}

}  // namespace

int main(int argc, char** argv) {
    const bool fast = argc == 4 && std::strcmp(argv[3], "-f") == 0;
    const long frames = argc >= 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (frames <= 0 || frames > 1000000 || (argc == 4 && !fast) || argc > 4) {
        std::fputs("usage: quenrik_bench <nes rom file> <frames> [-f]\n", stderr);
        return 2;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);  // never a window

    // The program's own start-up (options, loader), with the fast-mode option if asked for.
    static char fast_option[] = "-f";
    char* program_arguments[] = {argv[0], argv[1], fast ? fast_option : nullptr, nullptr};
    bool full_screen = false;
    start_up(fast ? 3 : 2, program_arguments, run_state, machine_image, full_screen);
    run_state.surface = screen_of(video_open(false));

    // As the emulation thread, but with every frame drawn instead of a measured frame skip.
    emulation_prepare(run_state, machine_image);
    run_state.frame_skip = 1;
    emulation_run(run_state, machine_image, 0, warmup_frames * passes_per_frame);

    const std::uint32_t first_frame = run_state.frame_count;
    const auto start = std::chrono::steady_clock::now();
    run_measured_frames(static_cast<std::uint32_t>(frames));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    if (run_state.quit.get() == 1 || run_state.frame_count - first_frame != static_cast<std::uint32_t>(frames)) {
        std::printf("quenrik_bench: the run stopped after %u frames\n",
                    static_cast<unsigned>(run_state.frame_count - first_frame));
        return 1;
    }
    std::printf("bench: %ld frames, %llu instructions, %.3f s, image %08x, picture %08x\n", frames,
                static_cast<unsigned long long>(frames * passes_per_frame), elapsed.count(),
                checksum(machine_image, image_size), picture_checksum(surface_of(run_state.surface)));
    SDL_Quit();
    return 0;
}
