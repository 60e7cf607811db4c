// The XM byte layout, field by field in file order.
#include "xmwrite.h"

#include <algorithm>
#include <cstring>

namespace xmwrite {

void putU8(Bytes& out, uint8_t v) {
    out.push_back(v);
}

void putU16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(Bytes& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void putFill(Bytes& out, size_t count, uint8_t v) {
    out.insert(out.end(), count, v);
}

void putText(Bytes& out, const char* text, size_t width) {
    const size_t n = std::strlen(text);
    for (size_t i = 0; i < width; ++i) out.push_back(i < n ? static_cast<uint8_t>(text[i]) : 0);
}

void putHeader(Bytes& out, const Header& header) {
    putText(out, "Extended Module: ", 17);
    putText(out, header.name, 20);
    putU8(out, 0x1A);
    putText(out, header.tracker, 20);
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

void putPatternHeader(Bytes& out, const PatternHeader& header) {
    putU32(out, header.headerLength);
    putU8(out, header.packingType);
    putU16(out, header.rows);
    putU16(out, header.packedSize);
}

void putPattern(Bytes& out, uint16_t rows, std::span<const uint8_t> packedCells) {
    PatternHeader header;
    header.rows = rows;
    header.packedSize = static_cast<uint16_t>(packedCells.size());
    putPatternHeader(out, header);
    out.insert(out.end(), packedCells.begin(), packedCells.end());
}

void putPlainCell(Bytes& out, const Cell& cell) {
    out.insert(out.end(), {cell.note, cell.instrument, cell.volume, cell.effect, cell.param});
}

void packCells(Bytes& out, std::span<const Cell> cells, CellPacking packing) {
    for (const Cell& c : cells) {
        const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
        uint8_t mask = 0x80;
        for (int i = 0; i < 5; ++i)
            if (fields[i] != 0) mask |= static_cast<uint8_t>(1 << i);
        // All five set: the mask byte would make the packed form one byte longer.
        if (packing == CellPacking::shortest && mask == 0x9F) {
            putPlainCell(out, c);
            continue;
        }
        out.push_back(mask);
        for (int i = 0; i < 5; ++i)
            if (fields[i] != 0) out.push_back(fields[i]);
    }
}

Envelope envelopeOf(std::span<const EnvelopePoint> points, uint8_t sustain, uint8_t loopStart,
                    uint8_t loopEnd, uint8_t type) {
    Envelope e;
    std::copy_n(points.begin(), std::min(points.size(), envelopePointsStored), e.points);
    e.pointCount = static_cast<uint8_t>(points.size());
    e.sustain = sustain;
    e.loopStart = loopStart;
    e.loopEnd = loopEnd;
    e.type = type;
    return e;
}

void putInstrumentHeader(Bytes& out, const InstrumentHeader& header) {
    const size_t start = out.size();
    putU32(out, header.headerSize);
    putText(out, header.name, 22);
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

void putSampleHeader(Bytes& out, const SampleHeader& header) {
    putU32(out, header.lengthBytes);
    putU32(out, header.loopStartBytes);
    putU32(out, header.loopLengthBytes);
    putU8(out, header.volume);
    putU8(out, static_cast<uint8_t>(header.finetune));
    putU8(out, header.type);
    putU8(out, header.panning);
    putU8(out, static_cast<uint8_t>(header.relativeNote));
    putU8(out, 0); // reserved
    putText(out, header.name, 22);
}

void putDeltas8(Bytes& out, std::span<const int8_t> values) {
    int8_t previous = 0;
    for (int8_t v : values) {
        putU8(out, static_cast<uint8_t>(v - previous));
        previous = v;
    }
}

void putDeltas16(Bytes& out, std::span<const int16_t> values) {
    int16_t previous = 0;
    for (int16_t v : values) {
        putU16(out, static_cast<uint16_t>(v - previous));
        previous = v;
    }
}

} // namespace xmwrite
