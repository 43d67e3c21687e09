#include "core_frontend.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "core/ines.h"
#include "core/pass_loop.h"
#include "host/surface.h"

CoreApi core;
Frontend fe;

namespace {

void log(retro_log_level level, const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::string line = text;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    fe.log.push_back({level, line});
}

bool environment(unsigned command, void* data) {
    switch (command) {
    case RETRO_ENVIRONMENT_GET_CAN_DUPE: *static_cast<bool*>(data) = fe.can_dupe; return true;
    case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT:
        return *static_cast<const retro_pixel_format*>(data) == RETRO_PIXEL_FORMAT_RGB565;
    case RETRO_ENVIRONMENT_GET_LOG_INTERFACE: static_cast<retro_log_callback*>(data)->log = log; return true;
    case RETRO_ENVIRONMENT_GET_VARIABLE: {
        auto* variable = static_cast<retro_variable*>(data);
        auto set = fe.options.find(variable->key);
        auto fallback = fe.option_defaults.find(variable->key);
        variable->value = set != fe.options.end()                ? set->second.c_str()
                          : fallback != fe.option_defaults.end() ? fallback->second.c_str()
                                                                 : nullptr;
        return variable->value != nullptr;
    }
    case RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE:
        *static_cast<bool*>(data) = std::exchange(fe.options_updated, false);
        return true;
    case RETRO_ENVIRONMENT_SET_MESSAGE: fe.messages.push_back(static_cast<const retro_message*>(data)->msg); return true;
    case RETRO_ENVIRONMENT_SET_MEMORY_MAPS: {
        const auto* map = static_cast<const retro_memory_map*>(data);
        fe.memory_maps.assign(map->descriptors, map->descriptors + map->num_descriptors);
        return true;
    }
    case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS:
        fe.inputs.clear();
        for (const auto* d = static_cast<const retro_input_descriptor*>(data); d->description != nullptr; ++d)
            fe.inputs.push_back(*d);
        return true;
    case RETRO_ENVIRONMENT_GET_CORE_OPTIONS_VERSION: *static_cast<unsigned*>(data) = fe.options_version; return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2:
        if (fe.options_version < 2) return false;
        for (const auto* d = static_cast<const retro_core_options_v2*>(data)->definitions; d->key != nullptr; ++d)
            fe.option_defaults[d->key] = d->default_value;
        return true;
    case RETRO_ENVIRONMENT_SET_VARIABLES:  // "description; first|second": the first is the default
        for (const auto* v = static_cast<const retro_variable*>(data); v->key != nullptr; ++v) {
            const std::string values = std::strchr(v->value, ';') + 2;
            fe.option_defaults[v->key] = values.substr(0, values.find('|'));
        }
        return true;
    case RETRO_ENVIRONMENT_SET_GEOMETRY: fe.geometry = *static_cast<const retro_game_geometry*>(data); return true;
    default: return false;
    }
}

void video(const void* data, unsigned width, unsigned height, std::size_t pitch) {
    ++fe.frames;
    if (data == nullptr) {
        ++fe.dupes;
        return;
    }
    fe.width = width;
    fe.height = height;
    fe.picture.resize(std::size_t{width} * height);
    for (unsigned y = 0; y < height; ++y)
        std::memcpy(&fe.picture[y * width], static_cast<const std::uint8_t*>(data) + y * pitch, width * 2);
}

std::size_t audio_batch(const std::int16_t* data, std::size_t frames) {
    fe.sample_frames += frames;
    for (std::size_t i = 0; i < 2 * frames; ++i) fe.sound = fe.sound || data[i] != 0;
    return frames;
}

void audio_sample(std::int16_t, std::int16_t) { fe.sound = true; }  // the core sends batches only
void input_poll() {}

std::int16_t input_state(unsigned port, unsigned device, unsigned, unsigned id) {
    // The pad's read order: A B Select Start Up Down Left Right; the RetroPad's ids differ.
    static constexpr int slot_of_id[16] = {1, -1, 2, 3, 4, 5, 6, 7, 0, -1, -1, -1, -1, -1, -1, -1};
    if (port != 0 || device != RETRO_DEVICE_JOYPAD || id >= 16 || slot_of_id[id] < 0) return 0;
    return (fe.pad >> slot_of_id[id]) & 1;
}

}  // namespace

