// The FT2 replay profile against the demo's rules: every switch on a song built in memory, each
// case played in both profiles, with the numbers FastTracker 2 gives.
#include "sequencer_fixture.h"

#include "music/channel.h"
#include "music/effects.h"
#include "music/format.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/profile.h"
#include "music/sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace music::testing {
namespace {

constexpr ProfileId bothProfiles[] = {ProfileId::Demo, ProfileId::Ft2};

// Voice volume of a sample at volume 48 with every other factor full: 95 in the demo's units,
// 95.625 x 256 truncated with FT2's finer levels.
constexpr int32_t volume48Demo = 95;
constexpr int32_t volume48Fine = 24480;

class Ft2Profile : public SongTest {
  protected:
    void begin(ProfileId id) {
        setReplayProfile(&player, id);
        start();
    }
    bool ft2() const { return player.profile != nullptr && player.profile->id == ProfileId::Ft2; }
    // The volume envelope of instrument index i, on (type bit 0) with the type's other bits.
    void setVolumeEnvelope(int32_t i, std::initializer_list<EnvelopePoint> points, uint8_t type) {
        Instrument& in = instruments[i];
        int32_t n = 0;
        for (const EnvelopePoint& point : points) in.volumeEnvelope[n++] = point;
        in.volumePointCount = n;
        in.volumeType = type;
        in.volumeTypeAsRead = type;
    }
};

using Ft2Stereo = Ft2Profile;
using Ft2Timing = Ft2Profile;
using Ft2VolumeColumn = Ft2Profile;
using Ft2KeyOff = Ft2Profile;
using Ft2Arpeggio = Ft2Profile;
using Ft2Envelopes = Ft2Profile;
using Ft2Pitch = Ft2Profile;
using Ft2Position = Ft2Profile;
using Ft2Levels = Ft2Profile;
using Ft2AutoVibrato = Ft2Profile;
using Ft2GlobalVolume = Ft2Profile;
using Ft2Retrigger = Ft2Profile;
using Ft2NoteRange = Ft2Profile;

TEST(ReplayProfiles, NamesParseAndZeroFilledPlayersPlayTheDemoRules) {
    ProfileId id = ProfileId::Demo;
    EXPECT_TRUE(parseProfileName("ft2", &id));
    EXPECT_EQ(id, ProfileId::Ft2);
    EXPECT_TRUE(parseProfileName("demo", &id));
    EXPECT_EQ(id, ProfileId::Demo);
    EXPECT_FALSE(parseProfileName("FT2", &id));
    EXPECT_FALSE(parseProfileName(nullptr, &id));
    EXPECT_STREQ(profileName(ProfileId::Ft2), "ft2");
    Player zeroFilled{};
    EXPECT_EQ(profileOf(&zeroFilled).id, ProfileId::Demo);
    EXPECT_FALSE(profileOf(&zeroFilled).panningZeroIsLeft);
    EXPECT_TRUE(replayProfile(ProfileId::Ft2)->panningZeroIsLeft);
}

// A sample panned to 0 sounds on the left in FT2 and on the right under the demo's rules; 255
// the other way round. FT2 shares the level by square roots of p / 256 with 16 fractional bits:
// 255 leaves sqrt(1/256) = 4096/65536 on the left and 65408/65536 on the right, and the centre
// 128 gives 46341/65536 to each side. Ours takes 3 dB (46341/65536) off both, so a centred voice
// keeps the half that the demo's linear shares give it.
TEST_F(Ft2Stereo, PanningZeroIsLeftInFt2) {
    samples[0].panning = 0;
    samples[1].panning = 255;
    samples[2].panning = 128;
    put(0, 0, noteC4, 1);
    put(0, 1, noteC4, 2);
    put(0, 2, noteC4, 3);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        const Voice& hardLeftInFile = voiceOf(0);
        const Voice& hardRightInFile = voiceOf(1);
        const Voice& centre = voiceOf(2);
        if (ft2()) {
            const auto shared = [](int64_t volume, int64_t share) {
                return static_cast<int32_t>(volume * 46341 * share >> 32);
            };
            EXPECT_EQ(hardLeftInFile.leftTarget, shared(volume48Fine, 65536));
            EXPECT_EQ(hardLeftInFile.rightTarget, 0);
            const int32_t volume32Fine = volume48Fine * 32 / 48;
            EXPECT_EQ(hardRightInFile.voiceVolume, volume32Fine);
            EXPECT_EQ(hardRightInFile.leftTarget, shared(volume32Fine, 4096));
            EXPECT_EQ(hardRightInFile.rightTarget, shared(volume32Fine, 65408));
            EXPECT_EQ(centre.leftTarget, shared(volume48Fine, 46341));
            EXPECT_EQ(centre.leftTarget, volume48Fine / 2);
            EXPECT_EQ(centre.rightTarget, centre.leftTarget);
        } else {
            EXPECT_EQ(centre.leftTarget, volume48Demo * 127 / 255);
            EXPECT_EQ(centre.rightTarget, volume48Demo * 128 / 255);
            EXPECT_EQ(hardLeftInFile.leftTarget, 0);
            EXPECT_EQ(hardLeftInFile.rightTarget, volume48Demo);
            EXPECT_GT(hardRightInFile.leftTarget, 0);
            EXPECT_EQ(hardRightInFile.rightTarget, 0);
        }
    }
}

// FT2 mixes (rate x 5 / 2) / BPM whole frames a tick and drops the fraction every time: 875 at
// BPM 126 where the demo's single-precision rule gives 874, and 861 on every tick at BPM 128
// (861.33 frames), so 64 ticks last 55104 frames, not 55125.
TEST_F(Ft2Timing, TickLengthDropsItsFraction) {
    for (ProfileId id : bothProfiles) {
        player.defaultBpm = 126;
        begin(id);
        for (int32_t i = 0; i < 6; ++i) {
            tick();
            EXPECT_EQ(player.samplesPerTick, ft2() ? 875 : 874) << profileName(id);
        }
        player.defaultBpm = 128;
        begin(id);
        for (int32_t i = 0; i < 64; ++i) {
            tick();
            EXPECT_EQ(player.samplesPerTick, 861) << profileName(id) << " tick " << i;
        }
    }
}

// F00: the demo makes every tick a row tick; FT2's tick counter wraps from 0, so the row holds
// for 65536 ticks and its slide keeps running on all of them.
TEST_F(Ft2Timing, SpeedZeroHoldsTheRow) {
    put(0, 0, noteC4, 1, 0, SET_SPEED, 0x00);
    put(0, 1, noteC4, 1, 0, VOLUME_SLIDE, 0x01); // volume slide down 1 a tick
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(40);
        EXPECT_EQ(player.row, ft2() ? 0 : 39) << profileName(id);
        // Demo: a new row on every tick, so the slide never gets an other tick.
        EXPECT_EQ(channel(1).volume, ft2() ? 48 - 39 : 48) << profileName(id);
        if (!ft2()) continue;
        tick(65536 - 40);
        EXPECT_EQ(player.row, 0);
        tick();
        EXPECT_EQ(player.row, 1);
    }
}

// Volume-column slides and panning slides wait for tick 1 in FT2; the demo slides on the row
// tick too.
TEST_F(Ft2VolumeColumn, SlidesSkipTheRowTick) {
    put(0, 0, noteC4, 1, 0x65); // volume slide down 5
    put(0, 1, noteC4, 1, 0xD3); // panning slide left 3
    put(0, 2, noteC4, 1, 0x73); // volume slide up 3
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).volume, ft2() ? 48 : 43);
        EXPECT_EQ(channel(1).panning, ft2() ? 128 : 125);
        EXPECT_EQ(channel(2).volume, ft2() ? 48 : 51);
        tick();
        EXPECT_EQ(channel(0).volume, ft2() ? 43 : 38);
        EXPECT_EQ(channel(1).panning, ft2() ? 125 : 122);
        EXPECT_EQ(channel(2).volume, ft2() ? 51 : 54);
    }
}

// FT2's panning slides stay within 0..255, and a slide left by 0 lands on 0; Ax and Bx with 0
// keep the vibrato memory.
TEST_F(Ft2VolumeColumn, PanningSlidesClampAndZeroKeepsVibratoMemory) {
    samples[0].panning = 2;
    put(0, 0, noteC4, 1, 0xD5);
    put(0, 1, noteC4, 1, 0xD0);
    put(0, 2, noteC4, 1, 0, VIBRATO, 0x35);
    put(1, 2, 0, 0, 0xA0);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(2);
        EXPECT_EQ(channel(0).panning, ft2() ? 0 : -8);
        EXPECT_EQ(channel(1).panning, ft2() ? 0 : 2);
        tick(5);
        EXPECT_EQ(channel(2).vibratoSpeed, ft2() ? 3 : 0);
    }
}

// Fx in the volume column is a tone portamento in FT2: the note becomes the target and the
// period slides to it by 4 x 16 x y per tick. The demo takes the note's pitch at once.
TEST_F(Ft2VolumeColumn, FxSlidesToTheRowsNote) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 12, 0, 0xF8);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6);
        const Voice* before = channel(0).voice;
        tick();
        EXPECT_EQ(channel(0).voice, before) << "no new note";
        EXPECT_EQ(channel(0).period, ft2() ? 4608 : 3840);
        tick();
        EXPECT_EQ(channel(0).period, ft2() ? 4096 : 3840);
        tick();
        EXPECT_EQ(channel(0).period, 3840);
    }
}

// Fx next to a note delay: FT2 leaves the row alone until the delay, which then starts the note
// as any note (instrument 2's sample); the demo's rules do the same, Fx being no portamento there.
TEST_F(Ft2VolumeColumn, FxWithNoteDelayStartsTheNote) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 1, 2, 0xFF, EXTENDED, 0xD1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(8);
        EXPECT_EQ(voiceOf(0).sample, &samples[1]) << profileName(id);
        EXPECT_EQ(channel(0).period, 4608 - 64 - 12 * 64) << profileName(id);
    }
}

