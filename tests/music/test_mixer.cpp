// Tests of the voice mixer: boundaries and loops, ramps, voice selection and a frame-by-frame
// reference mixer compared over random voices.
#include "music/mixer.h"
#include "music/module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace music {
namespace {

constexpr int64_t frameUnits = int64_t{1} << 32; // one frame in position units
constexpr float inverse255 = 1.0f / 255.0f;

// A sample whose data block is exactly as large as the loader makes it (length plus the guard
// values), so that any read outside it is caught by the address sanitizer.
struct TestSample {
    std::unique_ptr<int16_t[]> storage; // exactly sized, unlike a vector's capacity
    Sample sample{};
};

std::unique_ptr<TestSample> makeSample(const std::vector<int16_t>& frames, uint32_t loopStart,
                                       uint32_t loopLength, uint8_t loopMode) {
    auto made = std::make_unique<TestSample>();
    const uint32_t length = static_cast<uint32_t>(frames.size());
    made->sample.length = length;
    made->sample.loopStart = loopStart;
    made->sample.loopLength = loopLength;
    made->sample.loopMode = loopMode;
    made->sample.bits = 16;
    if (length > 0) {
        made->storage = std::make_unique<int16_t[]>(length + sampleGuardValues);
        std::copy(frames.begin(), frames.end(), made->storage.get());
        const uint32_t loopEnd = loopStart + loopLength;
        if (loopMode == LOOP_FORWARD) made->storage[loopEnd] = frames[loopStart];
        if (loopMode == LOOP_PINGPONG) made->storage[loopEnd] = frames[loopEnd - 1];
        made->sample.data = made->storage.get();
    }
    return made;
}

std::unique_ptr<TestSample> constantSample(uint32_t length, int16_t value, uint32_t loopStart,
                                           uint32_t loopLength, uint8_t loopMode) {
    return makeSample(std::vector<int16_t>(length, value), loopStart, loopLength, loopMode);
}

std::vector<int16_t> risingFrames(uint32_t length, int16_t stepValue) {
    std::vector<int16_t> frames(length);
    for (uint32_t i = 0; i < length; ++i) frames[i] = static_cast<int16_t>((i + 1) * stepValue);
    return frames;
}

// The mixer under test, one for the whole file; every test starts it afresh (resetMixer).
Mixer& testMixer() {
    static std::unique_ptr<Mixer> mixer(new Mixer{});
    return *mixer;
}

void resetVoiceTable() {
    std::memset(static_cast<void*>(testMixer().voices), 0, sizeof testMixer().voices);
    for (int32_t i = 0; i < voiceTableSize; ++i) {
        testMixer().voices[i].index = i;
        testMixer().voices[i].stepWhole = 1;
    }
}

// A voice already at its targets, so no ramp runs.
Voice& settledVoice(int32_t slot, Sample* sample, int32_t leftTarget, int32_t rightTarget) {
    Voice& voice = testMixer().voices[slot];
    voice.sample = sample;
    voice.direction = DIRECTION_FORWARD;
    voice.leftTarget = leftTarget;
    voice.rightTarget = rightTarget;
    voice.rampLeftTarget = leftTarget;
    voice.rampRightTarget = rightTarget;
    voice.leftLevel = leftTarget * 256;
    voice.rightLevel = rightTarget * 256;
    return voice;
}

void setStep(Voice& voice, int32_t whole, uint32_t fraction) {
    voice.stepWhole = whole;
    voice.stepFraction = fraction;
}

int64_t positionOf(const Voice& voice) {
    return static_cast<int64_t>(voice.positionWhole) * frameUnits + voice.positionFraction;
}

void expectSameVoice(const Voice& a, const Voice& b) {
    EXPECT_EQ(a.index, b.index);
    EXPECT_EQ(a.volumeCopy, b.volumeCopy);
    EXPECT_EQ(a.frequency, b.frequency);
    EXPECT_EQ(a.panningCopy, b.panningCopy);
    EXPECT_EQ(a.voiceVolume, b.voiceVolume);
    EXPECT_EQ(a.voicePanning, b.voicePanning);
    EXPECT_EQ(a.startOffset, b.startOffset);
    EXPECT_EQ(a.sample, b.sample);
    EXPECT_EQ(a.leftTarget, b.leftTarget);
    EXPECT_EQ(a.rightTarget, b.rightTarget);
    EXPECT_EQ(a.positionWhole, b.positionWhole);
    EXPECT_EQ(a.positionFraction, b.positionFraction);
    EXPECT_EQ(a.stepFraction, b.stepFraction);
    EXPECT_EQ(a.stepWhole, b.stepWhole);
    EXPECT_EQ(a.direction, b.direction);
    EXPECT_EQ(a.rampLeftTarget, b.rampLeftTarget);
    EXPECT_EQ(a.rampRightTarget, b.rampRightTarget);
    EXPECT_EQ(a.leftLevel, b.leftLevel);
    EXPECT_EQ(a.rightLevel, b.rightLevel);
    EXPECT_EQ(a.leftRampIncrement, b.leftRampIncrement);
    EXPECT_EQ(a.rightRampIncrement, b.rightRampIncrement);
    EXPECT_EQ(a.rampFramesLeft, b.rampFramesLeft);
}

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetVoiceTable();
        setRampConstants(testMixer(), 44100);
    }
    void TearDown() override { resetVoiceTable(); }

    std::vector<float> mix(int32_t frames) {
        std::vector<float> buffer(2 * static_cast<size_t>(frames), 0.0f);
        mixVoices(testMixer(), buffer.data(), frames);
        return buffer;
    }
};

// --- Calls that do nothing, voices that are never played -------------------------------------

TEST_F(MixerTest, NonPositiveFrameCountsChangeNeitherBufferNorVoices) {
    auto sample = constantSample(1000, 5000, 0, 1000, LOOP_FORWARD);
    Voice& voice = testMixer().voices[0];
    voice.sample = &sample->sample;
    voice.direction = DIRECTION_FORWARD;
    voice.leftTarget = 60;
    voice.rightTarget = 40;
    voice.positionWhole = 10;
    const Voice before = voice;
    std::vector<float> buffer(8, 7.0f);
    mixVoices(testMixer(), buffer.data(), 0);
    mixVoices(testMixer(), buffer.data(), -4);
    for (float value : buffer) EXPECT_EQ(value, 7.0f);
    expectSameVoice(voice, before);
}

