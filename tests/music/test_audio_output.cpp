// Audio output: sizes, song time, stamps, conversion, the render thread protocol, start and stop,
// and the offline renderer against the device path.
#include "music/audio_output.h"
#include "music/channel.h"
#include "music/device/audio_device_test.h"
#include "music/format.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/sequencer.h"
#include "music/stream.h"
#include "music/tempo.h"
#include "music/voice_update.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace music {
namespace {

// What the test tick handler does and what it saw.
struct TickLog {
    int32_t framesPerTick; // 0: leave samplesPerTick as playback start set it
    int64_t calls;
    Player firstSeen;  // the Player as the first tick found it
    Voice firstVoice5; // voice 5 as the first tick found it
    Channel* firstVoiceOfChannel2;
    int32_t channel6Volume; // a channel beyond channelCount, as the first tick found it
};

TickLog tickLog;

void countingTick(Player* player) {
    if (tickLog.calls == 0) {
        tickLog.firstSeen = *player;
        tickLog.firstVoice5 = player->mixer.voices[5];
        tickLog.channel6Volume = player->channels[6].volume;
    }
    ++tickLog.calls;
    ++player->row; // makes the stamps show how many ticks ran
    if (tickLog.framesPerTick != 0) player->samplesPerTick = tickLog.framesPerTick;
}

// A looping sawtooth that the tone tick handler plays at changing pitch and volume.
constexpr uint32_t toneLength = 1000;
int16_t toneData[toneLength + sampleGuardValues];
Sample toneSample;

void setUpTone() {
    for (uint32_t i = 0; i < toneLength; ++i) {
        toneData[i] = static_cast<int16_t>(static_cast<int32_t>(i * 60) - 30000);
    }
    for (int32_t i = 0; i < sampleGuardValues; ++i) toneData[toneLength + i] = 0;
    toneData[toneLength] = toneData[0];
    toneSample = Sample{};
    toneSample.data = toneData;
    toneSample.length = toneLength;
    toneSample.loopStart = 0;
    toneSample.loopLength = toneLength;
    toneSample.volume = 64;
    toneSample.bits = 16;
    toneSample.loopMode = LOOP_FORWARD;
}

// Every fifth tick starts a note on channel 0, in between the volume and pitch move, and the
// tick length changes now and then, so runs are cut at many different places.
void toneTick(Player* player) {
    const int64_t t = tickLog.calls++;
    Channel* c = &player->channels[0];
    c->updateFlags = UPDATE_VOLUME | UPDATE_PANNING | UPDATE_FREQUENCY;
    if (t % 5 == 0) c->updateFlags |= UPDATE_TRIGGER;
    c->period = 4608 - static_cast<int32_t>((t * 37) % 1500);
    c->volume = static_cast<int32_t>(20 + (t * 13) % 44);
    c->panning = static_cast<int32_t>((t * 29) % 256);
    c->volumeEnvelopeOutput = 64;
    c->panningEnvelopeOutput = 32;
    c->fadeoutVolume = 65536;
    updateVoice(c, &toneSample, player);
    player->samplesPerTick = (t / 7) % 2 == 0 ? 530 : 835;
    ++player->row;
    if (player->row == 64) {
        player->row = 0;
        ++player->order;
    }
}

Player makePlayer(TickHandler handler) {
    Player p{};
    p.channelCount = 4;
    p.defaultTempo = 6;
    p.defaultBpm = 125;
    p.initialGlobalVolume = 64;
    p.flags = 1;
    p.tickHandler = handler;
    return p;
}

bool waitFor(bool (*condition)(), int32_t timeoutMs = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

int32_t waitedAudible;
const AudioOutput* waitedOutput; // the output of the Player the test waits for
bool audibleIsWaited() {
    const AudioOutput& o = *waitedOutput;
    return o.audibleChunk.load() == waitedAudible && o.writeChunk.load() == waitedAudible &&
           o.renderBusy.load() == 0;
}

constexpr uint64_t bytesPerChunk = 884 * 4;

class AudioOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDeviceReset();
        tickLog = TickLog{};
        setUpTone();
    }
    void TearDown() override { testDeviceReset(); }
};

