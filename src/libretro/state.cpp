#include "libretro/state.h"

#include <cstring>
#include <initializer_list>

#include "ppu/timing.h"

namespace {

// ---- The layout --------------------------------------------------------------------------
// magic, version, the cartridge's hash, the image with the cartridge's part as its difference
// from the cartridge (zero where the game wrote nothing), then the fields in this order, each
// little-endian of its own width, then the sound unit's bytes. Version 1 had the image as it is,
// and neither hash nor stop; version 2 had no sound unit.
constexpr std::size_t header_bytes = 8;
constexpr std::size_t hash_bytes = 8;
constexpr std::size_t field_bytes = 5 + 4      // a, x, y, sp, p; pc
                                    + 1        // opcode
                                    + 4 * 3    // nmi_request, interrupt_cause, reset_request
                                    + 8        // cycle_count
                                    + 4 * 5;   // line_cycles, scanline, frame_count, mirroring, mapper
constexpr std::size_t stop_bytes = 4;
constexpr std::size_t version2_bytes = header_bytes + hash_bytes + image_size + field_bytes + stop_bytes;
constexpr std::size_t total_bytes = version2_bytes + apu_state_bytes;
constexpr std::size_t version1_bytes = header_bytes + image_size + field_bytes;
constexpr std::size_t bytes_of_version[] = {0, version1_bytes, version2_bytes, total_bytes};

struct Writer {
    std::uint8_t* at;
    void bytes(const std::uint8_t* from, std::size_t count) {
        std::memcpy(at, from, count);
        at += count;
    }
    void word(std::uint64_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) *at++ = static_cast<std::uint8_t>(value >> (8 * i));
    }
};

struct Reader {
    const std::uint8_t* at;
    std::uint64_t word(std::size_t width) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{*at++} << (8 * i);
        return value;
    }
};

// The run-state fields a state carries, read out before anything is taken.
struct Fields {
    CpuRegisters registers;
    std::uint8_t opcode;
    std::uint32_t nmi_request, interrupt_cause, reset_request;
    std::uint64_t cycle_count;
    std::uint32_t line_cycles, scanline, frame_count, mirroring, mapper;
    std::uint32_t quit;
};

const char* unsound(const Fields& f, const std::uint8_t* state_image) {
    if (f.registers.pc > 0xFFFF) return "the program counter is not a 16-bit address";
    if (f.nmi_request > 1 || f.reset_request > 1 || f.interrupt_cause > 2) return "an interrupt request is out of range";
    if (f.line_cycles > ppu_line_step_cycles || f.line_cycles % 4 != 0) return "line_cycles is out of range";
    if (f.scanline > ppu_vertical_blank_step) return "the scanline is out of range";
    if (f.mirroring > 1 || state_image[priv::mirroring] != f.mirroring) return "the mirroring is out of range";
    if (f.mapper > 0xFF) return "the mapper number is out of range";
    if (f.quit > 1) return "the stop is out of range";
    if (state_image[priv::irq_line] > 1) return "the IRQ input is out of range";
    return nullptr;
}

// A state of version 1 holds the cartridge as it was loaded (cheats undone): it is of this one
// where PRG, and CHR that came with the cartridge, are the same. A game that wrote over its own
// PRG or CHR made a state that cannot be told from another cartridge's, and is refused too.
bool version1_of(const Cartridge& cartridge, const std::uint8_t* state_image, const Fields& f) {
    const std::uint32_t compared = ppu_space + (cartridge.chr_rom ? 0x2000 : 0) - cartridge_start;
    return std::memcmp(state_image + cartridge_start, cartridge.bytes, compared) == 0 &&
           f.mapper == cartridge.mapper;
}

std::uint64_t fnv1a(std::uint64_t hash, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3u;
    return hash;
}

}  // namespace

void cartridge_keep(Cartridge& cartridge, const std::uint8_t* image, std::uint32_t mirroring,
                    std::uint32_t mapper, bool chr_rom) {
    std::memcpy(cartridge.bytes, image + cartridge_start, cartridge_bytes);
    cartridge.mirroring = mirroring;
    cartridge.mapper = mapper;
    cartridge.chr_rom = chr_rom;
    const std::uint8_t header[2] = {static_cast<std::uint8_t>(mirroring), static_cast<std::uint8_t>(mapper)};
    cartridge.hash = fnv1a(fnv1a(0xCBF29CE484222325u, cartridge.bytes, cartridge_bytes), header, 2);
}

std::size_t state_size() { return total_bytes; }