TEST_F(MixerTest, VoicesAbove63AreNeverPlayed) {
    auto sample = constantSample(1000, 5000, 0, 1000, LOOP_FORWARD);
    for (int32_t slot = mixedVoiceCount; slot < voiceTableSize; ++slot)
        settledVoice(slot, &sample->sample, 100, 100);
    const Voice before = testMixer().voices[200];
    const std::vector<float> buffer = mix(300);
    for (float value : buffer) EXPECT_EQ(value, 0.0f);
    expectSameVoice(testMixer().voices[200], before);
    EXPECT_EQ(testMixer().voices[64].positionWhole, 0);
    EXPECT_EQ(testMixer().voices[255].positionWhole, 0);
}

TEST_F(MixerTest, MixAddsToWhatTheBufferHolds) {
    auto sample = constantSample(1000, 1000, 0, 1000, LOOP_FORWARD);
    settledVoice(0, &sample->sample, 255, 0);
    settledVoice(63, &sample->sample, 0, 51);
    std::vector<float> buffer(20, 1.0f);
    mixVoices(testMixer(), buffer.data(), 10);
    const float left = 1.0f + 1000.0f * (255.0f * inverse255);
    const float right = 1.0f + 1000.0f * (51.0f * inverse255);
    for (int frame = 0; frame < 10; ++frame) {
        EXPECT_EQ(buffer[2 * frame], left);
        EXPECT_EQ(buffer[2 * frame + 1], right);
    }
}

// --- Panning and the order of the two outputs ------------------------------------------------

TEST_F(MixerTest, PanningSendsTheVoiceToOneSide) {
    auto sample = constantSample(1000, 2000, 0, 1000, LOOP_FORWARD);
    // Panning 255 at volume 127: left target 127, right target 0.
    settledVoice(0, &sample->sample, 127 * 255 / 255, 127 * (255 - 255) / 255);
    std::vector<float> buffer = mix(50);
    for (int frame = 0; frame < 50; ++frame) {
        EXPECT_GT(buffer[2 * frame], 900.0f);
        EXPECT_EQ(buffer[2 * frame + 1], 0.0f);
    }
    // Panning 0: all right.
    resetVoiceTable();
    settledVoice(0, &sample->sample, 127 * 0 / 255, 127 * (255 - 0) / 255);
    buffer = mix(50);
    for (int frame = 0; frame < 50; ++frame) {
        EXPECT_EQ(buffer[2 * frame], 0.0f);
        EXPECT_GT(buffer[2 * frame + 1], 900.0f);
    }
}

// --- Ends of samples -------------------------------------------------------------------------

TEST_F(MixerTest, FullStepWithoutLoopPlaysEveryFrameOnceThenIdles) {
    const uint32_t length = 10;
    auto sample = makeSample(risingFrames(length, 100), 0, length, LOOP_NONE);
    settledVoice(5, &sample->sample, 200, 100);
    const std::vector<float> buffer = mix(25);
    const float leftGain = 200.0f * inverse255;
    const float rightGain = 100.0f * inverse255;
    for (uint32_t frame = 0; frame < length; ++frame) {
        const float value = static_cast<float>((frame + 1) * 100);
        EXPECT_EQ(buffer[2 * frame], value * leftGain) << frame;
        EXPECT_EQ(buffer[2 * frame + 1], value * rightGain) << frame;
    }
    for (uint32_t frame = length; frame < 25; ++frame) {
        EXPECT_EQ(buffer[2 * frame], 0.0f) << frame;
        EXPECT_EQ(buffer[2 * frame + 1], 0.0f) << frame;
    }
    EXPECT_EQ(testMixer().voices[5].sample, nullptr);
    EXPECT_EQ(testMixer().voices[5].positionWhole, 0);
    EXPECT_EQ(testMixer().voices[5].positionFraction, 0u);
}

TEST_F(MixerTest, LastFrameInterpolatesTowardTheZeroGuard) {
    auto sample = constantSample(4, 1000, 0, 4, LOOP_NONE);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    voice.positionWhole = 3;
    voice.positionFraction = 0x80000000u;
    const std::vector<float> buffer = mix(3);
    EXPECT_EQ(buffer[0], 500.0f * (255.0f * inverse255));
    EXPECT_EQ(buffer[2], 0.0f);
    EXPECT_EQ(voice.sample, nullptr);
}

TEST_F(MixerTest, LengthZeroSamplesStopWithoutMixingAFrame) {
    // The shared empty sample: no data, length 0, loop mode 0.
    Sample empty{};
    auto noLoop = constantSample(0, 0, 0, 0, LOOP_NONE);
    settledVoice(0, &empty, 100, 100);
    settledVoice(1, &noLoop->sample, 100, 100);
    testMixer().voices[1].positionWhole = 0;
    const std::vector<float> buffer = mix(64);
    for (float value : buffer) EXPECT_EQ(value, 0.0f);
    for (int slot = 0; slot < 2; ++slot) {
        EXPECT_EQ(testMixer().voices[slot].sample, nullptr);
        EXPECT_EQ(testMixer().voices[slot].positionWhole, 0);
        EXPECT_EQ(testMixer().voices[slot].positionFraction, 0u);
    }
}

TEST_F(MixerTest, LoopModeZeroOnRealDataPlaysWithoutLoop) {
    auto sample = constantSample(20, 1000, 5, 10, 0);
    settledVoice(0, &sample->sample, 100, 100);
    const std::vector<float> buffer = mix(40);
    EXPECT_NE(buffer[2 * 14], 0.0f); // still before the loop end at 15
    EXPECT_EQ(buffer[2 * 15], 0.0f);
    EXPECT_EQ(testMixer().voices[0].sample, nullptr);
}

// --- Forward loops ---------------------------------------------------------------------------

