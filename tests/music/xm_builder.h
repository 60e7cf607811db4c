// Builds XM module bytes in memory, byte by byte, for tests and fuzz seeds.
//
// Describe a module with the plain records below and call build():
//
//     xmb::Module m;                          // 2 channels, order table {0}, nothing stored
//     m.orders = {0, 1};
//     m.patterns.push_back(xmb::pattern(4, xmb::packCells(cells)));  // 4 rows of 2 channels
//     m.patterns.push_back(xmb::pattern(64, {}));                    // packed size 0: empty
//     xmb::Instrument ins;
//     ins.samples.push_back(xmb::sample8({10, 5, -20}));             // stored 8-bit deltas
//     m.instruments.push_back(ins);
//     std::vector<uint8_t> bytes = xmb::build(m);
//
// Counts and sizes that the file states (song length, pattern and instrument counts, header
// sizes, sample byte lengths and loop fields) default to what a well-formed module says but can
// be set to anything, so a test can also build modules that lie about themselves; cut the result
// with resize() to get a truncated file. Everything is little-endian as in the file.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace xmb {

using Bytes = std::vector<uint8_t>;

inline void putU8(Bytes& out, uint8_t v) {
    out.push_back(v);
}
inline void putU16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void putU32(Bytes& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
inline void putFill(Bytes& out, size_t count, uint8_t v = 0) {
    out.insert(out.end(), count, v);
}
inline void putText(Bytes& out, const char* text, size_t width) {
    const size_t n = std::strlen(text);
    for (size_t i = 0; i < width; ++i) out.push_back(i < n ? static_cast<uint8_t>(text[i]) : 0);
}

struct Cell {
    uint8_t note = 0;
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t param = 0;
};

// Packed cells as trackers write them: 0x80 | a bit per non-zero field, then those fields.
inline Bytes packCells(const std::vector<Cell>& cells) {
    Bytes out;
    for (const Cell& c : cells) {
        const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
        uint8_t mask = 0x80;
        for (int i = 0; i < 5; ++i)
            if (fields[i] != 0) mask |= static_cast<uint8_t>(1 << i);
        out.push_back(mask);
        for (int i = 0; i < 5; ++i)
            if (fields[i] != 0) out.push_back(fields[i]);
    }
    return out;
}

// Five plain bytes per cell; only right when every note byte is below 0x80.
inline Bytes plainCells(const std::vector<Cell>& cells) {
    Bytes out;
    for (const Cell& c : cells)
        out.insert(out.end(), {c.note, c.instrument, c.volume, c.effect, c.param});
    return out;
}

struct Pattern {
    uint32_t headerLength = 9;
    uint8_t packingType = 0;
    uint16_t rows = 64;
    uint16_t packedSize = 0; // 0 says "empty"; data is still written after the header
    Bytes data;              // cell bytes as stored
};

inline Pattern pattern(uint16_t rows, Bytes data) {
    Pattern p;
    p.rows = rows;
    p.packedSize = static_cast<uint16_t>(data.size());
    p.data = std::move(data);
    return p;
}

struct Sample {
    uint32_t lengthBytes = 0;
    uint32_t loopStartBytes = 0;
    uint32_t loopLengthBytes = 0;
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t type = 0; // bit 0 forward loop, bit 1 ping-pong, bit 4 16-bit
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    Bytes data; // stored bytes (deltas), written after all sample headers of the instrument
};

// An 8-bit sample holding these stored deltas.
inline Sample sample8(const std::vector<int8_t>& deltas) {
    Sample s;
    for (int8_t d : deltas) s.data.push_back(static_cast<uint8_t>(d));
    s.lengthBytes = static_cast<uint32_t>(s.data.size());
    return s;
}

// A 16-bit sample holding these stored deltas.
inline Sample sample16(const std::vector<int16_t>& deltas) {
    Sample s;
    s.type = 0x10;
    for (int16_t d : deltas) putU16(s.data, static_cast<uint16_t>(d));
    s.lengthBytes = static_cast<uint32_t>(s.data.size());
    return s;
}

// The deltas that decode to these absolute values (in 8 or 16 bits, wrapping).
template <typename T> std::vector<T> deltasOf(const std::vector<T>& values) {
    std::vector<T> out;
    T previous = 0;
    for (T v : values) {
        out.push_back(static_cast<T>(v - previous));
        previous = v;
    }
    return out;
}

struct Point {
    uint16_t x = 0;
    uint16_t y = 0;
};

struct Instrument {
    uint32_t headerSize = 0;       // 0: the usual 263 with samples, 29 without
    int32_t sampleCountField = -1; // -1: samples.size()
    uint32_t sampleHeaderSize = 40;
    uint8_t sampleMap[96] = {};
    Point volumeEnvelope[12] = {};
    Point panningEnvelope[12] = {};
    uint8_t volumePointCount = 0;
    uint8_t panningPointCount = 0;
    uint8_t volumeSustain = 0;
    uint8_t volumeLoopStart = 0;
    uint8_t volumeLoopEnd = 0;
    uint8_t panningSustain = 0;
    uint8_t panningLoopStart = 0;
    uint8_t panningLoopEnd = 0;
    uint8_t volumeType = 0;
    uint8_t panningType = 0;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeout = 0;
    uint8_t headerFill = 0; // value of the bytes between the fields and the header end
    std::vector<Sample> samples;
};

struct Module {
    uint32_t headerSize = 276; // 20 + 256: the whole order table; smaller cuts it short
    int32_t songLength = -1;   // -1: orders.size()
    int16_t restartPosition = 0;
    int16_t channelCount = 2;
    int32_t patternCountField = -1;    // -1: patterns.size()
    int32_t instrumentCountField = -1; // -1: instruments.size()
    int16_t flags = 1;
    int16_t tempo = 6;
    int16_t bpm = 125;
    Bytes orders = {0}; // written at offset 80, zero-padded to headerSize - 20 bytes
    std::vector<Pattern> patterns;
    std::vector<Instrument> instruments;
};

inline void putInstrument(Bytes& out, const Instrument& ins) {
    const size_t start = out.size();
    const uint16_t sampleCount = ins.sampleCountField >= 0
                                     ? static_cast<uint16_t>(ins.sampleCountField)
                                     : static_cast<uint16_t>(ins.samples.size());
    const bool full = !ins.samples.empty();
    const uint32_t headerSize = ins.headerSize != 0 ? ins.headerSize : (full ? 263u : 29u);
    putU32(out, headerSize);
    putText(out, "instrument", 22);
    putU8(out, 0);
    putU16(out, sampleCount);
    if (full) {
        putU32(out, ins.sampleHeaderSize);
        out.insert(out.end(), ins.sampleMap, ins.sampleMap + 96);
        for (const Point& p : ins.volumeEnvelope) putU16(out, p.x), putU16(out, p.y);
        for (const Point& p : ins.panningEnvelope) putU16(out, p.x), putU16(out, p.y);
        out.insert(out.end(),
                   {ins.volumePointCount, ins.panningPointCount, ins.volumeSustain,
                    ins.volumeLoopStart, ins.volumeLoopEnd, ins.panningSustain,
                    ins.panningLoopStart, ins.panningLoopEnd, ins.volumeType, ins.panningType,
                    ins.vibratoType, ins.vibratoSweep, ins.vibratoDepth, ins.vibratoRate});
        putU16(out, ins.fadeout);
    }
    if (out.size() - start < headerSize)
        putFill(out, headerSize - (out.size() - start), ins.headerFill);
    for (const Sample& s : ins.samples) {
        putU32(out, s.lengthBytes);
        putU32(out, s.loopStartBytes);
        putU32(out, s.loopLengthBytes);
        putU8(out, s.volume);
        putU8(out, static_cast<uint8_t>(s.finetune));
        putU8(out, s.type);
        putU8(out, s.panning);
        putU8(out, static_cast<uint8_t>(s.relativeNote));
        putU8(out, 0);
        putText(out, "sample", 22);
    }
    for (const Sample& s : ins.samples) out.insert(out.end(), s.data.begin(), s.data.end());
}

inline Bytes build(const Module& m) {
    Bytes out;
    putText(out, "Extended Module: ", 17);
    putText(out, "test module", 20);
    putU8(out, 0x1A);
    putText(out, "xm builder", 20);
    putU16(out, 0x0104);
    putU32(out, m.headerSize);
    putU16(out, static_cast<uint16_t>(m.songLength >= 0 ? m.songLength : int32_t(m.orders.size())));
    putU16(out, static_cast<uint16_t>(m.restartPosition));
    putU16(out, static_cast<uint16_t>(m.channelCount));
    putU16(out, static_cast<uint16_t>(m.patternCountField >= 0 ? m.patternCountField
                                                               : int32_t(m.patterns.size())));
    putU16(out, static_cast<uint16_t>(m.instrumentCountField >= 0 ? m.instrumentCountField
                                                                  : int32_t(m.instruments.size())));
    putU16(out, static_cast<uint16_t>(m.flags));
    putU16(out, static_cast<uint16_t>(m.tempo));
    putU16(out, static_cast<uint16_t>(m.bpm));
    const size_t tableBytes = m.headerSize > 20 ? m.headerSize - 20 : 0;
    for (size_t i = 0; i < tableBytes; ++i) putU8(out, i < m.orders.size() ? m.orders[i] : 0);
    for (const Pattern& p : m.patterns) {
        putU32(out, p.headerLength);
        putU8(out, p.packingType);
        putU16(out, p.rows);
        putU16(out, p.packedSize);
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    for (const Instrument& ins : m.instruments) putInstrument(out, ins);
    return out;
}

} // namespace xmb
