// Tests of the module loader: header, cells, instruments, sample decoding, malformed and cut files.
#include "music/audio_output.h"
#include "music/module.h"
#include "music/sequencer.h"
#include "music/stream.h"
#include "xm_builder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace music;

struct PlayerDeleter {
    void operator()(Player* p) const { destroyPlayer(p); }
};
using PlayerPtr = std::unique_ptr<Player, PlayerDeleter>;

// Loads from a heap block of exactly the file's size, so that a read past its end is caught.
PlayerPtr load(const xmb::Bytes& bytes, LoadResult* result = nullptr) {
    auto* block = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
    const MemoryStream description{static_cast<int32_t>(bytes.size()), 0, block};
    Player* player = result != nullptr ? createPlayerWithResult(&description, result)
                                       : createPlayer(&description);
    std::free(block);
    return PlayerPtr(player);
}

// The reason a module is refused; fails the test when it loads.
LoadResult refusal(const xmb::Bytes& bytes) {
    LoadResult result{};
    EXPECT_EQ(load(bytes, &result), nullptr);
    return result;
}

LoadResult refusal(const xmb::Module& m) {
    return refusal(xmb::build(m));
}

void expectResult(const LoadResult& got, const LoadResult& want, const char* what) {
    EXPECT_EQ(got.error, want.error) << what;
    EXPECT_EQ(got.item, want.item) << what;
    EXPECT_EQ(got.sample, want.sample) << what;
    EXPECT_EQ(got.value, want.value) << what;
    EXPECT_EQ(got.offset, want.offset) << what;
}

xmb::Bytes cut(const xmb::Bytes& bytes, size_t size) {
    return xmb::Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

PlayerPtr load(const xmb::Module& m) {
    return load(xmb::build(m));
}

const Cell& cellAt(const Player* p, int32_t pattern, int32_t row, int32_t channel) {
    return p->patterns[pattern].cells[row * p->channelCount + channel];
}

void expectEmptyCells(const Pattern& pattern, int32_t rows, int32_t channels) {
    ASSERT_EQ(pattern.rowCount, rows);
    ASSERT_NE(pattern.cells, nullptr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(pattern.cells);
    for (int32_t i = 0; i < rows * channels * 5; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

xmb::Module withInstrument(const xmb::Instrument& ins) {
    xmb::Module m;
    m.instruments.push_back(ins);
    return m;
}

xmb::Module withSamples(std::vector<xmb::Sample> samples) {
    xmb::Instrument ins;
    ins.samples = std::move(samples);
    return withInstrument(ins);
}

void expectGuardsZero(const Sample* s, uint32_t from) {
    for (uint32_t i = from; i < s->length + sampleGuardValues; ++i)
        EXPECT_EQ(s->data[i], 0) << "index " << i;
}

TEST(LoaderHeader, ShortHeaderLikeTheDemoModule) {
    xmb::Module m;
    m.headerSize = 29; // 20 + a song length of 9: the order table is cut after 9 entries
    m.channelCount = 6;
    m.orders = {9, 4, 5, 8, 1, 1, 1, 2, 7};
    m.flags = 1;
    m.tempo = 7;
    m.bpm = 132;
    for (int i = 0; i < 11; ++i) m.patterns.push_back(xmb::pattern(64, {}));
    PlayerPtr p = load(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->songLength, 9);
    EXPECT_EQ(p->restartPosition, 0);
    EXPECT_EQ(p->channelCount, 6);
    EXPECT_EQ(p->patternCount, 10);
    EXPECT_EQ(p->patternRecordCount, 11);
    EXPECT_EQ(p->instrumentCount, 0);
    EXPECT_EQ(p->flags, 1);
    EXPECT_EQ(p->defaultTempo, 7);
    EXPECT_EQ(p->defaultBpm, 132);
    EXPECT_EQ(p->initialGlobalVolume, 64);
    EXPECT_EQ(p->tickHandler, &sequencerTick);
    EXPECT_EQ(p->orderTable[8], 7);
    // Past the song length the table holds the bytes that follow: the first pattern header.
    EXPECT_EQ(p->orderTable[9], 9);
    EXPECT_EQ(p->orderTable[14], 64);
    for (int i = 0; i < 11; ++i) expectEmptyCells(p->patterns[i], 64, 6);
}

TEST(LoaderHeader, ValuesOutsideTheRecordsAreRejectedOrClamped) {
    auto loads = [](void (*edit)(xmb::Module&)) {
        xmb::Module m;
        m.orders = {0, 0, 0};
        edit(m);
        return load(m);
    };
    EXPECT_EQ(loads([](xmb::Module& m) { m.channelCount = 0; }), nullptr);
    EXPECT_EQ(loads([](xmb::Module& m) { m.channelCount = -2; }), nullptr);
    EXPECT_EQ(loads([](xmb::Module& m) { m.channelCount = 33; }), nullptr);
    EXPECT_NE(loads([](xmb::Module& m) { m.channelCount = 32; }), nullptr);
    EXPECT_NE(loads([](xmb::Module& m) { m.songLength = 0; }), nullptr);      // FT2: pattern 0 once
    EXPECT_EQ(loads([](xmb::Module& m) { m.songLength = 0xFFFF; }), nullptr); // -1 in the file
    EXPECT_EQ(loads([](xmb::Module& m) { m.songLength = 257; }), nullptr);
    EXPECT_NE(loads([](xmb::Module& m) { m.songLength = 256; }), nullptr);
    EXPECT_EQ(loads([](xmb::Module& m) { m.instrumentCountField = 0x8000; }), nullptr);
    EXPECT_EQ(loads([](xmb::Module& m) {
                  m.patternCountField = 257;
                  for (int i = 0; i < 257; ++i) m.patterns.push_back(xmb::pattern(1, {}));
              }),
              nullptr);
    auto restartOf = [](int16_t restart) {
        xmb::Module m;
        m.orders = {0, 0, 0};
        m.restartPosition = restart;
        PlayerPtr p = load(m);
        return p ? p->restartPosition : -999;
    };
    EXPECT_EQ(restartOf(3), 0);
    EXPECT_EQ(restartOf(-1), 0);
    EXPECT_EQ(restartOf(2), 2);
}

TEST(LoaderHeader, WrongMagicOrTooShortFails) {
    xmb::Bytes good = xmb::build(xmb::Module{});
    ASSERT_NE(load(good), nullptr);
    xmb::Bytes bad = good;
    bad[16] = '!'; // the final blank counts
    EXPECT_EQ(load(bad), nullptr);
    bad = good;
    bad[0] = 'e';
    EXPECT_EQ(load(bad), nullptr);
    EXPECT_EQ(load(xmb::Bytes(good.begin(), good.begin() + 16)), nullptr);
    EXPECT_EQ(load(xmb::Bytes{}), nullptr);
}

TEST(LoaderHeader, OnlyTheOrdersInUseMustBeInTheFile) {
    xmb::Module m;
    m.headerSize = 22;
    m.orders = {0, 0};
    xmb::Bytes bytes = xmb::build(m); // 82 bytes: the table stops with the file
    PlayerPtr p = load(bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->orderTable[2], 0);
    bytes.pop_back();
    EXPECT_EQ(load(bytes), nullptr);
}

TEST(LoaderPatterns, PackedAndPlainCells) {
    xmb::Module m;
    m.orders = {0, 1};
    xmb::Bytes cells = {0x83, 0x31, 0x05,                    // note and instrument only
                        0x80,                                // nothing at all
                        0x61, 0x02, 0x10, 0x0C, 0x20,        // plain: note 97
                        0x9F, 97,   129,  0x40, 0x0F, 0x06}; // every field packed
    m.patterns.push_back(xmb::pattern(2, cells));
    m.patterns.push_back(
        xmb::pattern(1, xmb::plainCells({{0x30, 128, 1, 2, 3}, {0, 255, 0, 0, 0}})));
    PlayerPtr p = load(m);
    ASSERT_NE(p, nullptr);
    const Cell& a = cellAt(p.get(), 0, 0, 0);
    EXPECT_EQ(a.note, 0x31);
    EXPECT_EQ(a.instrument, 5);
    EXPECT_EQ(a.volume | a.effect | a.param, 0);
    const Cell& b = cellAt(p.get(), 0, 0, 1);
    EXPECT_EQ(b.note | b.instrument | b.volume | b.effect | b.param, 0);
    const Cell& c = cellAt(p.get(), 0, 1, 0);
    EXPECT_EQ(c.note, KEY_OFF);
    EXPECT_EQ(c.instrument, 2);
    EXPECT_EQ(c.volume, 0x10);
    EXPECT_EQ(c.effect, 0x0C);
    EXPECT_EQ(c.param, 0x20);
    const Cell& d = cellAt(p.get(), 0, 1, 1);
    EXPECT_EQ(d.note, KEY_OFF);
    EXPECT_EQ(d.instrument, 0);
    EXPECT_EQ(d.volume, 0x40);
    EXPECT_EQ(d.effect, 0x0F);
    EXPECT_EQ(d.param, 0x06);
    // The next pattern starts where the last cell ended.
    ASSERT_EQ(p->patterns[1].rowCount, 1);
    EXPECT_EQ(cellAt(p.get(), 1, 0, 0).note, 0x30);
    EXPECT_EQ(cellAt(p.get(), 1, 0, 0).instrument, 128);
    EXPECT_EQ(cellAt(p.get(), 1, 0, 0).param, 3);
    EXPECT_EQ(cellAt(p.get(), 1, 0, 1).instrument, 0);
}

TEST(LoaderPatterns, PackedSizeZeroConsumesNoCellBytes) {
    xmb::Module m;
    m.patterns.push_back(xmb::pattern(3, {}));
    m.patterns.push_back(xmb::pattern(1, xmb::packCells({{0x20, 1, 0, 0, 0}, {}})));
    PlayerPtr p = load(m);
    ASSERT_NE(p, nullptr);
    expectEmptyCells(p->patterns[0], 3, 2);
    EXPECT_EQ(cellAt(p.get(), 1, 0, 0).note, 0x20);
}

TEST(LoaderPatterns, PatternsNamedButNotStoredAreSixtyFourEmptyRows) {
    xmb::Module m;
    m.channelCount = 3;
    m.orders = {0, 12, 3};
    for (int i = 0; i < 10; ++i) m.patterns.push_back(xmb::pattern(8, {}));
    PlayerPtr p = load(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->patternCount, 13);
    EXPECT_EQ(p->patternRecordCount, 13);
    EXPECT_EQ(p->patterns[9].rowCount, 8);
    for (int i = 10; i < 13; ++i) expectEmptyCells(p->patterns[i], 64, 3);

    // More stored than named: every stored one is kept.
    xmb::Module few;
    for (int i = 0; i < 4; ++i) few.patterns.push_back(xmb::pattern(2, {}));
    PlayerPtr q = load(few);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->patternCount, 1);
    EXPECT_EQ(q->patternRecordCount, 4);
}

TEST(LoaderPatterns, RowCountLimits) {
    xmb::Module m;
    xmb::Pattern noRows; // no rows but a packed size: no cell is read
    noRows.rows = 0;
    noRows.packedSize = 1;
    m.patterns.push_back(noRows);
    m.patterns.push_back(xmb::pattern(1, xmb::packCells({{0x11, 0, 0, 0, 0}, {}})));
    m.patterns.push_back(xmb::pattern(1024, {}));
    PlayerPtr p = load(m);
    ASSERT_NE(p, nullptr);
    expectEmptyCells(p->patterns[0], 1, 2);
    EXPECT_EQ(cellAt(p.get(), 1, 0, 0).note, 0x11);
    expectEmptyCells(p->patterns[2], 1024, 2);

    m.patterns[2].rows = 1025;
    EXPECT_EQ(load(m), nullptr);
}

TEST(LoaderInstruments, NoSamplesLeavesEverythingZeroAndSkipsTheHeader) {
    xmb::Instrument empty;
    empty.headerSize = 40;
    empty.headerFill = 0xAB;
    xmb::Module m = withInstrument(empty);
    xmb::Instrument second;
    second.samples.push_back(xmb::sample8({3}));
    second.sampleMap[0] = 1;
    m.instruments.push_back(second);
    PlayerPtr p = load(m);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->instrumentCount, 2);
    const Instrument& a = p->instruments[0];
    EXPECT_EQ(a.sampleCount, 0);
    for (Sample* s : a.samples) EXPECT_EQ(s, &p->standIns.empty);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&a.sampleMap);
    const auto* end = reinterpret_cast<const uint8_t*>(&a + 1);
    for (const uint8_t* b = bytes; b < end; ++b) ASSERT_EQ(*b, 0);
    const Instrument& b = p->instruments[1];
    ASSERT_EQ(b.sampleCount, 1);
    EXPECT_EQ(b.sampleMap[0], 1);
    EXPECT_EQ(b.samples[0]->data[0], 3 * 256);
    for (int i = 1; i < maxSamplesPerInstrument; ++i) EXPECT_EQ(b.samples[i], &p->standIns.empty);
}

// FT2 refuses an instrument of more than 32 samples (it keeps 16 of up to 32, see below).
TEST(LoaderInstruments, MoreThanThirtyTwoSamplesFailsAndFreesEverything) {
    xmb::Instrument good;
    good.samples.push_back(xmb::sample8({1, 2, 3}));
    xmb::Instrument tooMany;
    for (int i = 0; i < 33; ++i) tooMany.samples.push_back(xmb::sample8({1}));
    xmb::Module m = withInstrument(good);
    m.instruments.push_back(tooMany);
    m.instruments.push_back(good);
    m.patterns.push_back(xmb::pattern(4, {}));
    const xmb::Bytes bytes = xmb::build(m);
    EXPECT_EQ(load(bytes), nullptr);

    // The half-built Player as createPlayer hands it on; LeakSanitizer checks the freeing.
    const MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
    auto* player = new Player{};
    LoadContext context{};
    context.stream = memoryOpen(&description);
    EXPECT_FALSE(loadModule(player, &context));
    memoryClose(context.stream);
    ASSERT_NE(player->instruments, nullptr);
    EXPECT_EQ(player->instruments[0].sampleCount, 1);
    EXPECT_EQ(player->instruments[1].sampleCount, 0);
    EXPECT_EQ(player->instruments[2].sampleCount, 0);
    EXPECT_TRUE(destroyPlayer(player));

    tooMany.samples.pop_back();
    m.instruments[1] = tooMany;
    PlayerPtr kept = load(m);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->instruments[1].sampleCount, 16);
}