TEST_F(MixerTest, ForwardLoopKeepsTheOvershootAndTheFraction) {
    auto sample = makeSample(risingFrames(200, 10), 100, 100, LOOP_FORWARD);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    setStep(voice, 1, 0x80000000u); // 1.5 frames per frame
    voice.positionWhole = 190;
    // 190, 191.5, ... 199 are the seven frames before the loop end; 200.5 continues at 100.5.
    std::vector<float> buffer = mix(7);
    EXPECT_EQ(voice.positionWhole, 100);
    EXPECT_EQ(voice.positionFraction, 0x80000000u);
    buffer = mix(3);
    const float gain = 255.0f * inverse255;
    // At 100.5 the frame lies halfway between elements 100 and 101 (values 1010 and 1020).
    EXPECT_EQ(buffer[0], 1015.0f * gain);
    EXPECT_EQ(voice.positionWhole, 105);
    EXPECT_EQ(voice.positionFraction, 0u);
    EXPECT_EQ(voice.sample, &sample->sample);
}

TEST_F(MixerTest, ForwardLoopReadsTheGuardCopyAtTheLoopEnd) {
    auto sample = makeSample(risingFrames(8, 100), 2, 6, LOOP_FORWARD);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    voice.positionWhole = 7;
    voice.positionFraction = 0x80000000u;
    const std::vector<float> buffer = mix(1);
    // Element 8 is the guard copy of element 2 (value 300); element 7 holds 800.
    EXPECT_EQ(buffer[0], 550.0f * (255.0f * inverse255));
    EXPECT_EQ(voice.positionWhole, 2);
}

TEST_F(MixerTest, ForwardBoundaryIsTheLoopEndUpToItAndTheLengthBeyondIt) {
    auto sample = makeSample(risingFrames(12, 100), 2, 6, LOOP_FORWARD);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    // Exactly at the loop end the pass has no frames and the loop wraps at once.
    voice.positionWhole = 8;
    std::vector<float> buffer = mix(1);
    EXPECT_EQ(buffer[0], 300.0f * (255.0f * inverse255));
    EXPECT_EQ(voice.positionWhole, 3);
    // Past the loop end the voice plays on to the length, then wraps by the loop length.
    voice.positionWhole = 9;
    buffer = mix(4);
    EXPECT_EQ(buffer[0], 1000.0f * (255.0f * inverse255));
    EXPECT_EQ(buffer[4], 1200.0f * (255.0f * inverse255));
    EXPECT_EQ(buffer[6], 700.0f * (255.0f * inverse255)); // element 6
    EXPECT_EQ(voice.positionWhole, 7);
}

TEST_F(MixerTest, ElementBeforeTheDataReadsAsZero) {
    // A boundary at a loop start of 0 can leave the whole part at -1.
    auto sample = constantSample(100, 1000, 0, 100, LOOP_FORWARD);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    voice.positionWhole = -1;
    voice.positionFraction = 0xFFFFFF00u;
    const std::vector<float> buffer = mix(2);
    const float t = static_cast<float>(0xFFFFFF00u >> 1) * 0x1p-31f;
    EXPECT_EQ(buffer[0], (t * 1000.0f) * (255.0f * inverse255));
    EXPECT_EQ(buffer[2], 1000.0f * (255.0f * inverse255));
}

// --- Ping-pong loops -------------------------------------------------------------------------

TEST_F(MixerTest, PingPongMirrorsAtTheLoopEnd) {
    auto sample = constantSample(200, 1000, 100, 100, LOOP_PINGPONG);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    setStep(voice, 1, 0x80000000u);
    voice.positionWhole = 199;
    mix(1);
    // 200.5 overshoots by 0.5: the voice continues backward from 199.5 - 2^-32.
    EXPECT_EQ(positionOf(voice), 200 * frameUnits - frameUnits / 2 - 1);
    EXPECT_EQ(voice.direction, DIRECTION_BACKWARD);
}

TEST_F(MixerTest, PingPongMirrorsAtTheLoopStart) {
    auto sample = constantSample(200, 1000, 100, 100, LOOP_PINGPONG);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    setStep(voice, 0, 0x80000000u);
    voice.positionWhole = 100;
    voice.positionFraction = 0x40000000u; // 100.25
    voice.direction = DIRECTION_BACKWARD;
    mix(1);
    EXPECT_EQ(positionOf(voice), 100 * frameUnits + frameUnits / 4 - 1);
    EXPECT_EQ(voice.direction, DIRECTION_FORWARD);
    // Any direction other than forward plays backward.
    voice.direction = 7;
    voice.positionFraction = 0x40000000u;
    mix(1);
    EXPECT_EQ(voice.direction, DIRECTION_FORWARD);
}

TEST_F(MixerTest, PingPongOvershootLongerThanTheLoopMirrorsRepeatedly) {
    auto sample = constantSample(200, 1000, 100, 3, LOOP_PINGPONG);
    struct Case {
        int32_t stepFrames;
        int64_t position;
        int32_t direction;
    };
    // From 102 forward, the step lands at 102 + step; the fold into 100..103 takes 2, 3 and 4
    // mirrors for steps 5, 8 and 10.
    const Case cases[] = {{5, 101 * frameUnits, DIRECTION_FORWARD},
                          {8, 102 * frameUnits - 1, DIRECTION_BACKWARD},
                          {10, 100 * frameUnits, DIRECTION_FORWARD}};
    for (const Case& c : cases) {
        resetVoiceTable();
        Voice& voice = settledVoice(0, &sample->sample, 255, 255);
        setStep(voice, c.stepFrames, 0);
        voice.positionWhole = 102;
        mix(1);
        EXPECT_EQ(positionOf(voice), c.position) << c.stepFrames;
        EXPECT_EQ(voice.direction, c.direction) << c.stepFrames;
    }
}

// --- Steps the boundary count cannot take as they are ----------------------------------------

TEST_F(MixerTest, ZeroStepIsCountedAsA256HzVoice) {
    auto sample = constantSample(10, 1000, 0, 10, LOOP_NONE);
    Voice& voice = settledVoice(0, &sample->sample, 255, 255);
    setStep(voice, 0, 0);
    voice.positionWhole = 5;
    // 5 frames at 24 fractional bits over the substitute step, rounded up.
    const int64_t count = ((int64_t{5} << 24) + 0x17C6F - 1) / 0x17C6F;
    const std::vector<float> buffer = mix(static_cast<int32_t>(count + 20));
    EXPECT_NE(buffer[2 * (count - 1)], 0.0f);
    EXPECT_EQ(buffer[2 * count], 0.0f);
    EXPECT_EQ(voice.sample, nullptr);
}

