// A copy of a loaded song that keeps only what moves the position or changes the tempo, so that
// the song's length can be worked out by the sequencer itself without playing a note.
#pragma once

#include "module.h"

namespace music {

// Effects that the sequencer acts on when their row starts and that decide which row comes
// next or how long a row lasts: Bxx, Dxx, Fxx, E6x and EEx. None of them does anything on the
// other ticks of a row, and none depends on the notes, instruments or other effects around it.
bool movesPositionOrTempo(const Cell& cell);

struct TimingCopy {
    Player player;    // the song's header, order table and playback rules
    int32_t channels; // the original's channels that hold such cells, in their order
};

// Fills copy from a loaded Player: every pattern keeps its rows but only the cells above, in
// channels that hold any; patterns without one keep no cells (their rows read as empty), and
// there are no instruments. False when memory runs out (copy is then empty).
bool makeTimingCopy(const Player* from, TimingCopy* copy);
void freeTimingCopy(TimingCopy* copy);

} // namespace music