// Kxx releases on tick xx in FT2; the demo releases on the row tick whatever xx is.
TEST_F(Ft2KeyOff, KxxReleasesOnItsTick) {
    put(0, 0, noteC4, 1, 0, KEY_OFF_EFFECT, 3);
    for (ProfileId id : bothProfiles) {
        begin(id);
        for (int32_t t = 0; t < 6; ++t) {
            tick();
            const bool released = !ft2() || t >= 3;
            EXPECT_EQ(channel(0).keyOff, released ? 1 : 0) << profileName(id) << " tick " << t;
            // Without a volume envelope a release silences the channel in both profiles.
            EXPECT_EQ(voiceOf(0).voiceVolume == 0, released) << profileName(id) << " tick " << t;
        }
    }
}

// K00 with a note: FT2 releases and starts no note; the demo starts it and releases it.
TEST_F(Ft2KeyOff, K00SkipsTheNoteInFt2) {
    put(0, 0, noteC4, 1, 0, KEY_OFF_EFFECT, 0);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).keyOff, 1);
        EXPECT_EQ(voiceOf(0).sample == nullptr, ft2()) << profileName(id);
    }
}

// After a release without volume envelope FT2 has set the volume to 0, so a later volume
// command is heard again; under the demo's rules the envelope output stays 0.
TEST_F(Ft2KeyOff, VolumeAfterReleaseWithoutEnvelopeIsHeardInFt2) {
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    put(2, 0, 0, 0, 0x30);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        EXPECT_EQ(voiceOf(0).voiceVolume, 0);
        tick(6);
        EXPECT_EQ(channel(0).volume, 32);
        // 32 / 64 x 127.5 = 63.75.
        EXPECT_EQ(voiceOf(0).voiceVolume, ft2() ? 16320 : 0) << profileName(id);
    }
}

// A key-off note with an instrument number: FT2 releases, then restores only the sample's
// volume and panning (no envelope restart, the note stays released and audible); the demo resets
// the channel and releases it, silent without envelope.
TEST_F(Ft2KeyOff, KeyOffWithInstrumentRestoresVolumeInFt2) {
    put(0, 0, noteC4, 1, 0x20);
    put(1, 0, KEY_OFF, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        EXPECT_EQ(channel(0).keyOff, 1);
        EXPECT_EQ(channel(0).volume, 48);
        EXPECT_EQ(voiceOf(0).voiceVolume, ft2() ? volume48Fine : 0) << profileName(id);
    }
}

// FT2 reads its arpeggio table with a counter that runs down from the speed: at speed 6 the two
// offsets swap against the demo's tick mod 3, at speed 5 the base note moves.
TEST_F(Ft2Arpeggio, TableIsReadWithTheFallingCounter) {
    struct Case {
        int16_t speed;
        std::vector<int32_t> demo;
        std::vector<int32_t> ft2;
    };
    const Case cases[] = {
        {6, {256, 448, 0, 256, 448}, {448, 256, 0, 448, 256}},
        {5, {256, 448, 0, 256}, {256, 0, 448, 256}},
        // Counters 17 and 16 read the bytes behind FT2's 16-entry table: 0x18 (an y offset) and 0.
        {18, {256, 448, 0}, {448, 0, 0}},
    };
    for (const Case& c : cases) {
        put(0, 0, noteC4, 1, 0, ARPEGGIO, 0x47);
        player.defaultTempo = c.speed;
        for (ProfileId id : bothProfiles) {
            begin(id);
            tick();
            EXPECT_EQ(channel(0).periodDelta, 0);
            const std::vector<int32_t>& expected = ft2() ? c.ft2 : c.demo;
            for (size_t t = 0; t < expected.size(); ++t) {
                tick();
                EXPECT_EQ(channel(0).periodDelta, expected[t])
                    << profileName(id) << " speed " << c.speed << " tick " << t + 1;
            }
        }
    }
}

// Off the note grid (after a fine slide), FT2's arpeggio plays notes of its table: the playing
// period snapped to the nearest note, plus the offset. The demo adds 64 per semitone.
TEST_F(Ft2Arpeggio, NotesComeFromTheNoteTable) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x15); // E15: period 4608 - 20
    put(1, 0, 0, 0, 0, ARPEGGIO, 0x40);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        EXPECT_EQ(channel(0).period, 4588);
        tick(); // tick 1: FT2's counter 5 gives the y offset (0): the snapped note C-4 itself
        EXPECT_EQ(4588 + (ft2() ? -channel(0).periodDelta : channel(0).periodDelta),
                  ft2() ? 4608 : 4844);
        tick(); // tick 2: FT2's counter 4 gives x: E-4 of the table
        EXPECT_EQ(channel(0).periodDelta, ft2() ? 4588 - 4352 : 0);
    }
    EXPECT_EQ(linearArpeggioPeriod(4608, 0, 0), 4608);
    EXPECT_EQ(linearArpeggioPeriod(4608 + 31, 0, 1), 4608 - 64);   // within half a semitone
    EXPECT_EQ(linearArpeggioPeriod(4608 + 33, 0, 1), 4608);        // nearer to B-3
    EXPECT_EQ(linearArpeggioPeriod(4608, -16, 0), 4616);           // finetune step -2
    EXPECT_EQ(linearArpeggioPeriod(1600, 0, 15), 7744 - 4 * 1551); // FT2's top entry
}

// Arpeggio 047 on C-4 of the linear table climbs to E-4 and G-4: FT2 plays 8362.96, 10536.47 and
// 12530.31 Hz (steps of 12428, 15658 and 18621 / 65536 at 44100 Hz) and never goes below C-4.
TEST_F(Ft2Arpeggio, LinearArpeggioGoesUp) {
    put(0, 0, noteC4, 1, 0, ARPEGGIO, 0x47);
    begin(ProfileId::Ft2);
    std::vector<uint32_t> steps;
    for (int32_t t = 0; t < 6; ++t) {
        tick();
        EXPECT_EQ(voiceOf(0).stepWhole, 0);
        steps.push_back(voiceOf(0).stepFraction >> 16);
    }
    EXPECT_EQ(steps[0], 12428u);
    for (uint32_t step : steps)
        EXPECT_TRUE(step == 12428u || step == 15658u || step == 18621u) << step;
    EXPECT_NE(std::find(steps.begin(), steps.end(), 18621u), steps.end());
    EXPECT_NE(std::find(steps.begin(), steps.end(), 15658u), steps.end());
}

// FT2's vibrato and tremolo read 255 x sin rounded down: depth 15 at phase 1 (vibrato speed 1
// after one tick... here set directly) gives (24 x 15) >> 5 = 11 period units where the demo's
// 256 |sin| gives 25 and, with its low bits cleared, 8. The tremolo's ramp takes its direction
// from the vibrato's phase in FT2, and its waveform 3 is a square there.
TEST_F(Ft2Pitch, VibratoAndTremoloTakeFt2sWaves) {
    for (ProfileId id : bothProfiles) {
        const ReplayProfile* rules = replayProfile(id);
        const bool isFt2 = id == ProfileId::Ft2;
        Channel c{};
        c.vibratoDepth = 15;
        c.vibratoPosition = 1;
        applyVibrato(&c, rules);
        EXPECT_EQ(c.periodDelta, isFt2 ? -11 : -8) << profileName(id);
        c.vibratoPosition = 8;
        applyVibrato(&c, rules);
        EXPECT_EQ(c.periodDelta, isFt2 ? -84 : -84) << profileName(id); // 180 and 181 agree here

        Channel t{};
        t.volume = 32;
        t.tremoloDepth = 8;
        t.waveControl = 0x10; // ramp
        t.tremoloPosition = 4;
        t.vibratoPosition = -5;
        stepTremolo(&t, rules);
        // FT2: phase 4 reads 32, turned round by the vibrato's negative phase to 223: +27.
        EXPECT_EQ(t.volumeDelta, isFt2 ? (223 * 8) >> 6 : (32 * 8) >> 6) << profileName(id);
        Channel q{};
        q.volume = 32;
        q.tremoloDepth = 8;
        q.waveControl = 0x30;
        q.tremoloPosition = 1;
        stepTremolo(&q, rules);
        EXPECT_EQ(q.volumeDelta, isFt2 ? (255 * 8) >> 6 : (25 * 8) >> 6) << profileName(id);
    }
}

// ED3 with a note, an instrument number and a volume slide: FT2 only stores the cell on the row
// tick, so C-4 and its envelope (already run down to 0) go on; the slide acts on ticks 1 and 2,
// and on tick 3 D-4 starts with its envelope from the top. The demo restarts the instrument on
// the row tick and holds the slide back.
TEST_F(Ft2Profile, NoteDelayStoresTheCellUntilItsTick) {
    setVolumeEnvelope(0, {{0, 64}, {4, 0}, {100, 0}}, 1);
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 2, 1, 0x62, EXTENDED, 0xD3); // D-4, slide down 2, ED3
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6);
        ASSERT_EQ(channel(0).volumeEnvelopeOutput, 0) << profileName(id);
        const Voice* playing = &voiceOf(0);
        tick(); // row 1, tick 0
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 0 : 64) << profileName(id);
        EXPECT_EQ(channel(0).period, 4608) << profileName(id);
        tick(2); // ticks 1 and 2
        EXPECT_EQ(&voiceOf(0), playing) << profileName(id);
        EXPECT_EQ(channel(0).period, 4608) << profileName(id);
        if (ft2()) {
            EXPECT_EQ(channel(0).volumeEnvelopeOutput, 0);
            EXPECT_EQ(channel(0).volume, 48 - 4);
        }
        tick(); // tick 3: D-4 starts
        EXPECT_EQ(channel(0).period, 4608 - 2 * 64) << profileName(id);
        EXPECT_NE(&voiceOf(0), playing) << profileName(id);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, 64) << profileName(id);
        if (!ft2()) continue;
        EXPECT_EQ(channel(0).volume, 48); // the instrument number's volume, after that tick's slide
        tick();
        EXPECT_EQ(channel(0).volume, 46);
    }
}

// FT2's tremor turns by a countdown that runs on across rows: T00 with no memory turns on every
// tick (heard first), and T11 on the next row takes over the countdown where it stands, each
// phase then two ticks long.
TEST_F(Ft2Pitch, TremorTurnsByItsOwnCountdown) {
    put(0, 0, noteC4, 1, 0, TREMOR, 0x00);
    put(1, 0, 0, 0, 0, TREMOR, 0x11);
    begin(ProfileId::Ft2);
    tick();
    std::vector<int32_t> muted;
    for (int32_t t = 1; t < 12; ++t) {
        tick();
        if (t % 6 != 0) muted.push_back(channel(0).tremorMuted);
    }
    EXPECT_EQ(muted, (std::vector<int32_t>{0, 1, 0, 1, 0, 1, 1, 0, 0, 1}));
}

