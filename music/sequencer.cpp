// The sequencer: song position, rows and ticks, notes and instruments, the volume column,
// envelopes, key-off and fadeout, auto-vibrato, and the order of all per-channel work in a tick.
#include "sequencer.h"

#include "channel.h"
#include "effects.h"
#include "format.h"
#include "module.h"
#include "voice_update.h"

#include <cmath>

namespace music {

Instrument emptyInstrument;

namespace {

constexpr int32_t linearPeriodOfNoteZero = 7680;
constexpr int32_t linearPeriodsPerSemitone = 64;
constexpr int32_t fadeoutFull = 65536;
constexpr int32_t envelopeOne = 65536; // 1.0 in 16.16
constexpr uint8_t highestNote = 96;    // cell notes 1..96 name the sample map's entries

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

void stepVolumeEnvelope(Channel* channel, const Instrument* instrument) {
    stepEnvelope(channel, volumeEnvelopeState(channel), instrument->volumeEnvelope,
                 instrument->volumePointCount, instrument->volumeSustain,
                 instrument->volumeLoopStart, instrument->volumeLoopEnd, instrument->volumeType,
                 UPDATE_VOLUME);
}

void stepPanningEnvelope(Channel* channel, const Instrument* instrument) {
    stepEnvelope(channel, panningEnvelopeState(channel), instrument->panningEnvelope,
                 instrument->panningPointCount, instrument->panningSustain,
                 instrument->panningLoopStart, instrument->panningLoopEnd, instrument->panningType,
                 UPDATE_PANNING);
}

void stepFadeout(Channel* channel, const Instrument* instrument) {
    if (channel->keyOff != 1) return;
    const int32_t faded = channel->fadeoutVolume - instrument->fadeout;
    channel->fadeoutVolume = faded > 0 ? faded : 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slideVolumeDown(Channel* channel, int32_t amount) {
    const int32_t volume = channel->volume - amount;
    channel->volume = volume > 0 ? volume : 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slideVolumeUp(Channel* channel, int32_t amount) {
    const int32_t volume = channel->volume + amount;
    channel->volume = volume < 64 ? volume : 64;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slidePanning(Channel* channel, int32_t amount) {
    channel->panning += amount;
    channel->updateFlags |= UPDATE_PANNING;
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

int32_t samplesPerTickForBpm(int32_t bpm) {
    const float beatsPerMinute = static_cast<float>(bpm > 0 ? bpm : 1);
    const float ticksPerSecond = beatsPerMinute * 2.0f / 5.0f;
    const float msPerTick = 1000.0f / ticksPerSecond;
    return static_cast<int32_t>(msPerTick * static_cast<float>(sampleRate) / 1000.0f);
}

void setBpm(Player* player, int32_t bpm) {
    player->bpm = bpm;
    player->samplesPerTick = samplesPerTickForBpm(bpm);
}

namespace {

int32_t periodOfSemitoneStep(int32_t k) {
    const float octaves = static_cast<float>(k) / 12.0f;
    return static_cast<int32_t>(13.375 * std::pow(2.0, static_cast<double>(octaves)));
}

} // namespace

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
    if (linearTable(player))
        return linearPeriodOfNoteZero - linearPeriodsPerSemitone * realNote - finetune / 2;
    return amigaPeriod(realNote, finetune);
}

void lookUpInstrument(const Player* player, const Channel* channel, Instrument** instrument,
                      Sample** sample) {
    if (channel->instrument >= player->instrumentCount || player->instruments == nullptr) {
        *instrument = &emptyInstrument;
        *sample = &emptySample;
        return;
    }
    Instrument* found = &player->instruments[channel->instrument];
    *instrument = found;
    const uint8_t slot = channel->note < sampleMapNotes ? found->sampleMap[channel->note] : 0xFF;
    Sample* playing = slot < maxSamplesPerInstrument ? found->samples[slot] : nullptr;
    *sample = playing != nullptr ? playing : &emptySample;
}

void resetChannel(Channel* channel, const Sample* sample) {
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    channel->volumeEnvelopeOutput = 64;
    channel->volumeEnvelopePoint = 0;
    channel->volumeEnvelopeTick = 0;
    channel->volumeEnvelopeSlope = 0;
    channel->panningEnvelopeOutput = 32;
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
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
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

void stepEnvelope(Channel* channel, EnvelopeState state, const EnvelopePoint* points,
                  int32_t pointCount, int32_t sustain, int32_t loopStart, int32_t loopEnd,
                  int32_t type, uint8_t flag) {
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
        if (i == n - 1) {
            *state.output = points[i].y;
            *state.done = 1;
            channel->updateFlags |= flag;
            return;
        }
        if ((type & 2) != 0 && i == sustain && channel->keyOff == 0) {
            *state.output = points[i].y;
            channel->updateFlags |= flag;
            return;
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
}

void volumeColumnRow(Channel* channel, uint8_t v) {
    const int32_t y = v & 15;
    switch (v >> 4) {
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4:
    case 0x5:
        if (v > 0x50) return;
        channel->volume = v - 16;
        channel->updateFlags |= UPDATE_VOLUME;
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

void volumeColumnTick(Channel* channel, uint8_t v) {
    const int32_t y = v & 15;
    switch (v >> 4) {
    case 0x6: slideVolumeDown(channel, y); return;
    case 0x7: slideVolumeUp(channel, y); return;
    case 0xB:
        channel->vibratoDepth = static_cast<uint8_t>(y);
        applyVibrato(channel);
        stepVibratoPosition(channel);
        return;
    case 0xD: slidePanning(channel, -y); return;
    case 0xE: slidePanning(channel, y); return;
    case 0xF:
        tonePortamentoStep(channel);
        channel->updateFlags |= UPDATE_FREQUENCY;
        return;
    default: return;
    }
}

void stepAutoVibrato(Channel* channel, const Instrument* instrument) {
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

void processRow(Player* player) {
    player->nextRow = -1;
    player->nextOrder = -1;
    RowContext row{}; // no position jump yet on this row
    const Cell* cells = currentRowCells(player);
    const int32_t count = channelsToPlay(player);
    for (int32_t c = 0; c < count; ++c) {
        Channel* channel = &channelTable[c];
        const Cell* cell = &cells[c];
        row.heldVolume = channel->volume;
        row.heldPeriod = channel->period;
        row.heldPanning = channel->panning;

        const bool tonePortamento = cell->effect == 3 || cell->effect == 5;
        const bool note = isNote(cell->note);
        if (cell->instrument != 0 && !tonePortamento) channel->instrument = cell->instrument - 1;
        if (note && !tonePortamento) channel->note = cell->note - 1;

        Instrument* instrument;
        Sample* sample;
        lookUpInstrument(player, channel, &instrument, &sample);

        // The volume stays where the tremolo's last tick left it.
        if (channel->lastEffect == 7 && cell->effect != 7) channel->volume += channel->volumeDelta;
        channel->lastEffect = cell->effect;
        channel->volumeDelta = 0;
        channel->updateFlags = 0;

        if (note) {
            channel->realNote = static_cast<uint8_t>(cell->note + sample->relativeNote - 1);
            channel->notePeriod = notePeriodFor(player, channel->realNote, sample->finetune);
            channel->updateFlags = UPDATE_TRIGGER;
            if (!tonePortamento) channel->period = channel->notePeriod;
        }
        channel->updateFlags |= UPDATE_FREQUENCY | UPDATE_VOLUME;
        channel->periodDelta = 0;

        if (cell->instrument != 0) resetChannel(channel, sample);
        if (cell->volume != 0) volumeColumnRow(channel, cell->volume);
        if (cell->note == KEY_OFF || cell->effect == 20) channel->keyOff = 1;

        if ((instrument->volumeType & 1) != 0) {
            if (channel->volumeEnvelopeDone != 1) stepVolumeEnvelope(channel, instrument);
        } else if (channel->keyOff == 1) {
            channel->volumeEnvelopeOutput = 0; // released without an envelope: cut
        }
        if ((instrument->panningType & 1) != 0 && channel->panningEnvelopeDone == 0)
            stepPanningEnvelope(channel, instrument);
        stepFadeout(channel, instrument);

        effectRowTick(player, channel, cell, instrument, sample, &row);
        stepAutoVibrato(channel, instrument);
        updateVoice(channel, sample, player);
    }
}

void processTick(Player* player) {
    const Cell* cells = currentRowCells(player);
    const int32_t count = channelsToPlay(player);
    for (int32_t c = 0; c < count; ++c) {
        Channel* channel = &channelTable[c];
        const Cell* cell = &cells[c];
        Instrument* instrument;
        Sample* sample;
        lookUpInstrument(player, channel, &instrument, &sample);

        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->updateFlags = 0;

        if ((instrument->volumeType & 1) != 0 && channel->volumeEnvelopeDone == 0)
            stepVolumeEnvelope(channel, instrument);
        if ((instrument->panningType & 1) != 0 && channel->panningEnvelopeDone == 0)
            stepPanningEnvelope(channel, instrument);
        stepFadeout(channel, instrument);
        volumeColumnTick(channel, cell->volume);

        effectOtherTick(player, channel, cell, instrument, sample);
        stepAutoVibrato(channel, instrument);
        updateVoice(channel, sample, player);
    }
}

void sequencerTick(Player* player) {
    if (player->tick != 0) {
        processTick(player);
    } else {
        if (player->nextOrder >= 0) player->order = player->nextOrder;
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
            }
        }
    }
    player->tick += 1;
    if (player->tick >= player->tempo + player->patternDelayTicks) {
        player->patternDelayTicks = 0;
        player->tick = 0;
    }
}

} // namespace music
