// Writes the song through the XM writer and pads it to the size the demo loads.
#include "song_file.h"

#include "song_shape.h"

#include <algorithm>
#include <cmath>

namespace gensong {
namespace {

constexpr uint32_t headerSizeBytes = xmwrite::headerFieldBytes + orderTable.size(); // orders only

// The wave normalised to the instrument's peak and rounded to the stored width.
template <typename T> std::vector<T> storedValues(const Instrument& in, float fullScale) {
    float peak = 1e-9f;
    for (float v : in.wave) peak = std::max(peak, std::fabs(v));
    const float scale = in.peak / peak;
    std::vector<T> values;
    values.reserve(in.wave.size());
    for (float v : in.wave) {
        const float x = std::clamp(v * scale, -1.0f, 1.0f);
        values.push_back(static_cast<T>(std::lround(x * fullScale)));
    }
    return values;
}

void writeInstrument(xmwrite::Bytes& out, const Instrument& in) {
    xmwrite::InstrumentHeader header = in.header;
    header.name = in.name.c_str();
    header.sampleCount = 1;
    xmwrite::putInstrumentHeader(out, header);

    const uint32_t width = in.sixteenBit ? 2 : 1;
    xmwrite::SampleHeader sample = in.sample;
    sample.lengthBytes = sampleDataBytes(in);
    if (in.loop != Loop::none) {
        sample.loopStartBytes = in.loopStart * width;
        sample.loopLengthBytes = in.loopLength * width;
    }
    sample.type = in.loop == Loop::forward    ? xmwrite::SAMPLE_LOOP_FORWARD
                  : in.loop == Loop::pingPong ? xmwrite::SAMPLE_LOOP_PINGPONG
                                              : 0;
    if (in.sixteenBit) sample.type |= xmwrite::SAMPLE_16BIT;
    sample.name = in.name.c_str();
    xmwrite::putSampleHeader(out, sample);

    if (in.sixteenBit)
        xmwrite::putDeltas16(out, storedValues<int16_t>(in, 32767.0f));
    else
        xmwrite::putDeltas8(out, storedValues<int8_t>(in, 127.0f));
}

} // namespace

xmwrite::Bytes packPattern(const Pattern& pattern) {
    xmwrite::Bytes out;
    xmwrite::packCells(out, pattern.cells, xmwrite::CellPacking::masked);
    return out;
}

uint32_t sampleDataBytes(const Instrument& instrument) {
    return static_cast<uint32_t>(instrument.wave.size()) * (instrument.sixteenBit ? 2u : 1u);
}

uint32_t bytesBesideSampleData(const std::vector<xmwrite::Bytes>& packedPatterns) {
    uint32_t bytes =
        xmwrite::headerSizeOffsetBytes + headerSizeBytes + unreadTailBytes +
        instrumentCount * (xmwrite::instrumentHeaderBytes + xmwrite::sampleHeaderBytes);
    for (const xmwrite::Bytes& packed : packedPatterns)
        bytes += xmwrite::patternHeaderBytes + static_cast<uint32_t>(packed.size());
    return bytes;
}

xmwrite::Bytes writeSong(const std::vector<xmwrite::Bytes>& packedPatterns,
                         const std::vector<Instrument>& instruments, int32_t defaultBpm) {
    xmwrite::Header header;
    header.name = "On The Beat";
    header.tracker = "gen_song";
    header.headerSize = headerSizeBytes;
    header.songLength = static_cast<uint16_t>(orderTable.size());
    header.channelCount = channelCount;
    header.patternCount = static_cast<uint16_t>(packedPatterns.size());
    header.instrumentCount = static_cast<uint16_t>(instruments.size());
    header.flags = 1; // linear frequency table
    header.tempo = ticksPerRow;
    header.bpm = static_cast<uint16_t>(defaultBpm);
    header.orders = orderTable;
    xmwrite::Bytes out;
    xmwrite::putHeader(out, header);
    for (const xmwrite::Bytes& packed : packedPatterns)
        xmwrite::putPattern(out, rowsPerPattern, packed);
    for (const Instrument& in : instruments) writeInstrument(out, in);
    xmwrite::putFill(out, unreadTailBytes);
    return out;
}

} // namespace gensong
