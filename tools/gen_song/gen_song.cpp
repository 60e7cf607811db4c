// Composes the demo's song, synthesises its instruments and writes it as an XM module.
//
// Everything is computed here from fixed seeds and formulas, so two runs write the same bytes.
// The tempo is steered row by row (Fxx with a BPM) so that the song's beats land on the picture
// timeline's beats as the player's own song time counts them; see steerTempo.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Fixed shape of the module.

constexpr int32_t moduleBytes = 914017;  // the size the demo hands to the loader
constexpr int32_t unreadTailBytes = 741; // never read: lies after the last instrument
constexpr int32_t channelCount = 6;
constexpr int32_t rowsPerPattern = 64;
constexpr int32_t storedPatternCount = 11;
constexpr int32_t instrumentCount = 18;
constexpr int32_t ticksPerRow = 7;
constexpr int32_t rowsPerBeat = 2;
constexpr int32_t rowsPerBar = 8;
constexpr std::array<uint8_t, 9> orderTable = {9, 4, 5, 8, 1, 1, 1, 2, 7};
constexpr uint32_t headerSizeBytes = 20 + orderTable.size(); // the order table is all we store
constexpr uint32_t instrumentHeaderBytes = 263;
constexpr uint32_t sampleHeaderBytes = 40;

// Player timing as it counts song time.
constexpr int32_t outputRateHz = 44100;
constexpr int32_t chunkFrames = 884;
constexpr double beatMs = 1000.0 / 3.0;
constexpr int32_t timedBeats = 160; // beats whose start is steered (orders 0..4)
constexpr int32_t lowestBpm = 80;
constexpr int32_t highestBpm = 125;
constexpr int32_t referenceBpm = 100; // for the patterns after the demo's end

constexpr double twoPi = 6.283185307179586;

// ---------------------------------------------------------------------------------------------
// Deterministic noise.

struct Noise {
    uint32_t state;
};

float nextNoise(Noise& noise) {
    noise.state ^= noise.state << 13;
    noise.state ^= noise.state >> 17;
    noise.state ^= noise.state << 5;
    return static_cast<float>(noise.state) / 2147483648.0f - 1.0f;
}

// ---------------------------------------------------------------------------------------------
// Instruments as written to the file.

struct EnvelopePoint {
    uint16_t x;
    uint16_t y;
};

struct Envelope {
    std::vector<EnvelopePoint> points;
    uint8_t sustain = 0;
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t type = 0; // bit 0 on, bit 1 sustain, bit 2 loop
};

constexpr uint8_t envelopeOn = 1;
constexpr uint8_t envelopeSustain = 2;
constexpr uint8_t envelopeLoop = 4;

enum class Loop { none, forward, pingPong };

struct Instrument {
    std::string name;
    std::vector<float> wave; // -1..1, normalised when written
    float peak = 0.9f;       // of full scale, after normalising
    bool sixteenBit = true;
    Loop loop = Loop::none;
    uint32_t loopStart = 0;  // frames
    uint32_t loopLength = 0; // frames
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    Envelope volumeEnvelope;
    Envelope panningEnvelope;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeout = 0; // as stored; the player doubles it
};

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
    instrument.relativeNote = static_cast<int8_t>(semitones - 9);
    instrument.finetune = static_cast<int8_t>(2 * fine); // the player halves it again
}

constexpr double middleCHz = 261.6255653005986;

uint16_t fadeoutForTicks(int32_t ticks) {
    return static_cast<uint16_t>(32768 / ticks);
}

// ---------------------------------------------------------------------------------------------
// Synthesis helpers.

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

// Exact phase for a tone of `cycles` whole cycles in `frames` frames, so that loops are seamless.
double loopPhase(int64_t cycles, int64_t frame, int64_t frames) {
    return static_cast<double>((cycles * frame) % frames) / static_cast<double>(frames);
}

struct StateVariableFilter {
    float low = 0.0f;
    float band = 0.0f;
};

// Chamberlin state-variable filter; returns {low, band, high}.
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

// ---------------------------------------------------------------------------------------------
// The instruments.

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
    k.volume = 64;
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
    s.volume = 40;
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
    c.volume = 40;
    tune(c, middleCHz, rate);
    return c;
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
    h.volume = 30;
    h.panning = 104;
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
    h.volume = 28;
    h.panning = 150;
    h.volumeEnvelope.points = {{0, 64}, {3, 42}, {9, 20}, {18, 6}, {26, 0}};
    h.volumeEnvelope.type = envelopeOn;
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
    c.volume = 34;
    c.panning = 160;
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
    b.volume = 48;
    b.volumeEnvelope.points = {{0, 64}, {4, 56}, {12, 46}, {22, 0}};
    b.volumeEnvelope.sustain = 2;
    b.volumeEnvelope.type = envelopeOn | envelopeSustain;
    b.fadeout = fadeoutForTicks(10);
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
    a.volume = 34;
    a.volumeEnvelope.points = {{0, 64}, {3, 40}, {8, 26}, {14, 0}};
    a.volumeEnvelope.sustain = 2;
    a.volumeEnvelope.type = envelopeOn | envelopeSustain;
    a.fadeout = fadeoutForTicks(5);
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
    l.volume = 34;
    l.panning = 120;
    l.volumeEnvelope.points = {{0, 0}, {2, 64}, {9, 50}, {40, 0}};
    l.volumeEnvelope.sustain = 2;
    l.volumeEnvelope.type = envelopeOn | envelopeSustain;
    l.fadeout = fadeoutForTicks(14);
    l.vibratoType = 0;
    l.vibratoSweep = 24;
    l.vibratoDepth = 5;
    l.vibratoRate = 22;
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
    p.volume = 30;
    p.volumeEnvelope.points = {{0, 0}, {18, 64}, {36, 54}, {80, 0}};
    p.volumeEnvelope.sustain = 2;
    p.volumeEnvelope.type = envelopeOn | envelopeSustain;
    p.panningEnvelope.points = {{0, 32}, {40, 46}, {80, 18}, {120, 32}};
    p.panningEnvelope.loopStart = 0;
    p.panningEnvelope.loopEnd = 3;
    p.panningEnvelope.type = envelopeOn | envelopeLoop;
    p.fadeout = fadeoutForTicks(90);
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
    c.volume = 30;
    c.panning = 140;
    c.volumeEnvelope.points = {{0, 0}, {2, 64}, {10, 50}, {30, 0}};
    c.volumeEnvelope.sustain = 2;
    c.volumeEnvelope.type = envelopeOn | envelopeSustain;
    c.fadeout = fadeoutForTicks(20);
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
    a.volume = 26;
    a.panning = 90;
    a.volumeEnvelope.points = {{0, 64}, {3, 34}, {9, 14}, {22, 0}};
    a.volumeEnvelope.type = envelopeOn;
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
    b.volume = 34;
    b.panning = 170;
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
    c.volume = 30;
    c.volumeEnvelope.points = {{0, 0}, {24, 64}, {40, 46}, {56, 64}};
    c.volumeEnvelope.loopStart = 1;
    c.volumeEnvelope.loopEnd = 3;
    c.volumeEnvelope.type = envelopeOn | envelopeLoop;
    c.panningEnvelope.points = {{0, 18}, {30, 32}, {60, 46}};
    c.panningEnvelope.sustain = 1;
    c.panningEnvelope.type = envelopeOn | envelopeSustain;
    c.fadeout = fadeoutForTicks(60);
    c.vibratoType = 0;
    c.vibratoSweep = 40;
    c.vibratoDepth = 3;
    c.vibratoRate = 14;
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
    r.volume = 40;
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
    z.volume = 24;
    z.panning = 60;
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
    t.volume = 44;
    tune(t, middleCHz, rate);
    return t;
}