TEST_F(MixerTest, StepsOf256FramesOrMoreStayInsideTheData) {
    for (int32_t stepWhole : {256, 1000, -1}) {
        resetVoiceTable();
        auto sample = constantSample(5000, 1000, 0, 5000, LOOP_NONE);
        Voice& voice = settledVoice(0, &sample->sample, 255, 255);
        setStep(voice, stepWhole, 0);
        mix(10);
        // Played at just under 256 frames of data per output frame.
        EXPECT_EQ(voice.positionWhole, 2559) << stepWhole;
        const std::vector<float> buffer = mix(30);
        EXPECT_EQ(voice.sample, nullptr) << stepWhole;
        EXPECT_EQ(buffer[2 * 29], 0.0f);
        auto loop = constantSample(300, 1000, 100, 3, LOOP_PINGPONG);
        resetVoiceTable();
        Voice& bouncing = settledVoice(0, &loop->sample, 255, 255);
        setStep(bouncing, stepWhole, 0x12345678u);
        mix(500);
        EXPECT_GE(bouncing.positionWhole, 100);
        EXPECT_LT(bouncing.positionWhole, 103);
    }
}

TEST_F(MixerTest, PositionsOutsideTheDataAreNeverRead) {
    auto sample = constantSample(50, 1000, 10, 20, LOOP_FORWARD);
    auto pingPong = constantSample(50, 1000, 10, 20, LOOP_PINGPONG);
    auto noLoop = constantSample(50, 1000, 0, 50, LOOP_NONE);
    Sample noData{};
    noData.length = 40;
    noData.loopLength = 40;
    noData.loopMode = LOOP_FORWARD;
    const int32_t wholes[] = {51, 53, 56, 60, 1000000, INT32_MAX - 3, INT32_MIN + 2, -5};
    for (int32_t whole : wholes) {
        for (Sample* s : {&sample->sample, &pingPong->sample, &noLoop->sample, &noData}) {
            for (int32_t direction : {DIRECTION_FORWARD, DIRECTION_BACKWARD}) {
                resetVoiceTable();
                Voice& voice = settledVoice(0, s, 255, 255);
                voice.positionWhole = whole;
                voice.direction = direction;
                setStep(voice, 3, 0x9000000u);
                const std::vector<float> buffer = mix(2000);
                for (float value : buffer) ASSERT_TRUE(value >= 0.0f && value <= 1000.0f);
            }
        }
    }
}

// --- Volume ramps ----------------------------------------------------------------------------

TEST_F(MixerTest, NewNoteRampsUpFromSilence) {
    auto sample = constantSample(1000, 1000, 0, 1000, LOOP_FORWARD);
    Voice& voice = testMixer().voices[0];
    voice.sample = &sample->sample;
    voice.direction = DIRECTION_FORWARD;
    voice.leftTarget = 100;
    voice.rightTarget = 0;
    std::vector<float> buffer = mix(1);
    EXPECT_NEAR(voice.leftRampIncrement, 0.0030637258, 1e-10);
    EXPECT_EQ(voice.rightRampIncrement, 0.0f);
    EXPECT_EQ(voice.rampFramesLeft, 127);
    const std::vector<float> rest = mix(199);
    buffer.insert(buffer.end(), rest.begin(), rest.end());
    EXPECT_EQ(voice.rampFramesLeft, 0);
    EXPECT_EQ(voice.leftLevel, 25600);
    EXPECT_EQ(voice.rightLevel, 0);
    for (int frame = 0; frame < 128; ++frame) {
        EXPECT_NEAR(buffer[2 * frame], 1000.0 * frame * 0.0030637258, 0.01) << frame;
        EXPECT_EQ(buffer[2 * frame + 1], 0.0f);
    }
    for (int frame = 128; frame < 200; ++frame)
        EXPECT_EQ(buffer[2 * frame], 1000.0f * (100.0f * inverse255)) << frame;
}

TEST_F(MixerTest, RampIncrementKeptWhileRunningAndClearedAtItsEnd) {
    auto sample = constantSample(1000, 1000, 0, 1000, LOOP_FORWARD);
    Voice& voice = testMixer().voices[0];
    voice.sample = &sample->sample;
    voice.direction = DIRECTION_FORWARD;
    voice.leftTarget = 100;
    voice.rightTarget = 50;
    mix(127);
    const float expected = 100.0f * inverse255 * (1.0f / 128.0f);
    EXPECT_EQ(voice.leftRampIncrement, expected);
    EXPECT_EQ(voice.rampFramesLeft, 1);
    mix(1);
    EXPECT_EQ(voice.leftRampIncrement, 0.0f);
    EXPECT_EQ(voice.rightRampIncrement, 0.0f);
    EXPECT_EQ(voice.leftLevel, 25600);
    EXPECT_EQ(voice.rightLevel, 12800);
}

TEST_F(MixerTest, RampCarriesAcrossBoundariesAndCalls) {
    // A loop of 50 frames at full step puts two boundaries inside the 128-frame ramp, and the
    // calls of 30 frames cut it four times more.
    auto sample = constantSample(50, 1000, 0, 50, LOOP_FORWARD);
    Voice& voice = testMixer().voices[0];
    voice.sample = &sample->sample;
    voice.direction = DIRECTION_FORWARD;
    voice.leftTarget = 100;
    voice.rightTarget = 100;
    const float increment = 100.0f * inverse255 * (1.0f / 128.0f);
    std::vector<float> all;
    for (int call = 0; call < 5; ++call) {
        const std::vector<float> buffer = mix(30);
        all.insert(all.end(), buffer.begin(), buffer.end());
        const int32_t mixed = 30 * (call + 1);
        if (mixed < 128) {
            EXPECT_EQ(voice.rampFramesLeft, 128 - mixed);
            EXPECT_EQ(voice.leftRampIncrement, increment);
            EXPECT_NEAR(voice.leftLevel, mixed * 200.0, 4.0); // 25600 / 128 per frame
        } else {
            EXPECT_EQ(voice.rampFramesLeft, 0);
            EXPECT_EQ(voice.leftLevel, 25600);
        }
    }
    for (int frame = 0; frame < 128; ++frame)
        EXPECT_NEAR(all[2 * frame], 1000.0 * frame * increment, 0.1) << frame;
    for (int frame = 128; frame < 150; ++frame)
        EXPECT_EQ(all[2 * frame], 1000.0f * (100.0f * inverse255)) << frame;
}

