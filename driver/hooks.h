// Test and measurement hooks of the demo, chosen when it is linked, never read from anywhere by
// the shipped program: `demo` links hooks_none.cpp, where every hook does nothing; `demo_probe`,
// built from the same sources for the system tests and the start-up benchmark, links
// hooks_env.cpp, which takes its settings from the environment.
#pragma once

#include "display/window.h"

#include <cstdint>

namespace driver {

// The points of start-up that the probe times, in the order they are reached.
enum class StartupStep : uint8_t {
    WindowShown,
    ContextReady,
    PlayerReady,
    TexturesReady,
    ShaderReady,
    PlaybackStarted,
};
constexpr int32_t startupSteps = 6;

// First thing the program does, before the window system is touched.
void startHooks();
// True when the frame loop is to show the frame of a fixed music clock, written to clockMs,
// instead of following the song.
bool heldClock(uint32_t* clockMs);
void markStartup(StartupStep step);
// Right after the first frame was presented.
void reportFirstFrame(const display::Window& window, bool playerLoaded);
// Last thing before the program returns, after teardown.
void reportEnd(uint64_t frames, uint32_t lastClockMs);

} // namespace driver
