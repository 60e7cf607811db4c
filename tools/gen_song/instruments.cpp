// The song's instruments, each synthesised from formulas and fixed seeds.
#include "instruments.h"

#include "song_shape.h"
#include "synthesis.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace gensong {
namespace {

using xmwrite::ENVELOPE_LOOP;
using xmwrite::ENVELOPE_ON;
using xmwrite::ENVELOPE_SUSTAIN;

// Relative note and finetune so that note n plays the pitch 440 * 2^((n - 58) / 12) when the
// sample holds a tone of toneHz stored at storageRateHz. For drums, toneHz of C-4 makes C-4 play
// the sample at its own rate.
void tune(Instrument& instrument, double toneHz, double storageRateHz) {
    const double units = 768.0 * std::log2(440.0 * storageRateHz / (8363.0 * toneHz));
    int32_t semitones = static_cast<int32_t>(std::lround(units / 64.0));
    int32_t fine = static_cast<int32_t>(std::lround(units - 64.0 * semitones));
    if (fine > 31) {
        fine -= 64;
        ++semitones;
    }
    instrument.sample.relativeNote = static_cast<int8_t>(semitones - 9);
    instrument.sample.finetune = static_cast<int8_t>(2 * fine); // the player halves it again
}

constexpr double middleCHz = 261.6255653005986;

uint16_t fadeoutForTicks(int32_t ticks) {
    return static_cast<uint16_t>(32768 / ticks);
}

// Metallic noise: detuned square partials and high-passed noise.
float metal(double t, Noise& noise, float noiseMix) {
    static constexpr std::array<double, 6> partialsHz = {349.0, 517.5, 628.3, 888.6, 918.0, 1360.0};
    double sum = 0.0;
    for (double f : partialsHz) sum += std::sin(twoPi * f * t) >= 0.0 ? 1.0 : -1.0;
    return static_cast<float>(sum / 6.0) * (1.0f - noiseMix) + nextNoise(noise) * noiseMix;
}

struct HighPass {
    float y = 0.0f;
    float x = 0.0f;
};

float highPass(HighPass& hp, float input, float coefficient) {
    hp.y = coefficient * (hp.y + input - hp.x);
    hp.x = input;
    return hp.y;
}

} // namespace

Instrument makeKick() {
    Instrument k;
    k.name = "kick";
    const double rate = outputRateHz;
    const int32_t n = framesFor(0.42, rate);
    Noise noise{0x1234567u};
    double phase = 0.0;
    float hp = 0.0f, prev = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        const double f = 47.0 + 115.0 * std::exp(-t / 0.032) + 380.0 * std::exp(-t / 0.003);
        phase += f / rate;
        const double amp = (1.0 - std::exp(-t / 0.0007)) * std::exp(-t / 0.26);
        const float click = nextNoise(noise);
        hp = 0.9f * (hp + click - prev);
        prev = click;
        const float x = static_cast<float>(std::sin(twoPi * phase) * amp) +
                        0.25f * hp * static_cast<float>(std::exp(-t / 0.0025));
        k.wave.push_back(softClip(x, 1.8f));
    }
    fadeTail(k.wave, framesFor(0.03, rate));
    k.peak = 0.96f;
    k.sample.volume = 64;
    tune(k, middleCHz, rate);
    return k;
}

Instrument makeSnare() {
    Instrument s;
    s.name = "snare";
    const double rate = outputRateHz;
    const int32_t n = framesFor(0.3, rate);
    Noise noise{0xBEEF01u};
    StateVariableFilter filter;
    double p1 = 0.0, p2 = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        p1 += (178.0 + 40.0 * std::exp(-t / 0.01)) / rate;
        p2 += 331.0 / rate;
        const double body = 0.55 * std::sin(twoPi * p1) * std::exp(-t / 0.05) +
                            0.3 * std::sin(twoPi * p2) * std::exp(-t / 0.03);
        const auto bands = filterStep(filter, nextNoise(noise), 4200.0, rate, 0.9f);
        const double snap = (0.6 * bands[1] + 0.5 * bands[2]) * std::exp(-t / 0.1);
        s.wave.push_back(softClip(static_cast<float>(body + snap), 1.4f));
    }
    fadeTail(s.wave, framesFor(0.02, rate));
    s.peak = 0.92f;
    s.sample.volume = 40;
    tune(s, middleCHz, rate);
    return s;
}

