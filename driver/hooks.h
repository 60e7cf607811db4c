// Test and measurement hooks of the demo, chosen when it is linked, never read from anywhere by
// the shipped program: `demo` links hooks_none.cpp, where every hook does nothing; `demo_probe`,
// built from the same sources for the system tests and the start-up benchmark, links
// hooks_env.cpp, which takes its settings from the environment.
#pragma once

#include "timeline.h"

#include "display/window.h"

#include <cstdint>

namespace driver {

// The points of start-up that the probe times, in the order they are reached.
enum class StartupStep : uint8_t {
    PicturesPrepared, // on the picture thread, beside the window
    WindowShown,
    ContextReady,
    PlayerReady,
    PicturesJoined,
    TexturesReady,
    ShaderReady,
    PlaybackStarted,
};
constexpr int32_t startupSteps = 8;

// First thing the program does, before the window system is touched.
void startHooks();
// True when the frame loop is to show the frame of a fixed music clock, written to clockMs,
// instead of following the song.
bool heldClock(uint32_t* clockMs);
// Safe from the picture thread for its own step; the others belong to the main thread.
void markStartup(StartupStep step);
// The picture thread's own time, summed over the slots, once it has been joined.
void notePictureWork(double decodeMs, double resampleMs);
// Right after the first frame was presented.
void reportFirstFrame(const display::Window& window, bool playerLoaded);
// Each time the frame loop reads the clock, and after every presented frame with the clock it
// was drawn for. Allocate nothing.
void reportLook(uint32_t clockMs);
void reportFrame(uint32_t clockMs, const BeatFrame& frame);
// Last thing before the program returns, after teardown: frames presented, times the loop
// looked at the clock, the last clock it read.
void reportEnd(uint64_t frames, uint64_t looks, uint32_t lastClockMs);

} // namespace driver
