// Voice mixer throughput in voice-frames per second, settled and ramping, beside a baseline loop.
#include "music/mixer.h"
#include "music/module.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t sampleFrames = 8192;
constexpr uint32_t loopStartFrame = 1024;
constexpr int32_t chunkFrames = 884; // one chunk of the audio output
constexpr int32_t rampFrames = 128;  // one full ramp at 44100 Hz
constexpr int32_t maxVoices = music::mixedVoiceCount;

struct BenchSample {
    std::vector<int16_t> data;
    music::Sample sample{};
};

// One sample per voice, each a different tone, looping forward over most of its length.
std::vector<BenchSample>& benchSamples() {
    static std::vector<BenchSample> samples = [] {
        std::vector<BenchSample> made(maxVoices);
        for (int32_t v = 0; v < maxVoices; ++v) {
            BenchSample& s = made[v];
            s.data.assign(sampleFrames + music::sampleGuardValues, 0);
            for (uint32_t i = 0; i < sampleFrames; ++i)
                s.data[i] = static_cast<int16_t>(20000.0 * std::sin(i * (0.01 + 0.003 * v)));
            s.data[sampleFrames] = s.data[loopStartFrame];
            s.sample.data = s.data.data();
            s.sample.length = sampleFrames;
            s.sample.loopStart = loopStartFrame;
            s.sample.loopLength = sampleFrames - loopStartFrame;
            s.sample.loopMode = music::LOOP_FORWARD;
            s.sample.bits = 16;
        }
        return made;
    }();
    return samples;
}

// Steps between about 0.4 and 1.2 frames of data per output frame, none of them round.
uint64_t stepOfVoice(int32_t v) {
    return (uint64_t{2} << 31) * 2 / 5 + static_cast<uint64_t>(v) * 54321987u;
}

// One player's mixer; on the heap, being too large for a comfortable stack.
music::Mixer& benchMixer() {
    static std::unique_ptr<music::Mixer> mixer(new music::Mixer{});
    return *mixer;
}

void setUpVoices(int32_t count) {
    music::Mixer& mixer = benchMixer();
    std::memset(static_cast<void*>(mixer.voices), 0, sizeof mixer.voices);
    music::setRampConstants(mixer, 44100);
    std::vector<BenchSample>& samples = benchSamples();
    for (int32_t v = 0; v < music::voiceTableSize; ++v) {
        music::Voice& voice = mixer.voices[v];
        voice.index = v;
        voice.stepWhole = 1;
        if (v >= count) continue;
        const uint64_t step = stepOfVoice(v);
        voice.sample = &samples[v].sample;
        voice.direction = music::DIRECTION_FORWARD;
        voice.positionWhole = static_cast<int32_t>(loopStartFrame + 37 * v);
        voice.stepWhole = static_cast<int32_t>(step >> 32);
        voice.stepFraction = static_cast<uint32_t>(step);
        voice.leftTarget = voice.rampLeftTarget = 40 + v;
        voice.rightTarget = voice.rampRightTarget = 100 - v;
        voice.leftLevel = voice.leftTarget * 256;
        voice.rightLevel = voice.rightTarget * 256;
    }
}

void mixerSettled(benchmark::State& state) {
    const int32_t voices = static_cast<int32_t>(state.range(0));
    setUpVoices(voices);
    std::vector<float> buffer(2 * chunkFrames, 0.0f);
    for (auto _ : state) {
        music::mixVoices(benchMixer(), buffer.data(), chunkFrames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * voices * chunkFrames);
}

void mixerRamping(benchmark::State& state) {
    const int32_t voices = static_cast<int32_t>(state.range(0));
    setUpVoices(voices);
    std::vector<float> buffer(2 * rampFrames, 0.0f);
    bool flip = false;
    for (auto _ : state) {
        // New targets every call, so every frame of every voice ramps.
        flip = !flip;
        for (int32_t v = 0; v < voices; ++v) {
            benchMixer().voices[v].leftTarget = flip ? 80 : 40;
            benchMixer().voices[v].rightTarget = flip ? 40 : 80;
        }
        music::mixVoices(benchMixer(), buffer.data(), rampFrames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * voices * rampFrames);
}

struct BaselineVoice {
    const int16_t* data;
    uint64_t position; // 32.32
    uint64_t step;
    float leftGain;
    float rightGain;
};

// The least an interpolating mixer does per frame: two neighbours read, one interpolation, two
// sums, one fixed-point advance. Loops are folded back between calls, outside the frame loop.
void baseline(benchmark::State& state) {
    const int32_t voices = static_cast<int32_t>(state.range(0));
    std::vector<BenchSample>& samples = benchSamples();
    std::vector<BaselineVoice> table(voices);
    for (int32_t v = 0; v < voices; ++v) {
        table[v] = {samples[v].data.data(), uint64_t{loopStartFrame + 37u * v} << 32,
                    stepOfVoice(v), (40 + v) / 255.0f, (100 - v) / 255.0f};
    }
    const uint64_t foldAt = uint64_t{sampleFrames - 2 * chunkFrames} << 32;
    const uint64_t foldUnits = uint64_t{sampleFrames / 2} << 32; // stays past the loop start
    std::vector<float> buffer(2 * chunkFrames, 0.0f);
    for (auto _ : state) {
        for (BaselineVoice& voice : table) {
            float* out = buffer.data();
            const int16_t* data = voice.data;
            uint64_t position = voice.position;
            const uint64_t step = voice.step;
            const float left = voice.leftGain;
            const float right = voice.rightGain;
            for (int32_t k = 0; k < chunkFrames; ++k) {
                const int16_t* a = data + (position >> 32);
                const float t =
                    static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(position) >> 1)) *
                    0x1p-31f;
                const float value = a[0] + t * static_cast<float>(a[1] - a[0]);
                out[0] += value * left;
                out[1] += value * right;
                out += 2;
                position += step;
            }
            if (position >= foldAt) position -= foldUnits;
            voice.position = position;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * voices * chunkFrames);
}

} // namespace

BENCHMARK(baseline)->Arg(1)->Arg(8)->Arg(32)->Arg(64);
BENCHMARK(mixerSettled)->Arg(1)->Arg(8)->Arg(32)->Arg(64);
BENCHMARK(mixerRamping)->Arg(1)->Arg(8)->Arg(32)->Arg(64);

BENCHMARK_MAIN();
