// Pattern effect commands: row-tick and other-tick halves, vibrato and tremolo.
#pragma once

#include <cstdint>

namespace music {

struct Player;
struct Channel;
struct Cell;
struct Instrument;
struct Sample;
struct ReplayProfile;

// Per-row state shared between the channels of one row tick.
struct RowContext {
    bool positionJump; // set by B, read by D; cleared before the first channel
    // volume, period and panning before this channel's row processing (for note delay)
    int32_t heldVolume;
    int32_t heldPeriod;
    int32_t heldPanning;
    uint8_t previousEffect; // the effect type of this channel's previous row
    bool note;              // the row starts a note on this channel
};

// The row-tick and other-tick halves of the cell's effect for one channel, with the instrument
// and sample looked up for this tick (never null). Effects above 33 do nothing.
void effectRowTick(Player* player, Channel* channel, const Cell* cell, Instrument* instrument,
                   Sample* sample, RowContext* row);
void effectOtherTick(Player* player, Channel* channel, const Cell* cell, Instrument* instrument,
                     Sample* sample);

} // namespace music
