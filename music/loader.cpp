// Reads an XM module through the stream table into a Player; creates and destroys Players.
#include "module.h"

#include "audio_output.h"
#include "load_result.h"
#include "sequencer.h"
#include "xm_format.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>

namespace music {

namespace {

constexpr uint8_t initialGlobalVolumeValue = 64;
constexpr uint8_t orderPadding = 0xFF;
constexpr int32_t maxStoredPatterns = orderTableEntries; // the order table names no more
// Trackers that write XM go up to 1024 rows; above that a count is taken as garbage, so that a
// tiny file cannot ask for gigabytes of empty cells.
constexpr int32_t maxPatternRows = 1024;
constexpr int32_t unstoredPatternRows = 64;
constexpr uint8_t maxCellInstrument = 128;
constexpr uint16_t maxInstruments = 255;
constexpr uint16_t maxTempo = 31;
constexpr uint16_t minBpm = 32;
constexpr uint16_t maxBpm = 255;

// 4-bit packed samples (xm::samplePackingAdpcm) are read by libxmp and libopenmpt too; while
// loading, such a sample has bits 4.
constexpr uint8_t adpcmBits = 4;
constexpr int32_t adpcmStepCount = xm::adpcmStepCount;

uint64_t adpcmBytes(uint64_t frames) {
    return adpcmStepCount + (frames + 1) / 2;
}

// A file cut short inside sample data still loads with the missing values silent; a header that
// claims far more data than the file could have lost fails instead of allocating it.
constexpr uint64_t maxMissingSampleBytes = uint64_t{16} << 20;

// Reads little-endian values through the stream table. A read or seek that cannot be completed
// sets failed, and every later operation does nothing, so callers test the flag once per block.
// The first failure is kept in result; a read that runs out of bytes reports the part of the
// file being read (cutShort, item, sample), which the loader names as it moves on.
struct Reader {
    void* stream;
    int64_t fileSize;
    bool failed;
    LoadResult* result;
    LoadError cutShort;
    int32_t item;
    int32_t sample;
    const StreamInterface* streams; // the Player's table
    Sample* emptySample;            // the Player's stand-in for a missing sample
};

int64_t position(Reader* r) {
    return r->streams->tell(r->stream);
}

void reading(Reader* r, LoadError cutShort, int32_t item, int32_t sample) {
    r->cutShort = cutShort;
    r->item = item;
    r->sample = sample;
}

void stop(Reader* r, LoadError error, int64_t value, int64_t offset) {
    if (r->failed) return;
    r->failed = true;
    *r->result = LoadResult{error, r->item, r->sample, value, offset};
}

void stopCutShort(Reader* r) {
    stop(r, r->cutShort, 0, r->fileSize);
}

// Zeroed room for count records; without it the load stops as out of memory, telling the bytes
// it asked for and where in the file it was.
template <typename T> T* allocateRecords(Reader* r, size_t count, int64_t offset) {
    auto* records = static_cast<T*>(std::calloc(count, sizeof(T)));
    if (records == nullptr)
        stop(r, LoadError::OutOfMemory, static_cast<int64_t>(count * sizeof(T)), offset);
    return records;
}

void readBytes(Reader* r, void* destination, int32_t byteCount) {
    if (r->failed) return;
    if (r->streams->read(destination, byteCount, r->stream) != byteCount) stopCutShort(r);
}

uint8_t readU8(Reader* r) {
    uint8_t b[1] = {0};
    readBytes(r, b, 1);
    return b[0];
}

uint16_t littleU16(const uint8_t* b) {
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint32_t littleU32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

uint16_t readU16(Reader* r) {
    uint8_t b[2] = {0, 0};
    readBytes(r, b, 2);
    return littleU16(b);
}

uint32_t readU32(Reader* r) {
    uint8_t b[4] = {0, 0, 0, 0};
    readBytes(r, b, 4);
    return littleU32(b);
}

// Every offset the layout points at must lie inside the file: a header that sends the reader past
// the end is as cut short as one whose bytes run out.
void seekTo(Reader* r, int64_t target) {
    if (r->failed) return;
    if (target < 0 || target > r->fileSize) {
        stopCutShort(r);
        return;
    }
    r->streams->seek(r->stream, static_cast<int32_t>(target), 0);
    if (position(r) != target) stopCutShort(r);
}

// One pattern's packed cells: bytes past its stated packed size read as 0, so cells that a file
// leaves out at the end of a pattern are empty.
struct PackedCells {
    Reader* r;
    int32_t bytesLeft;
};

uint8_t nextPacked(PackedCells* p) {
    if (p->bytesLeft <= 0) return 0;
    --p->bytesLeft;
    return readU8(p->r);
}

void readCell(PackedCells* p, Cell* cell) {
    const uint8_t first = nextPacked(p);
    if (first & xm::cellPacked) {
        if (first & xm::cellHasNote) cell->note = nextPacked(p);
        if (first & xm::cellHasInstrument) cell->instrument = nextPacked(p);
        if (first & xm::cellHasVolume) cell->volume = nextPacked(p);
        if (first & xm::cellHasEffect) cell->effect = nextPacked(p);
        if (first & xm::cellHasParam) cell->param = nextPacked(p);
    } else {
        cell->note = first;
        cell->instrument = nextPacked(p);
        cell->volume = nextPacked(p);
        cell->effect = nextPacked(p);
        cell->param = nextPacked(p);
    }
    if (cell->note == xm::keyOffNote) cell->note = KEY_OFF;
    if (cell->instrument > maxCellInstrument) cell->instrument = 0;
}

// Where a module's parts lie. Files of format 1.04 keep each instrument's sample data right after
// its headers, behind the patterns; the 1.02 and 1.03 files of FT2's early releases put every
// instrument and sample header first, then the patterns, then all sample data, and 1.02 stores a
// pattern's row count minus one in a single byte, making its header eight bytes of fields.
struct Layout {
    bool instrumentsFirst;
    bool byteRowCount;
};

Layout layoutOf(uint16_t version) {
    const bool early = version == xm::version102 || version == xm::version103;
    return Layout{early, version == xm::version102};
}

bool loadPattern(Reader* r, Pattern* pattern, int32_t channelCount, Layout layout) {
    const int64_t start = position(r);
    const uint32_t headerBytes = readU32(r);
    readU8(r); // packing type
    const uint16_t rowCount =
        layout.byteRowCount ? static_cast<uint16_t>(readU8(r) + 1) : readU16(r);
    const uint16_t packedBytes = readU16(r);
    const uint32_t patternHeaderFieldBytes =
        layout.byteRowCount ? xm::patternHeaderBytesVersion102 : xm::patternHeaderBytes;
    if (r->failed) return false;
    if (rowCount > maxPatternRows) {
        stop(r, LoadError::PatternRows, rowCount, start + xm::patternRowsOffset);
        return false;
    }
    // FT2 skips a longer header to its stated end but never goes back into a shorter one: the
    // fields it has just read are there whatever the length says.
    if (headerBytes > patternHeaderFieldBytes) seekTo(r, start + headerBytes);
    if (r->failed) return false;

    // A pattern of no rows still gets one silent row, so that the row tick always has cells.
    const int32_t storedRows = rowCount == 0 ? 1 : rowCount;
    const size_t cellCount = static_cast<size_t>(storedRows) * static_cast<size_t>(channelCount);
    auto* cells = allocateRecords<Cell>(r, cellCount, position(r));
    if (cells == nullptr) return false;
    pattern->rowCount = storedRows;
    pattern->cells = cells;
    // A pattern of no rows reads nothing, whatever packed size it states.
    if (packedBytes == 0 || rowCount == 0) return true;

    // The packed size says where the next pattern starts, as FT2 and the peers read it: trackers
    // that end a pattern's data after its last non-empty cell leave the rest of it empty, and
    // bytes after the last cell are skipped.
    const int64_t dataEnd = position(r) + packedBytes;
    PackedCells packed{r, packedBytes};
    const int32_t fileCells = rowCount * channelCount;
    for (int32_t i = 0; i < fileCells && packed.bytesLeft > 0; ++i) {
        readCell(&packed, &cells[i]);
        if (r->failed) return false;
    }
    seekTo(r, dataEnd);
    return !r->failed;
}

void readEnvelope(const uint8_t* bytes, EnvelopePoint* points) {
    for (int32_t i = 0; i < envelopePointsRead; ++i) {
        points[i].x = littleU16(bytes + i * xm::envelopePointBytes);
        points[i].y = littleU16(bytes + i * xm::envelopePointBytes + 2);
    }
}

// Keeps the envelope step inside the stored points whatever the file says about them.
void limitEnvelope(uint8_t* pointCount, uint8_t* type, uint8_t sustain, uint8_t loopStart,
                   uint8_t loopEnd) {
    if (*pointCount > envelopePointsRead) *pointCount = envelopePointsRead;
    if (*pointCount < 2) *type = 0;
    if (sustain >= *pointCount) *type &= static_cast<uint8_t>(~xm::envelopeSustain);
    if (loopStart >= *pointCount || loopEnd >= *pointCount)
        *type &= static_cast<uint8_t>(~xm::envelopeLoop);
}

// A name field for the stored facts: up to count bytes, ending at the first NUL, trailing blanks
// dropped. Control bytes would upset a terminal; they show as blanks.
void storeName(const uint8_t* bytes, int32_t count, char* out) {
    int32_t n = 0;
    for (; n < count && bytes[n] != 0; ++n)
        out[n] = bytes[n] < 0x20 || bytes[n] == 0x7F ? ' ' : static_cast<char>(bytes[n]);
    while (n > 0 && out[n - 1] == ' ') --n;
    out[n] = 0;
}

void storeEnvelope(const uint8_t* head, int32_t pointsOffset, int32_t countsIndex,
                   StoredEnvelope* e) {
    for (int32_t i = 0; i < xm::envelopePoints; ++i) {
        e->x[i] = littleU16(head + pointsOffset + i * xm::envelopePointBytes);
        e->y[i] = littleU16(head + pointsOffset + i * xm::envelopePointBytes + 2);
    }
    const uint8_t* counts = head + xm::envelopeCountsOffset;
    e->pointCount = counts[countsIndex];
    e->sustain = counts[2 + 3 * countsIndex];
    e->loopStart = counts[3 + 3 * countsIndex];
    e->loopEnd = counts[4 + 3 * countsIndex];
    e->type = counts[8 + countsIndex];
}

// Leaves length and the loop in bytes as the file states them; settleFrames turns them into
// frames once the data is due, when the stated byte length has placed it. A header that the
// file ends inside keeps what arrived and reads zeros for the rest, as the peers read it. The
// fields go to stored as they are.
void loadSampleHeader(Reader* r, Sample* sample, StoredSample* stored) {
    if (r->failed) return;
    uint8_t head[xm::sampleHeaderBytes] = {};
    const int32_t got = r->streams->read(head, xm::sampleHeaderBytes, r->stream);
    if (got < 0 || got > xm::sampleHeaderBytes) {
        stopCutShort(r);
        return;
    }
    const uint8_t type = head[xm::sampleTypeOffset];
    sample->panning = head[xm::samplePanningOffset];
    sample->relativeNote = static_cast<int8_t>(head[xm::sampleRelativeNoteOffset]);
    const uint8_t packing = head[xm::samplePackingOffset];

    sample->length = littleU32(head);
    sample->loopStart = littleU32(head + xm::sampleLoopStartOffset);
    sample->loopLength = littleU32(head + xm::sampleLoopLengthOffset);
    sample->volume = head[xm::sampleVolumeOffset];
    sample->finetune = static_cast<int8_t>(head[xm::sampleFinetuneOffset]);

    sample->bits = 8;
    sample->loopMode = LOOP_NONE;
    if (type & xm::sampleLoopForward) sample->loopMode = LOOP_FORWARD;
    if (type & xm::sampleLoopPingPong) sample->loopMode = LOOP_PINGPONG;
    if (type & xm::sample16Bit) sample->bits = 16;
    if (packing == xm::samplePackingAdpcm && (type & (xm::sample16Bit | xm::sampleStereo)) == 0)
        sample->bits = adpcmBits;

    storeName(head + xm::sampleNameOffset, xm::instrumentNameBytes, stored->name);
    stored->lengthBytes = sample->length;
    stored->loopStartBytes = sample->loopStart;
    stored->loopLengthBytes = sample->loopLength;
    stored->volume = sample->volume;
    stored->finetune = sample->finetune;
    stored->type = type;
    stored->panning = head[xm::samplePanningOffset];
    stored->relativeNote = sample->relativeNote;
    stored->packing = packing;
}

// What the sample's data takes in the file. FT2 and the peers count a 16-bit sample's odd last
// byte in and skip it.
uint64_t storedBytes(const Sample* sample) {
    if (sample->bits == adpcmBits) return sample->length != 0 ? adpcmBytes(sample->length) : 0;
    return sample->length;
}

void settleFrames(Sample* sample) {
    if (sample->loopMode == LOOP_NONE) {
        sample->loopStart = 0;
        sample->loopLength = sample->length;
    }
    if (sample->bits == 16) {
        sample->length /= 2;
        sample->loopStart /= 2;
        sample->loopLength /= 2;
    }
    // A loop reaching past the data is cut at its end, so that the loop guard stays inside the
    // data and the mixer never wraps outside it.
    if (sample->loopStart > sample->length) sample->loopStart = sample->length;
    if (sample->loopLength > sample->length - sample->loopStart)
        sample->loopLength = sample->length - sample->loopStart;
    if (sample->loopLength == 0) {
        sample->loopStart = 0;
        sample->loopLength = sample->length;
        sample->loopMode = LOOP_NONE;
    }
}

void writeLoopGuard(Sample* sample) {
    int16_t* data = sample->data;
    const uint64_t loopEnd = static_cast<uint64_t>(sample->loopStart) + sample->loopLength;
    if (sample->loopMode == LOOP_PINGPONG) data[loopEnd] = data[loopEnd - 1];
    if (sample->loopMode == LOOP_FORWARD) data[loopEnd] = data[sample->loopStart];
}

// Decodes the packed frames that are in the file into data as 16-bit values; returns how many.
uint64_t readAdpcm(Reader* r, int16_t* data, uint64_t frames, uint64_t presentBytes) {
    int8_t steps[adpcmStepCount] = {};
    if (presentBytes < adpcmStepCount ||
        r->streams->read(steps, adpcmStepCount, r->stream) != adpcmStepCount)
        return 0;
    uint64_t bytesLeft = presentBytes - adpcmStepCount;
    uint8_t packed[1024];
    uint8_t value = 0;
    uint64_t frame = 0;
    while (bytesLeft > 0 && frame < frames) {
        const int32_t want =
            bytesLeft < sizeof(packed) ? static_cast<int32_t>(bytesLeft) : int32_t{sizeof(packed)};
        const int32_t got = r->streams->read(packed, want, r->stream);
        for (int32_t i = 0; i < got; ++i) {
            for (const uint8_t nibble :
                 {static_cast<uint8_t>(packed[i] & 0x0F), static_cast<uint8_t>(packed[i] >> 4)}) {
                if (frame == frames) break;
                value = static_cast<uint8_t>(value + static_cast<uint8_t>(steps[nibble]));
                data[frame++] = static_cast<int16_t>(static_cast<int8_t>(value) * 256);
            }
        }
        if (got != want) break;
        bytesLeft -= static_cast<uint64_t>(got);
    }
    return frame;
}

bool loadSampleData(Reader* r, Sample* sample, uint64_t neededBytes, uint64_t* missingBytes) {
    const uint64_t frames = sample->length;
    const bool adpcm = sample->bits == adpcmBits;
    const int64_t here = position(r);
    const uint64_t availableBytes =
        here >= 0 && here < r->fileSize ? static_cast<uint64_t>(r->fileSize - here) : 0;
    const uint64_t presentBytes = neededBytes < availableBytes ? neededBytes : availableBytes;
    *missingBytes += neededBytes - presentBytes;
    if (*missingBytes > maxMissingSampleBytes) {
        stop(r, LoadError::SampleDataMissing, static_cast<int64_t>(*missingBytes), r->fileSize);
        return false;
    }
    if (frames == 0) { // a 16-bit sample of one byte: nothing to keep
        seekTo(r, here + static_cast<int64_t>(presentBytes));
        return !r->failed;
    }
    if (frames + sampleGuardValues > std::numeric_limits<size_t>::max() / sizeof(int16_t)) {
        stop(r, LoadError::SampleTooLong, static_cast<int64_t>(frames), here);
        return false;
    }

    auto* data = allocateRecords<int16_t>(r, static_cast<size_t>(frames) + sampleGuardValues, here);
    if (data == nullptr) return false;
    sample->data = data;
    if (adpcm) {
        readAdpcm(r, data, frames, presentBytes);
        sample->bits = 16;
        writeLoopGuard(sample);
        seekTo(r, here + static_cast<int64_t>(presentBytes));
        return !r->failed;
    }

    // The stored bytes are read into the value buffer itself and widened in place; presentBytes
    // fits in 32 bits because the whole file does.
    const uint64_t valueBytes = frames * sample->bits / 8;
    auto* raw = reinterpret_cast<uint8_t*>(data);
    int32_t gotBytes = r->streams->read(
        raw, static_cast<int32_t>(presentBytes < valueBytes ? presentBytes : valueBytes),
        r->stream);
    if (gotBytes < 0) gotBytes = 0;
    uint64_t presentFrames = 0;
    if (sample->bits == 16) {
        presentFrames = static_cast<uint64_t>(gotBytes) / 2;
        for (uint64_t i = 0; i < presentFrames; ++i)
            data[i] = static_cast<int16_t>(littleU16(raw + 2 * i));
        // A value of which only the low byte arrived counts as missing.
        if (gotBytes & 1) raw[gotBytes - 1] = 0;
    } else {
        presentFrames = static_cast<uint64_t>(gotBytes);
        // Backwards, so that no byte is overwritten before it has been widened.
        for (uint64_t i = presentFrames; i-- > 0;)
            data[i] = static_cast<int16_t>(static_cast<int8_t>(raw[i]) * 256);
    }
    sample->bits = 16;

    // Deltas summed in 16 bits; values that never arrived stay 0 rather than holding the last
    // level.
    uint16_t sum = 0;
    for (uint64_t i = 0; i < presentFrames; ++i) {
        sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(data[i]));
        data[i] = static_cast<int16_t>(sum);
    }
    writeLoopGuard(sample);
    seekTo(r, here + static_cast<int64_t>(presentBytes));
    return !r->failed;
}

// The instrument's header and its sample headers; the data follows apart (loadInstrumentData).
// skippedBytes gets the data bytes of the samples past the sixteenth, which follow the kept ones.
// stored gets the fields as the file states them, for every sample header it states.
bool loadInstrumentHeaders(Reader* r, int32_t index, Instrument* instrument,
                           StoredInstrument* stored, uint64_t* skippedBytes) {
    reading(r, LoadError::InstrumentCutShort, index, -1);
    *skippedBytes = 0;
    if (r->failed) return false;
    const int64_t start = position(r);
    // FT2 reads an instrument header with whatever the file still holds and zeros for the rest,
    // so a module that ends before some of the instruments its header counts (converters and
    // strippers write such files) loads with those instruments empty, as the peers load it too.
    // It reads no more than the stated header size either: fields past a short header are zero,
    // as in libopenmpt, and a size of 0 stands for the usual 263 bytes.
    uint8_t head[xm::instrumentHeaderBytes] = {};
    int32_t gotBytes = r->streams->read(head, 4, r->stream);
    const uint32_t statedBytes = littleU32(head);
    const uint32_t headerBytes = statedBytes == 0 ? xm::instrumentHeaderBytes : statedBytes;
    const int32_t fieldBytes = headerBytes < xm::instrumentHeaderBytes
                                   ? static_cast<int32_t>(headerBytes)
                                   : xm::instrumentHeaderBytes;
    if (gotBytes == 4 && fieldBytes > 4)
        gotBytes += r->streams->read(head + 4, fieldBytes - 4, r->stream);
    const int64_t headerEnd = start + headerBytes;
    const uint16_t storedSamples = littleU16(head + xm::instrumentSampleCountOffset);
    if (storedSamples > maxStoredSamplesPerInstrument) {
        stop(r, LoadError::TooManySamples, storedSamples, start + xm::instrumentSampleCountOffset);
        return false;
    }
    storeName(head + xm::instrumentNameOffset, xm::instrumentNameBytes, stored->name);
    stored->sampleCount = storedSamples;
    const int32_t sampleCount =
        storedSamples < maxSamplesPerInstrument ? storedSamples : maxSamplesPerInstrument;
    instrument->sampleCount = sampleCount;

    if (sampleCount == 0) {
        for (Sample*& slot : instrument->samples) slot = r->emptySample;
        // Trackers give an empty instrument its full header size even when they end the file
        // before the unused rest of it; nothing of that rest is read, so the instrument is whole.
        seekTo(r, headerEnd < r->fileSize ? headerEnd : r->fileSize);
        return !r->failed;
    }
    // A file that ends inside the header keeps the fields that arrived and zeros for the rest,
    // as FT2 and the peers read it; the sample headers after it read likewise, and sample data
    // that never arrived is silent.
    // The sample header size is not used: every sample header is taken as 40 bytes.
    std::memcpy(instrument->sampleMap, head + xm::sampleMapOffset, sampleMapNotes);
    readEnvelope(head + xm::volumeEnvelopeOffset, instrument->volumeEnvelope);
    readEnvelope(head + xm::panningEnvelopeOffset, instrument->panningEnvelope);
    const uint8_t* fields = head + xm::envelopeCountsOffset;
    const uint16_t fileFadeout = littleU16(head + xm::fadeoutOffset);
    instrument->volumePointCount = fields[0];
    instrument->panningPointCount = fields[1];
    instrument->volumeSustain = fields[2];
    instrument->volumeLoopStart = fields[3];
    instrument->volumeLoopEnd = fields[4];
    instrument->panningSustain = fields[5];
    instrument->panningLoopStart = fields[6];
    instrument->panningLoopEnd = fields[7];
    instrument->volumeType = fields[8];
    instrument->panningType = fields[9];
    // The limits below switch off a one-point envelope; FT2 keeps it, so the flags stay too.
    instrument->volumeTypeAsRead = fields[8];
    instrument->panningTypeAsRead = fields[9];
    instrument->autoVibratoType = fields[10];
    instrument->autoVibratoSweep = fields[11];
    instrument->autoVibratoDepth = fields[12];
    instrument->autoVibratoRate = fields[13];
    instrument->fadeout = static_cast<uint16_t>(fileFadeout * 2);
    std::memcpy(stored->noteSamples, head + xm::sampleMapOffset, sampleMapNotes);
    storeEnvelope(head, xm::volumeEnvelopeOffset, 0, &stored->volume);
    storeEnvelope(head, xm::panningEnvelopeOffset, 1, &stored->panning);
    stored->vibratoType = fields[10];
    stored->vibratoSweep = fields[11];
    stored->vibratoDepth = fields[12];
    stored->vibratoRate = fields[13];
    stored->fadeout = fileFadeout;
    limitEnvelope(&instrument->volumePointCount, &instrument->volumeType, instrument->volumeSustain,
                  instrument->volumeLoopStart, instrument->volumeLoopEnd);
    limitEnvelope(&instrument->panningPointCount, &instrument->panningType,
                  instrument->panningSustain, instrument->panningLoopStart,
                  instrument->panningLoopEnd);
    seekTo(r, headerEnd < r->fileSize ? headerEnd : r->fileSize);

    stored->samples = allocateRecords<StoredSample>(r, storedSamples, position(r));
    if (stored->samples == nullptr) return false;
    for (int32_t i = 0; i < sampleCount; ++i) {
        auto* sample = allocateRecords<Sample>(r, 1, position(r));
        if (sample == nullptr) return false;
        instrument->samples[i] = sample;
        reading(r, LoadError::SampleHeaderCutShort, index, i);
        loadSampleHeader(r, sample, &stored->samples[i]);
        if (r->failed) return false;
    }
    for (int32_t i = sampleCount; i < maxSamplesPerInstrument; ++i)
        instrument->samples[i] = r->emptySample;
    for (int32_t i = sampleCount; i < storedSamples; ++i) {
        reading(r, LoadError::SampleHeaderCutShort, index, i);
        Sample extra{};
        loadSampleHeader(r, &extra, &stored->samples[i]);
        *skippedBytes += storedBytes(&extra);
    }
    return !r->failed;
}

bool loadInstrumentData(Reader* r, int32_t index, Instrument* instrument, uint64_t skippedBytes,
                        uint64_t* missingBytes) {
    for (int32_t i = 0; i < instrument->sampleCount; ++i) {
        Sample* sample = instrument->samples[i];
        reading(r, LoadError::SampleDataMissing, index, i);
        const uint64_t fileBytes = storedBytes(sample);
        settleFrames(sample);
        if (fileBytes != 0 && !loadSampleData(r, sample, fileBytes, missingBytes)) return false;
    }
    // Data of samples past the sixteenth is not kept; a file cut inside it loses nothing.
    const int64_t afterSkipped = position(r) + static_cast<int64_t>(skippedBytes);
    seekTo(r, afterSkipped < r->fileSize ? afterSkipped : r->fileSize);
    return !r->failed;
}

// Freed on every way out of loadModule.
struct SkippedBytes {
    uint64_t* bytes;
    ~SkippedBytes() { std::free(bytes); }
};

// The magic text: a file that ends inside it but agrees with it so far is a cut header.
bool readMagic(Reader* r) {
    char magic[xm::magicBytes] = {};
    const int32_t magicBytes = r->streams->read(magic, xm::magicBytes, r->stream);
    if (magicBytes <= 0 || std::memcmp(magic, xm::magic, static_cast<size_t>(magicBytes)) != 0) {
        stop(r, LoadError::NotAnXmModule, 0, 0);
        return false;
    }
    if (magicBytes < xm::magicBytes) {
        stopCutShort(r);
        return false;
    }
    return true;
}

// Every count and setting in the header is an unsigned 16-bit field.
struct Header {
    uint16_t version;
    uint32_t headerBytes;
    uint16_t songLength;
    uint16_t restartPosition;
    uint16_t channelCount;
    uint16_t storedPatterns;
    uint16_t instrumentCount;
    int16_t flags;
    uint16_t tempo;
    uint16_t bpm;
};

// The header and the order table, checked, into the player; leaves the stream at the patterns.
bool readHeader(Reader* r, Player* player, Header* h) {
    // The names, for the stored facts only; a file that ends inside them fails at the seek.
    uint8_t names[xm::versionOffset - xm::magicBytes] = {};
    r->streams->read(names, static_cast<int32_t>(sizeof names), r->stream);
    StoredModule* stored = &player->stored;
    storeName(names + xm::titleOffset - xm::magicBytes, xm::nameBytes, stored->title);
    storeName(names + xm::trackerOffset - xm::magicBytes, xm::nameBytes, stored->tracker);

    seekTo(r, xm::versionOffset);
    h->version = readU16(r);
    h->headerBytes = readU32(r);
    h->songLength = readU16(r);
    h->restartPosition = readU16(r);
    h->channelCount = readU16(r);
    h->storedPatterns = readU16(r);
    h->instrumentCount = readU16(r);
    h->flags = static_cast<int16_t>(readU16(r));
    h->tempo = readU16(r);
    h->bpm = readU16(r);
    if (r->failed) return false;
    stored->version = h->version;
    stored->storedPatterns = h->storedPatterns;
    stored->instrumentCount = h->instrumentCount;
    stored->tempo = h->tempo;
    stored->bpm = h->bpm;
    // Only the entries in use have to be in the file; the rest of the table stays zero.
    const int32_t orderBytes = r->streams->read(player->orderTable, orderTableEntries, r->stream);

    if (h->songLength > orderTableEntries) {
        stop(r, LoadError::SongLength, h->songLength, xm::songLengthOffset);
        return false;
    }
    if (orderBytes < h->songLength) {
        stop(r, LoadError::OrdersCutShort, h->songLength, r->fileSize);
        return false;
    }
    // FT2 plays a song of no orders as pattern 0 once, and ends a song before a tail of 0xFF
    // that some writers pad the order table with.
    auto songLength = static_cast<int16_t>(h->songLength);
    if (songLength == 0) {
        songLength = 1;
        player->orderTable[0] = 0;
    }
    int16_t beforePadding = orderTableEntries;
    while (beforePadding > 1 && player->orderTable[beforePadding - 1] == orderPadding)
        --beforePadding;
    if (songLength > beforePadding) songLength = beforePadding;
    if (h->channelCount < 1 || h->channelCount > maxChannels) {
        stop(r, LoadError::ChannelCount, h->channelCount, xm::channelCountOffset);
        return false;
    }
    if (h->storedPatterns > maxStoredPatterns) {
        stop(r, LoadError::PatternCount, h->storedPatterns, xm::patternCountOffset);
        return false;
    }
    // Cells name instruments up to 128 and FT2 holds no more; the peers refuse a count above 255,
    // which only a damaged header states, before it can ask for room that no file holds.
    if (h->instrumentCount > maxInstruments) {
        stop(r, LoadError::InstrumentCount, h->instrumentCount, xm::instrumentCountOffset);
        return false;
    }

    player->songLength = songLength;
    player->restartPosition =
        h->restartPosition < songLength ? static_cast<int16_t>(h->restartPosition) : int16_t{0};
    player->channelCount = static_cast<int16_t>(h->channelCount);
    player->flags = h->flags;
    // FT2 holds the starting speed and BPM to what its own Fxx can set, so a header beyond them
    // neither stops the song nor runs it at thousands of ticks a second.
    player->defaultTempo = static_cast<int16_t>(std::clamp<uint16_t>(h->tempo, 1, maxTempo));
    player->defaultBpm = static_cast<int16_t>(std::clamp<uint16_t>(h->bpm, minBpm, maxBpm));
    const int64_t firstPart = xm::headerSizeOffset + int64_t{h->headerBytes};
    if (firstPart > r->fileSize) {
        stop(r, LoadError::HeaderSize, firstPart, r->fileSize);
        return false;
    }
    seekTo(r, firstPart);
    return !r->failed;
}

// Pattern records for every pattern the orders name, stored or not, and the instrument records.
bool allocateTables(Reader* r, Player* player, const Header& h) {
    int32_t highestPattern = 0;
    for (int32_t i = 0; i < player->songLength; ++i)
        if (player->orderTable[i] > highestPattern) highestPattern = player->orderTable[i];
    player->patternCount = highestPattern + 1;
    player->patternRecordCount =
        player->patternCount > h.storedPatterns ? player->patternCount : h.storedPatterns;
    player->patterns = allocateRecords<Pattern>(r, player->patternRecordCount, position(r));
    if (player->patterns == nullptr) return false;
    player->instrumentCount = static_cast<int16_t>(h.instrumentCount);
    if (h.instrumentCount == 0) return true;
    player->instruments = allocateRecords<Instrument>(r, h.instrumentCount, position(r));
    if (player->instruments == nullptr) return false;
    player->stored.instruments =
        allocateRecords<StoredInstrument>(r, h.instrumentCount, position(r));
    return player->stored.instruments != nullptr;
}

// The stored patterns, then an empty one for each pattern the orders name beyond them.
bool loadPatterns(Reader* r, Player* player, const Header& h, Layout layout) {
    for (int32_t i = 0; i < h.storedPatterns; ++i) {
        reading(r, LoadError::PatternCutShort, i, -1);
        if (!loadPattern(r, &player->patterns[i], h.channelCount, layout)) return false;
    }
    for (int32_t i = h.storedPatterns; i < player->patternRecordCount; ++i) {
        Pattern* pattern = &player->patterns[i];
        const size_t cellCount = static_cast<size_t>(unstoredPatternRows) * h.channelCount;
        pattern->cells = allocateRecords<Cell>(r, cellCount, position(r));
        if (pattern->cells == nullptr) return false;
        pattern->rowCount = unstoredPatternRows;
    }
    return true;
}

// The instruments' headers, before the patterns in the early layout, and their sample data.
bool loadInstruments(Reader* r, Player* player, const Header& h, Layout layout,
                     SkippedBytes* skipped) {
    Instrument* instruments = player->instruments;
    StoredInstrument* stored = player->stored.instruments;
    uint64_t missingBytes = 0;
    for (int32_t i = 0; i < h.instrumentCount; ++i) {
        uint64_t skippedHere = 0;
        if (layout.instrumentsFirst)
            skippedHere = skipped->bytes[i];
        else if (!loadInstrumentHeaders(r, i, &instruments[i], &stored[i], &skippedHere))
            return false;
        if (!loadInstrumentData(r, i, &instruments[i], skippedHere, &missingBytes)) return false;
    }
    return true;
}

} // namespace

bool loadModule(Player* player, LoadContext* context) {
    if (context == nullptr) return false;
    context->result = LoadResult{LoadError::None, -1, -1, 0, 0};
    if (player == nullptr || context->stream == nullptr) {
        context->result.error = LoadError::NoStream;
        return false;
    }
    Reader reader{context->stream,           0,  false, &context->result,
                  LoadError::HeaderCutShort, -1, -1,    &player->streams,
                  &player->standIns.empty};
    Reader* r = &reader;

    // The block's size, so that offsets past its end are caught before they are used.
    r->streams->seek(r->stream, 0, 2);
    r->fileSize = position(r);
    r->streams->seek(r->stream, 0, 0);
    if (!readMagic(r)) return false;

    player->tickHandler = sequencerTick;
    player->initialGlobalVolume = initialGlobalVolumeValue;

    Header header{};
    if (!readHeader(r, player, &header) || !allocateTables(r, player, header)) return false;
    const Layout layout = layoutOf(header.version);

    // The early layout reads every instrument's headers before any data, so what each skips is
    // kept until its data is due.
    SkippedBytes skipped{nullptr};
    if (layout.instrumentsFirst && header.instrumentCount > 0) {
        skipped.bytes = allocateRecords<uint64_t>(r, header.instrumentCount, position(r));
        if (skipped.bytes == nullptr) return false;
        for (int32_t i = 0; i < header.instrumentCount; ++i)
            if (!loadInstrumentHeaders(r, i, &player->instruments[i],
                                       &player->stored.instruments[i], &skipped.bytes[i]))
                return false;
    }
    return loadPatterns(r, player, header, layout) &&
           loadInstruments(r, player, header, layout, &skipped);
}

Player* createPlayer(const MemoryStream* description, const StreamInterface& streams) {
    return createPlayerWithResult(description, nullptr, streams);
}

Player* createPlayerWithResult(const MemoryStream* description, LoadResult* result,
                               const StreamInterface& streams) {
    LoadResult unused{};
    LoadResult* out = result != nullptr ? result : &unused;
    *out = LoadResult{LoadError::NoStream, -1, -1, 0, 0};
    const StreamInterface s = streams;
    if (!streamInterfaceComplete(s)) return nullptr;
    auto* player = new (std::nothrow) Player{};
    auto* context = static_cast<LoadContext*>(std::calloc(1, sizeof(LoadContext)));
    if (player == nullptr || context == nullptr) {
        std::free(context);
        delete player;
        out->error = LoadError::OutOfMemory;
        out->value = static_cast<int64_t>(sizeof(Player) + sizeof(LoadContext));
        return nullptr;
    }
    context->stream = s.open(description);
    if (context->stream == nullptr) {
        std::free(context);
        delete player;
        return nullptr;
    }
    player->streams = s;
    const bool loaded = loadModule(player, context);
    *out = context->result;
    s.close(context->stream);
    std::free(context);
    if (!loaded) {
        destroyPlayer(player);
        return nullptr;
    }
    return player;
}

bool destroyPlayer(Player* player) {
    if (player == nullptr) return false;
    while (player->output.renderBusy.load(std::memory_order_acquire) != 0) {
    }
    haltPlayback(player);

    if (player->instruments != nullptr) {
        for (int32_t i = 0; i < player->instrumentCount; ++i) {
            Instrument* instrument = &player->instruments[i];
            const int32_t owned = instrument->sampleCount < maxSamplesPerInstrument
                                      ? instrument->sampleCount
                                      : maxSamplesPerInstrument;
            for (int32_t s = 0; s < owned; ++s) {
                Sample* sample = instrument->samples[s];
                if (sample == nullptr || sample == &player->standIns.empty) continue;
                std::free(sample->data);
                std::free(sample);
            }
        }
        std::free(player->instruments);
    }
    if (player->stored.instruments != nullptr) {
        for (int32_t i = 0; i < player->stored.instrumentCount; ++i)
            std::free(player->stored.instruments[i].samples);
        std::free(player->stored.instruments);
    }
    if (player->patterns != nullptr) {
        for (int32_t i = 0; i < player->patternRecordCount; ++i)
            std::free(player->patterns[i].cells);
        std::free(player->patterns);
    }
    delete player;
    return true;
}

} // namespace music
