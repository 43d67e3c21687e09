// Helpers shared by the tests: running the program, prepared images, cartridge files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/machine.h"

struct ProgramResult {
    std::string out;
    std::string err;
    int status = -1;   // exit status, or -1 when the program did not exit normally
    int signal = 0;    // the signal that ended it, if any
};

// Runs the built quenrik with arguments, feeding input on standard input (closed afterwards).
// extra_env holds "NAME=value" entries added to the environment (SDL_VIDEODRIVER=dummy is set
// unless overridden). The run is killed after timeout_seconds.
ProgramResult run_quenrik(const std::vector<std::string>& arguments, const std::string& input = "",
                          const std::vector<std::string>& extra_env = {},
                          int timeout_seconds = 30);

// Replaces the calling (forked) process with the built quenrik and arguments, through the
// build's emulator when its programs are of another architecture; returns only if exec failed.
void exec_quenrik(const std::vector<std::string>& arguments);

// The program as a shell command: the emulator's words, if any, then the program's path.
std::string quenrik_command();

// Path of an assembled test cartridge in the build tree.
std::string cartridge_path(const std::string& name);

// Writes bytes to a fresh temporary file and returns its path.
std::string write_temp_file(const std::vector<std::uint8_t>& bytes, const std::string& suffix = ".nes");

// A 16-byte iNES header.
std::vector<std::uint8_t> ines_header(std::uint8_t prg, std::uint8_t chr, std::uint8_t flags6 = 0,
                                      std::uint8_t flags7 = 0);

// Captures what fn prints on standard output (through stdio).
template <typename Fn>
std::string capture_stdout(Fn&& fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// A machine image on the heap for tests, cleared as start-up clears it.
struct TestMachine {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(image_size, 0);
    std::uint8_t* image() { return bytes.data(); }
    TestMachine() { machine_image_clear(bytes.data()); }
};

// What the debugger's h command prints: eight lines through puts.
inline const std::string debugger_help_text =
    "\nQuenrik's Debugger Help\n"
    "\n   e <num_instrucions>: Execute n instructions\n"
    "   h: Help\n"
    "   p <breakpoint>: Set a breakpoint\n"
    "   q: Quit\n"
    "   s <number>: Prints sprite's information\n"
    "   v <dir_org>: View memory\n"
    "   w <dir> <value>: Writes val at dir\n\n";