// ---------------------------------------------------------------------------------------------
// Patterns.

enum InstrumentNumber : uint8_t {
    kick = 1,
    snare,
    clap,
    closedHat,
    openHat,
    crash,
    bass,
    acid,
    lead,
    pad,
    chordMinor,
    chordMajor,
    arp,
    bell,
    choir,
    riser,
    zap,
    tom,
};

constexpr uint8_t keyOff = 97;

struct Cell {
    uint8_t note = 0;
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t param = 0;
};

struct Pattern {
    std::array<Cell, rowsPerPattern * channelCount> cells{};
    Cell& at(int32_t row, int32_t channel) { return cells[row * channelCount + channel]; }
};

// Effect numbers as the format has them.
constexpr uint8_t fxArpeggio = 0x0;
constexpr uint8_t fxPortaUp = 0x1;
constexpr uint8_t fxPortaDown = 0x2;
constexpr uint8_t fxTonePorta = 0x3;
constexpr uint8_t fxVibrato = 0x4;
constexpr uint8_t fxVibratoSlide = 0x6;
constexpr uint8_t fxTremolo = 0x7;
constexpr uint8_t fxPanning = 0x8;
constexpr uint8_t fxSampleOffset = 0x9;
constexpr uint8_t fxVolumeSlide = 0xA;
constexpr uint8_t fxExtended = 0xE;
constexpr uint8_t fxSpeed = 0xF;
constexpr uint8_t fxKeyOff = 20;      // K
constexpr uint8_t fxMultiRetrig = 27; // R

constexpr uint8_t extRetrigger = 0x90;
constexpr uint8_t extNoteCut = 0xC0;
constexpr uint8_t extNoteDelay = 0xD0;
constexpr uint8_t extFinePortaUp = 0x10;

uint8_t setVolume(int32_t v) {
    return static_cast<uint8_t>(0x10 + v);
}

uint8_t slideVolumeUp(int32_t v) {
    return static_cast<uint8_t>(0x70 + v);
}

// "A-4", "C#5", "Bb3": note number of the format (C-0 = 1).
uint8_t noteNumber(const char* name) {
    static constexpr std::array<int32_t, 7> semitone = {9, 11, 0, 2, 4, 5, 7}; // A..G
    int32_t s = semitone[static_cast<size_t>(name[0] - 'A')];
    int32_t i = 1;
    if (name[i] == '#')
        ++s, ++i;
    else if (name[i] == 'b')
        --s, ++i;
    else if (name[i] == '-')
        ++i;
    const int32_t octave = name[i] - '0';
    return static_cast<uint8_t>(octave * 12 + s + 1);
}

void put(Pattern& p, int32_t row, int32_t channel, uint8_t note, uint8_t instrument,
         uint8_t volume = 0, uint8_t effect = 0, uint8_t param = 0) {
    Cell& c = p.at(row, channel);
    c.note = note;
    c.instrument = instrument;
    c.volume = volume;
    c.effect = effect;
    c.param = param;
}

void effect(Pattern& p, int32_t row, int32_t channel, uint8_t type, uint8_t param) {
    p.at(row, channel).effect = type;
    p.at(row, channel).param = param;
}

void volumeColumn(Pattern& p, int32_t row, int32_t channel, uint8_t v) {
    p.at(row, channel).volume = v;
}

// A line of one token per row: "." nothing, "^" key-off, "~" vibrato on a held note,
// "A4"/"C#5" a note with the instrument, ">E5" a tone-portamento slide to E5.
void melody(Pattern& p, int32_t channel, int32_t startRow, uint8_t instrument,
            const std::string& line, uint8_t vibrato = 0x53, uint8_t slideSpeed = 0x18) {
    int32_t row = startRow;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ') ++j;
        const std::string token = line.substr(i, j - i);
        i = j;
        if (token == ".") {
        } else if (token == "^") {
            put(p, row, channel, keyOff, 0);
        } else if (token == "~") {
            effect(p, row, channel, fxVibrato, vibrato);
        } else if (token[0] == '>') {
            std::string name = token.substr(1);
            if (name.size() == 2) name.insert(1, "-");
            put(p, row, channel, noteNumber(name.c_str()), 0, 0, fxTonePorta, slideSpeed);
        } else {
            std::string name = token;
            if (name.size() == 2) name.insert(1, "-");
            put(p, row, channel, noteNumber(name.c_str()), instrument);
        }
        ++row;
    }
}

