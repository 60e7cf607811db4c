// Output format constants shared by the sequencer, the voice update, the mixer and the audio
// output.
#pragma once

#include <cstdint>

namespace music {

// The demo always plays at this rate; other rates are for embedders and the tools.
constexpr int32_t defaultSampleRateHz = 44100;
constexpr int32_t minSampleRateHz = 8000;
constexpr int32_t maxSampleRateHz = 192000;

struct Player;

// Sets a Player's output rate in frames per second, before its playback or offline render
// starts, which derive their tick length, ramp and chunk sizes from it. False, and the rate
// unchanged, outside minSampleRateHz .. maxSampleRateHz.
bool setSampleRate(Player* player, int32_t rateHz);

constexpr int32_t outputChannels = 2;
constexpr int32_t bytesPerFrame = 4; // 16-bit stereo

} // namespace music
