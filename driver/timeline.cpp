// The show written down: which picture slot is on screen at each beat, and the per-beat flash.
#include "timeline.h"

#include <cmath>

namespace driver {

int32_t slotForBeat(int32_t beat) {
    const int32_t g = beat % 2;
    if (beat <= 2) return g;
    if (beat <= 7) return 2 + g;
    if (beat <= 12) return 4 + g;
    if (beat <= 14) return 6;
    if (beat <= 19) return 8 + g;
    if (beat <= 22) return 9 + g;
    if (beat <= 29) return 10 + g;
    if (beat <= 37) return 12 + g;
    if (beat <= 45) return 16 + beat % 3;
    if (beat <= 50) return 2 + g;
    if (beat <= 57) return 14 + g;
    if (beat <= 60) return 4 + g;
    if (beat <= 75) return 21 + (beat / 2) % 2;
    if (beat <= 91) return 19 + g;
    if (beat <= 106) return 16 + beat % 3;
    if (beat <= 113) return 6 + g;
    if (beat <= 121) return 21 + g;
    if (beat <= 123) return g;
    if (beat <= 128) return 2 + g;
    if (beat <= 131) return 4 + g;
    return 6;
}

BeatFrame beatFrameAt(uint32_t clockMs) {
    BeatFrame frame{};
    frame.position = static_cast<double>(clockMs) / beatLengthMs;
    frame.beat = static_cast<int32_t>(std::floor(frame.position));
    frame.phase =
        static_cast<float>(frame.position - static_cast<double>(static_cast<float>(frame.beat)));
    frame.slot = slotForBeat(frame.beat);
    if (frame.beat < firstFlashBeat || frame.beat >= firstCalmBeat) frame.phase = 1.0f;
    frame.flash = frame.phase * 4.0f;
    return frame;
}

bool samePicture(const BeatFrame& a, const BeatFrame& b) {
    const float flashA = a.flash < 1.0f ? a.flash : 1.0f;
    const float flashB = b.flash < 1.0f ? b.flash : 1.0f;
    return a.slot == b.slot && flashA == flashB;
}

namespace {

// From this beat on every beat shows slot 6 plain: nothing changes any more.
constexpr int32_t finalSlotBeat = 132;

// The first whole millisecond that beatFrameAt places in beat, found from the estimate by the
// same arithmetic beatFrameAt uses, so no rounding of either can disagree.
uint32_t firstClockOfBeat(int32_t beat) {
    auto clock = static_cast<uint32_t>(static_cast<double>(beat) * beatLengthMs);
    while (clock > 0 && beatFrameAt(clock - 1).beat >= beat) --clock;
    while (beatFrameAt(clock).beat < beat) ++clock;
    return clock;
}

} // namespace

uint32_t nextPictureChangeMs(uint32_t clockMs) {
    if (clockMs == noPictureChange) return noPictureChange;
    const BeatFrame now = beatFrameAt(clockMs);
    if (now.flash < 1.0f) return clockMs + 1;
    for (int32_t beat = now.beat + 1; beat <= finalSlotBeat; ++beat) {
        const uint32_t start = firstClockOfBeat(beat);
        if (!samePicture(beatFrameAt(start), now)) return start;
    }
    return noPictureChange;
}

} // namespace driver