struct Chord {
    const char* root; // note for the chord sample
    bool minor;
    const char* bassRoot;
};

const Chord chordAm{"A-3", true, "A-1"};
const Chord chordF{"F-3", false, "F-1"};
const Chord chordC{"C-4", false, "C-2"};
const Chord chordG{"G-3", false, "G-1"};
const Chord chordDm{"D-4", true, "D-2"};
const Chord chordE{"E-3", false, "E-2"};

uint8_t chordInstrument(const Chord& c) {
    return c.minor ? chordMinor : chordMajor;
}

// Channels.
constexpr int32_t chKick = 0;
constexpr int32_t chDrums = 1;
constexpr int32_t chBass = 2;
constexpr int32_t chLead = 3;
constexpr int32_t chColour = 4;
constexpr int32_t chChords = 5;

// Four on the floor from row `from` to row `to` (exclusive).
void kicks(Pattern& p, int32_t from, int32_t to) {
    for (int32_t r = from; r < to; r += rowsPerBeat) put(p, r, chKick, noteNumber("C-4"), kick);
}

// Off-beat hats, snare on beats 2 and 4, an open hat closing every second bar.
void groove(Pattern& p, int32_t fromBar, int32_t toBar, bool withSnare, uint8_t backbeat) {
    for (int32_t bar = fromBar; bar < toBar; ++bar) {
        const int32_t r0 = bar * rowsPerBar;
        for (int32_t k = 1; k < rowsPerBar; k += 2)
            put(p, r0 + k, chDrums, noteNumber("C-4"), closedHat, k == 3 ? setVolume(22) : 0);
        if (bar % 2 == 1) put(p, r0 + 7, chDrums, noteNumber("C-4"), openHat);
        if (withSnare) {
            put(p, r0 + 2, chDrums, noteNumber("C-4"), backbeat);
            put(p, r0 + 6, chDrums, noteNumber("C-4"), backbeat);
        }
        // a ghost hat a little after the downbeat
        put(p, r0 + 4, chDrums, noteNumber("C-4"), closedHat, setVolume(12), fxExtended,
            extNoteDelay | 4);
    }
}

// Bass that answers the kick: notes on the off-beats, released on the beats.
void offbeatBass(Pattern& p, int32_t bar, const Chord& chord, bool octaveJump) {
    const int32_t r0 = bar * rowsPerBar;
    const uint8_t root = noteNumber(chord.bassRoot);
    for (int32_t k = 0; k < rowsPerBar; k += 2) {
        put(p, r0 + k, chBass, keyOff, 0);
        const bool up = octaveJump && k == 4;
        put(p, r0 + k + 1, chBass, static_cast<uint8_t>(root + (up ? 12 : 0)), bass);
    }
}

// Rolling acid eighths with slides into the octave.
void acidBass(Pattern& p, int32_t bar, const Chord& chord) {
    const int32_t r0 = bar * rowsPerBar;
    const uint8_t root = static_cast<uint8_t>(noteNumber(chord.bassRoot) + 12);
    for (int32_t k = 0; k < rowsPerBar; ++k) {
        if (k == 3) {
            put(p, r0 + k, chBass, static_cast<uint8_t>(root + 12), 0, 0, fxTonePorta, 0x40);
        } else if (k == 6) {
            put(p, r0 + k, chBass, static_cast<uint8_t>(root + 7), acid, setVolume(40));
        } else {
            put(p, r0 + k, chBass, root, acid, k % 2 ? setVolume(26) : 0);
        }
    }
}

// A held chord that ducks under each kick and swells back on the off-beat.
void pumpingChord(Pattern& p, int32_t bar, const Chord& chord) {
    const int32_t r0 = bar * rowsPerBar;
    put(p, r0, chChords, noteNumber(chord.root), chordInstrument(chord), setVolume(14));
    for (int32_t k = 1; k < rowsPerBar; ++k)
        volumeColumn(p, r0 + k, chChords, k % 2 ? slideVolumeUp(3) : setVolume(14));
}

void heldChord(Pattern& p, int32_t bar, const Chord& chord, int32_t volume) {
    put(p, bar * rowsPerBar, chChords, noteNumber(chord.root), chordInstrument(chord),
        setVolume(volume));
}

// The chord broken into the fast arpeggio of the effect, one pluck per eighth.
void arpeggioBar(Pattern& p, int32_t bar, const Chord& chord, int32_t volume) {
    const int32_t r0 = bar * rowsPerBar;
    const uint8_t root = static_cast<uint8_t>(noteNumber(chord.root) + 12);
    const uint8_t shape = chord.minor ? 0x37 : 0x47;
    for (int32_t k = 0; k < rowsPerBar; ++k) {
        const uint8_t n = static_cast<uint8_t>(k % 4 == 3 ? root + 12 : root);
        put(p, r0 + k, chColour, n, arp, setVolume(volume - (k % 2 ? 8 : 0)), fxArpeggio, shape);
    }
}

// Bell figure over a chord: top, middle, low, middle, top.
void bellFigure(Pattern& p, int32_t bar, std::array<const char*, 3> tones, int32_t volume) {
    const int32_t r0 = bar * rowsPerBar;
    put(p, r0 + 0, chLead, noteNumber(tones[0]), bell, setVolume(volume));
    put(p, r0 + 2, chLead, noteNumber(tones[1]), bell, setVolume(volume - 8));
    put(p, r0 + 3, chLead, noteNumber(tones[2]), bell, setVolume(volume - 12), fxExtended,
        extNoteDelay | 3);
    put(p, r0 + 5, chLead, noteNumber(tones[1]), bell, setVolume(volume - 14));
    put(p, r0 + 6, chLead, noteNumber(tones[0]), bell, setVolume(volume - 18));
}

