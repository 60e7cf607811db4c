// Pattern effect commands: row-tick and other-tick halves, vibrato and tremolo.
#pragma once

#include <cstdint>

namespace music {

struct Player;
struct Channel;
struct Cell;
struct Instrument;
struct Sample;

// Per-row state shared between the channels of one row tick.
struct RowContext {
    bool positionJump; // set by B, read by D
    // volume, period and panning before this channel's row processing (for note delay)
    int32_t heldVolume;
    int32_t heldPeriod;
    int32_t heldPanning;
};

void effectRowTick(Player* player, Channel* channel, const Cell* cell, Instrument* instrument,
                   Sample* sample, RowContext* row);
void effectOtherTick(Player* player, Channel* channel, const Cell* cell, Instrument* instrument,
                     Sample* sample);

void applyVibrato(Channel* channel);
void stepTremolo(Channel* channel);

} // namespace music
