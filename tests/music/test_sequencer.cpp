// Sequencer tests: song position, tick lengths, notes and instruments, periods, envelopes,
// fadeout, volume column, auto-vibrato and the guards against positions outside the song data.
#include "sequencer_fixture.h"

#include "music/channel.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace music::testing {
namespace {

using SequencerPosition = SongTest;
using SequencerNotes = SongTest;
using SequencerEnvelopes = SongTest;
using SequencerVolumeColumn = SongTest;
using SequencerGuards = SongTest;

// The first call reads row 0 of order 0; with tempo 7 the row lasts seven calls and the next
// row is read on the eighth.
TEST_F(SequencerPosition, FirstCallReadsRowZeroAndTempoSetsRowLength) {
    player.defaultTempo = 7;
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 1);
    start();
    tick();
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.order, 0);
    EXPECT_EQ(channel(0).note, 48);
    EXPECT_EQ(player.nextRow, 1);
    EXPECT_EQ(player.nextOrder, -1);
    for (int32_t call = 2; call <= 7; ++call) {
        EXPECT_EQ(player.tick, call - 1);
        tick();
        EXPECT_EQ(player.row, 0) << "call " << call;
    }
    EXPECT_EQ(player.tick, 0);
    tick();
    EXPECT_EQ(player.row, 1);
    EXPECT_EQ(channel(0).note, 49);
}

// Tempo 0 makes every tick a row tick.
TEST_F(SequencerPosition, TempoZeroReadsARowEveryTick) {
    player.defaultTempo = 0;
    start();
    for (int32_t call = 0; call < 5; ++call) {
        tick();
        EXPECT_EQ(player.row, call);
        EXPECT_EQ(player.tick, 0);
    }
}

// After the last row of the last order the song goes on at the restart position, row 0; a
// restart position the order list does not hold starts over at order 0.
TEST_F(SequencerPosition, LastOrderWrapsToRestartPosition) {
    player.defaultTempo = 1;
    player.songLength = 3;
    player.restartPosition = 1;
    player.orderTable[0] = 0;
    player.orderTable[1] = 1;
    player.orderTable[2] = 2;
    for (int32_t p = 0; p < 3; ++p) patterns[p].rowCount = 2;
    start();
    const int32_t expectedOrders[] = {0, 0, 1, 1, 2, 2, 1, 1, 2, 2, 1};
    for (int32_t expected : expectedOrders) {
        tick();
        EXPECT_EQ(player.order, expected);
    }
    EXPECT_EQ(player.row, 0);

    player.restartPosition = 7;
    start();
    tick(6);
    EXPECT_EQ(player.order, 2);
    EXPECT_EQ(player.nextOrder, 0);
}

// BPM to frames per tick at 44100 Hz, truncated single-precision arithmetic.
TEST(SequencerTempo, SamplesPerTickFromBpm) {
    // 33 and 100 have fractions of .9 and .5: truncated, not rounded.
    const int32_t table[][2] = {{32, 3445}, {125, 882}, {128, 861}, {132, 835},
                                {208, 530}, {255, 432}, {33, 3340}, {100, 1102}};
    for (const auto& entry : table) {
        Player player{};
        setBpm(&player, entry[0]);
        EXPECT_EQ(player.bpm, entry[0]);
        EXPECT_EQ(player.samplesPerTick, entry[1]) << "bpm " << entry[0];
    }
    EXPECT_GT(samplesPerTickForBpm(0, defaultSampleRateHz), 0);
}

// Amiga periods with the finetune interpolated between neighbouring semitones.
TEST(SequencerPeriods, AmigaPeriodValues) {
    EXPECT_EQ(amigaPeriod(48, 0), 1712);
    EXPECT_EQ(amigaPeriod(48, 127), 1616);
    EXPECT_EQ(amigaPeriod(48, -128), 1813);
    EXPECT_EQ(amigaPeriod(60, 0), 856);
    EXPECT_EQ(amigaPeriod(0, 0), 27392);
    EXPECT_EQ(amigaPeriod(95, 0), 113);
    // Note 0 with a negative finetune extrapolates from the semitone above: 27392 + 64 * (27392
    // - 25854) / 128.
    EXPECT_EQ(amigaPeriod(0, -64), 28161);
}