TEST_F(MixerTest, TargetChangeMidRampStartsAFullRampFromTheCurrentLevel) {
    auto sample = constantSample(1000, 1000, 0, 1000, LOOP_FORWARD);
    Voice& voice = testMixer().voices[0];
    voice.sample = &sample->sample;
    voice.direction = DIRECTION_FORWARD;
    voice.leftTarget = 100;
    voice.rightTarget = 40;
    mix(64);
    EXPECT_EQ(voice.rampFramesLeft, 64);
    const int32_t levelAtChange = voice.leftLevel;
    EXPECT_NEAR(levelAtChange, 12800, 1);
    voice.leftTarget = 20;
    mix(10);
    EXPECT_EQ(voice.rampFramesLeft, 118);
    EXPECT_EQ(voice.rampLeftTarget, 20);
    EXPECT_EQ(voice.leftRampIncrement,
              static_cast<float>(20 - (levelAtChange >> 8)) * inverse255 * (1.0f / 128.0f));
    mix(118);
    EXPECT_EQ(voice.leftLevel, 20 * 256);
    EXPECT_EQ(voice.rightLevel, 40 * 256);
}

TEST_F(MixerTest, SideAlreadyAtItsNewTargetKeepsAConstantGain) {
    auto sample = constantSample(1000, 1000, 0, 1000, LOOP_FORWARD);
    Voice& voice = settledVoice(0, &sample->sample, 100, 40);
    voice.leftTarget = 20;
    const std::vector<float> buffer = mix(128);
    EXPECT_EQ(voice.rightRampIncrement, 0.0f);
    const float rightGain = static_cast<float>(40 * 256) * (1.0f / 256.0f) * inverse255;
    for (int frame = 0; frame < 128; ++frame) {
        EXPECT_EQ(buffer[2 * frame + 1], 1000.0f * rightGain) << frame;
        if (frame > 0) {
            EXPECT_LT(buffer[2 * frame], buffer[2 * frame - 2]) << frame;
        }
    }
    EXPECT_EQ(voice.leftLevel, 20 * 256);
}

TEST_F(MixerTest, HandedOffVoiceFadesAndRunsOnSilently) {
    auto sample = constantSample(300, 1000, 0, 300, LOOP_FORWARD);
    Voice& voice = settledVoice(0, &sample->sample, 100, 100);
    voice.positionWhole = 10;
    voice.leftTarget = 0;
    voice.rightTarget = 0;
    std::vector<float> buffer = mix(128);
    EXPECT_GT(buffer[0], 300.0f);
    EXPECT_LT(buffer[2 * 127], 5.0f);
    EXPECT_EQ(voice.leftLevel, 0);
    EXPECT_EQ(voice.rampFramesLeft, 0);
    buffer = mix(1000);
    for (float value : buffer) EXPECT_EQ(value, 0.0f);
    EXPECT_EQ(voice.sample, &sample->sample);
    EXPECT_EQ(voice.positionWhole, (10 + 1128) % 300);
}

// --- A plain frame-by-frame mixer compared over random voices --------------------------------

// The interpolation the reference mixer plays with; the mixer's own is set alongside.
Interpolation referenceInterpolation = Interpolation::Linear;

int32_t referenceElement(const Sample& sample, int64_t index) {
    if (sample.data == nullptr || index < 0 || index >= int64_t{sample.length} + 8) return 0;
    return sample.data[index];
}

