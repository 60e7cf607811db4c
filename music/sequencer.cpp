// The sequencer: song position, rows and ticks, notes and instruments, the volume column,
// envelopes, key-off and fadeout, auto-vibrato, and the order of all per-channel work in a tick.
#include "sequencer.h"

#include "amiga_periods.h"
#include "channel.h"
#include "effects.h"
#include "format.h"
#include "mixer.h"
#include "module.h"
#include "profile.h"
#include "voice_update.h"

#include <cmath>

namespace music {

namespace {

constexpr uint8_t highestInstrumentNumber = 128;

constexpr int32_t linearPeriodOfNoteZero = 7680;
constexpr int32_t linearPeriodsPerSemitone = 64;
constexpr int32_t fadeoutFull = 65536;
constexpr int32_t envelopeOne = 65536;   // 1.0 in 16.16
constexpr uint8_t highestNote = 96;      // cell notes 1..96 name the sample map's entries
constexpr int32_t notesInFt2Range = 120; // B-(-1) to B-9, after the relative note

// Rows that lie outside the pattern data (a break or loop past the end of a shorter pattern, an
// order naming no pattern record) play as this: no note, no instrument, no effect.
const Cell emptyCells[maxChannels] = {};

bool linearTable(const Player* player) {
    return (player->flags & 1) != 0;
}

int32_t channelsToPlay(const Player* player) {
    const int32_t count = player->channelCount;
    if (count < 0) return 0;
    return count < channelTableSize ? count : channelTableSize;
}

// Orders beyond the order table cannot be named; a longer song length is read as 256.
int32_t orderCount(const Player* player) {
    const int32_t length = player->songLength;
    return length < orderTableEntries ? length : orderTableEntries;
}

const Pattern* currentPattern(const Player* player) {
    const int32_t order = player->order;
    if (order < 0 || order >= orderTableEntries || player->patterns == nullptr) return nullptr;
    const int32_t index = player->orderTable[order];
    if (index >= player->patternRecordCount) return nullptr;
    return &player->patterns[index];
}

int32_t currentRowCount(const Player* player) {
    const Pattern* pattern = currentPattern(player);
    return pattern != nullptr ? pattern->rowCount : 0;
}

// The cells of the row being played, channel after channel; the empty row when the position
// lies outside the pattern.
const Cell* currentRowCells(const Player* player) {
    const Pattern* pattern = currentPattern(player);
    const int32_t row = player->row;
    if (pattern == nullptr || pattern->cells == nullptr || row < 0 || row >= pattern->rowCount)
        return emptyCells;
    return pattern->cells + static_cast<int64_t>(row) * player->channelCount;
}

// Notes above 96 (other than key-off) would index the sample map past its end; they count as no
// note at all.
bool isNote(uint8_t cellNote) {
    return cellNote >= 1 && cellNote <= highestNote;
}

int32_t pointsUsable(int32_t pointCount) {
    if (pointCount < 0) return 0;
    return pointCount < envelopePointsStored ? pointCount : envelopePointsStored;
}

// FT2 leaves a loop that ends on the sustain point once the note is released.
uint8_t envelopeTypeThisTick(const Channel* channel, uint8_t type, int32_t sustain, int32_t loopEnd,
                             const ReplayProfile& rules) {
    constexpr uint8_t sustainOn = 2;
    constexpr uint8_t loopOn = 4;
    if (rules.releaseLeavesSustainLoop && channel->keyOff != 0 && (type & sustainOn) != 0 &&
        sustain == loopEnd)
        return static_cast<uint8_t>(type & ~loopOn);
    return type;
}

void stepVolumeEnvelope(Channel* channel, const Instrument* instrument, uint8_t type,
                        const ReplayProfile& rules) {
    stepEnvelope(channel, volumeEnvelopeState(channel), instrument->volumeEnvelope,
                 instrument->volumePointCount, instrument->volumeSustain,
                 instrument->volumeLoopStart, instrument->volumeLoopEnd,
                 envelopeTypeThisTick(channel, type, instrument->volumeSustain,
                                      instrument->volumeLoopEnd, rules),
                 UPDATE_VOLUME, channel->keyOff != 0);
}

void stepPanningEnvelope(Channel* channel, const Instrument* instrument, uint8_t type,
                         const ReplayProfile& rules) {
    // FT2's key-off pulls only the volume envelope back onto its sustain point; a panning
    // envelope already held there stays held.
    const bool released =
        channel->keyOff != 0 && !(rules.panningSustainOutlastsRelease && channel->panningHeld != 0);
    const bool held =
        stepEnvelope(channel, panningEnvelopeState(channel), instrument->panningEnvelope,
                     instrument->panningPointCount, instrument->panningSustain,
                     instrument->panningLoopStart, instrument->panningLoopEnd,
                     envelopeTypeThisTick(channel, type, instrument->panningSustain,
                                          instrument->panningLoopEnd, rules),
                     UPDATE_PANNING, released);
    channel->panningHeld = held ? 1 : 0;
    // FT2 pans with the envelope's fraction as well.
    channel->panningEnvelopeFine = channel->panningEnvelopeValue >> 8;
}

void stepFadeout(Channel* channel, const Instrument* instrument, bool speedAtReset) {
    if (channel->keyOff != 1) return;
    const int32_t speed = speedAtReset ? channel->fadeoutSpeed : instrument->fadeout;
    const int32_t faded = channel->fadeoutVolume - speed;
    channel->fadeoutVolume = faded > 0 ? faded : 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

// The per-tick envelope steps of the instrument's envelopes that are on, then the fadeout.
void stepEnvelopesAndFadeout(Channel* channel, const Instrument* instrument, uint8_t volumeType,
                             uint8_t panningType, const ReplayProfile& rules) {
    if ((volumeType & 1) != 0 && channel->volumeEnvelopeDone == 0)
        stepVolumeEnvelope(channel, instrument, volumeType, rules);
    if ((panningType & 1) != 0 && channel->panningEnvelopeDone == 0)
        stepPanningEnvelope(channel, instrument, panningType, rules);
    stepFadeout(channel, instrument, rules.fadeoutSpeedAtReset);
}

void slideVolumeDown(Channel* channel, int32_t amount) {
    channel->tremorMuted = 0;
    const int32_t volume = channel->volume - amount;
    channel->volume = volume > 0 ? volume : 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slideVolumeUp(Channel* channel, int32_t amount) {
    channel->tremorMuted = 0;
    const int32_t volume = channel->volume + amount;
    channel->volume = volume < 64 ? volume : 64;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slidePanning(Channel* channel, int32_t amount) {
    channel->panning += amount;
    channel->updateFlags |= UPDATE_PANNING;
}

// FT2's volume-column panning slides stay within 0..255; a slide left by 0 lands on 0.
void slidePanningLeftClamped(Channel* channel, int32_t amount) {
    channel->panning = amount != 0 && channel->panning >= amount ? channel->panning - amount : 0;
    channel->updateFlags |= UPDATE_PANNING;
}

void slidePanningRightClamped(Channel* channel, int32_t amount) {
    const int32_t panning = channel->panning + amount;
    channel->panning = panning < 255 ? panning : 255;
    channel->updateFlags |= UPDATE_PANNING;
}

// FT2's auto-vibrato waves at phase 0..255, -64..64; a positive value lowers the pitch.
int32_t ft2AutoVibratoWave(int32_t type, int32_t position) {
    switch (type) {
    case 1: return position > 127 ? 64 : -64;
    case 2: return (((position >> 1) + 64) & 127) - 64;
    case 3: return ((64 - (position >> 1)) & 127) - 64;
    default: {
        constexpr double twoPi = 6.283185307179586;
        return static_cast<int32_t>(std::lround(64.0 * std::sin(-position * twoPi / 256.0)));
    }
    }
}

// FT2's auto-vibrato: the amplitude sweeps in from the reset on (held once the note is released,
// when only the sweep step itself is heard), the phase moves before it is read.
void stepAutoVibratoFt2(Channel* channel, const Instrument* instrument, bool linearTable) {
    channel->updateFlags |= UPDATE_FREQUENCY;
    const int32_t depth = instrument->autoVibratoDepth;
    if (depth == 0) return;
    const int32_t fullAmplitude = depth << 8;
    if (channel->autoVibratoSweepCounter == 0) {
        // First tick since the reset.
        const int32_t sweep = instrument->autoVibratoSweep;
        channel->autoVibratoAmplitude = sweep > 0 ? 0 : fullAmplitude;
        channel->autoVibratoSweepStep = sweep > 0 ? fullAmplitude / sweep : 0;
        channel->autoVibratoSweepCounter = 1;
    }
    int32_t amplitude = channel->autoVibratoAmplitude;
    if (channel->autoVibratoSweepStep > 0) {
        amplitude = channel->autoVibratoSweepStep;
        if (channel->keyOff == 0) {
            amplitude += channel->autoVibratoAmplitude;
            if ((amplitude >> 8) > depth) {
                amplitude = fullAmplitude;
                channel->autoVibratoSweepStep = 0;
            }
            channel->autoVibratoAmplitude = amplitude;
        }
    }
    channel->autoVibratoPosition =
        (channel->autoVibratoPosition + instrument->autoVibratoRate) & 255;
    const int32_t wave =
        ft2AutoVibratoWave(instrument->autoVibratoType, channel->autoVibratoPosition);
    const int32_t periodOffset = (wave * amplitude) >> 14;
    // A positive periodDelta raises the pitch on the linear table and lowers it on the Amiga one.
    channel->periodDelta += linearTable ? -periodOffset : periodOffset;
}

// Wave value -64..64 of the auto-vibrato at phase 0..255; types above 3 give no wave.
int32_t autoVibratoWave(int32_t type, int32_t position) {
    switch (type) {
    case 0: {
        const float angle = static_cast<float>(position) * 2.0f * 3.141592f * 0.00390625f;
        return static_cast<int32_t>(std::sin(static_cast<double>(angle)) * 64.0);
    }
    case 1: return position < 128 ? 64 : -64;
    case 2: return (128 - ((position + 128) % 256)) >> 1;
    case 3: return (128 - ((384 - position) % 256)) >> 1;
    default: return 0;
    }
}

} // namespace

int32_t samplesPerTickForBpm(int32_t bpm, int32_t rateHz) {
    const float beatsPerMinute = static_cast<float>(bpm > 0 ? bpm : 1);
    const float ticksPerSecond = beatsPerMinute * 2.0f / 5.0f;
    const float msPerTick = 1000.0f / ticksPerSecond;
    return static_cast<int32_t>(msPerTick * static_cast<float>(rateHz) / 1000.0f);
}

int32_t ticksPerRow(const Player* player) {
    // FT2's 16-bit tick counter, set to 0 by F00, wraps to 65535 before it next reaches 0.
    constexpr int32_t wrappedTickCounterTicks = 65536;
    if (player->tempo > 0) return player->tempo;
    return profileOf(player).speedZeroHoldsRow ? wrappedTickCounterTicks : 1;
}

void setBpm(Player* player, int32_t bpm) {
    player->bpm = bpm;
    player->samplesPerTick = samplesPerTickForBpm(bpm, player->outputRate);
}

namespace {

int32_t periodOfSemitoneStep(int32_t k) {
    const float octaves = static_cast<float>(k) / 12.0f;
    return static_cast<int32_t>(13.375 * std::pow(2.0, static_cast<double>(octaves)));
}

} // namespace

bool patternLoopRunning(const Player* player) {
    for (int32_t c = 0; c < player->channelCount && c < channelTableSize; ++c) {
        if (player->channels[c].loopCounter != 0) return true;
    }
    return false;
}

int32_t amigaPeriod(int32_t realNote, int32_t finetune) {
    const int32_t p0 = periodOfSemitoneStep(132 - realNote);
    if (finetune < 0 && realNote != 0) {
        const int32_t lower = periodOfSemitoneStep(133 - realNote);
        return p0 + (-finetune) * (lower - p0) / 128;
    }
    const int32_t higher = periodOfSemitoneStep(131 - realNote);
    return p0 - finetune * (p0 - higher) / 128;
}

int32_t notePeriodFor(const Player* player, int32_t realNote, int32_t finetune) {
    if (!linearTable(player) && profileOf(player).ft2AmigaPeriodTable)
        return ft2AmigaNotePeriod(realNote, finetune);
    if (profileOf(player).finetuneSixteenthSteps) {
        // Steps of 1/16 semitone: 4 linear period units each.
        const int32_t step = finetune >> 3;
        if (linearTable(player))
            return linearPeriodOfNoteZero - linearPeriodsPerSemitone * realNote - 4 * step;
        return amigaPeriod(realNote, step * 8);
    }
    if (linearTable(player))
        return linearPeriodOfNoteZero - linearPeriodsPerSemitone * realNote - finetune / 2;
    return amigaPeriod(realNote, finetune);
}

int32_t linearArpeggioPeriod(int32_t period, int32_t finetune, int32_t semitones) {
    // FT2's linear note table: entry i is 7744 - 4 i, a note n at finetune step f sits at
    // 16 n + 16 + f. The search compares with the point half a semitone below each note.
    constexpr int32_t tableTop = 7744;
    constexpr int32_t entriesPerNote = 16;
    constexpr int32_t searchedNotes = 96;
    constexpr int32_t lastReachable = 1550; // from here on FT2 plays entry 1551
    const int32_t offset = (finetune >> 3) + entriesPerNote;
    int32_t low = 0;
    int32_t high = searchedNotes * entriesPerNote;
    for (int32_t i = 0; i < 8; ++i) {
        const int32_t middle = ((low + high) >> 1) & ~(entriesPerNote - 1);
        int32_t halfBelow = middle + offset - entriesPerNote / 2;
        if (halfBelow < 0) halfBelow = 0;
        if (period >= tableTop - 4 * halfBelow) {
            high = middle;
        } else {
            low = middle;
        }
    }
    int32_t entry = low + offset + semitones * entriesPerNote;
    if (entry >= lastReachable) entry = lastReachable + 1;
    return tableTop - 4 * entry;
}

uint8_t volumeEnvelopeType(const Player* player, const Instrument* instrument) {
    if (instrument->volumePointCount == 1 && profileOf(player).onePointEnvelopes)
        return instrument->volumeTypeAsRead;
    return instrument->volumeType;
}

uint8_t panningEnvelopeType(const Player* player, const Instrument* instrument) {
    if (instrument->panningPointCount == 1 && profileOf(player).onePointEnvelopes)
        return instrument->panningTypeAsRead;
    return instrument->panningType;
}

void raiseQuickRamp(Channel* channel, const ReplayProfile& rules) {
    if (rules.ft2VolumeRamps) channel->updateFlags |= UPDATE_QUICK_RAMP;
}

void releaseNote(const Player* player, Channel* channel, const Instrument* instrument) {
    channel->keyOff = 1;
    if (profileOf(player).keyOffZeroesVolume && (volumeEnvelopeType(player, instrument) & 1) == 0) {
        channel->volume = 0;
        channel->updateFlags |= UPDATE_VOLUME;
        raiseQuickRamp(channel, profileOf(player));
    }
}

void lookUpInstrument(const Player* player, const Channel* channel, Instrument** instrument,
                      Sample** sample) {
    const bool ft2StandIns = profileOf(player).ft2MissingInstruments;
    // The stand-ins are the Player's own and may be written like any sample (E5y), as the
    // pointers handed out say; the Player is const here only for what this call reads.
    StandIns& standIns = const_cast<Player*>(player)->standIns;
    if (channel->instrument >= player->instrumentCount || player->instruments == nullptr ||
        (ft2StandIns && player->instruments[channel->instrument].sampleCount == 0)) {
        *instrument = &standIns.emptyInstrument;
        *sample = ft2StandIns ? &standIns.ft2Placeholder : &standIns.empty;
        return;
    }
    Instrument* found = &player->instruments[channel->instrument];
    *instrument = found;
    const uint8_t slot = channel->note < sampleMapNotes ? found->sampleMap[channel->note] : 0xFF;
    Sample* playing = slot < maxSamplesPerInstrument ? found->samples[slot] : nullptr;
    if (playing == nullptr || playing == &standIns.empty)
        playing = ft2StandIns ? &standIns.ft2UnusedSlot : &standIns.empty;
    *sample = playing;
}

bool restartLastNote(const Player* player, Channel* channel, Instrument** instrument,
                     Sample** sample, bool noteGiven) {
    if (channel->notePeriod == 0 && !noteGiven) return false; // no note number yet
    channel->instrument = channel->selectedInstrument != 0 ? channel->selectedInstrument - 1 : 0xFF;
    lookUpInstrument(player, channel, instrument, sample);
    const int32_t shiftedNote = channel->note + 1 + (*sample)->relativeNote; // 0 is B-(-1)
    if (shiftedNote < 0 || shiftedNote >= notesInFt2Range) return false;
    // B-(-1) has no period of its own: the one playing stays.
    if (shiftedNote != 0) {
        channel->realNote = static_cast<uint8_t>(shiftedNote - 1);
        channel->notePeriod = notePeriodFor(player, channel->realNote, (*sample)->finetune);
        channel->noteFinetune = (*sample)->finetune;
        channel->startedNote = 1;
        channel->period = channel->notePeriod;
    }
    channel->periodDelta = 0;
    channel->updateFlags |= UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_TRIGGER;
    return true;
}

void resetChannel(Channel* channel, const Sample* sample) {
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    channel->volumeEnvelopeOutput = 64;
    channel->volumeEnvelopePoint = 0;
    channel->volumeEnvelopeTick = 0;
    channel->volumeEnvelopeSlope = 0;
    channel->panningEnvelopeOutput = 32;
    channel->panningEnvelopeFine = 32 << 8;
    channel->panningHeld = 0;
    channel->panningEnvelopePoint = 0;
    channel->panningEnvelopeTick = 0;
    channel->panningEnvelopeSlope = 0;
    channel->keyOff = 0;
    channel->fadeoutVolume = fadeoutFull;
    channel->volumeEnvelopeDone = 0;
    channel->panningEnvelopeDone = 0;
    channel->autoVibratoPosition = 0;
    channel->autoVibratoSweepCounter = 0;
    // A waveform control of 4 or more keeps the phase running across notes.
    if ((channel->waveControl & 0x0F) < 4) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) < 4) channel->tremoloPosition = 0;
    channel->tremorCounter = 0;
    channel->tremorMuted = 0;
    channel->retrigCounter = 0;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

namespace {

void keepEnvelopePosition(EnvelopeState kept, EnvelopeState from) {
    *kept.tick = *from.tick;
    *kept.point = *from.point;
    *kept.value = *from.value;
    *kept.slope = *from.slope;
    *kept.done = *from.done;
}

} // namespace

void resetInstrument(const Player* player, Channel* channel, const Instrument* instrument,
                     const Sample* sample) {
    channel->fadeoutSpeed = instrument->fadeout;
    raiseQuickRamp(channel, profileOf(player));
    if (!profileOf(player).envelopeResetNeedsEnvelope) {
        resetChannel(channel, sample);
        return;
    }
    Channel before = *channel;
    resetChannel(channel, sample);
    // The output stays at the neutral value the reset gave it while the envelope is off.
    if ((volumeEnvelopeType(player, instrument) & 1) == 0)
        keepEnvelopePosition(volumeEnvelopeState(channel), volumeEnvelopeState(&before));
    if ((panningEnvelopeType(player, instrument) & 1) == 0)
        keepEnvelopePosition(panningEnvelopeState(channel), panningEnvelopeState(&before));
}

EnvelopeState volumeEnvelopeState(Channel* channel) {
    return {&channel->volumeEnvelopeTick,  &channel->volumeEnvelopePoint,
            &channel->volumeEnvelopeValue, &channel->volumeEnvelopeOutput,
            &channel->volumeEnvelopeSlope, &channel->volumeEnvelopeDone};
}

EnvelopeState panningEnvelopeState(Channel* channel) {
    return {&channel->panningEnvelopeTick,  &channel->panningEnvelopePoint,
            &channel->panningEnvelopeValue, &channel->panningEnvelopeOutput,
            &channel->panningEnvelopeSlope, &channel->panningEnvelopeDone};
}

bool stepEnvelope(Channel* channel, EnvelopeState state, const EnvelopePoint* points,
                  int32_t pointCount, int32_t sustain, int32_t loopStart, int32_t loopEnd,
                  int32_t type, uint8_t flag, bool released) {
    bool held = false;
    const int32_t n = pointsUsable(pointCount);
    int32_t& t = *state.tick;
    int32_t& i = *state.point;
    int32_t& value = *state.value;
    if (i >= 0 && i < n && t == points[i].x) {
        // The loop comes first, so a loop ending on the last point never lets the envelope end.
        if ((type & 4) != 0 && i == loopEnd && loopStart < n) {
            i = loopStart;
            t = points[i].x;
        }
        // On a point the value is the point's own, also where the envelope stops or holds.
        value = static_cast<int32_t>(static_cast<int64_t>(points[i].y) * envelopeOne);
        if (i == n - 1) {
            *state.output = points[i].y;
            *state.done = 1;
            channel->updateFlags |= flag;
            return held;
        }
        if ((type & 2) != 0 && i == sustain && !released) {
            *state.output = points[i].y;
            channel->updateFlags |= flag;
            held = true;
            return held;
        }
        const int32_t dx = points[i + 1].x - points[i].x;
        const int64_t dy = static_cast<int64_t>(points[i + 1].y) - points[i].y;
        // Values are 16-bit as read, so the 16.16 arithmetic is done wide and kept to 32 bits.
        *state.slope = dx != 0 ? static_cast<int32_t>(dy * envelopeOne / dx) : 0;
        value = static_cast<int32_t>(static_cast<int64_t>(points[i].y) * envelopeOne);
        i = i + 1;
    } else if (i < n) {
        value = static_cast<int32_t>(static_cast<int64_t>(value) + *state.slope);
    }
    *state.output = static_cast<int16_t>(value >> 16);
    t = t + 1;
    channel->updateFlags |= flag;
    return held;
}

namespace {

// Puts an envelope where tick `position` begins: on a point the next step handles that point,
// between two points it sits one step short of the position on their segment, past the last
// point it holds the last value.
void placeEnvelope(EnvelopeState state, const EnvelopePoint* points, int32_t pointCount,
                   int32_t position) {
    const int32_t n = pointsUsable(pointCount);
    int32_t k = 0;
    while (k < n && position > points[k].x) ++k;
    *state.tick = position;
    *state.done = 0;
    *state.slope = 0;
    if (k == n) {
        *state.point = n - 1;
        *state.value = static_cast<int32_t>(static_cast<int64_t>(points[n - 1].y) * envelopeOne);
        return;
    }
    *state.point = k;
    if (position == points[k].x || k == 0) {
        *state.value = static_cast<int32_t>(static_cast<int64_t>(points[k].y) * envelopeOne);
        return;
    }
    const int32_t dx = points[k].x - points[k - 1].x;
    const int64_t dy = static_cast<int64_t>(points[k].y) - points[k - 1].y;
    const int64_t slope = dy * envelopeOne / dx;
    *state.slope = static_cast<int32_t>(slope);
    *state.value = static_cast<int32_t>(static_cast<int64_t>(points[k - 1].y) * envelopeOne +
                                        slope * (position - points[k - 1].x - 1));
}

} // namespace

void setEnvelopePositionFt2(const Player* player, Channel* channel, const Instrument* instrument,
                            int32_t position) {
    const ReplayProfile& rules = profileOf(player);
    const uint8_t volumeType = volumeEnvelopeType(player, instrument);
    if ((volumeType & 1) != 0 && pointsUsable(instrument->volumePointCount) > 0) {
        placeEnvelope(volumeEnvelopeState(channel), instrument->volumeEnvelope,
                      instrument->volumePointCount, position);
        stepVolumeEnvelope(channel, instrument, volumeType, rules);
    }
    // FT2 looks at the volume envelope's sustain bit here, not at the panning envelope.
    if ((volumeType & 2) != 0 && pointsUsable(instrument->panningPointCount) > 0) {
        placeEnvelope(panningEnvelopeState(channel), instrument->panningEnvelope,
                      instrument->panningPointCount, position);
        const uint8_t panningType = panningEnvelopeType(player, instrument);
        if ((panningType & 1) != 0) stepPanningEnvelope(channel, instrument, panningType, rules);
    }
}

void volumeColumnRow(Channel* channel, uint8_t v, const ReplayProfile* rules) {
    const int32_t y = v & 15;
    if (rules != nullptr && rules->volumeColumnSlidesSkipRowTick) {
        switch (v >> 4) {
        case 0x6:
        case 0x7:
        case 0xB:
        case 0xD:
        case 0xE: return; // these run on the other ticks only
        case 0xA:
            if (y != 0) channel->vibratoSpeed = static_cast<uint8_t>(y);
            return;
        default: break;
        }
    }
    switch (v >> 4) {
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4:
    case 0x5:
        if (v > 0x50) return;
        channel->volume = v - 16;
        channel->tremorMuted = 0;
        channel->updateFlags |= UPDATE_VOLUME;
        if (rules != nullptr) raiseQuickRamp(channel, *rules);
        return;
    case 0x6:
    case 0x8: slideVolumeDown(channel, y); return;
    case 0x7:
    case 0x9: slideVolumeUp(channel, y); return;
    case 0xA: channel->vibratoSpeed = static_cast<uint8_t>(y); return;
    case 0xB: channel->vibratoDepth = static_cast<uint8_t>(y); return;
    case 0xC:
        channel->panning = y * 16;
        channel->updateFlags |= UPDATE_PANNING;
        return;
    case 0xD: slidePanning(channel, -y); return;
    case 0xE: slidePanning(channel, y); return;
    case 0xF:
        if (y != 0) channel->portaSpeed = static_cast<uint8_t>(y * 16);
        channel->portaTarget = channel->notePeriod;
        channel->updateFlags &= ~UPDATE_TRIGGER;
        return;
    default: return;
    }
}

void volumeColumnTick(Channel* channel, uint8_t v, const ReplayProfile* rules) {
    const int32_t y = v & 15;
    if (rules != nullptr && rules->volumeColumnSlidesSkipRowTick) {
        switch (v >> 4) {
        case 0xB:
            if (y != 0) channel->vibratoDepth = static_cast<uint8_t>(y);
            applyVibrato(channel, rules);
            channel->heldVibratoDelta = channel->periodDelta;
            stepVibratoPosition(channel);
            return;
        case 0xD: slidePanningLeftClamped(channel, y); return;
        case 0xE: slidePanningRightClamped(channel, y); return;
        default: break;
        }
    }
    switch (v >> 4) {
    case 0x6: slideVolumeDown(channel, y); return;
    case 0x7: slideVolumeUp(channel, y); return;
    case 0xB:
        channel->vibratoDepth = static_cast<uint8_t>(y);
        applyVibrato(channel, rules);
        stepVibratoPosition(channel);
        return;
    case 0xD: slidePanning(channel, -y); return;
    case 0xE: slidePanning(channel, y); return;
    case 0xF:
        tonePortamentoStep(channel, rules != nullptr && rules->tonePortamentoDirection);
        channel->updateFlags |= UPDATE_FREQUENCY;
        return;
    default: return;
    }
}

void stepAutoVibrato(Channel* channel, const Instrument* instrument, const ReplayProfile* rules,
                     bool linearTable) {
    if (rules != nullptr && rules->autoVibratoFt2) {
        stepAutoVibratoFt2(channel, instrument, linearTable);
        return;
    }
    const int32_t wave = autoVibratoWave(instrument->autoVibratoType, channel->autoVibratoPosition);
    int32_t depth = instrument->autoVibratoDepth * wave;
    const int32_t sweep = instrument->autoVibratoSweep;
    if (sweep != 0) depth = channel->autoVibratoSweepCounter * depth / sweep;
    channel->autoVibratoSweepCounter += 1;
    if (channel->autoVibratoSweepCounter > sweep) channel->autoVibratoSweepCounter = sweep;
    channel->periodDelta += depth >> 6;
    channel->autoVibratoPosition += instrument->autoVibratoRate;
    if (channel->autoVibratoPosition > 255) channel->autoVibratoPosition -= 256;
    channel->updateFlags |= UPDATE_FREQUENCY;
}

// A tremor's muting outlasts the effect where the profile says so.
void keepTremorMuting(const Player* player, Channel* channel, const Cell* cell) {
    constexpr uint8_t tremorEffect = 29;
    if (channel->tremorMuted == 0 || cell->effect == tremorEffect ||
        !profileOf(player).tremorMuteOutlasts)
        return;
    channel->volumeDelta = -channel->volume;
    channel->updateFlags |= UPDATE_VOLUME;
}

// FT2 recomputes a channel's volume on every tick while its volume envelope is on and after a
// G or H further left on the same tick; the demo's rules leave that to the flags raised so far.
void raiseFt2VolumeRefresh(const Player* player, Channel* channel, uint8_t volumeType) {
    if (!profileOf(player).globalVolumeFt2Timing) return;
    if ((volumeType & 1) != 0 || player->globalVolumeTouched != 0)
        channel->updateFlags |= UPDATE_VOLUME;
}

namespace {

// FT2 sets the pitch back to the period on a row after an arpeggio, and after a vibrato (either
// kind, 4xy or 6xy) that the row does not continue.
bool pitchEffectEnded(uint8_t previousEffect, uint8_t previousParam, const Cell* cell) {
    if (previousEffect == 0) return previousParam != 0;
    return (previousEffect == 4 || previousEffect == 6) && cell->effect != 4 && cell->effect != 6;
}

void silenceBeforeFirstNote(Channel* channel, const ReplayProfile& rules) {
    if (!rules.instrumentBeforeNoteSilent || channel->startedNote != 0) return;
    channel->volume = 0;
    channel->panning = 128;
}

// The offset the effects leave on a tick, before the auto-vibrato adds its own for that tick.
void keepPeriodOffset(Channel* channel, const ReplayProfile& rules) {
    if (rules.periodOffsetPersists) channel->heldVibratoDelta = channel->periodDelta;
}

// FT2 reads nothing but the cell of a row with a note delay: the note that plays goes on as on
// any other tick until the delay's tick starts the stored one.
void holdDelayedRow(Player* player, Channel* channel, const Cell* cell, uint8_t cellInstrument,
                    const ReplayProfile& rules) {
    if (cellInstrument != 0) channel->selectedInstrument = cellInstrument;
    Instrument* instrument;
    Sample* sample;
    lookUpInstrument(player, channel, &instrument, &sample);
    const uint8_t volumeType = volumeEnvelopeType(player, instrument);
    const uint8_t panningType = panningEnvelopeType(player, instrument);
    if (channel->lastEffect == 7 && cell->effect != 7) channel->volume += channel->volumeDelta;
    const bool pitchReset = !rules.periodOffsetPersists ||
                            pitchEffectEnded(channel->lastEffect, channel->lastParam, cell);
    channel->periodDelta = pitchReset ? 0 : channel->heldVibratoDelta;
    keepPeriodOffset(channel, rules);
    channel->lastEffect = cell->effect;
    channel->lastParam = cell->param;
    channel->volumeDelta = 0;
    channel->updateFlags = UPDATE_FREQUENCY;
    stepEnvelopesAndFadeout(channel, instrument, volumeType, panningType, rules);
    stepAutoVibrato(channel, instrument, &rules, linearTable(player));
    keepTremorMuting(player, channel, cell);
    raiseFt2VolumeRefresh(player, channel, volumeType);
    updateVoice(channel, sample, player);
}

} // namespace

void processRow(Player* player) {
    const ReplayProfile& rules = profileOf(player);
    player->nextRow = -1;
    player->nextOrder = -1;
    RowContext row{}; // no position jump yet on this row
    const Cell* cells = currentRowCells(player);
    const int32_t count = channelsToPlay(player);
    for (int32_t c = 0; c < count; ++c) {
        Channel* channel = &player->channels[c];
        const Cell* cell = &cells[c];
        row.heldVolume = channel->volume;
        row.heldPeriod = channel->period;
        row.heldPanning = channel->panning;
        row.previousEffect = channel->lastEffect;

        // FT2 leaves a row with a note delay alone until the delay fires, Fx included.
        const bool noteDelayed = cell->effect == 14 && cell->param >= 0xD1 && cell->param <= 0xDF;
        if (noteDelayed && rules.noteDelayStoresCell) {
            holdDelayedRow(player, channel, cell,
                           cell->instrument > highestInstrumentNumber ? 0 : cell->instrument,
                           rules);
            continue;
        }
        // FT2 starts the note of an E90 row, and its volume-column Fx does nothing on the row tick.
        const bool retriggerZero =
            rules.retriggerRestartsInstrument && cell->effect == 14 && cell->param == 0x90;
        const bool tonePortamento = cell->effect == 3 || cell->effect == 5 ||
                                    (rules.volumeColumnTonePortamento &&
                                     (cell->volume >> 4) == 0xF && !noteDelayed && !retriggerZero);
        const uint8_t rowVolumeColumn =
            retriggerZero && (cell->volume >> 4) == 0xF ? 0 : cell->volume;
        // FT2 releases with K00 on the row tick as with a key-off note, and then plays no note.
        // A delayed key-off waits for its tick there too.
        const bool delayedKeyOff = rules.noteDelayEdgesFt2 && noteDelayed && cell->note == KEY_OFF;
        const bool keyOffNote = cell->note == KEY_OFF && !delayedKeyOff;
        const bool releaseOnRow =
            rules.keyOffAtTick && (keyOffNote || (cell->effect == 20 && cell->param == 0));
        const bool note = isNote(cell->note) && !(releaseOnRow && cell->effect == 20);
        row.note = note;
        // FT2 reads an instrument number above 128 as none.
        const uint8_t cellInstrument =
            rules.ft2MissingInstruments && cell->instrument > highestInstrumentNumber
                ? 0
                : cell->instrument;
        if (rules.instrumentWaitsForNote) {
            if (cellInstrument != 0) channel->selectedInstrument = cellInstrument;
            if (note && !tonePortamento) {
                // No instrument number yet: FT2 plays its empty instrument.
                channel->instrument =
                    channel->selectedInstrument != 0 ? channel->selectedInstrument - 1 : 0xFF;
            }
        } else if (cell->instrument != 0 && !tonePortamento) {
            channel->instrument = cell->instrument - 1;
        }
        if (note && !tonePortamento) channel->note = cell->note - 1;
        channel->vibratoFt2Depth = rules.vibratoFt2Depth ? 1 : 0;
        channel->amigaTable = linearTable(player) ? 0 : 1;

        Instrument* instrument;
        Sample* sample;
        lookUpInstrument(player, channel, &instrument, &sample);
        const uint8_t volumeType = volumeEnvelopeType(player, instrument);
        const uint8_t panningType = panningEnvelopeType(player, instrument);

        // The volume stays where the tremolo's last tick left it.
        if (channel->lastEffect == 7 && cell->effect != 7) channel->volume += channel->volumeDelta;
        channel->lastEffect = cell->effect;
        channel->volumeDelta = 0;
        channel->updateFlags = 0;

        // FT2's notes run from B-(-1) to B-9 after the relative note; one at B-(-1) has no period.
        const int32_t shiftedNote = cell->note + sample->relativeNote; // 0 is B-(-1)
        const bool rangeChecked = rules.notesOutOfRangeIgnored && note && !tonePortamento;
        const bool outOfRange = rangeChecked && (shiftedNote < 0 || shiftedNote >= notesInFt2Range);
        const bool keepsPeriod = rangeChecked && shiftedNote == 0;
        const bool starts = note && !outOfRange;
        if (starts) {
            channel->updateFlags = UPDATE_TRIGGER;
            if (!tonePortamento) channel->startedNote = 1;
        }
        if (starts && !keepsPeriod) {
            channel->realNote = static_cast<uint8_t>(shiftedNote - 1);
            int32_t finetune = sample->finetune;
            if (rules.finetuneForNoteOnly && cell->effect == 14 && (cell->param >> 4) == 5)
                finetune = (cell->param & 15) * 16 - 128;
            if (rules.channelKeepsFinetune && tonePortamento)
                finetune = channel->noteFinetune;
            else
                channel->noteFinetune = static_cast<int8_t>(finetune);
            channel->notePeriod = notePeriodFor(player, channel->realNote, finetune);
            if (!tonePortamento) channel->period = channel->notePeriod;
        }
        // FT2 refreshes the volume on a note, not on every row.
        const bool refreshVolume = !rules.globalVolumeFt2Timing || starts;
        channel->updateFlags |= refreshVolume ? UPDATE_FREQUENCY | UPDATE_VOLUME : UPDATE_FREQUENCY;
        if (!rules.periodOffsetPersists || (starts && !keepsPeriod && !tonePortamento) ||
            pitchEffectEnded(row.previousEffect, channel->lastParam, cell))
            channel->periodDelta = 0;
        else
            channel->periodDelta = channel->heldVibratoDelta;
        channel->lastParam = cell->param;

        const int32_t targetBeforeRow = channel->portaTarget;
        if (releaseOnRow) {
            // FT2 releases first; an instrument number then brings back only volume and panning.
            releaseNote(player, channel, instrument);
            if (cellInstrument != 0) {
                channel->volume = sample->volume;
                channel->panning = sample->panning;
                channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
                raiseQuickRamp(channel, rules);
                silenceBeforeFirstNote(channel, rules);
            }
            if (rowVolumeColumn != 0) volumeColumnRow(channel, rowVolumeColumn, &rules);
        } else {
            if (cellInstrument != 0) {
                resetInstrument(player, channel, instrument, sample);
                silenceBeforeFirstNote(channel, rules);
            }
            const Sample* lastStarted = channel->voice->sample;
            if (cellInstrument != 0 && outOfRange && lastStarted != nullptr) {
                channel->volume = lastStarted->volume;
                channel->panning = lastStarted->panning;
            }
            if (rowVolumeColumn != 0) volumeColumnRow(channel, rowVolumeColumn, &rules);
            if (keyOffNote || (cell->effect == 20 && !rules.keyOffAtTick))
                releaseNote(player, channel, instrument);
        }

        if ((volumeType & 1) != 0) {
            if (channel->volumeEnvelopeDone != 1)
                stepVolumeEnvelope(channel, instrument, volumeType, rules);
        } else if (channel->keyOff == 1 && !rules.keyOffZeroesVolume) {
            channel->volumeEnvelopeOutput = 0; // released without an envelope: cut
        }
        if ((panningType & 1) != 0 && channel->panningEnvelopeDone == 0)
            stepPanningEnvelope(channel, instrument, panningType, rules);
        stepFadeout(channel, instrument, rules.fadeoutSpeedAtReset);

        effectRowTick(player, channel, cell, instrument, sample, &row);
        // FT2 gives a tone portamento its target, and decides its direction, only on a row with a
        // note; without one it keeps aiming where it did.
        if (rules.tonePortamentoDirection && tonePortamento) {
            const int32_t target = channel->portaTarget;
            if (!note) {
                channel->portaTarget = targetBeforeRow;
            } else if (target == channel->period) {
                channel->portaDirection = 0;
            } else {
                channel->portaDirection = target > channel->period ? 1 : 2;
            }
        }
        keepPeriodOffset(channel, rules);
        // A retrigger may have changed the channel's instrument.
        if (rules.retriggerLastInstrument) lookUpInstrument(player, channel, &instrument, &sample);
        stepAutoVibrato(channel, instrument, &rules, linearTable(player));
        keepTremorMuting(player, channel, cell);
        raiseFt2VolumeRefresh(player, channel, volumeType);
        updateVoice(channel, sample, player);
    }
}

void processTick(Player* player) {
    const ReplayProfile& rules = profileOf(player);
    const Cell* cells = currentRowCells(player);
    const int32_t count = channelsToPlay(player);
    for (int32_t c = 0; c < count; ++c) {
        Channel* channel = &player->channels[c];
        const Cell* cell = &cells[c];
        Instrument* instrument;
        Sample* sample;
        lookUpInstrument(player, channel, &instrument, &sample);
        uint8_t volumeType = volumeEnvelopeType(player, instrument);
        uint8_t panningType = panningEnvelopeType(player, instrument);

        channel->volumeDelta = 0;
        channel->periodDelta = rules.periodOffsetPersists ? channel->heldVibratoDelta : 0;
        channel->updateFlags = 0;

        if (!rules.envelopesAfterEffects)
            stepEnvelopesAndFadeout(channel, instrument, volumeType, panningType, rules);
        volumeColumnTick(channel, cell->volume, &rules);

        effectOtherTick(player, channel, cell, instrument, sample);
        keepPeriodOffset(channel, rules);
        // A retrigger or a delayed note may have changed the channel's instrument.
        if (rules.retriggerLastInstrument) {
            lookUpInstrument(player, channel, &instrument, &sample);
            volumeType = volumeEnvelopeType(player, instrument);
            panningType = panningEnvelopeType(player, instrument);
        }
        if (rules.envelopesAfterEffects)
            stepEnvelopesAndFadeout(channel, instrument, volumeType, panningType, rules);
        stepAutoVibrato(channel, instrument, &rules, linearTable(player));
        keepTremorMuting(player, channel, cell);
        raiseFt2VolumeRefresh(player, channel, volumeType);
        updateVoice(channel, sample, player);
    }
}

namespace {

// FT2 mixes a whole number of frames per tick and forgets the remainder, so its songs run a
// little faster than their BPM says (25 ms in 30 s at BPM 120 and 44100 Hz).
void setWholeFrameTickLength(Player* player) {
    const int32_t bpm = player->bpm > 0 ? player->bpm : 1;
    player->samplesPerTick = (player->outputRate * 5 / 2) / bpm;
}

} // namespace

void sequencerTick(Player* player) {
    player->globalVolumeTouched = 0;
    if (player->tick != 0) {
        processTick(player);
    } else {
        if (player->nextOrder >= 0) {
            player->order = player->nextOrder;
            // A pattern loop's pending row goes with any change of pattern, also with a B or D
            // on the row that looped.
            player->pendingBreakRow = 0;
        }
        if (player->nextRow >= 0) player->row = player->nextRow;
        processRow(player);
        // The next position is settled now, right after the row is read.
        if (player->nextRow == -1) {
            player->nextRow = player->row + 1;
            if (player->nextRow >= currentRowCount(player)) {
                int32_t next = player->order + 1;
                if (next >= orderCount(player)) next = player->restartPosition;
                // A restart position the order list does not hold starts the song over.
                if (next < 0 || next >= orderCount(player)) next = 0;
                player->nextOrder = next;
                player->nextRow = 0;
                if (profileOf(player).patternLoopSetsBreakRow) {
                    // FT2 starts the next pattern at the row its last pattern loop jumped to,
                    // also past the end of a shorter pattern: that row plays as an empty one
                    // (FT2 reads beyond the pattern there) and the song moves on to the order
                    // after it.
                    player->nextRow = player->pendingBreakRow;
                    player->pendingBreakRow = 0;
                }
            }
        }
    }
    player->tick += 1;
    const int32_t rowTicks =
        profileOf(player).speedZeroHoldsRow ? ticksPerRow(player) : player->tempo;
    if (player->tick >= rowTicks + player->patternDelayTicks) {
        player->patternDelayTicks = 0;
        player->tick = 0;
    }
    if (profileOf(player).wholeFrameTickLength) setWholeFrameTickLength(player);
}

void resetSequencer(Player* player) {
    Voice* voices = player->mixer.voices;
    for (int32_t i = 0; i < voiceTableSize; ++i) {
        voices[i] = Voice{};
        voices[i].index = i;
        voices[i].stepWhole = 1;
    }
    player->standIns = StandIns{};

    player->globalVolume = player->initialGlobalVolume;
    player->globalVolumeSlideMemory = 0;
    player->tempo = player->defaultTempo;
    player->bpm = player->defaultBpm;
    player->row = 0;
    player->order = 0;
    player->nextOrder = -1;
    player->nextRow = -1;
    player->tickSamplesLeft = 0;
    player->tick = 0;
    player->patternDelayTicks = 0;
    player->songTimeMs = 0;
    player->pendingBreakRow = 0;
    player->globalVolumeTouched = 0;
    player->samplesPerTick = samplesPerTickForBpm(player->bpm, player->outputRate);

    // The channel count comes from the file; the table has room for 32.
    const int32_t count = channelsToPlay(player);
    for (int32_t i = 0; i < count; ++i) {
        player->channels[i] = Channel{};
        player->channels[i].voice = &voices[i];
    }
}

void seekOrder(Player* player, int32_t order) {
    player->nextOrder = order;
    player->nextRow = 0;
    player->tick = 0;
    player->patternDelayTicks = 0;
    player->tickSamplesLeft = 0;
    player->pendingBreakRow = 0;
    // A loop under way belongs to the rows left behind.
    const int32_t count = channelsToPlay(player);
    for (int32_t c = 0; c < count; ++c) player->channels[c].loopCounter = 0;
}

} // namespace music
