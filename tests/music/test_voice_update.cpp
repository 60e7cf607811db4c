// Tests of the channel-to-voice update: note starts and hand-offs, start offsets, volume,
// panning, frequency and step, restart.
#include "music/channel.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/voice_update.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace music {
namespace {

class VoiceUpdateTest : public ::testing::Test {
  protected:
    Channel channel{};
    Player player{};
    Sample oldSample{};
    Sample newSample{};

    void SetUp() override {
        std::memset(static_cast<void*>(player.mixer.voices), 0, sizeof player.mixer.voices);
        for (int32_t i = 0; i < voiceTableSize; ++i) {
            player.mixer.voices[i].index = i;
            player.mixer.voices[i].stepWhole = 1;
        }
        channel.voice = &player.mixer.voices[3];
        channel.volume = 64;
        channel.volumeEnvelopeOutput = 64;
        channel.fadeoutVolume = 65536;
        channel.panning = 128;
        channel.panningEnvelopeOutput = 32;
        channel.period = 4608;
        player.globalVolume = 64;
        player.flags = 1;
        oldSample.length = 1000;
        oldSample.loopLength = 1000;
        newSample.length = 400;
        newSample.loopStart = 100;
        newSample.loopLength = 200; // loop end 300
        newSample.loopMode = LOOP_FORWARD;
    }

    void TearDown() override {
        std::memset(static_cast<void*>(player.mixer.voices), 0, sizeof player.mixer.voices);
    }

    void update(uint8_t flags) {
        channel.updateFlags = flags;
        updateVoice(&channel, &newSample, &player);
    }

