// The song's patterns: the sections of the arrangement, written row by row.
#pragma once

#include "song_shape.h"
#include "xmwrite.h"

#include <array>
#include <cstdint>

namespace gensong {

using xmwrite::Cell;

struct Pattern {
    std::array<Cell, rowsPerPattern * channelCount> cells{};
    Cell& at(int32_t row, int32_t channel) { return cells[row * channelCount + channel]; }
};

// Channels by role.
constexpr int32_t chKick = 0;
constexpr int32_t chDrums = 1;
constexpr int32_t chBass = 2;
constexpr int32_t chLead = 3;
constexpr int32_t chColour = 4;
constexpr int32_t chChords = 5;

// Fxx: a parameter below 32 sets the ticks per row, from 32 on the BPM.
constexpr uint8_t fxSpeed = music::xm::effectSetSpeed;

// Every stored pattern, indexed by pattern number, before the tempo is steered.
std::array<Pattern, storedPatternCount> composePatterns();

} // namespace gensong
