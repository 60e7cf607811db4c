// Writes XM bytes directly: synthesised looping instruments and dense, effect-rich patterns.
#include "xm_generator.h"

#include "xmwrite.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace benchgen {
namespace {

constexpr int32_t defaultTempoTicks = 6;
constexpr int32_t defaultBpm = 125;
constexpr double secondsPerRow = defaultTempoTicks * 2.5 / defaultBpm;
constexpr double pi = 3.14159265358979323846;

// Small deterministic generator, so that every run writes the same bytes on every machine.
struct Random {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int32_t below(int32_t n) { return static_cast<int32_t>(next() % static_cast<uint32_t>(n)); }
    bool chance(int32_t percent) { return below(100) < percent; }
};

using xmwrite::Cell;
using xmwrite::ENVELOPE_LOOP;
using xmwrite::ENVELOPE_ON;
using xmwrite::ENVELOPE_SUSTAIN;
using xmwrite::SAMPLE_16BIT;
using xmwrite::SAMPLE_LOOP_FORWARD;
using xmwrite::SAMPLE_LOOP_PINGPONG;

struct SynthSample {
    std::vector<int16_t> frames;  // absolute values; 8-bit samples use the upper byte only
    uint32_t loopStart;           // frames
    uint32_t loopLength;          // frames; 0 = no loop
    xmwrite::SampleHeader header; // type, volume, finetune, panning, relative note
};

struct SynthInstrument {
    std::vector<SynthSample> samples;
    xmwrite::InstrumentHeader header; // sample map, envelopes, auto-vibrato, fadeout
    int32_t baseNote;                 // the note range the patterns use for it starts here
    bool releases;                    // patterns send key-offs to it (it has a sustained envelope)
};

int16_t clamp16(double v) {
    return static_cast<int16_t>(std::clamp(std::lround(v), -32767L, 32767L));
}

SynthSample makeSample(int32_t kind, int32_t frames, Random& rng) {
    SynthSample s{};
    s.frames.resize(static_cast<size_t>(frames));
    switch (kind) {
    case 0: // pulse, 8-bit, forward loop over whole cycles
        for (int32_t i = 0; i < frames; ++i) s.frames[i] = (i % 64) < 20 ? 22000 : -22000;
        s.loopStart = 0;
        s.loopLength = static_cast<uint32_t>(frames - frames % 64);
        s.header.type = SAMPLE_LOOP_FORWARD;
        break;
    case 1: // sine, 16-bit, forward loop
        for (int32_t i = 0; i < frames; ++i) s.frames[i] = clamp16(26000.0 * std::sin(i * pi / 64));
        s.loopStart = 0;
        s.loopLength = static_cast<uint32_t>(frames - frames % 128);
        s.header.type = SAMPLE_LOOP_FORWARD | SAMPLE_16BIT;
        s.header.relativeNote = 12;
        break;
    case 2: // saw, 16-bit, ping-pong from a tenth in
        for (int32_t i = 0; i < frames; ++i) s.frames[i] = clamp16(-24000.0 + 48000.0 * i / frames);
        s.loopStart = static_cast<uint32_t>(frames / 10);
        s.loopLength = static_cast<uint32_t>(frames) - s.loopStart;
        s.header.type = SAMPLE_LOOP_PINGPONG | SAMPLE_16BIT;
        s.header.finetune = -16;
        break;
    case 3: // ramp, 8-bit, ping-pong over a short cycle: a triangle
        for (int32_t i = 0; i < frames; ++i)
            s.frames[i] = clamp16(-20000.0 + 40000.0 * (i % 32) / 32);
        s.loopStart = 0;
        s.loopLength = 32;
        s.header.type = SAMPLE_LOOP_PINGPONG;
        s.header.relativeNote = 12;
        break;
    case 4: { // bass, 16-bit: noisy attack into a looped sine with a harmonic
        for (int32_t i = 0; i < frames; ++i) {
            double attack = i < frames / 4 ? (1.0 - 4.0 * i / frames) : 0.0;
            double noise = (static_cast<int32_t>(rng.below(20001)) - 10000) * attack;
            double tone = 18000.0 * std::sin(i * pi / 128) + 6000.0 * std::sin(i * pi / 64);
            s.frames[i] = clamp16(tone + noise);
        }
        uint32_t start = static_cast<uint32_t>(frames / 4);
        start -= start % 256;
        s.loopStart = start;
        s.loopLength = static_cast<uint32_t>(frames) - start;
        s.loopLength -= s.loopLength % 256;
        s.header.type = SAMPLE_LOOP_FORWARD | SAMPLE_16BIT;
        s.header.relativeNote = 24;
        break;
    }
    case 5: // noise, 8-bit, forward loop: hats and snares with an envelope
        for (int32_t i = 0; i < frames; ++i)
            s.frames[i] = static_cast<int16_t>(rng.below(50001) - 25000);
        s.loopStart = static_cast<uint32_t>(frames / 2);
        s.loopLength = static_cast<uint32_t>(frames) - s.loopStart;
        s.header.type = SAMPLE_LOOP_FORWARD;
        s.header.volume = 40;
        break;
    case 6: // pad, 16-bit: detuned sines, ping-pong
        for (int32_t i = 0; i < frames; ++i)
            s.frames[i] =
                clamp16(12000.0 * std::sin(i * pi / 50) + 9000.0 * std::sin(i * pi / 50.7) +
                        6000.0 * std::sin(i * pi / 25.2));
        s.loopStart = static_cast<uint32_t>(frames / 8);
        s.loopLength = static_cast<uint32_t>(frames) - s.loopStart - 1;
        s.header.type = SAMPLE_LOOP_PINGPONG | SAMPLE_16BIT;
        s.header.volume = 48;
        break;
    default: { // pluck, 8-bit: decaying filtered noise with a short forward loop at its end
        int32_t period = 40;
        std::vector<double> ring(static_cast<size_t>(period));
        for (auto& r : ring) r = rng.below(40001) - 20000;
        for (int32_t i = 0; i < frames; ++i) {
            size_t a = static_cast<size_t>(i % period), b = static_cast<size_t>((i + 1) % period);
            ring[a] = 0.497 * (ring[a] + ring[b]);
            s.frames[i] = clamp16(ring[a]);
        }
        s.loopLength = static_cast<uint32_t>(std::min(frames, period * 4));
        s.loopStart = static_cast<uint32_t>(frames) - s.loopLength;
        s.header.type = SAMPLE_LOOP_FORWARD;
        s.header.finetune = 8;
        break;
    }
    }
    // Whole-cycle rounding leaves tiny samples without a loop; every generated sample loops.
    if (s.loopLength == 0 || s.loopStart + s.loopLength > static_cast<uint32_t>(frames)) {
        s.loopStart = 0;
        s.loopLength = static_cast<uint32_t>(frames);
    }
    if (!(s.header.type & SAMPLE_16BIT))
        for (auto& v : s.frames) v = static_cast<int16_t>(v & ~0xFF); // 8-bit: only the high byte
    return s;
}

SynthInstrument makeInstrument(int32_t kind, int32_t frames, Random& rng) {
    SynthInstrument ins{};
    int32_t length = std::max(64, frames);
    ins.samples.push_back(makeSample(kind, length, rng));
    ins.baseNote = 37; // C-3
    switch (kind) {
    case 4:
        setPoints(ins.header.volume, {{0, 64}, {4, 48}, {20, 40}, {60, 0}});
        ins.header.volume.sustain = 1;
        ins.header.volume.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
        ins.header.fadeout = 400;
        ins.releases = true;
        ins.baseNote = 25;
        break;
    case 5:
        setPoints(ins.header.volume, {{0, 64}, {3, 20}, {10, 0}});
        ins.header.volume.type = ENVELOPE_ON;
        ins.baseNote = 61;
        break;
    case 6:
        // A second, brighter sample for the upper half of the keyboard.
        ins.samples.push_back(makeSample(1, length / 2 + 64, rng));
        for (int32_t n = 48; n < 96; ++n) ins.header.sampleMap[n] = 1;
        setPoints(ins.header.volume, {{0, 0}, {8, 64}, {16, 40}, {24, 56}, {80, 0}});
        ins.header.volume.sustain = 3;
        ins.header.volume.loopStart = 1;
        ins.header.volume.loopEnd = 3;
        ins.header.volume.type = ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP;
        setPoints(ins.header.panning, {{0, 32}, {16, 48}, {32, 16}});
        ins.header.panning.loopEnd = 2;
        ins.header.panning.type = ENVELOPE_ON | ENVELOPE_LOOP;
        ins.header.fadeout = 200;
        ins.header.vibratoType = 0;
        ins.header.vibratoSweep = 16;
        ins.header.vibratoDepth = 4;
        ins.header.vibratoRate = 10;
        ins.releases = true;
        ins.baseNote = 37;
        break;
    case 7:
        ins.header.vibratoType = 1;
        ins.header.vibratoDepth = 2;
        ins.header.vibratoRate = 20;
        ins.baseNote = 49;
        break;
    default: break;
    }
    return ins;
}

void writeInstrument(xmwrite::Bytes& out, const SynthInstrument& ins, int32_t number) {
    char name[23];
    std::snprintf(name, sizeof name, "synth %d", static_cast<int>(number));
    xmwrite::InstrumentHeader header = ins.header;
    header.name = name;
    header.sampleCount = static_cast<uint16_t>(ins.samples.size());
    xmwrite::putInstrumentHeader(out, header);

    for (const SynthSample& s : ins.samples) {
        const uint32_t width = (s.header.type & SAMPLE_16BIT) ? 2 : 1;
        xmwrite::SampleHeader sample = s.header;
        sample.lengthBytes = static_cast<uint32_t>(s.frames.size()) * width;
        sample.loopStartBytes = s.loopStart * width;
        sample.loopLengthBytes = s.loopLength * width;
        sample.name = "generated";
        xmwrite::putSampleHeader(out, sample);
    }
    for (const SynthSample& s : ins.samples) {
        if (s.header.type & SAMPLE_16BIT) {
            xmwrite::putDeltas16(out, s.frames);
        } else {
            std::vector<int8_t> high(s.frames.size());
            for (size_t i = 0; i < high.size(); ++i)
                high[i] = static_cast<int8_t>(s.frames[i] >> 8);
            xmwrite::putDeltas8(out, high);
        }
    }
}

// The everyday effects: slides, vibrato, portamento, arpeggio, panning.
void ordinaryEffect(Cell& c, Random& rng, bool hasNote) {
    switch (rng.below(16)) {
    case 0: c.effect = 0x0, c.param = static_cast<uint8_t>(0x37 + 0x10 * rng.below(3)); break;
    case 1: c.effect = 0x1, c.param = static_cast<uint8_t>(1 + rng.below(8)); break;
    case 2: c.effect = 0x2, c.param = static_cast<uint8_t>(1 + rng.below(8)); break;
    case 3: c.effect = 0x3, c.param = hasNote ? static_cast<uint8_t>(8 + rng.below(40)) : 0; break;
    case 4:
        c.effect = 0x4,
        c.param = static_cast<uint8_t>(0x10 * (2 + rng.below(6)) + 1 + rng.below(6));
        break;
    case 5:
        c.effect = 0xA, c.param = static_cast<uint8_t>(rng.chance(50) ? 1 + rng.below(4)
                                                                      : 0x10 * (1 + rng.below(4)));
        break;
    case 6: c.effect = 0x8, c.param = static_cast<uint8_t>(rng.below(256)); break;
    case 7: c.effect = 0x6, c.param = static_cast<uint8_t>(1 + rng.below(3)); break;
    case 8: c.effect = 0x5, c.param = static_cast<uint8_t>(0x10 * (1 + rng.below(2))); break;
    case 9:
        c.effect = 25, c.param = static_cast<uint8_t>(rng.chance(50) ? 0x20 : 0x03);
        break; // Pxy
    case 10: c.effect = 0xC, c.param = static_cast<uint8_t>(16 + rng.below(49)); break;
    case 11:
        c.effect = 0xE,
        c.param = static_cast<uint8_t>(0xA0 + 0x10 * rng.below(2) + 1 + rng.below(4));
        break;
    case 12:
        c.effect = 0xE,
        c.param = static_cast<uint8_t>(0x10 + 0x10 * rng.below(2) + 1 + rng.below(8));
        break;
    case 13: c.effect = 0x4, c.param = 0; break; // vibrato from memory
    default: break;                              // no effect
    }
}

// Song-flow and the rarer effects, for the small modules that seed the fuzzer.
void flowEffect(Cell& c, Random& rng, int32_t patternCount, int32_t rowCount) {
    switch (rng.below(18)) {
    case 0: c.effect = 0xB, c.param = static_cast<uint8_t>(rng.below(patternCount + 1)); break;
    case 1:
        c.effect = 0xD, c.param = static_cast<uint8_t>(rng.below(std::min(rowCount, 10)));
        break;
    case 2: c.effect = 0xE, c.param = static_cast<uint8_t>(0x60 + rng.below(3)); break;
    case 3: c.effect = 0xE, c.param = static_cast<uint8_t>(0xE0 + rng.below(3)); break;
    case 4: c.effect = 0x10, c.param = static_cast<uint8_t>(rng.below(65)); break; // Gxx
    case 5: c.effect = 0x11, c.param = static_cast<uint8_t>(rng.chance(50) ? 0x01 : 0x10); break;
    case 6: c.effect = 27, c.param = static_cast<uint8_t>(rng.below(256)); break;      // Rxy
    case 7: c.effect = 29, c.param = static_cast<uint8_t>(0x21 + rng.below(3)); break; // Txy
    case 8: c.effect = 0xE, c.param = static_cast<uint8_t>(0x90 + 1 + rng.below(4)); break;
    case 9: c.effect = 0xE, c.param = static_cast<uint8_t>(0xC0 + rng.below(6)); break;
    case 10: c.effect = 0xE, c.param = static_cast<uint8_t>(0xD0 + rng.below(6)); break;
    case 11: c.effect = 0x9, c.param = static_cast<uint8_t>(rng.below(8)); break;
    case 12: c.effect = 0x7, c.param = static_cast<uint8_t>(0x44 + rng.below(4)); break;
    case 13: c.effect = 20, c.param = static_cast<uint8_t>(rng.below(6)); break;  // Kxx
    case 14: c.effect = 21, c.param = static_cast<uint8_t>(rng.below(40)); break; // Lxx
    case 15:
        c.effect = 33, c.param = static_cast<uint8_t>(0x10 * (1 + rng.below(2)) + rng.below(16));
        break;
    case 16: c.effect = 0xF, c.param = static_cast<uint8_t>(1 + rng.below(255)); break;
    default: c.effect = 0xE, c.param = static_cast<uint8_t>(0x50 + rng.below(16)); break;
    }
}

uint8_t volumeColumn(Random& rng) {
    switch (rng.below(10)) {
    case 0:
    case 1:
    case 2: return static_cast<uint8_t>(0x10 + 20 + rng.below(45)); // set volume
    case 3: return static_cast<uint8_t>(0x60 + 1 + rng.below(4));   // slide down
    case 4: return static_cast<uint8_t>(0x70 + 1 + rng.below(4));   // slide up
    case 5: return static_cast<uint8_t>(0xC0 + rng.below(16));      // set panning
    case 6: return static_cast<uint8_t>(0xB0 + 1 + rng.below(4));   // vibrato depth
    default: return 0;
    }
}

std::vector<Cell> makePattern(const SongShape& shape, const std::vector<SynthInstrument>& set,
                              int32_t patternIndex, Random& rng) {
    static const int32_t scale[7] = {0, 2, 3, 5, 7, 8, 10};
    int32_t channels = shape.channelCount;
    std::vector<Cell> cells(static_cast<size_t>(shape.rowsPerPattern * channels), Cell{});
    for (int32_t ch = 0; ch < channels; ++ch) {
        int32_t instrument = (ch + patternIndex) % shape.instrumentCount;
        const SynthInstrument& ins = set[static_cast<size_t>(instrument)];
        bool holding = false;
        for (int32_t row = 0; row < shape.rowsPerPattern; ++row) {
            Cell& c = cells[static_cast<size_t>(row * channels + ch)];
            bool hasNote = rng.chance(70);
            if (hasNote) {
                int32_t degree = rng.below(7) + 7 * rng.below(3);
                c.note = static_cast<uint8_t>(ins.baseNote + 12 * (degree / 7) + scale[degree % 7]);
                c.instrument = static_cast<uint8_t>(instrument + 1);
                holding = true;
            } else if (holding && ins.releases && rng.chance(25)) {
                c.note = 97; // key-off into the envelope's release
                holding = false;
            }
            c.volume = volumeColumn(rng);
            ordinaryEffect(c, rng, hasNote);
            if (shape.flowEffects && rng.chance(8))
                flowEffect(c, rng, shape.patternCount, shape.rowsPerPattern);
        }
    }
    if (patternIndex == 0) {
        cells[0].effect = 0xF, cells[0].param = defaultTempoTicks;
        if (channels > 1) cells[1].effect = 0xF, cells[1].param = defaultBpm;
    }
    return cells;
}

} // namespace

