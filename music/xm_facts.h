// What an XM file says about itself, field by field as stored: names, the header, instrument and
// sample headers. The loader keeps only what playback needs, normalised; this keeps the rest
// for tools and embedders. Read from the bytes directly, every read bounds-checked.
#pragma once

#include <cstdint>

namespace music {

constexpr int32_t xmNameBytes = 20;
constexpr int32_t xmInstrumentNameBytes = 22;
constexpr int32_t xmEnvelopePoints = 12;
constexpr int32_t xmMaxSamplesKept = 16;
constexpr int32_t xmNoteCount = 96;

struct StoredEnvelope {
    uint16_t x[xmEnvelopePoints];
    uint16_t y[xmEnvelopePoints];
    uint8_t pointCount;
    uint8_t sustain;
    uint8_t loopStart;
    uint8_t loopEnd;
    uint8_t type;
};

struct StoredSample {
    char name[xmInstrumentNameBytes + 1];
    uint32_t lengthBytes;
    uint32_t loopStartBytes;
    uint32_t loopLengthBytes;
    uint8_t volume;
    int8_t finetune;
    uint8_t type; // bits 0-1 loop, bit 4 16-bit data
    uint8_t panning;
    int8_t relativeNote;
};

struct StoredInstrument {
    char name[xmInstrumentNameBytes + 1];
    uint16_t sampleCount; // as stored; at most xmMaxSamplesKept samples are kept
    uint8_t noteSamples[xmNoteCount];
    StoredEnvelope volume;
    StoredEnvelope panning;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout;
    StoredSample samples[xmMaxSamplesKept];
};

struct XmFacts {
    char title[xmNameBytes + 1];   // trailing blanks and NULs dropped
    char tracker[xmNameBytes + 1]; // likewise
    uint16_t version;
    uint16_t storedPatterns;
    uint16_t instrumentCount;
    uint16_t tempo;                // ticks per row at the start, as stored
    uint16_t bpm;                  // as stored
    StoredInstrument* instruments; // instrumentCount records, heap; null when there are none
    bool truncated;                // the bytes ended before everything above was read
};

// Reads what bytes says. False only when no memory is left for the instruments (facts stays
// empty); a short file reads as zeros past its end and sets truncated.
bool readXmFacts(const uint8_t* bytes, int64_t size, XmFacts* facts);
void freeXmFacts(XmFacts* facts);

} // namespace music