// The pitch an effect leaves stays in FT2 until something sets it anew. A volume-column vibrato
// (B8 at speed A4) on row 0 leaves its last offset on row 1, which has no effect at all; 4xy in a
// cell with a volume-column vibrato takes its speed and depth only after the column's vibrato on
// each tick, so both run and the phase moves twice a tick.
TEST_F(Ft2Pitch, EffectPitchStaysUntilSetAnew) {
    put(0, 0, noteC4, 1, 0xA4);
    put(1, 0, 0, 0, 0xB8);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 6);
        const int32_t lastOffset = channel(0).periodDelta;
        ASSERT_NE(lastOffset, 0) << profileName(id);
        tick(); // row 2, no effect
        EXPECT_EQ(channel(0).periodDelta, ft2() ? lastOffset : 0) << profileName(id);
        tick();
        EXPECT_EQ(channel(0).periodDelta, ft2() ? lastOffset : 0) << profileName(id);
    }
    put(0, 0, noteC4, 1, 0xB8, VIBRATO, 0x1F);
    put(1, 0, 0, 0, 0, 0, 0);
    begin(ProfileId::Ft2);
    tick(2); // tick 1: the column's vibrato at speed 0, then 4xy's at phase 0: no offset yet
    EXPECT_EQ(channel(0).periodDelta, 0);
    EXPECT_EQ(channel(0).vibratoPosition, 1);
    tick(); // tick 2: the column at phase 1, then 4xy at phase 2: 49 x 15 >> 5 = 22, lower
    EXPECT_EQ(channel(0).periodDelta, -22);
    EXPECT_EQ(channel(0).vibratoPosition, 3);
}

// F1 in the volume column beside 301: FT2 takes the column's speed (1 x 64 period units) and
// ignores 3xx's, and both slide on each other tick, 128 units a tick; the demo's rules let 3xx's
// speed (4 units) win for both slides.
TEST_F(Ft2Pitch, VolumeColumnPortamentoSpeedWinsOver3xx) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 12, 0, 0xF1, TONE_PORTA, 0x01);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 2);
        EXPECT_EQ(channel(0).period, ft2() ? 4608 - 128 : 4608 - 8) << profileName(id);
    }
}

// E5F on C-4 plays at finetune 112 (FT2: 14 sixteenths of a semitone up, period 4552); the
// tone portamento on the next row aims at D-4 with that same finetune (4424), since FT2 keeps it
// in the channel, where the demo aims at D-4 of the finetune E5F left in the sample (15, 4473).
TEST_F(Ft2Pitch, NoteFinetuneStaysForThePortamentoTarget) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x5F);
    put(1, 0, noteC4 + 2, 0, 0, TONE_PORTA, 0xFF);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        if (ft2()) {
            EXPECT_EQ(channel(0).period, 4552);
        }
        tick(7);
        EXPECT_EQ(channel(0).period, ft2() ? 4424 : 4473) << profileName(id);
    }
}

// An instrument number on a channel that has not started a note: FT2 takes volume and panning
// from the sample last started, and there is none, so the later note without instrument number
// is silent (volume 0, centred); the demo takes the instrument's sample volume.
TEST_F(Ft2Pitch, InstrumentBeforeAnyNoteStoresVolumeZero) {
    samples[0].panning = 200;
    put(0, 0, 0, 1);
    put(1, 0, noteC4);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        EXPECT_EQ(channel(0).volume, ft2() ? 0 : 48) << profileName(id);
        EXPECT_EQ(channel(0).panning, ft2() ? 128 : 200) << profileName(id);
    }
}

// A one-point volume envelope: the loader switches it off, so the demo cuts a released note;
// FT2 keeps it and holds the point's value, also after the release.
TEST_F(Ft2Envelopes, OnePointEnvelopeHoldsItsValue) {
    Instrument& in = instruments[0];
    in.volumePointCount = 1;
    in.volumeEnvelope[0] = {0, 32};
    in.volumeType = 0; // as the loader leaves it
    in.volumeTypeAsRead = 1;
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 32 : 64);
        tick(6);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 32 : 0);
        // 48 x 32 / 64 / 64 x 127.5 = 47.8: FT2 still sounds at half volume.
        EXPECT_EQ(voiceOf(0).voiceVolume, ft2() ? 12240 : 0) << profileName(id);
    }
}

// The panning envelope's offset: the demo truncates (128 - |P - 128|) / 32 first, FT2 multiplies
// first and rounds down: panning 100 with envelope 40 gives 124 and 125.
TEST_F(Ft2Envelopes, PanningEnvelopeScalesBeforeDividing) {
    Instrument& in = instruments[0];
    in.panningPointCount = 2;
    in.panningEnvelope[0] = {0, 40};
    in.panningEnvelope[1] = {10, 40};
    in.panningType = 1;
    samples[0].panning = 100;
    put(0, 0, noteC4, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).panningEnvelopeOutput, 40);
        EXPECT_EQ(voiceOf(0).voicePanning, ft2() ? 125 : 124) << profileName(id);
    }
    // Below centre the offset rounds down in FT2: envelope 20 on panning 100 gives 100 - 38.
    in.panningEnvelope[0].y = 20;
    in.panningEnvelope[1].y = 20;
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(voiceOf(0).voicePanning, ft2() ? 62 : 64) << profileName(id);
    }
}

// FT2 pans with the envelope's 8.8 value and adds the offset in 8 bits: envelope 64 on a centred
// sample gives 128 + 128, which wraps to 0 (hard left); the demo's rules clamp at the edge. On
// its way from 32 to 33 over four ticks the envelope stands at 32.5 after two steps, which FT2
// already hears as panning 130.
TEST_F(Ft2Envelopes, PanningEnvelopeKeepsItsFractionAndWraps) {
    Instrument& in = instruments[0];
    in.panningPointCount = 2;
    in.panningEnvelope[0] = {0, 64};
    in.panningEnvelope[1] = {10, 64};
    in.panningType = 1;
    put(0, 0, noteC4, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(voiceOf(0).voicePanning, ft2() ? 0 : 255) << profileName(id);
    }
    in.panningEnvelope[0] = {0, 32};
    in.panningEnvelope[1] = {4, 33};
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(3);
        EXPECT_EQ(channel(0).panningEnvelopeOutput, 32);
        EXPECT_EQ(voiceOf(0).voicePanning, ft2() ? 130 : 128) << profileName(id);
    }
}

// A panning envelope held on its sustain point stays there after a key-off in FT2 (only the
// volume envelope is pulled on); one released before it gets there passes the point.
TEST_F(Ft2Envelopes, PanningSustainOutlastsARelease) {
    Instrument& in = instruments[0];
    in.panningPointCount = 3;
    in.panningEnvelope[0] = {0, 32};
    in.panningEnvelope[1] = {2, 0};
    in.panningEnvelope[2] = {10, 64};
    in.panningSustain = 1;
    in.panningType = 3;
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 6);
        EXPECT_EQ(channel(0).keyOff, 1);
        if (ft2()) {
            EXPECT_EQ(channel(0).panningEnvelopeOutput, 0);
            EXPECT_EQ(voiceOf(0).voicePanning, 0);
        } else {
            EXPECT_GT(channel(0).panningEnvelopeOutput, 32);
        }
    }
    put(1, 0, 0);
    put(0, 1, KEY_OFF);
    put(0, 1, noteC4, 1, 0, KEY_OFF_EFFECT, 1); // K01: released on tick 1, before the sustain point
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(12);
        EXPECT_EQ(channel(1).panningEnvelopeOutput, 64) << profileName(id);
    }
}

// A delayed key-off without instrument number: FT2 takes the volume column's panning into the
// channel but does not send it to the voice, which stays where it was until something else does.
TEST_F(Ft2Envelopes, DelayedKeyOffKeepsThePanningFromTheVoice) {
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF, 0, 0xC0, EXTENDED, 0xD3);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 4);
        EXPECT_EQ(channel(0).panning, 0) << profileName(id);
        if (ft2()) {
            EXPECT_EQ(voiceOf(0).voicePanning, 128);
        }
    }
}

// E5y: FT2 plays the note of its own cell at finetune y x 16 - 128 and changes nothing for
// later notes; the demo keeps y as the sample's finetune for all later notes.
TEST_F(Ft2Pitch, E5yTunesOnlyItsOwnNote) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x5F);
    put(1, 0, noteC4);
    for (ProfileId id : bothProfiles) {
        samples[0].finetune = 0;
        begin(id);
        tick();
        // FT2: finetune 112, step 14 of 1/16 semitone: 4608 - 56.
        EXPECT_EQ(channel(0).period, ft2() ? 4552 : 4608) << profileName(id);
        tick(6);
        EXPECT_EQ(channel(0).period, ft2() ? 4608 : 4601) << profileName(id);
        EXPECT_EQ(samples[0].finetune, ft2() ? 0 : 15);
    }
}

// FT2 uses finetune in steps of 1/16 semitone (finetune >> 3, 4 linear period units a step).
TEST_F(Ft2Pitch, FinetuneInSixteenthSemitoneSteps) {
    const int32_t finetunes[] = {7, -1, 127, -128, 20};
    const int32_t demoPeriods[] = {4605, 4608, 4545, 4672, 4598};
    const int32_t ft2Periods[] = {4608, 4612, 4548, 4672, 4600};
    for (size_t i = 0; i < std::size(finetunes); ++i) {
        for (ProfileId id : bothProfiles) {
            setReplayProfile(&player, id);
            EXPECT_EQ(notePeriodFor(&player, 48, finetunes[i]),
                      ft2() ? ft2Periods[i] : demoPeriods[i])
                << profileName(id) << " finetune " << finetunes[i];
        }
    }
}

// On the row tick of a vibrato that goes on from the previous row FT2 keeps the last vibrato
// pitch; the demo plays the offset of the phase the vibrato has reached.
TEST_F(Ft2Pitch, ContinuedVibratoHoldsItsPitchOnTheRowTick) {
    put(0, 0, noteC4, 1, 0, VIBRATO, 0x48);
    put(1, 0, 0, 0, 0, VIBRATO, 0x00);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6);
        // Phase 16, depth 8: (8 x 255) >> 5 = 63; the demo clears the two low bits.
        EXPECT_EQ(channel(0).periodDelta, ft2() ? -63 : -60);
        tick();
        EXPECT_EQ(channel(0).periodDelta, ft2() ? -63 : -56) << profileName(id);
    }
}