    // A voice in the middle of a note, as the mixer leaves it.
    Voice& soundingVoice(int32_t slot) {
        Voice& voice = player.mixer.voices[slot];
        voice.sample = &oldSample;
        voice.positionWhole = 640;
        voice.positionFraction = 0x1234u;
        voice.stepWhole = 0;
        voice.stepFraction = 814485521u;
        voice.direction = DIRECTION_BACKWARD;
        voice.voiceVolume = voice.volumeCopy = 100;
        voice.voicePanning = voice.panningCopy = 128;
        voice.leftTarget = voice.rampLeftTarget = 50;
        voice.rightTarget = voice.rampRightTarget = 49;
        voice.leftLevel = 50 * 256;
        voice.rightLevel = 49 * 256;
        voice.frequency = 8363;
        return voice;
    }
};

// --- Note start and hand-off -----------------------------------------------------------------

TEST_F(VoiceUpdateTest, NoteOnAnIdleVoiceStartsThere) {
    Voice& voice = player.mixer.voices[3];
    voice.startOffset = 256;
    voice.positionFraction = 77;
    voice.leftLevel = 999;
    voice.rampFramesLeft = 5;
    voice.direction = DIRECTION_BACKWARD;
    update(UPDATE_TRIGGER);
    EXPECT_EQ(channel.voice, &player.mixer.voices[3]);
    EXPECT_EQ(voice.sample, &newSample);
    EXPECT_EQ(voice.positionWhole, 256);
    EXPECT_EQ(voice.positionFraction, 0u);
    EXPECT_EQ(voice.startOffset, 0u);
    EXPECT_EQ(voice.direction, DIRECTION_FORWARD);
    EXPECT_EQ(voice.leftLevel, 0);
    EXPECT_EQ(voice.rightLevel, 0);
    EXPECT_EQ(voice.rampFramesLeft, 0);
    EXPECT_EQ(player.mixer.voices[35].sample, nullptr); // the partner stays untouched
}

TEST_F(VoiceUpdateTest, NoteOnASoundingVoiceMovesToThePartnerAndBack) {
    Voice& old = soundingVoice(3);
    old.startOffset = 256;
    update(UPDATE_TRIGGER);
    ASSERT_EQ(channel.voice, &player.mixer.voices[35]);
    // The old note plays on silently from where it was.
    EXPECT_EQ(old.sample, &oldSample);
    EXPECT_EQ(old.positionWhole, 640);
    EXPECT_EQ(old.positionFraction, 0x1234u);
    EXPECT_EQ(old.stepFraction, 814485521u);
    EXPECT_EQ(old.direction, DIRECTION_BACKWARD);
    EXPECT_EQ(old.voiceVolume, 0);
    EXPECT_EQ(old.volumeCopy, 0);
    EXPECT_EQ(old.leftTarget, 0);
    EXPECT_EQ(old.rightTarget, 0);
    EXPECT_EQ(old.leftLevel, 50 * 256); // the mixer ramps down from here
    EXPECT_EQ(old.index, 3);
    // The new note starts on the partner with the old note's step, volume and panning.
    const Voice& fresh = player.mixer.voices[35];
    EXPECT_EQ(fresh.index, 35);
    EXPECT_EQ(fresh.sample, &newSample);
    EXPECT_EQ(fresh.positionWhole, 256);
    EXPECT_EQ(fresh.positionFraction, 0u);
    EXPECT_EQ(fresh.startOffset, 0u);
    EXPECT_EQ(fresh.direction, DIRECTION_FORWARD);
    EXPECT_EQ(fresh.leftLevel, 0);
    EXPECT_EQ(fresh.rightLevel, 0);
    EXPECT_EQ(fresh.rampFramesLeft, 0);
    EXPECT_EQ(fresh.stepFraction, 814485521u);
    EXPECT_EQ(fresh.voiceVolume, 100);
    EXPECT_EQ(fresh.leftTarget, 50);
    EXPECT_EQ(fresh.frequency, 8363);

    // The next note goes back to voice 3, overwriting the faded note.
    update(UPDATE_TRIGGER);
    EXPECT_EQ(channel.voice, &player.mixer.voices[3]);
    EXPECT_EQ(player.mixer.voices[3].index, 3);
    EXPECT_EQ(player.mixer.voices[3].positionWhole, 0);
    EXPECT_EQ(player.mixer.voices[3].voiceVolume, 100);
    EXPECT_EQ(player.mixer.voices[35].voiceVolume, 0);
    EXPECT_EQ(player.mixer.voices[35].sample, &newSample);
}

TEST_F(VoiceUpdateTest, LaterStepsOfATickWorkOnTheVoiceThatTookTheNote) {
    soundingVoice(3);
    channel.period = 4608 - 768;
    update(UPDATE_TRIGGER | UPDATE_VOLUME | UPDATE_PANNING | UPDATE_FREQUENCY);
    const Voice& fresh = player.mixer.voices[35];
    EXPECT_EQ(fresh.voiceVolume, 127);
    EXPECT_EQ(fresh.frequency, 16726);
    EXPECT_EQ(player.mixer.voices[3].voiceVolume, 0);
    EXPECT_EQ(player.mixer.voices[3].frequency, 8363);
}

TEST_F(VoiceUpdateTest, StartOffsetAtOrBeyondTheLoopEndStartsAtZero) {
    struct Case {
        uint32_t offset;
        int32_t start;
    };
    for (const Case c : {Case{512, 0}, Case{300, 0}, Case{299, 299}, Case{256, 256}}) {
        player.mixer.voices[3].sample = nullptr;
        player.mixer.voices[3].startOffset = c.offset;
        update(UPDATE_TRIGGER);
        EXPECT_EQ(player.mixer.voices[3].positionWhole, c.start) << c.offset;
        EXPECT_EQ(player.mixer.voices[3].startOffset, 0u) << c.offset;
    }
}

// --- Volume and panning ----------------------------------------------------------------------

TEST_F(VoiceUpdateTest, VolumeIsTheProductOfAllFactors) {
    update(UPDATE_VOLUME);
    Voice& voice = player.mixer.voices[3];
    EXPECT_EQ(voice.voiceVolume, 127);
    EXPECT_EQ(voice.volumeCopy, 127);
    player.globalVolume = 32;
    update(UPDATE_VOLUME);
    EXPECT_EQ(voice.voiceVolume, 63);
    // No clamp: a channel volume above 64 gives a larger volume.
    player.globalVolume = 64;
    channel.volume = 128;
    update(UPDATE_VOLUME);
    EXPECT_EQ(voice.voiceVolume, 255);
    channel.volume = 40;
    channel.volumeDelta = -8;
    channel.fadeoutVolume = 32768;
    update(UPDATE_VOLUME);
    EXPECT_EQ(voice.voiceVolume, 31); // 32 * 64 * 32768 * 64 * 255 / 2^35 = 31.875
}

TEST_F(VoiceUpdateTest, TargetsSplitTheVolumeByPanning) {
    Voice& voice = player.mixer.voices[3];
    voice.voicePanning = 128;
    update(UPDATE_VOLUME);
    EXPECT_EQ(voice.leftTarget, 127 * 128 / 255);
    EXPECT_EQ(voice.rightTarget, 127 * 127 / 255);
    voice.voicePanning = 255;
    update(UPDATE_VOLUME);
    EXPECT_EQ(voice.leftTarget, 127);
    EXPECT_EQ(voice.rightTarget, 0);
    voice.voicePanning = 0;
    update(UPDATE_VOLUME);
    EXPECT_EQ(voice.leftTarget, 0);
    EXPECT_EQ(voice.rightTarget, 127);
}

TEST_F(VoiceUpdateTest, PanningFollowsTheEnvelopeScaledByDistanceFromTheEdge) {
    Voice& voice = player.mixer.voices[3];
    voice.voiceVolume = 100;
    struct Case {
        int32_t panning;
        int32_t envelope;
        int32_t result;
    };
    const Case cases[] = {{128, 32, 128}, {128, 64, 255}, {100, 40, 124}, {120, 40, 144},
                          {128, 0, 0},    {0, 64, 0},     {255, 0, 255}};
    for (const Case& c : cases) {
        channel.panning = c.panning;
        channel.panningEnvelopeOutput = c.envelope;
        update(UPDATE_PANNING);
        EXPECT_EQ(voice.voicePanning, c.result) << c.panning << " " << c.envelope;
        EXPECT_EQ(voice.panningCopy, c.result);
        EXPECT_EQ(voice.leftTarget, 100 * c.result / 255);
        EXPECT_EQ(voice.rightTarget, 100 * (255 - c.result) / 255);
    }
}

// --- Frequency and step ----------------------------------------------------------------------

TEST_F(VoiceUpdateTest, LinearTableFrequencyAndStep) {
    Voice& voice = player.mixer.voices[3];
    update(UPDATE_FREQUENCY);
    EXPECT_EQ(voice.frequency, 8363);
    EXPECT_EQ(voice.stepWhole, 0);
    EXPECT_EQ(voice.stepFraction, 814485521u);
    channel.period = 4608 - 768;
    update(UPDATE_FREQUENCY);
    EXPECT_EQ(voice.frequency, 16726);
    // The delta raises the pitch in the linear table.
    channel.period = 4608;
    channel.periodDelta = 768;
    update(UPDATE_FREQUENCY);
    EXPECT_EQ(voice.frequency, 16726);
    channel.periodDelta = 0;
    channel.period = 4608 - 768 * 3; // 8 x 8363 Hz = 66904 Hz: more than one frame per frame
    update(UPDATE_FREQUENCY);
    EXPECT_EQ(voice.frequency, 66904);
    EXPECT_EQ(voice.stepWhole, 1);
    EXPECT_EQ(voice.stepFraction, static_cast<uint32_t>((uint64_t{66904 - 44100} << 32) / 44100));
}

TEST_F(VoiceUpdateTest, AmigaTableFrequency) {
    player.flags = 0;
    channel.period = 1712;
    update(UPDATE_FREQUENCY);
    EXPECT_EQ(player.mixer.voices[3].frequency, 8362);
    // The delta lowers the pitch in the Amiga table.
    channel.periodDelta = 1712;
    update(UPDATE_FREQUENCY);
    EXPECT_EQ(player.mixer.voices[3].frequency, 4181);
}

TEST_F(VoiceUpdateTest, FrequenciesBelow100HzPlayAt100Hz) {
    player.flags = 0;
    channel.period = 14317056 / 50;
    update(UPDATE_FREQUENCY);
    Voice& voice = player.mixer.voices[3];
    EXPECT_EQ(voice.frequency, 50);
    EXPECT_EQ(voice.stepWhole, 0);
    EXPECT_EQ(voice.stepFraction, static_cast<uint32_t>((uint64_t{100} << 32) / 44100));
    // A negative period gives a negative frequency, which plays at 100 Hz as well.
    channel.period = -1712;
    update(UPDATE_FREQUENCY);
    EXPECT_EQ(voice.frequency, -8362);
    EXPECT_EQ(voice.stepFraction, static_cast<uint32_t>((uint64_t{100} << 32) / 44100));
}

TEST_F(VoiceUpdateTest, ZeroPeriodDropsTheFrequencyUpdate) {
    for (int16_t flags : {0, 1}) {
        player.flags = flags;
        Voice& voice = player.mixer.voices[3];
        voice.frequency = 1234;
        voice.stepWhole = 2;
        channel.period = 100;
        channel.periodDelta = -100;
        update(UPDATE_FREQUENCY | UPDATE_VOLUME);
        EXPECT_EQ(channel.updateFlags, UPDATE_VOLUME);
        EXPECT_EQ(voice.frequency, 1234);
        EXPECT_EQ(voice.stepWhole, 2);
        EXPECT_EQ(voice.voiceVolume, 127);
    }
}

// --- Restart ---------------------------------------------------------------------------------

TEST_F(VoiceUpdateTest, RestartOnlyRewindsThePosition) {
    Voice& voice = soundingVoice(3);
    voice.direction = DIRECTION_FORWARD;
    voice.startOffset = 700;
    update(UPDATE_RESTART);
    EXPECT_EQ(channel.voice, &voice);
    EXPECT_EQ(voice.sample, &oldSample);
    EXPECT_EQ(voice.positionWhole, 0);
    EXPECT_EQ(voice.positionFraction, 0u);
    EXPECT_EQ(voice.startOffset, 0u);
    EXPECT_EQ(voice.voiceVolume, 100);
    EXPECT_EQ(voice.leftTarget, 50);
    EXPECT_EQ(voice.leftLevel, 50 * 256);
    EXPECT_EQ(voice.stepFraction, 814485521u);
    EXPECT_EQ(voice.direction, DIRECTION_FORWARD);
}

TEST_F(VoiceUpdateTest, RestartDuringABackwardRunPlaysForwardAgain) {
    // At position 0 behind a loop start of 100 a backward voice would find no boundary.
    Voice& voice = soundingVoice(3);
    voice.direction = DIRECTION_BACKWARD;
    update(UPDATE_RESTART);
    EXPECT_EQ(voice.positionWhole, 0);
    EXPECT_EQ(voice.direction, DIRECTION_FORWARD);
}

} // namespace
} // namespace music
