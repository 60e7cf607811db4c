// Output format constants shared by the sequencer, the voice update, the mixer and the audio
// output.
#pragma once

#include <cstdint>

namespace music {

// Output rate in frames per second; fixed, there is no configuration.
constexpr int32_t sampleRate = 44100;
constexpr int32_t outputChannels = 2;
constexpr int32_t bytesPerFrame = 4; // 16-bit stereo

} // namespace music
