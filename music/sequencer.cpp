// The sequencer: song position, rows and ticks, and the order of all per-channel work in a tick:
// the cell's note and instrument, the volume column, the effect, envelopes and fadeout,
// auto-vibrato and the voice update.
#include "sequencer.h"

#include "auto_vibrato.h"
#include "channel.h"
#include "effects.h"
#include "envelope.h"
#include "format.h"
#include "mixer.h"
#include "module.h"
#include "note_start.h"
#include "periods.h"
#include "profile.h"
#include "tempo.h"
#include "voice_update.h"
#include "volume_column.h"
#include "xm_format.h"

#include <cstdint>

namespace music {

namespace {

constexpr uint8_t highestInstrumentNumber = 128;

constexpr uint8_t highestNote = 96; // cell notes 1..96 name the sample map's entries

// Rows that lie outside the pattern data (a break or loop past the end of a shorter pattern, an
// order naming no pattern record) play as this: no note, no instrument, no effect.
const Cell emptyCells[maxChannels] = {};

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

} // namespace

bool patternLoopRunning(const Player* player) {
    for (int32_t c = 0; c < player->channelCount && c < channelTableSize; ++c) {
        if (player->channels[c].loopCounter != 0) return true;
    }
    return false;
}

namespace {

// A tremor's muting outlasts the effect where the profile says so.
void keepTremorMuting(const Player* player, Channel* channel, const Cell* cell) {
    if (channel->tremorMuted == 0 || cell->effect == xm::effectTremor ||
        !profileOf(player).tremorMuteOutlasts)
        return;
    channel->volumeDelta = -channel->volume;
    channel->updateFlags |= UPDATE_VOLUME;
}

// FT2 recomputes a channel's volume on every tick while its volume envelope is on and after a
// G or H further left on the same tick; the demo's rules leave that to the flags raised so far.
void raiseFt2VolumeRefresh(const Player* player, Channel* channel, uint8_t volumeType) {
    if (!profileOf(player).globalVolumeFt2Timing) return;
    if ((volumeType & xm::envelopeOn) != 0 || player->globalVolumeTouched != 0)
        channel->updateFlags |= UPDATE_VOLUME;
}

bool isVibrato(uint8_t effect) {
    return effect == xm::effectVibrato || effect == xm::effectVibratoVolumeSlide;
}

// FT2 sets the pitch back to the period on a row after an arpeggio, and after a vibrato (either
// kind, 4xy or 6xy) that the row does not continue.
bool pitchEffectEnded(uint8_t previousEffect, uint8_t previousParam, const Cell* cell) {
    if (previousEffect == xm::effectArpeggio) return previousParam != 0;
    return isVibrato(previousEffect) && !isVibrato(cell->effect);
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

// The volume stays where the tremolo's last tick left it once the row has another effect.
void keepTremoloVolume(Channel* channel, const Cell* cell) {
    if (channel->lastEffect == xm::effectTremolo && cell->effect != xm::effectTremolo)
        channel->volume += channel->volumeDelta;
}

// The end of every tick for a channel, row tick or not: auto-vibrato, tremor, the volume
// refresh, the envelopes' outputs and the voice.
void finishChannelTick(Player* player, Channel* channel, const Cell* cell,
                       const Instrument* instrument, Sample* sample, uint8_t volumeType,
                       const ReplayProfile& rules) {
    stepAutoVibrato(channel, instrument, &rules, linearTable(player));
    keepTremorMuting(player, channel, cell);
    raiseFt2VolumeRefresh(player, channel, volumeType);
    settleEnvelopeOutputs(player, channel, instrument);
    updateVoice(channel, sample, player);
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
    keepTremoloVolume(channel, cell);
    const bool pitchReset = !rules.periodOffsetPersists ||
                            pitchEffectEnded(channel->lastEffect, channel->lastParam, cell);
    channel->periodDelta = pitchReset ? 0 : channel->heldVibratoDelta;
    keepPeriodOffset(channel, rules);
    channel->lastEffect = cell->effect;
    channel->lastParam = cell->param;
    channel->volumeDelta = 0;
    channel->updateFlags = UPDATE_FREQUENCY;
    stepEnvelopesAndFadeout(channel, instrument, volumeType, panningType, rules);
    finishChannelTick(player, channel, cell, instrument, sample, volumeType, rules);
}

// How one channel's cell reads on its row tick under the profile's rules.
struct RowCell {
    bool noteDelayed;    // EDx with x > 0
    bool tonePortamento; // 3xx, 5xy or (where the rules say) the volume column's Mx
    bool keyOffNote;     // a key-off note that acts on the row tick
    bool releaseOnRow;   // FT2's release on the row tick (key-off note or K00)
    bool note;           // a note to start, unless out of range
    uint8_t volumeColumn;
    uint8_t instrument; // 0: none
};

RowCell readRowCell(const Cell* cell, const ReplayProfile& rules) {
    RowCell r{};
    // FT2 leaves a row with a note delay alone until the delay fires, Fx included.
    r.noteDelayed = cell->effect == xm::effectExtended &&
                    xm::commandNibble(cell->param) == xm::extendedNoteDelay &&
                    (cell->param & 15) != 0;
    // FT2 starts the note of an E90 row, and its volume-column Fx does nothing on the row tick.
    const bool retriggerZero = rules.retriggerRestartsInstrument &&
                               cell->effect == xm::effectExtended &&
                               cell->param == xm::extendedParam(xm::extendedRetrigger, 0);
    const bool columnPortamento = xm::commandNibble(cell->volume) == xm::volumeColumnTonePortamento;
    r.tonePortamento =
        cell->effect == xm::effectTonePortamento ||
        cell->effect == xm::effectTonePortamentoVolumeSlide ||
        (rules.volumeColumnTonePortamento && columnPortamento && !r.noteDelayed && !retriggerZero);
    r.volumeColumn = retriggerZero && columnPortamento ? 0 : cell->volume;
    // FT2 releases with K00 on the row tick as with a key-off note, and then plays no note.
    // A delayed key-off waits for its tick there too.
    const bool delayedKeyOff = rules.noteDelayEdgesFt2 && r.noteDelayed && cell->note == KEY_OFF;
    r.keyOffNote = cell->note == KEY_OFF && !delayedKeyOff;
    r.releaseOnRow = rules.keyOffAtTick &&
                     (r.keyOffNote || (cell->effect == xm::effectKeyOff && cell->param == 0));
    r.note = isNote(cell->note) && !(r.releaseOnRow && cell->effect == xm::effectKeyOff);
    // FT2 reads an instrument number above 128 as none.
    r.instrument = rules.ft2MissingInstruments && cell->instrument > highestInstrumentNumber
                       ? 0
                       : cell->instrument;
    return r;
}

void selectRowInstrument(Channel* channel, const Cell* cell, const RowCell& r,
                         const ReplayProfile& rules) {
    if (rules.instrumentWaitsForNote) {
        if (r.instrument != 0) channel->selectedInstrument = r.instrument;
        if (r.note && !r.tonePortamento) {
            // No instrument number yet: FT2 plays its empty instrument.
            channel->instrument =
                channel->selectedInstrument != 0 ? channel->selectedInstrument - 1 : noInstrument;
        }
    } else if (cell->instrument != 0 && !r.tonePortamento) {
        channel->instrument = cell->instrument - 1;
    }
    if (r.note && !r.tonePortamento) channel->note = cell->note - 1;
}

struct RowNote {
    bool starts;      // the row starts (or, under a tone portamento, aims) a note
    bool keepsPeriod; // FT2's B-(-1): started without a period of its own
    bool outOfRange;  // a note FT2 ignores
};

// The row's note against FT2's range: the trigger, the note's period and finetune.
RowNote startRowNote(Player* player, Channel* channel, const Cell* cell, const RowCell& r,
                     const Sample* sample, const ReplayProfile& rules) {
    // FT2's notes run from B-(-1) to B-9 after the relative note; one at B-(-1) has no period.
    const int32_t shiftedNote = cell->note + sample->relativeNote; // 0 is B-(-1)
    const bool rangeChecked = rules.notesOutOfRangeIgnored && r.note && !r.tonePortamento;
    RowNote n{};
    n.outOfRange = rangeChecked && (shiftedNote < 0 || shiftedNote >= notesInFt2Range);
    n.keepsPeriod = rangeChecked && shiftedNote == 0;
    n.starts = r.note && !n.outOfRange;
    if (n.starts) {
        channel->updateFlags = UPDATE_TRIGGER;
        if (!r.tonePortamento) channel->startedNote = 1;
    }
    if (n.starts && !n.keepsPeriod) {
        channel->realNote = static_cast<uint8_t>(shiftedNote - 1);
        int32_t finetune = sample->finetune;
        if (rules.finetuneForNoteOnly && cell->effect == xm::effectExtended &&
            xm::commandNibble(cell->param) == xm::extendedSetFinetune)
            finetune = (cell->param & 15) * 16 - 128;
        if (rules.channelKeepsFinetune && r.tonePortamento)
            finetune = channel->noteFinetune;
        else
            channel->noteFinetune = static_cast<int8_t>(finetune);
        channel->notePeriod = notePeriodFor(player, channel->realNote, finetune);
        if (!r.tonePortamento) channel->period = channel->notePeriod;
    }
    return n;
}

// The instrument number, the volume column and the key-off, in the order each profile takes them.
void instrumentAndRelease(Player* player, Channel* channel, const Cell* cell, const RowCell& r,
                          const RowNote& n, Instrument* instrument, Sample* sample,
                          const ReplayProfile& rules) {
    if (r.releaseOnRow) {
        // FT2 releases first; an instrument number then brings back only volume and panning.
        releaseNote(player, channel, instrument);
        if (r.instrument != 0) {
            channel->volume = sample->volume;
            channel->panning = sample->panning;
            channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
            raiseQuickRamp(channel, rules);
            silenceBeforeFirstNote(channel, rules);
        }
        if (r.volumeColumn != 0) volumeColumnRow(channel, r.volumeColumn, &rules);
        return;
    }
    if (r.instrument != 0) {
        resetInstrument(player, channel, instrument, sample);
        silenceBeforeFirstNote(channel, rules);
    }
    const Sample* lastStarted = channel->voice->sample;
    if (r.instrument != 0 && n.outOfRange && lastStarted != nullptr) {
        channel->volume = lastStarted->volume;
        channel->panning = lastStarted->panning;
    }
    if (r.volumeColumn != 0) volumeColumnRow(channel, r.volumeColumn, &rules);
    if (r.keyOffNote || (cell->effect == xm::effectKeyOff && !rules.keyOffAtTick))
        releaseNote(player, channel, instrument);
}

void stepEnvelopesOnRow(Channel* channel, const Instrument* instrument, uint8_t volumeType,
                        uint8_t panningType, const ReplayProfile& rules) {
    if ((volumeType & xm::envelopeOn) != 0) {
        if (channel->volumeEnvelopeDone != 1)
            stepVolumeEnvelope(channel, instrument, volumeType, rules);
    } else if (channel->keyOff == 1 && !rules.keyOffZeroesVolume) {
        channel->volumeEnvelopeOutput = 0; // released without an envelope: cut
    }
    if ((panningType & xm::envelopeOn) != 0 && channel->panningEnvelopeDone == 0)
        stepPanningEnvelope(channel, instrument, panningType, rules);
    stepFadeout(channel, instrument, rules.fadeoutSpeedAtReset);
}

// FT2 gives a tone portamento its target, and decides its direction, only on a row with a note;
// without one it keeps aiming where it did.
void settleTonePortamento(Channel* channel, bool note, int32_t targetBeforeRow) {
    const int32_t target = channel->portaTarget;
    if (!note) {
        channel->portaTarget = targetBeforeRow;
    } else if (target == channel->period) {
        channel->portaDirection = 0;
    } else {
        channel->portaDirection = target > channel->period ? 1 : 2;
    }
}

void processChannelRow(Player* player, Channel* channel, const Cell* cell, RowContext* row,
                       const ReplayProfile& rules) {
    row->heldVolume = channel->volume;
    row->heldPeriod = channel->period;
    row->heldPanning = channel->panning;
    row->previousEffect = channel->lastEffect;
    const RowCell r = readRowCell(cell, rules);
    if (r.noteDelayed && rules.noteDelayStoresCell) {
        holdDelayedRow(player, channel, cell,
                       cell->instrument > highestInstrumentNumber ? 0 : cell->instrument, rules);
        return;
    }
    row->note = r.note;
    selectRowInstrument(channel, cell, r, rules);
    channel->amigaTable = linearTable(player) ? 0 : 1;

    Instrument* instrument;
    Sample* sample;
    lookUpInstrument(player, channel, &instrument, &sample);
    const uint8_t volumeType = volumeEnvelopeType(player, instrument);
    const uint8_t panningType = panningEnvelopeType(player, instrument);

    keepTremoloVolume(channel, cell);
    channel->lastEffect = cell->effect;
    channel->volumeDelta = 0;
    channel->updateFlags = 0;

    const RowNote n = startRowNote(player, channel, cell, r, sample, rules);
    // FT2 refreshes the volume on a note, not on every row.
    const bool refreshVolume = !rules.globalVolumeFt2Timing || n.starts;
    channel->updateFlags |= refreshVolume ? UPDATE_FREQUENCY | UPDATE_VOLUME : UPDATE_FREQUENCY;
    if (!rules.periodOffsetPersists || (n.starts && !n.keepsPeriod && !r.tonePortamento) ||
        pitchEffectEnded(row->previousEffect, channel->lastParam, cell))
        channel->periodDelta = 0;
    else
        channel->periodDelta = channel->heldVibratoDelta;
    channel->lastParam = cell->param;

    const int32_t targetBeforeRow = channel->portaTarget;
    instrumentAndRelease(player, channel, cell, r, n, instrument, sample, rules);
    stepEnvelopesOnRow(channel, instrument, volumeType, panningType, rules);
    effectRowTick(player, channel, cell, instrument, sample, row);
    if (rules.tonePortamentoDirection && r.tonePortamento)
        settleTonePortamento(channel, r.note, targetBeforeRow);
    keepPeriodOffset(channel, rules);
    // A retrigger may have changed the channel's instrument.
    if (rules.retriggerLastInstrument) lookUpInstrument(player, channel, &instrument, &sample);
    finishChannelTick(player, channel, cell, instrument, sample, volumeType, rules);
}

} // namespace

void processRow(Player* player) {
    const ReplayProfile& rules = profileOf(player);
    player->nextRow = -1;
    player->nextOrder = -1;
    RowContext row{}; // no position jump yet on this row
    const Cell* cells = currentRowCells(player);
    const int32_t count = channelsToPlay(player);
    for (int32_t c = 0; c < count; ++c)
        processChannelRow(player, &player->channels[c], &cells[c], &row, rules);
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
        finishChannelTick(player, channel, cell, instrument, sample, volumeType, rules);
    }
}

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
    for (int32_t i = 0; i < count; ++i) startChannel(player, &player->channels[i], &voices[i]);
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