// FT2's vibrato lowers the pitch in the first half of its wave on the Amiga table as on the
// linear one; under the demo's rules the Amiga table bends the other way.
TEST_F(Ft2Pitch, VibratoStartsDownwardsOnTheAmigaTable) {
    player.flags = 0;
    put(0, 0, noteC4, 1, 0, VIBRATO, 0x88);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(3); // tick 2 reads phase 8: sine amplitude 180
        const int32_t bend = channel(0).periodDelta;
        // A positive periodDelta lowers the pitch on the Amiga table.
        EXPECT_EQ(bend, ft2() ? (8 * 180) >> 5 : -(((8 * 180) >> 5) & ~3)) << profileName(id);
    }
}

// An instrument number without a note: FT2 keeps the playing instrument and sample (their volume
// and envelopes are reset) and takes the new instrument with the next note; the demo switches
// at once.
TEST_F(Ft2Pitch, InstrumentNumberWaitsForTheNote) {
    put(0, 0, noteC4, 1);
    put(1, 0, 0, 2);
    put(2, 0, noteC4);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        // Sample 1 plays at 48; instrument 2's sample has volume 32.
        EXPECT_EQ(channel(0).instrument, ft2() ? 0 : 1) << profileName(id);
        EXPECT_EQ(channel(0).volume, ft2() ? 48 : 32) << profileName(id);
        tick(6);
        EXPECT_EQ(channel(0).instrument, 1);
        EXPECT_EQ(voiceOf(0).sample, &samples[1]);
    }
}

// 9xx past the sample's end: FT2 starts the note silent; the demo plays the sample already
// playing from its start. Without a note FT2 ignores 9xx, memory included.
TEST_F(Ft2Pitch, SampleOffsetPastTheEndSilencesTheNote) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4, 2, 0, SAMPLE_OFFSET, 0x10); // 4096 frames, past the 1000 of sample 2
    put(0, 1, noteC4, 1);
    put(1, 1, 0, 0, 0, SAMPLE_OFFSET, 0x02); // no note
    put(2, 1, noteC4, 0, 0, SAMPLE_OFFSET, 0x00);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        EXPECT_EQ(voiceOf(0).sample, ft2() ? nullptr : &samples[0]) << profileName(id);
        EXPECT_EQ(voiceOf(0).positionWhole, 0);
        tick(6);
        // Demo: offset memory 2 from row 1; FT2: the memory was never written, so 0.
        EXPECT_EQ(channel(1).sampleOffsetMemory, ft2() ? 0 : 2) << profileName(id);
        EXPECT_EQ(voiceOf(1).positionWhole, ft2() ? 0 : 512) << profileName(id);
    }
}

// T21: FT2 counts the tremor on the other ticks only, the row tick keeping the last state; the
// demo counts the row tick too. Three ticks on, two off in both.
TEST_F(Ft2Pitch, TremorCountsOnTheOtherTicks) {
    put(0, 0, noteC4, 1, 0, TREMOR, 0x21);
    put(1, 0, 0, 0, 0, TREMOR, 0x00);
    for (ProfileId id : bothProfiles) {
        begin(id);
        std::vector<int32_t> audible;
        for (int32_t t = 0; t < 12; ++t) {
            tick();
            audible.push_back(voiceOf(0).voiceVolume != 0 ? 1 : 0);
        }
        const std::vector<int32_t> demo = {1, 1, 1, 0, 0, 1, 1, 1, 0, 0, 1, 1};
        // FT2: row tick 0 audible (nothing muted yet), ticks 1-3 on, 4-5 off, row tick 6 keeps
        // the muting, 7-9 on, 10-11 off.
        const std::vector<int32_t> ft2Ticks = {1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0};
        EXPECT_EQ(audible, ft2() ? ft2Ticks : demo) << profileName(id);
    }
}

// T21 over two rows ends muted (see above). FT2 keeps the channel silent on the next rows without
// effect and until a volume command; the demo is audible again once the tremor stops.
TEST_F(Ft2Pitch, TremorMutingOutlastsTheEffect) {
    put(0, 0, noteC4, 1, 0, TREMOR, 0x21);
    put(1, 0, 0, 0, 0, TREMOR, 0x00);
    put(4, 0, 0, 0, 0x30);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(12 + 6);
        EXPECT_EQ(voiceOf(0).voiceVolume != 0, !ft2()) << profileName(id);
        tick(6);
        EXPECT_EQ(voiceOf(0).voiceVolume != 0, !ft2()) << profileName(id);
        tick();
        EXPECT_NE(voiceOf(0).voiceVolume, 0) << profileName(id);
        EXPECT_EQ(channel(0).volume, 32);
    }
    // With a volume envelope the channel's volume is recomputed on every tick, so only the muted
    // volume itself can keep the note silent after the tremor.
    instruments[0].volumeEnvelope[0] = {0, 64};
    instruments[0].volumeEnvelope[1] = {10, 64};
    instruments[0].volumePointCount = 2;
    instruments[0].volumeType = 1;
    instruments[0].volumeTypeAsRead = 1;
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(12 + 6 + 1);
        EXPECT_EQ(voiceOf(0).voiceVolume != 0, !ft2()) << profileName(id);
        tick(6);
        EXPECT_NE(voiceOf(0).voiceVolume, 0) << profileName(id);
    }
}

// EA0 after EB3: the demo's shared memory raises by 3; FT2 keeps a memory for each, and EA has
// none yet. H00 on channel 1 after H02 on channel 0: the demo's one memory slides channel 1 down
// too; FT2's channel 1 has no memory of its own yet.
TEST_F(Ft2Pitch, SlideMemoriesAreSeparate) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0xB3);
    put(1, 0, 0, 0, 0, EXTENDED, 0xA0);
    put(2, 0, 0, 0, 0, GLOBAL_SLIDE, 0x02);
    put(3, 1, 0, 0, 0, GLOBAL_SLIDE, 0x00);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        EXPECT_EQ(channel(0).volume, ft2() ? 45 : 48) << profileName(id);
        tick(6 * 2);
        EXPECT_EQ(player.globalVolume, 64 - 2 * 5);
        tick(6);
        EXPECT_EQ(player.globalVolume, ft2() ? 54 : 44) << profileName(id);
    }
}

// Three octaves below C-4: 8363 / 8 = 1045.375 Hz. The demo's voice runs at the whole 1045 Hz.
// FT2 makes a 16.16 step from the period without whole hertz in between, with its factors
// rounded for the rate it mixes at: 1553/65536 a frame at 44100 Hz (1045.03 Hz).
TEST_F(Ft2Pitch, VoiceStepIsFt2sOwn) {
    samples[0].relativeNote = -36;
    put(0, 0, noteC4, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        const Voice& voice = voiceOf(0);
        EXPECT_EQ(voice.stepWhole, 0);
        EXPECT_EQ(voice.stepFraction, ft2() ? 1553u << 16 : (1045ull << 32) / 44100)
            << profileName(id);
    }
}

// C-0 of a sample a semitone low lands on the note below the table, which has no period: FT2
// starts the sample and lets it stand still (0 Hz); the demo's voice keeps the step it had.
TEST_F(Ft2Pitch, NoteWithoutAPeriodStandsStill) {
    samples[0].relativeNote = -1;
    put(0, 0, 1, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        const Voice& voice = voiceOf(0);
        EXPECT_NE(voice.sample, nullptr) << profileName(id);
        EXPECT_EQ(voice.stepWhole == 0 && voice.stepFraction == 0, ft2()) << profileName(id);
    }
}

// A tone portamento reaches E-4 on row 1; row 2 plays C-3, a longer period, and row 3 takes up
// the portamento without a note. The demo aims at the last note played, so it stays on C-3; FT2
// keeps E-4 as the target and, arrived, only moves towards longer periods, so it jumps straight
// back to E-4. Row 5 sets C-4 as the target where the channel already is, and 1xx on row 6 moves
// the pitch away: on row 7 the demo slides back towards C-4, FT2's portamento goes nowhere.
TEST_F(Ft2Pitch, TonePortamentoKeepsItsTargetAndDirection) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 4, 0, 0, TONE_PORTA, 0xFF);
    put(2, 0, noteC4 - 12, 1);
    put(3, 0, 0, 0, 0, TONE_PORTA, 0x01);
    put(4, 0, noteC4, 1);
    put(5, 0, noteC4, 0, 0, TONE_PORTA, 0x01);
    put(6, 0, 0, 0, 0, PORTA_UP, 0x10);
    put(7, 0, 0, 0, 0, TONE_PORTA, 0x01);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 * 2); // to the end of row 1
        const int32_t e4 = channel(0).period;
        EXPECT_EQ(channel(0).portaTarget, e4) << profileName(id);
        tick();
        const int32_t c3 = channel(0).period;
        ASSERT_GT(c3, e4);
        tick(5 + 2); // row 3, tick 1
        EXPECT_EQ(channel(0).period, ft2() ? e4 : c3) << profileName(id);
        tick(4 + 6 * 3); // to the end of row 6
        const int32_t slid = channel(0).period;
        tick(2); // row 7, tick 1
        EXPECT_EQ(channel(0).period, ft2() ? slid : slid + 4) << profileName(id);
    }
}

// C80: the demo takes the volume as it stands (128, twice full); FT2 caps it at 64.
TEST_F(Ft2Pitch, VolumeCommandAbove64IsCapped) {
    put(0, 0, noteC4, 1, 0, SET_VOLUME, 0x80);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).volume, ft2() ? 64 : 128) << profileName(id);
    }
}

// EC0: the demo does nothing; FT2 cuts the note on the row tick. EC2 cuts on tick 2 in both.
TEST_F(Ft2Pitch, NoteCutZeroCutsOnTheRowTick) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0xC0);
    put(0, 1, noteC4, 1, 0, EXTENDED, 0xC2);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).volume, ft2() ? 0 : 48) << profileName(id);
        EXPECT_EQ(channel(1).volume, 48);
        tick(2);
        EXPECT_EQ(channel(0).volume, ft2() ? 0 : 48) << profileName(id);
        EXPECT_EQ(channel(1).volume, 0);
    }
}