const std::array<Chord, 4> progressionA = {chordAm, chordF, chordC, chordG};
const std::array<Chord, 8> progressionB = {chordDm, chordF, chordC, chordG,
                                           chordAm, chordF, chordG, chordE};

const std::array<const char*, 8> leadA = {
    "A4 . C5 . E5 . D5 C5", "C5 ~ . . A4 . . .",   "G4 . C5 . E5 . G5 .", "F5 . E5 . D5 ~ . .",
    "A4 . C5 . E5 . A5 .",  "G5 . F5 . E5 . C5 .", "E5 ~ . D5 C5 . D5 .", "B4 ~ . . D5 . ^ .",
};
const std::array<const char*, 8> leadB = {
    "F5 ~ . . E5 . D5 .", "C5 ~ . . A4 . C5 .",  "E5 ~ . . G5 . >E5 .", "D5 ~ . . . . B4 .",
    "C5 . . . E5 . A5 .", "A5 . G5 . F5 . E5 .", "D5 ~ . . B4 . D5 .",  "G#5 ~ . . . . E5 .",
};
const std::array<const char*, 6> leadClimax = {
    "A5 ~ . . E5 . A5 .", "C5 . F5 . A5 ~ . .",   "G5 . E5 . C5 . E5 .",
    "D5 . G5 . B4 ~ . .", "A4 . C5 . E5 . >A5 .", "G5 . F5 . E5 . C5 .",
};

// ---- order 0, pattern 9: intro (beats 0..15) and the drop (beats 16..31).
Pattern composeOpening() {
    Pattern p;
    for (int32_t bar = 0; bar < 4; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar)];
        heldChord(p, bar, c, bar == 0 ? 4 : 28);
        if (bar == 0)
            for (int32_t k = 1; k < rowsPerBar; ++k)
                volumeColumn(p, k, chChords, slideVolumeUp(k < 4 ? 1 : 0));
    }
    // pad top line gliding between chord tones
    put(p, 0, chColour, noteNumber("E-4"), pad, setVolume(26));
    put(p, 8, chColour, noteNumber("F-4"), 0, 0, fxTonePorta, 0x06);
    put(p, 16, chColour, noteNumber("E-4"), 0, 0, fxTonePorta, 0x06);
    put(p, 24, chColour, noteNumber("D-4"), 0, 0, fxTonePorta, 0x06);
    put(p, 31, chColour, keyOff, 0);
    bellFigure(p, 1, {"A-5", "F-5", "C-5"}, 34);
    bellFigure(p, 2, {"G-5", "E-5", "C-5"}, 38);
    bellFigure(p, 3, {"B-5", "G-5", "D-5"}, 42);
    // the bass arrives with long roots
    put(p, 16, chBass, noteNumber("C-2"), bass, setVolume(26));
    put(p, 24, chBass, noteNumber("G-1"), bass, setVolume(30));
    put(p, 30, chBass, keyOff, 0);
    // plucked arpeggio comes in for the second half of the intro
    for (int32_t bar = 2; bar < 4; ++bar)
        arpeggioBar(p, bar, progressionA[static_cast<size_t>(bar)], 14 + 6 * (bar - 2));
    // the riser: its last two seconds lead into the drop, nudged upwards
    put(p, 20, chKick, noteNumber("C-4"), riser, 0, fxSampleOffset, 0x44);
    for (int32_t r = 22; r < 32; r += 2) effect(p, r, chKick, fxPortaUp, 0x01);
    // beat 16: everything drops
    for (int32_t bar = 4; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar - 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, bar >= 6);
    }
    kicks(p, 32, 64);
    groove(p, 4, 8, false, clap);
    put(p, 32, chColour, noteNumber("C-4"), crash);
    for (int32_t bar = 5; bar < 8; ++bar)
        arpeggioBar(p, bar, progressionA[static_cast<size_t>(bar - 4)], 20);
    bellFigure(p, 6, {"G-5", "E-5", "C-5"}, 28);
    bellFigure(p, 7, {"B-5", "G-5", "D-5"}, 30);
    // claps come in for the last bar, with a rolling snare into the next part
    put(p, 58, chDrums, noteNumber("C-4"), clap);
    put(p, 62, chDrums, noteNumber("C-4"), snare, setVolume(30), fxExtended, extRetrigger | 2);
    put(p, 63, chDrums, noteNumber("C-4"), snare, setVolume(40), fxExtended, extRetrigger | 2);
    return p;
}

// ---- order 1, pattern 4: the theme (beats 32..63).
Pattern composeTheme() {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 8, true, snare);
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, bar % 2 == 1);
        melody(p, chLead, bar * rowsPerBar, lead, leadA[static_cast<size_t>(bar)]);
        arpeggioBar(p, bar, c, bar < 4 ? 18 : 24);
    }
    // the clap doubles the last backbeat of every fourth bar
    put(p, 30, chDrums, noteNumber("C-4"), clap);
    put(p, 62, chDrums, noteNumber("C-4"), clap);
    // a zap across the turnaround
    put(p, 63, chColour, noteNumber("C-5"), zap, 0, fxPortaDown, 0x20);
    return p;
}

