// Video mode, event loop and frame-skip calibration over SDL's dummy video driver.
#include <SDL.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "program/video.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// ---- Frame-skip calibration ----------------------------------------------------------------

TEST(FrameSkip, TableBoundaries) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {1000000, 1}, {38000, 1}, {37999, 2}, {25000, 2}, {24999, 3}, {22000, 3}, {21999, 4},
        {18000, 4},   {17999, 5}, {12000, 5}, {11999, 6}, {8000, 6},  {7999, 8},  {4500, 8},
        {4499, 16},   {1, 16},    {0, 16}};
    for (const auto& [polls, skip] : cases) EXPECT_EQ(frame_skip_for_polls(polls), skip) << polls;
}

TEST(FrameSkip, CalibrationMeasures50MsAndPrintsTheSkip) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    std::uint32_t frame_skip = 0;
    const auto start = Clock::now();
    const std::string out = capture_stdout([&] { calibrate_frame_skip(frame_skip); });
    const long took = elapsed_ms(start);
    SDL_Quit();

    EXPECT_GE(took, 49);  // millisecond ticks: the last counted poll may sit just before the 50th
    EXPECT_LT(took, 1000);
    const std::uint32_t allowed[] = {1, 2, 3, 4, 5, 6, 8, 16};
    EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), frame_skip), std::end(allowed));
    EXPECT_EQ(out, "Frame Skip set to: " + std::to_string(frame_skip) + "x\n\n");
}

// ---- Video mode ----------------------------------------------------------------------------

class Video : public ::testing::Test {
protected:
    void SetUp() override { setenv("SDL_VIDEODRIVER", "dummy", 1); }
    void TearDown() override { SDL_Quit(); }
};

TEST_F(Video, WindowIs320x240At16BitsWithTheCaption) {
    SDL_Surface* surface = video_open(false);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface, SDL_GetVideoSurface());
    EXPECT_EQ(surface->w, 320);
    EXPECT_EQ(surface->h, 240);
    EXPECT_EQ(surface->format->BitsPerPixel, 16);
    EXPECT_EQ(surface->flags & SDL_FULLSCREEN, 0u);
    char* title = nullptr;
    char* icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title, "Quenrik 0.1.5");
    EXPECT_EQ(icon, nullptr);
}

TEST_F(Video, FullScreenAsksForFullScreen) {
    SDL_Surface* surface = video_open(true);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->w, 320);
    EXPECT_EQ(surface->h, 240);
    EXPECT_EQ(surface->format->BitsPerPixel, 16);
    EXPECT_NE(surface->flags & SDL_FULLSCREEN, 0u);
}

TEST(VideoDeathTest, UnusableDriverEndsWithStatus1) {
    // The child re-runs the test program by exec; under an emulator (qemu-user), which alone can
    // run it, the child is forked without exec instead.
    GTEST_FLAG_SET(death_test_style, std::string(QUENRIK_EMULATOR).empty() ? "threadsafe" : "fast");
    // The message goes to standard output; the child sends it to standard error for the check.
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            dup2(2, 1);
            setenv("SDL_VIDEODRIVER", "nosuchdriver", 1);
            video_open(false);
            std::exit(99);
        },
        testing::ExitedWithCode(1), "^Unable to init SDL: No available video device\n$");
}

// ---- Event loop ----------------------------------------------------------------------------

