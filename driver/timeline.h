// The show written down: which picture slot is on screen at each beat, and the per-beat flash.
#pragma once

#include <cstdint>

namespace driver {

constexpr double beatLengthMs = 333.3333333333333; // 1000/3 ms: 180 beats per minute
constexpr uint32_t showEndMs = 48000;
constexpr int32_t firstFlashBeat = 16;
constexpr int32_t firstCalmBeat = 122;
constexpr int32_t imageSlotCount = 23;

struct BeatFrame {
    double position; // clock in beats
    int32_t beat;
    float phase;  // fraction of the beat; 1 where no flash is shown
    int32_t slot; // 0..22
    float flash;  // phase x 4: 0 inverted, 1 and above plain
};

int32_t slotForBeat(int32_t beat);
BeatFrame beatFrameAt(uint32_t clockMs);

// The shader shows the plain picture for every flash value of 1 and above, so two frames look
// the same exactly when their slot and their flash clamped to 1 agree.
bool samePicture(const BeatFrame& a, const BeatFrame& b);
// The first clock after clockMs whose frame looks different; noPictureChange when none does.
// During a flash every millisecond differs; elsewhere the next beat with another slot or a flash.
constexpr uint32_t noPictureChange = 0xFFFFFFFFu;
uint32_t nextPictureChangeMs(uint32_t clockMs);

} // namespace driver