TEST(LoaderInstruments, EnvelopesFadeoutAndVibrato) {
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8({1}));
    for (int i = 0; i < 96; ++i) ins.sampleMap[i] = static_cast<uint8_t>(i % 20);
    for (int i = 0; i < 12; ++i) ins.volumeEnvelope[i] = {static_cast<uint16_t>(i * 10), 64};
    ins.panningEnvelope[11] = {500, 0xFFFF};
    ins.volumePointCount = 3;
    ins.volumeSustain = 1;
    ins.volumeLoopStart = 0;
    ins.volumeLoopEnd = 2;
    ins.volumeType = 7;
    ins.panningPointCount = 13;
    ins.panningType = 7;
    ins.panningSustain = 11;
    ins.panningLoopStart = 12;
    ins.panningLoopEnd = 11;
    ins.vibratoType = 2;
    ins.vibratoSweep = 3;
    ins.vibratoDepth = 4;
    ins.vibratoRate = 5;
    ins.fadeout = 0x8001;
    PlayerPtr p = load(withInstrument(ins));
    ASSERT_NE(p, nullptr);
    const Instrument& a = p->instruments[0];
    EXPECT_EQ(a.sampleMap[95], 95 % 20); // stored as read, also 16 and above
    EXPECT_EQ(a.volumeEnvelope[11].x, 110);
    EXPECT_EQ(a.volumeEnvelope[11].y, 64);
    EXPECT_EQ(a.panningEnvelope[11].y, 0xFFFF);
    for (int i = 12; i < envelopePointsStored; ++i) EXPECT_EQ(a.panningEnvelope[i].x, 0);
    EXPECT_EQ(a.volumePointCount, 3);
    EXPECT_EQ(a.volumeType, 7);
    EXPECT_EQ(a.volumeSustain, 1);
    EXPECT_EQ(a.volumeLoopEnd, 2);
    // 13 points are 12; a loop start beyond them cannot be looped to, the sustain point can stay.
    EXPECT_EQ(a.panningPointCount, 12);
    EXPECT_EQ(a.panningType, 3);
    EXPECT_EQ(a.panningLoopStart, 12);
    EXPECT_EQ(a.autoVibratoType, 2);
    EXPECT_EQ(a.autoVibratoSweep, 3);
    EXPECT_EQ(a.autoVibratoDepth, 4);
    EXPECT_EQ(a.autoVibratoRate, 5);
    EXPECT_EQ(a.fadeout, 2); // doubled in 16 bits

    ins.volumePointCount = 1;
    ins.volumeType = 1;
    ins.panningPointCount = 4;
    ins.panningType = 3;
    ins.panningSustain = 4;
    p = load(withInstrument(ins));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->instruments[0].volumeType, 0);
    EXPECT_EQ(p->instruments[0].panningType, 1);
}