// Linear periods: C-4 is 4608 and plays at 8363 Hz; finetune moves it by half its value,
// truncated toward zero.
TEST_F(SequencerNotes, LinearPeriodsWithFinetune) {
    put(0, 0, noteC4, 1);
    start();
    tick();
    EXPECT_EQ(channel(0).period, 4608);
    EXPECT_EQ(voiceOf(0).frequency, 8363);

    samples[0].finetune = -3;
    start();
    tick();
    EXPECT_EQ(channel(0).period, 4609);

    samples[0].finetune = 3;
    start();
    tick();
    EXPECT_EQ(channel(0).period, 4607);

    // The relative note shifts the period by whole semitones.
    put(0, 0, noteC4, 2);
    start();
    tick();
    EXPECT_EQ(channel(0).realNote, 60);
    EXPECT_EQ(channel(0).period, 4608 - 12 * 64);
}

// On the Amiga table a C-4 is period 1712.
TEST_F(SequencerNotes, AmigaTableNote) {
    player.flags = 0;
    put(0, 0, noteC4, 1);
    start();
    tick();
    EXPECT_EQ(channel(0).period, 1712);
    EXPECT_EQ(voiceOf(0).frequency, 14317056 / 1712);
}

// A negative finetune on the Amiga table moves the period toward the semitone below by |f| / 128
// of the gap, truncated: C-4 (1712, 1813 one below) and C#4 (1615, 1712 one below) with
// finetunes -1, -64 and -128.
TEST_F(SequencerNotes, AmigaTableNegativeFinetune) {
    player.flags = 0;
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 1, 0);
    struct Case {
        int8_t finetune;
        int32_t c4;
        int32_t cSharp4;
    };
    const Case cases[] = {{-1, 1712, 1615}, {-64, 1762, 1663}, {-128, 1813, 1712}};
    for (const Case& c : cases) {
        samples[0].finetune = c.finetune;
        start();
        tick();
        EXPECT_EQ(channel(0).period, c.c4) << int(c.finetune);
        EXPECT_EQ(voiceOf(0).frequency, 14317056 / c.c4) << int(c.finetune);
        tick(6);
        EXPECT_EQ(channel(0).period, c.cSharp4) << int(c.finetune);
    }
}

// A note with an instrument triggers and resets; a later note without one triggers again with
// the volume the channel had, and the old note fades on the partner-swapped voice.
TEST_F(SequencerNotes, NoteWithAndWithoutInstrument) {
    put(0, 0, noteC4, 1);
    put(1, 0, 0, 0, 0x10 + 20);
    put(2, 0, noteC4 + 2);
    start();
    tick();
    EXPECT_EQ(channel(0).volume, 48);
    EXPECT_EQ(channel(0).panning, 128);
    EXPECT_EQ(channel(0).fadeoutVolume, 65536);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
    EXPECT_EQ(voiceOf(0).sample, &samples[0]);
    EXPECT_EQ(voiceOf(0).voiceVolume, 95);
    tick(6);
    EXPECT_EQ(channel(0).volume, 20);
    tick(6);
    EXPECT_EQ(player.row, 2);
    EXPECT_EQ(channel(0).volume, 20);
    EXPECT_EQ(channel(0).period, 4608 - 2 * 64);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[32]);
    EXPECT_EQ(voiceOf(0).sample, &samples[0]);
    EXPECT_EQ(player.mixer.voices[0].voiceVolume, 0);
}

// An instrument number without a note resets volume and panning from the sample the new
// instrument maps the last note to, and does not restart the sample.
TEST_F(SequencerNotes, InstrumentWithoutNoteResetsWithoutTrigger) {
    put(0, 0, noteC4, 1, 0x10 + 10);
    put(1, 0, 0, 2);
    start();
    tick(6);
    EXPECT_EQ(channel(0).volume, 10);
    tick();
    EXPECT_EQ(channel(0).instrument, 1);
    EXPECT_EQ(channel(0).volume, 32);
    EXPECT_EQ(channel(0).panning, 64);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
    EXPECT_EQ(voiceOf(0).sample, &samples[0]);
    EXPECT_EQ(channel(0).updateFlags & UPDATE_TRIGGER, 0);
}

// A key-off releases the note; without a volume envelope it is cut. A note without an
// instrument on the released channel stays released and silent; with an instrument number the
// key-off note resets and releases on the same tick.
TEST_F(SequencerNotes, ReleasedChannel) {
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    put(2, 0, noteC4);
    put(3, 0, KEY_OFF, 1);
    start();
    tick(6);
    EXPECT_EQ(channel(0).keyOff, 0);
    tick();
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 0);
    EXPECT_EQ(voiceOf(0).voiceVolume, 0);
    tick(6);
    EXPECT_EQ(player.row, 2);
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(voiceOf(0).sample, &samples[0]);
    EXPECT_EQ(voiceOf(0).voiceVolume, 0);
    tick(6);
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(channel(0).volume, 48);
    EXPECT_EQ(channel(0).fadeoutVolume, 65536);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 0);
}