TEST(AudioOutputSizes, DerivedFromTheRate) {
    const OutputSizes s = outputSizesForRate(44100);
    EXPECT_EQ(s.chunkFrames, 884);
    EXPECT_EQ(s.bufferFrames, 88400);
    EXPECT_EQ(s.chunkCount, 100);
    EXPECT_EQ(s.outputBufferBytes, 353600);
    EXPECT_EQ(s.mixAllocationBytes, 707456);
    EXPECT_EQ(s.rampLength, 128);
    EXPECT_EQ(s.rampLengthReciprocal, 0.0078125f);
    EXPECT_EQ(s.bytesPerSecond, 176400);
    EXPECT_EQ(s.secondsPerFrame, 1.0f / 44100.0f);

    EXPECT_EQ(outputSizesForRate(48000).chunkFrames, 960);
    EXPECT_EQ(outputSizesForRate(48000).rampLength, 139);
    EXPECT_EQ(outputSizesForRate(22050).chunkFrames, 444);
    EXPECT_EQ(outputSizesForRate(22050).rampLength, 64);
    EXPECT_EQ(outputSizesForRate(22050).chunkCount, 100);
}

TEST(AudioOutputSongTime, TruncatedPerRun) {
    const float spf = outputSizesForRate(44100).secondsPerFrame;
    const int32_t frames[] = {884, 835, 530, 354, 49, 45, 44, 0};
    const int32_t ms[] = {20, 18, 12, 8, 1, 1, 0, 0};
    for (size_t i = 0; i < std::size(frames); ++i) {
        EXPECT_EQ(runDurationMs(frames[i], spf), ms[i]) << frames[i] << " frames";
    }
}

