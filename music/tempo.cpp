// How long ticks and rows last: the BPM, the speed and the frames of a tick.
#include "tempo.h"

#include "format.h"
#include "module.h"
#include "profile.h"

#include <cstdint>

namespace music {

int32_t samplesPerTickForBpm(int32_t bpm, int32_t rateHz) {
    const float beatsPerMinute = static_cast<float>(bpm > 0 ? bpm : 1);
    const float ticksPerSecond = beatsPerMinute * 2.0f / 5.0f;
    const float msPerTick = 1000.0f / ticksPerSecond;
    return static_cast<int32_t>(msPerTick * static_cast<float>(rateHz) / 1000.0f);
}

int32_t ticksPerRow(const Player* player) {
    // FT2's 16-bit tick counter, set to 0 by F00, wraps to 65535 before it next reaches 0.
    constexpr int32_t wrappedTickCounterTicks = 65536;
    if (player->tempo > 0) return player->tempo;
    return profileOf(player).speedZeroHoldsRow ? wrappedTickCounterTicks : 1;
}

void setBpm(Player* player, int32_t bpm) {
    player->bpm = bpm;
    player->samplesPerTick = samplesPerTickForBpm(bpm, player->outputRate);
}

// FT2 mixes a whole number of frames per tick and forgets the remainder, so its songs run a
// little faster than their BPM says (25 ms in 30 s at BPM 120 and 44100 Hz).
void setWholeFrameTickLength(Player* player) {
    const int32_t bpm = player->bpm > 0 ? player->bpm : 1;
    player->samplesPerTick = (player->outputRate * 5 / 2) / bpm;
}

} // namespace music