class EventLoop : public ::testing::Test {
protected:
    SharedWord quit;
    SharedWord reset_request;

    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        ASSERT_EQ(pending(), 0);
    }
    void TearDown() override { SDL_Quit(); }

    static void push_key(Uint8 type, SDLKey key) {
        SDL_Event event;
        std::memset(&event, 0, sizeof event);
        event.type = type;
        event.key.type = type;
        event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym.sym = key;
        ASSERT_EQ(SDL_PushEvent(&event), 0);
    }
    static void push_type(Uint8 type) {
        SDL_Event event;
        std::memset(&event, 0, sizeof event);
        event.type = type;
        ASSERT_EQ(SDL_PushEvent(&event), 0);
    }
    // A mouse movement whose relative motion sits where a key event keeps its symbol.
    static void push_motion(Sint16 xrel) {
        SDL_Event event;
        std::memset(&event, 0, sizeof event);
        event.type = SDL_MOUSEMOTION;
        event.motion.x = 27;
        event.motion.y = 114;
        event.motion.xrel = xrel;
        ASSERT_EQ(SDL_PushEvent(&event), 0);
    }
    static int pending() {
        SDL_Event events[16];
        return SDL_PeepEvents(events, 16, SDL_PEEKEVENT, SDL_ALLEVENTS);
    }
    // Waits (up to 2 s) until the running loop has taken every queued event.
    static void drain() {
        const auto start = Clock::now();
        while (pending() > 0 && elapsed_ms(start) < 2000) SDL_Delay(1);
        SDL_Delay(30);  // let the pass that took the last event finish
    }
    void run_until_return() { event_loop(quit, reset_request); }
};

TEST_F(EventLoop, EscapePressQuits) {
    push_key(SDL_KEYDOWN, SDLK_ESCAPE);
    run_until_return();
    EXPECT_EQ(quit.get(), 1u);
    EXPECT_EQ(reset_request.get(), 0u);
}

TEST_F(EventLoop, EscapeReleaseQuits) {
    push_key(SDL_KEYUP, SDLK_ESCAPE);
    run_until_return();
    EXPECT_EQ(quit.get(), 1u);
}

TEST_F(EventLoop, WindowCloseQuitsAndLeavesLaterEventsQueued) {
    push_type(SDL_QUIT);
    push_key(SDL_KEYDOWN, SDLK_r);
    run_until_return();
    EXPECT_EQ(quit.get(), 1u);
    EXPECT_EQ(reset_request.get(), 0u);  // returned at once, R not taken
    EXPECT_EQ(pending(), 1);
}

TEST_F(EventLoop, RPressAndReleaseEachRequestAReset) {
    std::thread loop([&] { run_until_return(); });
    push_key(SDL_KEYDOWN, SDLK_r);
    drain();
    EXPECT_EQ(reset_request.get(), 1u);
    EXPECT_EQ(quit.get(), 0u);

    reset_request.set(0);  // as the emulation thread does when it resets
    push_key(SDL_KEYUP, SDLK_r);
    drain();
    EXPECT_EQ(reset_request.get(), 1u);

    push_key(SDL_KEYDOWN, SDLK_ESCAPE);
    loop.join();
    EXPECT_EQ(quit.get(), 1u);
}

TEST_F(EventLoop, OtherEventsChangeNothingAndQuitFromElsewhereEndsTheLoop) {
    std::thread loop([&] { run_until_return(); });
    push_motion(SDLK_ESCAPE);
    push_motion(SDLK_r);
    push_type(SDL_MOUSEBUTTONDOWN);
    push_type(SDL_ACTIVEEVENT);
    push_key(SDL_KEYDOWN, SDLK_q);
    push_key(SDL_KEYUP, SDLK_RETURN);
    drain();
    EXPECT_EQ(quit.get(), 0u);
    EXPECT_EQ(reset_request.get(), 0u);

    // Another thread sets quit (debugger, unknown opcode): the loop ends within a pass or two.
    const auto start = Clock::now();
    quit.set(1);
    loop.join();
    EXPECT_LT(elapsed_ms(start), 500);
    EXPECT_EQ(reset_request.get(), 0u);
}

TEST_F(EventLoop, OneEventPerPass) {
    for (int i = 0; i < 5; ++i) push_motion(0);
    push_key(SDL_KEYDOWN, SDLK_ESCAPE);
    const auto start = Clock::now();
    run_until_return();
    EXPECT_GE(elapsed_ms(start), 60);  // six passes of at least 10 ms
    EXPECT_EQ(quit.get(), 1u);
}

TEST_F(EventLoop, QuitAlreadySetReturnsWithoutPolling) {
    quit.set(1);
    push_key(SDL_KEYDOWN, SDLK_r);
    run_until_return();
    EXPECT_EQ(pending(), 1);
    EXPECT_EQ(reset_request.get(), 0u);
}

}  // namespace