Instrument makeClap() {
    Instrument c;
    c.name = "clap";
    const double rate = outputRateHz;
    const int32_t n = framesFor(0.32, rate);
    Noise noise{0xC1A9u};
    StateVariableFilter filter;
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        double env = 0.0;
        for (double start : {0.0, 0.011, 0.023})
            if (t >= start) env += std::exp(-(t - start) / 0.006);
        if (t >= 0.03) env += 0.7 * std::exp(-(t - 0.03) / 0.085);
        const auto bands = filterStep(filter, nextNoise(noise), 1150.0, rate, 0.55f);
        c.wave.push_back(static_cast<float>(bands[1] * env));
    }
    fadeTail(c.wave, framesFor(0.02, rate));
    c.peak = 0.9f;
    c.sample.volume = 40;
    tune(c, middleCHz, rate);
    return c;
}

Instrument makeClosedHat() {
    Instrument h;
    h.name = "closed hat";
    h.sixteenBit = false;
    const double rate = outputRateHz;
    const int32_t n = framesFor(0.07, rate);
    Noise noise{0x4A7u};
    HighPass a, b;
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        const float x = highPass(b, highPass(a, metal(t, noise, 0.55f), 0.45f), 0.5f);
        h.wave.push_back(x * static_cast<float>(std::exp(-t / 0.016)));
    }
    fadeTail(h.wave, framesFor(0.01, rate));
    h.sample.volume = 30;
    h.sample.panning = 104;
    tune(h, middleCHz, rate);
    return h;
}

Instrument makeOpenHat() {
    Instrument h;
    h.name = "open hat";
    h.sixteenBit = false;
    const double rate = outputRateHz;
    const int32_t n = framesFor(0.3, rate);
    Noise noise{0x0FE11u};
    HighPass a, b;
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        const float x = highPass(b, highPass(a, metal(t, noise, 0.5f), 0.5f), 0.55f);
        const double env = t < 0.05 ? 1.0 - 5.0 * t : 0.75; // steady from the loop on
        h.wave.push_back(x * static_cast<float>(env));
    }
    h.loop = Loop::forward;
    h.loopStart = static_cast<uint32_t>(framesFor(0.1, rate));
    h.loopLength = static_cast<uint32_t>(n) - h.loopStart;
    h.sample.volume = 28;
    h.sample.panning = 150;
    xmwrite::setPoints(h.header.volume, {{0, 64}, {3, 42}, {9, 20}, {18, 6}, {26, 0}});
    h.header.volume.type = ENVELOPE_ON;
    tune(h, middleCHz, rate);
    return h;
}

Instrument makeCrash() {
    Instrument c;
    c.name = "crash";
    c.sixteenBit = false;
    const double rate = outputRateHz;
    const int32_t n = framesFor(1.3, rate);
    Noise noise{0xC7A54u};
    HighPass a, b;
    StateVariableFilter shimmer;
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        const float raw = metal(t * 1.9, noise, 0.7f);
        const auto bands = filterStep(shimmer, raw, 6500.0, rate, 1.2f);
        const float x = highPass(b, highPass(a, raw, 0.7f), 0.8f) * 0.7f + bands[1] * 0.5f;
        const double env = (1.0 - std::exp(-t / 0.002)) * std::exp(-t / 0.42);
        c.wave.push_back(x * static_cast<float>(env));
    }
    fadeTail(c.wave, framesFor(0.08, rate));
    c.sample.volume = 34;
    c.sample.panning = 160;
    tune(c, middleCHz, rate);
    return c;
}

