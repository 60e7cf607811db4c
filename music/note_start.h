// A channel's note and instrument: lookup, note start, instrument reset and release.
#pragma once

#include <cstdint>

namespace music {

struct Player;
struct Channel;
struct Instrument;
struct Sample;
struct Voice;
struct ReplayProfile;

// FT2's notes run from B-(-1) to B-9 after the relative note.
constexpr int32_t notesInFt2Range = 120;

// A channel as the song's start finds it, playing on its own voice.
void startChannel(const Player* player, Channel* channel, Voice* voice);

// The instrument and sample a channel plays on this tick: the shared empty ones when the
// instrument index or the sample map names nothing. Never null.
void lookUpInstrument(const Player* player, const Channel* channel, Instrument** instrument,
                      Sample** sample);

// A new instrument (or a delayed note): default volume and panning from the sample, envelopes
// and fadeout from their start, key released no longer.
void resetChannel(Channel* channel, const Sample* sample);

// resetChannel as the Player's profile has it: with FT2's rule an envelope the instrument has
// off keeps its position (its output stays neutral while it is off).
void resetInstrument(const Player* player, Channel* channel, const Instrument* instrument,
                     const Sample* sample);

// Marks this tick's volume change as a quick one where the profile ramps by kind.
void raiseQuickRamp(Channel* channel, const ReplayProfile& rules);

// Releases the note as a key-off does in profiles where that zeroes the volume of a channel
// without volume envelope (FT2); other profiles only set keyOff here.
void releaseNote(const Player* player, Channel* channel, const Instrument* instrument);

// FT2's start of the channel's last note number with its last instrument number written: the
// channel takes that instrument, and instrument and sample are looked up anew into the two
// pointers. False, with nothing started, when the channel has no note yet or the note lies out of
// FT2's range; otherwise the period is the note's own and the trigger flags are raised. With
// noteGiven the caller has just set the channel's note number, so it counts even on a channel
// that never played.
bool restartLastNote(const Player* player, Channel* channel, Instrument** instrument,
                     Sample** sample, bool noteGiven = false);

} // namespace music