TEST(LoaderSamples, HeaderFieldsAndLoopModes) {
    xmb::Sample s = xmb::sample8(std::vector<int8_t>(20, 1));
    s.volume = 48;
    s.finetune = -16;
    s.panning = 200;
    s.relativeNote = -12;
    s.type = 3;
    s.loopStartBytes = 4;
    s.loopLengthBytes = 8;
    xmb::Sample forward = s;
    forward.type = 1;
    xmb::Sample noFlag = s;
    noFlag.type = 0;
    xmb::Sample emptyLoop = s;
    emptyLoop.loopLengthBytes = 0;
    PlayerPtr p = load(withSamples({s, forward, noFlag, emptyLoop}));
    ASSERT_NE(p, nullptr);
    const Sample* const* slots = p->instruments[0].samples;
    EXPECT_EQ(slots[0]->volume, 48);
    EXPECT_EQ(slots[0]->finetune, -16);
    EXPECT_EQ(slots[0]->panning, 200);
    EXPECT_EQ(slots[0]->relativeNote, -12);
    EXPECT_EQ(slots[0]->loopMode, LOOP_PINGPONG);
    EXPECT_EQ(slots[0]->loopStart, 4u);
    EXPECT_EQ(slots[0]->loopLength, 8u);
    EXPECT_EQ(slots[1]->loopMode, LOOP_FORWARD);
    for (int i : {2, 3}) {
        EXPECT_EQ(slots[i]->loopMode, LOOP_NONE) << i;
        EXPECT_EQ(slots[i]->loopStart, 0u) << i;
        EXPECT_EQ(slots[i]->loopLength, 20u) << i;
    }
}

// A 16-bit sample of an odd byte length keeps whole values; its last byte is in the file and
// skipped, as FT2 and the peers skip it.
TEST(LoaderSamples, SixteenBitHalvingReadsWholeValuesOnly) {
    xmb::Sample odd = xmb::sample16({100, 200, 300});
    odd.data.push_back(0x7F); // the header says 7 bytes
    odd.lengthBytes = 7;
    odd.loopStartBytes = 2;
    odd.loopLengthBytes = 4;
    odd.type = 0x11;
    xmb::Sample even = xmb::sample16(std::vector<int16_t>(50, 1));
    even.loopStartBytes = 20;
    even.loopLengthBytes = 40;
    even.type = 0x12;
    PlayerPtr p = load(withSamples({odd, xmb::sample8({7}), even}));
    ASSERT_NE(p, nullptr);
    const Sample* s = p->instruments[0].samples[0];
    EXPECT_EQ(s->length, 3u);
    EXPECT_EQ(s->loopStart, 1u);
    EXPECT_EQ(s->loopLength, 2u);
    EXPECT_EQ(s->bits, 16);
    EXPECT_EQ(s->data[2], 600);
    EXPECT_EQ(p->instruments[0].samples[1]->data[0], 7 * 256); // read right after 7 bytes
    const Sample* e = p->instruments[0].samples[2];
    EXPECT_EQ(e->length, 50u);
    EXPECT_EQ(e->loopStart, 10u);
    EXPECT_EQ(e->loopLength, 20u);
    EXPECT_EQ(e->data[30], e->data[29]);
}

TEST(LoaderSamples, EmptySampleHasNoDataAndReadsNothing) {
    PlayerPtr p = load(withSamples({xmb::Sample{}, xmb::sample8({9})}));
    ASSERT_NE(p, nullptr);
    const Sample* s = p->instruments[0].samples[0];
    EXPECT_EQ(s->data, nullptr);
    EXPECT_EQ(s->length, 0u);
    EXPECT_EQ(s->loopLength, 0u);
    EXPECT_EQ(s->bits, 8);
    EXPECT_EQ(p->instruments[0].samples[1]->data[0], 9 * 256);
}

TEST(LoaderSamples, DeltaDecodingInEightAndSixteenBits) {
    PlayerPtr p = load(withSamples(
        {xmb::sample8({10, 5, -20}), xmb::sample16({30000, 10000}), xmb::sample8({-128, -128})}));
    ASSERT_NE(p, nullptr);
    Sample* const* slots = p->instruments[0].samples;
    EXPECT_EQ(slots[0]->bits, 16);
    EXPECT_EQ(slots[0]->data[0], 2560);
    EXPECT_EQ(slots[0]->data[1], 3840);
    EXPECT_EQ(slots[0]->data[2], -1280);
    expectGuardsZero(slots[0], 3);
    EXPECT_EQ(slots[1]->data[0], 30000);
    EXPECT_EQ(slots[1]->data[1], -25536);
    expectGuardsZero(slots[1], 2);
    EXPECT_EQ(slots[2]->data[0], -32768);
    EXPECT_EQ(slots[2]->data[1], 0); // -256 wraps in 8 bits
}

TEST(LoaderSamples, LoopGuardValues) {
    std::vector<int8_t> values(1000);
    for (int i = 0; i < 1000; ++i) values[i] = static_cast<int8_t>(i % 101 - 50);
    auto looped = [&](uint8_t type, uint32_t start, uint32_t length) {
        xmb::Sample s = xmb::sample8(xmb::deltasOf(values));
        s.type = type;
        s.loopStartBytes = start;
        s.loopLengthBytes = length;
        return s;
    };
    PlayerPtr p = load(withSamples({looped(1, 100, 200), looped(2, 100, 200), looped(1, 500, 500),
                                    looped(2, 500, 500), looped(0, 100, 200)}));
    ASSERT_NE(p, nullptr);
    Sample* const* slots = p->instruments[0].samples;
    for (int i = 0; i < 5; ++i) ASSERT_EQ(slots[i]->data[999], (999 % 101 - 50) * 256) << i;
    EXPECT_EQ(slots[0]->data[300], slots[0]->data[100]);
    EXPECT_NE(slots[0]->data[300], (300 % 101 - 50) * 256);
    expectGuardsZero(slots[0], 1000);
    EXPECT_EQ(slots[1]->data[300], slots[1]->data[299]);
    expectGuardsZero(slots[1], 1000);
    EXPECT_EQ(slots[2]->data[1000], slots[2]->data[500]);
    expectGuardsZero(slots[2], 1001);
    EXPECT_EQ(slots[3]->data[1000], slots[3]->data[999]);
    expectGuardsZero(slots[3], 1001);
    EXPECT_EQ(slots[4]->data[300], (300 % 101 - 50) * 256);
    expectGuardsZero(slots[4], 1000);
}