void core_start(unsigned options_version) {
    static void* library = [] {
        void* handle = dlopen(QUENRIK_CORE, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::abort();
        }
#define CORE_LOOKUP(name)                                                                  \
    core.name = reinterpret_cast<decltype(core.name)>(dlsym(handle, #name));                \
    if (core.name == nullptr) std::abort();
        CORE_FUNCTIONS(CORE_LOOKUP)
#undef CORE_LOOKUP
        return handle;
    }();
    (void)library;
    fe = Frontend{};
    fe.options_version = options_version;
    core.retro_set_environment(environment);
    core.retro_set_video_refresh(video);
    core.retro_set_audio_sample(audio_sample);
    core.retro_set_audio_sample_batch(audio_batch);
    core.retro_set_input_poll(input_poll);
    core.retro_set_input_state(input_state);
    core.retro_init();
}

void core_stop() {
    core.retro_unload_game();
    core.retro_deinit();
}

std::vector<std::uint8_t> file_bytes(const std::string& cartridge) {
    std::ifstream file(cartridge_path(cartridge), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool load(const std::vector<std::uint8_t>& bytes) {
    fe.picture.assign(256 * 240, 0);
    fe.width = 256;
    fe.height = 240;
    const retro_game_info game{nullptr, bytes.data(), bytes.size(), nullptr};
    return core.retro_load_game(&game);
}

std::vector<std::uint8_t> save() {
    std::vector<std::uint8_t> state(core.retro_serialize_size());
    if (!core.retro_serialize(state.data(), state.size())) state.clear();
    return state;
}

bool restore(const std::vector<std::uint8_t>& state) { return core.retro_unserialize(state.data(), state.size()); }

bool logged(retro_log_level level, const std::string& part, std::size_t from) {
    for (std::size_t i = from; i < fe.log.size(); ++i)
        if (fe.log[i].level == level && fe.log[i].text.find(part) != std::string::npos) return true;
    return false;
}

// ---- The program ----------------------------------------------------------------------------
bool Program::load(const std::vector<std::uint8_t>& bytes, bool fast) {
    // The program reads a file: an empty one is /dev/null here, as fmemopen takes no empty buffer.
    std::FILE* file = bytes.empty() ? std::fopen("/dev/null", "rb")
                                    : fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb");
    bool taken = false;
    capture_stdout([&] { taken = load_ines_image(file, image, state.mirroring, state.mapper); });
    std::fclose(file);
    if (!taken) return false;
    image[priv::mirroring] = static_cast<std::uint8_t>(state.mirroring);
    state.fast_mode = fast ? 1 : 0;
    state.frame_skip = 1;
    state.surface = screen_of(surface);
    emulation_prepare(state, image);
    return true;
}

void Program::frame(std::uint8_t pad) {
    static constexpr SDLKey keys[8] = {SDLK_x, SDLK_z, SDLK_a, SDLK_s, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};
    Uint8* held = SDL_GetKeyState(nullptr);
    for (std::uint32_t i = 0; i < 8; ++i) held[keys[i]] = (pad >> i) & 1;
    emulation_run(state, image, SDL_GetTicks(), passes_per_frame);
}

Picture Program::picture() const {
    Picture picture(256 * 240);
    for (int y = 0; y < 240; ++y)
        std::memcpy(&picture[y * 256], static_cast<const std::uint8_t*>(surface->pixels) + y * surface->pitch + 64, 512);
    return picture;
}

std::vector<std::uint8_t> Program::state_bytes() const {
    std::vector<std::uint8_t> bytes(state_fields);
    std::memcpy(bytes.data(), "QNRK\x01\0\0\0", 8);
    std::memcpy(bytes.data() + 8, image, image_size);
    auto put = [&](std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    const CpuRegisters& r = state.registers;
    for (std::uint8_t byte : {r.a, r.x, r.y, r.sp, r.p}) put(byte, 1);
    put(r.pc, 4);
    put(state.opcode, 1);
    for (std::uint32_t word : {state.nmi_request, state.interrupt_cause, state.reset_request.get()}) put(word, 4);
    put(state.cycle_count, 8);
    for (std::uint32_t word : {state.line_cycles, state.scanline, state.frame_count, state.mirroring, state.mapper})
        put(word, 4);
    return bytes;
}
