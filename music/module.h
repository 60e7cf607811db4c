// The decoded module: Player, Pattern, Instrument and Sample records, and the Player's life.
#pragma once

#include "audio_output.h"
#include "channel.h"
#include "format.h"
#include "load_result.h"
#include "mixer.h"
#include "profile.h"
#include "stream.h"

#include <cstdint>

namespace music {

constexpr uint8_t KEY_OFF = 255; // a cell note that releases the channel (the file's note 97)

constexpr uint8_t LOOP_NONE = 1;
constexpr uint8_t LOOP_FORWARD = 2;
constexpr uint8_t LOOP_PINGPONG = 4;

constexpr int32_t maxSamplesPerInstrument = 16;
constexpr int32_t sampleMapNotes = 96;
constexpr int32_t envelopePointsStored = 20;
constexpr int32_t envelopePointsRead = 12;
constexpr int32_t orderTableEntries = 256;
constexpr int32_t maxChannels = 32;      // size of the channel table
constexpr int32_t sampleGuardValues = 8; // zeros behind every sample's data

// One pattern cell, exactly five bytes.
struct Cell {
    uint8_t note;       // 0 none, 1..96 notes, KEY_OFF; other values as read
    uint8_t instrument; // 0 none, 1..128
    uint8_t volume;     // volume column byte
    uint8_t effect;
    uint8_t param;
};
static_assert(sizeof(Cell) == 5, "cells are five bytes");

struct Pattern {
    int32_t rowCount;
    Cell* cells; // rowCount x channelCount, row after row
};

struct EnvelopePoint {
    uint16_t x; // tick
    uint16_t y; // value
};

struct Sample {
    int16_t* data;       // length absolute values + 8 guard values; null when length is 0
    uint32_t length;     // in sample frames
    uint32_t loopStart;  // in sample frames
    uint32_t loopLength; // in sample frames; 0 only when length is 0
    uint8_t volume;      // 0..64
    int8_t finetune;
    int32_t panning;  // 0..255
    uint8_t bits;     // 8 or 16 as stored; 16 once decoded
    uint8_t loopMode; // LOOP_NONE, LOOP_FORWARD or LOOP_PINGPONG
    int8_t relativeNote;
};

struct Instrument {
    int32_t sampleCount;                      // 0..16
    Sample* samples[maxSamplesPerInstrument]; // slots >= sampleCount: the Player's empty sample
    uint8_t sampleMap[sampleMapNotes];        // sample slot per note 1..96 (index note - 1)
    EnvelopePoint volumeEnvelope[envelopePointsStored];
    EnvelopePoint panningEnvelope[envelopePointsStored];
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustain;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustain;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeType;  // bit 0 on, bit 1 sustain, bit 2 loop
    uint8_t panningType; // likewise
    uint8_t autoVibratoType;
    uint8_t autoVibratoSweep;
    uint8_t autoVibratoDepth;
    uint8_t autoVibratoRate;
    uint16_t fadeout; // the file's fadeout doubled
    // The envelope flags as the file has them, before a one-point envelope is switched off.
    uint8_t volumeTypeAsRead;
    uint8_t panningTypeAsRead;
};

// What the file states about itself, field by field as the loader met it, for tools and embedders:
// names, and the header fields that playback keeps only in normalised form. Fields past a short
// header, or past the end of a file cut inside one, are zero, as the loader reads them too.
constexpr int32_t storedNameBytes = 20;
constexpr int32_t storedInstrumentNameBytes = 22;
constexpr int32_t storedEnvelopePoints = 12;
// The most sample headers an instrument can state: ModPlug Tracker and OpenMPT write up to 32.
// FT2 plays the first 16 and skips the others' headers and data; above 32 it refuses the file.
constexpr int32_t maxStoredSamplesPerInstrument = 32;

struct StoredEnvelope {
    uint16_t x[storedEnvelopePoints];
    uint16_t y[storedEnvelopePoints];
    uint8_t pointCount;
    uint8_t sustain;
    uint8_t loopStart;
    uint8_t loopEnd;
    uint8_t type;
};

struct StoredSample {
    char name[storedInstrumentNameBytes + 1]; // trailing blanks dropped, control bytes as blanks
    uint32_t lengthBytes;
    uint32_t loopStartBytes;
    uint32_t loopLengthBytes;
    uint8_t volume;
    int8_t finetune;
    uint8_t type; // bits 0-1 loop, bit 4 16-bit data
    uint8_t panning;
    int8_t relativeNote;
    uint8_t packing; // the byte after the relative note: 0xAD for 4-bit packed data
};

struct StoredInstrument {
    char name[storedInstrumentNameBytes + 1];
    uint16_t sampleCount; // as stated; every stated sample header has a record
    // The rest is zero for an instrument without samples, whose header ends before it.
    uint8_t noteSamples[sampleMapNotes];
    StoredEnvelope volume;
    StoredEnvelope panning;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout;
    StoredSample* samples; // sampleCount records, heap; null when there are none
};

struct StoredModule {
    char title[storedNameBytes + 1];
    char tracker[storedNameBytes + 1];
    uint16_t version;
    uint16_t storedPatterns;
    uint16_t instrumentCount;
    uint16_t tempo; // ticks per row at the start
    uint16_t bpm;
    StoredInstrument* instruments; // instrumentCount records, heap; null when there are none
};

struct Player;
using TickHandler = void (*)(Player* player);

// What plays where a module names nothing: each Player has its own, since effect E5y may write
// a stand-in's finetune. Playback start puts them back as they are here.
struct StandIns {
    // Stands in for every missing sample.
    Sample empty{};
    // What FT2 plays for an instrument that does not exist, and for a sample slot an existing
    // instrument leaves empty: no data either way, only the defaults differ.
    Sample ft2Placeholder{nullptr, 0, 0, 0, 0, 0, 128, 0, 0, 0};
    Sample ft2UnusedSlot{nullptr, 0, 0, 0, 64, 0, 128, 0, 0, 0};
    // All zero: no samples, no envelopes, no fadeout. Stands in for a missing instrument.
    Instrument emptyInstrument{};
};

struct Player {
    Pattern* patterns;       // patternRecordCount records
    Instrument* instruments; // instrumentCount records
    int32_t tickSamplesLeft; // frames still to mix before the next tick
    int32_t samplesPerTick;  // frames per tick, from the BPM
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t patternCount;       // highest pattern named by the used orders, plus one
    int32_t patternRecordCount; // max(patternCount, patterns stored in the file)
    int16_t instrumentCount;
    int16_t flags; // bit 0: linear frequency table
    int16_t defaultTempo;
    int16_t defaultBpm;
    uint8_t orderTable[orderTableEntries];
    uint8_t initialGlobalVolume;
    int32_t globalVolume; // 0..64
    uint8_t globalVolumeSlideMemory;
    int32_t tick;  // 0 is the row tick
    int32_t tempo; // ticks per row
    int32_t bpm;
    int32_t row;
    int32_t order;
    int32_t patternDelayTicks;
    int32_t nextRow;   // -1 = none pending
    int32_t nextOrder; // -1 = none pending
    int32_t songTimeMs;
    TickHandler tickHandler;
    // Whatever the one who installed tickHandler needs to find again from the Player alone.
    void* tickContext;
    // Not in the file: which rules playback follows. Null (a zero-filled Player) plays the demo
    // profile. Set with setReplayProfile before playback starts.
    const ReplayProfile* profile;
    // Playback state of some profiles only; zero at playback start.
    int32_t pendingBreakRow;     // where the next pattern starts after a pattern loop
    uint8_t globalVolumeTouched; // G or H ran on this tick
    // Not read by playback: the file's own statements, written while loading.
    StoredModule stored;

