// The channel's pitch and volume modulations that both columns of a cell drive: vibrato,
// tremolo and tone portamento, with their waveforms.
#include "modulation.h"

#include "channel.h"
#include "mixer.h"
#include "profile.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace music {

namespace {

constexpr int32_t maxVolume = 64;

void raiseFlags(Channel* channel, uint8_t flags) {
    channel->updateFlags |= flags;
}

constexpr int32_t periodLimit = 1 << 24; // far past the rates at which a voice stops changing

// Phase -32..31 of vibrato and tremolo to an amplitude 0..255.
int32_t sineAmplitude(int32_t position) {
    const float doubled = static_cast<float>(position) * 2.0f;
    const double angle = static_cast<double>(doubled) * 3.141592 * 0.015625;
    return static_cast<int32_t>(std::fabs(std::sin(angle)) * 256.0);
}

// FT2's table: 255 x sin(i x pi / 32) rounded down, for the 32 phases of a half wave.
struct Ft2SineTable {
    uint8_t of[32];
};

Ft2SineTable makeFt2SineTable() {
    Ft2SineTable t{};
    constexpr double pi = 3.14159265358979323846;
    for (int32_t i = 0; i < 32; ++i)
        t.of[i] = static_cast<uint8_t>(255.0 * std::sin(i * pi / 32.0));
    return t;
}

const Ft2SineTable ft2Sine = makeFt2SineTable();

// FT2 indexes its table by the phase's low five bits, so -32..-1 read the same half wave again.
int32_t ft2SineAmplitude(int32_t position) {
    return ft2Sine.of[position & 31];
}

int32_t rampAmplitude(int32_t position) {
    return position >= 0 ? 8 * position : -8 * position - 1;
}

constexpr int32_t squareAmplitude = 255;

int32_t vibratoAmplitude(int32_t position, int32_t waveform, bool ft2Sine) {
    switch (waveform) {
    case 0: return ft2Sine ? ft2SineAmplitude(position) : sineAmplitude(position);
    case 1: return rampAmplitude(position);
    default: return squareAmplitude;
    }
}

// The tremolo reads waveform 3 as a sine, not as a square.
int32_t tremoloAmplitude(int32_t position, int32_t waveform, bool ft2Sine) {
    switch (waveform) {
    case 1: return rampAmplitude(position);
    case 2: return squareAmplitude;
    default: return ft2Sine ? ft2SineAmplitude(position) : sineAmplitude(position);
    }
}

// FT2's tremolo: waveform 3 is a square, and the ramp's direction follows the vibrato's phase,
// not the tremolo's own.
int32_t ft2TremoloAmplitude(const Channel* channel, bool ft2Sine) {
    const int32_t position = channel->tremoloPosition;
    switch ((channel->waveControl >> 4) & 3) {
    case 0: return ft2Sine ? ft2SineAmplitude(position) : sineAmplitude(position);
    case 1: {
        const int32_t rising = 8 * (position & 31);
        return channel->vibratoPosition < 0 ? 255 - rising : rising;
    }
    default: return squareAmplitude;
    }
}

int8_t advancePhase(int8_t position, uint8_t speed) {
    int8_t next = static_cast<int8_t>(position + speed);
    if (next > 31) next = static_cast<int8_t>(next - 64);
    return next;
}

} // namespace

int32_t limitPeriod(int64_t period) {
    if (period > periodLimit) return periodLimit;
    if (period < -periodLimit) return -periodLimit;
    return static_cast<int32_t>(period);
}

void applyVibrato(Channel* channel, const ReplayProfile* rules) {
    const int32_t position = channel->vibratoPosition;
    const bool ft2Sine = rules != nullptr && rules->ft2SineTable;
    const int32_t amplitude = vibratoAmplitude(position, channel->waveControl & 3, ft2Sine);
    if (rules != nullptr && rules->vibratoFt2Depth) {
        // FT2 adds the offset to the period (lower pitch) in the first half of the wave, on both
        // tables; a positive periodDelta raises the pitch on the linear table only.
        const int32_t depth = (channel->vibratoDepth * amplitude) >> 5;
        const int32_t periodOffset = position >= 0 ? depth : -depth;
        channel->periodDelta = channel->amigaTable != 0 ? periodOffset : -periodOffset;
        raiseFlags(channel, UPDATE_FREQUENCY);
        return;
    }
    const int32_t depth = ((channel->vibratoDepth * amplitude) >> 5) & ~3;
    channel->periodDelta = position >= 0 ? -depth : depth;
    raiseFlags(channel, UPDATE_FREQUENCY);
}

void stepVibratoPosition(Channel* channel) {
    channel->vibratoPosition = advancePhase(channel->vibratoPosition, channel->vibratoSpeed);
}

void stepTremolo(Channel* channel, const ReplayProfile* rules) {
    const int32_t position = channel->tremoloPosition;
    const bool ft2Sine = rules != nullptr && rules->ft2SineTable;
    const int32_t amplitude =
        rules != nullptr && rules->tremoloFt2Waves
            ? ft2TremoloAmplitude(channel, ft2Sine)
            : tremoloAmplitude(position, (channel->waveControl >> 4) & 3, ft2Sine);
    int32_t delta = (channel->tremoloDepth * amplitude) >> 6;
    if (position >= 0) {
        if (channel->volume + delta > maxVolume) delta = maxVolume - channel->volume;
    } else {
        if (channel->volume - delta < 0) delta = channel->volume;
        delta = -delta;
    }
    channel->volumeDelta = delta;
    channel->tremorMuted = 0;
    channel->tremoloPosition = advancePhase(channel->tremoloPosition, channel->tremoloSpeed);
    raiseFlags(channel, UPDATE_VOLUME);
}

void tonePortamentoStep(Channel* channel, bool ft2Direction) {
    const int32_t speed = 4 * channel->portaSpeed;
    if (ft2Direction) {
        constexpr uint8_t towardsLonger = 1;
        constexpr uint8_t towardsShorter = 2;
        if (channel->portaDirection == towardsShorter) {
            channel->period -= speed;
            if (channel->period <= channel->portaTarget) {
                channel->portaDirection = towardsLonger;
                channel->period = channel->portaTarget;
            }
        } else if (channel->portaDirection == towardsLonger) {
            channel->period += speed;
            if (channel->period >= channel->portaTarget) channel->period = channel->portaTarget;
        }
        return;
    }
    if (channel->period < channel->portaTarget) {
        channel->period += speed;
        if (channel->period > channel->portaTarget) channel->period = channel->portaTarget;
    } else if (channel->period > channel->portaTarget) {
        channel->period -= speed;
        if (channel->period < channel->portaTarget) channel->period = channel->portaTarget;
    }
}

} // namespace music
