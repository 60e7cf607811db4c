// A channel's note and instrument: looking them up, starting a note, an instrument's reset
// of volume, panning, envelopes and fadeout, and the release.
#include "note_start.h"

#include "channel.h"
#include "envelope.h"
#include "mixer.h"
#include "module.h"
#include "periods.h"
#include "profile.h"
#include "xm_format.h"

#include <cstdint>

namespace music {

namespace {

constexpr int32_t fadeoutFull = 65536;

} // namespace

void raiseQuickRamp(Channel* channel, const ReplayProfile& rules) {
    if (rules.ft2VolumeRamps) channel->updateFlags |= UPDATE_QUICK_RAMP;
}

void releaseNote(const Player* player, Channel* channel, const Instrument* instrument) {
    channel->keyOff = 1;
    if (profileOf(player).keyOffZeroesVolume &&
        (volumeEnvelopeType(player, instrument) & xm::envelopeOn) == 0) {
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
    channel->instrument =
        channel->selectedInstrument != 0 ? channel->selectedInstrument - 1 : noInstrument;
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

void startChannel(const Player* player, Channel* channel, Voice* voice) {
    *channel = Channel{};
    channel->voice = voice;
    if (profileOf(player).freshChannelFt2) {
        channel->instrument = noInstrument;
        channel->volumeEnvelopeTick = 1;
        channel->panningEnvelopeTick = 1;
    }
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
    if ((volumeEnvelopeType(player, instrument) & xm::envelopeOn) == 0)
        keepEnvelopePosition(volumeEnvelopeState(channel), volumeEnvelopeState(&before));
    if ((panningEnvelopeType(player, instrument) & xm::envelopeOn) == 0)
        keepEnvelopePosition(panningEnvelopeState(channel), panningEnvelopeState(&before));
}

} // namespace music