TEST(LoaderSamples, LoopsPastTheDataAreCutAtItsEnd) {
    xmb::Sample tail = xmb::sample8(xmb::deltasOf<int8_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    tail.type = 1;
    tail.loopStartBytes = 6;
    tail.loopLengthBytes = 0xFFFFFFF0u; // start + length also wraps in 32 bits
    xmb::Sample outside = tail;
    outside.loopStartBytes = 20;
    outside.loopLengthBytes = 4;
    xmb::Sample wide = xmb::sample16({1000, 1000, 1000, 1000});
    wide.type = 0x12;
    wide.loopStartBytes = 4;
    wide.loopLengthBytes = 100;
    PlayerPtr p = load(withSamples({tail, outside, wide}));
    ASSERT_NE(p, nullptr);
    Sample* const* slots = p->instruments[0].samples;
    EXPECT_EQ(slots[0]->loopMode, LOOP_FORWARD);
    EXPECT_EQ(slots[0]->loopStart, 6u);
    EXPECT_EQ(slots[0]->loopLength, 4u);
    EXPECT_EQ(slots[0]->data[10], 7 * 256);
    EXPECT_EQ(slots[1]->loopMode, LOOP_NONE);
    EXPECT_EQ(slots[1]->loopStart, 0u);
    EXPECT_EQ(slots[1]->loopLength, 10u);
    expectGuardsZero(slots[1], 10);
    EXPECT_EQ(slots[2]->loopMode, LOOP_PINGPONG);
    EXPECT_EQ(slots[2]->loopStart, 2u);
    EXPECT_EQ(slots[2]->loopLength, 2u);
    EXPECT_EQ(slots[2]->data[4], 4000);
}

// A module with something of every kind, for cutting.
xmb::Module everyPart() {
    xmb::Module m;
    m.orders = {0, 1, 2};
    m.patterns.push_back(
        xmb::pattern(2, xmb::packCells({{0x31, 1, 0x40, 0, 0}, {}, {97}, {0, 0, 0, 0x0F, 3}})));
    m.patterns.push_back(xmb::pattern(64, {}));
    m.patterns.push_back(
        xmb::pattern(1, xmb::plainCells({{0x30, 2, 0, 0, 0}, {0x31, 1, 0, 0, 0}})));
    xmb::Instrument empty;
    m.instruments.push_back(empty);
    xmb::Instrument first;
    first.samples.push_back(xmb::sample8({1, 2, 3, 4}));
    m.instruments.push_back(first);
    xmb::Instrument last;
    xmb::Sample looped = xmb::sample8({10, 10, 10, 10, 10, 10});
    looped.type = 1;
    looped.loopStartBytes = 2;
    looped.loopLengthBytes = 4;
    last.samples.push_back(looped);
    last.samples.push_back(xmb::sample16({300, 300, 300}));
    m.instruments.push_back(last);
    return m;
}

// A cut file loads when what is missing is sample data, instrument or sample headers, or whole
// instruments: what arrived is kept, the rest is zero and silent, as FT2 and the peers load it.
// It fails cleanly when it ends in the module header or the patterns.
TEST(LoaderTruncation, EveryCutFailsCleanlyOrKeepsWhatArrived) {
    const xmb::Bytes full = xmb::build(everyPart());
    // Instruments: one without samples (29 bytes), one with a 4-byte sample, one with two.
    const size_t emptyStart = 336 + 19 + 9 + 19;
    const size_t firstStart = emptyStart + 29;
    const size_t firstData = firstStart + 263 + 40;
    const size_t lastStart = firstData + 4;
    const size_t lastDataStart = lastStart + 263 + 80; // 6 bytes 8-bit, 6 bytes 16-bit
    ASSERT_EQ(lastDataStart + 12, full.size());
    // The sample count's low byte is the 28th; from there on the instrument is known to sound.
    auto inSoundingHeaders = [](size_t cut, size_t start, size_t data) {
        return cut >= start + 28 && cut < data;
    };
    auto silent = [](const Instrument& ins) {
        for (int32_t i = 0; i < ins.sampleCount; ++i)
            for (uint32_t f = 0; f < ins.samples[i]->length; ++f)
                if (ins.samples[i]->data[f] != 0) return false;
        return true;
    };
    for (size_t cut = 0; cut < full.size(); ++cut) {
        PlayerPtr p = load(xmb::Bytes(full.begin(), full.begin() + cut));
        if (cut < emptyStart) {
            EXPECT_EQ(p, nullptr) << "cut at " << cut;
            continue;
        }
        ASSERT_NE(p, nullptr) << "cut at " << cut;
        if (inSoundingHeaders(cut, firstStart, firstData)) {
            EXPECT_TRUE(silent(p->instruments[1])) << cut;
        }
        if (inSoundingHeaders(cut, lastStart, lastDataStart)) {
            EXPECT_TRUE(silent(p->instruments[2])) << cut;
        }
        ASSERT_EQ(p->instrumentCount, 3) << cut;
        EXPECT_EQ(p->instruments[0].sampleCount, 0) << cut;
        EXPECT_EQ(p->instruments[1].sampleCount, cut >= firstStart + 28 ? 1 : 0) << cut;
        EXPECT_EQ(p->instruments[2].sampleCount, cut >= lastStart + 28 ? 2 : 0) << cut;
        for (const Instrument* ins = p->instruments; ins < p->instruments + 3; ++ins)
            for (int i = ins->sampleCount; i < maxSamplesPerInstrument; ++i)
                EXPECT_EQ(ins->samples[i], &p->standIns.empty) << cut;
        if (cut >= firstData && cut < lastStart) {
            const Sample* s = p->instruments[1].samples[0];
            for (size_t i = 0; i < 4; ++i)
                EXPECT_EQ(s->data[i], i < cut - firstData ? int((i + 1) * (i + 2) / 2) * 256 : 0)
                    << cut;
        }
        if (cut < lastDataStart) continue;
        // Values that did not arrive are silent; the loop guard follows the values.
        const Sample* a = p->instruments[2].samples[0];
        const Sample* b = p->instruments[2].samples[1];
        const size_t got8 = cut - lastDataStart < 6 ? cut - lastDataStart : 6;
        for (size_t i = 0; i < 6; ++i)
            EXPECT_EQ(a->data[i], i < got8 ? int(10 * (i + 1)) * 256 : 0) << cut;
        EXPECT_EQ(a->data[6], a->data[2]);
        const size_t got16 = cut > lastDataStart + 6 ? (cut - lastDataStart - 6) / 2 : 0;
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(b->data[i], i < got16 ? int(300 * (i + 1)) : 0) << cut;
        expectGuardsZero(b, 3);
    }
    EXPECT_NE(load(full), nullptr);
}

TEST(LoaderTruncation, ASampleClaimingFarMoreThanTheFileFails) {
    xmb::Sample huge = xmb::sample8({1, 2, 3});
    huge.lengthBytes = 0xFFFFFFFFu;
    EXPECT_EQ(load(withSamples({huge})), nullptr);
    huge.type = 0x10;
    EXPECT_EQ(load(withSamples({huge})), nullptr);
    xmb::Sample cut = xmb::sample8({1, 2, 3});
    cut.lengthBytes = 100000; // lost a little: zero-filled
    PlayerPtr p = load(withSamples({cut}));
    ASSERT_NE(p, nullptr);
    const Sample* s = p->instruments[0].samples[0];
    EXPECT_EQ(s->data[2], 6 * 256);
    EXPECT_EQ(s->data[3], 0);
    EXPECT_EQ(s->data[99999], 0);
}

// A module header size that puts the first pattern past the end of the file fails.
TEST(LoaderTruncation, ModuleHeaderSizePastTheEndFails) {
    xmb::Bytes header = xmb::build(xmb::Module{});
    header[61] = 0x02; // header size 0x114 becomes 0x214: past the end of the file
    EXPECT_EQ(load(header), nullptr);
}

// An instrument without samples whose header size runs past the end of the file loads when
// nothing follows it, as trackers that drop the unused rest of the last header expect; the file
// may end anywhere in it, and instruments after it are missing and empty. An instrument with
// samples whose sample headers are missing keeps its sample count, with silent samples.
TEST(LoaderTruncation, LastInstrumentHeaderPastTheEnd) {
    xmb::Instrument empty;
    empty.headerSize = 263;
    xmb::Module m = withInstrument(empty);
    m.instruments.push_back(empty);
    const xmb::Bytes bytes = xmb::build(m);
    const size_t start = bytes.size() - 2 * 263;
    for (size_t size = start; size <= bytes.size(); ++size) {
        PlayerPtr p = load(cut(bytes, size));
        ASSERT_NE(p, nullptr) << "cut at " << size;
        ASSERT_EQ(p->instrumentCount, 2);
        for (const Instrument* ins = p->instruments; ins < p->instruments + 2; ++ins) {
            EXPECT_EQ(ins->sampleCount, 0);
            for (const Sample* slot : ins->samples) EXPECT_EQ(slot, &p->standIns.empty);
        }
    }

    xmb::Instrument sounding;
    sounding.samples.push_back(xmb::sample8({1, 2}));
    const xmb::Bytes withSample = xmb::build(withInstrument(sounding));
    const size_t size = withSample.size() - 42 - 10; // 40 header bytes, 2 data bytes, 10 more
    PlayerPtr p = load(cut(withSample, size));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->instruments[0].sampleCount, 1);
    EXPECT_EQ(p->instruments[0].samples[0]->length, 0u);
    EXPECT_EQ(p->instruments[0].samples[0]->data, nullptr);
}