TEST(AudioOutputConversion, NearestTiesToEvenClamped) {
    EXPECT_EQ(pcmFromMix(1.5f), 2);
    EXPECT_EQ(pcmFromMix(2.5f), 2);
    EXPECT_EQ(pcmFromMix(-0.5f), 0);
    EXPECT_EQ(pcmFromMix(-1.5f), -2);
    EXPECT_EQ(pcmFromMix(32767.4f), 32767);
    EXPECT_EQ(pcmFromMix(32767.6f), 32767);
    EXPECT_EQ(pcmFromMix(-32768.4f), -32768);
    EXPECT_EQ(pcmFromMix(-40000.0f), -32768);
    EXPECT_EQ(pcmFromMix(1000000.0f), 32767);
    EXPECT_EQ(pcmFromMix(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(pcmFromMix(-std::numeric_limits<float>::infinity()), -32768);
    EXPECT_EQ(pcmFromMix(std::numeric_limits<float>::quiet_NaN()), 0);
}

// The block conversion must give exactly pcmFromMix's sample for every float, wherever it sits
// in the block (vector groups and the scalar tail alike).
TEST(AudioOutputConversion, BlockEqualsTheOneValueConversion) {
    std::vector<float> values = {1.5f,           2.5f,       -0.5f,     -1.5f,     0.5f,
                                 -2.5f,          32767.4f,   32767.5f,  32767.6f,  32768.0f,
                                 32766.5f,       -32768.4f,  -32768.5f, -32769.0f, -32767.5f,
                                 -40000.0f,      1000000.0f, 0.0f,      -0.0f,     2147483648.0f,
                                 -2147483904.0f, 3e38f};
    values.push_back(std::numeric_limits<float>::infinity());
    values.push_back(-std::numeric_limits<float>::infinity());
    values.push_back(std::numeric_limits<float>::quiet_NaN());
    values.push_back(-std::numeric_limits<float>::quiet_NaN());
    values.push_back(std::numeric_limits<float>::denorm_min());
    // Every half step across the whole range and past both ends.
    for (int32_t twice = -2 * 33000; twice <= 2 * 33000; ++twice)
        values.push_back(static_cast<float>(twice) * 0.5f);
    // Neighbours of halves, and arbitrary bit patterns (NaNs with payloads included).
    for (float half : {0.5f, 1.5f, 16383.5f, -16384.5f, 32766.5f, -32767.5f}) {
        values.push_back(std::nextafter(half, 0.0f));
        values.push_back(std::nextafter(half, 1e9f));
        values.push_back(std::nextafter(half, -1e9f));
    }
    uint32_t bits = 12345;
    for (int i = 0; i < 200000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(i % 2 == 0 ? f : static_cast<float>(static_cast<int32_t>(bits)) * 1e-5f);
    }
    for (int32_t offset = 0; offset < 8; ++offset) {
        const int32_t count = static_cast<int32_t>(values.size()) - offset;
        std::vector<int16_t> block(static_cast<size_t>(count), 0x5A5A);
        pcmFromMixBlock(values.data() + offset, block.data(), count);
        for (int32_t i = 0; i < count; ++i)
            ASSERT_EQ(block[i], pcmFromMix(values[offset + i]))
                << "value " << values[offset + i] << " at " << i << " offset " << offset;
    }
}

TEST(AudioOutputPlayChunk, FromDeviceBytes) {
    EXPECT_EQ(playChunkForPosition(353600, 884, 88400), 0);
    EXPECT_EQ(playChunkForPosition(3536, 884, 88400), 1);
    EXPECT_EQ(playChunkForPosition(3535, 884, 88400), 0);
    EXPECT_EQ(playChunkForPosition(353600 - 4, 884, 88400), 99);
    // Past 2^32 bytes (6.8 hours) the chunks still follow each other without a jump.
    const uint64_t wrap = uint64_t{1} << 32;
    for (uint64_t b = wrap - 5 * bytesPerChunk; b < wrap + 5 * bytesPerChunk; b += bytesPerChunk) {
        EXPECT_EQ(playChunkForPosition(b + bytesPerChunk, 884, 88400),
                  (playChunkForPosition(b, 884, 88400) + 1) % 100);
    }
}

TEST_F(AudioOutputTest, StampsAt530FramesPerTick) {
    Player p = makePlayer(countingTick);
    tickLog.framesPerTick = 530;
    ASSERT_TRUE(startPlayback(&p));
    const ChunkStamp* s = p.output.stamps.load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0].songTimeMs, 20);
    EXPECT_EQ(s[1].songTimeMs, 39);
    EXPECT_EQ(s[2].songTimeMs, 58);
    EXPECT_EQ(s[3].songTimeMs, 77);
    EXPECT_EQ(s[99].songTimeMs, 1902);
    // Ticks at frames 0 and 530 fall in chunk 0, 1060 and 1590 in chunk 1: the first chunk
    // starts with a tick, and 167 ticks cover the 88400 pre-rendered frames.
    EXPECT_EQ(s[0].row, 2);
    EXPECT_EQ(s[1].row, 4);
    EXPECT_EQ(tickLog.calls, 167);
    EXPECT_EQ(p.tickSamplesLeft, 167 * 530 - 88400);
    EXPECT_EQ(musicClockMs(&p), 20u);
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, StampsAt835FramesPerTick) {
    Player p = makePlayer(countingTick);
    tickLog.framesPerTick = 835;
    ASSERT_TRUE(startPlayback(&p));
    const ChunkStamp* s = p.output.stamps.load();
    EXPECT_EQ(s[0].songTimeMs, 19);
    EXPECT_EQ(s[1].songTimeMs, 38);
    EXPECT_EQ(s[2].songTimeMs, 57);
    EXPECT_EQ(s[3].songTimeMs, 76);
    EXPECT_EQ(s[99].songTimeMs, 1901);
    EXPECT_EQ(tickLog.calls, 106); // ceil(88400 / 835)
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, TickEndingWithTheChunkStartsTheNextChunkWithATick) {
    Player p = makePlayer(countingTick);
    tickLog.framesPerTick = 884;
    ASSERT_TRUE(startPlayback(&p));
    EXPECT_EQ(tickLog.calls, 100);
    EXPECT_EQ(p.tickSamplesLeft, 0);
    EXPECT_EQ(p.output.stamps.load()[0].row, 1);
    EXPECT_EQ(p.output.stamps.load()[99].row, 100);
    EXPECT_EQ(p.output.stamps.load()[99].songTimeMs, 2000);
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, StartResetsPlayerVoicesAndChannels) {
    Player p = makePlayer(countingTick);
    p.defaultBpm = 132;
    p.defaultTempo = 5;
    p.initialGlobalVolume = 40;
    p.globalVolume = 3;
    p.row = 7;
    p.order = 3;
    p.nextRow = 9;
    p.nextOrder = 2;
    p.tick = 4;
    p.patternDelayTicks = 2;
    p.songTimeMs = 12345;
    p.tickSamplesLeft = 77;
    p.mixer.voices[5].sample = &toneSample;
    p.mixer.voices[5].index = 99;
    p.mixer.voices[5].leftLevel = 1000;
    p.channels[2].voice = nullptr;
    p.channels[2].volume = 50;
    p.channels[6].volume = 33; // beyond channelCount 4: left alone
    ASSERT_TRUE(startPlayback(&p));

    const Player& seen = tickLog.firstSeen;
    EXPECT_EQ(seen.globalVolume, 40);
    EXPECT_EQ(seen.tempo, 5);
    EXPECT_EQ(seen.bpm, 132);
    EXPECT_EQ(seen.samplesPerTick, 835);
    EXPECT_EQ(seen.row, 0);
    EXPECT_EQ(seen.order, 0);
    EXPECT_EQ(seen.nextRow, -1);
    EXPECT_EQ(seen.nextOrder, -1);
    EXPECT_EQ(seen.tick, 0);
    EXPECT_EQ(seen.patternDelayTicks, 0);
    EXPECT_EQ(seen.songTimeMs, 0);
    EXPECT_EQ(tickLog.firstVoice5.index, 5);
    EXPECT_EQ(tickLog.firstVoice5.stepWhole, 1);
    EXPECT_EQ(tickLog.firstVoice5.sample, nullptr);
    EXPECT_EQ(tickLog.firstVoice5.leftLevel, 0);
    EXPECT_EQ(tickLog.channel6Volume, 33);
    EXPECT_EQ(p.channels[2].voice, &p.mixer.voices[2]);
    EXPECT_EQ(p.channels[2].volume, 0);
    // The BPM's 835 frames per tick governed the whole pre-render.
    EXPECT_EQ(p.output.stamps.load()[99].songTimeMs, 1901);
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, TickOfNoFramesDoesNotHang) {
    Player p = makePlayer(countingTick);
    tickLog.framesPerTick = -5;
    ASSERT_TRUE(startPlayback(&p));
    EXPECT_EQ(tickLog.calls, 88400);                    // every frame is a tick of its own
    EXPECT_EQ(p.output.stamps.load()[0].songTimeMs, 0); // 884 runs of one frame add 0 ms each
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, RenderThreadRefillsBehindThePlayPosition) {
    Player p = makePlayer(countingTick);
    tickLog.framesPerTick = 530;
    ASSERT_TRUE(startPlayback(&p));
    EXPECT_TRUE(p.output.renderThreadRunning);
    const TestDeviceCalls atStart = testDeviceCalls();
    EXPECT_EQ(atStart.opens, 1);
    EXPECT_EQ(atStart.starts, 1);
    EXPECT_EQ(testDeviceBuffer(), p.output.outputBuffer);
    EXPECT_EQ(testDeviceFrameCount(), 88400);

    // Chunk 0 has been heard: it is rendered anew, and the clock moves to chunk 1.
    testDeviceSetBytesPlayed(3536);
    waitedAudible = 1;
    waitedOutput = &p.output;
    ASSERT_TRUE(waitFor(audibleIsWaited));
    const ChunkStamp* s = p.output.stamps.load();
    EXPECT_EQ(musicClockMs(&p), 39u);
    EXPECT_EQ(s[1].songTimeMs, 39);
    EXPECT_GT(s[0].songTimeMs, 1902); // the next pass's chunk 100
    const int32_t chunk100 = s[0].songTimeMs;

    // One whole pass: play chunk 0 again, every other chunk rendered anew.
    testDeviceSetBytesPlayed(353600);
    waitedAudible = 0;
    waitedOutput = &p.output;
    ASSERT_TRUE(waitFor(audibleIsWaited));
    EXPECT_EQ(musicClockMs(&p), static_cast<uint32_t>(chunk100));
    EXPECT_GT(s[99].songTimeMs, s[98].songTimeMs);
    EXPECT_GT(s[1].songTimeMs, 1902);
    EXPECT_GT(testDeviceCalls().positionQueries, 0);

    Player offline = makePlayer(countingTick);
    EXPECT_TRUE(stopPlayback(&p));
    // The offline renderer gives the same times for chunks 100 and 101.
    ASSERT_TRUE(offlineBegin(&offline));
    std::vector<int16_t> frames(884 * 2);
    for (int32_t i = 0; i < 101; ++i) offlineRender(&offline, frames.data(), 884);
    EXPECT_EQ(offlineLastStamp(&offline).songTimeMs, chunk100);
    offlineEnd(&offline);
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, WithoutADeviceTheClockStaysAtZero) {
    Player p = makePlayer(countingTick);
    testDeviceSetOpenFails(true);
    EXPECT_FALSE(startPlayback(&p));
    EXPECT_EQ(musicClockMs(&p), 0u);
    EXPECT_FALSE(p.output.renderThreadRunning);
    EXPECT_EQ(testDeviceCalls().starts, 0);
    EXPECT_EQ(tickLog.calls, 0); // nothing was rendered
    // Left as the failed start leaves it: the output active without a device and a zero ring,
    // until a stop.
    EXPECT_TRUE(p.output.active);
    EXPECT_EQ(p.output.device, nullptr);
    ASSERT_NE(p.output.stamps.load(), nullptr);
    EXPECT_EQ(p.output.stamps.load()[0].songTimeMs, 0);
    EXPECT_TRUE(stopPlayback(&p));
    EXPECT_EQ(p.output.stamps.load(), nullptr);
    EXPECT_FALSE(p.output.active);
    EXPECT_EQ(p.output.stopDevicePlayback, nullptr);
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, IncompleteStreamTableRefusesAfterStopping) {
    Player p = makePlayer(countingTick);
    ASSERT_TRUE(startPlayback(&p));
    p.streams.tell = nullptr;
    EXPECT_FALSE(startPlayback(&p));
    p.streams = memoryStreamInterface;
    EXPECT_FALSE(p.output.renderThreadRunning);
    EXPECT_EQ(p.output.stamps.load(), nullptr);
    EXPECT_EQ(musicClockMs(&p), 0u);
    // The failed start's stop; the first start's stop found the Player on no device and left the
    // device alone, as it must when another Player could be playing there.
    EXPECT_EQ(testDeviceCalls().closes, 1);
    EXPECT_FALSE(testDeviceIsOpen());
    EXPECT_TRUE(stopPlayback(&p));
}

