// The instrument's auto-vibrato.
#pragma once

namespace music {

struct Channel;
struct Instrument;
struct ReplayProfile;

// The instrument's auto-vibrato, once per tick for every channel; always raises
// UPDATE_FREQUENCY. linearTable tells the FT2 rule which way a period moves the pitch.
void stepAutoVibrato(Channel* channel, const Instrument* instrument,
                     const ReplayProfile* rules = nullptr, bool linearTable = true);

} // namespace music