// ---- order 2, pattern 5: the second theme over acid bass (beats 64..95).
Pattern composeSecondTheme(bool withLead) {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 7, true, snare);
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionB[static_cast<size_t>(bar)];
        pumpingChord(p, bar, c);
        acidBass(p, bar, c);
        if (withLead)
            melody(p, chLead, bar * rowsPerBar, lead, leadB[static_cast<size_t>(bar)]);
        else
            bellFigure(p, bar, {"E-5", "C-5", "A-4"}, 26);
    }
    // a sung line held over two bars at a time, its tremolo opening up in the second half
    const std::array<const char*, 4> choirNotes = {"A-4", "G-4", "E-4", "G#4"};
    for (int32_t k = 0; k < 4; ++k) {
        std::string name = choirNotes[static_cast<size_t>(k)];
        if (name.size() == 2) name.insert(1, "-");
        put(p, k * 16, chColour, noteNumber(name.c_str()), choir, setVolume(22));
        if (k >= 2)
            for (int32_t r = k * 16 + 2; r < k * 16 + 14; r += 4)
                effect(p, r, chColour, fxTremolo, 0x42);
        put(p, k * 16 + 15, chColour, noteNumber("C-5"), zap, 0, fxPortaDown, 0x18);
    }
    // tom fill into the climax, panned across the stereo field
    const std::array<const char*, 6> toms = {"E-4", "D-4", "C-4", "A-3", "G-3", "E-3"};
    const std::array<uint8_t, 6> pans = {210, 180, 150, 110, 80, 50};
    for (int32_t k = 0; k < 6; ++k) {
        const int32_t row = 58 + k;
        put(p, row, chDrums, noteNumber(toms[static_cast<size_t>(k)]), tom, 0, fxPanning,
            pans[static_cast<size_t>(k)]);
    }
    put(p, 56, chDrums, noteNumber("C-4"), snare);
    put(p, 57, chDrums, noteNumber("C-4"), closedHat);
    return p;
}

// ---- order 3, pattern 8: the climax (beats 96..121), then the music settles (beats 122..127).
Pattern composeClimax() {
    Pattern p;
    kicks(p, 0, 52);
    put(p, 0, chColour, noteNumber("C-4"), crash);
    for (int32_t bar = 0; bar < 6; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, true);
        melody(p, chLead, bar * rowsPerBar, lead, leadClimax[static_cast<size_t>(bar)]);
        if (bar > 0) arpeggioBar(p, bar, c, 24);
    }
    groove(p, 0, 6, true, snare);
    put(p, 14, chDrums, noteNumber("C-4"), clap);
    put(p, 30, chDrums, noteNumber("C-4"), clap);
    put(p, 46, chDrums, noteNumber("C-4"), clap);
    // beats 120 and 121: the dominant, with a snare crescendo of multi retrigs
    put(p, 48, chChords, noteNumber(chordE.root), chordMajor, setVolume(30));
    for (int32_t r = 48; r < 52; r += 2) {
        put(p, r, chBass, keyOff, 0);
        put(p, r + 1, chBass, noteNumber(chordE.bassRoot), bass);
    }
    put(p, 48, chLead, noteNumber("G#5"), lead, 0, fxVibrato, 0x64);
    effect(p, 49, chLead, fxVibrato, 0x00);
    effect(p, 50, chLead, fxVibrato, 0x00);
    effect(p, 51, chLead, fxVibrato, 0x00);
    put(p, 48, chDrums, noteNumber("C-4"), snare, setVolume(18), fxMultiRetrig, 0xA2);
    for (int32_t r = 49; r < 52; ++r) effect(p, r, chDrums, fxMultiRetrig, 0x00);
    put(p, 48, chColour, noteNumber("E-5"), arp, setVolume(24), fxArpeggio, 0x47);
    for (int32_t r = 49; r < 52; ++r)
        put(p, r, chColour, noteNumber("E-5"), arp, 0, fxArpeggio, 0x47);
    // beat 122: resolve to A minor and let go
    put(p, 52, chColour, noteNumber("C-4"), crash, setVolume(26));
    put(p, 52, chChords, noteNumber(chordAm.root), chordMinor, setVolume(30));
    effect(p, 58, chChords, fxVolumeSlide, 0x01);
    effect(p, 62, chChords, fxVolumeSlide, 0x01);
    put(p, 52, chBass, noteNumber("A-1"), bass, setVolume(40));
    put(p, 60, chBass, keyOff, 0);
    put(p, 52, chLead, noteNumber("A-5"), lead, 0, fxVibrato, 0x53);
    for (int32_t r = 53; r < 58; ++r) effect(p, r, chLead, fxVibrato, 0x00);
    for (int32_t r = 58; r < 62; ++r) effect(p, r, chLead, fxVibratoSlide, 0x01);
    put(p, 62, chLead, keyOff, 0);
    put(p, 54, chKick, noteNumber("A-4"), choir, setVolume(10));
    for (int32_t r = 55; r < 64; ++r) volumeColumn(p, r, chKick, slideVolumeUp(r < 60 ? 1 : 0));
    put(p, 56, chDrums, noteNumber("C-5"), bell, setVolume(20));
    put(p, 59, chDrums, noteNumber("A-4"), bell, setVolume(14), fxExtended, extNoteDelay | 3);
    put(p, 62, chDrums, noteNumber("E-4"), bell, setVolume(10));
    return p;
}

