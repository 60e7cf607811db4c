// Output format constants shared by the sequencer, the voice update, the mixer and the audio
// output.
#pragma once

#include <cstdint>

namespace music {

// The demo always plays at this rate; other rates are for embedders and the tools.
constexpr int32_t defaultSampleRateHz = 44100;
constexpr int32_t minSampleRateHz = 8000;
constexpr int32_t maxSampleRateHz = 192000;

// Output rate in frames per second. One value for the whole process, like the voice and channel
// tables it sizes: set it with setSampleRate before playback or an offline render starts, which
// derive their tick length, ramp and chunk sizes from it. Read by the sequencer, the voice
// update and the mixer while they run.
extern int32_t sampleRate;

// False, and the rate unchanged, outside minSampleRateHz .. maxSampleRateHz.
bool setSampleRate(int32_t rateHz);

constexpr int32_t outputChannels = 2;
constexpr int32_t bytesPerFrame = 4; // 16-bit stereo

} // namespace music