TEST_F(AudioOutputTest, StopAnyNumberOfTimes) {
    Player p = makePlayer(countingTick);
    EXPECT_FALSE(stopPlayback(nullptr));
    EXPECT_FALSE(startPlayback(nullptr));
    EXPECT_TRUE(stopPlayback(&p)); // never started
    EXPECT_TRUE(stopPlayback(&p));
    EXPECT_EQ(musicClockMs(&p), 0u);

    ASSERT_TRUE(startPlayback(&p));
    testDeviceSetBytesPlayed(5 * bytesPerChunk);
    waitedAudible = 5;
    waitedOutput = &p.output;
    ASSERT_TRUE(waitFor(audibleIsWaited));
    EXPECT_GT(musicClockMs(&p), 0u);
    EXPECT_TRUE(stopPlayback(&p));
    EXPECT_FALSE(p.output.renderThreadRunning);
    EXPECT_EQ(p.output.renderThreadDone.load(), 1);
    EXPECT_EQ(p.output.stamps.load(), nullptr);
    EXPECT_EQ(p.output.outputBuffer, nullptr);
    EXPECT_EQ(p.output.mixAllocation, nullptr);
    EXPECT_EQ(p.output.writeChunk.load(), 0);
    EXPECT_EQ(p.output.audibleChunk.load(), 0);
    EXPECT_EQ(testDeviceBuffer(), nullptr);
    EXPECT_FALSE(testDeviceIsOpen());
    EXPECT_EQ(musicClockMs(&p), 0u);
    EXPECT_TRUE(stopPlayback(&p));
    EXPECT_EQ(musicClockMs(&p), 0u);

    // And it starts again from the beginning.
    tickLog.calls = 0;
    testDeviceSetBytesPlayed(0);
    ASSERT_TRUE(startPlayback(&p));
    EXPECT_EQ(musicClockMs(&p), 20u); // BPM 125: a run of 882 frames (20 ms) and one of 2 (0 ms)
    EXPECT_TRUE(stopPlayback(&p));
}