// Refusals in the header name the field and its offset; a file that ends early names the end.
TEST(LoaderReasons, HeaderRefusals) {
    EXPECT_EQ(refusal(xmb::Bytes{}).error, LoadError::NotAnXmModule);
    xmb::Bytes bytes = xmb::build(xmb::Module{});
    ASSERT_EQ(bytes.size(), 336u);
    xmb::Bytes wrong = bytes;
    wrong[5] = 'X';
    expectResult(refusal(wrong), {LoadError::NotAnXmModule, -1, -1, 0, 0}, "wrong magic");
    expectResult(refusal(cut(wrong, 10)), {LoadError::NotAnXmModule, -1, -1, 0, 0}, "cut magic");
    for (int64_t size : {10, 17, 40, 70})
        expectResult(refusal(cut(bytes, static_cast<size_t>(size))),
                     {LoadError::HeaderCutShort, -1, -1, 0, size}, "cut header");

    struct Case {
        const char* what;
        xmb::Module module;
        LoadResult want;
    };
    std::vector<Case> cases(6);
    cases[0] = {"song length 257", {}, {LoadError::SongLength, -1, -1, 257, 64}};
    cases[0].module.songLength = 257;
    cases[1] = {"song length 300", {}, {LoadError::SongLength, -1, -1, 300, 64}};
    cases[1].module.songLength = 300;
    cases[2] = {"41 channels", {}, {LoadError::ChannelCount, -1, -1, 41, 68}};
    cases[2].module.channelCount = 41;
    cases[3] = {"no channels", {}, {LoadError::ChannelCount, -1, -1, 0, 68}};
    cases[3].module.channelCount = 0;
    cases[4] = {"300 patterns", {}, {LoadError::PatternCount, -1, -1, 300, 70}};
    cases[4].module.patternCountField = 300;
    cases[5] = {"instruments", {}, {LoadError::InstrumentCount, -1, -1, 0xFFFF, 72}};
    cases[5].module.instrumentCountField = 0xFFFF;
    for (const Case& c : cases) expectResult(refusal(c.module), c.want, c.what);

    xmb::Module m;
    m.headerSize = 20 + 3;
    m.orders = {0, 0, 0};
    expectResult(refusal(cut(xmb::build(m), 82)), {LoadError::OrdersCutShort, -1, -1, 3, 82},
                 "orders");
    bytes[61] = 0x02;
    expectResult(refusal(bytes), {LoadError::HeaderSize, -1, -1, 60 + 0x214, 336}, "header size");
}

// Refusals inside patterns and instruments name the pattern, instrument and sample.
TEST(LoaderReasons, PatternAndInstrumentRefusals) {
    xmb::Module m;
    m.patterns.push_back(xmb::pattern(4, {}));
    m.patterns.push_back(xmb::pattern(2000, {}));
    expectResult(refusal(m), {LoadError::PatternRows, 1, -1, 2000, 336 + 9 + 5}, "rows");

    // everyPart: patterns of 9 + 10, 9 and 9 + 10 bytes from 336, then three instruments: one
    // without samples (29 bytes), one with a 4-byte sample, one with two samples.
    const xmb::Bytes full = xmb::build(everyPart());
    const int64_t third = 336 + 19 + 9;
    expectResult(refusal(cut(full, third + 12)), {LoadError::PatternCutShort, 2, -1, 0, third + 12},
                 "pattern 2");
    expectResult(refusal(cut(full, 340)), {LoadError::PatternCutShort, 0, -1, 0, 340}, "pattern 0");

    // A file that ends inside an instrument's or a sample's header keeps what arrived.
    const int64_t second = third + 19 + 29;
    PlayerPtr inHeader = load(cut(full, static_cast<size_t>(second + 150)));
    ASSERT_NE(inHeader, nullptr);
    EXPECT_EQ(inHeader->instruments[1].sampleCount, 1);
    EXPECT_EQ(inHeader->instruments[2].sampleCount, 0);
    const int64_t last = second + 263 + 40 + 4;
    PlayerPtr inSampleHeader = load(cut(full, static_cast<size_t>(last + 263 + 40 + 20)));
    ASSERT_NE(inSampleHeader, nullptr);
    ASSERT_EQ(inSampleHeader->instruments[2].sampleCount, 2);
    // The second header's length, loop and type arrived (16-bit, 6 bytes); no data did.
    const Sample* partial = inSampleHeader->instruments[2].samples[1];
    EXPECT_EQ(partial->length, 3u);
    for (uint32_t i = 0; i < partial->length + sampleGuardValues; ++i)
        EXPECT_EQ(partial->data[i], 0) << i;

    xmb::Module many = everyPart();
    many.instruments[1].samples.assign(33, xmb::sample8({1}));
    expectResult(refusal(many), {LoadError::TooManySamples, 1, -1, 33, second + 27}, "samples");

    xmb::Sample huge = xmb::sample8({1, 2, 3});
    huge.lengthBytes = 0xFFFFFFFFu;
    const xmb::Bytes hugeBytes = xmb::build(withSamples({xmb::sample8({1}), huge}));
    expectResult(refusal(hugeBytes),
                 {LoadError::SampleDataMissing, 0, 1, 0xFFFFFFFFll - 3,
                  static_cast<int64_t>(hugeBytes.size())},
                 "sample data");

    LoadResult loaded{LoadError::PatternRows, 5, 5, 5, 5};
    EXPECT_NE(load(full, &loaded), nullptr);
    EXPECT_EQ(loaded.error, LoadError::None);
}

// Without a stream there is nothing to read.
TEST(LoaderReasons, NoStream) {
    const xmb::Bytes bytes = xmb::build(xmb::Module{});
    const MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
    LoadResult r{};
    EXPECT_EQ(createPlayerWithResult(&description, &r, StreamInterface{}), nullptr);
    EXPECT_EQ(r.error, LoadError::NoStream);
    StreamInterface noOpen = memoryStreamInterface;
    noOpen.open = [](const MemoryStream*) -> void* { return nullptr; };
    r = LoadResult{};
    EXPECT_EQ(createPlayerWithResult(&description, &r, noOpen), nullptr);
    EXPECT_EQ(r.error, LoadError::NoStream);
}

// The words the tools print: the place in bytes, patterns counted from 0, instruments and
// samples from 1, and a line that is cut to the buffer and still terminated.
TEST(LoaderReasons, Text) {
    char text[128];
    const LoadResult pattern{LoadError::PatternCutShort, 3, -1, 0, 4120};
    EXPECT_STREQ(loadErrorText(pattern, text, sizeof text), "pattern 3 cut short at byte 4120");
    const LoadResult channels{LoadError::ChannelCount, -1, -1, 41, 68};
    EXPECT_STREQ(loadErrorText(channels, text, sizeof text), "41 channels at byte 68: 1 to 32");
    const LoadResult samples{LoadError::TooManySamples, 4, -1, 40, 999};
    EXPECT_STREQ(loadErrorText(samples, text, sizeof text),
                 "instrument 5: 40 samples at byte 999: at most 32");
    const LoadResult header{LoadError::SampleHeaderCutShort, 0, 1, 0, 700};
    EXPECT_STREQ(loadErrorText(header, text, sizeof text),
                 "instrument 1, sample 2: header cut short at byte 700");
    char small[8];
    EXPECT_STREQ(loadErrorText(pattern, small, sizeof small), "pattern");
    // Every code has its own words.
    for (int code = 0; code <= static_cast<int>(LoadError::SampleTooLong); ++code) {
        const LoadResult r{static_cast<LoadError>(code), 0, 0, 1, 2};
        EXPECT_EQ(std::strstr(loadErrorText(r, text, sizeof text), "reason"), nullptr) << code;
    }
}

TEST(LoaderLifecycle, CreateAndDestroyEdgeCases) {
    EXPECT_FALSE(destroyPlayer(nullptr));
    const xmb::Bytes bytes = xmb::build(xmb::Module{});
    const MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};

    StreamInterface noOpen = memoryStreamInterface;
    noOpen.open = [](const MemoryStream*) -> void* { return nullptr; };
    EXPECT_EQ(createPlayer(&description, noOpen), nullptr);
    EXPECT_EQ(createPlayer(&description, StreamInterface{}), nullptr);
    EXPECT_EQ(createPlayer(nullptr), nullptr);
    Player* p = createPlayer(&description);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(destroyPlayer(p));
}