// Instruments that are not there. FT2 plays its placeholder for a number naming no instrument
// or one without samples (volume 0, centred), a silent volume-64 centred sample for a slot an
// instrument leaves empty, and ignores numbers above 128; the demo plays its zero-filled empty
// sample for all of them (volume 0, panning 0) and takes any number.
TEST_F(Ft2Pitch, MissingInstrumentsPlayFt2sDefaults) {
    instruments[2].sampleCount = 0;
    instruments[2].samples[0] = &player.standIns.empty;
    instruments[1].sampleMap[noteC4 - 1] = 5;
    put(0, 0, noteC4, 5);
    put(0, 1, noteC4, 3);
    put(0, 2, noteC4, 2);
    put(0, 3, noteC4, 1, 0, SET_VOLUME, 20);
    put(1, 3, noteC4, 0x85);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        for (int32_t c = 0; c < 2; ++c) {
            EXPECT_EQ(channel(c).volume, 0) << profileName(id) << " channel " << c;
            EXPECT_EQ(channel(c).panning, ft2() ? 128 : 0) << profileName(id) << " channel " << c;
        }
        EXPECT_EQ(channel(2).volume, ft2() ? 64 : 0) << profileName(id);
        EXPECT_EQ(channel(2).panning, ft2() ? 128 : 0) << profileName(id);
        tick(6);
        // FT2 keeps instrument 1 and its volume; the demo switches to its empty sample.
        EXPECT_EQ(channel(3).volume, ft2() ? 20 : 0) << profileName(id);
        EXPECT_EQ(voiceOf(3).voiceVolume != 0, ft2()) << profileName(id);
    }
}

// ED2 with an envelope falling from 64 to 0 over 4 ticks: FT2 runs envelopes and fadeout after
// the effects on the other ticks, so the delayed note's envelope is at its first point on tick 2
// and one step down on tick 3; the demo's envelope takes its first step on tick 3 and lags one tick
// behind.
TEST_F(Ft2Envelopes, EnvelopesAndFadeoutStepAfterTheEffects) {
    instruments[0].volumeEnvelope[0] = {0, 64};
    instruments[0].volumeEnvelope[1] = {4, 0};
    instruments[0].volumePointCount = 2;
    instruments[0].volumeType = 1;
    instruments[0].volumeTypeAsRead = 1;
    put(0, 0, noteC4, 1, 0, EXTENDED, 0xD2);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(3);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, 64) << profileName(id);
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 48 : 64) << profileName(id);
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 32 : 48) << profileName(id);
    }
    // K02 with a fadeout of 1024 a tick: FT2 fades on the release tick itself; the demo releases
    // on the row tick and fades on ticks 0, 1 and 2.
    instruments[1].fadeout = 1024;
    put(2, 1, noteC4, 2, 0, KEY_OFF_EFFECT, 0x02);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 * 2 + 3);
        EXPECT_EQ(channel(1).keyOff, 1) << profileName(id);
        EXPECT_EQ(channel(1).fadeoutVolume, 65536 - (ft2() ? 1 : 3) * 1024) << profileName(id);
    }
}

// Instrument 2 fades out by 4096 a tick, instrument 1 by 1024. An instrument number without
// note resets FT2's channel with the instrument still playing (2), whose fadeout speed then stays
// for the next note of instrument 1; the demo fades with the instrument that plays.
TEST_F(Ft2Envelopes, FadeoutSpeedIsTakenAtTheReset) {
    instruments[0].fadeout = 1024;
    instruments[1].fadeout = 4096;
    put(0, 0, noteC4, 2);
    put(1, 0, 0, 1);
    put(2, 0, noteC4);
    put(3, 0, KEY_OFF);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 * 3 + 1);
        EXPECT_EQ(channel(0).instrument, 0) << profileName(id);
        EXPECT_EQ(channel(0).fadeoutVolume, 65536 - (ft2() ? 4096 : 1024)) << profileName(id);
    }
}

// A volume envelope looping from point 1 to point 2, its sustain point also 2: while the key is
// held both loop (32, 16, 32, ...). After the release FT2 leaves the loop at its end and runs on to
// the last point (64); the demo loops on for good.
TEST_F(Ft2Envelopes, ReleaseLeavesALoopEndingOnTheSustainPoint) {
    const EnvelopePoint points[] = {{0, 64}, {2, 32}, {4, 0}, {6, 64}};
    for (int32_t i = 0; i < 4; ++i) instruments[0].volumeEnvelope[i] = points[i];
    instruments[0].volumePointCount = 4;
    instruments[0].volumeLoopStart = 1;
    instruments[0].volumeLoopEnd = 2;
    instruments[0].volumeSustain = 2;
    instruments[0].volumeType = 7;
    instruments[0].volumeTypeAsRead = 7;
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6);
        EXPECT_LE(channel(0).volumeEnvelopeOutput, 32) << profileName(id);
        tick(12);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput == 64, ft2()) << profileName(id);
        EXPECT_EQ(channel(0).volumeEnvelopeDone, ft2() ? 1 : 0) << profileName(id);
    }
}

// Instrument 1 fades in its volume envelope over 12 ticks, instrument 2 has none. A note of
// instrument 2 leaves FT2's envelope where instrument 1 left it (tick 6), and a later lone note
// of instrument 1 goes on from there; the demo starts it over with every instrument number.
TEST_F(Ft2Envelopes, ResetKeepsAnEnvelopeTheInstrumentHasOff) {
    instruments[0].volumeEnvelope[0] = {0, 64};
    instruments[0].volumeEnvelope[1] = {12, 0};
    instruments[0].volumePointCount = 2;
    instruments[0].volumeType = 1;
    instruments[0].volumeTypeAsRead = 1;
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4, 2);
    put(2, 0, 0, 1);
    put(4, 0, noteC4);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 * 4 + 1);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 32 : 0) << profileName(id);
    }
}

// 3xx with an instrument number starts the envelope of the instrument that plays over; the next
// plain note brings in the new instrument and its envelope runs on from there. Where the new
// points lie behind the running counter the old slide carries on past them: FT2's unsigned 8.8
// level then plays 64 once it falls below 0, and 0 once it rises above 64, and stays there. The
// demo's rules keep instrument 1 on the plain note, whose envelope holds its last point.
TEST_F(Ft2Envelopes, SlideCarriedPastItsPointTakesFt2sRange) {
    struct Case {
        EnvelopePoint first[3];
        int32_t lastOfSlide; // FT2's level on tick 28, where the carried slide ends
        int32_t ft2After;
        int32_t demoAfter;
    };
    const Case cases[] = {{{{0, 64}, {16, 0}, {300, 0}}, 0, 64, 0},
                          {{{0, 0}, {16, 64}, {300, 64}}, 64, 0, 64}};
    for (const Case& c : cases) {
        setVolumeEnvelope(0, {c.first[0], c.first[1], c.first[2]}, 1);
        setVolumeEnvelope(1, {{0, 64}, {2, 48}, {200, 0}}, 1);
        put(0, 0, noteC4, 1);
        put(2, 0, noteC4 + 3, 2, 0, TONE_PORTA, 1);
        put(3, 0, noteC4);
        for (ProfileId id : bothProfiles) {
            begin(id);
            tick(18);
            // The 3xx row started instrument 1's envelope over: 5 ticks into it now.
            EXPECT_EQ(channel(0).volumeEnvelopeOutput, c.lastOfSlide == 0 ? 44 : 20);
            tick(11);
            EXPECT_EQ(channel(0).volumeEnvelopeOutput, c.lastOfSlide) << profileName(id);
            tick();
            EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? c.ft2After : c.demoAfter)
                << profileName(id);
            tick(20);
            EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? c.ft2After : c.demoAfter)
                << profileName(id);
            EXPECT_GE(voiceOf(0).voiceVolume, 0);
        }
    }
}

// The same rows with an instrument that has no envelopes: FT2 plays it at full envelope level
// and at the channel's own panning, whatever instrument 1's envelopes left behind.
TEST_F(Ft2Envelopes, InstrumentWithEnvelopesOffIsNotHeldByTheLastOnes) {
    setVolumeEnvelope(0, {{0, 64}, {16, 0}, {300, 0}}, 1);
    Instrument& first = instruments[0];
    first.panningEnvelope[0] = {0, 0};
    first.panningEnvelope[1] = {16, 64};
    first.panningEnvelope[2] = {300, 32};
    first.panningPointCount = 3;
    first.panningType = 1;
    first.panningTypeAsRead = 1;
    put(0, 0, noteC4, 1);
    put(2, 0, noteC4 + 3, 2, 0, TONE_PORTA, 1);
    put(3, 0, noteC4);
    begin(ProfileId::Ft2);
    tick(18);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 44);
    EXPECT_EQ(voiceOf(0).voicePanning, 80);
    tick();
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 64);
    // The sample's panning of the last started note: FT2's 3xx row took it back.
    EXPECT_EQ(voiceOf(0).voicePanning, 128);
    EXPECT_EQ(voiceOf(0).voiceVolume, volume48Fine);
    tick(30);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 64);
    EXPECT_EQ(voiceOf(0).voicePanning, 128);
}

// A channel's first instrument number comes without a note: in FT2 that resets nothing (the
// channel has no instrument yet), and the note on the next row finds the envelope counter past
// its first point, so the envelope stays at 0 until an instrument number starts it.
TEST_F(Ft2Envelopes, FreshChannelEnvelopeWaitsForAnInstrumentNumber) {
    setVolumeEnvelope(0, {{0, 64}, {16, 0}, {300, 0}}, 1);
    put(0, 0, 0, 1);
    put(1, 0, noteC4, 0, 0x50);
    put(4, 0, noteC4, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        // The demo's rules start instrument 1's envelope on the row of its number.
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 0 : 40) << profileName(id);
        tick(6);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 0 : 16) << profileName(id);
        tick(11);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, 0) << profileName(id);
        if (ft2()) {
            EXPECT_EQ(voiceOf(0).voiceVolume, 0);
        }
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, 64) << profileName(id);
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, 60) << profileName(id);
    }
}