// The smallest module: 4 channels, one pattern of 64 empty rows, no instruments.
std::vector<uint8_t> emptyModule() {
    std::vector<uint8_t> m;
    auto put = [&m](const char* text) {
        for (const char* c = text; *c != 0; ++c) m.push_back(static_cast<uint8_t>(*c));
    };
    auto put16 = [&m](uint16_t v) {
        m.push_back(static_cast<uint8_t>(v));
        m.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(static_cast<uint16_t>(v));
        put16(static_cast<uint16_t>(v >> 16));
    };
    put("Extended Module: ");
    m.resize(m.size() + 20, ' ');
    m.push_back(0x1A);
    m.resize(m.size() + 20, ' ');
    put16(0x0104);
    put32(276);
    put16(1);   // song length
    put16(0);   // restart
    put16(4);   // channels
    put16(1);   // patterns
    put16(0);   // instruments
    put16(1);   // linear
    put16(6);   // tempo
    put16(125); // bpm
    m.resize(m.size() + 256, 0);
    put32(9);
    m.push_back(0);
    put16(64);
    put16(64 * 4);
    m.resize(m.size() + 64 * 4, 0x80);
    return m;
}

TEST_F(AudioOutputTest, DestroyPlayerDuringPlayback) {
    const std::vector<uint8_t> bytes = emptyModule();
    const MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};

    // As the demo tears down: stop, then destroy, which stops once more.
    Player* a = createPlayer(&description);
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(startPlayback(a));
    testDeviceSetBytesPlayed(3 * bytesPerChunk);
    waitedAudible = 3;
    waitedOutput = &a->output;
    ASSERT_TRUE(waitFor(audibleIsWaited));
    EXPECT_TRUE(stopPlayback(a));
    EXPECT_EQ(musicClockMs(a), 0u);
    EXPECT_TRUE(destroyPlayer(a));

    // Destroyed while the render thread runs.
    testDeviceSetBytesPlayed(0);
    Player* b = createPlayer(&description);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(startPlayback(b));
    testDeviceSetBytesPlayed(60 * bytesPerChunk);
    EXPECT_TRUE(destroyPlayer(b));
    EXPECT_FALSE(testDeviceIsOpen()); // the render thread was stopped and joined first

    // Never started.
    Player* c = createPlayer(&description);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(musicClockMs(c), 0u);
    EXPECT_TRUE(destroyPlayer(c));
    EXPECT_FALSE(destroyPlayer(nullptr));
    EXPECT_FALSE(testDeviceIsOpen());
}

