// Pattern effect commands 0..33 with their row-tick and other-tick halves, effect memories,
// vibrato, tremolo, portamento, slides, retrig, tremor, note delay and the position commands.
#include "effects.h"

#include "amiga_periods.h"
#include "channel.h"
#include "envelope.h"
#include "mixer.h"
#include "modulation.h"
#include "module.h"
#include "note_start.h"
#include "periods.h"
#include "profile.h"
#include "tempo.h"
#include "volume_column.h"
#include "xm_format.h"

#include <cmath>

namespace music {
namespace {

constexpr int32_t lowestPortamentoUpPeriod = 56;
constexpr int32_t maxVolume = 64;
constexpr int32_t maxPanning = 255;
constexpr int32_t maxBreakRow = 63;
constexpr int32_t sampleOffsetUnitFrames = 256;
constexpr int32_t firstBpmParameter = 32; // Fxx below this sets the tempo
constexpr uint8_t noteDelayClearedFlags =
    UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING | UPDATE_TRIGGER;

struct EffectCall {
    Player* player;
    Channel* channel;
    const Cell* cell;
    Instrument* instrument;
    Sample* sample;
    RowContext* row; // null on the other ticks
    uint8_t x;       // high nibble of the parameter
    uint8_t y;       // low nibble
    uint8_t xx;      // the whole parameter
};

using EffectHalf = void (*)(const EffectCall& call);

// A memory changes only with a non-zero value; the command then works with the memory.
void store(uint8_t& memory, uint8_t value) {
    if (value != 0) memory = value;
}

void raiseFlags(Channel* channel, uint8_t flags) {
    channel->updateFlags |= flags;
}

void volumeSlide(Channel* channel) {
    channel->tremorMuted = 0;
    const int32_t x = channel->volumeSlideMemory >> 4;
    const int32_t y = channel->volumeSlideMemory & 15;
    if (x != 0) {
        channel->volume = channel->volume + x < maxVolume ? channel->volume + x : maxVolume;
    } else {
        channel->volume = channel->volume - y > 0 ? channel->volume - y : 0;
    }
    raiseFlags(channel, UPDATE_VOLUME);
}

void globalVolumeSlide(Player* player, uint8_t memory) {
    const int32_t x = memory >> 4;
    const int32_t y = memory & 15;
    if (x != 0) {
        player->globalVolume =
            player->globalVolume + x < maxVolume ? player->globalVolume + x : maxVolume;
    } else {
        player->globalVolume = player->globalVolume - y > 0 ? player->globalVolume - y : 0;
    }
}

void panningSlide(Channel* channel) {
    const int32_t x = channel->panningSlideMemory >> 4;
    const int32_t y = channel->panningSlideMemory & 15;
    if (x != 0) {
        channel->panning = channel->panning + x < maxPanning ? channel->panning + x : maxPanning;
    } else {
        channel->panning = channel->panning - y > 0 ? channel->panning - y : 0;
    }
}

void slidePeriod(Channel* channel, int32_t amount) {
    channel->period = limitPeriod(static_cast<int64_t>(channel->period) + amount);
}

// Volume envelope position for Lxx on an instrument whose volume envelope is on.
void setEnvelopePosition(Channel* channel, const Instrument* instrument, int32_t position) {
    int32_t n = instrument->volumePointCount;
    if (n > envelopePointsStored) n = envelopePointsStored;
    if (n == 0) return;
    const EnvelopePoint* points = instrument->volumeEnvelope;
    int32_t i = 0;
    while (i <= n - 2 && position > points[i + 1].x) ++i;
    if (i > n - 2) {
        channel->volumeEnvelopeOutput = points[n - 1].y;
        channel->volumeEnvelopeDone = 1;
        return;
    }
    const int32_t dx = points[i + 1].x - points[i].x;
    const int64_t dy = static_cast<int64_t>(points[i + 1].y) - points[i].y;
    const int32_t slope = dx != 0 ? static_cast<int32_t>(dy * 65536 / dx) : 0;
    channel->volumeEnvelopeDone = 0;
    channel->volumeEnvelopeTick = position;
    channel->volumeEnvelopeSlope = slope;
    channel->volumeEnvelopeValue =
        static_cast<int32_t>(static_cast<int64_t>(position - points[i].x) * slope +
                             static_cast<int64_t>(points[i].y) * 65536);
    channel->volumeEnvelopePoint = i + 1;
    channel->volumeEnvelopeOutput = channel->volumeEnvelopeValue >> 16;
}

int32_t retrigVolume(int32_t volume, int32_t mode) {
    switch (mode) {
    case 1: return volume - 1;
    case 2: return volume - 2;
    case 3: return volume - 4;
    case 4: return volume - 8;
    case 5: return volume - 16;
    case 6: return volume * 2 / 3;
    case 7: return volume >> 1;
    case 9: return volume + 1;
    case 10: return volume + 2;
    case 11: return volume + 4;
    case 12: return volume + 8;
    case 13: return volume + 16;
    case 14: return volume * 3 / 2;
    case 15: return volume * 2;
    default: return volume; // 8: no change, but still clamped
    }
}

// FT2's retrigger is a note start of the channel's last note: its own period again, no
// sample offset.
void retriggerLastNote(Channel* channel) {
    channel->period = channel->notePeriod;
    channel->periodDelta = 0;
    raiseFlags(channel, UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_TRIGGER);
}

// FT2's tremor keeps one byte: bit 7 set while the note is heard, the low bits counting down
// the ticks left in that phase. When the count runs out the phase turns: x more ticks heard, or
// y more muted, each phase thus x + 1 or y + 1 ticks long, with the x and y of the tick the turn
// falls on. T00 without a memory turns on every tick.
void tremorStepFt2(Channel* channel) {
    constexpr uint8_t heard = 0x80;
    uint8_t phase = channel->tremorCounter & heard;
    int32_t left = (channel->tremorCounter & 0x7F) - 1;
    if (left < 0) {
        const int32_t x = channel->tremorOnTicks > 0 ? channel->tremorOnTicks - 1 : 0;
        const int32_t y = channel->tremorOffTicks > 0 ? channel->tremorOffTicks - 1 : 0;
        left = phase == heard ? y : x;
        phase = phase == heard ? 0 : heard;
    }
    channel->tremorCounter = static_cast<uint8_t>(phase | left);
    channel->tremorMuted = phase == heard ? 0 : 1;
    if (channel->tremorMuted != 0) channel->volumeDelta = -channel->volume;
    raiseFlags(channel, UPDATE_VOLUME);
}

void tremorStep(Channel* channel) {
    channel->tremorMuted = channel->tremorCounter >= channel->tremorOnTicks ? 1 : 0;
    if (channel->tremorMuted != 0) channel->volumeDelta = -channel->volume;
    channel->tremorCounter += 1;
    if (channel->tremorCounter >= channel->tremorOnTicks + channel->tremorOffTicks)
        channel->tremorCounter = 0;
    raiseFlags(channel, UPDATE_VOLUME);
}

// ---- Shared halves ----

void nothing(const EffectCall&) {}

// ---- Main commands, row tick ----

void portaUpRow(const EffectCall& e) {
    store(e.channel->portaUpMemory, e.xx);
}
void portaDownRow(const EffectCall& e) {
    store(e.channel->portaDownMemory, e.xx);
}

void tonePortaRow(const EffectCall& e) {
    if (!profileOf(e.player).volumeColumnPortamentoFirst ||
        xm::commandNibble(e.cell->volume) != xm::volumeColumnTonePortamento)
        store(e.channel->portaSpeed, e.xx);
    e.channel->portaTarget = e.channel->notePeriod;
    e.channel->updateFlags &= ~(UPDATE_TRIGGER | UPDATE_FREQUENCY);
}

// FT2 leaves the row tick of a vibrato at the last vibrato pitch when the previous row vibrated
// too and no note starts, and at the plain pitch otherwise.
void vibratoOnRowTick(const EffectCall& e) {
    if (!profileOf(e.player).vibratoHoldsOnRowTick) {
        applyVibrato(e.channel, &profileOf(e.player));
        return;
    }
    // Where the offset persists the row tick already has the pitch FT2 leaves there.
    if (profileOf(e.player).periodOffsetPersists) {
        raiseFlags(e.channel, UPDATE_FREQUENCY);
        return;
    }
    const bool continued = e.row->previousEffect == xm::effectVibrato ||
                           e.row->previousEffect == xm::effectVibratoVolumeSlide;
    e.channel->periodDelta = continued && !e.row->note ? e.channel->heldVibratoDelta : 0;
    raiseFlags(e.channel, UPDATE_FREQUENCY);
}

void vibratoRow(const EffectCall& e) {
    if (!profileOf(e.player).periodOffsetPersists) {
        store(e.channel->vibratoSpeed, e.x);
        store(e.channel->vibratoDepth, e.y);
    }
    vibratoOnRowTick(e);
}

void tonePortaVolumeSlideRow(const EffectCall& e) {
    e.channel->portaTarget = e.channel->notePeriod;
    store(e.channel->volumeSlideMemory, e.xx);
    e.channel->updateFlags &= ~(UPDATE_TRIGGER | UPDATE_FREQUENCY);
}

void vibratoVolumeSlideRow(const EffectCall& e) {
    store(e.channel->volumeSlideMemory, e.xx);
    vibratoOnRowTick(e);
}

void tremoloRow(const EffectCall& e) {
    store(e.channel->tremoloSpeed, e.x);
    store(e.channel->tremoloDepth, e.y);
}

void setPanningRow(const EffectCall& e) {
    e.channel->panning = e.xx;
    raiseFlags(e.channel, UPDATE_PANNING);
}

void sampleOffsetRow(const EffectCall& e) {
    Channel* channel = e.channel;
    if (profileOf(e.player).sampleOffsetWithNoteOnly) {
        if ((channel->updateFlags & UPDATE_TRIGGER) == 0) return;
        if (e.xx != 0) channel->sampleOffsetMemory = e.xx;
        // Past the end the note start leaves the voice silent.
        channel->voice->startOffset = static_cast<uint32_t>(channel->sampleOffsetMemory) *
                                      static_cast<uint32_t>(sampleOffsetUnitFrames);
        return;
    }
    if (e.xx != 0) channel->sampleOffsetMemory = e.xx;
    const uint32_t offset = static_cast<uint32_t>(channel->sampleOffsetMemory) *
                            static_cast<uint32_t>(sampleOffsetUnitFrames);
    if (offset < e.sample->loopStart + e.sample->loopLength) {
        // The trigger of this tick, or the next one, carries it to the voice that plays.
        channel->voice->startOffset = offset;
    } else {
        channel->updateFlags &= ~UPDATE_TRIGGER;
        channel->updateFlags |= UPDATE_RESTART;
    }
}

void volumeSlideRow(const EffectCall& e) {
    store(e.channel->volumeSlideMemory, e.xx);
}

void positionJumpRow(const EffectCall& e) {
    Player* player = e.player;
    player->pendingBreakRow = 0;
    player->nextOrder = e.xx < player->songLength ? e.xx : 0;
    player->nextRow = 0;
    e.row->positionJump = true;
}

void setVolumeRow(const EffectCall& e) {
    e.channel->tremorMuted = 0;
    const bool capped = profileOf(e.player).volumeCommandCapped && e.xx > maxVolume;
    e.channel->volume = capped ? maxVolume : e.xx;
    raiseFlags(e.channel, UPDATE_VOLUME);
    raiseQuickRamp(e.channel, profileOf(e.player));
}

void patternBreakRow(const EffectCall& e) {
    Player* player = e.player;
    player->pendingBreakRow = 0;
    const int32_t target = 10 * e.x + e.y;
    player->nextRow = target > maxBreakRow ? 0 : target;
    if (!e.row->positionJump) player->nextOrder = player->order + 1;
    if (player->nextOrder >= player->songLength) player->nextOrder = 0;
}

void extendedRow(const EffectCall& e);
void extendedOther(const EffectCall& e);

void setSpeedRow(const EffectCall& e) {
    if (e.xx < firstBpmParameter) {
        e.player->tempo = e.xx;
    } else {
        setBpm(e.player, e.xx);
    }
}

void setGlobalVolumeRow(const EffectCall& e) {
    e.player->globalVolumeTouched = 1;
    e.player->globalVolume = e.xx < maxVolume ? e.xx : maxVolume;
    raiseFlags(e.channel, UPDATE_VOLUME);
}

void globalVolumeSlideRow(const EffectCall& e) {
    if (profileOf(e.player).separateSlideMemories) {
        store(e.channel->globalVolumeSlideMemory, e.xx);
        return;
    }
    store(e.player->globalVolumeSlideMemory, e.xx);
}

void setEnvelopePositionRow(const EffectCall& e) {
    if (profileOf(e.player).envelopePositionFt2) {
        setEnvelopePositionFt2(e.player, e.channel, e.instrument, e.xx);
        return;
    }
    if ((volumeEnvelopeType(e.player, e.instrument) & xm::envelopeOn) == 0) return;
    setEnvelopePosition(e.channel, e.instrument, e.xx);
}

void panningSlideRow(const EffectCall& e) {
    if (e.xx == 0) return;
    e.channel->panningSlideMemory = e.xx;
    raiseFlags(e.channel, UPDATE_PANNING);
}

// What FT2's volume column leaves behind on the row tick, as its Rxy reads it: the new volume
// for a set or fine slide, the scaled value for vibrato speed and panning, else the byte itself.
int32_t volumeColumnLeftover(const Channel* channel, uint8_t v) {
    switch (xm::commandNibble(v)) {
    case xm::commandNibble(xm::volumeColumnSetVolumeFirst):
    case 0x2:
    case 0x3:
    case 0x4:
    case xm::commandNibble(xm::volumeColumnSetVolumeLast):
    case xm::volumeColumnFineDown:
    case xm::volumeColumnFineUp: return channel->volume;
    case xm::volumeColumnVibratoSpeed: return (v & 15) * 4;
    case xm::volumeColumnSetPanning: return (v << 4) & 0xFF;
    default: return v;
    }
}

void multiRetrigCounted(const EffectCall& e);

void multiRetrigRow(const EffectCall& e) {
    Channel* channel = e.channel;
    if (profileOf(e.player).multiRetrigCounts) {
        store(channel->retrigVolumeMode, e.x);
        store(channel->retrigInterval, e.y);
        if (volumeColumnLeftover(channel, e.cell->volume) == 0) multiRetrigCounted(e);
        return;
    }
    if (e.xx == 0) return;
    channel->retrigVolumeMode = e.x;
    channel->retrigInterval = e.y;
}

void tremorRow(const EffectCall& e) {
    if (e.xx != 0) {
        e.channel->tremorOnTicks = static_cast<uint8_t>(e.x + 1);
        e.channel->tremorOffTicks = static_cast<uint8_t>(e.y + 1);
    }
    if (profileOf(e.player).tremorSkipsRowTick) {
        if (e.channel->tremorMuted != 0) e.channel->volumeDelta = -e.channel->volume;
        raiseFlags(e.channel, UPDATE_VOLUME);
        return;
    }
    tremorStep(e.channel);
}

void extraFinePortaRow(const EffectCall& e) {
    Channel* channel = e.channel;
    if (e.x == 1) {
        store(channel->extraFinePortaUpMemory, e.y);
        slidePeriod(channel, -channel->extraFinePortaUpMemory);
        channel->periodDelta = 0;
    } else if (e.x == 2) {
        store(channel->extraFinePortaDownMemory, e.y);
        slidePeriod(channel, channel->extraFinePortaDownMemory);
        channel->periodDelta = 0;
    }
}

// ---- Main commands, other ticks ----

// FT2's arpeggio table: 16 entries of tick mod 3, then the bytes that follow it in FT2's
// program, which its tick counter reaches at speeds above 15.
constexpr uint8_t ft2ArpeggioTable[32] = {
    0,    1,    2,    0,    1,    2,    0,    1,    2,    0,    1,    2,    0,    1,    2,    0,
    0x00, 0x18, 0x31, 0x4A, 0x61, 0x78, 0x8D, 0xA1, 0xB4, 0xC5, 0xD4, 0xE0, 0xEB, 0xF4, 0xFA, 0xFD};

// 0 base note, 1 the x offset, anything else the y offset.
int32_t arpeggioPhase(const Player* player) {
    if (!profileOf(player).arpeggioCountsDown) return player->tick % 3;
    // FT2's counter runs from the speed down to 1, starting over on each repeat of a delayed row.
    const int32_t speed = ticksPerRow(player);
    const int32_t counter = speed - player->tick % speed;
    return ft2ArpeggioTable[counter & 31];
}

// The finetune the channel's arpeggio and glissando snap with.
int32_t snappingFinetune(const EffectCall& e) {
    return profileOf(e.player).channelKeepsFinetune ? e.channel->noteFinetune : e.sample->finetune;
}

void arpeggioOther(const EffectCall& e) {
    if (e.xx == 0) return;
    Channel* channel = e.channel;
    const int32_t phase = arpeggioPhase(e.player);
    // Phases 1 and 2 write their offset even when it is 0, replacing a volume-column vibrato of
    // the same tick; phase 0 leaves periodDelta as the tick has it, or in FT2 the plain period.
    if (phase == 0 && profileOf(e.player).periodOffsetPersists) channel->periodDelta = 0;
    if (phase != 0) {
        const int32_t semitones = phase == 1 ? e.x : e.y;
        if (linearTable(e.player) && profileOf(e.player).arpeggioFromNoteTable) {
            const int32_t target =
                linearArpeggioPeriod(channel->period, snappingFinetune(e), semitones);
            channel->periodDelta = channel->period - target;
        } else if (linearTable(e.player)) {
            channel->periodDelta = 64 * semitones;
        } else if (profileOf(e.player).arpeggioFromNoteTable &&
                   profileOf(e.player).ft2AmigaPeriodTable) {
            channel->periodDelta =
                ft2AmigaSnappedPeriod(channel->period, snappingFinetune(e), semitones) -
                channel->period;
        } else {
            const int32_t finetune = e.sample->finetune;
            channel->periodDelta = amigaPeriod(channel->realNote + semitones, finetune) -
                                   amigaPeriod(channel->realNote, finetune);
        }
    }
    raiseFlags(channel, UPDATE_FREQUENCY);
}

void portaUpOther(const EffectCall& e) {
    Channel* channel = e.channel;
    channel->period -= 4 * channel->portaUpMemory;
    if (channel->period < lowestPortamentoUpPeriod) channel->period = lowestPortamentoUpPeriod;
    channel->periodDelta = 0;
    raiseFlags(channel, UPDATE_FREQUENCY);
}

void portaDownOther(const EffectCall& e) {
    slidePeriod(e.channel, 4 * e.channel->portaDownMemory);
    e.channel->periodDelta = 0;
    raiseFlags(e.channel, UPDATE_FREQUENCY);
}

// With glissando on, the slide sounds at the nearest note of the table (on the Amiga table only
// with FT2's own).
void applyGlissando(const EffectCall& e) {
    Channel* channel = e.channel;
    if (channel->glissando == 0) return;
    if (linearTable(e.player)) {
        channel->periodDelta =
            channel->period - linearArpeggioPeriod(channel->period, snappingFinetune(e), 0);
    } else if (profileOf(e.player).ft2AmigaPeriodTable) {
        channel->periodDelta =
            ft2AmigaSnappedPeriod(channel->period, snappingFinetune(e), 0) - channel->period;
    }
}

void tonePortaOther(const EffectCall& e) {
    e.channel->periodDelta = 0;
    tonePortamentoStep(e.channel, profileOf(e.player).tonePortamentoDirection);
    applyGlissando(e);
    raiseFlags(e.channel, UPDATE_FREQUENCY);
}

void vibratoOther(const EffectCall& e) {
    if (profileOf(e.player).periodOffsetPersists) {
        store(e.channel->vibratoSpeed, e.x);
        store(e.channel->vibratoDepth, e.y);
    }
    applyVibrato(e.channel, &profileOf(e.player));
    e.channel->heldVibratoDelta = e.channel->periodDelta;
    stepVibratoPosition(e.channel);
}

void tonePortaVolumeSlideOther(const EffectCall& e) {
    e.channel->periodDelta = 0;
    tonePortamentoStep(e.channel, profileOf(e.player).tonePortamentoDirection);
    applyGlissando(e);
    volumeSlide(e.channel);
    raiseFlags(e.channel, UPDATE_FREQUENCY | UPDATE_VOLUME);
}

void vibratoVolumeSlideOther(const EffectCall& e) {
    applyVibrato(e.channel, &profileOf(e.player));
    e.channel->heldVibratoDelta = e.channel->periodDelta;
    stepVibratoPosition(e.channel);
    volumeSlide(e.channel);
}

void tremoloOther(const EffectCall& e) {
    stepTremolo(e.channel, &profileOf(e.player));
}
void volumeSlideOther(const EffectCall& e) {
    volumeSlide(e.channel);
}
void globalVolumeSlideOther(const EffectCall& e) {
    e.player->globalVolumeTouched = 1;
    globalVolumeSlide(e.player, profileOf(e.player).separateSlideMemories
                                    ? e.channel->globalVolumeSlideMemory
                                    : e.player->globalVolumeSlideMemory);
}

// FT2 releases on the tick the parameter names (counted within each repeat of a delayed row).
void keyOffOther(const EffectCall& e) {
    if (!profileOf(e.player).keyOffAtTick) return;
    const int32_t speed = ticksPerRow(e.player);
    if (e.player->tick % speed == (e.xx & 31)) releaseNote(e.player, e.channel, e.instrument);
}

void panningSlideOther(const EffectCall& e) {
    panningSlide(e.channel);
    raiseFlags(e.channel, UPDATE_PANNING);
}

// FT2's Rxy: a counter of its own, FT2's mode 6, and the row's volume column after the change.
void multiRetrigCounted(const EffectCall& e) {
    Channel* channel = e.channel;
    const int32_t counted = channel->retrigCounter + 1;
    if (counted < channel->retrigInterval) {
        channel->retrigCounter = static_cast<uint8_t>(counted);
        return;
    }
    channel->retrigCounter = 0;
    const int32_t before = channel->volume;
    int32_t volume = channel->retrigVolumeMode == 6
                         ? (before >> 1) + (before >> 3) + (before >> 4)
                         : retrigVolume(before, channel->retrigVolumeMode);
    volume = volume < 0 ? 0 : (volume > maxVolume ? maxVolume : volume);
    channel->volume = volume;
    channel->tremorMuted = 0;
    const uint8_t v = e.cell->volume;
    if (v >= xm::volumeColumnSetVolumeFirst && v <= xm::volumeColumnSetVolumeLast) {
        channel->volume = v - xm::volumeColumnSetVolumeFirst;
    } else if (xm::commandNibble(v) == xm::volumeColumnSetPanning) {
        channel->panning = (v & 15) << 4;
        raiseFlags(channel, UPDATE_PANNING);
    }
    raiseFlags(channel, UPDATE_VOLUME);
    if (profileOf(e.player).retriggerLastInstrument) {
        Instrument* instrument = e.instrument;
        Sample* sample = e.sample;
        restartLastNote(e.player, channel, &instrument, &sample);
    } else if (channel->notePeriod != 0) {
        retriggerLastNote(channel);
    }
}

void multiRetrigOther(const EffectCall& e) {
    Channel* channel = e.channel;
    if (profileOf(e.player).multiRetrigCounts) {
        multiRetrigCounted(e);
        return;
    }
    if (channel->retrigInterval == 0 || e.player->tick % channel->retrigInterval != 0) return;
    channel->tremorMuted = 0;
    if (profileOf(e.player).retriggerRestartsInstrument && channel->notePeriod != 0)
        retriggerLastNote(channel);
    if (channel->retrigVolumeMode == 0) {
        raiseFlags(channel, UPDATE_TRIGGER);
        return;
    }
    int32_t volume = retrigVolume(channel->volume, channel->retrigVolumeMode);
    if (volume < 0) volume = 0;
    if (volume > maxVolume) volume = maxVolume;
    channel->volume = volume;
    raiseFlags(channel, UPDATE_VOLUME | UPDATE_TRIGGER);
}

void tremorOther(const EffectCall& e) {
    if (profileOf(e.player).tremorFt2Phases) {
        tremorStepFt2(e.channel);
        raiseQuickRamp(e.channel, profileOf(e.player));
        return;
    }
    tremorStep(e.channel);
}

// ---- Extended commands (E), row tick ----

void finePortaUpRow(const EffectCall& e) {
    store(e.channel->finePortaUpMemory, e.y);
    slidePeriod(e.channel, -4 * e.channel->finePortaUpMemory);
    e.channel->periodDelta = 0;
}

void finePortaDownRow(const EffectCall& e) {
    store(e.channel->finePortaDownMemory, e.y);
    slidePeriod(e.channel, 4 * e.channel->finePortaDownMemory);
    e.channel->periodDelta = 0;
}

void vibratoWaveformRow(const EffectCall& e) {
    e.channel->waveControl = static_cast<uint8_t>((e.channel->waveControl & 0xF0) | e.y);
}

// Kept in the Sample record, so every later note of this sample on any channel hears it. FT2
// instead uses it for the note in its own cell only (taken when the row's note is read).
void setFinetuneRow(const EffectCall& e) {
    if (profileOf(e.player).finetuneForNoteOnly) return;
    e.sample->finetune = static_cast<int8_t>(e.y);
}

void patternLoopRow(const EffectCall& e) {
    Channel* channel = e.channel;
    if (e.y == 0) {
        channel->loopRow = e.player->row;
        return;
    }
    channel->loopCounter = channel->loopCounter == 0 ? e.y : channel->loopCounter - 1;
    if (channel->loopCounter != 0) {
        e.player->nextRow = channel->loopRow;
        // FT2 keeps the row pending: the next pattern will start there.
        if (profileOf(e.player).patternLoopSetsBreakRow)
            e.player->pendingBreakRow = channel->loopRow;
    }
}

void tremoloWaveformRow(const EffectCall& e) {
    e.channel->waveControl = static_cast<uint8_t>((e.channel->waveControl & 0x0F) | (e.y << 4));
}

void coarsePanningRow(const EffectCall& e) {
    e.channel->panning = e.y * 16;
    raiseFlags(e.channel, UPDATE_PANNING);
}

void fineVolumeUpRow(const EffectCall& e) {
    Channel* channel = e.channel;
    store(channel->fineVolumeSlideMemory, e.y);
    channel->tremorMuted = 0;
    const int32_t volume = channel->volume + channel->fineVolumeSlideMemory;
    channel->volume = volume < maxVolume ? volume : maxVolume;
    raiseFlags(channel, UPDATE_VOLUME);
}

void fineVolumeDownRow(const EffectCall& e) {
    Channel* channel = e.channel;
    uint8_t& memory = profileOf(e.player).separateSlideMemories ? channel->fineVolumeDownMemory
                                                                : channel->fineVolumeSlideMemory;
    store(memory, e.y);
    channel->tremorMuted = 0;
    const int32_t volume = channel->volume - memory;
    channel->volume = volume > 0 ? volume : 0;
    raiseFlags(channel, UPDATE_VOLUME);
}

// The row's note, instrument and volume column have been taken already; hold them back until
// the delay tick and keep the channel sounding as it did.
void noteDelayRow(const EffectCall& e) {
    if (e.y == 0 && profileOf(e.player).noteDelayEdgesFt2) return;
    Channel* channel = e.channel;
    channel->updateFlags &= ~noteDelayClearedFlags;
    channel->volume = e.row->heldVolume;
    channel->period = e.row->heldPeriod;
    channel->panning = e.row->heldPanning;
}

void noteCutRow(const EffectCall& e) {
    if (e.y != 0 || !profileOf(e.player).noteCutZeroOnRowTick) return;
    e.channel->volume = 0;
    e.channel->tremorMuted = 0;
    raiseFlags(e.channel, UPDATE_VOLUME);
    raiseQuickRamp(e.channel, profileOf(e.player));
}

void patternDelayRow(const EffectCall& e) {
    e.player->patternDelayTicks =
        e.y * (profileOf(e.player).speedZeroHoldsRow ? ticksPerRow(e.player) : e.player->tempo);
}

// ---- Extended commands (E), other ticks ----

// The tick E9y, ECy and EDy compare with: counted over the whole delayed row, or within each of
// its repeats.
int32_t extendedCommandTick(const Player* player) {
    if (!profileOf(player).rowRepeatsRestartTickCount) return player->tick;
    return player->tick % ticksPerRow(player);
}

void retriggerOther(const EffectCall& e) {
    if (e.y == 0 || extendedCommandTick(e.player) % e.y != 0) return;
    Channel* channel = e.channel;
    if (!profileOf(e.player).retriggerRestartsInstrument) {
        raiseFlags(channel, UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_TRIGGER);
        return;
    }
    // A channel that never played a note has nothing to start, but its instrument starts over.
    Instrument* instrument = e.instrument;
    Sample* sample = e.sample;
    if (profileOf(e.player).retriggerLastInstrument) {
        restartLastNote(e.player, channel, &instrument, &sample);
    } else if (channel->notePeriod != 0) {
        retriggerLastNote(channel);
    }
    const int32_t volume = channel->volume;
    const int32_t panning = channel->panning;
    resetInstrument(e.player, channel, instrument, sample);
    channel->volume = volume;
    channel->panning = panning;
}

// E90 retriggers on the row tick: the row's note has started already, or the last one starts
// again.
void retriggerRow(const EffectCall& e) {
    if (e.y != 0 || !profileOf(e.player).retriggerRestartsInstrument) return;
    if (e.row->note || e.cell->note == KEY_OFF || e.channel->notePeriod == 0) return;
    if (!profileOf(e.player).retriggerLastInstrument) {
        retriggerLastNote(e.channel);
        return;
    }
    Instrument* instrument = e.instrument;
    Sample* sample = e.sample;
    const bool started = restartLastNote(e.player, e.channel, &instrument, &sample);
    // The row's instrument number resets the channel to the instrument now started.
    if (started && e.cell->instrument != 0)
        resetInstrument(e.player, e.channel, instrument, sample);
}

void noteCutOther(const EffectCall& e) {
    if (extendedCommandTick(e.player) != e.y) return;
    e.channel->tremorMuted = 0;
    e.channel->volume = 0;
    raiseFlags(e.channel, UPDATE_VOLUME);
    raiseQuickRamp(e.channel, profileOf(e.player));
}

// Of the delayed cell's volume column only set-volume and set-panning are taken.
void delayedVolumeColumn(const EffectCall& e) {
    const uint8_t v = e.cell->volume;
    if ((v >= xm::volumeColumnSetVolumeFirst && v <= xm::volumeColumnSetVolumeLast) ||
        xm::commandNibble(v) == xm::volumeColumnSetPanning)
        volumeColumnRow(e.channel, v, &profileOf(e.player));
}

// FT2's delayed note as it stores the cell: the note number of the cell, or the last one, starts
// with the last instrument number written, as a retrigger would; the instrument starts over, its
// volume and panning only with an instrument number in the cell; then the cell's set-volume or
// set-panning.
void startStoredNote(const EffectCall& e) {
    Channel* channel = e.channel;
    const bool noteGiven = e.cell->note >= 1 && e.cell->note <= 96;
    if (noteGiven) channel->note = static_cast<uint8_t>(e.cell->note - 1);
    const int32_t volume = channel->volume;
    const int32_t panning = channel->panning;
    Instrument* instrument = e.instrument;
    Sample* sample = e.sample;
    restartLastNote(e.player, channel, &instrument, &sample, noteGiven);
    resetInstrument(e.player, channel, instrument, sample);
    if (e.cell->instrument == 0) {
        channel->volume = volume;
        channel->panning = panning;
    }
    delayedVolumeColumn(e);
}

// FT2's delayed key-off: the release, then the instrument starts over without a note.
void delayedKeyOff(const EffectCall& e) {
    Channel* channel = e.channel;
    releaseNote(e.player, channel, e.instrument);
    if (e.cell->instrument != 0) {
        channel->volume = e.sample->volume;
        channel->panning = e.sample->panning;
    }
    const int32_t volume = channel->volume;
    const int32_t panning = channel->panning;
    const uint8_t pushedPanning = channel->updateFlags & UPDATE_PANNING;
    resetInstrument(e.player, channel, e.instrument, e.sample);
    channel->volume = volume;
    channel->panning = panning;
    delayedVolumeColumn(e);
    // Without an instrument number nothing sends FT2's new panning to the voice on this tick:
    // neither the instrument's restart nor the volume column's set-panning.
    if (profileOf(e.player).noteDelayStoresCell && e.cell->instrument == 0)
        channel->updateFlags =
            static_cast<uint8_t>((channel->updateFlags & ~UPDATE_PANNING) | pushedPanning);
}

void noteDelayOther(const EffectCall& e) {
    Channel* channel = e.channel;
    const ReplayProfile& rules = profileOf(e.player);
    if (e.y == 0 && rules.noteDelayEdgesFt2) return;
    if (extendedCommandTick(e.player) != e.y) {
        if (!rules.noteDelayStoresCell) channel->updateFlags &= ~noteDelayClearedFlags;
        return;
    }
    if (e.cell->note == KEY_OFF && rules.noteDelayEdgesFt2) {
        delayedKeyOff(e);
        return;
    }
    if (rules.noteDelayStoresCell) {
        startStoredNote(e);
        return;
    }
    const int32_t volume = channel->volume;
    const int32_t panning = channel->panning;
    Instrument* instrument = e.instrument;
    Sample* sample = e.sample;
    bool started = true;
    if (rules.retriggerLastInstrument) {
        started = restartLastNote(e.player, channel, &instrument, &sample);
    } else {
        channel->period = channel->notePeriod;
    }
    resetInstrument(e.player, channel, instrument, sample);
    raiseFlags(channel, UPDATE_FREQUENCY);
    if (rules.noteDelayKeepsVolume) {
        if (e.cell->instrument == 0) {
            channel->volume = volume;
            channel->panning = panning;
        }
        delayedVolumeColumn(e);
    } else if (e.cell->volume != 0) {
        volumeColumnRow(channel, e.cell->volume, &rules);
    }
    if (started) raiseFlags(channel, UPDATE_TRIGGER);
}

void glissandoRow(const EffectCall& e) {
    if (profileOf(e.player).glissando) e.channel->glissando = e.y != 0 ? 1 : 0;
}

constexpr EffectHalf extendedRowTable[16] = {
    nothing,            // E0y
    finePortaUpRow,     // E1y fine portamento up
    finePortaDownRow,   // E2y fine portamento down
    glissandoRow,       // E3y glissando control
    vibratoWaveformRow, // E4y vibrato waveform
    setFinetuneRow,     // E5y set finetune
    patternLoopRow,     // E6y pattern loop
    tremoloWaveformRow, // E7y tremolo waveform
    coarsePanningRow,   // E8y set panning
    retriggerRow,       // E9y retrigger: E90 on the row tick, the rest on the other ticks
    fineVolumeUpRow,    // EAy fine volume slide up
    fineVolumeDownRow,  // EBy fine volume slide down
    noteCutRow,         // ECy note cut: EC0 where it cuts on the row tick
    noteDelayRow,       // EDy note delay
    patternDelayRow,    // EEy pattern delay
    nothing,            // EFy
};

constexpr EffectHalf extendedOtherTable[16] = {
    nothing,        // E0y
    nothing,        // E1y fine portamento up: row tick only
    nothing,        // E2y fine portamento down: row tick only
    nothing,        // E3y
    nothing,        // E4y vibrato waveform
    nothing,        // E5y set finetune
    nothing,        // E6y pattern loop
    nothing,        // E7y tremolo waveform
    nothing,        // E8y set panning
    retriggerOther, // E9y retrigger
    nothing,        // EAy fine volume slide up
    nothing,        // EBy fine volume slide down
    noteCutOther,   // ECy note cut
    noteDelayOther, // EDy note delay
    nothing,        // EEy pattern delay
    nothing,        // EFy
};

void extendedRow(const EffectCall& e) {
    extendedRowTable[e.x](e);
}
void extendedOther(const EffectCall& e) {
    extendedOtherTable[e.x](e);
}

constexpr EffectHalf rowTickTable[xm::effectCount] = {
    nothing,                 // 0  0xy arpeggio: the row tick plays the base note
    portaUpRow,              // 1  1xx portamento up
    portaDownRow,            // 2  2xx portamento down
    tonePortaRow,            // 3  3xx tone portamento
    vibratoRow,              // 4  4xy vibrato
    tonePortaVolumeSlideRow, // 5  5xy tone portamento and volume slide
    vibratoVolumeSlideRow,   // 6  6xy vibrato and volume slide
    tremoloRow,              // 7  7xy tremolo
    setPanningRow,           // 8  8xx set panning
    sampleOffsetRow,         // 9  9xx sample offset
    volumeSlideRow,          // 10 Axy volume slide
    positionJumpRow,         // 11 Bxx position jump
    setVolumeRow,            // 12 Cxx set volume
    patternBreakRow,         // 13 Dxy pattern break
    extendedRow,             // 14 Exy extended
    setSpeedRow,             // 15 Fxx set tempo or BPM
    setGlobalVolumeRow,      // 16 Gxx set global volume
    globalVolumeSlideRow,    // 17 Hxy global volume slide
    nothing,                 // 18 I
    nothing,                 // 19 J
    nothing,                 // 20 Kxx key off: released by the row's key-off step
    setEnvelopePositionRow,  // 21 Lxx set envelope position
    nothing,                 // 22 M
    nothing,                 // 23 N
    nothing,                 // 24 O
    panningSlideRow,         // 25 Pxy panning slide
    nothing,                 // 26 Q
    multiRetrigRow,          // 27 Rxy multi retrig note
    nothing,                 // 28 S
    tremorRow,               // 29 Txy tremor
    nothing,                 // 30 U
    nothing,                 // 31 V
    nothing,                 // 32 W
    extraFinePortaRow,       // 33 Xxy extra fine portamento
};

constexpr EffectHalf otherTickTable[xm::effectCount] = {
    arpeggioOther,             // 0  0xy arpeggio
    portaUpOther,              // 1  1xx portamento up
    portaDownOther,            // 2  2xx portamento down
    tonePortaOther,            // 3  3xx tone portamento
    vibratoOther,              // 4  4xy vibrato
    tonePortaVolumeSlideOther, // 5  5xy tone portamento and volume slide
    vibratoVolumeSlideOther,   // 6  6xy vibrato and volume slide
    tremoloOther,              // 7  7xy tremolo
    nothing,                   // 8  8xx set panning
    nothing,                   // 9  9xx sample offset
    volumeSlideOther,          // 10 Axy volume slide
    nothing,                   // 11 Bxx position jump
    nothing,                   // 12 Cxx set volume
    nothing,                   // 13 Dxy pattern break
    extendedOther,             // 14 Exy extended
    nothing,                   // 15 Fxx set tempo or BPM
    nothing,                   // 16 Gxx set global volume
    globalVolumeSlideOther,    // 17 Hxy global volume slide
    nothing,                   // 18 I
    nothing,                   // 19 J
    keyOffOther,               // 20 Kxx key off (FT2: on tick xx)
    nothing,                   // 21 Lxx set envelope position
    nothing,                   // 22 M
    nothing,                   // 23 N
    nothing,                   // 24 O
    panningSlideOther,         // 25 Pxy panning slide
    nothing,                   // 26 Q
    multiRetrigOther,          // 27 Rxy multi retrig note
    nothing,                   // 28 S
    tremorOther,               // 29 Txy tremor
    nothing,                   // 30 U
    nothing,                   // 31 V
    nothing,                   // 32 W
    nothing,                   // 33 Xxy extra fine portamento
};

EffectCall makeCall(Player* player, Channel* channel, const Cell* cell, Instrument* instrument,
                    Sample* sample, RowContext* row) {
    return {player,
            channel,
            cell,
            instrument,
            sample,
            row,
            static_cast<uint8_t>(cell->param >> 4),
            static_cast<uint8_t>(cell->param & 15),
            cell->param};
}

} // namespace

void effectRowTick(Player* player, Channel* channel, const Cell* cell, Instrument* instrument,
                   Sample* sample, RowContext* row) {
    if (cell->effect >= xm::effectCount) return;
    rowTickTable[cell->effect](makeCall(player, channel, cell, instrument, sample, row));
}

void effectOtherTick(Player* player, Channel* channel, const Cell* cell, Instrument* instrument,
                     Sample* sample) {
    if (cell->effect >= xm::effectCount) return;
    otherTickTable[cell->effect](makeCall(player, channel, cell, instrument, sample, nullptr));
}

} // namespace music
