// Tempo steering: BPM changes placed so that each beat of the song starts where the picture
// timeline's beat does, by the song time the player itself counts.
#pragma once

#include "composition.h"

#include <array>
#include <cstdint>
#include <vector>

namespace gensong {

constexpr int32_t referenceBpm = 100; // for the patterns after the demo's end

struct TimingReport {
    int32_t defaultBpm = referenceBpm;
    double worstOffsetMs = 0.0;
    int32_t worstBeat = 0;
    int32_t bpmChanges = 0;
    std::vector<int32_t> beatStartMs;
};

// For each beat of the timed orders, picks the BPM whose two rows end closest to the next
// beat's start, and writes it as Fxx on the beat's first row whenever it changes.
TimingReport steerTempo(std::array<Pattern, storedPatternCount>& patterns);

// Starts every pattern that the timed orders do not play at the reference BPM; false when a
// first row has no free effect column.
bool startUntimedPatternsAtReferenceBpm(std::array<Pattern, storedPatternCount>& patterns);

} // namespace gensong