// Position arithmetic on signed 64-bit numbers; every frame on its own, every mirror one by one.
// Only meant for positions within a few million frames of the data.
void referenceMixVoice(Voice& v, float* out, int32_t frameCount) {
    int32_t left = frameCount;
    while (left > 0 && v.sample != nullptr) {
        const Sample& s = *v.sample;
        const int64_t loopStart = s.loopStart;
        const int64_t loopEnd = loopStart + s.loopLength;
        const bool forward = v.direction == DIRECTION_FORWARD;
        int64_t step = int64_t{v.stepWhole} * frameUnits + v.stepFraction;
        if (v.stepWhole < 0 || v.stepWhole >= 256) step = 256 * frameUnits - 1;
        int64_t p = int64_t{v.positionWhole} * frameUnits + v.positionFraction;

        const int64_t boundary = forward ? (v.positionWhole <= loopEnd ? loopEnd : s.length) : 0;
        const int64_t distance = forward ? boundary * frameUnits - p : p - loopStart * frameUnits;
        int32_t n = left;
        bool atBoundary = false;
        if (distance >= 0 && distance < (int64_t{1} << 56)) {
            int64_t coarseStep = ((int64_t{v.stepWhole} & 0xFF) << 24) + (v.stepFraction >> 8);
            if (v.stepWhole < 0 || v.stepWhole >= 256) coarseStep = step >> 8;
            if (coarseStep == 0) coarseStep = 0x017C6F8C >> 8;
            const int64_t count = ((distance >> 8) + coarseStep - 1) / coarseStep;
            if (count <= n) {
                n = static_cast<int32_t>(count);
                atBoundary = true;
            }
        }

        bool ramp = false;
        if (v.rampFramesLeft != 0 && v.leftTarget == v.rampLeftTarget &&
            v.rightTarget == v.rampRightTarget) {
            ramp = true;
        } else {
            v.rampLeftTarget = v.leftTarget;
            v.rampRightTarget = v.rightTarget;
            const int32_t dl = v.leftTarget - (v.leftLevel >> 8);
            const int32_t dr = v.rightTarget - (v.rightLevel >> 8);
            v.leftRampIncrement =
                dl == 0 ? 0.0f : dl * inverse255 * testMixer().rampLengthReciprocal;
            v.rightRampIncrement =
                dr == 0 ? 0.0f : dr * inverse255 * testMixer().rampLengthReciprocal;
            if (dl != 0 || dr != 0) {
                ramp = true;
                v.rampFramesLeft = testMixer().rampLength;
            }
        }
        if (ramp && v.rampFramesLeft < n) {
            n = v.rampFramesLeft;
            atBoundary = false;
        }

        float gainLeft = v.leftTarget * inverse255;
        float gainRight = v.rightTarget * inverse255;
        if (ramp) {
            gainLeft = v.leftLevel * (1.0f / 256.0f) * inverse255;
            gainRight = v.rightLevel * (1.0f / 256.0f) * inverse255;
        }
        for (int32_t k = 0; k < n; ++k) {
            const int64_t whole = p >> 32;
            const uint32_t fraction = static_cast<uint32_t>(p & 0xFFFFFFFF);
            const int32_t s0 = referenceElement(s, whole);
            const int32_t s1 = referenceElement(s, whole + 1);
            const float t = static_cast<float>(fraction >> 1) * 0x1p-31f;
            float value = s0 + t * (s1 - s0);
            if (referenceInterpolation == Interpolation::None) value = static_cast<float>(s0);
            if (referenceInterpolation == Interpolation::Cubic) {
                // The textbook Catmull-Rom spline, in double precision.
                const double p0 = referenceElement(s, whole - 1), p1 = s0, p2 = s1;
                const double p3 = referenceElement(s, whole + 2);
                const double u = t;
                value = static_cast<float>(0.5 * (2.0 * p1 + (p2 - p0) * u +
                                                  (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * u * u +
                                                  (3.0 * (p1 - p2) + p3 - p0) * u * u * u));
            }
            out[0] += value * gainLeft;
            out[1] += value * gainRight;
            out += 2;
            if (ramp) {
                gainLeft += v.leftRampIncrement;
                gainRight += v.rightRampIncrement;
            }
            p = (p & ~int64_t{1}) + (forward ? step : -step);
        }
        v.positionWhole = static_cast<int32_t>(p >> 32);
        v.positionFraction = static_cast<uint32_t>(p & 0xFFFFFFFF);

        if (ramp) {
            if (n > 0) {
                v.leftLevel = static_cast<int32_t>(std::nearbyint(gainLeft * 255.0f * 256.0f));
                v.rightLevel = static_cast<int32_t>(std::nearbyint(gainRight * 255.0f * 256.0f));
            }
            v.rampFramesLeft -= n;
            if (v.rampFramesLeft == 0) {
                v.leftRampIncrement = 0.0f;
                v.rightRampIncrement = 0.0f;
                v.leftLevel = v.leftTarget * 256;
                v.rightLevel = v.rightTarget * 256;
            }
        }
        left -= n;
        if (!atBoundary) continue;

        const bool loops =
            s.loopLength > 0 && (s.loopMode == LOOP_FORWARD || s.loopMode == LOOP_PINGPONG);
        if (!loops) {
            v.sample = nullptr;
            v.positionWhole = 0;
            v.positionFraction = 0;
        } else if (s.loopMode == LOOP_FORWARD) {
            do {
                v.positionWhole -= static_cast<int32_t>(s.loopLength);
            } while (v.positionWhole >= loopEnd);
        } else {
            bool atEnd = forward;
            for (;;) {
                if (atEnd) {
                    p = 2 * loopEnd * frameUnits - p - 1;
                    v.direction = DIRECTION_BACKWARD;
                    if ((p >> 32) >= loopStart) break;
                } else {
                    p = 2 * loopStart * frameUnits - p - 1;
                    v.direction = DIRECTION_FORWARD;
                    if ((p >> 32) < loopEnd) break;
                }
                atEnd = !atEnd;
            }
            v.positionWhole = static_cast<int32_t>(p >> 32);
            v.positionFraction = static_cast<uint32_t>(p & 0xFFFFFFFF);
        }
    }
}

struct RandomSource {
    std::mt19937 engine;
    int64_t range(int64_t low, int64_t high) {
        return std::uniform_int_distribution<int64_t>(low, high)(engine);
    }
    bool chance(int percent) { return range(0, 99) < percent; }
};

std::unique_ptr<TestSample> randomSample(RandomSource& random) {
    const uint32_t length = random.chance(5) ? 0 : static_cast<uint32_t>(random.range(1, 3000));
    std::vector<int16_t> frames(length);
    for (int16_t& f : frames) f = static_cast<int16_t>(random.range(-32768, 32767));
    static const uint8_t modes[] = {0, LOOP_NONE, LOOP_FORWARD, LOOP_PINGPONG, 3};
    const uint8_t mode = modes[random.range(0, 4)];
    uint32_t loopStart = 0;
    uint32_t loopLength = length;
    if (length > 0 && (mode == LOOP_FORWARD || mode == LOOP_PINGPONG)) {
        if (random.chance(30))
            loopStart = 0;
        else
            loopStart = static_cast<uint32_t>(random.range(0, length - 1));
        const uint32_t room = length - loopStart;
        loopLength = random.chance(20) ? static_cast<uint32_t>(random.range(1, std::min(room, 4u)))
                                       : static_cast<uint32_t>(random.range(1, room));
    }
    return makeSample(frames, loopStart, loopLength, mode);
}

// How a scenario leans: silentPercent of the voices sit settled at targets 0, as a partner voice
// does after a hand-off; settledPercent of the others start at their targets without a ramp.
struct ScenarioMix {
    int silentPercent;
    int settledPercent;
};

void randomiseVoice(RandomSource& random, Voice& voice, Sample* sample,
                    ScenarioMix lean = {0, 50}) {
    voice.sample = sample;
    const int64_t length = sample->length;
    // Mostly inside the data, often close to its edges, sometimes far outside.
    int64_t whole = random.range(-1, length + 1);
    switch (random.range(0, 9)) {
    case 0: whole = random.range(length - 3, length + 10); break;
    case 1: whole = random.range(-4, 2); break;
    case 2: whole = random.range(-100000, 100000); break;
    default: break;
    }
    voice.positionWhole = static_cast<int32_t>(whole);
    voice.positionFraction = static_cast<uint32_t>(random.range(0, UINT32_MAX));
    switch (random.range(0, 5)) {
    case 0: setStep(voice, 0, static_cast<uint32_t>(random.range(0, 300))); break;
    case 1: setStep(voice, static_cast<int32_t>(random.range(255, 400)), 0); break;
    case 2: setStep(voice, static_cast<int32_t>(random.range(5, 40)), 77); break;
    default:
        setStep(voice, static_cast<int32_t>(random.range(0, 3)),
                static_cast<uint32_t>(random.range(0, UINT32_MAX)));
    }
    voice.direction = static_cast<int32_t>(random.range(0, 3));
    voice.leftTarget = static_cast<int32_t>(random.range(0, 127));
    voice.rightTarget = static_cast<int32_t>(random.range(0, 127));
    const bool silent = random.chance(lean.silentPercent);
    if (silent) voice.leftTarget = voice.rightTarget = 0;
    if (silent || random.chance(lean.settledPercent)) {
        voice.leftLevel = voice.leftTarget * 256;
        voice.rightLevel = voice.rightTarget * 256;
        voice.rampLeftTarget = voice.leftTarget;
        voice.rampRightTarget = voice.rightTarget;
    } else {
        voice.leftLevel = static_cast<int32_t>(random.range(0, 127 * 256));
        voice.rightLevel = static_cast<int32_t>(random.range(0, 127 * 256));
        if (random.chance(50)) {
            voice.rampLeftTarget = voice.leftTarget;
            voice.rampRightTarget = voice.rightTarget;
            voice.rampFramesLeft = static_cast<int32_t>(random.range(1, 128));
            voice.leftRampIncrement = static_cast<float>(random.range(-100, 100)) * 1e-4f;
            voice.rightRampIncrement = static_cast<float>(random.range(-100, 100)) * 1e-4f;
        }
    }
}

// Mixes the same random voices with mixVoices and the reference, call after call, and compares
// every float and every voice field. shortCalls makes most calls a few frames long, so that passes
// start and end at every offset within a group of frames.
void compareWithReference(uint32_t seed, int scenarios, ScenarioMix lean, bool shortCalls,
                          float tolerance = 0.0f) {
    RandomSource random{std::mt19937(seed)};
    constexpr int voicesPerScenario = 6;
    for (int scenario = 0; scenario < scenarios; ++scenario) {
        resetVoiceTable();
        std::vector<std::unique_ptr<TestSample>> samples;
        Voice reference[mixedVoiceCount];
        for (int i = 0; i < voicesPerScenario; ++i) {
            samples.push_back(randomSample(random));
            const int32_t slot = static_cast<int32_t>(random.range(0, mixedVoiceCount - 1));
            randomiseVoice(random, testMixer().voices[slot], &samples.back()->sample, lean);
        }
        std::memcpy(static_cast<void*>(reference), testMixer().voices, sizeof reference);
        const int calls = shortCalls ? 12 : 4;
        for (int call = 0; call < calls; ++call) {
            int32_t frames = static_cast<int32_t>(random.range(1, 1500));
            if (shortCalls && !random.chance(25)) frames = static_cast<int32_t>(random.range(1, 9));
            std::vector<float> expected(2 * static_cast<size_t>(frames), 0.0f);
            for (Voice& v : reference) referenceMixVoice(v, expected.data(), frames);
            std::vector<float> actual(2 * static_cast<size_t>(frames), 0.0f);
            mixVoices(testMixer(), actual.data(), frames);
            for (int32_t i = 0; i < 2 * frames; ++i) {
                if (tolerance == 0.0f) {
                    ASSERT_EQ(actual[i], expected[i])
                        << "scenario " << scenario << " call " << call << " float " << i;
                } else {
                    ASSERT_NEAR(actual[i], expected[i], tolerance)
                        << "scenario " << scenario << " call " << call << " float " << i;
                }
            }
            for (int32_t slot = 0; slot < mixedVoiceCount; ++slot) {
                SCOPED_TRACE(testing::Message() << "scenario " << scenario << " slot " << slot);
                expectSameVoice(testMixer().voices[slot], reference[slot]);
            }
            if (::testing::Test::HasFailure()) return;
            // Between calls the voice update may change targets and steps, or hand a voice off.
            for (int32_t slot = 0; slot < mixedVoiceCount; ++slot) {
                if (!random.chance(30)) continue;
                int32_t target = static_cast<int32_t>(random.range(0, 127));
                if (random.chance(lean.silentPercent)) {
                    target = 0;
                    testMixer().voices[slot].rightTarget = reference[slot].rightTarget = 0;
                }
                testMixer().voices[slot].leftTarget = reference[slot].leftTarget = target;
                testMixer().voices[slot].stepFraction = reference[slot].stepFraction ^= 0x5555u;
            }
        }
    }
}

// A voice with a ramp length of its own (FT2's tick-long and quick ramps) goes from its level to
// its target in exactly that many frames, each frame's gain on the straight line between them
// (start + k x increment, to float rounding), and then settles on the target; the same with the
// eight-frame loops allowed or not.
TEST_F(MixerTest, RampOfTheVoicesOwnLengthIsAStraightLine) {
    std::vector<float> outputs[2];
    for (bool wide : {true, false}) {
        const bool wideInUse = setWideMixing(testMixer(), wide);
        resetVoiceTable();
        std::vector<int16_t> flat(64, 1000);
        auto sample = makeSample(flat, 0, 64, LOOP_FORWARD);
        Voice& voice = testMixer().voices[3];
        voice.sample = &sample->sample;
        voice.direction = DIRECTION_FORWARD;
        setStep(voice, 1, 0);
        voice.leftLevel = 20 * 256;
        voice.rightLevel = 100 * 256;
        voice.rampLeftTarget = voice.leftTarget = 20;
        voice.rampRightTarget = voice.rightTarget = 100;
        voice.leftTarget = 120;
        voice.rightTarget = 0;
        voice.rampFrames = 600;
        const std::vector<float> out = mix(700);
        if (wideInUse == wide) outputs[wide ? 1 : 0] = out;
        for (int32_t k = 0; k < 700; ++k) {
            const double t = k < 600 ? k / 600.0 : 1.0;
            const double left = 1000.0 * (20 + t * 100) * inverse255;
            const double right = 1000.0 * (100 - t * 100) * inverse255;
            ASSERT_NEAR(out[2 * k], left, 1e-3 * 1000.0) << "frame " << k << (wide ? " wide" : "");
            ASSERT_NEAR(out[2 * k + 1], right, 1e-3 * 1000.0) << "frame " << k;
        }
        EXPECT_EQ(voice.rampFramesLeft, 0);
        EXPECT_EQ(voice.leftLevel, 120 * 256);
        EXPECT_EQ(voice.rightLevel, 0);
    }
    setWideMixing(testMixer(), true);
    // Where the processor has the eight-frame loops, they give every frame the same float.
    if (!outputs[1].empty()) {
        EXPECT_EQ(outputs[0], outputs[1]);
    }
}

// Each comparison runs with the eight-frame loops (where the processor has them) and without.
class MixerWidthTest : public MixerTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        MixerTest::SetUp();
        if (setWideMixing(testMixer(), GetParam()) != GetParam())
            GTEST_SKIP() << "no AVX2 on this processor";
    }
    void TearDown() override {
        setWideMixing(testMixer(), true);
        MixerTest::TearDown();
    }
};

