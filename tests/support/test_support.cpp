#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

void exec_quenrik(const std::vector<std::string>& arguments) {
    std::vector<std::string> words;
    const std::string emulator = QUENRIK_EMULATOR;
    for (std::size_t start = 0; start < emulator.size();) {
        const std::size_t end = std::min(emulator.find(' ', start), emulator.size());
        if (end > start) words.push_back(emulator.substr(start, end - start));
        start = end + 1;
    }
    words.push_back(QUENRIK_BINARY);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
}

std::string quenrik_command() {
    const std::string emulator = QUENRIK_EMULATOR;
    return emulator.empty() ? std::string(QUENRIK_BINARY) : emulator + " " + QUENRIK_BINARY;
}

ProgramResult run_quenrik(const std::vector<std::string>& arguments, const std::string& input,
                          const std::vector<std::string>& extra_env, int timeout_seconds) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        throw std::runtime_error("pipe failed");

    pid_t pid = fork();
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        for (const std::string& entry : extra_env) putenv(strdup(entry.c_str()));
        exec_quenrik(arguments);
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    set_nonblocking(in_pipe[1]);
    set_nonblocking(out_pipe[0]);
    set_nonblocking(err_pipe[0]);
    signal(SIGPIPE, SIG_IGN);

    ProgramResult result;
    std::size_t written = 0;
    bool in_open = true, out_open = true, err_open = true;
    if (input.empty()) {
        close(in_pipe[1]);
        in_open = false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds * QUENRIK_TIMEOUT_SCALE);
    while (out_open || err_open) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "quenrik did not end within " << timeout_seconds << " s";
            break;
        }
        pollfd fds[3];
        int count = 0;
        if (out_open) fds[count++] = {out_pipe[0], POLLIN, 0};
        if (err_open) fds[count++] = {err_pipe[0], POLLIN, 0};
        if (in_open) fds[count++] = {in_pipe[1], POLLOUT, 0};
        poll(fds, count, 50);
        char buffer[65536];
        for (int i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == in_pipe[1]) {
                ssize_t n = write(in_pipe[1], input.data() + written, input.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
                if (n < 0 && errno != EAGAIN) written = input.size();
                if (written >= input.size()) {
                    close(in_pipe[1]);
                    in_open = false;
                }
                continue;
            }
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (fds[i].fd == out_pipe[0] ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (n < 0 && errno != EAGAIN)) {
                if (fds[i].fd == out_pipe[0]) out_open = false;
                else err_open = false;
            }
        }
    }
    if (in_open) close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::string cartridge_path(const std::string& name) { return std::string(QUENRIK_ROM_DIR) + "/" + name + ".nes"; }

std::string write_temp_file(const std::vector<std::uint8_t>& bytes, const std::string& suffix) {
    std::string path = "/tmp/quenrik-test-XXXXXX" + suffix;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0) throw std::runtime_error("mkstemps failed");
    if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("write failed");
    close(fd);
    return std::string(name.data());
}

std::vector<std::uint8_t> ines_header(std::uint8_t prg, std::uint8_t chr, std::uint8_t flags6, std::uint8_t flags7) {
    return {0x4E, 0x45, 0x53, 0x1A, prg, chr, flags6, flags7, 0, 0, 0, 0, 0, 0, 0, 0};
}