TEST_F(AudioOutputTest, OfflineRenderEqualsTheDevicePath) {
    constexpr int32_t extraChunks = 37;
    Player p = makePlayer(toneTick);
    ASSERT_TRUE(startPlayback(&p));
    EXPECT_EQ(p.output.chunkCount, 100);
    EXPECT_EQ(p.output.bufferFrames, 88400);
    std::vector<int16_t> device(p.output.outputBuffer, p.output.outputBuffer + 88400 * 2);
    std::vector<ChunkStamp> deviceStamps(p.output.stamps.load(), p.output.stamps.load() + 100);
    testDeviceSetBytesPlayed(extraChunks * bytesPerChunk);
    waitedAudible = extraChunks;
    waitedOutput = &p.output;
    ASSERT_TRUE(waitFor(audibleIsWaited));
    device.insert(device.end(), p.output.outputBuffer,
                  p.output.outputBuffer + extraChunks * 884 * 2);
    const ChunkStamp lastDeviceStamp = p.output.stamps.load()[extraChunks - 1];
    EXPECT_TRUE(stopPlayback(&p));

    int64_t loud = 0;
    for (int16_t v : device) loud += v != 0;
    ASSERT_GT(loud, static_cast<int64_t>(device.size() / 2)) << "the tone should be heard";

    tickLog = TickLog{};
    Player q = makePlayer(toneTick);
    ASSERT_TRUE(offlineBegin(&q));
    // One chunk is rendered and handed out at a time: the ring is a single chunk long.
    EXPECT_EQ(q.output.chunkCount, 1);
    EXPECT_EQ(q.output.bufferFrames, 884);
    std::vector<int16_t> offline(device.size());
    // Odd request sizes, so requests cross chunk boundaries anywhere.
    const int32_t total = static_cast<int32_t>(offline.size() / 2);
    int32_t done = 0;
    int32_t step = 1;
    while (done < total) {
        int32_t n = std::min(step, total - done);
        ASSERT_EQ(offlineRender(&q, offline.data() + static_cast<size_t>(done) * 2, n), n);
        done += n;
        step = step * 3 % 1777 + 1;
        if (offlineChunksRendered(&q) == 100) {
            EXPECT_EQ(offlineLastStamp(&q).songTimeMs, deviceStamps[99].songTimeMs);
        }
    }
    EXPECT_EQ(offlineChunksRendered(&q), 100 + extraChunks);
    EXPECT_EQ(offlineLastStamp(&q).songTimeMs, lastDeviceStamp.songTimeMs);
    EXPECT_EQ(offlineLastStamp(&q).order, lastDeviceStamp.order);
    EXPECT_EQ(offlineLastStamp(&q).row, lastDeviceStamp.row);
    size_t firstDifference = device.size();
    for (size_t i = 0; i < device.size(); ++i) {
        if (device[i] != offline[i]) {
            firstDifference = i;
            break;
        }
    }
    EXPECT_EQ(firstDifference, device.size()) << "first differing value";
    offlineEnd(&q);
    offlineEnd(&q);
    EXPECT_EQ(q.output.stamps.load(), nullptr);
    EXPECT_TRUE(stopPlayback(&p));
}