void state_save(std::uint8_t* destination, const RunState& state, const std::uint8_t* image,
                const ApuState& apu, const Cartridge& cartridge) {
    Writer w{destination};
    w.bytes(state_magic, sizeof state_magic);
    w.word(state_version, 4);
    w.word(cartridge.hash, 8);
    w.bytes(image, cartridge_start);
    for (std::uint32_t i = 0; i < cartridge_bytes; ++i)
        *w.at++ = static_cast<std::uint8_t>(image[cartridge_start + i] ^ cartridge.bytes[i]);
    const CpuRegisters& r = state.registers;
    for (std::uint8_t byte : {r.a, r.x, r.y, r.sp, r.p}) w.word(byte, 1);
    w.word(r.pc, 4);
    w.word(state.opcode, 1);
    w.word(state.nmi_request, 4);
    w.word(state.interrupt_cause, 4);
    w.word(state.reset_request.get(), 4);
    w.word(state.cycle_count, 8);
    for (std::uint32_t field : {state.line_cycles, state.scanline, state.frame_count, state.mirroring, state.mapper})
        w.word(field, 4);
    w.word(state.quit.get(), 4);
    apu_save(apu, w.at);
}

bool state_load(const std::uint8_t* source, std::size_t size, RunState& state, std::uint8_t* image,
                ApuState& apu, const Cartridge& cartridge, const char*& why) {
    if (source == nullptr || size < header_bytes) {
        why = "the state has the wrong size";
        return false;
    }
    if (std::memcmp(source, state_magic, sizeof state_magic) != 0) {
        why = "this is not a quenrik state";
        return false;
    }
    Reader r{source + sizeof state_magic};
    const std::uint64_t version = r.word(4);
    if (version < 1 || version > state_version) {
        why = "the state is of another format version";
        return false;
    }
    if (size != bytes_of_version[version]) {
        why = "the state has the wrong size";
        return false;
    }
    const std::uint64_t hash = version == 1 ? cartridge.hash : r.word(8);
    const std::uint8_t* state_image = r.at;
    r.at += image_size;
    Fields f{};
    f.registers.a = static_cast<std::uint8_t>(r.word(1));
    f.registers.x = static_cast<std::uint8_t>(r.word(1));
    f.registers.y = static_cast<std::uint8_t>(r.word(1));
    f.registers.sp = static_cast<std::uint8_t>(r.word(1));
    f.registers.p = static_cast<std::uint8_t>(r.word(1));
    const std::uint64_t pc = r.word(4);
    f.registers.pc = static_cast<std::uint32_t>(pc);
    f.opcode = static_cast<std::uint8_t>(r.word(1));
    f.nmi_request = static_cast<std::uint32_t>(r.word(4));
    f.interrupt_cause = static_cast<std::uint32_t>(r.word(4));
    f.reset_request = static_cast<std::uint32_t>(r.word(4));
    f.cycle_count = r.word(8);
    f.line_cycles = static_cast<std::uint32_t>(r.word(4));
    f.scanline = static_cast<std::uint32_t>(r.word(4));
    f.frame_count = static_cast<std::uint32_t>(r.word(4));
    f.mirroring = static_cast<std::uint32_t>(r.word(4));
    f.mapper = static_cast<std::uint32_t>(r.word(4));
    f.quit = version == 1 ? 0 : static_cast<std::uint32_t>(r.word(4));
    if (hash != cartridge.hash || (version == 1 && !version1_of(cartridge, state_image, f))) {
        why = "the state is of another cartridge";
        return false;
    }
    if (const char* reason = unsound(f, state_image)) {
        why = reason;
        return false;
    }
    // The sound unit last: it is taken whole or not at all, and nothing else can be refused after.
    if (version < 3)
        apu_power(apu, apu.rate);
    else if (!apu_load(apu, r.at)) {
        why = "the sound unit's state is out of range";
        return false;
    }

    std::memcpy(image, state_image, image_size);
    if (version != 1)
        for (std::uint32_t i = 0; i < cartridge_bytes; ++i) image[cartridge_start + i] ^= cartridge.bytes[i];
    state.registers = f.registers;
    state.opcode = f.opcode;
    state.nmi_request = f.nmi_request;
    state.interrupt_cause = f.interrupt_cause;
    state.reset_request.set(f.reset_request);
    state.cycle_count = f.cycle_count;
    state.line_cycles = f.line_cycles;
    state.scanline = f.scanline;
    state.frame_count = f.frame_count;
    state.mirroring = f.mirroring;
    state.mapper = f.mapper;
    state.quit.set(f.quit);
    return true;
}
