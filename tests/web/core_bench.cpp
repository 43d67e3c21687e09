// Frames a second of the libretro core natively, driven through the web page's own frontend
// (src/web/web.cpp) exactly as the page drives it in the browser: the figure that make test-web
// prints beside the browser's.
//
// usage: web_core_bench <nes file> <frames> [-f]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
void web_start();
int web_load_cartridge(const std::uint8_t* data, std::uint32_t size);
std::uint32_t web_run_frames(std::uint32_t count);
void web_set_fast_mode(int on);
const char* web_take_log();
}

int main(int argc, char** argv) {
    const long frames = argc >= 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    const bool fast = argc == 4 && std::strcmp(argv[3], "-f") == 0;
    if (frames <= 0 || frames > 1000000 || (argc == 4 && !fast) || argc > 4) {
        std::fputs("usage: web_core_bench <nes file> <frames> [-f]\n", stderr);
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);

    web_start();
    web_set_fast_mode(fast ? 1 : 0);
    if (web_load_cartridge(bytes.data(), static_cast<std::uint32_t>(bytes.size())) != 1) {
        std::fputs(web_take_log(), stderr);
        return 1;
    }
    web_run_frames(120);  // past the cartridges' start-up work, as in the page
    const auto start = std::chrono::steady_clock::now();
    web_run_frames(static_cast<std::uint32_t>(frames));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    web_take_log();
    std::printf("web_core_bench: %ld frames, %.3f s, %.0f frames a second\n", frames, elapsed.count(),
                frames / elapsed.count());
    return 0;
}
