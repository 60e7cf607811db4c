// The channel's pitch and volume modulations that both columns of a cell drive.
#pragma once

#include <cstdint>

namespace music {

struct Channel;
struct ReplayProfile;

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
