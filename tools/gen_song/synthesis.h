// The sound-making toolkit the instruments are built from: deterministic noise, band-limited
// wavetables, a state-variable filter, soft clipping and fades.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace gensong {

constexpr double twoPi = 6.283185307179586;

// xorshift: the same noise on every machine, one stream per seed.
struct Noise {
    uint32_t state;
};

// Next value of the stream, in -1..1.
float nextNoise(Noise& noise);

// One cycle of a band-limited wave: harmonic h has amplitude weight(h).
struct Wavetable {
    std::vector<float> values; // tableSize + 1 (guard)
};

constexpr int32_t tableSize = 4096;

template <typename Weight> Wavetable makeTable(int32_t harmonics, Weight weight) {
    Wavetable table;
    table.values.assign(tableSize + 1, 0.0f);
    std::vector<double> sum(tableSize, 0.0);
    for (int32_t h = 1; h <= harmonics; ++h) {
        const double a = weight(h);
        if (a == 0.0) continue;
        for (int32_t i = 0; i < tableSize; ++i) sum[i] += a * std::sin(twoPi * h * i / tableSize);
    }
    double peak = 1e-9;
    for (double v : sum) peak = std::max(peak, std::fabs(v));
    for (int32_t i = 0; i < tableSize; ++i) table.values[i] = static_cast<float>(sum[i] / peak);
    table.values[tableSize] = table.values[0];
    return table;
}

// phase in cycles; any value.
float readTable(const Wavetable& table, double phase);

Wavetable sawTable(int32_t harmonics, double rolloff);

// Exact phase for a tone of `cycles` whole cycles in `frames` frames, so that loops are seamless.
double loopPhase(int64_t cycles, int64_t frame, int64_t frames);

struct StateVariableFilter {
    float low = 0.0f;
    float band = 0.0f;
};

// Chamberlin state-variable filter; returns {low, band, high}.
std::array<float, 3> filterStep(StateVariableFilter& filter, float input, double cutoffHz,
                                double rateHz, float damping);

float softClip(float x, float drive);

// Fades the last `frames` frames out linearly, so that a one-shot ends without a click.
void fadeTail(std::vector<float>& wave, int32_t frames);

int32_t framesFor(double seconds, double rateHz);

} // namespace gensong
