// The tick handler: song position, rows, notes, instruments, volume column, envelopes,
// auto-vibrato.
#pragma once

#include <cstdint>

namespace music {

struct Player;
struct Channel;
struct Instrument;
struct Sample;
struct EnvelopePoint;
struct ReplayProfile;

// One tick of the whole song: the row tick reads the cells of the current row, the other ticks
// run the modulations; every channel ends its tick with the voice update. Installed as the
// Player's tickHandler; it reads and writes the Player's channels and voices.
void sequencerTick(Player* player);

// Stores the BPM and the tick length that follows from it.
void setBpm(Player* player, int32_t bpm);

// Frames per tick for a BPM at an output rate, in single precision in the order the tempo rule
// gives (125 -> 882, 132 -> 835 at 44100 Hz). A BPM below 1 counts as 1.
int32_t samplesPerTickForBpm(int32_t bpm, int32_t rateHz);

// The sequencer's state as playback starts: position, tempo, BPM, global volume, every channel
// and voice of the Player and its stand-ins. The one reset that playback start, the offline
// renderer and the tests use.
void resetSequencer(Player* player);

// Makes the next tick the row tick of row 0 of order (taken as given; the caller checks it):
// the tick count, the pattern delay, the pending pattern-loop row and the channels' loop
// counters start over, the rest of the channels' state plays on.

void seekOrder(Player* player, int32_t order);

// Ticks a row lasts at the current tempo, pattern delay aside (at least 1).
int32_t ticksPerRow(const Player* player);

// Per-channel work of the row tick and of the other ticks; sequencerTick calls them.
void processRow(Player* player);
// Whether any channel is inside a pattern loop (E6x still has passes to go). Rows such a loop
// plays again are part of the song, not a sign that it has come round to its start.
bool patternLoopRunning(const Player* player);
void processTick(Player* player);

// A new instrument (or a delayed note): default volume and panning from the sample, envelopes
// and fadeout from their start, key released no longer.
void resetChannel(Channel* channel, const Sample* sample);

// resetChannel as the Player's profile has it: with FT2's rule an envelope the instrument has
// off keeps its position (its output stays neutral while it is off).
void resetInstrument(const Player* player, Channel* channel, const Instrument* instrument,
                     const Sample* sample);

// Amiga period of a note (0..255, up to 15 more from the arpeggio) with finetune -128..127.
int32_t amigaPeriod(int32_t realNote, int32_t finetune);

// Period of a note on the table the Player's flags select.
int32_t notePeriodFor(const Player* player, int32_t realNote, int32_t finetune);

// The instrument and sample a channel plays on this tick: the shared empty ones when the
// instrument index or the sample map names nothing. Never null.
void lookUpInstrument(const Player* player, const Channel* channel, Instrument** instrument,
                      Sample** sample);

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

// One tick of one envelope; raises flag in the channel's updateFlags. Only the first
// min(pointCount, 20) points are read, and a loop whose start is not among them is not taken.
// The sustain point holds while the note is not released; true when it held on this tick.
bool stepEnvelope(Channel* channel, EnvelopeState state, const EnvelopePoint* points,
                  int32_t pointCount, int32_t sustain, int32_t loopStart, int32_t loopEnd,
                  int32_t type, uint8_t flag, bool released);

// FT2's Lxx on the row tick: both envelopes are put where tick `position` begins (the volume
// envelope when it is on, the panning envelope when the volume envelope has its sustain bit) and
// take this tick's step again from there.
void setEnvelopePositionFt2(const Player* player, Channel* channel, const Instrument* instrument,
                            int32_t position);

// The volume column on the row tick (only for a non-zero byte) and on every other tick; no
// profile means the demo's rules.
void volumeColumnRow(Channel* channel, uint8_t v, const ReplayProfile* rules = nullptr);
void volumeColumnTick(Channel* channel, uint8_t v, const ReplayProfile* rules = nullptr);

// The instrument's auto-vibrato, once per tick for every channel; always raises
// UPDATE_FREQUENCY. linearTable tells the FT2 rule which way a period moves the pitch.
void stepAutoVibrato(Channel* channel, const Instrument* instrument,
                     const ReplayProfile* rules = nullptr, bool linearTable = true);

// The envelope flags playback uses: the loaded ones, or for a profile that keeps one-point
// envelopes the file's flags of such an envelope.
uint8_t volumeEnvelopeType(const Player* player, const Instrument* instrument);
uint8_t panningEnvelopeType(const Player* player, const Instrument* instrument);

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

// Arpeggio period on the linear table as FT2 finds it: the playing period snapped to the
// nearest note at the finetune (in 1/16 semitone steps), semitones added, capped at FT2's top.
int32_t linearArpeggioPeriod(int32_t period, int32_t finetune, int32_t semitones);

} // namespace music