// A channel that never had an instrument plays instrument index 0 at volume 0: silence.
TEST_F(SequencerNotes, NoteOnChannelThatNeverHadAnInstrument) {
    put(0, 1, noteC4);
    start();
    tick();
    EXPECT_EQ(channel(1).instrument, 0);
    EXPECT_EQ(voiceOf(1).sample, &samples[0]);
    EXPECT_EQ(channel(1).volume, 0);
    EXPECT_EQ(voiceOf(1).voiceVolume, 0);
}

// A tone-portamento row with a note and an instrument number: no retrigger, note and instrument
// stay, the target uses the playing sample's relative note, the reset restores that sample's
// default volume and panning.
TEST_F(SequencerNotes, TonePortamentoRowWithNoteAndInstrument) {
    put(0, 0, noteC4, 1, 0x10 + 5);
    put(1, 0, noteC4 + 4, 2, 0, TONE_PORTA, 0x10);
    start();
    tick(6);
    EXPECT_EQ(channel(0).volume, 5);
    tick();
    EXPECT_EQ(channel(0).note, 48);
    EXPECT_EQ(channel(0).instrument, 0);
    EXPECT_EQ(channel(0).notePeriod, 4608 - 4 * 64);
    EXPECT_EQ(channel(0).portaTarget, 4608 - 4 * 64);
    EXPECT_EQ(channel(0).period, 4608);
    EXPECT_EQ(channel(0).volume, 48);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
    EXPECT_EQ(channel(0).updateFlags & UPDATE_TRIGGER, 0);
    tick();
    EXPECT_EQ(channel(0).period, 4608 - 64);
    tick(3);
    EXPECT_EQ(channel(0).period, 4608 - 256);
}

// Global volume set by channel 3 reaches channels 0..2 only on the next tick on which they
// raise UPDATE_VOLUME (here the next row tick).
TEST_F(SequencerNotes, GlobalVolumeReachesEarlierChannelsLater) {
    for (int32_t c = 0; c < 4; ++c) put(0, c, noteC4, 1);
    put(1, 3, 0, 0, 0, GLOBAL_VOLUME, 32);
    start();
    tick(7);
    EXPECT_EQ(player.globalVolume, 32);
    EXPECT_EQ(voiceOf(3).voiceVolume, 47);
    for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(voiceOf(c).voiceVolume, 95);
    tick(5);
    for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(voiceOf(c).voiceVolume, 95);
    tick();
    for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(voiceOf(c).voiceVolume, 47);
}

// A sustained volume envelope: it interpolates to the sustain point and holds there; on the
// key-off row tick it moves on at once and the fadeout starts on that tick; it then ends at the
// last point and stays there.
TEST_F(SequencerEnvelopes, SustainReleaseAndEnd) {
    Instrument& in = instruments[0];
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {4, 32};
    in.volumeEnvelope[2] = {8, 0};
    in.volumePointCount = 3;
    in.volumeSustain = 1;
    in.volumeType = 1 | 2;
    in.fadeout = 1000;
    put(0, 0, noteC4, 1);
    put(2, 0, KEY_OFF);
    start();
    const int32_t held[] = {64, 56, 48, 40, 32, 32, 32, 32, 32, 32, 32, 32};
    for (int32_t expected : held) {
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, expected);
        EXPECT_EQ(channel(0).fadeoutVolume, 65536);
    }
    const int32_t released[] = {32, 24, 16, 8, 0, 0, 0};
    for (int32_t k = 0; k < 7; ++k) {
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, released[k]);
        EXPECT_EQ(channel(0).fadeoutVolume, 65536 - 1000 * (k + 1));
    }
    EXPECT_EQ(channel(0).volumeEnvelopeDone, 1);
}

// A loop ending on the last point never lets the envelope end, also after key-off.
TEST_F(SequencerEnvelopes, LoopAtLastPointNeverEnds) {
    Instrument& in = instruments[0];
    in.volumeEnvelope[0] = {0, 0};
    in.volumeEnvelope[1] = {2, 64};
    in.volumeEnvelope[2] = {4, 32};
    in.volumePointCount = 3;
    in.volumeLoopStart = 1;
    in.volumeLoopEnd = 2;
    in.volumeType = 1 | 4;
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    start();
    const int32_t expected[] = {0, 32, 64, 48, 64, 48, 64, 48, 64, 48};
    for (int32_t value : expected) {
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, value);
    }
    tick(40);
    EXPECT_EQ(channel(0).volumeEnvelopeDone, 0);
    EXPECT_EQ(channel(0).keyOff, 1);
}