// ---- orders 4..6, pattern 1: the close, fading out by beat 144 (48 s), then a quiet coda.
Pattern composeClose() {
    Pattern p;
    const std::array<Chord, 3> closing = {chordF, chordG, chordAm};
    for (int32_t k = 0; k < 3; ++k) {
        const Chord& c = closing[static_cast<size_t>(k)];
        put(p, k * 8, chChords, noteNumber(c.root), chordInstrument(c), setVolume(26 - 2 * k));
        put(p, k * 8, chBass, noteNumber(c.bassRoot), bass, setVolume(26 - 2 * k));
    }
    for (int32_t r = 20; r < 32; ++r) effect(p, r, chChords, fxExtended, 0xB0 | 2); // fine slide
    put(p, 22, chBass, keyOff, 0);
    put(p, 0, chColour, noteNumber("C-5"), pad, setVolume(24));
    put(p, 8, chColour, noteNumber("B-4"), 0, 0, fxTonePorta, 0x04);
    put(p, 16, chColour, noteNumber("C-5"), 0, 0, fxTonePorta, 0x04);
    put(p, 24, chColour, keyOff, 0);
    put(p, 0, chKick, noteNumber("A-4"), choir, setVolume(20));
    put(p, 8, chKick, noteNumber("B-4"), 0, 0, fxTonePorta, 0x03);
    put(p, 16, chKick, noteNumber("A-4"), 0, 0, fxTonePorta, 0x03);
    put(p, 24, chKick, 0, 0, 0, fxKeyOff, 0);
    const std::array<std::pair<int32_t, const char*>, 9> echoes = {{{0, "A-5"},
                                                                    {3, "F-5"},
                                                                    {8, "B-5"},
                                                                    {11, "G-5"},
                                                                    {16, "C-6"},
                                                                    {19, "A-5"},
                                                                    {22, "E-5"},
                                                                    {26, "C-5"},
                                                                    {30, "A-4"}}};
    int32_t volume = 26;
    for (const auto& [row, name] : echoes) {
        put(p, row, chLead, noteNumber(name), bell, setVolume(volume), row % 2 ? fxExtended : 0,
            row % 2 ? (extNoteDelay | 2) : 0);
        volume = std::max(4, volume - 3);
    }
    // coda after the demo's end: a soft swell that leads back into this pattern's first chord
    put(p, 32, chChords, noteNumber(chordAm.root), chordMinor, setVolume(4));
    for (int32_t r = 33; r < 44; ++r)
        volumeColumn(p, r, chChords, slideVolumeUp(r % 3 == 0 ? 1 : 0));
    put(p, 48, chChords, noteNumber(chordF.root), chordMajor, setVolume(14));
    put(p, 60, chChords, keyOff, 0);
    put(p, 40, chKick, noteNumber("E-4"), choir, setVolume(12));
    put(p, 56, chKick, keyOff, 0);
    put(p, 36, chLead, noteNumber("E-5"), bell, setVolume(12));
    put(p, 44, chLead, noteNumber("C-5"), bell, setVolume(10));
    put(p, 52, chLead, noteNumber("A-4"), bell, setVolume(8));
    return p;
}

// ---- order 7, pattern 2: the groove comes back without the tune.
Pattern composeReprise() {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 8, true, clap);
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, bar % 2 == 0);
        arpeggioBar(p, bar, c, 20);
        if (bar >= 4)
            melody(p, chLead, bar * rowsPerBar, lead, leadA[static_cast<size_t>(bar)]);
        else
            bellFigure(p, bar, {"E-5", "C-5", "A-4"}, 24);
    }
    return p;
}

// ---- order 8, pattern 7: a breakdown that rises back into the intro.
Pattern composeBreakdown() {
    Pattern p;
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        heldChord(p, bar, c, 26);
        put(p, bar * rowsPerBar, chBass, noteNumber(c.bassRoot), bass, setVolume(28));
        bellFigure(p, bar, {"A-5", "E-5", "C-5"}, 22);
    }
    put(p, 0, chColour, noteNumber("E-4"), pad, setVolume(26));
    put(p, 32, chColour, noteNumber("G-4"), 0, 0, fxTonePorta, 0x05);
    put(p, 60, chColour, keyOff, 0);
    put(p, 32, chKick, noteNumber("C-4"), riser, setVolume(24));
    for (int32_t r = 33; r < 64; ++r) volumeColumn(p, r, chKick, slideVolumeUp(r % 2));
    for (int32_t r = 48; r < 64; ++r) effect(p, r, chKick, fxExtended, extFinePortaUp | 1);
    put(p, 56, chDrums, noteNumber("C-4"), snare, setVolume(16), fxExtended, extRetrigger | 3);
    for (int32_t r = 57; r < 64; ++r)
        put(p, r, chDrums, noteNumber("C-4"), snare, setVolume(18 + 3 * (r - 56)), fxExtended,
            extRetrigger | (r < 60 ? 3 : 2));
    put(p, 63, chBass, keyOff, 0);
    put(p, 63, chChords, keyOff, 0);
    put(p, 62, chLead, 0, 0, 0, fxExtended, extNoteCut | 3);
    return p;
}

// Stored but not in the order list: loops to build the song from.
Pattern composeDrumLoop() {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 8, true, snare);
    for (int32_t bar = 0; bar < 8; ++bar) offbeatBass(p, bar, progressionA[bar % 4], false);
    return p;
}

Pattern composeAmbient() {
    Pattern p;
    for (int32_t bar = 0; bar < 8; bar += 2) {
        const Chord& c = progressionA[static_cast<size_t>(bar / 2)];
        heldChord(p, bar, c, 20);
        put(p, bar * rowsPerBar, chKick, noteNumber("A-4"), choir, setVolume(16));
    }
    return p;
}

// ---------------------------------------------------------------------------------------------
// Tempo steering: the song time of the player, computed exactly as its renderer adds it up.

int32_t samplesPerTickForBpm(int32_t bpm) {
    float t = static_cast<float>(bpm * 2) / 5.0f;
    t = 1000.0f / t;
    t = t * static_cast<float>(outputRateHz);
    t = t / 1000.0f;
    return static_cast<int32_t>(t);
}

int32_t songMsForRun(int32_t frames) {
    const float secondsPerFrame = 1.0f / static_cast<float>(outputRateHz);
    return static_cast<int32_t>(static_cast<float>(frames) * secondsPerFrame * 1000.0f);
}

struct SongClock {
    int32_t songTimeMs = 0;
    int32_t frameInChunk = 0;
};

void advanceTick(SongClock& clock, int32_t samplesPerTick) {
    int32_t left = samplesPerTick;
    while (left > 0) {
        const int32_t n = std::min(left, chunkFrames - clock.frameInChunk);
        clock.songTimeMs += songMsForRun(n);
        clock.frameInChunk = (clock.frameInChunk + n) % chunkFrames;
        left -= n;
    }
}

