// How long the frame loop sleeps between looks at the music clock.
#include "pacing.h"

#include "timeline.h"

namespace driver {

uint32_t frameWaitMs(uint32_t clockMs, bool clockMoves) {
    if (!clockMoves) return idleWaitMs;
    const uint32_t next = nextPictureChangeMs(clockMs);
    if (next == noPictureChange) return idleWaitMs;
    const uint32_t remaining = next - clockMs;
    if (remaining <= 2 * clockStepMs) return clockPollMs;
    const uint32_t wait = (remaining - clockStepMs) / 4;
    if (wait < clockPollMs) return clockPollMs;
    return wait < idleWaitMs ? wait : idleWaitMs;
}

} // namespace driver