// A pattern header's stated length moves the cells as FT2 reads them: a longer header is skipped
// to its end (trackers and converters that keep notes there), a shorter one still holds the nine
// bytes of fields, after which the cells follow.
TEST(LoaderFt2Layout, PatternHeaderLength) {
    const xmb::Bytes cells = xmb::packCells({{0x31, 1, 0x20, 0, 0}, {0, 0, 0, 0x0F, 4}});
    auto withHeaderLength = [&](uint32_t headerLength, const xmb::Bytes& filler) {
        xmb::Module m;
        m.orders = {0, 1};
        xmb::Pattern first = xmb::pattern(1, cells);
        first.headerLength = headerLength;
        first.data.insert(first.data.begin(), filler.begin(), filler.end());
        m.patterns.push_back(first);
        m.patterns.push_back(xmb::pattern(1, xmb::packCells({{0x40, 2, 0, 0, 0}, {}})));
        return xmb::build(m);
    };
    xmb::Bytes note(263, 0);
    const char text[] = "loads correctly despite the long pattern header";
    std::copy(text, text + sizeof text, note.begin());
    struct Case {
        uint32_t headerLength;
        size_t fillerBytes;
    };
    for (const Case c : {Case{9 + 263, 263}, Case{10, 1}, Case{9, 0}, Case{8, 0}, Case{0, 0}}) {
        const xmb::Bytes filler(note.begin(),
                                note.begin() + static_cast<std::ptrdiff_t>(c.fillerBytes));
        PlayerPtr p = load(withHeaderLength(c.headerLength, filler));
        ASSERT_NE(p, nullptr) << c.headerLength;
        EXPECT_EQ(p->patterns[0].rowCount, 1) << c.headerLength;
        EXPECT_EQ(cellAt(p.get(), 0, 0, 0).note, 0x31) << c.headerLength;
        EXPECT_EQ(cellAt(p.get(), 0, 0, 0).volume, 0x20) << c.headerLength;
        EXPECT_EQ(cellAt(p.get(), 0, 0, 1).param, 4) << c.headerLength;
        EXPECT_EQ(cellAt(p.get(), 1, 0, 0).note, 0x40) << c.headerLength;
        EXPECT_EQ(cellAt(p.get(), 1, 0, 0).instrument, 2) << c.headerLength;
    }

    // A header that ends past the file is a cut pattern.
    const xmb::Bytes past = withHeaderLength(100000, {});
    expectResult(refusal(past),
                 {LoadError::PatternCutShort, 0, -1, 0, static_cast<int64_t>(past.size())},
                 "header past the end");
}

// FT2's early formats: 1.03 stores every instrument with its sample headers before the patterns
// and all sample data after them; 1.02 does the same and keeps a pattern's row count minus one in
// one byte, behind a header of eight bytes. Every other version is read as 1.04.
xmb::Module earlyFormat(uint16_t version) {
    xmb::Module m;
    m.version = version;
    m.orders = {1, 0};
    m.patterns.push_back(xmb::pattern(256, {}));
    m.patterns.push_back(
        xmb::pattern(1, xmb::packCells({{0x31, 2, 0x40, 0, 0}, {97, 1, 0, 0x0C, 0x20}})));
    xmb::Instrument first;
    first.samples.push_back(xmb::sample8({10, 5, -20}));
    first.sampleMap[0] = 0;
    m.instruments.push_back(first);
    xmb::Instrument empty;
    m.instruments.push_back(empty);
    xmb::Instrument second;
    second.volumePointCount = 2;
    second.volumeType = 1;
    second.volumeEnvelope[1] = {16, 64};
    second.samples.push_back(xmb::sample16({30000, 10000}));
    second.samples.push_back(xmb::sample8({1, 1}));
    second.sampleMap[5] = 1;
    m.instruments.push_back(second);
    return m;
}

void expectEarlyFormatLoaded(const Player* p, const char* what) {
    ASSERT_NE(p, nullptr) << what;
    ASSERT_EQ(p->patternRecordCount, 2) << what;
    expectEmptyCells(p->patterns[0], 256, 2);
    ASSERT_EQ(p->patterns[1].rowCount, 1) << what;
    EXPECT_EQ(cellAt(p, 1, 0, 0).note, 0x31) << what;
    EXPECT_EQ(cellAt(p, 1, 0, 0).volume, 0x40) << what;
    EXPECT_EQ(cellAt(p, 1, 0, 1).note, KEY_OFF) << what;
    EXPECT_EQ(cellAt(p, 1, 0, 1).param, 0x20) << what;
    ASSERT_EQ(p->instrumentCount, 3) << what;
    const Sample* a = p->instruments[0].samples[0];
    ASSERT_EQ(a->length, 3u) << what;
    EXPECT_EQ(a->data[0], 2560) << what;
    EXPECT_EQ(a->data[2], -1280) << what;
    EXPECT_EQ(p->instruments[1].sampleCount, 0) << what;
    const Instrument& ins = p->instruments[2];
    EXPECT_EQ(ins.volumeType, 1) << what;
    EXPECT_EQ(ins.volumeEnvelope[1].x, 16) << what;
    EXPECT_EQ(ins.sampleMap[5], 1) << what;
    ASSERT_EQ(ins.sampleCount, 2) << what;
    ASSERT_EQ(ins.samples[0]->length, 2u) << what;
    EXPECT_EQ(ins.samples[0]->data[0], 30000) << what;
    EXPECT_EQ(ins.samples[0]->data[1], -25536) << what;
    ASSERT_EQ(ins.samples[1]->length, 2u) << what;
    EXPECT_EQ(ins.samples[1]->data[1], 512) << what;
}

TEST(LoaderFt2Layout, EarlyFormatVersions) {
    for (uint16_t version : {0x0102, 0x0103, 0x0104}) {
        PlayerPtr p = load(earlyFormat(version));
        expectEarlyFormatLoaded(p.get(), version == 0x0102   ? "1.02"
                                         : version == 0x0103 ? "1.03"
                                                             : "1.04");
    }
    // Versions FT2 never wrote are read as the current format, as before.
    xmb::Module later = earlyFormat(0x0105);
    expectEarlyFormatLoaded(load(later).get(), "1.05");
    later.version = 0x0101;
    expectEarlyFormatLoaded(load(later).get(), "1.01");

    // 1.02 rows: a byte 0 is one row; a longer header is skipped, a shorter one read as 8 bytes.
    xmb::Module m = earlyFormat(0x0102);
    m.patterns[1].headerLength = 8 + 3;
    m.patterns[1].data.insert(m.patterns[1].data.begin(), {0xEE, 0xEE, 0xEE});
    expectEarlyFormatLoaded(load(m).get(), "1.02, 11-byte header");
    m = earlyFormat(0x0102);
    m.patterns[1].headerLength = 2;
    expectEarlyFormatLoaded(load(m).get(), "1.02, 2-byte header");
}

// The early layout read as 1.04 (or the reverse) goes wrong; a cut in the trailing sample data
// keeps what arrived, one in the patterns between headers and data is refused.
TEST(LoaderFt2Layout, EarlyFormatCutsAndMislabels) {
    const xmb::Bytes early = xmb::build(earlyFormat(0x0103));
    xmb::Bytes mislabelled = early;
    mislabelled[58] = 0x04;
    PlayerPtr wrong = load(mislabelled);
    EXPECT_TRUE(wrong == nullptr || wrong->patterns[1].rowCount != 1 ||
                cellAt(wrong.get(), 1, 0, 0).note != 0x31);

    // The data is 3 + 4 + 2 bytes at the end; losing the last 8-bit sample's bytes keeps the rest.
    PlayerPtr p = load(cut(early, early.size() - 2));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->instruments[2].samples[0]->data[1], -25536);
    EXPECT_EQ(p->instruments[2].samples[1]->data[0], 0);

    const size_t headersEnd = 336 + (263 + 40) + 29 + (263 + 80);
    const auto at = static_cast<int64_t>(headersEnd + 9 + 5);
    expectResult(refusal(cut(early, headersEnd + 9 + 5)),
                 {LoadError::PatternCutShort, 1, -1, 0, at}, "patterns after the headers");
    // Headers that arrived in part are kept, but the patterns after them are missing.
    expectResult(refusal(cut(early, headersEnd - 10)),
                 {LoadError::PatternCutShort, 0, -1, 0, static_cast<int64_t>(headersEnd - 10)},
                 "sample header before the patterns");
}

