// How long the frame loop sleeps between looks at the music clock.
#pragma once

#include <cstdint>

namespace driver {

// The clock moves in steps of one audio chunk (884 frames at 44100 Hz: 20 ms of song time).
constexpr uint32_t clockStepMs = 20;
// Sleep while a change is at most two steps away: the step is seen within this much of its
// arrival, well inside one step.
constexpr uint32_t clockPollMs = 2;
// The longest sleep; also how soon a console quit or a held clock is looked at again.
constexpr uint32_t idleWaitMs = 50;

// Milliseconds the loop may sleep at clockMs without sleeping through the step at which the
// picture next changes. A device may consume sound faster than it plays (Wine's null device runs
// the clock at 2.3 times the wall clock), so only a quarter of the song time left is slept at
// once, which stays short of the change for clocks up to four times as fast.
// clockMoves is false when the clock is held or nothing plays.
uint32_t frameWaitMs(uint32_t clockMs, bool clockMoves);

} // namespace driver
