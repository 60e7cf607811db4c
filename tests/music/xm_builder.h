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

// By path, so that a target which only adds this folder to its include path still builds.
#include "../../tools/xmwrite/xmwrite.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace xmb {

using Bytes = xmwrite::Bytes;

using xmwrite::putFill;
using xmwrite::putText;
using xmwrite::putU16;
using xmwrite::putU32;
using xmwrite::putU8;

using Cell = xmwrite::Cell;

// Packed cells as trackers write them: 0x80 | a bit per non-zero field, then those fields.
inline Bytes packCells(const std::vector<Cell>& cells) {
    Bytes out;
    xmwrite::packCells(out, cells, xmwrite::CellPacking::masked);
    return out;
}

// Five plain bytes per cell; only right when every note byte is below 0x80.
inline Bytes plainCells(const std::vector<Cell>& cells) {
    Bytes out;
    for (const Cell& c : cells) xmwrite::putPlainCell(out, c);
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

// The header fields as the file states them (an empty name is written as "sample"), and the data.
struct Sample : xmwrite::SampleHeader {
    Bytes data; // stored bytes (deltas), written after all sample headers of the instrument
    uint8_t reserved = 0; // the header byte after the relative note; 0xAD marks ModPlug's ADPCM
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

using Point = xmwrite::EnvelopePoint;

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
    // 0x0102 and 0x0103 lay the file out as FT2's early releases did: every instrument and
    // sample header first, then the patterns (in 0x0102 with a one-byte row count minus one and
    // an 8-byte header), then all sample data.
    uint16_t version = 0x0104;
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

// The instrument's header and its sample headers, without the sample data.
inline void putInstrumentHeaders(Bytes& out, const Instrument& ins) {
    const auto envelope = [](const Point(&points)[12], uint8_t pointCount, uint8_t sustain,
                             uint8_t loopStart, uint8_t loopEnd, uint8_t type) {
        xmwrite::Envelope e{};
        std::copy(points, points + 12, e.points);
        e.pointCount = pointCount; // as set, whatever points were given
        e.sustain = sustain;
        e.loopStart = loopStart;
        e.loopEnd = loopEnd;
        e.type = type;
        return e;
    };
    const bool full = !ins.samples.empty();
    xmwrite::InstrumentHeader h;
    h.headerSize = ins.headerSize != 0 ? ins.headerSize
                                       : (full ? xmwrite::instrumentHeaderBytes
                                               : xmwrite::emptyInstrumentHeaderBytes);
    h.name = "instrument";
    h.sampleCount = ins.sampleCountField >= 0 ? static_cast<uint16_t>(ins.sampleCountField)
                                              : static_cast<uint16_t>(ins.samples.size());
    h.sampleFields = full;
    h.sampleHeaderSize = ins.sampleHeaderSize;
    std::copy(ins.sampleMap, ins.sampleMap + 96, h.sampleMap);
    h.volume = envelope(ins.volumeEnvelope, ins.volumePointCount, ins.volumeSustain,
                        ins.volumeLoopStart, ins.volumeLoopEnd, ins.volumeType);
    h.panning = envelope(ins.panningEnvelope, ins.panningPointCount, ins.panningSustain,
                         ins.panningLoopStart, ins.panningLoopEnd, ins.panningType);
    h.vibratoType = ins.vibratoType;
    h.vibratoSweep = ins.vibratoSweep;
    h.vibratoDepth = ins.vibratoDepth;
    h.vibratoRate = ins.vibratoRate;
    h.fadeout = ins.fadeout;
    h.fill = ins.headerFill;
    xmwrite::putInstrumentHeader(out, h);
    for (const Sample& s : ins.samples) {
        xmwrite::SampleHeader header = s;
        if (header.name[0] == '\0') header.name = "sample";
        xmwrite::putSampleHeader(out, header);
        out[out.size() - xmwrite::sampleHeaderBytes + xmwrite::xm::samplePackingOffset] =
            s.reserved;
    }
}

inline void putSampleData(Bytes& out, const Instrument& ins) {
    for (const Sample& s : ins.samples) out.insert(out.end(), s.data.begin(), s.data.end());
}

inline void putInstrument(Bytes& out, const Instrument& ins) {
    putInstrumentHeaders(out, ins);
    putSampleData(out, ins);
}

inline Bytes build(const Module& m) {
    Bytes out;
    xmwrite::Header h;
    h.name = "test module";
    h.tracker = "xm builder";
    h.headerSize = m.headerSize;
    h.songLength =
        static_cast<uint16_t>(m.songLength >= 0 ? m.songLength : int32_t(m.orders.size()));
    h.restartPosition = static_cast<uint16_t>(m.restartPosition);
    h.channelCount = static_cast<uint16_t>(m.channelCount);
    h.patternCount = static_cast<uint16_t>(m.patternCountField >= 0 ? m.patternCountField
                                                                    : int32_t(m.patterns.size()));
    h.instrumentCount = static_cast<uint16_t>(
        m.instrumentCountField >= 0 ? m.instrumentCountField : int32_t(m.instruments.size()));
    h.flags = static_cast<uint16_t>(m.flags);
    h.tempo = static_cast<uint16_t>(m.tempo);
    h.bpm = static_cast<uint16_t>(m.bpm);
    h.orders = m.orders;
    h.version = m.version;
    xmwrite::putHeader(out, h);
    namespace xm = xmwrite::xm;
    const bool early = m.version == xm::version102 || m.version == xm::version103;
    if (early)
        for (const Instrument& ins : m.instruments) putInstrumentHeaders(out, ins);
    for (const Pattern& p : m.patterns) {
        if (m.version == xm::version102) {
            // The usual length is this format's own eight bytes.
            putU32(out, p.headerLength == xm::patternHeaderBytes ? xm::patternHeaderBytesVersion102
                                                                 : p.headerLength);
            putU8(out, p.packingType);
            putU8(out, static_cast<uint8_t>(p.rows - 1));
            putU16(out, p.packedSize);
        } else {
            xmwrite::putPatternHeader(out, {p.headerLength, p.packingType, p.rows, p.packedSize});
        }
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    for (const Instrument& ins : m.instruments) {
        if (early)
            putSampleData(out, ins);
        else
            putInstrument(out, ins);
    }
    return out;
}

} // namespace xmb