// Modules whose header counts more instruments than the file holds (MOD converters always say
// 31; strippers drop the unused tail) load as FT2 and the peers load them: the missing
// instruments are empty. Only an instrument known to have samples must have their headers.
TEST(LoaderFt2Layout, FewerInstrumentsThanCounted) {
    xmb::Module m = withSamples({xmb::sample8({4, 4})});
    m.instrumentCountField = 31;
    const xmb::Bytes bytes = xmb::build(m);
    LoadResult result{};
    PlayerPtr p = load(bytes, &result);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(result.error, LoadError::None);
    ASSERT_EQ(p->instrumentCount, 31);
    EXPECT_EQ(p->instruments[0].samples[0]->data[1], 8 * 256);
    for (int i = 1; i < 31; ++i) {
        EXPECT_EQ(p->instruments[i].sampleCount, 0) << i;
        EXPECT_EQ(p->instruments[i].samples[0], &p->standIns.empty) << i;
    }

    // The first 28 bytes of a sounding instrument name its samples; headers that never arrived
    // leave them silent.
    xmb::Module two = m;
    two.instrumentCountField = -1;
    two.instruments.push_back(m.instruments[0]);
    const xmb::Bytes twoBytes = xmb::build(two);
    const size_t secondStart = bytes.size();
    for (size_t size = secondStart; size < secondStart + 28; ++size) {
        PlayerPtr q = load(cut(twoBytes, size));
        ASSERT_NE(q, nullptr) << size;
        EXPECT_EQ(q->instruments[1].sampleCount, 0) << size;
    }
    PlayerPtr counted = load(cut(twoBytes, secondStart + 28));
    ASSERT_NE(counted, nullptr);
    ASSERT_EQ(counted->instruments[1].sampleCount, 1);
    EXPECT_EQ(counted->instruments[1].samples[0]->length, 0u);
}

// ModPlug's ADPCM packing, marked by 0xAD in the sample header's reserved byte: 16 signed steps,
// then a nibble per frame, low nibble first, each adding its step to a running 8-bit value.
TEST(LoaderFt2Layout, ModPlugAdpcmSamples) {
    const xmb::Bytes steps = {0,    1,    2,    4,    8,    16,   32,   64,
                              0xFF, 0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80};
    xmb::Sample packed;
    packed.reserved = 0xAD;
    packed.lengthBytes = 5; // frames: 16 + 3 bytes in the file, the last high nibble unused
    packed.type = 1;
    packed.loopStartBytes = 1;
    packed.loopLengthBytes = 3;
    packed.data = steps;
    packed.data.insert(packed.data.end(), {0x21, 0x77, 0x0F});
    xmb::Sample after = xmb::sample8({7, 1});
    xmb::Sample sixteen = xmb::sample16({1000, 1000}); // 0xAD beside 16 bits is no packing
    sixteen.reserved = 0xAD;
    const xmb::Module m = withSamples({packed, after, sixteen});
    PlayerPtr p = load(m);
    ASSERT_NE(p, nullptr);
    const Sample* s = p->instruments[0].samples[0];
    ASSERT_EQ(s->length, 5u);
    EXPECT_EQ(s->bits, 16);
    const int16_t want[] = {1 * 256, 3 * 256, 67 * 256, -125 * 256, 3 * 256};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s->data[i], want[i]) << i;
    EXPECT_EQ(s->data[4], s->data[1]) << "loop guard";
    expectGuardsZero(s, 5);
    const Sample* a = p->instruments[0].samples[1];
    EXPECT_EQ(a->data[0], 7 * 256);
    EXPECT_EQ(a->data[1], 8 * 256);
    const Sample* b = p->instruments[0].samples[2];
    ASSERT_EQ(b->length, 2u);
    EXPECT_EQ(b->data[1], 2000);

    // Cut inside the packed frames, or inside the step table: what did not arrive is silent.
    xmb::Sample unlooped = packed;
    unlooped.type = 0;
    const xmb::Bytes bytes = xmb::build(withSamples({unlooped}));
    PlayerPtr cutFrames = load(cut(bytes, bytes.size() - 1));
    ASSERT_NE(cutFrames, nullptr);
    const Sample* c = cutFrames->instruments[0].samples[0];
    EXPECT_EQ(c->data[3], -125 * 256);
    EXPECT_EQ(c->data[4], 0);
    PlayerPtr cutSteps = load(cut(bytes, bytes.size() - 10));
    ASSERT_NE(cutSteps, nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(cutSteps->instruments[0].samples[0]->data[i], 0);
}

// The packed size places the next pattern, as FT2 and the peers read it: a pattern whose data
// stops early (some trackers end it after the last non-empty cell) keeps the rest empty, bytes
// after the last cell are skipped, and a cell cut by the packed size has zeros for the rest.
TEST(LoaderFt2Layout, PackedSizePlacesTheNextPattern) {
    auto withFirst = [](xmb::Pattern first) {
        xmb::Module m;
        m.orders = {0, 1};
        m.patterns.push_back(std::move(first));
        m.patterns.push_back(xmb::pattern(1, xmb::packCells({{0x40, 2, 0, 0, 0}, {0x41}})));
        return m;
    };
    auto expectSecond = [](const Player* p, const char* what) {
        ASSERT_NE(p, nullptr) << what;
        EXPECT_EQ(cellAt(p, 1, 0, 0).note, 0x40) << what;
        EXPECT_EQ(cellAt(p, 1, 0, 0).instrument, 2) << what;
        EXPECT_EQ(cellAt(p, 1, 0, 1).note, 0x41) << what;
    };

    // Four rows stated, three cells stored.
    PlayerPtr early = load(withFirst(
        xmb::pattern(4, xmb::packCells({{0x31, 1, 0, 0, 0}, {}, {0x32, 0, 0x30, 0, 0}}))));
    expectSecond(early.get(), "data ends early");
    ASSERT_EQ(early->patterns[0].rowCount, 4);
    EXPECT_EQ(cellAt(early.get(), 0, 0, 0).note, 0x31);
    EXPECT_EQ(cellAt(early.get(), 0, 1, 0).volume, 0x30);
    const auto* rest = reinterpret_cast<const uint8_t*>(&cellAt(early.get(), 0, 1, 1));
    for (int i = 0; i < 5 * 5; ++i) EXPECT_EQ(rest[i], 0) << i;

    // Five bytes of something else after the last cell, inside the packed size.
    xmb::Bytes junk = xmb::packCells({{0x31}, {0x33}});
    junk.insert(junk.end(), {0xEE, 0x97, 0x01, 0x02, 0x03});
    PlayerPtr skipped = load(withFirst(xmb::pattern(1, junk)));
    expectSecond(skipped.get(), "bytes after the cells");
    EXPECT_EQ(cellAt(skipped.get(), 0, 0, 1).note, 0x33);

    // A plain cell cut after its instrument byte.
    PlayerPtr cutCell = load(withFirst(xmb::pattern(1, {0x31, 0x05})));
    expectSecond(cutCell.get(), "cell cut by the packed size");
    EXPECT_EQ(cellAt(cutCell.get(), 0, 0, 0).note, 0x31);
    EXPECT_EQ(cellAt(cutCell.get(), 0, 0, 0).instrument, 5);
    EXPECT_EQ(cellAt(cutCell.get(), 0, 0, 0).volume, 0);
    EXPECT_EQ(cellAt(cutCell.get(), 0, 0, 1).note, 0);

    // Packed data that would run past the end of the file is a cut pattern, even when its cells
    // end inside it.
    xmb::Module last = withFirst(xmb::pattern(1, xmb::packCells({{0x31}, {}})));
    last.patterns.pop_back();
    last.patterns[0].packedSize = 100;
    const xmb::Bytes bytes = xmb::build(last);
    expectResult(refusal(bytes),
                 {LoadError::PatternCutShort, 0, -1, 0, static_cast<int64_t>(bytes.size())},
                 "packed size past the end");
}

// A 16-bit sample of one byte has no values but its byte is skipped; a cut that takes the odd
// byte loses nothing that would be heard.
TEST(LoaderFt2Layout, SixteenBitOddByteIsSkipped) {
    xmb::Sample oneByte;
    oneByte.type = 0x10;
    oneByte.lengthBytes = 1;
    oneByte.data = {0x55};
    PlayerPtr p = load(withSamples({oneByte, xmb::sample8({9})}));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->instruments[0].samples[0]->length, 0u);
    EXPECT_EQ(p->instruments[0].samples[0]->data, nullptr);
    EXPECT_EQ(p->instruments[0].samples[1]->data[0], 9 * 256);

    xmb::Sample odd = xmb::sample16({-5, 10});
    odd.data.push_back(0x01);
    odd.lengthBytes = 5;
    const xmb::Bytes bytes = xmb::build(withSamples({odd}));
    PlayerPtr q = load(cut(bytes, bytes.size() - 1));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->instruments[0].samples[0]->data[1], 5);
}

