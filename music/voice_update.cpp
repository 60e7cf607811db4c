// Channel-to-voice update: note starts with the hand-off to the partner voice, gains, panning,
// frequency and step, restart.
#include "voice_update.h"

#include "channel.h"
#include "format.h"
#include "mixer.h"
#include "module.h"
#include "periods.h"
#include "profile.h"
#include "xm_format.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace music {
namespace {

// 255 * 2^-35: with every factor at its maximum (64, 64, 65536, 64) the product is 127.5.
float volumeScale() {
    const uint32_t bits = 0x31FF0000u;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return scale;
}

// sqrt(share / 256) with 16 fractional bits, rounded, for shares 0..256: FT2 divides a voice's
// level between the sides by square roots, so a centred voice is 3 dB louder against a panned
// one than linear shares make it.
constexpr int32_t panningShares = 257;
struct SquareRootShares {
    int32_t of[panningShares];
};
SquareRootShares makeSquareRootShares() {
    SquareRootShares shares{};
    for (int32_t i = 0; i < panningShares; ++i)
        shares.of[i] =
            static_cast<int32_t>(std::lround(65536.0 * std::sqrt(static_cast<double>(i) / 256.0)));
    return shares;
}
const SquareRootShares squareRootShares = makeSquareRootShares();

// The demo's rules send panning 255 to the left output; the file format (and FT2) to the right.
void setTargets(Voice* voice, const ReplayProfile& rules) {
    const int32_t v = voice->voiceVolume;
    if (rules.squareRootPanning) {
        // The right side's share of panning p is p / 256, so 255 never quite reaches all of it.
        // Both sides then lose 3 dB (sqrt(1/2) in 16 bits), so that a centred voice, the common
        // case, keeps the level linear shares give it instead of clipping 3 dB sooner; where the
        // output level lies is the player's choice, FT2 leaves it to its amplification setting.
        const int32_t p = voice->voicePanning;
        const int64_t lowered = int64_t{v} * squareRootShares.of[128];
        voice->leftTarget = static_cast<int32_t>((lowered * squareRootShares.of[256 - p]) >> 32);
        voice->rightTarget = static_cast<int32_t>((lowered * squareRootShares.of[p]) >> 32);
        return;
    }
    const int32_t p = rules.panningZeroIsLeft ? 255 - voice->voicePanning : voice->voicePanning;
    voice->leftTarget = v * p / 255;
    voice->rightTarget = v * (255 - p) / 255;
}

// Fine levels carry 8 more fractional bits: 256 units of them make one of the usual.
constexpr float fineLevelUnits = 256.0f;

// Frequencies are kept below this so that the conversion to int32 stays defined; such rates are
// far beyond anything audible and the mixer limits the step anyway.
constexpr double maxFrequencyHz = 2147483647.0;

int32_t linearFrequency(int32_t period, int32_t periodDelta) {
    const float exponent = static_cast<float>(4608 - period + periodDelta) / 768.0f;
    double hz = 8363.0 * std::pow(2.0, static_cast<double>(exponent));
    if (!(hz < maxFrequencyHz)) hz = maxFrequencyHz;
    return static_cast<int32_t>(hz);
}

// FT2's quick ramp: rate / 200 frames (220 at 44100 Hz).
int32_t quickRampFrames(int32_t rateHz) {
    const int32_t frames = rateHz / 200;
    return frames > 0 ? frames : 1;
}

void startNote(Player* player, Channel* channel, Sample* sample, bool offsetPastEndSilences,
               bool ft2Ramps) {
    Voice* voices = player->mixer.voices;
    Voice* current = &voices[channel->voice->index];
    Voice* target = current;
    if (current->sample != nullptr) {
        const int32_t a = current->index;
        const int32_t partnerIndex =
            a < partnerVoiceOffset ? a + partnerVoiceOffset : a - partnerVoiceOffset;
        Voice* partner = &voices[partnerIndex];
        *partner = *current;
        partner->index = partnerIndex;
        // The old note keeps playing where it was and the mixer ramps it down to silence.
        current->voiceVolume = 0;
        current->volumeCopy = 0;
        current->leftTarget = 0;
        current->rightTarget = 0;
        if (ft2Ramps) current->rampFrames = quickRampFrames(player->outputRate);
        channel->voice = partner;
        target = partner;
    }
    target->sample = sample;
    if (target->startOffset >= sample->loopStart + sample->loopLength) {
        target->startOffset = 0;
        if (offsetPastEndSilences) target->sample = nullptr;
    }
    target->positionWhole = static_cast<int32_t>(target->startOffset);
    target->positionFraction = 0;
    target->direction = DIRECTION_FORWARD;
    target->startOffset = 0;
    target->leftLevel = 0;
    target->rightLevel = 0;
    target->rampFramesLeft = 0;
}

void updateVolume(const Channel* channel, Voice* voice, const Player* player) {
    const ReplayProfile& rules = profileOf(player);
    float product = static_cast<float>(channel->volume + channel->volumeDelta);
    product *= static_cast<float>(channel->volumeEnvelopeOutput);
    product *= static_cast<float>(channel->fadeoutVolume);
    product *= static_cast<float>(player->globalVolume);
    product *= volumeScale();
    if (rules.fineVoiceLevels) product *= fineLevelUnits;
    const int32_t v = static_cast<int32_t>(product);
    voice->fineLevels = rules.fineVoiceLevels ? 1 : 0;
    voice->voiceVolume = v;
    voice->volumeCopy = v;
    setTargets(voice, rules);
}

void updatePanning(const Channel* channel, Voice* voice, const Player* player) {
    const ReplayProfile& rules = profileOf(player);
    const int32_t p = channel->panning;
    const int32_t e = channel->panningEnvelopeOutput;
    const int32_t room = 128 - std::abs(p - 128);
    int32_t finalPanning;
    if (rules.panningEnvelopeScaleExact) {
        // FT2 scales the envelope's 8.8 offset from the centre by the room left, and adds the
        // result to the panning in 8 bits, wrapping: envelope 64 at panning 128 gives 0.
        const auto offset8_8 = static_cast<int16_t>(channel->panningEnvelopeFine - (32 << 8));
        const auto offset = static_cast<uint8_t>((offset8_8 * (room << 3)) >> 16);
        finalPanning = static_cast<uint8_t>(p + offset);
    } else {
        finalPanning = p + (e - 32) * (room / 32);
    }
    if (finalPanning < 0) finalPanning = 0;
    if (finalPanning > 255) finalPanning = 255;
    voice->voicePanning = finalPanning;
    voice->panningCopy = finalPanning;
    setTargets(voice, rules);
}

constexpr int32_t minimumFrequencyHz = 100;
constexpr int32_t amigaClock = 14317056;

// FT2's voice step: the period becomes a 16.16 step at the output rate with no whole hertz in
// between, no lowest rate, and 0 Hz for period 0. The linear table goes through a table of
// 2^(i/768) in 8.24 bits, one octave of periods, and shifts for the octave; the Amiga table
// divides C-4's 8363 Hz times its period 1712 by the period. Both factors are rounded for the
// rate in use, so the pitch is FT2's to the last bit of its step at that rate.
constexpr int32_t periodsPerOctave = 768;
constexpr uint32_t periodOfTopOctave = 9216; // 12 octaves of 768
struct OctaveSteps {
    uint32_t of[periodsPerOctave]; // 2^(i/768) in 8.24
};
OctaveSteps makeOctaveSteps() {
    OctaveSteps t{};
    for (int32_t i = 0; i < periodsPerOctave; ++i)
        t.of[i] = static_cast<uint32_t>(
            std::llround(16777216.0 * std::exp2(static_cast<double>(i) / periodsPerOctave)));
    return t;
}
const OctaveSteps octaveSteps = makeOctaveSteps();

// The step in 16.16 frames per output frame; periods are 16-bit in FT2, so they wrap.
uint32_t ft2Delta(int32_t period, bool linear, int32_t rateHz) {
    const uint32_t p = static_cast<uint32_t>(period) & 0xFFFF;
    if (p == 0) return 0;
    if (!linear) {
        const auto amigaFactor =
            static_cast<uint32_t>(std::llround(65536.0 * 1712.0 / rateHz * 8363.0));
        return amigaFactor / p;
    }
    const auto linearFactor =
        static_cast<uint32_t>(std::llround(256.0 * 65536.0 / rateHz * 8363.0));
    const uint32_t fromTop = (periodOfTopOctave - p) & 0xFFFF;
    const uint32_t octave = fromTop / periodsPerOctave;
    const uint32_t shift = (14u - octave) & 31u;
    const uint64_t scaled =
        static_cast<uint64_t>(octaveSteps.of[fromTop % periodsPerOctave]) * linearFactor;
    return static_cast<uint32_t>(scaled >> 24) >> shift;
}

void setFt2Step(const Channel* channel, Voice* voice, const Player* player) {
    const bool linear = (player->flags & xm::flagLinearFrequencies) != 0;
    // periodDelta raises the pitch on the linear table and lowers it on the Amiga table.
    const int32_t period =
        linear ? channel->period - channel->periodDelta : channel->period + channel->periodDelta;
    const uint32_t delta = ft2Delta(period, linear, player->outputRate);
    const double hz = static_cast<double>(delta) * player->outputRate / 65536.0;
    // Whole hertz only for those who read the rate.
    voice->frequency = hz < maxFrequencyHz ? static_cast<int32_t>(std::lround(hz)) : 2147483647;
    voice->stepWhole = static_cast<int32_t>(delta >> 16);
    voice->stepFraction = delta << 16;
}

void updateFrequency(const Channel* channel, Voice* voice, const Player* player) {
    if (profileOf(player).ft2VoiceStep) {
        setFt2Step(channel, voice, player);
        return;
    }
    int32_t hz;
    if (linearTable(player)) {
        hz = linearFrequency(channel->period, channel->periodDelta);
    } else {
        // The zero-period guard has already run, so the divisor is never 0.
        hz = amigaClock / (channel->period + channel->periodDelta);
    }
    voice->frequency = hz;
    if (hz < minimumFrequencyHz) hz = minimumFrequencyHz;
    const uint32_t f = static_cast<uint32_t>(hz);
    const uint32_t rate = static_cast<uint32_t>(player->outputRate);
    voice->stepWhole = static_cast<int32_t>(f / rate);
    voice->stepFraction = static_cast<uint32_t>((static_cast<uint64_t>(f % rate) << 32) / rate);
}

} // namespace

