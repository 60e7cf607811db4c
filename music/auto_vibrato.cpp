// The instrument's auto-vibrato, the demo's and FT2's.
#include "auto_vibrato.h"

#include "channel.h"
#include "module.h"
#include "profile.h"

#include <cmath>
#include <cstdint>

namespace music {

namespace {

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

} // namespace music
