// Per-pattern-channel playback state and the bits that tell the voice update what to push.
#pragma once

#include <cstdint>

namespace music {

struct Voice;

constexpr uint8_t UPDATE_FREQUENCY = 0x01;
constexpr uint8_t UPDATE_VOLUME = 0x02;
constexpr uint8_t UPDATE_PANNING = 0x04;
constexpr uint8_t UPDATE_TRIGGER = 0x08;
// Where the profile ramps volume changes by their kind: this tick's change is a quick one (a set
// volume, a note cut, a key-off cut, the tremor, an instrument's volume) rather than a slide.
constexpr uint8_t UPDATE_QUICK_RAMP = 0x10;
constexpr uint8_t UPDATE_RESTART = 0x20;

// A channel's instrument index when it has none: every lookup gives the empty instrument.
constexpr uint8_t noInstrument = 0xFF;

struct Channel {
    uint8_t note;        // 0-based note (cell note - 1), index into the sample map
    uint8_t updateFlags; // cleared at the start of every tick
    Voice* voice;        // the voice this channel drives; moves to the partner on a hand-off
    int32_t period;
    int32_t volume;      // 0..64 normally, up to 255 after effect C
    int32_t panning;     // 0..255, 128 centre
    int32_t volumeDelta; // this tick only
    int32_t periodDelta; // this tick only
    int32_t volumeEnvelopeTick;
    int32_t volumeEnvelopePoint;
    int32_t volumeEnvelopeValue;  // 16.16
    int32_t volumeEnvelopeOutput; // 0..64
    int32_t volumeEnvelopeSlope;  // 16.16 per tick
    uint8_t volumeEnvelopeDone;
    int32_t panningEnvelopeTick;
    int32_t panningEnvelopePoint;
    int32_t panningEnvelopeValue;
    int32_t panningEnvelopeOutput; // 0..64, 32 centre
    int32_t panningEnvelopeSlope;
    uint8_t panningEnvelopeDone;
    int32_t fadeoutVolume;       // 65536 after a reset, falls to 0 after key-off
    int32_t autoVibratoPosition; // 0..255
    int32_t autoVibratoSweepCounter;
    uint8_t keyOff;
    uint8_t instrument; // 0-based, or noInstrument
    uint8_t realNote;   // cell note + relativeNote - 1, modulo 256
    int32_t notePeriod;
    uint8_t lastEffect;
    int32_t sampleOffsetMemory;
    uint8_t portaDownMemory;
    uint8_t portaUpMemory;
    uint8_t extraFinePortaDownMemory;
    uint8_t extraFinePortaUpMemory;
    uint8_t volumeSlideMemory;
    uint8_t panningSlideMemory;
    uint8_t retrigVolumeMode;
    uint8_t retrigInterval;
    int32_t portaTarget;
    uint8_t portaSpeed;
    // FT2's tone portamento direction: 0 none, 1 towards longer periods, 2 towards shorter ones.
    uint8_t portaDirection;
    int8_t vibratoPosition; // -32..31
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    int8_t tremoloPosition; // -32..31
    uint8_t tremoloSpeed;
    uint8_t tremoloDepth;
    uint8_t tremorCounter;
    uint8_t tremorOnTicks;
    uint8_t tremorOffTicks;
    int32_t loopRow;
    int32_t loopCounter;
    uint8_t waveControl; // low nibble vibrato waveform, high nibble tremolo waveform
    uint8_t fineVolumeSlideMemory;
    uint8_t finePortaUpMemory;
    uint8_t finePortaDownMemory;
    // Used by some replay profiles only.
    int32_t heldVibratoDelta;        // periodDelta of the last vibrato tick
    int32_t autoVibratoAmplitude;    // depth << 8 once swept in
    int32_t autoVibratoSweepStep;    // added per tick while sweeping in; 0 when done
    uint8_t selectedInstrument;      // last instrument number of a cell (1-based), 0 none yet
    uint8_t amigaTable;              // the song plays on the Amiga frequency table
    uint8_t tremorMuted;             // the last tremor tick silenced the channel
    uint8_t fineVolumeDownMemory;    // EBy's own memory where it has one
    uint8_t globalVolumeSlideMemory; // Hxy's memory where each channel has one
    uint8_t glissando;               // E3y set: tone portamentos move in semitones
    int32_t fadeoutSpeed;            // the fadeout per tick, where it is taken at a reset
    uint8_t retrigCounter;           // ticks since Rxy last retriggered, where it counts
    int32_t panningEnvelopeFine;     // the panning envelope's last value in 8.8, 32.0 centre
    uint8_t panningHeld;             // the panning envelope holds on its sustain point
    uint8_t lastParam;               // the effect parameter of the channel's last row
    int8_t noteFinetune;             // the finetune the channel's last note started with
    uint8_t startedNote;             // a note has started on the channel since playback began
};

// The size of a Player's channel table.
constexpr int32_t channelTableSize = 32;

} // namespace music