// An envelope without sustain reaches its last point and keeps that value until the next reset;
// a panning envelope runs the same way and raises UPDATE_PANNING.
TEST_F(SequencerEnvelopes, EndedEnvelopeHoldsLastValue) {
    Instrument& in = instruments[0];
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {3, 16};
    in.volumePointCount = 2;
    in.volumeType = 1;
    in.panningEnvelope[0] = {0, 32};
    in.panningEnvelope[1] = {2, 64};
    in.panningPointCount = 2;
    in.panningType = 1;
    put(0, 0, noteC4, 1);
    put(8, 0, noteC4, 1);
    start();
    const int32_t volumes[] = {64, 48, 32, 16, 16, 16};
    const int32_t pannings[] = {32, 48, 64, 64, 64, 64};
    for (int32_t k = 0; k < 6; ++k) {
        tick();
        EXPECT_EQ(channel(0).volumeEnvelopeOutput, volumes[k]);
        EXPECT_EQ(channel(0).panningEnvelopeOutput, pannings[k]);
    }
    EXPECT_EQ(channel(0).volumeEnvelopeDone, 1);
    EXPECT_EQ(channel(0).volumeEnvelopeTick, 3);
    EXPECT_EQ(channel(0).updateFlags & UPDATE_PANNING, 0);
    tick(8 * 6 + 1 - 6);
    EXPECT_EQ(player.row, 8);
    EXPECT_EQ(channel(0).volumeEnvelopeDone, 0);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 64);
}

// A released note of an instrument with fadeout 0 and a volume envelope keeps sounding at the
// envelope's level.
TEST_F(SequencerEnvelopes, FadeoutZeroWithEnvelopeKeepsSounding) {
    Instrument& in = instruments[0];
    in.volumeEnvelope[0] = {0, 32};
    in.volumeEnvelope[1] = {10, 32};
    in.volumePointCount = 2;
    in.volumeType = 1;
    put(0, 0, noteC4, 1);
    put(1, 0, KEY_OFF);
    start();
    tick(30);
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(channel(0).fadeoutVolume, 65536);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 32);
    EXPECT_EQ(voiceOf(0).voiceVolume, 47);
}

// The fadeout falls by the instrument's value per tick and stops at 0.
TEST_F(SequencerEnvelopes, FadeoutFloorsAtZero) {
    Instrument& in = instruments[0];
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {10, 64};
    in.volumePointCount = 2;
    in.volumeType = 1;
    in.fadeout = 30000;
    put(0, 0, noteC4, 1, 0, KEY_OFF_EFFECT, 0);
    start();
    tick();
    EXPECT_EQ(channel(0).fadeoutVolume, 35536);
    tick();
    EXPECT_EQ(channel(0).fadeoutVolume, 5536);
    tick();
    EXPECT_EQ(channel(0).fadeoutVolume, 0);
    EXPECT_EQ(voiceOf(0).voiceVolume, 0);
}

// Volume-column slides 6x/7x act on every tick of the row including the row tick; fine slides
// 8x/9x once; panning slides are not clamped by the column.
TEST_F(SequencerVolumeColumn, SlidesPerTickAndOnce) {
    put(0, 0, noteC4, 1, 0x62);
    put(1, 0, 0, 0, 0x73);
    put(2, 0, 0, 0, 0x84);
    put(3, 0, 0, 0, 0x95);
    put(4, 1, noteC4, 1, 0xC1);
    put(5, 1, 0, 0, 0xD5);
    start();
    tick();
    EXPECT_EQ(channel(0).volume, 46);
    tick(5);
    EXPECT_EQ(channel(0).volume, 36);
    tick(6);
    EXPECT_EQ(channel(0).volume, 54);
    tick(6);
    EXPECT_EQ(channel(0).volume, 50);
    tick(6);
    EXPECT_EQ(channel(0).volume, 55);
    tick(6);
    EXPECT_EQ(channel(1).panning, 16);
    tick(6);
    EXPECT_EQ(channel(1).panning, 16 - 30);
    EXPECT_EQ(voiceOf(1).voicePanning, 0);
}