TEST_P(MixerWidthTest, MatchesAPlainReferenceMixerOverRandomVoices) {
    compareWithReference(20240611, 150, {0, 50}, false);
}

// Silent voices are only moved on, not mixed; ramps into and out of silence, long silent runs
// across loop boundaries and calls of a few frames must still match frame by frame.
TEST_P(MixerWidthTest, MatchesTheReferenceWithSilentVoicesAndShortCalls) {
    compareWithReference(77031, 150, {40, 70}, false);
    compareWithReference(91127, 150, {30, 70}, true);
}

// Long settled and ramping runs of slow voices near the end of their data, where the eight-frame
// loops hand over to the four-frame ones.
TEST_P(MixerWidthTest, MatchesTheReferenceOnSlowVoicesWithLongRuns) {
    RandomSource random{std::mt19937(5150)};
    for (int scenario = 0; scenario < 200; ++scenario) {
        resetVoiceTable();
        const uint32_t length = static_cast<uint32_t>(random.range(1, 200));
        std::vector<int16_t> frames(length);
        for (int16_t& f : frames) f = static_cast<int16_t>(random.range(-32768, 32767));
        auto sample = makeSample(frames, 0, length, random.chance(50) ? LOOP_FORWARD : LOOP_NONE);
        Voice& voice =
            testMixer().voices[static_cast<int32_t>(random.range(0, mixedVoiceCount - 1))];
        randomiseVoice(random, voice, &sample->sample, {0, 50});
        voice.direction = DIRECTION_FORWARD;
        voice.positionWhole = static_cast<int32_t>(random.range(0, length - 1));
        setStep(voice, static_cast<int32_t>(random.range(0, 1)),
                static_cast<uint32_t>(random.range(0, UINT32_MAX)));
        Voice reference[mixedVoiceCount];
        std::memcpy(static_cast<void*>(reference), testMixer().voices, sizeof reference);
        const int32_t count = static_cast<int32_t>(random.range(9, 700));
        std::vector<float> expected(2 * static_cast<size_t>(count), 0.0f);
        for (Voice& v : reference) referenceMixVoice(v, expected.data(), count);
        const std::vector<float> actual = mix(count);
        for (int32_t i = 0; i < 2 * count; ++i)
            ASSERT_EQ(actual[i], expected[i]) << "scenario " << scenario << " float " << i;
        for (int32_t slot = 0; slot < mixedVoiceCount; ++slot)
            expectSameVoice(testMixer().voices[slot], reference[slot]);
        if (::testing::Test::HasFailure()) return;
    }
}