// Puts an effect on the row into the first channel whose effect column is free.
bool placeRowEffect(Pattern& p, int32_t row, uint8_t type, uint8_t param) {
    static constexpr std::array<int32_t, channelCount> preference = {chKick,  chBass,   chChords,
                                                                     chDrums, chColour, chLead};
    for (int32_t ch : preference) {
        Cell& c = p.at(row, ch);
        if (c.effect == 0 && c.param == 0) {
            c.effect = type;
            c.param = param;
            return true;
        }
    }
    return false;
}

struct TimingReport {
    int32_t defaultBpm = referenceBpm;
    double worstOffsetMs = 0.0;
    int32_t worstBeat = 0;
    int32_t bpmChanges = 0;
    std::vector<int32_t> beatStartMs;
};

// For each beat of the timed orders, picks the BPM whose two rows end closest to the next
// beat's start, and writes it as Fxx on the beat's first row whenever it changes.
TimingReport steerTempo(std::array<Pattern, storedPatternCount>& patterns) {
    TimingReport report;
    SongClock clock;
    int32_t current = -1;
    for (int32_t beat = 0; beat < timedBeats; ++beat) {
        const double target = (beat + 1) * beatMs;
        int32_t best = referenceBpm;
        double bestError = 1e9;
        for (int32_t bpm = lowestBpm; bpm <= highestBpm; ++bpm) {
            SongClock trial = clock;
            for (int32_t t = 0; t < rowsPerBeat * ticksPerRow; ++t)
                advanceTick(trial, samplesPerTickForBpm(bpm));
            const double error = std::fabs(trial.songTimeMs - target);
            if (error < bestError - 1e-9 ||
                (std::fabs(error - bestError) < 1e-9 && bpm == current)) {
                best = bpm;
                bestError = error;
            }
        }
        const double offset = clock.songTimeMs - beat * beatMs;
        report.beatStartMs.push_back(clock.songTimeMs);
        if (beat < 144 && std::fabs(offset) > std::fabs(report.worstOffsetMs)) {
            report.worstOffsetMs = offset;
            report.worstBeat = beat;
        }
        const int32_t order = beat / (rowsPerPattern / rowsPerBeat);
        const int32_t row = (beat % (rowsPerPattern / rowsPerBeat)) * rowsPerBeat;
        Pattern& p = patterns[orderTable[static_cast<size_t>(order)]];
        if (beat == 0) report.defaultBpm = best;
        if (best != current || row == 0) {
            if (!placeRowEffect(p, row, fxSpeed, static_cast<uint8_t>(best))) {
                std::fprintf(stderr, "gen_song: no free effect column at order %d row %d\n", order,
                             row);
                std::exit(1);
            }
            if (best != current) ++report.bpmChanges;
            current = best;
        }
        for (int32_t t = 0; t < rowsPerBeat * ticksPerRow; ++t)
            advanceTick(clock, samplesPerTickForBpm(best));
    }
    return report;
}

// ---------------------------------------------------------------------------------------------
// Writing the file.

struct Writer {
    std::vector<uint8_t> bytes;
};

void u8(Writer& w, uint32_t v) {
    w.bytes.push_back(static_cast<uint8_t>(v));
}
void u16(Writer& w, uint32_t v) {
    u8(w, v & 0xFF);
    u8(w, (v >> 8) & 0xFF);
}
void u32(Writer& w, uint32_t v) {
    u16(w, v & 0xFFFF);
    u16(w, v >> 16);
}
void text(Writer& w, const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i) u8(w, i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}

std::vector<uint8_t> packPattern(const Pattern& p) {
    std::vector<uint8_t> out;
    for (const Cell& c : p.cells) {
        uint8_t mask = 0x80;
        if (c.note) mask |= 0x01;
        if (c.instrument) mask |= 0x02;
        if (c.volume) mask |= 0x04;
        if (c.effect) mask |= 0x08;
        if (c.param) mask |= 0x10;
        out.push_back(mask);
        if (c.note) out.push_back(c.note);
        if (c.instrument) out.push_back(c.instrument);
        if (c.volume) out.push_back(c.volume);
        if (c.effect) out.push_back(c.effect);
        if (c.param) out.push_back(c.param);
    }
    return out;
}

uint32_t sampleDataBytes(const Instrument& instrument) {
    return static_cast<uint32_t>(instrument.wave.size()) * (instrument.sixteenBit ? 2u : 1u);
}

void writeEnvelopePoints(Writer& w, const Envelope& e) {
    for (size_t i = 0; i < 12; ++i) {
        u16(w, i < e.points.size() ? e.points[i].x : 0);
        u16(w, i < e.points.size() ? e.points[i].y : 0);
    }
}