// Key-off with ED0: the demo's ED0 holds the row back (the volume stays 48); in FT2 ED0 is no
// delay, so the key-off zeroes the volume at once. Key-off with ED2: the demo releases on the
// row tick and starts the note again on tick 2; FT2 waits, releases on tick 2 (volume 0) and
// starts the instrument over unreleased, without a new note.
TEST_F(Ft2KeyOff, NoteDelayWithKeyOff) {
    put(0, 0, noteC4, 1);
    put(0, 1, noteC4, 1);
    put(1, 0, KEY_OFF, 0, 0, EXTENDED, 0xD0);
    put(1, 1, KEY_OFF, 0, 0, EXTENDED, 0xD2);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 2);
        EXPECT_EQ(channel(0).volume, ft2() ? 0 : 48) << profileName(id);
        EXPECT_EQ(channel(1).keyOff, ft2() ? 0 : 1) << profileName(id);
        EXPECT_EQ(channel(1).volume, 48) << profileName(id);
        tick();
        EXPECT_EQ(channel(1).keyOff, 0) << profileName(id);
        EXPECT_EQ(channel(1).volume, ft2() ? 0 : 48) << profileName(id);
        EXPECT_EQ((channel(1).updateFlags & UPDATE_TRIGGER) != 0, !ft2()) << profileName(id);
    }
}

// ED2 on a row that EE1 plays twice (tempo 6): FT2 counts the delay within each repeat and starts
// the note on ticks 2 and 8; the demo counts over the whole row and starts it on tick 2 only.
TEST_F(Ft2Position, PatternDelayRepeatsTheNoteDelay) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0xD2);
    put(0, 1, 0, 0, 0, EXTENDED, 0xE1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        std::vector<int32_t> triggers;
        for (int32_t t = 0; t < 12; ++t) {
            tick();
            if ((channel(0).updateFlags & UPDATE_TRIGGER) != 0) triggers.push_back(t);
        }
        const std::vector<int32_t> demo = {2};
        const std::vector<int32_t> ft2Ticks = {2, 8};
        EXPECT_EQ(triggers, ft2() ? ft2Ticks : demo) << profileName(id);
    }
}

// A delayed note without instrument number: FT2 keeps the channel's volume (here 20 from the
// earlier row); the demo resets it to the sample's 48.
TEST_F(Ft2Pitch, DelayedNoteKeepsTheVolumeWithoutInstrument) {
    put(0, 0, noteC4, 1, 0x24);
    put(1, 0, noteC4 + 2, 0, 0, EXTENDED, 0xD2);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 3);
        EXPECT_EQ(channel(0).volume, ft2() ? 20 : 48) << profileName(id);
        EXPECT_EQ(channel(0).period, 4608 - 128);
    }
}

// E31 with a tone portamento: FT2 plays the slide in whole semitones (the nearest note of its
// table); the demo slides smoothly either way.
TEST_F(Ft2Pitch, GlissandoSoundsInSemitones) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x31);
    put(1, 0, noteC4 + 12, 0, 0, TONE_PORTA, 0x06); // 24 period units a tick
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        const int32_t heard[] = {4608 - 24, 4608 - 48};
        const int32_t ft2Heard[] = {4608, 4544}; // the nearer of C-4 and C#-4
        for (int32_t t = 0; t < 2; ++t) {
            tick();
            const int32_t sounding = channel(0).period - channel(0).periodDelta;
            EXPECT_EQ(channel(0).period, heard[t]);
            EXPECT_EQ(ft2() ? sounding : channel(0).period, ft2() ? ft2Heard[t] : heard[t])
                << profileName(id) << " tick " << t;
        }
    }
}

// A pattern loop leaves its row pending in FT2: once it is done, the next pattern starts at the
// loop's row. The demo starts it at row 0.
TEST_F(Ft2Position, NextPatternStartsAtTheLoopRow) {
    player.defaultTempo = 1;
    player.songLength = 2;
    player.orderTable[1] = 1;
    patterns[0].rowCount = 4;
    put(1, 0, 0, 0, 0, EXTENDED, 0x60);
    put(3, 0, 0, 0, 0, EXTENDED, 0x61);
    for (ProfileId id : bothProfiles) {
        begin(id);
        std::vector<int32_t> rows;
        for (int32_t t = 0; t < 8; ++t) {
            tick();
            rows.push_back(player.order * 100 + player.row);
        }
        const std::vector<int32_t> demoRows = {0, 1, 2, 3, 1, 2, 3, 100};
        const std::vector<int32_t> ft2Rows = {0, 1, 2, 3, 1, 2, 3, 101};
        EXPECT_EQ(rows, ft2() ? ft2Rows : demoRows) << profileName(id);
    }
    // A next pattern of one row: FT2 still starts it at row 1, past its end, which plays as an
    // empty row before the song moves on to the next order (here back to the start).
    patterns[1].rowCount = 1;
    cells[1][0] = Cell{noteC4, 1, 0, 0, 0};
    begin(ProfileId::Ft2);
    std::vector<int32_t> rows;
    for (int32_t t = 0; t < 9; ++t) {
        tick();
        rows.push_back(player.order * 100 + player.row);
    }
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 1, 2, 3, 1, 2, 3, 101, 0}));
    EXPECT_EQ(channel(0).period, 0); // pattern 1's row 0 never played
}

// Quiet notes: the demo truncates the voice level to whole units of 1/255, so volume 1 is silent
// and volume 2 6 dB low; FT2's levels keep 8 more bits.
TEST_F(Ft2Levels, QuietNotesKeepTheirLevel) {
    put(0, 0, noteC4, 1, 0x11); // volume 1
    put(0, 1, noteC4, 1, 0x12); // volume 2
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        const Voice& one = voiceOf(0);
        const Voice& two = voiceOf(1);
        if (ft2()) {
            // 1 / 64 x 127.5 x 256 = 510; centre panning 128: half of it to each side.
            EXPECT_EQ(one.voiceVolume, 510);
            EXPECT_EQ(one.leftTarget, 255);
            EXPECT_EQ(one.rightTarget, 255);
            EXPECT_EQ(two.voiceVolume, 1020);
        } else {
            EXPECT_EQ(one.voiceVolume, 1);
            EXPECT_EQ(one.leftTarget, 0);
            EXPECT_EQ(one.rightTarget, 0);
            EXPECT_EQ(two.voiceVolume, 3);
        }
    }
}

// The mixer's output for a fine-level voice equals the usual one of a level 256 times larger:
// a settled voice at fine target 256 x 100 adds what target 100 adds.
TEST_F(Ft2Levels, FineLevelsMixAsTheirWholeUnits) {
    std::vector<float> usual(2 * 64, 0.0f);
    std::vector<float> fine(2 * 64, 0.0f);
    for (int32_t i = 0; i < 2; ++i) {
        std::memset(player.mixer.voices, 0, sizeof player.mixer.voices);
        for (int32_t k = 0; k < sampleGuardValues + 1000; ++k)
            data[0][k] = static_cast<int16_t>(k * 30);
        Voice& v = player.mixer.voices[0];
        v.sample = &samples[0];
        v.stepWhole = 1;
        v.direction = DIRECTION_FORWARD;
        v.fineLevels = static_cast<uint8_t>(i);
        const int32_t unit = i == 1 ? 256 : 1;
        v.leftTarget = v.rampLeftTarget = 100 * unit;
        v.rightTarget = v.rampRightTarget = 50 * unit;
        v.leftLevel = v.leftTarget * 256;
        v.rightLevel = v.rightTarget * 256;
        mixVoices(player.mixer, i == 1 ? fine.data() : usual.data(), 64);
    }
    for (size_t k = 0; k < usual.size(); ++k) EXPECT_FLOAT_EQ(fine[k], usual[k]) << k;
    EXPECT_NE(usual[2], 0.0f);
}

// FT2's auto-vibrato moves its phase before reading it, so the first tick already bends; its
// sine makes a positive phase raise the pitch.
TEST_F(Ft2AutoVibrato, PhaseMovesBeforeItIsRead) {
    Instrument& in = instruments[0];
    in.autoVibratoDepth = 8;
    in.autoVibratoRate = 64;
    put(0, 0, noteC4, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        // FT2: phase 64, wave -64, amplitude 8 << 8: (-64 x 2048) >> 14 = -8 period units.
        EXPECT_EQ(channel(0).periodDelta, ft2() ? 8 : 0) << profileName(id);
        tick();
        // Phase 128: 0 in FT2; the demo reads phase 64 now: 8 x 63 >> 6 = 7.
        EXPECT_EQ(channel(0).periodDelta, ft2() ? 0 : 7) << profileName(id);
    }
}

// FT2 sweeps the amplitude in by (depth << 8) / sweep per tick from the first tick on and
// holds it after key-off, when only the step itself is heard.
TEST_F(Ft2AutoVibrato, SweepStepsAndStopsAtRelease) {
    Instrument& in = instruments[0];
    in.autoVibratoDepth = 8;
    in.autoVibratoSweep = 4;
    in.autoVibratoRate = 64;
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    begin(ProfileId::Ft2);
    const int32_t expected[] = {512, 1024, 1536, 2048, 2048};
    for (int32_t amplitude : expected) {
        tick();
        EXPECT_EQ(channel(0).autoVibratoAmplitude, amplitude);
    }
    put(0, 0, noteC4, 1, 0, KEY_OFF_EFFECT, 1); // released on tick 1
    begin(ProfileId::Ft2);
    tick(2);
    EXPECT_EQ(channel(0).autoVibratoAmplitude, 512);
    // Phase 128 on tick 1 reads 0; on tick 2 phase 192 reads 64 at the step's amplitude 512:
    // (64 x 512) >> 14 = 2 period units down, a pitch 2 up on the linear table.
    tick();
    EXPECT_EQ(channel(0).periodDelta, -2);
    tick(2);
    EXPECT_EQ(channel(0).autoVibratoAmplitude, 512);
    begin(ProfileId::Demo);
    tick(3);
    EXPECT_EQ(channel(0).autoVibratoSweepCounter, 3);
}

