// Writes the byte layout of an XM module: header, packed patterns, instruments, sample headers
// and delta-coded sample data. The song generator, the benchmark generator and the tests' module
// builder all write their files through it.
//
// Every function appends to a byte vector. Counts and sizes are written as the caller states
// them and never checked against what follows, so a caller can also write a file that lies about
// itself (the tests need those). A module is written in file order:
//
//     putHeader                                   once
//     putPattern (or putPatternHeader + bytes)    for each stored pattern
//     putInstrumentHeader                         for each instrument, followed by
//         putSampleHeader                         each of its samples' headers, then
//         putDeltas8 / putDeltas16                each of its samples' data, in the same order
//
// All multi-byte values are little-endian.
#pragma once

// By path, so that the song generator, the benches and the tests find it without the music
// library's include folder.
#include "../../music/xm_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <vector>

namespace xmwrite {

using Bytes = std::vector<uint8_t>;

inline void putU8(Bytes& out, uint8_t v);
inline void putU16(Bytes& out, uint16_t v);
inline void putU32(Bytes& out, uint32_t v);
inline void putFill(Bytes& out, size_t count, uint8_t v = 0);
// A text field of `width` bytes: cut at the width, padded with zeros.
inline void putText(Bytes& out, const char* text, size_t width);

namespace xm = music::xm;

constexpr uint32_t headerSizeOffsetBytes = xm::headerSizeOffset; // the header size counts from here
constexpr uint32_t headerFieldBytes = xm::headerFieldBytes; // header size without the order table
constexpr uint32_t orderTableEntries = xm::orderTableBytes;
constexpr uint32_t patternHeaderBytes = xm::patternHeaderBytes;
// As trackers write it for an instrument with samples, and for one without.
constexpr uint32_t instrumentHeaderBytes = xm::instrumentHeaderBytes;
constexpr uint32_t emptyInstrumentHeaderBytes = xm::emptyInstrumentHeaderBytes;
constexpr uint32_t sampleHeaderBytes = xm::sampleHeaderBytes;
constexpr size_t envelopePointsStored = xm::envelopePoints;
constexpr size_t sampleMapNotes = xm::sampleMapNotes;
constexpr uint8_t noteKeyOff = xm::keyOffNote;

// Sample type bits.
constexpr uint8_t SAMPLE_LOOP_FORWARD = xm::sampleLoopForward;
constexpr uint8_t SAMPLE_LOOP_PINGPONG = xm::sampleLoopPingPong;
constexpr uint8_t SAMPLE_16BIT = xm::sample16Bit;

// Envelope type bits.
constexpr uint8_t ENVELOPE_ON = xm::envelopeOn;
constexpr uint8_t ENVELOPE_SUSTAIN = xm::envelopeSustain;
constexpr uint8_t ENVELOPE_LOOP = xm::envelopeLoop;

struct Header {
    const char* name = "";    // 20 bytes
    const char* tracker = ""; // 20 bytes
    uint16_t version = xm::version104;
    uint32_t headerSize = headerFieldBytes + orderTableEntries;
    uint16_t songLength = 0;
    uint16_t restartPosition = 0;
    uint16_t channelCount = 0;
    uint16_t patternCount = 0;
    uint16_t instrumentCount = 0;
    uint16_t flags = xm::flagLinearFrequencies;
    uint16_t tempo = 6; // ticks per row
    uint16_t bpm = 125;
    std::span<const uint8_t> orders; // cut or zero-padded to headerSize - headerFieldBytes bytes
};

// The 60 bytes of names and version, the header size and the fields it counts, and the order
// table; the first pattern follows.
inline void putHeader(Bytes& out, const Header& header);

struct PatternHeader {
    uint32_t headerLength = patternHeaderBytes;
    uint8_t packingType = 0;
    uint16_t rows = 64;
    uint16_t packedSize = 0; // 0 says the pattern is empty and no cell bytes follow
};

inline void putPatternHeader(Bytes& out, const PatternHeader& header);

// A well-formed pattern: its header, stating the rows and the packed size, then the cells.
inline void putPattern(Bytes& out, uint16_t rows, std::span<const uint8_t> packedCells);

struct Cell {
    uint8_t note = 0; // 1..96, noteKeyOff
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t param = 0;
};

enum class CellPacking : uint8_t {
    masked,   // every cell as 0x80 | a bit per non-zero field, then those fields
    shortest, // as masked, but a cell with all five fields set as its five plain bytes
};

inline void packCells(Bytes& out, std::span<const Cell> cells, CellPacking packing);
// Five plain bytes: the loader reads them so only when the note byte is below 0x80.
inline void putPlainCell(Bytes& out, const Cell& cell);

struct EnvelopePoint {
    uint16_t x = 0; // tick
    uint16_t y = 0; // value 0..64
};

struct Envelope {
    EnvelopePoint points[envelopePointsStored] = {};
    uint8_t pointCount = 0;
    uint8_t sustain = 0;
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t type = 0; // ENVELOPE_ON, ENVELOPE_SUSTAIN, ENVELOPE_LOOP
};

// Stores the first 12 of `points` and states their number as the point count.
inline void setPoints(Envelope& envelope, std::initializer_list<EnvelopePoint> points);

struct InstrumentHeader {
    uint32_t headerSize = instrumentHeaderBytes; // from the instrument's first byte
    const char* name = "";                       // 22 bytes
    uint8_t type = 0;
    uint16_t sampleCount = 0;
    // Whether the fields from the sample header size on are written; trackers leave them out of
    // an instrument without samples. The header is then filled up to headerSize.
    bool sampleFields = true;
    uint32_t sampleHeaderSize = sampleHeaderBytes;
    uint8_t sampleMap[sampleMapNotes] = {};
    Envelope volume;
    Envelope panning;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeout = 0; // as stored
    uint8_t fill = 0;     // the bytes between the last field written and headerSize
};

inline void putInstrumentHeader(Bytes& out, const InstrumentHeader& header);

struct SampleHeader {
    uint32_t lengthBytes = 0;
    uint32_t loopStartBytes = 0;
    uint32_t loopLengthBytes = 0;
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t type = 0; // SAMPLE_LOOP_FORWARD, SAMPLE_LOOP_PINGPONG, SAMPLE_16BIT
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    const char* name = ""; // 22 bytes
};

inline void putSampleHeader(Bytes& out, const SampleHeader& header);

// Sample values stored as the format keeps them: each one minus the one before, wrapping.
inline void putDeltas8(Bytes& out, std::span<const int8_t> values);
inline void putDeltas16(Bytes& out, std::span<const int16_t> values);

// ---------------------------------------------------------------------------------------------
// Definitions. Header-only, so that a test that includes the module builder needs nothing linked.

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

inline void putFill(Bytes& out, size_t count, uint8_t v) {
    out.insert(out.end(), count, v);
}

inline void putText(Bytes& out, const char* text, size_t width) {
    const size_t n = std::strlen(text);
    for (size_t i = 0; i < width; ++i) out.push_back(i < n ? static_cast<uint8_t>(text[i]) : 0);
}

inline void putHeader(Bytes& out, const Header& header) {
    putText(out, xm::magic, xm::magicBytes);
    putText(out, header.name, xm::nameBytes);
    putU8(out, xm::titleEndMarker);
    putText(out, header.tracker, xm::nameBytes);
    putU16(out, header.version);
    putU32(out, header.headerSize);
    putU16(out, header.songLength);
    putU16(out, header.restartPosition);
    putU16(out, header.channelCount);
    putU16(out, header.patternCount);
    putU16(out, header.instrumentCount);
    putU16(out, header.flags);
    putU16(out, header.tempo);
    putU16(out, header.bpm);
    const size_t tableBytes =
        header.headerSize > headerFieldBytes ? header.headerSize - headerFieldBytes : 0;
    const size_t stated = std::min(tableBytes, header.orders.size());
    out.insert(out.end(), header.orders.begin(), header.orders.begin() + stated);
    putFill(out, tableBytes - stated);
}

inline void putPatternHeader(Bytes& out, const PatternHeader& header) {
    putU32(out, header.headerLength);
    putU8(out, header.packingType);
    putU16(out, header.rows);
    putU16(out, header.packedSize);
}

inline void putPattern(Bytes& out, uint16_t rows, std::span<const uint8_t> packedCells) {
    PatternHeader header;
    header.rows = rows;
    header.packedSize = static_cast<uint16_t>(packedCells.size());
    putPatternHeader(out, header);
    out.insert(out.end(), packedCells.begin(), packedCells.end());
}

inline void putPlainCell(Bytes& out, const Cell& cell) {
    out.insert(out.end(), {cell.note, cell.instrument, cell.volume, cell.effect, cell.param});
}

inline void packCells(Bytes& out, std::span<const Cell> cells, CellPacking packing) {
    for (const Cell& c : cells) {
        const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
        // The field bits are 1 << field, note first.
        uint8_t mask = xm::cellPacked;
        for (int i = 0; i < xm::cellBytes; ++i)
            if (fields[i] != 0) mask |= static_cast<uint8_t>(1 << i);
        // All five set: the mask byte would make the packed form one byte longer.
        constexpr uint8_t allFields = xm::cellPacked | xm::cellHasNote | xm::cellHasInstrument |
                                      xm::cellHasVolume | xm::cellHasEffect | xm::cellHasParam;
        if (packing == CellPacking::shortest && mask == allFields) {
            putPlainCell(out, c);
            continue;
        }
        out.push_back(mask);
        for (int i = 0; i < xm::cellBytes; ++i)
            if (fields[i] != 0) out.push_back(fields[i]);
    }
}

inline void setPoints(Envelope& envelope, std::initializer_list<EnvelopePoint> points) {
    std::fill(std::begin(envelope.points), std::end(envelope.points), EnvelopePoint{});
    std::copy_n(points.begin(), std::min(points.size(), envelopePointsStored), envelope.points);
    envelope.pointCount = static_cast<uint8_t>(points.size());
}

inline void putInstrumentHeader(Bytes& out, const InstrumentHeader& header) {
    const size_t start = out.size();
    putU32(out, header.headerSize);
    putText(out, header.name, xm::instrumentNameBytes);
    putU8(out, header.type);
    putU16(out, header.sampleCount);
    if (header.sampleFields) {
        putU32(out, header.sampleHeaderSize);
        out.insert(out.end(), header.sampleMap, header.sampleMap + sampleMapNotes);
        for (const Envelope* e : {&header.volume, &header.panning})
            for (const EnvelopePoint& p : e->points) putU16(out, p.x), putU16(out, p.y);
        const Envelope& v = header.volume;
        const Envelope& p = header.panning;
        out.insert(out.end(),
                   {v.pointCount, p.pointCount, v.sustain, v.loopStart, v.loopEnd, p.sustain,
                    p.loopStart, p.loopEnd, v.type, p.type, header.vibratoType, header.vibratoSweep,
                    header.vibratoDepth, header.vibratoRate});
        putU16(out, header.fadeout);
    }
    const size_t written = out.size() - start;
    if (written < header.headerSize) putFill(out, header.headerSize - written, header.fill);
}

inline void putSampleHeader(Bytes& out, const SampleHeader& header) {
    putU32(out, header.lengthBytes);
    putU32(out, header.loopStartBytes);
    putU32(out, header.loopLengthBytes);
    putU8(out, header.volume);
    putU8(out, static_cast<uint8_t>(header.finetune));
    putU8(out, header.type);
    putU8(out, header.panning);
    putU8(out, static_cast<uint8_t>(header.relativeNote));
    putU8(out, 0); // packing: plain deltas
    putText(out, header.name, xm::instrumentNameBytes);
}

inline void putDeltas8(Bytes& out, std::span<const int8_t> values) {
    int8_t previous = 0;
    for (int8_t v : values) {
        putU8(out, static_cast<uint8_t>(v - previous));
        previous = v;
    }
}

inline void putDeltas16(Bytes& out, std::span<const int16_t> values) {
    int16_t previous = 0;
    for (int16_t v : values) {
        putU16(out, static_cast<uint16_t>(v - previous));
        previous = v;
    }
}

} // namespace xmwrite
