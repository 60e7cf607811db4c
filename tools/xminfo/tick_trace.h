// xminfo --ticks: the player's state after every tick.
#pragma once

#include "music/module.h"

#include <cstdint>

namespace tools {

// Plays the loaded Player offline from the start and prints one line per tick:
// "tick order row frame speed bpm timeMs |" and then "hz vol pan" for each channel (hz the rate
// at which the channel's sample sounds, 0 when silent; vol the final volume 0..64; pan the final
// panning 0..255 with 0 left). Stops at the first row played a second time (outside a running
// pattern loop) or after maxTicks lines. False when playback cannot start.
bool printTicks(music::Player* player, int64_t maxTicks);

} // namespace tools