// Another rate changes every size that follows from it at the next start, offline and on the
// device alike; a rate outside 8000 .. 192000 Hz is refused and changes nothing.
TEST_F(AudioOutputTest, OtherRatesSizeEverythingFromTheRate) {
    Player p = makePlayer(countingTick);
    EXPECT_EQ(p.outputRate, 44100);
    EXPECT_FALSE(setSampleRate(&p, 7999));
    EXPECT_FALSE(setSampleRate(&p, 192001));
    EXPECT_FALSE(setSampleRate(nullptr, 48000));
    EXPECT_EQ(p.outputRate, 44100);

    ASSERT_TRUE(setSampleRate(&p, 48000));
    EXPECT_EQ(samplesPerTickForBpm(125, 48000), 960);
    ASSERT_TRUE(offlineBegin(&p));
    EXPECT_EQ(p.output.chunkFrames, 960);
    EXPECT_EQ(p.output.secondsPerFrame, 1.0f / 48000.0f);
    EXPECT_EQ(p.mixer.rampLength, 139);
    EXPECT_EQ(p.mixer.rampLengthReciprocal, 1.0f / 139.0f);
    EXPECT_EQ(p.samplesPerTick, samplesPerTickForBpm(p.bpm, 48000));
    std::vector<int16_t> out(960 * 2);
    EXPECT_EQ(offlineRender(&p, out.data(), 960), 960);
    EXPECT_EQ(offlineLastStamp(&p).songTimeMs, 20); // 960 frames at 48000 Hz
    offlineEnd(&p);

    ASSERT_TRUE(startPlayback(&p));
    EXPECT_EQ(p.output.bufferFrames, 96000);
    EXPECT_EQ(testDeviceFrameCount(), 96000);
    EXPECT_TRUE(stopPlayback(&p));

    // Another Player at another rate at the same time: each keeps its own figures.
    Player q = makePlayer(countingTick);
    ASSERT_TRUE(setSampleRate(&q, 22050));
    ASSERT_TRUE(offlineBegin(&q));
    ASSERT_TRUE(offlineBegin(&p));
    EXPECT_EQ(q.output.chunkFrames, 444);
    EXPECT_EQ(q.mixer.rampLength, 64);
    EXPECT_EQ(p.output.chunkFrames, 960);
    EXPECT_EQ(p.mixer.rampLength, 139);
    offlineEnd(&q);
    offlineEnd(&p);

    // Back at the demo's rate, the demo's figures.
    ASSERT_TRUE(setSampleRate(&p, defaultSampleRateHz));
    ASSERT_TRUE(offlineBegin(&p));
    EXPECT_EQ(p.output.chunkFrames, 884);
    EXPECT_EQ(p.mixer.rampLength, 128);
    EXPECT_EQ(samplesPerTickForBpm(132, defaultSampleRateHz), 835);
    offlineEnd(&p);
    EXPECT_TRUE(stopPlayback(&p));
}

