// Pushes one channel's musical state (period, volume, panning, note starts) into its voice.
#pragma once

namespace music {

struct Channel;
struct Sample;
struct Player;

// Runs once per channel per tick, as the channel's last step. sample is never null.
void updateVoice(Channel* channel, Sample* sample, Player* player);

} // namespace music