// G on channel 1: FT2 gives the new global volume to channel 1 and the channels to its right at
// once; channel 0, to its left and without envelope, keeps the old one until its volume is next
// updated. The demo refreshes every channel on each row tick.
TEST_F(Ft2GlobalVolume, ChannelsLeftOfGKeepTheOldVolume) {
    put(0, 0, noteC4, 1);
    put(0, 1, noteC4, 1);
    put(0, 2, noteC4, 1);
    put(1, 1, 0, 0, 0, GLOBAL_VOLUME, 0x20);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        const int32_t half = ft2() ? 12240 : 47;
        const int32_t full = ft2() ? volume48Fine : volume48Demo;
        EXPECT_EQ(voiceOf(0).voiceVolume, full);
        EXPECT_EQ(voiceOf(1).voiceVolume, half);
        EXPECT_EQ(voiceOf(2).voiceVolume, half);
        tick(6);
        EXPECT_EQ(voiceOf(0).voiceVolume, ft2() ? full : half) << profileName(id);
        tick(6 * 4);
        EXPECT_EQ(voiceOf(0).voiceVolume, ft2() ? full : half) << profileName(id);
    }
}

// On the Amiga table FT2 takes its periods from its own table, 1/16 semitone a step; the demo's
// formula interpolates the finetune and truncates. FT2's numbers for a handful of notes.
TEST_F(Ft2Profile, AmigaNotesTakeFt2sTable) {
    struct Case {
        int32_t note;
        int32_t finetune;
        int32_t demo;
        int32_t ft2;
    };
    const Case cases[] = {
        {48, 0, 1712, 1712},     // C-4
        {60, 0, 856, 856},       // C-5
        {62, 0, 762, 762},       // D-5, the MOD format's period
        {48, 127, 1616, 1622},   // 15/16 semitone up
        {48, -1, 1712, 1718},    // any negative finetune is at least one step down
        {48, -9, 1719, 1724},    // two steps
        {48, -128, 1813, 1814},  // a whole semitone down, B-3
        {0, 0, 27392, 27392},    // C-0
        {0, -128, 28930, 29024}, // the table's first entry
        {65, 16, 637, 636},      // F-5 an eighth up: FT2 has 636 where rounding gives 637
        {95, -128, 120, 120},    // B-7 a semitone down
        {118, 127, 29, 22},      // the top note FT2 plays, half way into what lies past the table
        {119, 0, 28, 16},        // past the table; reached only as a tone-portamento target
    };
    player.flags = 0;
    for (const Case& c : cases) {
        for (ProfileId id : bothProfiles) {
            setReplayProfile(&player, id);
            EXPECT_EQ(notePeriodFor(&player, c.note, c.finetune), ft2() ? c.ft2 : c.demo)
                << profileName(id) << " note " << c.note << " finetune " << c.finetune;
        }
    }
}

// A sample tuned five sixteenths of a semitone flat (finetune -80): FT2 plays C-4 at period 1774
// of its table (8070 Hz), the demo's formula at 1775 (8065 Hz).
TEST_F(Ft2Profile, AmigaNoteOfAFlatSample) {
    player.flags = 0;
    samples[0].finetune = -80;
    put(0, 0, noteC4, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).period, ft2() ? 1774 : 1775) << profileName(id);
        EXPECT_EQ(voiceOf(0).frequency, ft2() ? 8070 : 8065) << profileName(id);
    }
}

// C-4 on the Amiga table, period 1712. FT2's step is 8363 x 1712 / 1712 as 16.16 at 44100 Hz,
// rounded down to 12428/65536: 8362.96 Hz (reported as 8363). The demo's clock of 14317056
// gives 8362.77 Hz, truncated to 8362.
TEST_F(Ft2Profile, AmigaC4TakesFt2sStep) {
    player.flags = 0;
    put(0, 0, noteC4, 1);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).period, 1712) << profileName(id);
        EXPECT_EQ(voiceOf(0).frequency, ft2() ? 8363 : 8362) << profileName(id);
        EXPECT_EQ(voiceOf(0).stepWhole, 0);
        EXPECT_EQ(voiceOf(0).stepFraction, ft2() ? 12428u << 16 : (8362ull << 32) / 44100)
            << profileName(id);
    }
}

// Arpeggio off the note grid on the Amiga table: FT2 snaps the playing period (1692 after E15)
// to the nearest note of its table, C-4, and plays E-4 of the table for x = 4; the demo adds the
// difference of its formula's periods to the period as it is.
TEST_F(Ft2Profile, AmigaArpeggioPlaysNotesOfFt2sTable) {
    player.flags = 0;
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x15);
    put(1, 0, 0, 0, 0, ARPEGGIO, 0x40);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        EXPECT_EQ(channel(0).period, 1692);
        tick(); // tick 1: the demo's x offset; FT2's counter 5 gives y (0), the snapped C-4
        EXPECT_EQ(channel(0).period + channel(0).periodDelta, ft2() ? 1712 : 1692 - 354)
            << profileName(id);
        tick(); // tick 2: the demo's y offset (0); FT2's counter 4 gives x, E-4
        EXPECT_EQ(channel(0).period + channel(0).periodDelta, ft2() ? 1356 : 1692)
            << profileName(id);
    }
}

// E31 with a tone portamento on the Amiga table: FT2 sounds the nearest note of its table, C-4
// up to and including the half-semitone point 1664, then C#-4 (1616); the demo slides smoothly.
TEST_F(Ft2Profile, AmigaGlissandoSnapsToFt2sTable) {
    player.flags = 0;
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x31);
    put(1, 0, noteC4 + 12, 0, 0, TONE_PORTA, 0x06); // 24 periods a tick towards C-5 (856)
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(7);
        const int32_t periods[] = {1688, 1664, 1640};
        const int32_t ft2Heard[] = {1712, 1712, 1616};
        for (int32_t t = 0; t < 3; ++t) {
            tick();
            EXPECT_EQ(channel(0).period, periods[t]);
            EXPECT_EQ(channel(0).period + channel(0).periodDelta, ft2() ? ft2Heard[t] : periods[t])
                << profileName(id) << " tick " << t + 1;
        }
    }
}

// E93 on a note whose volume envelope falls from 64 to 0 over 4 ticks, at volume 32: FT2's
// retrigger on tick 3 starts the envelope over (64, then 48) and keeps the volume; the demo's
// envelope runs on (16, then 0).
TEST_F(Ft2Retrigger, E9yStartsTheEnvelopeOverAndKeepsTheVolume) {
    setVolumeEnvelope(0, {{0, 64}, {4, 0}}, 1);
    put(0, 0, noteC4, 1, 0x30, EXTENDED, 0x93);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(4);
        EXPECT_NE(channel(0).updateFlags & UPDATE_TRIGGER, 0) << profileName(id);
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 64 : 16) << profileName(id);
        EXPECT_EQ(channel(0).volume, 32) << profileName(id);
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 48 : 0) << profileName(id);
    }
}

// A key-off, then E92 on the next row: FT2's retrigger takes the release back and fills the
// fadeout again; the demo's note stays released and has faded for 9 ticks.
TEST_F(Ft2Retrigger, E9yTakesTheReleaseBack) {
    instruments[0].fadeout = 1024;
    setVolumeEnvelope(0, {{0, 64}, {100, 64}}, 1);
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    put(2, 0, 0, 0, 0, EXTENDED, 0x92);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 * 2 + 3);
        EXPECT_EQ(channel(0).keyOff, ft2() ? 0 : 1) << profileName(id);
        EXPECT_EQ(channel(0).fadeoutVolume, ft2() ? 65536 : 65536 - 9 * 1024) << profileName(id);
    }
}

// A slide up by 8 period units a tick on row 0, then E92 on row 1: FT2 starts the note at its
// own period again; the demo restarts the sample at the slid pitch.
TEST_F(Ft2Retrigger, RetriggerPlaysTheNotesOwnPeriod) {
    put(0, 0, noteC4, 1, 0, PORTA_UP, 0x02);
    put(1, 0, 0, 0, 0, EXTENDED, 0x92);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 3);
        EXPECT_NE(channel(0).updateFlags & UPDATE_TRIGGER, 0) << profileName(id);
        EXPECT_EQ(channel(0).period, ft2() ? 4608 : 4608 - 5 * 8) << profileName(id);
    }
}

// Rxy at tempo 6. Channel 0, R02 on rows 1 and 2 after a slide: FT2's own counter retriggers on
// every second tick across the rows (row tick included), at the note's own period; the demo on
// the other ticks whose number is even. Channel 1, C4 (panning) and R62: the volume column
// leaves a value on the row tick, so FT2 counts from tick 1 and retriggers on tick 2 with its mode
// 6 (48 to 33); the demo takes 2/3 (32). Channel 2, C0 leaves 0: FT2 counts the row tick and
// retriggers on tick 1.
TEST_F(Ft2Retrigger, MultiRetrigCountsItsOwnTicks) {
    put(0, 0, noteC4, 1, 0, PORTA_UP, 0x02);
    put(1, 0, 0, 0, 0, MULTI_RETRIG, 0x02);
    put(2, 0, 0, 0, 0, MULTI_RETRIG, 0x02);
    put(1, 1, noteC4, 1, 0xC4, MULTI_RETRIG, 0x62);
    put(1, 2, noteC4, 1, 0xC0, MULTI_RETRIG, 0x02);
    for (ProfileId id : bothProfiles) {
        begin(id);
        std::vector<int32_t> triggers[3];
        for (int32_t t = 0; t < 18; ++t) {
            tick();
            for (int32_t c = 0; c < 3; ++c)
                if ((channel(c).updateFlags & UPDATE_TRIGGER) != 0) triggers[c].push_back(t);
            if (t == 7) {
                EXPECT_EQ(channel(0).period, ft2() ? 4608 : 4608 - 5 * 8) << profileName(id);
            }
            if (t == 8) {
                EXPECT_EQ(channel(1).volume, ft2() ? 33 : 32) << profileName(id);
            }
        }
        const std::vector<int32_t> ft2Rows12 = {0, 7, 9, 11, 13, 15, 17};
        const std::vector<int32_t> demoRows12 = {0, 8, 10, 14, 16};
        EXPECT_EQ(triggers[0], ft2() ? ft2Rows12 : demoRows12) << profileName(id);
        const std::vector<int32_t> ft2Row1 = {6, 8, 10};
        const std::vector<int32_t> ft2Row1Counted = {6, 7, 9, 11};
        const std::vector<int32_t> demoRow1 = {6, 8, 10};
        EXPECT_EQ(triggers[1], ft2() ? ft2Row1 : demoRow1) << profileName(id);
        EXPECT_EQ(triggers[2], ft2() ? ft2Row1Counted : demoRow1) << profileName(id);
    }
}