// Volume-column panning slides take the panning outside 0..255. The voice update's
// q = (128 - |P - 128|) / 32 is then negative, truncated toward zero, and the final panning is
// clamped, so with envelope outputs of 0..64 the voice stays at the edge. An envelope value
// above 64, which a file may hold, pulls it back in by (E - 32) * q.
TEST_F(SequencerVolumeColumn, PanningSlidOutsideTheRange) {
    const uint16_t envelopeValue[songInstruments] = {64, 0, 200};
    for (int32_t i = 0; i < songInstruments; ++i) {
        instruments[i].panningType = 1;
        instruments[i].panningPointCount = 2;
        instruments[i].panningEnvelope[0] = EnvelopePoint{0, envelopeValue[i]};
        instruments[i].panningEnvelope[1] = EnvelopePoint{100, envelopeValue[i]};
    }
    put(0, 0, noteC4, 1, 0xCF);
    put(1, 0, 0, 0, 0xEF);
    put(0, 1, noteC4, 2, 0xC0);
    put(1, 1, 0, 0, 0xDF);
    put(0, 2, noteC4, 3, 0xCF);
    put(1, 2, 0, 0, 0xEF);
    start();
    tick(6);
    EXPECT_EQ(voiceOf(0).voicePanning, 240);
    EXPECT_EQ(voiceOf(1).voicePanning, 0);
    EXPECT_EQ(voiceOf(2).voicePanning, 240);
    // Channel 0 and 2 slide 255, 270, ..., 330; channel 1 slides -15, -30, ..., -90.
    const int32_t farRight[6] = {255, 255, 255, 132, 147, 0}; // E = 200: q 0, 0, 0, -1, -1, -2
    for (int32_t k = 0; k < 6; ++k) {
        tick();
        EXPECT_EQ(channel(0).panning, 255 + 15 * k);
        EXPECT_EQ(voiceOf(0).voicePanning, 255) << "tick " << k;
        EXPECT_EQ(channel(1).panning, -15 - 15 * k);
        EXPECT_EQ(voiceOf(1).voicePanning, 0) << "tick " << k;
        EXPECT_EQ(voiceOf(2).voicePanning, farRight[k]) << "tick " << k;
    }
}

// Volume-column vibrato: the row tick only stores the depth; the other ticks apply and advance.
// Ax stores the speed unscaled.
TEST_F(SequencerVolumeColumn, VibratoSpeedAndDepth) {
    put(0, 0, noteC4, 1, 0xA4);
    put(1, 0, 0, 0, 0xB8);
    start();
    tick(6);
    EXPECT_EQ(channel(0).vibratoSpeed, 4);
    tick();
    EXPECT_EQ(channel(0).vibratoDepth, 8);
    EXPECT_EQ(channel(0).periodDelta, 0);
    EXPECT_EQ(channel(0).vibratoPosition, 0);
    tick();
    EXPECT_EQ(channel(0).vibratoPosition, 4);
    tick();
    // sine at 4: |sin(pi/8)| * 256 = 97; 8 * 97 >> 5 = 24
    EXPECT_EQ(channel(0).periodDelta, -24);
}

// Volume-column tone portamento with a note changes the pitch to the note at once without
// restarting the sample; without a note it slides toward the last note.
TEST_F(SequencerVolumeColumn, TonePortamentoWithAndWithoutNote) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 1, 0, 0xF1);
    put(2, 0, noteC4, 0, 0x60);
    put(3, 0, 0, 0, 0xF0);
    start();
    tick(7);
    EXPECT_EQ(channel(0).period, 4608 - 64);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
    EXPECT_EQ(channel(0).portaSpeed, 16);
    tick(6);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[32]);
    channel(0).period = 4000;
    tick(6);
    EXPECT_EQ(channel(0).portaTarget, 4608);
    EXPECT_EQ(channel(0).period, 4000);
    tick();
    EXPECT_EQ(channel(0).period, 4064);
    tick(4);
    EXPECT_EQ(channel(0).period, 4320);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[32]);
}

// Auto-vibrato waves at depth 64 (delta = wave value) with rate 64: sine, square, both ramps;
// a type above 3 gives no wave; the sweep brings the depth in linearly.
TEST_F(SequencerVolumeColumn, AutoVibratoWaveformsAndSweep) {
    const int32_t waves[5][4] = {
        {0, 63, 0, -63}, {64, 64, -64, -64}, {0, -32, 64, 32}, {0, 32, 64, -32}, {0, 0, 0, 0}};
    for (int32_t type = 0; type < 5; ++type) {
        instruments[0].autoVibratoType = static_cast<uint8_t>(type == 4 ? 7 : type);
        instruments[0].autoVibratoDepth = 64;
        instruments[0].autoVibratoRate = 64;
        put(0, 0, noteC4, 1);
        start();
        for (int32_t k = 0; k < 4; ++k) {
            tick();
            EXPECT_EQ(channel(0).periodDelta, waves[type][k]) << "type " << type << " tick " << k;
            EXPECT_NE(channel(0).updateFlags & UPDATE_FREQUENCY, 0);
        }
        EXPECT_EQ(channel(0).autoVibratoPosition, 0);
    }
    instruments[0].autoVibratoType = 1;
    instruments[0].autoVibratoRate = 0;
    instruments[0].autoVibratoSweep = 4;
    start();
    const int32_t swept[] = {0, 16, 32, 48, 64, 64};
    for (int32_t expected : swept) {
        tick();
        EXPECT_EQ(channel(0).periodDelta, expected);
    }
    EXPECT_EQ(channel(0).autoVibratoSweepCounter, 4);
}