Instrument makeBass() {
    Instrument b;
    b.name = "bass";
    const double rate = outputRateHz;
    constexpr int32_t cycleFrames = 800; // 55.125 Hz: a whole number of frames per cycle
    constexpr int32_t attackCycles = 12;
    constexpr int32_t loopCycles = 4;
    const int32_t n = cycleFrames * (attackCycles + loopCycles);
    const double toneHz = rate / cycleFrames;
    constexpr int32_t harmonics = 40;
    for (int32_t i = 0; i < n; ++i) {
        const double t = std::min(i, cycleFrames * attackCycles) / rate; // frozen in the loop
        const double bright = 2.2 + 9.0 * std::exp(-t / 0.045);
        double sum = 0.0;
        for (int32_t h = 1; h <= harmonics; ++h) {
            const double w = (1.0 / h) / (1.0 + std::pow(h / bright, 3.0));
            sum += w * std::sin(twoPi * loopPhase(h, i, cycleFrames));
        }
        sum += 0.5 * std::sin(twoPi * loopPhase(1, i, cycleFrames));
        b.wave.push_back(softClip(static_cast<float>(sum * 0.8), 1.3f));
    }
    b.loop = Loop::forward;
    b.loopStart = static_cast<uint32_t>(cycleFrames * attackCycles);
    b.loopLength = static_cast<uint32_t>(cycleFrames * loopCycles);
    b.sample.volume = 48;
    xmwrite::setPoints(b.header.volume, {{0, 64}, {4, 56}, {12, 46}, {22, 0}});
    b.header.volume.sustain = 2;
    b.header.volume.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    b.header.fadeout = fadeoutForTicks(10);
    tune(b, toneHz, rate);
    return b;
}

Instrument makeAcid() {
    Instrument a;
    a.name = "acid bass";
    a.sixteenBit = false;
    const double rate = outputRateHz;
    constexpr int32_t cycleFrames = 400; // 110.25 Hz
    const auto table = makeTable(40, [](int32_t h) {
        return (1.0 / h) * (1.0 + 2.5 * std::exp(-std::pow((h - 7.0) / 2.2, 2.0)));
    });
    for (int32_t i = 0; i < cycleFrames * 2; ++i)
        a.wave.push_back(readTable(table, loopPhase(1, i, cycleFrames)));
    a.loop = Loop::forward;
    a.loopStart = 0;
    a.loopLength = static_cast<uint32_t>(a.wave.size());
    a.sample.volume = 34;
    xmwrite::setPoints(a.header.volume, {{0, 64}, {3, 40}, {8, 26}, {14, 0}});
    a.header.volume.sustain = 2;
    a.header.volume.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    a.header.fadeout = fadeoutForTicks(5);
    tune(a, rate / cycleFrames, rate);
    return a;
}

Instrument makeLead() {
    Instrument l;
    l.name = "lead";
    const double rate = outputRateHz;
    constexpr int32_t frames = 11025;                          // 0.25 s: 4 Hz per whole cycle count
    constexpr std::array<int32_t, 3> cycles = {131, 130, 132}; // 524 Hz and a slow chorus
    const auto saw = sawTable(20, 1.0);
    const auto square = makeTable(21, [](int32_t h) { return h % 2 ? 1.0 / h : 0.0; });
    for (int32_t i = 0; i < frames; ++i) {
        double sum = 0.5 * readTable(square, loopPhase(cycles[0], i, frames));
        for (int32_t c : cycles) sum += 0.45 * readTable(saw, loopPhase(c, i, frames));
        l.wave.push_back(static_cast<float>(sum));
    }
    l.loop = Loop::forward;
    l.loopStart = 0;
    l.loopLength = frames;
    l.sample.volume = 34;
    l.sample.panning = 120;
    xmwrite::setPoints(l.header.volume, {{0, 0}, {2, 64}, {9, 50}, {40, 0}});
    l.header.volume.sustain = 2;
    l.header.volume.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    l.header.fadeout = fadeoutForTicks(14);
    l.header.vibratoType = 0;
    l.header.vibratoSweep = 24;
    l.header.vibratoDepth = 5;
    l.header.vibratoRate = 22;
    tune(l, cycles[0] * rate / frames, rate);
    return l;
}

// A warm chorus of detuned saws with a sine an octave down; played one note at a time.
Instrument makePad(int32_t frames) {
    Instrument p;
    p.name = "pad";
    const double rate = outputRateHz;
    const auto saw = sawTable(18, 1.35);
    constexpr std::array<double, 5> centsDetune = {0.0, -7.0, 7.0, -14.0, 13.0};
    for (int32_t i = 0; i < frames; ++i) {
        const double t = i / rate;
        double sum = 0.35 * std::sin(twoPi * middleCHz * 0.5 * t);
        for (size_t v = 0; v < centsDetune.size(); ++v) {
            const double f = middleCHz * std::pow(2.0, centsDetune[v] / 1200.0);
            const double wobble = 1.0 + 0.15 * std::sin(twoPi * (0.3 + 0.11 * v) * t + v);
            sum += 0.3 * wobble * readTable(saw, f * t + 0.19 * v);
        }
        p.wave.push_back(static_cast<float>(sum));
    }
    p.loop = Loop::pingPong;
    p.loopStart = static_cast<uint32_t>(framesFor(0.25, rate));
    p.loopLength = static_cast<uint32_t>(frames) - p.loopStart;
    p.sample.volume = 30;
    xmwrite::setPoints(p.header.volume, {{0, 0}, {18, 64}, {36, 54}, {80, 0}});
    p.header.volume.sustain = 2;
    p.header.volume.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    xmwrite::setPoints(p.header.panning, {{0, 32}, {40, 46}, {80, 18}, {120, 32}});
    p.header.panning.loopStart = 0;
    p.header.panning.loopEnd = 3;
    p.header.panning.type = ENVELOPE_ON | ENVELOPE_LOOP;
    p.header.fadeout = fadeoutForTicks(90);
    tune(p, middleCHz, rate);
    return p;
}

