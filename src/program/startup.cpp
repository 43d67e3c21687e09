#include "program/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include "core/ines.h"
#include "program/emulation.h"
#include "program/surface.h"
#include "program/video.h"

namespace {

void print_usage() {
    std::puts("Use: quenrik <nes rom file> [-fs] [-s|-t] [-f]");
    std::puts("     -fs: Fullscreen Mode");
    std::puts("     -s:  Stats (CPU IPS & fps)");
    std::puts("     -t:  Ejecution Trace is shown");
    std::puts("     -f:  Fast mode (Still Experimental)\n");
}

// Compares one option argument; "-fs" only counts in second place.
void apply_option(const char* argument, bool second_place, RunState& state, bool& full_screen) {
    if (std::strcmp(argument, "-s") == 0) {
        state.evaluation_mode = 1;
        std::puts("Evaluation mode enabled\n");
    } else if (std::strcmp(argument, "-t") == 0) {
        state.trace_mode = 1;
        std::puts("Trace mode enabled\n");
    } else if (std::strcmp(argument, "-f") == 0) {
        state.fast_mode = 1;
        std::puts("Fast mode enabled\n");
    } else if (second_place && std::strcmp(argument, "-fs") == 0) {
        full_screen = true;
        std::puts("Full Screen Mode Enabled\n");
    }
}

// A standard stream that was closed when the program started would hand its number to the next
// file opened: the display connection would then take debugger commands from, or receive the
// program's text on, the X protocol. Closed streams are given /dev/null instead.
void fill_closed_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != -1 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

}  // namespace

void start_up(int argc, char** argv, RunState& state, std::uint8_t* image, bool& full_screen) {
    fill_closed_standard_streams();
    run_state_reset(state);
    machine_image_clear(image);
    full_screen = false;

    const int arguments = argc - 1;
    if (arguments < 1) {
        print_usage();
        std::fflush(stdout);
        int ignored = std::system("PAUSE");
        (void)ignored;
        std::exit(0);
    }

    // Only the second argument counts when there are four or more.
    if (arguments >= 2) apply_option(argv[2], true, state, full_screen);
    if (arguments == 3) apply_option(argv[3], false, state, full_screen);

    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::fwrite("File not found.\n", 1, 16, stderr);
        std::exit(-1);
    }
    load_ines(file, image, state.mirroring, state.mapper);
    std::fclose(file);
    image[priv::mirroring] = static_cast<std::uint8_t>(state.mirroring);
}

int quenrik_main(int argc, char** argv, RunState& state, std::uint8_t* image) {
    bool full_screen = false;
    start_up(argc, argv, state, image, full_screen);

    state.surface = screen_of(video_open(full_screen));
    SDL_Delay(500);

    static EmulationContext context{&state, image};
    SDL_Thread* thread = SDL_CreateThread(emulation_thread, &context);
    if (thread == nullptr) {
        std::printf("Unable to start the emulation thread: %s\n", SDL_GetError());
        std::exit(1);
    }
    event_loop(state.quit, state.reset_request);

    // Gives the emulation thread time to leave its loop and print its statistics.
    SDL_Delay(100);
    SDL_KillThread(thread);
    return 0;
}