// Every Player plays on a device of its own; the test backend, like waveOut and Web Audio, has
// a single device, so while one Player plays there another's start is refused with false and
// leaves the first playing, and its offline render is not in the way. Once the first is stopped
// the second may start.
TEST_F(AudioOutputTest, ASingleDeviceBackendPlaysOnePlayerAtATime) {
    Player p = makePlayer(countingTick);
    Player q = makePlayer(countingTick);
    ASSERT_TRUE(startPlayback(&p));
    EXPECT_NE(p.output.device, nullptr);
    EXPECT_FALSE(startPlayback(&q));
    EXPECT_EQ(q.output.device, nullptr);
    EXPECT_TRUE(p.output.renderThreadRunning);
    EXPECT_TRUE(testDeviceIsOpen());
    EXPECT_EQ(testDeviceCalls().opens, 2);
    EXPECT_EQ(testDeviceCalls().closes, 0);
    EXPECT_TRUE(stopPlayback(&q)); // closes nothing of p's
    EXPECT_TRUE(testDeviceIsOpen());
    EXPECT_EQ(testDeviceCalls().closes, 0);

    ASSERT_TRUE(offlineBegin(&q));
    std::vector<int16_t> out(884 * 2);
    EXPECT_EQ(offlineRender(&q, out.data(), 884), 884);
    EXPECT_TRUE(stopPlayback(&q)); // ends q's offline render, leaves the device to p
    EXPECT_TRUE(p.output.renderThreadRunning);
    EXPECT_TRUE(testDeviceIsOpen());

    EXPECT_TRUE(stopPlayback(&p));
    EXPECT_FALSE(testDeviceIsOpen());
    ASSERT_TRUE(startPlayback(&q));
    EXPECT_TRUE(q.output.renderThreadRunning);
    EXPECT_TRUE(stopPlayback(&q));
}

TEST_F(AudioOutputTest, OfflineRenderNeedsABegin) {
    int16_t out[8] = {};
    Player p = makePlayer(countingTick);
    EXPECT_EQ(offlineRender(&p, out, 4), 0);
    EXPECT_EQ(offlineRender(nullptr, out, 4), 0);
    EXPECT_FALSE(offlineBegin(nullptr));
    ASSERT_TRUE(offlineBegin(&p));
    EXPECT_EQ(offlineRender(&p, out, 0), 0);
    EXPECT_EQ(offlineRender(&p, out, 4), 4);
    EXPECT_EQ(offlineLastStamp(&p).songTimeMs, 20);
    // A device start takes the Player's output over; the offline render then gives nothing.
    ASSERT_TRUE(startPlayback(&p));
    EXPECT_EQ(offlineRender(&p, out, 4), 0);
    offlineEnd(&p);
    EXPECT_TRUE(p.output.renderThreadRunning) << "ending the offline render left it alone";
    EXPECT_TRUE(stopPlayback(&p));
}

} // namespace
} // namespace music
