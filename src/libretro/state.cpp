#include "libretro/state.h"

#include <cstring>
#include <initializer_list>

#include "ppu/timing.h"

namespace {

// ---- The layout --------------------------------------------------------------------------
// magic, version, image, then the fields in this order, each little-endian of its own width.
constexpr std::size_t header_bytes = 8;
constexpr std::size_t field_bytes = 5 + 4      // a, x, y, sp, p; pc
                                    + 1        // opcode
                                    + 4 * 3    // nmi_request, interrupt_cause, reset_request
                                    + 8        // cycle_count
                                    + 4 * 5;   // line_cycles, scanline, frame_count, mirroring, mapper
constexpr std::size_t total_bytes = header_bytes + image_size + field_bytes;

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
};

const char* unsound(const Fields& f, const std::uint8_t* state_image) {
    if (f.registers.pc > 0xFFFF) return "the program counter is not a 16-bit address";
    if (f.nmi_request > 1 || f.reset_request > 1 || f.interrupt_cause > 2) return "an interrupt request is out of range";
    if (f.line_cycles > ppu_line_step_cycles || f.line_cycles % 4 != 0) return "line_cycles is out of range";
    if (f.scanline > ppu_vertical_blank_step) return "the scanline is out of range";
    if (f.mirroring > 1 || state_image[priv::mirroring] != f.mirroring) return "the mirroring is out of range";
    if (f.mapper > 0xFF) return "the mapper number is out of range";
    return nullptr;
}

}  // namespace

std::size_t state_size() { return total_bytes; }

void state_save(std::uint8_t* destination, const RunState& state, const std::uint8_t* image) {
    Writer w{destination};
    w.bytes(state_magic, sizeof state_magic);
    w.word(state_version, 4);
    w.bytes(image, image_size);
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
}

bool state_load(const std::uint8_t* source, std::size_t size, RunState& state, std::uint8_t* image,
                const char*& why) {
    if (source == nullptr || size != total_bytes) {
        why = "the state has the wrong size";
        return false;
    }
    if (std::memcmp(source, state_magic, sizeof state_magic) != 0) {
        why = "this is not a quenrik state";
        return false;
    }
    Reader r{source + sizeof state_magic};
    if (r.word(4) != state_version) {
        why = "the state is of another format version";
        return false;
    }
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
    if (const char* reason = unsound(f, state_image)) {
        why = reason;
        return false;
    }

    std::memcpy(image, state_image, image_size);
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
    return true;
}
