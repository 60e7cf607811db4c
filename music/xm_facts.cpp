// The stored-facts reader: walks the file by the sizes it declares, as a tracker does.
#include "xm_facts.h"

#include <cstdlib>
#include <cstring>

namespace music {
namespace {

constexpr int64_t headerSizeOffset = 60;
constexpr int64_t sampleHeaderBytes = 40; // the loader takes every sample header as 40 bytes
constexpr int32_t patternHeaderPackedOffset = 7;

// Reads that give 0 past the end and remember that they did.
struct ByteReader {
    const uint8_t* bytes;
    int64_t size;
    bool pastEnd;
};

uint8_t u8At(ByteReader& r, int64_t at) {
    if (at < 0 || at >= r.size) {
        r.pastEnd = true;
        return 0;
    }
    return r.bytes[at];
}

uint16_t u16At(ByteReader& r, int64_t at) {
    return static_cast<uint16_t>(u8At(r, at) | (u8At(r, at + 1) << 8));
}

uint32_t u32At(ByteReader& r, int64_t at) {
    return static_cast<uint32_t>(u16At(r, at)) | (static_cast<uint32_t>(u16At(r, at + 2)) << 16);
}

// A name field: up to count bytes, ending at the first NUL, trailing blanks dropped.
void nameAt(ByteReader& r, int64_t at, int32_t count, char* out) {
    int32_t n = 0;
    for (; n < count; ++n) {
        const uint8_t c = u8At(r, at + n);
        if (c == 0) break;
        // Control bytes would upset a terminal; they show as blanks.
        out[n] = c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
    }
    while (n > 0 && out[n - 1] == ' ') --n;
    out[n] = 0;
}

void envelopePointsAt(ByteReader& r, int64_t at, StoredEnvelope* e) {
    for (int32_t i = 0; i < xmEnvelopePoints; ++i) {
        e->x[i] = u16At(r, at + i * 4);
        e->y[i] = u16At(r, at + i * 4 + 2);
    }
}

// Reads one instrument at start; returns where the next one starts.
int64_t instrumentAt(ByteReader& r, int64_t start, StoredInstrument* ins) {
    const uint32_t headerSize = u32At(r, start);
    nameAt(r, start + 4, xmInstrumentNameBytes, ins->name);
    ins->sampleCount = u16At(r, start + 27);
    if (ins->sampleCount == 0) return start + headerSize;

    for (int32_t n = 0; n < xmNoteCount; ++n) ins->noteSamples[n] = u8At(r, start + 33 + n);
    envelopePointsAt(r, start + 129, &ins->volume);
    envelopePointsAt(r, start + 177, &ins->panning);
    ins->volume.pointCount = u8At(r, start + 225);
    ins->panning.pointCount = u8At(r, start + 226);
    ins->volume.sustain = u8At(r, start + 227);
    ins->volume.loopStart = u8At(r, start + 228);
    ins->volume.loopEnd = u8At(r, start + 229);
    ins->panning.sustain = u8At(r, start + 230);
    ins->panning.loopStart = u8At(r, start + 231);
    ins->panning.loopEnd = u8At(r, start + 232);
    ins->volume.type = u8At(r, start + 233);
    ins->panning.type = u8At(r, start + 234);
    ins->vibratoType = u8At(r, start + 235);
    ins->vibratoSweep = u8At(r, start + 236);
    ins->vibratoDepth = u8At(r, start + 237);
    ins->vibratoRate = u8At(r, start + 238);
    ins->fadeout = u16At(r, start + 239);

    int64_t at = start + headerSize;
    int64_t dataBytes = 0;
    for (int32_t s = 0; s < ins->sampleCount; ++s, at += sampleHeaderBytes) {
        const uint32_t length = u32At(r, at);
        dataBytes += length;
        if (s >= xmMaxSamplesKept) continue;
        StoredSample& smp = ins->samples[s];
        smp.lengthBytes = length;
        smp.loopStartBytes = u32At(r, at + 4);
        smp.loopLengthBytes = u32At(r, at + 8);
        smp.volume = u8At(r, at + 12);
        smp.finetune = static_cast<int8_t>(u8At(r, at + 13));
        smp.type = u8At(r, at + 14);
        smp.panning = u8At(r, at + 15);
        smp.relativeNote = static_cast<int8_t>(u8At(r, at + 16));
        nameAt(r, at + 18, xmInstrumentNameBytes, smp.name);
    }
    return at + dataBytes;
}

} // namespace

bool readXmFacts(const uint8_t* bytes, int64_t size, XmFacts* facts) {
    *facts = XmFacts{};
    ByteReader r{bytes, size, false};
    nameAt(r, 17, xmNameBytes, facts->title);
    nameAt(r, 38, xmNameBytes, facts->tracker);
    facts->version = u16At(r, 58);
    const uint32_t headerSize = u32At(r, headerSizeOffset);
    facts->storedPatterns = u16At(r, 70);
    facts->instrumentCount = u16At(r, 72);
    facts->tempo = u16At(r, 76);
    facts->bpm = u16At(r, 78);

    int64_t at = headerSizeOffset + headerSize;
    for (int32_t p = 0; p < facts->storedPatterns && !r.pastEnd; ++p) {
        const uint32_t patternHeader = u32At(r, at);
        at += patternHeader + u16At(r, at + patternHeaderPackedOffset);
    }
    if (facts->instrumentCount > 0) {
        facts->instruments = static_cast<StoredInstrument*>(
            std::calloc(facts->instrumentCount, sizeof(StoredInstrument)));
        if (facts->instruments == nullptr) {
            *facts = XmFacts{};
            return false;
        }
        for (int32_t i = 0; i < facts->instrumentCount && !r.pastEnd; ++i)
            at = instrumentAt(r, at, &facts->instruments[i]);
    }
    facts->truncated = r.pastEnd;
    return true;
}

void freeXmFacts(XmFacts* facts) {
    std::free(facts->instruments);
    *facts = XmFacts{};
}

} // namespace music