// The sweep multiplies before it divides. Depth 8 on the square wave is d = +-512, which a
// sweep of 6 does not divide: the delta is (c * d / 6) >> 6 for the sweep counter c = 0..6,
// reaching the full 8 at c = 6. Rate 128 alternates the wave's sign from tick to tick.
TEST_F(SequencerVolumeColumn, AutoVibratoSweepMultipliesBeforeDividing) {
    instruments[0].autoVibratoType = 1;
    instruments[0].autoVibratoDepth = 8;
    instruments[0].autoVibratoSweep = 6;
    put(0, 0, noteC4, 1);
    const int32_t steady[] = {0, 1, 2, 4, 5, 6, 8, 8, 8};
    const int32_t alternating[] = {0, -2, 2, -4, 5, -7, 8, -8, 8};
    for (uint8_t rate : {0, 128}) {
        instruments[0].autoVibratoRate = rate;
        start();
        for (int32_t k = 0; k < 9; ++k) {
            tick();
            EXPECT_EQ(channel(0).periodDelta, rate == 0 ? steady[k] : alternating[k])
                << "rate " << int(rate) << " tick " << k;
        }
    }
}

// A pattern break to a row past the end of the next, shorter pattern plays that row as empty
// (the cell storage behind the pattern is not read) and then moves on to the next order.
TEST_F(SequencerGuards, BreakPastEndOfShorterPatternPlaysEmptyRow) {
    player.defaultTempo = 1;
    player.songLength = 3;
    player.orderTable[1] = 1;
    player.orderTable[2] = 2;
    patterns[1].rowCount = 16;
    put(0, 0, 0, 0, 0, PATTERN_BREAK, 0x40);
    cell(1, 40, 0) = Cell{noteC4, 1, 0, 0, 0};
    cell(2, 0, 0) = Cell{noteC4, 1, 0, 0, 0};
    start();
    tick();
    EXPECT_EQ(player.nextRow, 40);
    EXPECT_EQ(player.nextOrder, 1);
    tick();
    EXPECT_EQ(player.order, 1);
    EXPECT_EQ(player.row, 40);
    EXPECT_EQ(channel(0).updateFlags & UPDATE_TRIGGER, 0);
    EXPECT_EQ(voiceOf(0).sample, nullptr);
    EXPECT_EQ(player.nextOrder, 2);
    EXPECT_EQ(player.nextRow, 0);
    tick();
    EXPECT_EQ(voiceOf(0).sample, &samples[0]);
}

// A loop start kept from a longer pattern names a row past the end of the current one: that
// row plays as empty and the song moves on.
TEST_F(SequencerGuards, LoopToRowPastEndPlaysEmptyRow) {
    player.defaultTempo = 1;
    player.songLength = 2;
    player.orderTable[1] = 1;
    patterns[1].rowCount = 8;
    put(10, 0, 0, 0, 0, EXTENDED, 0x60);
    put(10, 1, 0, 0, 0, POSITION_JUMP, 1);
    cell(1, 2, 0) = Cell{0, 0, 0, 14, 0x61};
    start();
    tick(11);
    EXPECT_EQ(channel(0).loopRow, 10);
    tick(3);
    EXPECT_EQ(player.order, 1);
    EXPECT_EQ(player.nextRow, 10);
    tick();
    EXPECT_EQ(player.row, 10);
    EXPECT_EQ(player.nextOrder, 0);
    EXPECT_EQ(player.nextRow, 0);
}

// Cell notes above 96 other than key-off name no sample-map entry: no note, no trigger, no
// release; the instrument column still resets.
TEST_F(SequencerGuards, NotesAbove96AreNoNote) {
    for (int32_t n : {97, 98, 150, 254}) {
        put(0, 0, noteC4, 1, 0x10 + 10);
        put(1, 0, static_cast<uint8_t>(n), 2);
        start();
        tick(7);
        EXPECT_EQ(channel(0).note, 48) << n;
        EXPECT_EQ(channel(0).instrument, 1);
        EXPECT_EQ(channel(0).volume, 32);
        EXPECT_EQ(channel(0).keyOff, 0);
        EXPECT_EQ(channel(0).updateFlags & UPDATE_TRIGGER, 0);
        EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
    }
}