// Instruments of 17 to 32 samples (ModPlug Tracker and OpenMPT write them) load as FT2 loads
// them: the first 16 samples are kept, the others' headers and data skipped, in both layouts.
TEST(LoaderFt2Layout, SamplesPastTheSixteenthAreSkipped) {
    for (uint16_t version : {0x0104, 0x0103}) {
        xmb::Module m = earlyFormat(version);
        xmb::Instrument big;
        for (int i = 0; i < 23; ++i) {
            xmb::Sample s = xmb::sample8({static_cast<int8_t>(i + 1), 0, 0});
            if (i == 17) s = xmb::sample16({1, 2, 3, 4, 5}); // 10 bytes
            if (i == 20) { // 16 bits of an odd length: all 3 stated bytes are skipped
                s.type = 0x10;
                s.data = {1, 2, 3};
                s.lengthBytes = 3;
            }
            big.samples.push_back(s);
        }
        m.instruments.insert(m.instruments.begin() + 1, big);
        PlayerPtr p = load(m);
        ASSERT_NE(p, nullptr) << version;
        ASSERT_EQ(p->instrumentCount, 4);
        const Instrument& kept = p->instruments[1];
        ASSERT_EQ(kept.sampleCount, 16);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(kept.samples[i]->data[2], (i + 1) * 256) << i;
        // The instrument after it is read where the skipped data ends.
        const Instrument& after = p->instruments[3];
        ASSERT_EQ(after.sampleCount, 2) << version;
        EXPECT_EQ(after.samples[0]->data[1], -25536) << version;
        EXPECT_EQ(after.samples[1]->data[1], 512) << version;
    }

    // A file that ends in the skipped data loses nothing that is kept.
    xmb::Instrument big;
    for (int i = 0; i < 20; ++i) big.samples.push_back(xmb::sample8({3, 3, 3, 3}));
    const xmb::Bytes bytes = xmb::build(withInstrument(big));
    PlayerPtr p = load(cut(bytes, bytes.size() - 6));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->instruments[0].samples[15]->data[3], 12 * 256);
}

// The instrument header size as FT2 and libopenmpt take it: 0 stands for the usual 263 bytes, and
// fields past a shorter header are zero, the sample headers following where it ends.
TEST(LoaderFt2Layout, InstrumentHeaderSize) {
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8({5, 5}));
    ins.sampleMap[3] = 0;
    ins.volumeEnvelope[1] = {10, 40};
    ins.volumePointCount = 2;
    ins.volumeType = 1;
    ins.fadeout = 100;
    const size_t start = 336;
    // The first instrument's header size set to 0.
    auto sizeZero = [start](xmb::Bytes bytes) {
        std::fill(bytes.begin() + start, bytes.begin() + start + 4, 0);
        return bytes;
    };

    PlayerPtr p = load(sizeZero(xmb::build(withInstrument(ins))));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->instruments[0].volumeType, 1);
    EXPECT_EQ(p->instruments[0].fadeout, 200);
    EXPECT_EQ(p->instruments[0].samples[0]->data[1], 10 * 256);

    // Cut after the volume envelope's points: no counts, types or fadeout.
    xmb::Instrument shortHeader = ins;
    shortHeader.headerSize = 177;
    xmb::Bytes cutFields = xmb::build(withInstrument(shortHeader));
    cutFields.erase(cutFields.begin() + start + 177, cutFields.begin() + start + 241);
    PlayerPtr q = load(cutFields);
    ASSERT_NE(q, nullptr);
    const Instrument& got = q->instruments[0];
    EXPECT_EQ(got.volumeEnvelope[1].y, 40);
    EXPECT_EQ(got.volumePointCount, 0);
    EXPECT_EQ(got.volumeType, 0);
    EXPECT_EQ(got.fadeout, 0);
    EXPECT_EQ(got.samples[0]->data[1], 10 * 256);

    // An instrument without samples and a header size of 0 still takes 263 bytes.
    xmb::Instrument empty;
    empty.headerSize = 263;
    empty.headerFill = 0xAB;
    xmb::Module m = withInstrument(empty);
    m.instruments.push_back(ins);
    PlayerPtr e = load(sizeZero(xmb::build(m)));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->instruments[0].sampleCount, 0);
    ASSERT_EQ(e->instruments[1].sampleCount, 1);
    EXPECT_EQ(e->instruments[1].samples[0]->data[0], 5 * 256);
}

// The song length as FT2 takes it: none stands for pattern 0 once, and a tail of 0xFF in the order
// table (padding some writers leave) ends the song before it.
TEST(LoaderFt2Layout, SongLengthZeroAndPaddedOrders) {
    xmb::Module none;
    none.songLength = 0;
    none.orders = {3};
    none.patterns.push_back(xmb::pattern(8, {}));
    PlayerPtr p = load(none);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->songLength, 1);
    EXPECT_EQ(p->orderTable[0], 0);
    EXPECT_EQ(p->patternCount, 1);
    EXPECT_EQ(p->patterns[0].rowCount, 8);

    xmb::Module padded;
    padded.orders = {0, 1, 0};
    padded.orders.resize(256, 0xFF);
    padded.songLength = 10;
    padded.patterns.push_back(xmb::pattern(8, {}));
    padded.patterns.push_back(xmb::pattern(4, {}));
    PlayerPtr q = load(padded);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->songLength, 3);
    EXPECT_EQ(q->patternCount, 2);
    EXPECT_EQ(q->patternRecordCount, 2);

    // Only a tail that runs to the table's end counts, and a song keeps at least one order.
    padded.orders[200] = 0;
    PlayerPtr r = load(padded);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->songLength, 10);
    padded.orders.assign(256, 0xFF);
    padded.songLength = 2;
    PlayerPtr s = load(padded);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->songLength, 1);
}

} // namespace

namespace {

// Counts in the header are unsigned 16-bit fields, named as such when refused; an instrument
// count no file can hold (32767 instruments in 812 bytes) is refused before anything is
// allocated for it, above 255 as the peers refuse it, while a file that ends before the
// instruments it counts (up to 255) loads them empty.
TEST(LoaderReasons, CountsAreUnsignedAndBounded) {
    xmb::Module longSong;
    longSong.songLength = 0xFFFF;
    expectResult(refusal(longSong), {LoadError::SongLength, -1, -1, 65535, 64}, "song length");
    char text[96];
    EXPECT_STREQ(loadErrorText(refusal(longSong), text, sizeof text),
                 "song length 65535 at byte 64: 1 to 256");
    xmb::Module wide;
    wide.channelCount = -1; // 0xFFFF as stored
    expectResult(refusal(wide), {LoadError::ChannelCount, -1, -1, 65535, 68}, "channels");

    xmb::Module crowded;
    crowded.instrumentCountField = 32767;
    xmb::Bytes bytes = xmb::build(crowded);
    bytes.resize(812, 0);
    expectResult(refusal(bytes), {LoadError::InstrumentCount, -1, -1, 32767, 72}, "32767");
    EXPECT_STREQ(loadErrorText(refusal(bytes), text, sizeof text),
                 "32767 instruments at byte 72: at most 255");
    crowded.instrumentCountField = 256;
    expectResult(refusal(crowded), {LoadError::InstrumentCount, -1, -1, 256, 72}, "256");
    crowded.instrumentCountField = 255;
    PlayerPtr p = load(crowded);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->instrumentCount, 255);
    EXPECT_EQ(p->instruments[254].sampleCount, 0);
}

// The starting speed and BPM are held to what FT2 plays (1..31 ticks, 32..255 BPM); the demo's
// own song lies inside both, so the demo plays it as before.
TEST(LoaderHeader, StartingSpeedAndBpmHeldToFt2Ranges) {
    struct Case {
        int16_t tempo, bpm, wantTempo, wantBpm;
    };
    for (const Case c : {Case{0, 0, 1, 32}, Case{-1, -1, 31, 255}, Case{32, 256, 31, 255},
                         Case{7, 132, 7, 132}, Case{1, 32, 1, 32}, Case{31, 255, 31, 255}}) {
        xmb::Module m;
        m.tempo = c.tempo;
        m.bpm = c.bpm;
        PlayerPtr p = load(m);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->defaultTempo, c.wantTempo) << c.tempo;
        EXPECT_EQ(p->defaultBpm, c.wantBpm) << c.bpm;
    }
}

} // namespace
