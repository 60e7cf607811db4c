// The volume column: set volume and panning, slides, vibrato and tone portamento.
#include "volume_column.h"

#include "channel.h"
#include "modulation.h"
#include "module.h"
#include "note_start.h"
#include "profile.h"
#include "xm_format.h"

#include <cstdint>

namespace music {

namespace {

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

} // namespace

void volumeColumnRow(Channel* channel, uint8_t v, const ReplayProfile* rules) {
    const int32_t y = v & 15;
    if (rules != nullptr && rules->volumeColumnSlidesSkipRowTick) {
        switch (xm::commandNibble(v)) {
        case xm::volumeColumnSlideDown:
        case xm::volumeColumnSlideUp:
        case xm::volumeColumnVibratoDepth:
        case xm::volumeColumnPanningLeft:
        case xm::volumeColumnPanningRight: return; // these run on the other ticks only
        case xm::volumeColumnVibratoSpeed:
            if (y != 0) channel->vibratoSpeed = static_cast<uint8_t>(y);
            return;
        default: break;
        }
    }
    switch (xm::commandNibble(v)) {
    case xm::commandNibble(xm::volumeColumnSetVolumeFirst):
    case 0x2:
    case 0x3:
    case 0x4:
    case xm::commandNibble(xm::volumeColumnSetVolumeLast):
        if (v > xm::volumeColumnSetVolumeLast) return;
        channel->volume = v - xm::volumeColumnSetVolumeFirst;
        channel->tremorMuted = 0;
        channel->updateFlags |= UPDATE_VOLUME;
        if (rules != nullptr) raiseQuickRamp(channel, *rules);
        return;
    case xm::volumeColumnSlideDown:
    case xm::volumeColumnFineDown: slideVolumeDown(channel, y); return;
    case xm::volumeColumnSlideUp:
    case xm::volumeColumnFineUp: slideVolumeUp(channel, y); return;
    case xm::volumeColumnVibratoSpeed: channel->vibratoSpeed = static_cast<uint8_t>(y); return;
    case xm::volumeColumnVibratoDepth: channel->vibratoDepth = static_cast<uint8_t>(y); return;
    case xm::volumeColumnSetPanning:
        channel->panning = y * 16;
        channel->updateFlags |= UPDATE_PANNING;
        return;
    case xm::volumeColumnPanningLeft: slidePanning(channel, -y); return;
    case xm::volumeColumnPanningRight: slidePanning(channel, y); return;
    case xm::volumeColumnTonePortamento:
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
        switch (xm::commandNibble(v)) {
        case xm::volumeColumnVibratoDepth:
            if (y != 0) channel->vibratoDepth = static_cast<uint8_t>(y);
            applyVibrato(channel, rules);
            channel->heldVibratoDelta = channel->periodDelta;
            stepVibratoPosition(channel);
            return;
        case xm::volumeColumnPanningLeft: slidePanningLeftClamped(channel, y); return;
        case xm::volumeColumnPanningRight: slidePanningRightClamped(channel, y); return;
        default: break;
        }
    }
    switch (xm::commandNibble(v)) {
    case xm::volumeColumnSlideDown: slideVolumeDown(channel, y); return;
    case xm::volumeColumnSlideUp: slideVolumeUp(channel, y); return;
    case xm::volumeColumnVibratoDepth:
        channel->vibratoDepth = static_cast<uint8_t>(y);
        applyVibrato(channel, rules);
        stepVibratoPosition(channel);
        return;
    case xm::volumeColumnPanningLeft: slidePanning(channel, -y); return;
    case xm::volumeColumnPanningRight: slidePanning(channel, y); return;
    case xm::volumeColumnTonePortamento:
        tonePortamentoStep(channel, rules != nullptr && rules->tonePortamentoDirection);
        channel->updateFlags |= UPDATE_FREQUENCY;
        return;
    default: return;
    }
}

} // namespace music