    // Everything else the Player plays from is its own too, so that any number of Players play
    // at once, each on its own thread. Set before playback starts: the output rate (setSampleRate)
    // and the table the loader read through (playback start checks it is complete).
    int32_t outputRate = defaultSampleRateHz;
    StreamInterface streams = memoryStreamInterface;
    // Touched only by the thread that renders the Player.
    Channel channels[channelTableSize];
    Mixer mixer;
    MixControls controls{1.0f, 1.0f};
    StandIns standIns;
    AudioOutput output;
};

// Chooses the rules a Player is played by; takes effect at the next playback start.
void setReplayProfile(Player* player, ProfileId id);

// The Player's profile, the demo profile when none was set.
inline const ReplayProfile& profileOf(const Player* player) {
    return player->profile != nullptr ? *player->profile : *replayProfile(ProfileId::Demo);
}

// Carries the open stream from createPlayer into loadModule, and the loader's verdict back.
struct LoadContext {
    void* stream;
    LoadResult result; // written by loadModule: error None on success
};

// Reads a module through the Player's stream table into a new Player. False when the module cannot
// be loaded, with the reason in context->result; whatever was allocated stays reachable from the
// Player for destroyPlayer to free.
bool loadModule(Player* player, LoadContext* context);

// Returns a loaded Player, or null when the description names no loadable module. The module is
// read through streams (the memory stream unless another table is given).
Player* createPlayer(const MemoryStream* description,
                     const StreamInterface& streams = memoryStreamInterface);

// As createPlayer, and says why a module was refused: result (when not null) gets error None
// with a Player, else the reason and the byte at which loading stopped.
Player* createPlayerWithResult(const MemoryStream* description, LoadResult* result,
                               const StreamInterface& streams = memoryStreamInterface);

// Stops the Player's playback and frees the Player with everything it owns. False for null.
bool destroyPlayer(Player* player);

} // namespace music
