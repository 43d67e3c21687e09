// Benchmark frontend for libretro cores: loads a core and a cartridge, runs some frames of
// warm-up, then times a fixed number of retro_run calls. No window, no sound, no input: every
// callback does the least a frontend may do, so the time measured is the core's own. `make bench`
// runs it on quenrik's core and on any other NES core installed, and under callgrind.
//
// usage: libretro_bench <core.so> <game.nes> <frames> [warmup] [--option key=value]... [--log]
//                       [--audio FILE]
//
// Prints one line:
//   libretro_bench: <library> <version>, <cartridge>, <frames> frames, <s> s, <fps> fps, frame <fnv>
// The frame checksum (FNV-1a over the visible pixels of the last frame) is the same in two runs
// of the same core, cartridge, options and frame counts.
//
// --audio FILE keeps every sample the core hands over, warm-up frames included, in FILE as raw
// stereo 16-bit little-endian, and then prints on stderr:
//   libretro_bench: audio <rate> Hz, <fps> fps, <n> stereo frames
// with the sample rate and frame rate the core reported (the time measured then includes the
// writing).
#include <dlfcn.h>
#include <libretro.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// ---- The core's entry points ------------------------------------------------------------------
struct Core {
    void* library = nullptr;
    void (*set_environment)(retro_environment_t) = nullptr;
    void (*set_video_refresh)(retro_video_refresh_t) = nullptr;
    void (*set_audio_sample)(retro_audio_sample_t) = nullptr;
    void (*set_audio_sample_batch)(retro_audio_sample_batch_t) = nullptr;
    void (*set_input_poll)(retro_input_poll_t) = nullptr;
    void (*set_input_state)(retro_input_state_t) = nullptr;
    unsigned (*api_version)() = nullptr;
    void (*init)() = nullptr;
    void (*deinit)() = nullptr;
    void (*get_system_info)(retro_system_info*) = nullptr;
    void (*get_system_av_info)(retro_system_av_info*) = nullptr;
    bool (*load_game)(const retro_game_info*) = nullptr;
    void (*unload_game)() = nullptr;
    void (*run)() = nullptr;
};

template <typename Function>
bool bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr) std::fprintf(stderr, "libretro_bench: the core has no %s\n", name);
    return function != nullptr;
}

bool open_core(const char* path, Core& core) {
    core.library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (core.library == nullptr) {
        std::fprintf(stderr, "libretro_bench: %s\n", dlerror());
        return false;
    }
    void* l = core.library;
    return bind(l, "retro_set_environment", core.set_environment) &&
           bind(l, "retro_set_video_refresh", core.set_video_refresh) &&
           bind(l, "retro_set_audio_sample", core.set_audio_sample) &&
           bind(l, "retro_set_audio_sample_batch", core.set_audio_sample_batch) &&
           bind(l, "retro_set_input_poll", core.set_input_poll) &&
           bind(l, "retro_set_input_state", core.set_input_state) &&
           bind(l, "retro_api_version", core.api_version) && bind(l, "retro_init", core.init) &&
           bind(l, "retro_deinit", core.deinit) && bind(l, "retro_get_system_info", core.get_system_info) &&
           bind(l, "retro_get_system_av_info", core.get_system_av_info) &&
           bind(l, "retro_load_game", core.load_game) && bind(l, "retro_unload_game", core.unload_game) &&
           bind(l, "retro_run", core.run);
}

// ---- What the callbacks see and keep ------------------------------------------------------------
struct Option {
    std::string key, value;
    bool asked;  // a core that never asks for an option runs without it: that is a wrong figure
};

struct Frontend {
    std::vector<Option> options;  // --option key=value
    std::string scratch_folder;                                 // system and save directory
    bool log = false;                                           // the core's log on stderr
    std::FILE* audio = nullptr;                                 // --audio: where samples go
    std::uint64_t audio_frames = 0;                             // stereo frames written there
    retro_pixel_format pixel_format = RETRO_PIXEL_FORMAT_0RGB1555;
    std::uint64_t frames = 0;  // video_refresh calls, duplicates included
    const void* last_frame = nullptr;
    unsigned width = 0, height = 0;
    std::size_t pitch = 0;
};

Frontend frontend;

