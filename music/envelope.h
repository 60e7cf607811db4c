// The volume and panning envelopes and the fadeout of a channel's instrument.
#pragma once

#include <cstdint>

namespace music {

struct Player;
struct Channel;
struct Instrument;
struct EnvelopePoint;
struct ReplayProfile;

// Points of an envelope that playback reads: at most the stored ones, never negative.
int32_t pointsUsable(int32_t pointCount);

// The six channel fields that one envelope runs on.
struct EnvelopeState {
    int32_t* tick;
    int32_t* point;
    int32_t* value; // 16.16
    int32_t* output;
    int32_t* slope; // 16.16 per tick
    uint8_t* done;
};

EnvelopeState volumeEnvelopeState(Channel* channel);
EnvelopeState panningEnvelopeState(Channel* channel);

// Copies an envelope's position (not its output) from one channel's fields to another's.
void keepEnvelopePosition(EnvelopeState kept, EnvelopeState from);

// The envelope flags playback uses: the loaded ones, or for a profile that keeps one-point
// envelopes the file's flags of such an envelope.
uint8_t volumeEnvelopeType(const Player* player, const Instrument* instrument);
uint8_t panningEnvelopeType(const Player* player, const Instrument* instrument);

// One tick of one envelope; raises flag in the channel's updateFlags. Only the first
// min(pointCount, 20) points are read, and a loop whose start is not among them is not taken.
// The sustain point holds while the note is not released; true when it held on this tick. With
// ft2Range the level follows FT2's 8.8 range rule and only slides towards a later point.
bool stepEnvelope(Channel* channel, EnvelopeState state, const EnvelopePoint* points,
                  int32_t pointCount, int32_t sustain, int32_t loopStart, int32_t loopEnd,
                  int32_t type, uint8_t flag, bool released, bool ft2Range = false);

// One tick of the instrument's volume or panning envelope under the profile's rules (type is
// what volumeEnvelopeType or panningEnvelopeType gives).
void stepVolumeEnvelope(Channel* channel, const Instrument* instrument, uint8_t type,
                        const ReplayProfile& rules);
void stepPanningEnvelope(Channel* channel, const Instrument* instrument, uint8_t type,
                         const ReplayProfile& rules);

// One tick of the fadeout of a released note; with speedAtReset the speed taken at the last
// instrument reset, otherwise the instrument's own.
void stepFadeout(Channel* channel, const Instrument* instrument, bool speedAtReset);

// The per-tick steps of the instrument's envelopes that are on, then the fadeout.
void stepEnvelopesAndFadeout(Channel* channel, const Instrument* instrument, uint8_t volumeType,
                             uint8_t panningType, const ReplayProfile& rules);

// FT2's Lxx on the row tick: both envelopes are put where tick `position` begins (the volume
// envelope when it is on, the panning envelope when the volume envelope has its sustain bit) and
// take this tick's step again from there.
void setEnvelopePositionFt2(const Player* player, Channel* channel, const Instrument* instrument,
                            int32_t position);

// The envelope levels the voice update reads, where the profile has FT2 hear none for an
// instrument that has its envelope off; raises the flags of what changed.
void settleEnvelopeOutputs(const Player* player, Channel* channel, const Instrument* instrument);

} // namespace music
