// The volume and panning envelopes, their release and the fadeout: one step per tick, and
// FT2's Lxx placing them anywhere.
#include "envelope.h"

#include "channel.h"
#include "mixer.h"
#include "module.h"
#include "profile.h"
#include "xm_format.h"

#include <cstdint>

namespace music {

namespace {

constexpr int32_t envelopeOne = 65536; // 1.0 in 16.16

} // namespace

int32_t pointsUsable(int32_t pointCount) {
    if (pointCount < 0) return 0;
    return pointCount < envelopePointsStored ? pointCount : envelopePointsStored;
}

namespace {

// FT2 leaves a loop that ends on the sustain point once the note is released.
uint8_t envelopeTypeThisTick(const Channel* channel, uint8_t type, int32_t sustain, int32_t loopEnd,
                             const ReplayProfile& rules) {
    if (rules.releaseLeavesSustainLoop && channel->keyOff != 0 &&
        (type & xm::envelopeSustain) != 0 && sustain == loopEnd)
        return static_cast<uint8_t>(type & ~xm::envelopeLoop);
    return type;
}

} // namespace

void stepVolumeEnvelope(Channel* channel, const Instrument* instrument, uint8_t type,
                        const ReplayProfile& rules) {
    stepEnvelope(channel, volumeEnvelopeState(channel), instrument->volumeEnvelope,
                 instrument->volumePointCount, instrument->volumeSustain,
                 instrument->volumeLoopStart, instrument->volumeLoopEnd,
                 envelopeTypeThisTick(channel, type, instrument->volumeSustain,
                                      instrument->volumeLoopEnd, rules),
                 UPDATE_VOLUME, channel->keyOff != 0, rules.envelopeFt2Range);
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
                     UPDATE_PANNING, released, rules.envelopeFt2Range);
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
    if ((volumeType & xm::envelopeOn) != 0 && channel->volumeEnvelopeDone == 0)
        stepVolumeEnvelope(channel, instrument, volumeType, rules);
    if ((panningType & xm::envelopeOn) != 0 && channel->panningEnvelopeDone == 0)
        stepPanningEnvelope(channel, instrument, panningType, rules);
    stepFadeout(channel, instrument, rules.fadeoutSpeedAtReset);
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

void keepEnvelopePosition(EnvelopeState kept, EnvelopeState from) {
    *kept.tick = *from.tick;
    *kept.point = *from.point;
    *kept.value = *from.value;
    *kept.slope = *from.slope;
    *kept.done = *from.done;
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

namespace {

constexpr int32_t envelopeTop8_8 = 64 << 8;

constexpr int32_t envelopeWrapLine8_8 = 128 << 8;

// FT2 keeps the level in 16 unsigned bits of 8.8: a level past 64 plays 0 up to 128 and 64
// beyond that (where a fall below 0 lands), and the slide stops.
void keepInFt2Range(int32_t* value, int32_t* slope) {
    const auto level8_8 = static_cast<uint16_t>(*value >> 8);
    if (level8_8 <= envelopeTop8_8) return;
    const int32_t level = level8_8 > envelopeWrapLine8_8 ? 64 : 0;
    *value = level * envelopeOne;
    *slope = 0;
}

} // namespace

bool stepEnvelope(Channel* channel, EnvelopeState state, const EnvelopePoint* points,
                  int32_t pointCount, int32_t sustain, int32_t loopStart, int32_t loopEnd,
                  int32_t type, uint8_t flag, bool released, bool ft2Range) {
    bool held = false;
    const int32_t n = pointsUsable(pointCount);
    int32_t& t = *state.tick;
    int32_t& i = *state.point;
    int32_t& value = *state.value;
    // Whether this tick's level is the start of a slide, which FT2 does not range-check.
    bool slideStarts = false;
    if (i >= 0 && i < n && t == points[i].x) {
        // The loop comes first, so a loop ending on the last point never lets the envelope end.
        if ((type & xm::envelopeLoop) != 0 && i == loopEnd && loopStart < n) {
            i = loopStart;
            t = points[i].x;
        }
        // On a point the value is the point's own, also where the envelope stops or holds.
        value = static_cast<int32_t>(static_cast<int64_t>(points[i].y) * envelopeOne);
        const bool last = i == n - 1;
        if (last || ((type & xm::envelopeSustain) != 0 && i == sustain && !released)) {
            if (ft2Range) keepInFt2Range(&value, state.slope);
            *state.output = ft2Range ? value >> 16 : points[i].y;
            if (last) {
                *state.done = 1;
            } else {
                held = true;
            }
            channel->updateFlags |= flag;
            return held;
        }
        const int32_t dx = points[i + 1].x - points[i].x;
        const int64_t dy = static_cast<int64_t>(points[i + 1].y) - points[i].y;
        // Values are 16-bit as read, so the 16.16 arithmetic is done wide and kept to 32 bits.
        const bool slides = ft2Range ? dx > 0 : dx != 0;
        *state.slope = slides ? static_cast<int32_t>(dy * envelopeOne / dx) : 0;
        slideStarts = slides;
        i = i + 1;
    } else if (i < n) {
        value = static_cast<int32_t>(static_cast<int64_t>(value) + *state.slope);
    }
    if (ft2Range && !slideStarts) keepInFt2Range(&value, state.slope);
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
    if ((volumeType & xm::envelopeOn) != 0 && pointsUsable(instrument->volumePointCount) > 0) {
        placeEnvelope(volumeEnvelopeState(channel), instrument->volumeEnvelope,
                      instrument->volumePointCount, position);
        stepVolumeEnvelope(channel, instrument, volumeType, rules);
    }
    // FT2 looks at the volume envelope's sustain bit here, not at the panning envelope.
    if ((volumeType & xm::envelopeSustain) != 0 &&
        pointsUsable(instrument->panningPointCount) > 0) {
        placeEnvelope(panningEnvelopeState(channel), instrument->panningEnvelope,
                      instrument->panningPointCount, position);
        const uint8_t panningType = panningEnvelopeType(player, instrument);
        if ((panningType & xm::envelopeOn) != 0)
            stepPanningEnvelope(channel, instrument, panningType, rules);
    }
}

// FT2 hears no envelope of an instrument that has it off, whatever level an earlier instrument's
// envelope left on the channel; one that has ended plays its last level again. Only a note
// start changes the instrument, and FT2 pushes volume and panning to the voice then.
void settleEnvelopeOutputs(const Player* player, Channel* channel, const Instrument* instrument) {
    if (!profileOf(player).envelopeOffIsNeutral) return;
    const int32_t volumeBefore = channel->volumeEnvelopeOutput;
    const int32_t panningBefore = channel->panningEnvelopeFine;
    if ((volumeEnvelopeType(player, instrument) & xm::envelopeOn) == 0) {
        channel->volumeEnvelopeOutput = 64;
    } else if (channel->volumeEnvelopeDone != 0) {
        channel->volumeEnvelopeOutput = channel->volumeEnvelopeValue >> 16;
    }
    if ((panningEnvelopeType(player, instrument) & xm::envelopeOn) == 0) {
        channel->panningEnvelopeOutput = 32;
        channel->panningEnvelopeFine = 32 << 8;
    } else if (channel->panningEnvelopeDone != 0) {
        channel->panningEnvelopeOutput = channel->panningEnvelopeValue >> 16;
        channel->panningEnvelopeFine = channel->panningEnvelopeValue >> 8;
    }
    if (channel->volumeEnvelopeOutput != volumeBefore) channel->updateFlags |= UPDATE_VOLUME;
    if (channel->panningEnvelopeFine != panningBefore) channel->updateFlags |= UPDATE_PANNING;
}

} // namespace music
