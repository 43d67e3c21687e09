// The debugger console that runs between instructions in trace mode.
#include "debug/console.h"

#include <cstdint>
#include <cstdio>

#include "debug/disassembler.h"

namespace {

constexpr std::uint32_t image_last = image_size - 1;

// ---- Reading commands --------------------------------------------------------------------
// Numbers are read 64 bits wide so that an over-long number never overflows the conversion;
// the caller then keeps the low 32 bits, or range-checks the full value for image offsets.
enum class Read : std::uint8_t { ok, bad, end };

Read read_hex(std::uint64_t& value) {
    unsigned long long number = 0;
    const int n = std::scanf("%llx", &number);
    if (n == EOF) return Read::end;
    if (n != 1) return Read::bad;
    value = number;
    return Read::ok;
}

// Decimal, 0x-prefixed hexadecimal or 0-prefixed octal, with an optional sign.
Read read_integer(std::uint64_t& value) {
    long long number = 0;
    const int n = std::scanf("%lli", &number);
    if (n == EOF) return Read::end;
    if (n != 1) return Read::bad;
    value = static_cast<std::uint64_t>(number);
    return Read::ok;
}

// Reads up to and including the next line end. End of input is left for the next read to
// see: the end-of-file indicator of stdin stays set.
void discard_line() {
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
}

void report_outside_image() { std::printf("Address outside memory (0-%x)\n", image_last); }

void report_bad_number() { std::puts("Invalid number"); }

// ---- Commands that prompt again ----------------------------------------------------------
void print_sprite(const std::uint8_t* image, std::uint32_t n) {
    const std::uint32_t base = priv::sprite_memory + 4 * n;
    std::printf("Sprite #%i Info:\n", static_cast<int>(n));
    std::printf("X: %i  Y: %i\n", image[base + 3], image[base]);
    std::printf("Tile Index #%i\n\n", image[base + 1]);
}

void print_help() {
    std::puts("\nQuenrik's Debugger Help");
    std::puts("\n   e <num_instrucions>: Execute n instructions");
    std::puts("   h: Help");
    std::puts("   p <breakpoint>: Set a breakpoint");
    std::puts("   q: Quit");
    std::puts("   s <number>: Prints sprite's information");
    std::puts("   v <dir_org>: View memory");
    std::puts("   w <dir> <value>: Writes val at dir\n");
}

}  // namespace

// ---- Stop decision -----------------------------------------------------------------------
StopDecision debugger_should_stop(DebuggerState& debugger, std::uint32_t pc) {
    const bool running = debugger.mode == 1;
    debugger.step_count -= 1;
    if ((debugger.breakpoint & 0xFFFFu) == pc) {
        debugger.mode = 0;
        return {true, true};
    }
    if (debugger.step_count == 1) {
        debugger.mode = 0;
        return {true, !running};
    }
    if (!running) {
        debugger.mode = 0;
        return {true, true};
    }
    // Running on: mode stays 1; a count that has just run out asks for a command silently.
    return {false, debugger.step_count == 0};
}

// ---- Memory dump -------------------------------------------------------------------------
void dump_memory(const std::uint8_t* image, std::uint32_t start) {
    if (start > image_last) {
        report_outside_image();
        return;
    }
    // The dump stops at the last byte of the image; the last line may then be shorter.
    const std::uint32_t end = start + 127 > image_last ? image_last : start + 127;
    for (std::uint32_t line = start; line <= end; line += 16) {
        const std::uint32_t line_end = line + 15 > end ? end : line + 15;
        for (std::uint32_t offset = line; offset <= line_end; ++offset) {
            const std::uint32_t value = image[offset];
            const bool narrow = value <= 0x0F;
            if (offset == line) {
                std::printf(narrow ? "%x:  %x" : "%x: %x", offset, value);
                if (offset == line_end) std::putchar('\n');
            } else if (offset == line_end) {
                std::printf(narrow ? "  %x\n" : " %x\n", value);
            } else {
                std::printf(narrow ? "  %x" : " %x", value);
            }
        }
    }
}

// ---- The console -------------------------------------------------------------------------
void debugger_console(SharedWord& quit, std::uint8_t& opcode, CpuRegisters& registers,
                      std::uint8_t* image, std::uint32_t& interrupt_cause, DebuggerState& debugger,
                      std::uint64_t cycle_count, std::uint8_t scanline) {
    (void)interrupt_cause;
    const StopDecision decision = debugger_should_stop(debugger, registers.pc);
    if (decision.print_state) print_machine_state(cycle_count, scanline, registers, opcode, image);
    if (!decision.prompt) return;

    // End of input ends the run: there is nobody left to type the next command.
    const auto end_of_input = [&quit] {
        std::putchar('\n');
        std::fflush(stdout);
        quit.set(1);
    };

    for (;;) {
        std::printf("Quenrik>");
        std::fflush(stdout);
        const int command = std::getchar();
        std::uint64_t number = 0;
        Read result = Read::ok;
        switch (command) {
        case EOF:
            end_of_input();
            return;
        case '\n':
            return;
        case 'q':
            quit.set(1);
            return;
        case 'e':
            debugger.mode = 1;
            result = read_integer(number);
            if (result == Read::ok) debugger.step_count = static_cast<std::uint32_t>(number);
            if (result == Read::end)
                end_of_input();
            else
                discard_line();
            return;
        case 'p':
            debugger.mode = 1;
            result = read_hex(number);
            if (result == Read::ok) debugger.breakpoint = static_cast<std::uint32_t>(number);
            break;
        case 's':
            result = read_integer(number);
            if (result == Read::ok) print_sprite(image, static_cast<std::uint32_t>(number & 0xFF));
            break;
        case 'v':
            result = read_hex(number);
            if (result != Read::ok) break;
            if (number > image_last)
                report_outside_image();
            else
                dump_memory(image, static_cast<std::uint32_t>(number));
            break;
        case 'w': {
            std::uint64_t value = 0;
            result = read_hex(number);
            if (result != Read::ok) break;
            // Exactly one separator between the two numbers, normally the blank.
            if (std::getchar() == EOF) {
                result = Read::end;
                break;
            }
            result = read_hex(value);
            if (result != Read::ok) break;
            if (number > image_last)
                report_outside_image();
            else
                image[number] = static_cast<std::uint8_t>(value);
            break;
        }
        case 'h':
            print_help();
            break;
        default:
            std::puts("Unknown Command");
            break;
        }
        if (result == Read::end) {
            end_of_input();
            return;
        }
        if (result == Read::bad && command != 'p') report_bad_number();
        discard_line();
    }
}

void debugger_turn(RunState& state, std::uint8_t* image) {
    debugger_console(state.quit, state.opcode, state.registers, image, state.interrupt_cause, state.debugger,
                     state.cycle_count, static_cast<std::uint8_t>(state.scanline));
}
