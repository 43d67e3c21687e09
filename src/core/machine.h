// The machine image and the run state: everything the emulated console is.
#pragma once

#include <atomic>
#include <cstdint>

struct Screen;

// ---- The machine image -------------------------------------------------------------------
// CPU space at 0x0000-0xFFFF, PPU space at 0x10000-0x13FFF, emulator private state at
// 0x0800-0x0FFF (which the CPU can never reach).
constexpr std::uint32_t image_size = 0x14000;
using MachineImage = std::uint8_t[image_size];

constexpr std::uint32_t ppu_space = 0x10000;  // image index of PPU address 0x0000

// Private area of the image.
namespace priv {
constexpr std::uint32_t joypad_index = 0x0801;
constexpr std::uint32_t joypad_port2_reads = 0x0802;
constexpr std::uint32_t joypad_strobe = 0x0810;
constexpr std::uint32_t button_states = 0x0820;  // 8 bytes: A B Select Start Up Down Left Right
constexpr std::uint32_t ppu_write_toggle = 0x0850;
constexpr std::uint32_t vram_addr_hi = 0x0851;
constexpr std::uint32_t vram_addr_lo = 0x0852;
constexpr std::uint32_t sprite_addr_toggle = 0x0853;
constexpr std::uint32_t sprite_addr_hi = 0x0854;
constexpr std::uint32_t sprite_addr_lo = 0x0855;
constexpr std::uint32_t line_sprites = 0x0870;  // 65 bytes, ended by 0xFF
constexpr std::uint32_t display_update = 0x08FF;
constexpr std::uint32_t sprite_memory = 0x0900;  // 256 bytes: 64 sprites of Y, tile, attributes, X
constexpr std::uint32_t dma_index = 0x0A01;
constexpr std::uint32_t dma_page = 0x0A02;
constexpr std::uint32_t dma_active = 0x0A03;
constexpr std::uint32_t mirroring = 0x0A05;
constexpr std::uint32_t vram_addr_pending = 0x0A07;
constexpr std::uint32_t scroll_x = 0x0A08;
constexpr std::uint32_t scroll_y = 0x0A09;
constexpr std::uint32_t vram_read_buffer = 0x0A0A;
constexpr std::uint32_t sprite0_hit_cycle = 0x0A0B;
// The CPU's IRQ input as a level, 0 or 1: a host's sound unit or cartridge board raises it; the
// program never does.
constexpr std::uint32_t irq_line = 0x0A0C;
}  // namespace priv

// PPU register bytes kept at their CPU addresses.
constexpr std::uint32_t ppu_control = 0x2000;
constexpr std::uint32_t ppu_mask = 0x2001;
constexpr std::uint32_t ppu_status = 0x2002;

// Vectors, low byte first.
constexpr std::uint32_t nmi_vector = 0xFFFA;
constexpr std::uint32_t reset_vector = 0xFFFC;
constexpr std::uint32_t irq_vector = 0xFFFE;

// The address a vector holds, read straight from the image (never through the bus).
inline std::uint32_t read_vector(const std::uint8_t* image, std::uint32_t vector) {
    return image[vector + 1] * 0x100u + image[vector];
}

// ---- Shared bit operations ---------------------------------------------------------------
// Bit n of byte (0 or 1); any n above 7 gives the byte unchanged.
inline std::uint8_t flag_get(std::uint32_t n, std::uint8_t byte) {
    return n > 7 ? byte : static_cast<std::uint8_t>((byte >> n) & 1u);
}

// Sets bit n of byte to the lowest bit of v; any n above 7 changes nothing.
inline void flag_set(std::uint32_t n, std::uint32_t v, std::uint8_t& byte) {
    if (n > 7) return;
    byte = static_cast<std::uint8_t>((byte & ~(1u << n)) | ((v & 1u) << n));
}

// ---- The run state -----------------------------------------------------------------------
// A word that both threads touch: whole-word atomic, no ordering, nothing handed over by it.
struct SharedWord {
    std::atomic<std::uint32_t> value{0};
    std::uint32_t get() const { return value.load(std::memory_order_relaxed); }
    void set(std::uint32_t v) { value.store(v, std::memory_order_relaxed); }
};

struct CpuRegisters {
    std::uint8_t a = 0;
    std::uint8_t x = 0;
    std::uint8_t y = 0;
    std::uint8_t sp = 0;
    std::uint8_t p = 0;
    std::uint32_t pc = 0;  // always a 16-bit address
};

// Status bits of p.
namespace flag {
constexpr std::uint32_t C = 0, Z = 1, I = 2, D = 3, B = 4, V = 6, N = 7;
}

struct DebuggerState {
    std::uint32_t mode = 0;
    std::uint32_t step_count = 0;
    std::uint32_t breakpoint = 0xFFFF;
};

struct RunState {
    std::uint8_t evaluation_mode = 0;
    std::uint32_t trace_mode = 0;
    std::uint8_t fast_mode = 0;
    SharedWord quit;
    SharedWord reset_request;
    std::uint32_t nmi_request = 0;
    std::uint32_t interrupt_cause = 0;  // 0 none, 1 IRQ (the IRQ input while I is clear), 2 BRK
    CpuRegisters registers;
    std::uint8_t opcode = 0;
    std::uint64_t cycle_count = 0;  // 4 per instruction; 64 bits, so no run is long enough to wrap it
    std::uint32_t line_cycles = 136;
    std::uint32_t scanline = 0;
    std::uint32_t frame_count = 0;
    std::uint32_t frame_skip = 0;
    std::uint32_t mirroring = 0;
    std::uint32_t mapper = 0;
    Screen* surface = nullptr;  // the host's screen the picture is drawn into
    DebuggerState debugger;
};

// ---- Text for the user --------------------------------------------------------------------
// Formats as printf does and hands the text to the host (host_print): the program prints it.
// Every message of the emulation fits the 256 bytes it is formatted in.
[[gnu::format(printf, 1, 2)]] void print_text(const char* format, ...);

// Puts the run state back to its initial values.
void run_state_reset(RunState& state);

// Clears the image and marks every sprite as behind the background.
void machine_image_clear(std::uint8_t* image);