// Envelope indices the points do not hold: a sustain point past the count never holds, a loop
// start past it is never taken, and at most 20 points are read.
TEST_F(SequencerGuards, EnvelopeIndicesOutsideThePoints) {
    Instrument& in = instruments[0];
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {2, 0};
    in.volumePointCount = 2;
    in.volumeSustain = 9;
    in.volumeLoopStart = 30;
    in.volumeLoopEnd = 1;
    in.volumeType = 1 | 2 | 4;
    for (int32_t p = 0; p < envelopePointsStored; ++p)
        in.panningEnvelope[p] = {static_cast<uint16_t>(p), static_cast<uint16_t>(p)};
    in.panningPointCount = 200;
    in.panningType = 1;
    put(0, 0, noteC4, 1);
    start();
    tick(3);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 0);
    EXPECT_EQ(channel(0).volumeEnvelopeDone, 1);
    tick(30);
    EXPECT_EQ(channel(0).panningEnvelopeDone, 1);
    EXPECT_EQ(channel(0).panningEnvelopePoint, envelopePointsStored - 1);
    EXPECT_EQ(channel(0).panningEnvelopeOutput, envelopePointsStored - 1);
}

// An order naming a pattern record that does not exist, and a pattern with no rows, play one
// empty row each and move on.
TEST_F(SequencerGuards, MissingPatternAndEmptyPattern) {
    player.defaultTempo = 1;
    player.songLength = 4;
    player.orderTable[1] = 9;
    player.orderTable[2] = 2;
    player.orderTable[3] = 3;
    patterns[2].rowCount = 0;
    patterns[3].rowCount = 1;
    cell(3, 0, 0) = Cell{noteC4, 1, 0, 0, 0};
    patterns[0].rowCount = 1;
    start();
    tick();
    EXPECT_EQ(player.nextOrder, 1);
    tick();
    EXPECT_EQ(player.order, 1);
    EXPECT_EQ(player.nextOrder, 2);
    tick();
    EXPECT_EQ(player.order, 2);
    EXPECT_EQ(player.nextOrder, 3);
    EXPECT_EQ(voiceOf(0).sample, nullptr);
    tick();
    EXPECT_EQ(player.order, 3);
    EXPECT_EQ(voiceOf(0).sample, &samples[0]);
    EXPECT_EQ(player.nextOrder, 0);
}

// An instrument index not below the count and a sample map entry of 16 or more give the shared
// empty instrument and sample.
TEST_F(SequencerGuards, MissingInstrumentAndSample) {
    instruments[1].sampleMap[48] = 16;
    put(0, 0, noteC4, 9);
    put(0, 1, noteC4, 2);
    start();
    tick();
    Instrument* instrument;
    Sample* sample;
    lookUpInstrument(&player, &channel(0), &instrument, &sample);
    EXPECT_EQ(instrument, &player.standIns.emptyInstrument);
    EXPECT_EQ(sample, &player.standIns.empty);
    EXPECT_EQ(voiceOf(0).sample, &player.standIns.empty);
    lookUpInstrument(&player, &channel(1), &instrument, &sample);
    EXPECT_EQ(instrument, &instruments[1]);
    EXPECT_EQ(sample, &player.standIns.empty);
}

// --- One reset, one seek ---------------------------------------------------------------------

// What the song does tick by tick: position, tick count, pattern delay and every voice the
// channels drive.
struct TickState {
    int32_t order, row, tick, patternDelayTicks, tempo, bpm, globalVolume;
    int32_t voiceVolume[songChannels];
    int32_t stepWhole[songChannels];
    const Sample* sample[songChannels];
    bool operator==(const TickState& o) const {
        if (order != o.order || row != o.row || tick != o.tick ||
            patternDelayTicks != o.patternDelayTicks || tempo != o.tempo || bpm != o.bpm ||
            globalVolume != o.globalVolume)
            return false;
        for (int32_t c = 0; c < songChannels; ++c) {
            if (voiceVolume[c] != o.voiceVolume[c] || stepWhole[c] != o.stepWhole[c] ||
                sample[c] != o.sample[c])
                return false;
        }
        return true;
    }
};

std::vector<TickState> playTicks(Player& p, int32_t ticks) {
    std::vector<TickState> seen;
    for (int32_t i = 0; i < ticks; ++i) {
        p.tickHandler(&p);
        TickState t{};
        t.order = p.order;
        t.row = p.row;
        t.tick = p.tick;
        t.patternDelayTicks = p.patternDelayTicks;
        t.tempo = p.tempo;
        t.bpm = p.bpm;
        t.globalVolume = p.globalVolume;
        for (int32_t c = 0; c < p.channelCount; ++c) {
            const Voice* v = p.channels[c].voice;
            t.voiceVolume[c] = v->voiceVolume;
            t.stepWhole[c] = v->stepWhole;
            t.sample[c] = v->sample;
        }
        seen.push_back(t);
    }
    return seen;
}

