// How long ticks and rows last.
#pragma once

#include <cstdint>

namespace music {

struct Player;

// Stores the BPM and the tick length that follows from it.
void setBpm(Player* player, int32_t bpm);

// Frames per tick for a BPM at an output rate, in single precision in the order the tempo rule
// gives (125 -> 882, 132 -> 835 at 44100 Hz). A BPM below 1 counts as 1.
int32_t samplesPerTickForBpm(int32_t bpm, int32_t rateHz);

// FT2's tick length: (rate x 5 / 2) / BPM whole frames, the fraction dropped on every tick.
void setWholeFrameTickLength(Player* player);

// Ticks a row lasts at the current tempo, pattern delay aside (at least 1).
int32_t ticksPerRow(const Player* player);

} // namespace music