// The other interpolations take a loop of their own, one frame at a time, through the same
// passes, loops and ramps. Held frames are exact; the spline is held against the textbook
// formula in double precision, to float rounding of values up to a few times 32768.
TEST_P(MixerWidthTest, OtherInterpolationsMatchThePlainReference) {
    struct Restore {
        ~Restore() {
            setInterpolation(testMixer(), Interpolation::Linear);
            referenceInterpolation = Interpolation::Linear;
        }
    } restore;
    for (Interpolation mode : {Interpolation::None, Interpolation::Cubic}) {
        SCOPED_TRACE(mode == Interpolation::None ? "none" : "cubic");
        setInterpolation(testMixer(), mode);
        referenceInterpolation = mode;
        const float tolerance = mode == Interpolation::None ? 0.0f : 0.05f;
        compareWithReference(4406, 100, {0, 50}, false, tolerance);
        compareWithReference(13, 100, {30, 70}, true, tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, MixerWidthTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Wide" : "Narrow";
                         });

// A sine of 16 frames a period played at 0.37 frames a step: the held frames are furthest from
// the true curve, the spline closest, and linear where it always was.
TEST_F(MixerTest, InterpolationsAgainstTheTrueCurve) {
    constexpr int32_t period = 16;
    std::vector<int16_t> wave(period * 64);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] = static_cast<int16_t>(std::lround(20000.0 * std::sin(2.0 * M_PI * i / period)));
    auto sample = makeSample(wave, 0, static_cast<uint32_t>(wave.size()), LOOP_FORWARD);
    constexpr uint32_t stepFraction = 0x5EB851EC; // 0.37
    double error[3] = {};
    for (Interpolation mode : {Interpolation::Linear, Interpolation::None, Interpolation::Cubic}) {
        setInterpolation(testMixer(), mode);
        resetVoiceTable();
        Voice& voice = settledVoice(5, &sample->sample, 255, 0);
        setStep(voice, 0, stepFraction);
        voice.positionWhole = 8;
        const std::vector<float> out = mix(1000);
        // The mixer drops the lowest fraction bit before each step; too little to see here.
        double sum = 0.0;
        for (int32_t k = 0; k < 1000; ++k) {
            const double at = 8.0 + k * (stepFraction / 4294967296.0);
            const double truth = 20000.0 * std::sin(2.0 * M_PI * at / period);
            sum += (out[2 * k] - truth) * (out[2 * k] - truth);
        }
        error[static_cast<int>(mode)] = std::sqrt(sum / 1000.0);
    }
    setInterpolation(testMixer(), Interpolation::Linear);
    const double linear = error[0], none = error[1], cubic = error[2];
    EXPECT_GT(none, 2.0 * linear) << none << " " << linear;
    EXPECT_LT(cubic, linear / 4.0) << cubic << " " << linear;
    std::printf("RMS error against the sine: none %.1f, linear %.1f, cubic %.1f\n", none, linear,
                cubic);
}

TEST_F(MixerTest, RampConstantsFollowTheOutputRate) {
    setRampConstants(testMixer(), 44100);
    EXPECT_EQ(testMixer().rampLength, 128);
    EXPECT_EQ(testMixer().rampLengthReciprocal, 1.0f / 128.0f);
    setRampConstants(testMixer(), 22050);
    EXPECT_EQ(testMixer().rampLength, 64);
    setRampConstants(testMixer(), 48000);
    EXPECT_EQ(testMixer().rampLength, 139); // 48000 * 128 / 44100 truncated
    EXPECT_EQ(testMixer().rampLengthReciprocal, 1.0f / 139.0f);
}

} // namespace
} // namespace music