// A sustained triad on C (with C an octave below); other chords are the same sample transposed.
Instrument makeChord(bool minor) {
    Instrument c;
    c.name = minor ? "chord minor" : "chord major";
    const double rate = outputRateHz;
    const int32_t frames = framesFor(1.2, rate);
    const auto saw = sawTable(14, 1.5);
    const std::array<double, 4> ratios = {1.0, std::pow(2.0, (minor ? 3 : 4) / 12.0),
                                          std::pow(2.0, 7 / 12.0), 0.5};
    const std::array<double, 4> levels = {0.9, 0.75, 0.75, 0.6};
    for (int32_t i = 0; i < frames; ++i) {
        const double t = i / rate;
        double sum = 0.0;
        for (size_t k = 0; k < ratios.size(); ++k) {
            const double f = middleCHz * ratios[k];
            sum += levels[k] * (readTable(saw, f * 1.004 * t + 0.3 * k) +
                                readTable(saw, f * 0.996 * t + 0.7 * k));
        }
        c.wave.push_back(static_cast<float>(sum));
    }
    c.loop = Loop::pingPong;
    c.loopStart = static_cast<uint32_t>(framesFor(0.15, rate));
    c.loopLength = static_cast<uint32_t>(frames) - c.loopStart;
    c.sample.volume = 30;
    c.sample.panning = 140;
    xmwrite::setPoints(c.header.volume, {{0, 0}, {2, 64}, {10, 50}, {30, 0}});
    c.header.volume.sustain = 2;
    c.header.volume.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    c.header.fadeout = fadeoutForTicks(20);
    tune(c, middleCHz, rate);
    return c;
}

Instrument makeArp() {
    Instrument a;
    a.name = "arp pluck";
    a.sixteenBit = false;
    const double rate = outputRateHz;
    constexpr int32_t cycleFrames = 168; // 262.5 Hz
    const auto pulse =
        makeTable(36, [](int32_t h) { return std::sin(h * 3.141592653589793 / 4) / h; });
    for (int32_t i = 0; i < cycleFrames * 4; ++i)
        a.wave.push_back(readTable(pulse, loopPhase(1, i, cycleFrames)));
    a.loop = Loop::forward;
    a.loopLength = static_cast<uint32_t>(a.wave.size());
    a.sample.volume = 26;
    a.sample.panning = 90;
    xmwrite::setPoints(a.header.volume, {{0, 64}, {3, 34}, {9, 14}, {22, 0}});
    a.header.volume.type = ENVELOPE_ON;
    tune(a, rate / cycleFrames, rate);
    return a;
}

Instrument makeBell() {
    Instrument b;
    b.name = "bell";
    const double rate = 22050.0;
    const int32_t n = framesFor(1.2, rate);
    const double f = 2.0 * middleCHz; // C-5
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        const double index = 0.4 + 2.2 * std::exp(-t / 0.18);
        const double modulator = std::sin(twoPi * 3.5 * f * t);
        const double x = std::sin(twoPi * f * t + index * modulator) * std::exp(-t / 0.45) +
                         0.25 * std::sin(twoPi * 2.76 * f * t) * std::exp(-t / 0.12);
        const double attack = 1.0 - std::exp(-t / 0.001);
        b.wave.push_back(static_cast<float>(x * attack));
    }
    fadeTail(b.wave, framesFor(0.05, rate));
    b.sample.volume = 34;
    b.sample.panning = 170;
    tune(b, f, rate);
    return b;
}

