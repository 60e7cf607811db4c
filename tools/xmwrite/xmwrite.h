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

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace xmwrite {

using Bytes = std::vector<uint8_t>;

void putU8(Bytes& out, uint8_t v);
void putU16(Bytes& out, uint16_t v);
void putU32(Bytes& out, uint32_t v);
void putFill(Bytes& out, size_t count, uint8_t v = 0);
// A text field of `width` bytes: cut at the width, padded with zeros.
void putText(Bytes& out, const char* text, size_t width);

constexpr uint32_t headerSizeOffsetBytes = 60; // the header size counts from this offset
constexpr uint32_t headerFieldBytes = 20;      // header size without the order table
constexpr uint32_t orderTableEntries = 256;
constexpr uint32_t patternHeaderBytes = 9;
constexpr uint32_t instrumentHeaderBytes =
    263; // as trackers write it for an instrument with samples
constexpr uint32_t emptyInstrumentHeaderBytes = 29; // ... and for one without
constexpr uint32_t sampleHeaderBytes = 40;
constexpr size_t envelopePointsStored = 12;
constexpr size_t sampleMapNotes = 96;
constexpr uint8_t noteKeyOff = 97;

// Sample type bits.
constexpr uint8_t SAMPLE_LOOP_FORWARD = 0x01;
constexpr uint8_t SAMPLE_LOOP_PINGPONG = 0x02;
constexpr uint8_t SAMPLE_16BIT = 0x10;

// Envelope type bits.
constexpr uint8_t ENVELOPE_ON = 0x01;
constexpr uint8_t ENVELOPE_SUSTAIN = 0x02;
constexpr uint8_t ENVELOPE_LOOP = 0x04;

struct Header {
    const char* name = "";    // 20 bytes
    const char* tracker = ""; // 20 bytes
    uint16_t version = 0x0104;
    uint32_t headerSize = headerFieldBytes + orderTableEntries;
    uint16_t songLength = 0;
    uint16_t restartPosition = 0;
    uint16_t channelCount = 0;
    uint16_t patternCount = 0;
    uint16_t instrumentCount = 0;
    uint16_t flags = 1; // bit 0: linear frequency table
    uint16_t tempo = 6; // ticks per row
    uint16_t bpm = 125;
    std::span<const uint8_t> orders; // cut or zero-padded to headerSize - headerFieldBytes bytes
};

// The 60 bytes of names and version, the header size and the fields it counts, and the order
// table; the first pattern follows.
void putHeader(Bytes& out, const Header& header);

struct PatternHeader {
    uint32_t headerLength = patternHeaderBytes;
    uint8_t packingType = 0;
    uint16_t rows = 64;
    uint16_t packedSize = 0; // 0 says the pattern is empty and no cell bytes follow
};

void putPatternHeader(Bytes& out, const PatternHeader& header);

// A well-formed pattern: its header, stating the rows and the packed size, then the cells.
void putPattern(Bytes& out, uint16_t rows, std::span<const uint8_t> packedCells);

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

void packCells(Bytes& out, std::span<const Cell> cells, CellPacking packing);
// Five plain bytes: the loader reads them so only when the note byte is below 0x80.
void putPlainCell(Bytes& out, const Cell& cell);

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

// An envelope holding the first 12 of `points` and stating their number as its point count.
Envelope envelopeOf(std::span<const EnvelopePoint> points, uint8_t sustain, uint8_t loopStart,
                    uint8_t loopEnd, uint8_t type);

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

void putInstrumentHeader(Bytes& out, const InstrumentHeader& header);

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

void putSampleHeader(Bytes& out, const SampleHeader& header);

// Sample values stored as the format keeps them: each one minus the one before, wrapping.
void putDeltas8(Bytes& out, std::span<const int8_t> values);
void putDeltas16(Bytes& out, std::span<const int16_t> values);

} // namespace xmwrite
