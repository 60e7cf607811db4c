// Mixer voices and the voice mixer: interpolated 16-bit sample playback with loops and ramps.
#pragma once

#include <cstdint>

namespace music {

struct Sample;

constexpr int32_t DIRECTION_FORWARD = 1;
constexpr int32_t DIRECTION_BACKWARD = 2;

struct Voice {
    int32_t index;             // own slot number, kept through hand-offs
    int32_t volumeCopy;        // written, never read by the player
    int32_t frequency;         // Hz before the 100 Hz floor; never read by the player
    int32_t panningCopy;       // written, never read by the player
    int32_t voiceVolume;       // 0..127 normally
    int32_t voicePanning;      // 0..255
    uint32_t startOffset;      // pending start frame for the next note on this voice
    Sample* sample;            // null: idle
    int32_t leftTarget;        // voiceVolume * voicePanning / 255
    int32_t rightTarget;       // voiceVolume * (255 - voicePanning) / 255
    int32_t positionWhole;     // 32.32 position, whole part (signed)
    uint32_t positionFraction; // units of 2^-32 frame
    uint32_t stepFraction;     // 32.32 step, fraction first
    int32_t stepWhole;
    int32_t direction; // DIRECTION_FORWARD, anything else plays backward
    int32_t rampLeftTarget;
    int32_t rampRightTarget;
    int32_t leftLevel;       // 8.8 in units of leftTarget
    int32_t rightLevel;      // 8.8
    float leftRampIncrement; // gain change per frame while ramping
    float rightRampIncrement;
    int32_t rampFramesLeft; // 0: no ramp running
    int32_t rampFrames;     // length of the next ramp; 0: the mixer's usual rampLength
    // Targets and levels in units of 1/256 of the usual ones, for quiet notes kept exact.
    uint8_t fineLevels;
};

constexpr int32_t voiceTableSize = 256;
constexpr int32_t mixedVoiceCount = 64;    // only voices 0..63 are ever mixed
constexpr int32_t partnerVoiceOffset = 32; // voice a + 32 is the partner of voice a

// How the mixer reads between sample frames. Linear is the demo's and the default; the others
// take a plain one-frame-at-a-time loop, a few times slower.
enum class Interpolation : int32_t {
    Linear = 0,
    None = 1,  // the frame the position lies in, held
    Cubic = 2, // a Catmull-Rom spline through the frame before, the frame and the two after it
};

// A muted voice plays into scratch space of this many frames at a time.
constexpr int32_t unheardFrames = 1024;

// One player's mixer: its voices, the settings that follow its output rate and the listener's
// choices. Value-initialised it holds the figures of the 44100 Hz rate with nothing muted.
struct Mixer {
    Voice voices[voiceTableSize];
    // Ramp length in frames and its reciprocal; set by setRampConstants (playback start does
    // it), only read by the mixer.
    int32_t rampLength = 128;
    float rampLengthReciprocal = 1.0f / 128.0f;
    // The step a 256 Hz voice has at the output rate, counted at 24 fractional bits: it stands
    // in for a step too small to count frames with.
    uint64_t substituteCountStep = 0x017C6F8C >> 8;
    Interpolation interpolation = Interpolation::Linear;
    // Channels whose voices add nothing to the mix: bit c for channel c (voice c and its partner
    // c + 32).
    uint32_t mutedChannelBits = 0;
    // The eight-frame loops on processors with AVX2; allowed unless setWideMixing said no.
    bool wideMixingRefused = false;
    alignas(16) float unheardMix[unheardFrames * 2];
};

// rampLength = rate * 128 / 44100 (integer), rampLengthReciprocal = 1 / rampLength (single).
void setRampConstants(Mixer& mixer, int32_t outputRate);

// Everything in the mixer that follows the output rate: the ramp constants above and the step
// a 256 Hz voice has at that rate.
void setMixerRate(Mixer& mixer, int32_t outputRate);

// Whether the mixer may use its eight-frame loops on processors with AVX2 (allowed by default).
// Both ways give the same floats to the bit; returns whether the eight-frame loops are in use.
bool setWideMixing(Mixer& mixer, bool allowed);

// Adds frameCount frames of voices 0..63 into mixBuffer (interleaved left, right floats).
// Never clears, never clamps; frameCount <= 0 does nothing. Voices of muted channels play on
// into a scratch buffer, so that they are where they belong when the channel is heard again.
void mixVoices(Mixer& mixer, float* mixBuffer, int32_t frameCount);

void setInterpolation(Mixer& mixer, Interpolation mode);
Interpolation interpolation(const Mixer& mixer);

// 0, nothing muted, is the starting state.
void setMutedChannels(Mixer& mixer, uint32_t channelBits);
uint32_t mutedChannels(const Mixer& mixer);

} // namespace music