// E90 on a row without note: FT2 starts the last note again on the row tick; for the demo E90
// does nothing. A channel that never had a note starts nothing in either.
TEST_F(Ft2Retrigger, E90RetriggersTheLastNoteOnTheRowTick) {
    put(0, 0, noteC4, 1, 0, PORTA_UP, 0x02);
    put(1, 0, 0, 0, 0, EXTENDED, 0x90);
    put(1, 1, 0, 0, 0, EXTENDED, 0x90);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 1);
        EXPECT_EQ((channel(0).updateFlags & UPDATE_TRIGGER) != 0, ft2()) << profileName(id);
        EXPECT_EQ(channel(0).period, ft2() ? 4608 : 4608 - 5 * 8) << profileName(id);
        EXPECT_EQ(channel(1).updateFlags & UPDATE_TRIGGER, 0) << profileName(id);
    }
}

// Channel 0: B-7 of a sample 24 semitones up lands past B-9. FT2 starts nothing: C-4 plays on,
// and the instrument number brings back the volume and panning of C-4's sample (48, 128), not
// those of the new one (20, 200). The demo starts the note at period 64.
// Channel 1: C-0 of a sample one semitone down lands on B-(-1). FT2 starts the sample at the
// period playing (C-4's 4608); the demo wraps the note to 255 and plays period -8640.
TEST_F(Ft2NoteRange, NotesPushedOutOfRangeDoNotStart) {
    samples[2].relativeNote = 24;
    samples[2].volume = 20;
    samples[2].panning = 200;
    samples[1].relativeNote = -1;
    put(0, 0, noteC4, 1);
    put(0, 1, noteC4, 1);
    put(1, 0, 96, 3);
    put(1, 1, 1, 2);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 1);
        EXPECT_EQ((channel(0).updateFlags & UPDATE_TRIGGER) != 0, !ft2()) << profileName(id);
        EXPECT_EQ(channel(0).period, ft2() ? 4608 : 64) << profileName(id);
        EXPECT_EQ(channel(0).volume, ft2() ? 48 : 20) << profileName(id);
        EXPECT_EQ(channel(0).panning, ft2() ? 128 : 200) << profileName(id);
        EXPECT_NE(channel(1).updateFlags & UPDATE_TRIGGER, 0) << profileName(id);
        EXPECT_EQ(channel(1).period, ft2() ? 4608 : -8640) << profileName(id);
        EXPECT_EQ(channel(1).volume, 32) << profileName(id);
    }
}

// L0C on a volume envelope from 64 down to 0 at tick 12, looping from point 0 to point 1: FT2
// takes the row tick's step at the loop end and loops at once (64, then 58); the demo stands on
// the loop end first (0) and loops a tick later (64).
TEST_F(Ft2Envelopes, SetEnvelopePositionOnTheLoopEndLoopsAtOnce) {
    setVolumeEnvelope(0, {{0, 64}, {12, 0}, {84, 36}}, 5);
    instruments[0].volumeLoopStart = 0;
    instruments[0].volumeLoopEnd = 1;
    put(0, 0, noteC4, 1, 0, ENVELOPE_POSITION, 0x0C);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 64 : 0) << profileName(id);
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, ft2() ? 58 : 64) << profileName(id);
    }
}

// L30 (48) with a panning envelope that jumps from 32 to 63 at tick 48. Instrument 1's volume
// envelope has its sustain bit, instrument 2's has not: FT2 moves the panning envelope of
// instrument 1 only (63 at once); the demo's L never moves a panning envelope.
TEST_F(Ft2Envelopes, SetEnvelopePositionMovesPanningOnlyWithVolumeSustain) {
    const EnvelopePoint panning[] = {{0, 32}, {47, 32}, {48, 63}, {69, 63}};
    for (int32_t k = 0; k < 2; ++k) {
        setVolumeEnvelope(k, {{0, 64}, {10, 64}, {100, 64}}, k == 0 ? 3 : 1);
        Instrument& in = instruments[k];
        for (int32_t i = 0; i < 4; ++i) in.panningEnvelope[i] = panning[i];
        in.panningPointCount = 4;
        in.volumeSustain = 1;
        in.panningType = in.panningTypeAsRead = 1;
    }
    put(0, 0, noteC4, 1, 0, ENVELOPE_POSITION, 0x30);
    put(0, 1, noteC4, 2, 0, ENVELOPE_POSITION, 0x30);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(2);
        EXPECT_EQ(channel(0).panningEnvelopeOutput, ft2() ? 63 : 32) << profileName(id);
        EXPECT_EQ(channel(1).panningEnvelopeOutput, 32) << profileName(id);
        EXPECT_EQ(channel(1).volumeEnvelopeOutput, 64) << profileName(id);
    }
}

// D00 on channel 0 and a pattern loop jump (E61) on channel 1 of the same row: the later loop
// row wins, so the next pattern starts at row 1 in both profiles. In FT2 that change of pattern
// uses up the loop's pending row, and the pattern after it starts at row 0 again.
TEST_F(Ft2Position, BreakOnTheLoopingRowUsesUpThePendingRow) {
    player.defaultTempo = 1;
    player.songLength = 3;
    player.orderTable[1] = 1;
    player.orderTable[2] = 2;
    for (int32_t p = 0; p < 3; ++p) patterns[p].rowCount = 4;
    put(1, 1, 0, 0, 0, EXTENDED, 0x60);
    put(2, 0, 0, 0, 0, PATTERN_BREAK, 0x00);
    put(2, 1, 0, 0, 0, EXTENDED, 0x61);
    for (ProfileId id : bothProfiles) {
        begin(id);
        std::vector<int32_t> rows;
        for (int32_t t = 0; t < 8; ++t) {
            tick();
            rows.push_back(player.order * 100 + player.row);
        }
        const std::vector<int32_t> expected = {0, 1, 2, 101, 102, 103, 200, 201};
        EXPECT_EQ(rows, expected) << profileName(id);
    }
}

// C-4 of instrument 1 on row 0, then instrument 2 without a note on row 1, with E92 on channel 0
// and ED2 on channel 1. FT2 starts C-4 on tick 2 with instrument 2's sample, 12 semitones up
// (period 3840); the retrigger keeps the volume that instrument 1's number gave back (48), the
// delayed note takes instrument 2's (32, panning 64). The demo switches the instrument on the row
// tick and starts it at the period already playing.
TEST_F(Ft2Retrigger, RetriggerAndDelayTakeTheLastInstrumentNumber) {
    put(0, 0, noteC4, 1);
    put(0, 1, noteC4, 1);
    put(1, 0, 0, 2, 0, EXTENDED, 0x92);
    put(1, 1, 0, 2, 0, EXTENDED, 0xD2);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 3);
        for (int32_t c = 0; c < 2; ++c) {
            EXPECT_NE(channel(c).updateFlags & UPDATE_TRIGGER, 0) << profileName(id) << c;
            EXPECT_EQ(channel(c).instrument, 1) << profileName(id) << c;
            EXPECT_EQ(channel(c).period, ft2() ? 3840 : 4608) << profileName(id) << c;
            EXPECT_EQ(voiceOf(c).sample, &samples[1]) << profileName(id) << c;
        }
        EXPECT_EQ(channel(0).volume, ft2() ? 48 : 32) << profileName(id);
        EXPECT_EQ(channel(1).volume, 32) << profileName(id);
        EXPECT_EQ(channel(1).panning, 64) << profileName(id);
    }
}

// Channel 0: C-4 with E5F, then E92. FT2 tunes only that note (112, 14 steps of 1/16 semitone:
// 4552) and the retrigger plays the sample's own finetune (4608); the demo's E5F tunes the
// sample for later notes only, so C-4 and its retrigger play 4608. Channel 1: C-4, a tone
// portamento to E-4 that arrives on tick 1, then E92: FT2 goes back to the note last started
// (4608), the demo restarts at E-4 (4352).
TEST_F(Ft2Retrigger, RetriggerForgetsE5yAndThePortamentoTarget) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x5F);
    put(1, 0, 0, 0, 0, EXTENDED, 0x92);
    put(0, 1, noteC4, 3);
    put(1, 1, noteC4 + 4, 0, 0, TONE_PORTA, 0xFF);
    put(2, 1, 0, 0, 0, EXTENDED, 0x92);
    for (ProfileId id : bothProfiles) {
        samples[0].finetune = 0; // the demo's E5y stays in the sample
        begin(id);
        tick(1);
        EXPECT_EQ(channel(0).period, ft2() ? 4552 : 4608) << profileName(id);
        tick(6 + 2);
        EXPECT_NE(channel(0).updateFlags & UPDATE_TRIGGER, 0) << profileName(id);
        EXPECT_EQ(channel(0).period, 4608) << profileName(id);
        EXPECT_EQ(samples[0].finetune, ft2() ? 0 : 15) << profileName(id);
        tick(2);
        EXPECT_EQ(channel(1).period, 4352) << profileName(id);
        tick(4);
        EXPECT_NE(channel(1).updateFlags & UPDATE_TRIGGER, 0) << profileName(id);
        EXPECT_EQ(channel(1).period, ft2() ? 4608 : 4352) << profileName(id);
    }
}

// C-4, then E-4 with volume-column F8 and E90. FT2 starts E-4 on the row tick (4352) and its Fx
// takes no new target or speed, so the pitch stays; the demo's volume-column portamento takes
// the note's period at once without starting the sample, and the old FT2 rule held C-4 and slid.
TEST_F(Ft2Retrigger, E90WithVolumeColumnPortamentoStartsTheNote) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 4, 0, 0xF8, EXTENDED, 0x90);
    for (ProfileId id : bothProfiles) {
        begin(id);
        tick(6 + 1);
        EXPECT_EQ((channel(0).updateFlags & UPDATE_TRIGGER) != 0, ft2()) << profileName(id);
        EXPECT_EQ(channel(0).period, 4352) << profileName(id);
        EXPECT_EQ(channel(0).portaSpeed, ft2() ? 0 : 128) << profileName(id);
        tick(5);
        EXPECT_EQ(channel(0).period, 4352) << profileName(id);
    }
}

} // namespace
} // namespace music::testing