// Index of the first tick at which two runs part, or their length when they never do.
size_t firstDifference(const std::vector<TickState>& a, const std::vector<TickState>& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (!(a[i] == b[i])) return i;
    return std::min(a.size(), b.size());
}

// Two orders: a short pattern 0 of plain notes, and pattern 1 with notes, a pattern loop and a
// pattern delay, so that a Player stopped inside pattern 1 carries loop counters, a pending
// loop row, a delay, a changed tempo and global volume, and sounding voices.
class SequencerRestart : public SongTest {
  protected:
    void busySong() {
        player.songLength = 2;
        player.orderTable[0] = 0;
        player.orderTable[1] = 1;
        patterns[0].rowCount = 4;
        put(0, 0, noteC4, 1);
        put(1, 1, noteC4 + 3, 2, 0x30);
        put(2, 2, noteC4 + 7, 3);
        auto put1 = [this](int32_t row, int32_t channel, Cell c) { cell(1, row, channel) = c; };
        put1(0, 0, {noteC4 + 12, 3, 0, 0x0F, 4});   // speed 4
        put1(1, 1, {0, 0, 0, 0x0E, 0x60});          // loop start at row 1
        put1(2, 2, {noteC4 - 5, 1, 0, 0x10, 0x20}); // global volume 32
        put1(3, 1, {0, 0, 0, 0x0E, 0x63});          // loop three times
        put1(4, 0, {noteC4, 2, 0, 0x0E, 0xE3});     // pattern delay of three rows
        put1(6, 3, {noteC4 + 2, 1, 0, 0x04, 0x46}); // vibrato
    }
};

// The reset that playback start, the offline renderer and this fixture use gives a Player
// that has played a while the very state of one that never played: nothing the song left
// behind carries into the next start.
TEST_F(SequencerRestart, ResetAfterPlayingIsAFreshStart) {
    setReplayProfile(&player, ProfileId::Ft2); // the profile that keeps a pending loop row
    busySong();
    Player fresh = player;
    resetSequencer(&fresh);
    const std::vector<TickState> expected = playTicks(fresh, 200);

    start();
    // Into pattern 1's loop and its delay: 4 rows at speed 6, then rows 0 to 3 and the first
    // jump back at speed 4.
    playTicks(player, 6 * 4 + 4 * 4 + 2);
    ASSERT_EQ(player.order, 1);
    ASSERT_NE(player.pendingBreakRow, 0);
    ASSERT_NE(player.channels[1].loopCounter, 0);
    ASSERT_NE(player.tempo, player.defaultTempo);
    ASSERT_NE(player.globalVolume, player.initialGlobalVolume);
    resetSequencer(&player);
    const std::vector<TickState> again = playTicks(player, 200);
    EXPECT_EQ(firstDifference(again, expected), expected.size());
}

// A seek lands on the order as a Player that never played arrives there: the tick count, the
// pattern delay and the loop counters of the rows left behind start over. From the middle of a
// pattern delay and of a pattern loop, the seek plays pattern 1 exactly as a seek from a fresh
// start does.
TEST_F(SequencerRestart, SeekFromInsideALoopAndADelayPlaysTheOrderAfresh) {
    for (ProfileId profile : {ProfileId::Demo, ProfileId::Ft2}) {
        SCOPED_TRACE(profileName(profile));
        setReplayProfile(&player, profile);
        busySong();
        Player fresh = player;
        resetSequencer(&fresh);
        seekOrder(&fresh, 1);
        const std::vector<TickState> expected = playTicks(fresh, 150);

        for (int32_t played : {6 * 4 + 4 * 4 + 2, 6 * 4 + 4 * 7 + 1, 6 * 4 + 4 * 14 + 5}) {
            SCOPED_TRACE(played);
            start();
            playTicks(player, played);
            ASSERT_EQ(player.order, 1);
            ASSERT_TRUE(player.patternDelayTicks != 0 || player.channels[1].loopCounter != 0);
            // The seek keeps the channels' sound, so compare the voices only from the next note
            // on each channel: positions alone until then.
            seekOrder(&player, 1);
            const std::vector<TickState> after = playTicks(player, 150);
            ASSERT_EQ(after.size(), expected.size());
            for (size_t i = 0; i < after.size(); ++i) {
                EXPECT_EQ(after[i].order, expected[i].order) << "tick " << i;
                EXPECT_EQ(after[i].row, expected[i].row) << "tick " << i;
                EXPECT_EQ(after[i].tick, expected[i].tick) << "tick " << i;
                EXPECT_EQ(after[i].patternDelayTicks, expected[i].patternDelayTicks)
                    << "tick " << i;
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

} // namespace
} // namespace music::testing
