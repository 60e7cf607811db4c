// The sound-making toolkit: noise, wavetables, filter, clipping and fades.
#include "synthesis.h"

namespace gensong {

float nextNoise(Noise& noise) {
    noise.state ^= noise.state << 13;
    noise.state ^= noise.state >> 17;
    noise.state ^= noise.state << 5;
    return static_cast<float>(noise.state) / 2147483648.0f - 1.0f;
}

float readTable(const Wavetable& table, double phase) {
    phase -= std::floor(phase);
    const double x = phase * tableSize;
    const int32_t i = static_cast<int32_t>(x);
    const float t = static_cast<float>(x - i);
    return table.values[i] + t * (table.values[i + 1] - table.values[i]);
}

Wavetable sawTable(int32_t harmonics, double rolloff) {
    return makeTable(harmonics, [rolloff](int32_t h) { return 1.0 / std::pow(h, rolloff); });
}

double loopPhase(int64_t cycles, int64_t frame, int64_t frames) {
    return static_cast<double>((cycles * frame) % frames) / static_cast<double>(frames);
}

std::array<float, 3> filterStep(StateVariableFilter& filter, float input, double cutoffHz,
                                double rateHz, float damping) {
    const float f = static_cast<float>(
        2.0 * std::sin(3.141592653589793 * std::min(cutoffHz, rateHz / 6.0) / rateHz));
    filter.low += f * filter.band;
    const float high = input - filter.low - damping * filter.band;
    filter.band += f * high;
    return {filter.low, filter.band, high};
}

float softClip(float x, float drive) {
    return std::tanh(drive * x) / std::tanh(drive);
}

void fadeTail(std::vector<float>& wave, int32_t frames) {
    const int32_t n = static_cast<int32_t>(wave.size());
    for (int32_t i = 0; i < frames && i < n; ++i)
        wave[n - 1 - i] *= static_cast<float>(i) / static_cast<float>(frames);
}

int32_t framesFor(double seconds, double rateHz) {
    return static_cast<int32_t>(std::lround(seconds * rateHz));
}

} // namespace gensong
