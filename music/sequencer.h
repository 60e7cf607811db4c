// The tick handler: song position, rows, notes, instruments, volume column, envelopes, auto-vibrato.
#pragma once

#include <cstdint>

namespace music {

struct Player;
struct Channel;
struct Instrument;
struct Sample;
struct EnvelopePoint;

// All zero: no samples, no envelopes, no fadeout. Stands in for a missing instrument.
extern Instrument emptyInstrument;

void sequencerTick(Player* player);
void setBpm(Player* player, int32_t bpm);
void processRow(Player* player);
void processTick(Player* player);
void resetChannel(Channel* channel, const Sample* sample);
int32_t amigaPeriod(int32_t realNote, int32_t finetune);

// samplesPerTick for a BPM, in single precision in the order the tempo rule gives.
int32_t samplesPerTickForBpm(int32_t bpm);

// The instrument and sample a channel plays on this tick (shared empty ones when missing).
void lookUpInstrument(const Player* player, const Channel* channel, Instrument** instrument,
                      Sample** sample);

struct EnvelopeState {
    int32_t* tick;
    int32_t* point;
    int32_t* value;
    int32_t* output;
    int32_t* slope;
    uint8_t* done;
};

void stepEnvelope(Channel* channel, EnvelopeState state, const EnvelopePoint* points,
                  int32_t pointCount, int32_t sustain, int32_t loopStart, int32_t loopEnd,
                  int32_t type, uint8_t flag);

void volumeColumnRow(Channel* channel, uint8_t v);
void volumeColumnTick(Channel* channel, uint8_t v);
void stepAutoVibrato(Channel* channel, const Instrument* instrument);

} // namespace music
