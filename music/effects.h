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

constexpr int32_t effectTypeCount = 34; // 0..33; higher types do nothing

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

// periodDelta from the vibrato phase, waveform and depth; raises UPDATE_FREQUENCY. Leaves the
// phase where it is.
// With no rules the demo's waves apply.
void applyVibrato(Channel* channel, const ReplayProfile* rules = nullptr);

// Advances the vibrato phase by vibratoSpeed, wrapping within -32..31.
void stepVibratoPosition(Channel* channel);

// volumeDelta from the tremolo phase, waveform and depth, kept within 0..64 of the volume;
// advances the phase and raises UPDATE_VOLUME.
void stepTremolo(Channel* channel, const ReplayProfile* rules = nullptr);

// Moves period toward portaTarget by 4 * portaSpeed, stopping at the target.
// With ft2Direction the slide keeps FT2's direction instead: it goes the way decided when its
// target was set, and once there it only ever moves towards longer periods (so a period beyond
// the target jumps straight back to it).
void tonePortamentoStep(Channel* channel, bool ft2Direction = false);

// Keeps a period slid without limit inside a range where every further slide step is defined;
// beyond it the voice plays at its lowest or highest rate anyway.
int32_t limitPeriod(int64_t period);

} // namespace music