void writeInstrument(Writer& w, const Instrument& in) {
    const size_t start = w.bytes.size();
    u32(w, instrumentHeaderBytes);
    text(w, in.name, 22);
    u8(w, 0);
    u16(w, 1);
    u32(w, sampleHeaderBytes);
    for (int32_t i = 0; i < 96; ++i) u8(w, 0);
    writeEnvelopePoints(w, in.volumeEnvelope);
    writeEnvelopePoints(w, in.panningEnvelope);
    u8(w, static_cast<uint32_t>(in.volumeEnvelope.points.size()));
    u8(w, static_cast<uint32_t>(in.panningEnvelope.points.size()));
    u8(w, in.volumeEnvelope.sustain);
    u8(w, in.volumeEnvelope.loopStart);
    u8(w, in.volumeEnvelope.loopEnd);
    u8(w, in.panningEnvelope.sustain);
    u8(w, in.panningEnvelope.loopStart);
    u8(w, in.panningEnvelope.loopEnd);
    u8(w, in.volumeEnvelope.type);
    u8(w, in.panningEnvelope.type);
    u8(w, in.vibratoType);
    u8(w, in.vibratoSweep);
    u8(w, in.vibratoDepth);
    u8(w, in.vibratoRate);
    u16(w, in.fadeout);
    while (w.bytes.size() < start + instrumentHeaderBytes) u8(w, 0);

    const uint32_t width = in.sixteenBit ? 2 : 1;
    uint8_t type = in.loop == Loop::forward ? 1 : in.loop == Loop::pingPong ? 2 : 0;
    if (in.sixteenBit) type |= 0x10;
    u32(w, sampleDataBytes(in));
    u32(w, in.loop == Loop::none ? 0 : in.loopStart * width);
    u32(w, in.loop == Loop::none ? 0 : in.loopLength * width);
    u8(w, in.volume);
    u8(w, static_cast<uint8_t>(in.finetune));
    u8(w, type);
    u8(w, in.panning);
    u8(w, static_cast<uint8_t>(in.relativeNote));
    u8(w, 0);
    text(w, in.name, 22);

    // delta-coded, normalised to the instrument's peak
    float peak = 1e-9f;
    for (float v : in.wave) peak = std::max(peak, std::fabs(v));
    const float scale = in.peak / peak;
    int32_t previous = 0;
    for (float v : in.wave) {
        const float x = std::clamp(v * scale, -1.0f, 1.0f);
        if (in.sixteenBit) {
            const int32_t s = static_cast<int32_t>(std::lround(x * 32767.0f));
            u16(w, static_cast<uint32_t>(static_cast<uint16_t>(s - previous)));
            previous = s;
        } else {
            const int32_t s = static_cast<int32_t>(std::lround(x * 127.0f));
            u8(w, static_cast<uint32_t>(static_cast<uint8_t>(s - previous)));
            previous = s;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_song OUTPUT.xm\n");
        return 2;
    }

    std::array<Pattern, storedPatternCount> patterns{};
    patterns[9] = composeOpening();
    patterns[4] = composeTheme();
    patterns[5] = composeSecondTheme(true);
    patterns[8] = composeClimax();
    patterns[1] = composeClose();
    patterns[2] = composeReprise();
    patterns[7] = composeBreakdown();
    patterns[0] = composeDrumLoop();
    patterns[3] = composeSecondTheme(false);
    patterns[6] = composeAmbient();
    patterns[10] = composeReprise();

    const TimingReport timing = steerTempo(patterns);
    for (int32_t index : {0, 2, 3, 6, 7, 10})
        if (!placeRowEffect(patterns[static_cast<size_t>(index)], 0, fxSpeed, referenceBpm))
            return 1;

    std::vector<std::vector<uint8_t>> packed;
    uint32_t patternBytes = 0;
    for (const Pattern& p : patterns) {
        packed.push_back(packPattern(p));
        patternBytes += 9 + static_cast<uint32_t>(packed.back().size());
    }

    // The pad and the riser take up whatever room the rest leaves.
    std::vector<Instrument> instruments = {
        makeKick(), makeSnare(), makeClap(),  makeClosedHat(), makeOpenHat(),   makeCrash(),
        makeBass(), makeAcid(),  makeLead(),  Instrument{},    makeChord(true), makeChord(false),
        makeArp(),  makeBell(),  makeChoir(), Instrument{},    makeZap(),       makeTom()};
    constexpr int32_t riserFrames = 66150;
    uint32_t used = 60 + headerSizeBytes + patternBytes + unreadTailBytes +
                    instrumentCount * (instrumentHeaderBytes + sampleHeaderBytes) + riserFrames;
    for (const Instrument& in : instruments) used += sampleDataBytes(in);
    if (used >= static_cast<uint32_t>(moduleBytes)) {
        std::fprintf(stderr, "gen_song: no room left for the pad\n");
        return 1;
    }
    const uint32_t room = moduleBytes - used;
    instruments[pad - 1] = makePad(static_cast<int32_t>(room / 2));
    instruments[riser - 1] = makeRiser(riserFrames + static_cast<int32_t>(room % 2));

    Writer w;
    text(w, "Extended Module: ", 17);
    text(w, "On The Beat", 20);
    u8(w, 0x1A);
    text(w, "gen_song", 20);
    u16(w, 0x0104);
    u32(w, headerSizeBytes);
    u16(w, static_cast<uint32_t>(orderTable.size()));
    u16(w, 0); // restart position
    u16(w, channelCount);
    u16(w, storedPatternCount);
    u16(w, instrumentCount);
    u16(w, 1); // linear frequency table
    u16(w, ticksPerRow);
    u16(w, static_cast<uint32_t>(timing.defaultBpm));
    for (uint8_t o : orderTable) u8(w, o);
    for (const auto& data : packed) {
        u32(w, 9);
        u8(w, 0);
        u16(w, rowsPerPattern);
        u16(w, static_cast<uint32_t>(data.size()));
        w.bytes.insert(w.bytes.end(), data.begin(), data.end());
    }
    for (const Instrument& in : instruments) writeInstrument(w, in);
    const size_t tailStart = w.bytes.size();
    text(w, "", unreadTailBytes);
    if (w.bytes.size() != static_cast<size_t>(moduleBytes)) {
        std::fprintf(stderr, "gen_song: wrote %zu bytes, not %d\n", w.bytes.size(), moduleBytes);
        return 1;
    }

    FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(w.bytes.data(), 1, w.bytes.size(), f) != w.bytes.size()) {
        std::fprintf(stderr, "gen_song: cannot write %s\n", argv[1]);
        if (f) std::fclose(f);
        return 1;
    }
    std::fclose(f);
    std::printf("gen_song: %zu bytes (unread tail from %zu), patterns %u bytes, default BPM %d, "
                "%d BPM changes, largest beat offset %+.2f ms at beat %d\n",
                w.bytes.size(), tailStart, patternBytes, timing.defaultBpm, timing.bpmChanges,
                timing.worstOffsetMs, timing.worstBeat);
    return 0;
}