void updateVoice(Channel* channel, Sample* sample, Player* player) {
    if (channel->period + channel->periodDelta == 0 && !profileOf(player).ft2VoiceStep)
        channel->updateFlags &= ~UPDATE_FREQUENCY;
    const uint8_t flags = channel->updateFlags;
    const ReplayProfile& rules = profileOf(player);
    if (flags & UPDATE_TRIGGER)
        startNote(player, channel, sample, rules.sampleOffsetWithNoteOnly, rules.ft2VolumeRamps);
    if (rules.ft2VolumeRamps && (flags & (UPDATE_VOLUME | UPDATE_PANNING)) != 0) {
        // A slide or an envelope moves across the whole tick, a quick change in rate / 200.
        const bool quick = (flags & (UPDATE_TRIGGER | UPDATE_QUICK_RAMP)) != 0;
        const int32_t bpm = player->bpm > 0 ? player->bpm : 1;
        const int32_t tickFrames = (player->outputRate * 5 / 2) / bpm;
        channel->voice->rampFrames =
            quick ? quickRampFrames(player->outputRate) : (tickFrames > 0 ? tickFrames : 1);
    }
    if (flags & UPDATE_VOLUME) updateVolume(channel, channel->voice, player);
    if (flags & UPDATE_PANNING) updatePanning(channel, channel->voice, player);
    if (flags & UPDATE_FREQUENCY) updateFrequency(channel, channel->voice, player);
    if (flags & UPDATE_RESTART) {
        Voice* voice = channel->voice;
        voice->positionWhole = 0;
        voice->positionFraction = 0;
        voice->startOffset = 0;
        // A restart during the backward run of a ping-pong loop would leave the position behind
        // the loop start with no boundary ahead, so it plays forward again, as a note start does.
        voice->direction = DIRECTION_FORWARD;
    }
}

} // namespace music