SongShape benchShape(int32_t channelCount) {
    SongShape s{};
    s.channelCount = channelCount;
    s.rowsPerPattern = 64;
    s.patternCount = 8; // 8 x 64 rows x 0.12 s = 61.4 s
    s.instrumentCount = 8;
    s.sampleFrames = 6000;
    s.linearFrequencies = true;
    s.flowEffects = false;
    s.seed = 0x5EED0000u + static_cast<uint32_t>(channelCount);
    return s;
}

double nominalSeconds(const SongShape& shape) {
    return shape.patternCount * shape.rowsPerPattern * secondsPerRow;
}

std::vector<uint8_t> generateModule(const SongShape& shape) {
    Random rng{shape.seed};
    std::vector<SynthInstrument> set;
    for (int32_t i = 0; i < shape.instrumentCount; ++i)
        set.push_back(makeInstrument(i % 8, shape.sampleFrames, rng));

    char name[21];
    std::snprintf(name, sizeof name, "gen %dch", static_cast<int>(shape.channelCount));
    std::vector<uint8_t> orders(static_cast<size_t>(shape.patternCount));
    for (size_t i = 0; i < orders.size(); ++i) orders[i] = static_cast<uint8_t>(i);
    xmwrite::Header header;
    header.name = name;
    header.tracker = "bench generator";
    header.songLength = static_cast<uint16_t>(shape.patternCount); // every pattern once
    header.channelCount = static_cast<uint16_t>(shape.channelCount);
    header.patternCount = static_cast<uint16_t>(shape.patternCount);
    header.instrumentCount = static_cast<uint16_t>(shape.instrumentCount);
    header.flags = shape.linearFrequencies ? 1 : 0;
    header.tempo = defaultTempoTicks;
    header.bpm = defaultBpm;
    header.orders = orders;
    xmwrite::Bytes out;
    xmwrite::putHeader(out, header);

    for (int32_t p = 0; p < shape.patternCount; ++p) {
        const std::vector<Cell> cells = makePattern(shape, set, p, rng);
        xmwrite::Bytes packed;
        xmwrite::packCells(packed, cells, xmwrite::CellPacking::shortest);
        xmwrite::putPattern(out, static_cast<uint16_t>(shape.rowsPerPattern), packed);
    }
    for (int32_t i = 0; i < shape.instrumentCount; ++i)
        writeInstrument(out, set[static_cast<size_t>(i)], i + 1);
    return out;
}

} // namespace benchgen