// Sung "ah": harmonics shaped by three formants.
Instrument makeChoir() {
    Instrument c;
    c.name = "choir";
    c.sixteenBit = false;
    const double rate = outputRateHz;
    const int32_t n = framesFor(1.0, rate);
    auto formant = [](double hz) {
        return std::exp(-std::pow((hz - 720.0) / 140.0, 2.0)) +
               0.55 * std::exp(-std::pow((hz - 1220.0) / 160.0, 2.0)) +
               0.22 * std::exp(-std::pow((hz - 2650.0) / 220.0, 2.0)) + 0.12;
    };
    const auto voice = makeTable(40, [&](int32_t h) { return formant(middleCHz * h) / h; });
    constexpr std::array<double, 3> cents = {0.0, -9.0, 8.0};
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        double sum = 0.0;
        for (size_t v = 0; v < cents.size(); ++v) {
            const double f = middleCHz * std::pow(2.0, cents[v] / 1200.0);
            const double vibrato = 0.0025 * std::sin(twoPi * (4.6 + 0.4 * v) * t) / (4.6 * twoPi);
            sum += readTable(voice, f * t + f * vibrato * twoPi + 0.33 * v);
        }
        c.wave.push_back(static_cast<float>(sum));
    }
    c.loop = Loop::pingPong;
    c.loopStart = static_cast<uint32_t>(framesFor(0.12, rate));
    c.loopLength = static_cast<uint32_t>(n) - c.loopStart;
    c.sample.volume = 30;
    xmwrite::setPoints(c.header.volume, {{0, 0}, {24, 64}, {40, 46}, {56, 64}});
    c.header.volume.loopStart = 1;
    c.header.volume.loopEnd = 3;
    c.header.volume.type = ENVELOPE_ON | ENVELOPE_LOOP;
    xmwrite::setPoints(c.header.panning, {{0, 18}, {30, 32}, {60, 46}});
    c.header.panning.sustain = 1;
    c.header.panning.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    c.header.fadeout = fadeoutForTicks(60);
    c.header.vibratoType = 0;
    c.header.vibratoSweep = 40;
    c.header.vibratoDepth = 3;
    c.header.vibratoRate = 14;
    tune(c, middleCHz, rate);
    return c;
}

Instrument makeRiser(int32_t frames) {
    Instrument r;
    r.name = "riser";
    r.sixteenBit = false;
    const double rate = 22050.0;
    const double seconds = frames / rate;
    Noise noise{0x515Eu};
    StateVariableFilter filter;
    for (int32_t i = 0; i < frames; ++i) {
        const double t = i / rate;
        const double u = t / seconds;
        const double cutoff = 220.0 * std::pow(30.0, u);
        const auto bands = filterStep(filter, nextNoise(noise), cutoff, rate, 0.35f);
        r.wave.push_back(static_cast<float>(bands[1] * (0.15 + 0.85 * std::pow(u, 1.6))));
    }
    fadeTail(r.wave, framesFor(0.03, rate));
    r.sample.volume = 40;
    tune(r, middleCHz, rate);
    return r;
}

Instrument makeZap() {
    Instrument z;
    z.name = "zap";
    z.sixteenBit = false;
    const double rate = outputRateHz;
    const int32_t n = framesFor(0.25, rate);
    double phase = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double t = i / rate;
        phase += (1700.0 * std::exp(-t / 0.035) + 70.0) / rate;
        z.wave.push_back(static_cast<float>(std::sin(twoPi * phase) * std::exp(-t / 0.1)));
    }
    fadeTail(z.wave, framesFor(0.02, rate));
    z.sample.volume = 24;
    z.sample.panning = 60;
    tune(z, middleCHz, rate);
    return z;
}

Instrument makeTom() {
    Instrument t;
    t.name = "tom";
    const double rate = outputRateHz;
    const int32_t n = framesFor(0.45, rate);
    Noise noise{0x70Bu};
    double phase = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double s = i / rate;
        phase += (120.0 + 70.0 * std::exp(-s / 0.05)) / rate;
        const double x = std::sin(twoPi * phase) * std::exp(-s / 0.17) +
                         0.2 * nextNoise(noise) * std::exp(-s / 0.004);
        t.wave.push_back(softClip(static_cast<float>(x), 1.3f));
    }
    fadeTail(t.wave, framesFor(0.03, rate));
    t.sample.volume = 44;
    tune(t, middleCHz, rate);
    return t;
}

} // namespace gensong
