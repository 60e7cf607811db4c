// The window procedure, the key-state table, the message drain and the fatal start-up path.
#include "display/window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using display::Message;
using display::MessageType;

class WindowMessages : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void TearDown() override {
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        SDL_QuitSubSystem(SDL_INIT_EVENTS);
    }
    static void pushKey(SDL_Keycode key, bool down, Uint16 modifiers = KMOD_NONE) {
        SDL_Event event{};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.keysym.sym = key;
        event.key.keysym.mod = modifiers;
        SDL_PushEvent(&event);
    }
    static void pushQuit() {
        SDL_Event event{};
        event.type = SDL_QUIT;
        SDL_PushEvent(&event);
    }
};

TEST_F(WindowMessages, KeysSetAndClearTheirEntry) {
    display::windowProcedure(nullptr, {MessageType::KeyDown, 'A'});
    EXPECT_EQ(display::keyState['A'], 1);
    display::windowProcedure(nullptr, {MessageType::KeyUp, 'A'});
    EXPECT_EQ(display::keyState['A'], 0);
    EXPECT_FALSE(display::drainMessages());
}

TEST_F(WindowMessages, UnnamedKeysAreNotStored) {
    uint8_t before[256];
    std::memcpy(before, display::keyState, sizeof before);
    display::windowProcedure(nullptr, {MessageType::KeyDown, 256 + 41});
    EXPECT_EQ(std::memcmp(before, display::keyState, sizeof before), 0);
}

TEST_F(WindowMessages, EscapeAndDestroyAskToQuit) {
    display::windowProcedure(nullptr, {MessageType::KeyDown, display::VK_ESCAPE_CODE});
    EXPECT_EQ(display::keyState[27], 1);
    EXPECT_TRUE(display::drainMessages());
    EXPECT_FALSE(display::drainMessages());
    EXPECT_EQ(display::windowProcedure(nullptr, {MessageType::Destroy, 0}), 0);
    EXPECT_TRUE(display::drainMessages());
    display::windowProcedure(nullptr, {MessageType::KeyUp, display::VK_ESCAPE_CODE});
}

TEST_F(WindowMessages, CloseAndAltF4EndTheSameWay) {
    display::windowProcedure(nullptr, {MessageType::Close, 0});
    EXPECT_TRUE(display::drainMessages());
    pushKey(SDLK_F4, true, KMOD_LALT);
    EXPECT_TRUE(display::drainMessages());
    pushKey(SDLK_F4, true); // F4 alone is just a key
    EXPECT_FALSE(display::drainMessages());
    EXPECT_EQ(display::keyState[0x73], 1);
    pushKey(SDLK_F4, false);
    EXPECT_FALSE(display::drainMessages());
    EXPECT_EQ(display::keyState[0x73], 0);
}

TEST_F(WindowMessages, AQuitAmongOtherMessagesStillLetsTheDrainFinish) {
    pushKey(SDLK_b, true);
    pushQuit();
    pushKey(SDLK_c, true);
    EXPECT_TRUE(display::drainMessages());
    EXPECT_EQ(display::keyState['B'], 1);
    EXPECT_EQ(display::keyState['C'], 1);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);
    pushKey(SDLK_b, false);
    pushKey(SDLK_c, false);
    display::drainMessages();
}

TEST_F(WindowMessages, ConsoleSignalsEndTheShowThroughTheNextDrain) {
    display::quitOnConsoleSignals();
    for (int signal : {SIGINT, SIGTERM}) {
        pushKey(SDLK_d, true);
        ASSERT_EQ(std::raise(signal), 0);
        // The process is still here: the handler only noted the request.
        EXPECT_TRUE(display::drainMessages()) << signal;
        EXPECT_EQ(display::keyState['D'], 1) << "the drain still dispatches what was pending";
        EXPECT_FALSE(display::drainMessages()) << "one quit request per signal";
        pushKey(SDLK_d, false);
        display::drainMessages();
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

TEST_F(WindowMessages, TearingDownAWindowNeverOpenedOnlyDrains) {
    display::Window window{};
    pushQuit();
    display::windowProcedure(nullptr, {MessageType::Destroy, 0});
    display::tearDownWindow(&window);
    EXPECT_EQ(window.hwnd, nullptr);
    EXPECT_EQ(window.hdc, nullptr);
    EXPECT_EQ(window.hglrc, nullptr);
    EXPECT_FALSE(display::drainMessages());
}

std::string lastCaption;
std::string lastText;
void recordBox(const char* text, const char* caption, bool) {
    lastText = text;
    lastCaption = caption;
}

TEST(FatalStartup, NoWindowSystemEndsWith1001AndSaysWhy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            display::messageBoxFunction = recordBox;
            setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
            display::Window window{};
            display::constructWindow(&window);
        },
        ::testing::ExitedWithCode(1001 & 0xFF), "RegisterClassEx Failed!");
}

// SDL falls back to these when no display server answers; nothing they draw is seen.
TEST(FatalStartup, DriversWithoutAScreenAreNoWindowSystem) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char* driver : {"offscreen", "dummy"}) {
        EXPECT_EXIT(
            {
                display::messageBoxFunction = recordBox;
                setenv("SDL_VIDEODRIVER", driver, 1);
                display::Window window{};
                display::constructWindow(&window);
            },
            ::testing::ExitedWithCode(1001 & 0xFF), "RegisterClassEx Failed!")
            << driver;
    }
}

TEST(FatalStartup, TheBoxGetsTextCaptionAndTheSameTextGoesToStandardError) {
    display::messageBoxFunction = recordBox;
    testing::internal::CaptureStderr();
    display::showMessageBox("", "Could not initialize fullscreen window.", false);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lastText, "");
    EXPECT_EQ(lastCaption, "Could not initialize fullscreen window.");
    EXPECT_EQ(err, "Could not initialize fullscreen window.\n");
}

} // namespace