void RETRO_CALLCONV log_message(retro_log_level, const char* format, ...) {
    if (!frontend.log) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

bool RETRO_CALLCONV environment(unsigned command, void* data) {
    switch (command) {
        case RETRO_ENVIRONMENT_GET_CAN_DUPE:
            *static_cast<bool*>(data) = true;
            return true;
        case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT: {
            const auto format = *static_cast<const retro_pixel_format*>(data);
            if (format != RETRO_PIXEL_FORMAT_RGB565 && format != RETRO_PIXEL_FORMAT_XRGB8888) return false;
            frontend.pixel_format = format;
            return true;
        }
        case RETRO_ENVIRONMENT_GET_LOG_INTERFACE:
            static_cast<retro_log_callback*>(data)->log = log_message;
            return true;
        case RETRO_ENVIRONMENT_GET_VARIABLE: {
            auto* variable = static_cast<retro_variable*>(data);
            variable->value = nullptr;
            if (variable->key == nullptr) return false;
            for (Option& option : frontend.options)
                if (option.key == variable->key) {
                    option.asked = true;
                    variable->value = option.value.c_str();
                    return true;
                }
            return false;
        }
        case RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY:
        case RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY:
            *static_cast<const char**>(data) = frontend.scratch_folder.c_str();
            return true;
        default:
            return false;
    }
}

// A duplicate (data null) leaves the last frame as it was. The pointer is kept, not the pixels:
// copying them would add its own time to every frame, and the checksum is taken right after the
// last retro_run, while the core still holds the frame it showed.
void RETRO_CALLCONV video_refresh(const void* data, unsigned width, unsigned height, std::size_t pitch) {
    ++frontend.frames;
    if (data == nullptr) return;
    frontend.last_frame = data;
    frontend.width = width;
    frontend.height = height;
    frontend.pitch = pitch;
}

void RETRO_CALLCONV audio_sample(std::int16_t, std::int16_t) {}
std::size_t RETRO_CALLCONV audio_sample_batch(const std::int16_t*, std::size_t frames) { return frames; }

// --audio: the samples as they come, little-endian whatever the host.
void write_samples(const std::int16_t* data, std::size_t frames) {
    std::uint8_t bytes[4096];
    std::size_t used = 0;
    for (std::size_t i = 0; i < frames * 2; ++i) {
        const auto sample = static_cast<std::uint16_t>(data[i]);
        bytes[used++] = static_cast<std::uint8_t>(sample);
        bytes[used++] = static_cast<std::uint8_t>(sample >> 8);
        if (used == sizeof bytes || i + 1 == frames * 2) {
            std::fwrite(bytes, 1, used, frontend.audio);
            used = 0;
        }
    }
    frontend.audio_frames += frames;
}
void RETRO_CALLCONV record_sample(std::int16_t left, std::int16_t right) {
    const std::int16_t frame[2] = {left, right};
    write_samples(frame, 1);
}
std::size_t RETRO_CALLCONV record_sample_batch(const std::int16_t* data, std::size_t frames) {
    write_samples(data, frames);
    return frames;
}
void RETRO_CALLCONV input_poll() {}
std::int16_t RETRO_CALLCONV input_state(unsigned, unsigned, unsigned, unsigned) { return 0; }

// FNV-1a over the visible bytes of each row (the padding at a row's end is not the picture).
std::uint32_t frame_checksum() {
    if (frontend.last_frame == nullptr) return 0;
    const std::size_t bytes_per_pixel = frontend.pixel_format == RETRO_PIXEL_FORMAT_XRGB8888 ? 4 : 2;
    std::uint32_t hash = 2166136261u;
    for (unsigned y = 0; y < frontend.height; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(frontend.last_frame) + y * frontend.pitch;
        for (std::size_t i = 0; i < frontend.width * bytes_per_pixel; ++i) hash = (hash ^ row[i]) * 16777619u;
    }
    return hash;
}

// The timed frames, out of line so that callgrind can count them alone (--toggle-collect).
[[gnu::noinline]] void run_measured_frames(const Core& core, long frames) {
    for (long i = 0; i < frames; ++i) core.run();
}

int usage() {
    std::fputs("usage: libretro_bench <core.so> <game.nes> <frames> [warmup] [--option key=value]... [--log]\n"
               "                      [--audio FILE]\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> positional;
    const char* audio_path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--log") {
            frontend.log = true;
        } else if (argument == "--option" && i + 1 < argc) {
            const std::string pair = argv[++i];
            const auto equals = pair.find('=');
            if (equals == std::string::npos || equals == 0) return usage();
            frontend.options.push_back({pair.substr(0, equals), pair.substr(equals + 1), false});
        } else if (argument == "--audio" && i + 1 < argc) {
            audio_path = argv[++i];
        } else if (argument.starts_with("--")) {
            return usage();
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() < 3 || positional.size() > 4) return usage();
    const char* core_path = positional[0];
    const char* game_path = positional[1];
    const long frames = std::strtol(positional[2], nullptr, 10);
    const long warmup = positional.size() == 4 ? std::strtol(positional[3], nullptr, 10) : 60;
    if (frames <= 0 || frames > 100000000 || warmup < 0 || warmup > 100000000) return usage();

    std::ifstream file(game_path, std::ios::binary);
    const std::vector<char> game{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "libretro_bench: cannot read %s\n", game_path);
        return 1;
    }
    char scratch[] = "/tmp/libretro-bench.XXXXXX";
    if (mkdtemp(scratch) == nullptr) {
        std::perror("libretro_bench: mkdtemp");
        return 1;
    }
    frontend.scratch_folder = scratch;
    if (audio_path != nullptr && (frontend.audio = std::fopen(audio_path, "wb")) == nullptr) {
        std::perror(audio_path);
        return 1;
    }

    Core core;
    if (!open_core(core_path, core)) return 1;
    if (core.api_version() != RETRO_API_VERSION) {
        std::fprintf(stderr, "libretro_bench: the core speaks libretro API %u, not %u\n", core.api_version(),
                     RETRO_API_VERSION);
        return 1;
    }
    // The order a frontend follows: environment first (cores ask for options while set up).
    core.set_environment(environment);
    core.init();
    core.set_video_refresh(video_refresh);
    core.set_audio_sample(frontend.audio != nullptr ? record_sample : audio_sample);
    core.set_audio_sample_batch(frontend.audio != nullptr ? record_sample_batch : audio_sample_batch);
    core.set_input_poll(input_poll);
    core.set_input_state(input_state);

    retro_system_info system{};
    core.get_system_info(&system);
    // The bytes for a core that loads from memory, the path always (a core that wants the file
    // opens it itself).
    retro_game_info info{};
    info.path = game_path;
    if (!system.need_fullpath) {
        info.data = game.data();
        info.size = game.size();
    }
    int status = 0;
    if (!core.load_game(&info)) {
        std::fprintf(stderr, "libretro_bench: %s did not load %s\n", system.library_name, game_path);
        status = 1;
    } else {
        for (long i = 0; i < warmup; ++i) core.run();
        const std::uint64_t first_frame = frontend.frames;
        const auto start = std::chrono::steady_clock::now();
        run_measured_frames(core, frames);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        const std::uint32_t checksum = frame_checksum();
        const std::uint64_t shown = frontend.frames - first_frame;
        const char* slash = std::strrchr(game_path, '/');
        std::string version = system.library_version;  // some cores end it with a space
        while (!version.empty() && version.back() == ' ') version.pop_back();
        std::printf("libretro_bench: %s %s, %s, %ld frames, %.3f s, %.0f fps, frame %08x\n", system.library_name,
                    version.c_str(), slash != nullptr ? slash + 1 : game_path, frames, elapsed.count(),
                    static_cast<double>(frames) / elapsed.count(), checksum);
        std::fflush(stdout);  // before any complaint on stderr
        // One retro_run is one frame: a core that showed more or fewer has timed something else.
        if (shown != static_cast<std::uint64_t>(frames)) {
            std::fprintf(stderr, "libretro_bench: %llu frames shown in %ld runs\n",
                         static_cast<unsigned long long>(shown), frames);
            status = 1;
        }
        if (frontend.audio != nullptr) {
            retro_system_av_info av{};
            core.get_system_av_info(&av);
            std::fprintf(stderr, "libretro_bench: audio %.0f Hz, %.6f fps, %llu stereo frames\n", av.timing.sample_rate,
                         av.timing.fps, static_cast<unsigned long long>(frontend.audio_frames));
        }
        for (const Option& option : frontend.options)
            if (!option.asked) {
                std::fprintf(stderr, "libretro_bench: the core never asked for %s\n", option.key.c_str());
                status = 1;
            }
        core.unload_game();
    }
    core.deinit();
    dlclose(core.library);
    if (frontend.audio != nullptr && std::fclose(frontend.audio) != 0) {
        std::perror(audio_path);
        status = 1;
    }
    std::remove(scratch);  // empty unless the core saved something, which is then left for a look
    return status;
}
