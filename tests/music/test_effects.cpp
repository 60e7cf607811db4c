// Effect command tests: pitch and volume effects, memories, note timing, position commands, and
// a long run of random cells that keeps every channel and voice field inside its range.
#include "sequencer_fixture.h"

#include "music/channel.h"
#include "music/effects.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/sequencer.h"

#include <gtest/gtest.h>

#include <vector>

namespace music::testing {
namespace {

using EffectsPitch = SongTest;
using EffectsVolume = SongTest;
using EffectsTiming = SongTest;
using EffectsPosition = SongTest;
using EffectsSample = SongTest;
using EffectsSoak = SongTest;

bool triggered(const Player& player, int32_t c) {
    return (player.channels[c].updateFlags & UPDATE_TRIGGER) != 0;
}

// Arpeggio 047 at tempo 6: base note on ticks 0 and 3, four semitones up on 1 and 4, seven up
// on 2 and 5; on the Amiga table the offset is the difference of the two periods.
TEST_F(EffectsPitch, Arpeggio) {
    put(0, 0, noteC4, 1, 0, ARPEGGIO, 0x47);
    start();
    const int32_t linear[] = {0, 256, 448, 0, 256, 448};
    for (int32_t expected : linear) {
        tick();
        EXPECT_EQ(channel(0).periodDelta, expected);
        EXPECT_EQ(channel(0).period, 4608);
    }
    player.flags = 0;
    start();
    tick(2);
    EXPECT_EQ(channel(0).periodDelta, amigaPeriod(52, 0) - amigaPeriod(48, 0));
    EXPECT_EQ(channel(0).period + channel(0).periodDelta, amigaPeriod(52, 0));
}

// A zero nibble is still an offset: on its tick the arpeggio writes 0 over the delta that the
// volume column's vibrato set earlier on that tick. On ticks with tick mod 3 = 0 the arpeggio
// writes nothing and the vibrato's delta stands.
TEST_F(EffectsPitch, ArpeggioZeroNibbleReplacesVolumeColumnVibrato) {
    put(0, 0, noteC4, 1, 0xA4);
    put(1, 0, 0, 0, 0xB8, ARPEGGIO, 0x07);
    for (int16_t flags : {1, 0}) {
        player.flags = flags;
        start();
        tick(7);
        // Vibrato phases 0, 4, 8, 12, 16 on ticks 1 to 5; depth 8 on a sine gives -24 at 4,
        // -44 at 8, -56 at 12.
        tick();
        EXPECT_EQ(channel(0).periodDelta, 0) << flags;
        tick();
        const int32_t sevenUp = flags == 1 ? 448 : amigaPeriod(55, 0) - amigaPeriod(48, 0);
        EXPECT_EQ(channel(0).periodDelta, sevenUp) << flags;
        tick();
        EXPECT_EQ(channel(0).periodDelta, -44) << flags;
        tick();
        EXPECT_EQ(channel(0).periodDelta, 0) << flags;
        EXPECT_EQ(channel(0).vibratoPosition, 16);
        tick();
        EXPECT_EQ(channel(0).periodDelta, sevenUp) << flags;
    }
}

// Portamento up stops at period 56; portamento down has no limit; both keep their memory.
TEST_F(EffectsPitch, PortamentoLimits) {
    put(0, 0, noteC4, 1, 0, PORTA_UP, 0xFF);
    put(1, 0, 0, 0, 0, PORTA_UP, 0x00);
    put(2, 0, 0, 0, 0, PORTA_DOWN, 0xFF);
    start();
    const int32_t up[] = {4608, 3588, 2568, 1548, 528, 56};
    for (int32_t expected : up) {
        tick();
        EXPECT_EQ(channel(0).period, expected);
    }
    tick(6);
    EXPECT_EQ(channel(0).period, 56);
    tick(6);
    EXPECT_EQ(channel(0).period, 56 + 5 * 1020);
    for (int32_t row = 0; row < 60; ++row) put(3 + row, 0, 0, 0, 0, PORTA_DOWN, 0);
    tick(60 * 6);
    EXPECT_EQ(channel(0).period, 56 + 305 * 1020);
}

// Tone portamento slides toward the note from either side, stops on it and keeps its speed.
TEST_F(EffectsPitch, TonePortamento) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 - 1, 0, 0, TONE_PORTA, 0x05);
    put(2, 0, noteC4 + 1, 0, 0, TONE_PORTA, 0x00);
    start();
    tick(7);
    EXPECT_EQ(channel(0).portaTarget, 4672);
    EXPECT_EQ(channel(0).period, 4608);
    tick(3);
    EXPECT_EQ(channel(0).period, 4608 + 60);
    tick();
    EXPECT_EQ(channel(0).period, 4672);
    tick(2);
    EXPECT_EQ(channel(0).period, 4672);
    EXPECT_EQ(channel(0).portaSpeed, 5);
    tick(5);
    EXPECT_EQ(channel(0).period, 4672 - 100);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
}

// The vibrato offsets of the three waveforms, computed on a channel alone.
TEST(EffectsWaves, VibratoValues) {
    Channel c{};
    c.vibratoDepth = 8;
    c.vibratoPosition = 16;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, -60);
    EXPECT_EQ(c.updateFlags, UPDATE_FREQUENCY);
    c.vibratoDepth = 15;
    c.vibratoPosition = -16;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, 116);
    c.waveControl = 1;
    c.vibratoPosition = 5;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, -16);
    c.vibratoPosition = -32; // ramp 255
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, 116);
    c.waveControl = 3; // square
    c.vibratoPosition = 0;
    c.vibratoDepth = 4;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, -28);
    EXPECT_EQ(c.vibratoPosition, 0);
}

// The tremolo deltas stay inside 0..64 of the volume and the phase wraps within -32..31.
TEST(EffectsWaves, TremoloValues) {
    Channel c{};
    c.tremoloDepth = 15;
    c.tremoloPosition = 16;
    c.volume = 40;
    stepTremolo(&c);
    EXPECT_EQ(c.volumeDelta, 24);
    EXPECT_EQ(c.updateFlags, UPDATE_VOLUME);
    c.tremoloPosition = -16;
    stepTremolo(&c);
    EXPECT_EQ(c.volumeDelta, -40);
    c.tremoloDepth = 8;
    c.tremoloPosition = 8;
    c.volume = 32;
    stepTremolo(&c);
    EXPECT_EQ(c.volumeDelta, 22);
    c.tremoloSpeed = 4;
    c.tremoloPosition = 30;
    stepTremolo(&c);
    EXPECT_EQ(c.tremoloPosition, -30);
    // Waveform 3 is a sine for the tremolo, a square for the vibrato.
    c.waveControl = 0x30;
    c.tremoloPosition = 8;
    stepTremolo(&c);
    EXPECT_EQ(c.volumeDelta, 22);
}

// 4xy applies the current phase already on the row tick without advancing it; 4x0 keeps the
// depth, 40y the speed; a waveform control of 4 or more keeps the phase across a reset.
TEST_F(EffectsPitch, VibratoThroughRows) {
    put(0, 0, noteC4, 1);
    put(1, 0, 0, 0, 0, VIBRATO, 0x84);
    put(2, 0, 0, 0, 0, VIBRATO, 0x00);
    put(3, 0, 0, 0, 0, EXTENDED, 0x44);
    put(4, 0, noteC4, 1, 0, VIBRATO, 0x20);
    start();
    tick(6);
    const int32_t row1[] = {0, 0, -20, -28, -20, 0};
    for (int32_t expected : row1) {
        tick();
        EXPECT_EQ(channel(0).periodDelta, expected);
    }
    EXPECT_EQ(channel(0).vibratoPosition, -24);
    tick();
    EXPECT_EQ(channel(0).periodDelta, 20);
    EXPECT_EQ(channel(0).vibratoPosition, -24);
    tick(5);
    EXPECT_EQ(channel(0).vibratoPosition, 16);
    tick(6);
    EXPECT_EQ(channel(0).waveControl, 4);
    tick();
    EXPECT_EQ(channel(0).vibratoPosition, 16);
    EXPECT_EQ(channel(0).vibratoDepth, 4);
    EXPECT_EQ(channel(0).vibratoSpeed, 2);
    tick();
    EXPECT_EQ(channel(0).vibratoPosition, 18);
}

// X1y/X2y move the period by y, E1y/E2y by 4 * y, each with its own memory; other X do nothing.
TEST_F(EffectsPitch, ExtraFineVersusFinePortamento) {
    put(0, 0, noteC4, 1);
    put(1, 0, 0, 0, 0, EXTRA_FINE_PORTA, 0x13);
    put(2, 0, 0, 0, 0, EXTRA_FINE_PORTA, 0x10);
    put(3, 0, 0, 0, 0, EXTRA_FINE_PORTA, 0x25);
    put(4, 0, 0, 0, 0, EXTENDED, 0x13);
    put(5, 0, 0, 0, 0, EXTENDED, 0x10);
    put(6, 0, 0, 0, 0, EXTENDED, 0x25);
    put(7, 0, 0, 0, 0, EXTRA_FINE_PORTA, 0x37);
    start();
    const int32_t periods[] = {4608, 4605, 4602, 4607, 4595, 4583, 4603, 4603};
    for (int32_t expected : periods) {
        tick(6);
        EXPECT_EQ(channel(0).period, expected) << "row " << player.row;
    }
}

// Volume slides: A0F lowers by 15 per other tick, AF0 raises by 15, AFF only raises; A00
// reuses the memory that 5xy and 6xy share.
TEST_F(EffectsVolume, VolumeSlides) {
    put(0, 0, noteC4, 1, 0x50, VOLUME_SLIDE, 0x0F);
    put(1, 0, 0, 0, 0x10, VOLUME_SLIDE, 0xF0);
    put(2, 0, 0, 0, 0x20, VOLUME_SLIDE, 0xFF);
    put(3, 0, 0, 0, 0x30, VIBRATO_SLIDE, 0x02);
    put(4, 0, 0, 0, 0, VOLUME_SLIDE, 0x00);
    start();
    tick(2);
    EXPECT_EQ(channel(0).volume, 64 - 15);
    tick(4);
    EXPECT_EQ(channel(0).volume, 0);
    tick(2);
    EXPECT_EQ(channel(0).volume, 15);
    tick(4);
    EXPECT_EQ(channel(0).volume, 64);
    tick(2);
    EXPECT_EQ(channel(0).volume, 31);
    tick(4);
    EXPECT_EQ(channel(0).volume, 64);
    tick(6);
    EXPECT_EQ(channel(0).volume, 32 - 10);
    tick(6);
    EXPECT_EQ(channel(0).volume, 22 - 10);
}

// Tone portamento with volume slide keeps both running on the other ticks.
TEST_F(EffectsVolume, TonePortamentoWithVolumeSlide) {
    put(0, 0, noteC4, 1);
    put(1, 0, noteC4 + 1, 0, 0, TONE_PORTA, 0x04);
    put(2, 0, 0, 0, 0, TONE_PORTA_SLIDE, 0x03);
    start();
    tick(12);
    EXPECT_EQ(channel(0).period, 4608 - 64);
    channel(0).period = 4608;
    tick(6);
    EXPECT_EQ(channel(0).period, 4608 - 64);
    EXPECT_EQ(channel(0).volume, 48 - 15);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
}

// EA0 after EB3 raises the volume by 3: the fine slides share one memory.
TEST_F(EffectsVolume, FineVolumeSlidesShareMemory) {
    put(0, 0, noteC4, 1, 0x30, EXTENDED, 0xB3);
    put(1, 0, 0, 0, 0, EXTENDED, 0xA0);
    put(2, 0, 0, 0, 0, EXTENDED, 0xA0);
    start();
    tick(6);
    EXPECT_EQ(channel(0).volume, 29);
    tick(6);
    EXPECT_EQ(channel(0).volume, 32);
    tick();
    EXPECT_EQ(channel(0).volume, 35);
}

// C40 sets 64; C80 stores 128 unclamped and the next upward slide brings it back to 64. G50
// caps the global volume at 64.
TEST_F(EffectsVolume, SetVolumeAndGlobalVolume) {
    player.initialGlobalVolume = 20;
    put(0, 0, noteC4, 1, 0, SET_VOLUME, 0x40);
    put(1, 0, 0, 0, 0, SET_VOLUME, 0x80);
    put(2, 0, 0, 0, 0, VOLUME_SLIDE, 0x10);
    put(3, 0, 0, 0, 0, GLOBAL_VOLUME, 0x50);
    start();
    tick();
    EXPECT_EQ(channel(0).volume, 64);
    tick(6);
    EXPECT_EQ(channel(0).volume, 128);
    tick(7);
    EXPECT_EQ(channel(0).volume, 64);
    tick(5);
    EXPECT_EQ(player.globalVolume, 64);
}

// The global volume slide keeps one memory for all channels and raises no flag, so the voices
// hear it only when their channel updates its volume for another reason.
TEST_F(EffectsVolume, GlobalVolumeSlide) {
    put(0, 0, noteC4, 1, 0, GLOBAL_SLIDE, 0x02);
    put(1, 1, 0, 0, 0, GLOBAL_SLIDE, 0x00);
    start();
    tick(6);
    EXPECT_EQ(player.globalVolume, 54);
    EXPECT_EQ(voiceOf(0).voiceVolume, 95);
    tick(6);
    EXPECT_EQ(player.globalVolume, 44);
    EXPECT_EQ(player.globalVolumeSlideMemory, 0x02);
}

// After a tremolo row the volume stays where the tremolo's last tick put it.
TEST_F(EffectsVolume, TremoloLeavesVolume) {
    put(0, 0, noteC4, 1, 0x30);
    put(1, 0, 0, 0, 0, TREMOLO, 0x44);
    start();
    tick(6);
    const int32_t deltas[] = {0, 0, 6, 11, 14, 15};
    for (int32_t expected : deltas) {
        tick();
        EXPECT_EQ(channel(0).volumeDelta, expected);
        EXPECT_EQ(channel(0).volume, 32);
    }
    tick();
    EXPECT_EQ(channel(0).volume, 47);
    EXPECT_EQ(channel(0).volumeDelta, 0);
}

// Three rows of the same 744: the phase runs on from row to row and the volume stays at 32
// while the tremolo goes on; the first row without it keeps the delta of the last tick.
TEST_F(EffectsVolume, TremoloOnConsecutiveRows) {
    put(0, 0, noteC4, 1, 0x30, TREMOLO, 0x44);
    put(1, 0, 0, 0, 0, TREMOLO, 0x44);
    put(2, 0, 0, 0, 0, TREMOLO, 0x44);
    start();
    // Phases 0..16, 20..28 then -32, -28, and -24..-8 in steps of 4 on the other ticks.
    const int32_t deltas[3][6] = {
        {0, 0, 6, 11, 14, 15}, {0, 14, 11, 6, 0, -6}, {0, -11, -14, -15, -14, -11}};
    for (int32_t row = 0; row < 3; ++row) {
        for (int32_t k = 0; k < 6; ++k) {
            tick();
            EXPECT_EQ(channel(0).volumeDelta, deltas[row][k]) << "row " << row << " tick " << k;
            EXPECT_EQ(channel(0).volume, 32) << "row " << row << " tick " << k;
        }
    }
    tick();
    EXPECT_EQ(channel(0).volume, 21);
    EXPECT_EQ(channel(0).volumeDelta, 0);
}

// E71 gives the tremolo a ramp: 8 * phase on the rising half, 255 at -32.
TEST_F(EffectsVolume, TremoloWaveformControl) {
    put(0, 0, noteC4, 1, 0x30, EXTENDED, 0x71);
    put(1, 0, 0, 0, 0, TREMOLO, 0x84);
    start();
    tick(6);
    EXPECT_EQ(channel(0).waveControl, 0x10);
    const int32_t deltas[] = {0, 0, 4, 8, 12, -15};
    for (int32_t expected : deltas) {
        tick();
        EXPECT_EQ(channel(0).volumeDelta, expected);
    }
    tick();
    EXPECT_EQ(channel(0).volume, 17);
}

// Panning slide: P0F and PF0 move by 15 per other tick, clamped to 0..255; P00 reuses the
// memory and raises nothing on the row tick. 8xx and E8y set the panning directly.
TEST_F(EffectsVolume, Panning) {
    put(0, 0, noteC4, 1, 0, SET_PANNING, 200);
    put(1, 0, 0, 0, 0, PANNING_SLIDE, 0xF0);
    put(2, 0, 0, 0, 0, PANNING_SLIDE, 0x0F);
    put(3, 0, 0, 0, 0, PANNING_SLIDE, 0x00);
    put(4, 0, 0, 0, 0, EXTENDED, 0x83);
    start();
    tick(6);
    EXPECT_EQ(channel(0).panning, 200);
    tick(6);
    EXPECT_EQ(channel(0).panning, 255);
    tick(6);
    EXPECT_EQ(channel(0).panning, 180);
    tick();
    EXPECT_EQ(channel(0).updateFlags & UPDATE_PANNING, 0);
    tick(5);
    EXPECT_EQ(channel(0).panning, 105);
    tick();
    EXPECT_EQ(channel(0).panning, 48);
}

// Multi retrig: R03 retriggers on tick 3 without a volume change; R81 clamps 128 to 64; the
// volume modes change the volume as their table says.
TEST_F(EffectsVolume, MultiRetrigModes) {
    put(0, 0, noteC4, 1, 0, MULTI_RETRIG, 0x03);
    put(1, 0, 0, 0, 0, SET_VOLUME, 0x80);
    put(2, 0, 0, 0, 0, MULTI_RETRIG, 0x81);
    start();
    for (int32_t t = 0; t < 6; ++t) {
        tick();
        EXPECT_EQ(triggered(player, 0), t == 0 || t == 3) << "tick " << t;
        EXPECT_EQ(channel(0).volume, 48);
    }
    tick(6);
    EXPECT_EQ(channel(0).volume, 128);
    tick(2);
    EXPECT_TRUE(triggered(player, 0));
    EXPECT_EQ(channel(0).volume, 64);

    const int32_t after[16] = {32, 31, 30, 28, 24, 16, 21, 16, 32, 33, 34, 36, 40, 48, 48, 64};
    for (int32_t mode = 1; mode < 16; ++mode) {
        put(0, 0, noteC4, 1, 0x30, MULTI_RETRIG, static_cast<uint8_t>(mode << 4 | 1));
        start();
        tick(2);
        EXPECT_EQ(channel(0).volume, after[mode]) << "mode " << mode;
    }
    put(0, 0, noteC4, 1, 0x50, MULTI_RETRIG, 0x63);
    start();
    tick(4);
    EXPECT_EQ(channel(0).volume, 42);
    put(0, 0, noteC4, 1, 0x1A, MULTI_RETRIG, 0xE3);
    start();
    tick(4);
    EXPECT_EQ(channel(0).volume, 15);
}

// T21: three ticks audible, two silent, repeating across rows; the counter runs on.
TEST_F(EffectsVolume, Tremor) {
    put(0, 0, noteC4, 1, 0, TREMOR, 0x21);
    put(1, 0, 0, 0, 0, TREMOR, 0x00);
    start();
    const bool audible[] = {true, true, true, false, false, true, true, true, false, false, true};
    for (bool expected : audible) {
        tick();
        EXPECT_EQ(voiceOf(0).voiceVolume != 0, expected) << "tick " << player.tick;
        EXPECT_EQ(channel(0).volumeDelta, expected ? 0 : -48);
    }
}

// K releases the note on the row tick whatever its parameter.
TEST_F(EffectsVolume, KeyOffAnyParameter) {
    put(0, 0, noteC4, 1);
    put(1, 0, 0, 0, 0, KEY_OFF_EFFECT, 0x37);
    start();
    tick(6);
    EXPECT_EQ(channel(0).keyOff, 0);
    tick();
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(voiceOf(0).voiceVolume, 0);
}

// Lxx sets the volume envelope position, freezes it at the last point past the end, and does
// nothing when the instrument's volume envelope is off.
TEST_F(EffectsVolume, SetEnvelopePosition) {
    Instrument& in = instruments[0];
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {10, 32};
    in.volumeEnvelope[2] = {20, 0};
    in.volumePointCount = 3;
    in.volumeType = 1;
    put(0, 0, noteC4, 1, 0, ENVELOPE_POSITION, 5);
    put(1, 0, 0, 0, 0, ENVELOPE_POSITION, 30);
    start();
    tick();
    EXPECT_EQ(channel(0).volumeEnvelopeTick, 5);
    EXPECT_EQ(channel(0).volumeEnvelopePoint, 1);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 48);
    tick();
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 44);
    tick(5);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 0);
    EXPECT_EQ(channel(0).volumeEnvelopeDone, 1);
    tick(5);
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 0);

    in.volumeType = 0;
    start();
    tick();
    EXPECT_EQ(channel(0).volumeEnvelopeOutput, 64);
    EXPECT_EQ(channel(0).volumeEnvelopeTick, 0);
}

// E92 at tempo 6 retriggers on ticks 2 and 4.
TEST_F(EffectsTiming, Retrigger) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x92);
    start();
    for (int32_t t = 0; t < 6; ++t) {
        tick();
        EXPECT_EQ(triggered(player, 0), t == 0 || t == 2 || t == 4) << "tick " << t;
    }
}

// EC0 does nothing; EC3 cuts the volume on tick 3.
TEST_F(EffectsTiming, NoteCut) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0xC0);
    put(0, 1, noteC4, 1, 0, EXTENDED, 0xC3);
    start();
    for (int32_t t = 0; t < 6; ++t) {
        tick();
        EXPECT_EQ(channel(0).volume, 48);
        EXPECT_EQ(channel(1).volume, t < 3 ? 48 : 0) << "tick " << t;
    }
}

// ED0 swallows the note; ED3 holds the channel as it was until tick 3 and then starts the note
// with its instrument reset and volume column; ED9 at tempo 6 never starts it.
TEST_F(EffectsTiming, NoteDelay) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0xD0);
    put(0, 1, noteC4, 1, 0x1A);
    put(1, 1, noteC4 + 2, 1, 0x20, EXTENDED, 0xD3);
    put(0, 2, noteC4, 1, 0, EXTENDED, 0xD9);
    start();
    tick(6);
    EXPECT_EQ(voiceOf(0).sample, nullptr);
    EXPECT_EQ(voiceOf(2).sample, nullptr);
    EXPECT_EQ(channel(0).volume, 0);
    for (int32_t t = 0; t < 6; ++t) {
        tick();
        EXPECT_EQ(triggered(player, 1), t == 3) << "tick " << t;
        if (t < 3) {
            EXPECT_EQ(channel(1).volume, 10);
            EXPECT_EQ(channel(1).period, 4608);
            EXPECT_EQ(voiceOf(1).voiceVolume, 19);
        } else {
            EXPECT_EQ(channel(1).volume, 16);
            EXPECT_EQ(channel(1).period, 4608 - 128);
            EXPECT_EQ(channel(1).voice, &player.mixer.voices[33]);
        }
    }
    EXPECT_EQ(voiceOf(2).sample, nullptr);
}

// EE2 at tempo 6 makes the row last 18 ticks, with per-tick effects running through all of
// them and the tick counter counting past the tempo.
TEST_F(EffectsTiming, PatternDelay) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0xE2);
    put(0, 1, noteC4, 1, 0, VOLUME_SLIDE, 0x01);
    start();
    tick(18);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.tick, 0);
    EXPECT_EQ(channel(1).volume, 48 - 17);
    tick();
    EXPECT_EQ(player.row, 1);
    EXPECT_EQ(player.patternDelayTicks, 0);
    tick(6);
    EXPECT_EQ(player.row, 2);
}

// F00 makes every tick a row tick, F1F sets tempo 31, F20 sets BPM 32 and the length of the
// tick that set it.
TEST_F(EffectsTiming, SetSpeed) {
    put(0, 0, 0, 0, 0, SET_SPEED, 0x1F);
    put(1, 0, 0, 0, 0, SET_SPEED, 0x20);
    put(2, 0, 0, 0, 0, SET_SPEED, 0x00);
    start();
    tick();
    EXPECT_EQ(player.tempo, 31);
    tick(31);
    EXPECT_EQ(player.bpm, 32);
    EXPECT_EQ(player.samplesPerTick, 3445);
    tick(31);
    EXPECT_EQ(player.row, 2);
    EXPECT_EQ(player.tempo, 0);
    tick();
    EXPECT_EQ(player.row, 3);
    tick();
    EXPECT_EQ(player.row, 4);
}

class EffectsLoop : public SongTest {
  protected:
    // The rows played, one per tick.
    std::vector<int32_t> play(int32_t ticks) {
        std::vector<int32_t> rows;
        for (int32_t i = 0; i < ticks; ++i) {
            tick();
            rows.push_back(player.row);
        }
        return rows;
    }
};

// E60 on row 4 and E62 on row 8 play rows 4 to 8 three times in all; a later E62 starts a new
// count.
TEST_F(EffectsLoop, PatternLoop) {
    player.defaultTempo = 1;
    put(4, 1, 0, 0, 0, EXTENDED, 0x60);
    put(8, 1, 0, 0, 0, EXTENDED, 0x62);
    start();
    const std::vector<int32_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 4, 5,
                                           6, 7, 8, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(play(21), expected);
    EXPECT_EQ(channel(1).loopCounter, 0);
}

// D1F goes to row 25, D64 to row 0, D on the last order to order 0.
TEST_F(EffectsPosition, PatternBreak) {
    player.songLength = 2;
    put(0, 0, 0, 0, 0, PATTERN_BREAK, 0x1F);
    start();
    tick();
    EXPECT_EQ(player.nextRow, 25);
    EXPECT_EQ(player.nextOrder, 1);
    put(0, 0, 0, 0, 0, PATTERN_BREAK, 0x64);
    start();
    tick();
    EXPECT_EQ(player.nextRow, 0);
    player.songLength = 1;
    put(0, 0, 0, 0, 0, PATTERN_BREAK, 0x10);
    start();
    tick(6);
    EXPECT_EQ(player.nextOrder, 0);
    tick();
    EXPECT_EQ(player.order, 0);
    EXPECT_EQ(player.row, 10);
}

// D63 names the last row of a 64-row pattern, which is played; only targets above 63 (D64,
// D5F = 65, D9F = 105, DFF = 165) become row 0.
TEST_F(EffectsPosition, PatternBreakToTheLastRow) {
    player.songLength = 2;
    player.orderTable[1] = 1;
    put(0, 0, 0, 0, 0, PATTERN_BREAK, 0x63);
    cell(1, 63, 0) = Cell{noteC4, 1, 0, SET_VOLUME, 0x21};
    start();
    tick();
    EXPECT_EQ(player.nextRow, 63);
    EXPECT_EQ(player.nextOrder, 1);
    tick(6);
    EXPECT_EQ(player.order, 1);
    EXPECT_EQ(player.row, 63);
    EXPECT_EQ(channel(0).volume, 0x21);
    EXPECT_EQ(player.nextOrder, 0);
    EXPECT_EQ(player.nextRow, 0);
    for (uint8_t param : {0x64, 0x5F, 0x9F, 0xFF}) {
        put(0, 0, 0, 0, 0, PATTERN_BREAK, param);
        start();
        tick();
        EXPECT_EQ(player.nextRow, 0) << int(param);
        EXPECT_EQ(player.nextOrder, 1) << int(param);
    }
}

// B then D in a later channel: order xx at D's row. D then B: order xx at row 0. E6y followed
// by B loses its row. B past the song's end goes to order 0.
TEST_F(EffectsPosition, JumpAndBreakChannelOrder) {
    player.songLength = 3;
    put(0, 0, 0, 0, 0, POSITION_JUMP, 2);
    put(0, 1, 0, 0, 0, PATTERN_BREAK, 0x10);
    start();
    tick(7);
    EXPECT_EQ(player.order, 2);
    EXPECT_EQ(player.row, 10);

    put(0, 0, 0, 0, 0, PATTERN_BREAK, 0x10);
    put(0, 1, 0, 0, 0, POSITION_JUMP, 2);
    start();
    tick(7);
    EXPECT_EQ(player.order, 2);
    EXPECT_EQ(player.row, 0);

    put(0, 0, 0);
    put(0, 1, 0);
    put(2, 0, 0, 0, 0, EXTENDED, 0x60);
    put(3, 0, 0, 0, 0, EXTENDED, 0x61);
    put(3, 1, 0, 0, 0, POSITION_JUMP, 9);
    start();
    tick(3 * 6 + 1);
    EXPECT_EQ(player.nextRow, 0);
    EXPECT_EQ(player.nextOrder, 0);
    EXPECT_EQ(channel(0).loopCounter, 1);
    tick(6);
    EXPECT_EQ(player.order, 0);
    EXPECT_EQ(player.row, 0);
}

// 9xx below the sample's loop end starts the note there; at or past it no note starts and the
// playing voice goes back to its start; on a row without a note the offset waits for the next
// note, which starts there only if it lies before that note's loop end.
TEST_F(EffectsSample, SampleOffset) {
    put(0, 0, noteC4, 1, 0, SAMPLE_OFFSET, 0x02);
    put(1, 0, noteC4, 1, 0, SAMPLE_OFFSET, 0x04);
    start();
    tick();
    EXPECT_EQ(voiceOf(0).positionWhole, 512);
    EXPECT_EQ(voiceOf(0).startOffset, 0u);
    voiceOf(0).positionWhole = 700;
    tick(6);
    EXPECT_FALSE(triggered(player, 0));
    EXPECT_EQ(channel(0).updateFlags & UPDATE_RESTART, UPDATE_RESTART);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
    EXPECT_EQ(voiceOf(0).positionWhole, 0);
    EXPECT_EQ(channel(0).sampleOffsetMemory, 4);

    put(0, 0, noteC4, 1);
    put(1, 0, 0, 0, 0, SAMPLE_OFFSET, 0x03);
    put(2, 0, noteC4, 1);
    put(3, 0, 0, 0, 0, SAMPLE_OFFSET, 0x00);
    put(4, 0, noteC4, 3);
    start();
    tick(7);
    EXPECT_EQ(voiceOf(0).startOffset, 768u);
    voiceOf(0).positionWhole = 5;
    tick(6);
    EXPECT_EQ(voiceOf(0).positionWhole, 768);
    tick(12);
    EXPECT_EQ(channel(0).voice, &player.mixer.voices[0]);
    EXPECT_EQ(voiceOf(0).sample, &samples[2]);
    EXPECT_EQ(voiceOf(0).positionWhole, 0);
}

// E5y writes the finetune into the sample record, so every later note of that sample on any
// channel plays with it.
TEST_F(EffectsSample, SetFinetuneForEveryChannel) {
    put(0, 0, noteC4, 1, 0, EXTENDED, 0x57);
    put(1, 1, noteC4, 1);
    start();
    tick();
    EXPECT_EQ(samples[0].finetune, 7);
    EXPECT_EQ(channel(0).period, 4608);
    tick(6);
    EXPECT_EQ(channel(1).period, 4605);
}

// Effect types without a command (I, J and everything above X) change nothing: the run matches
// one with an empty effect column, field by field.
TEST_F(EffectsSample, UnusedTypesDoNothing) {
    for (uint8_t type : {18, 19, 34, 200}) {
        struct Snapshot {
            int32_t period, periodDelta, volume, volumeDelta, panning, voiceVolume, tempo, row;
            uint8_t flags;
        };
        std::vector<Snapshot> runs[2];
        for (int32_t run = 0; run < 2; ++run) {
            put(0, 0, noteC4, 1, 0, run == 0 ? type : 0, run == 0 ? 0x35 : 0);
            put(1, 0, 0, 0, 0, run == 0 ? type : 0, run == 0 ? 0xFF : 0);
            start();
            for (int32_t t = 0; t < 12; ++t) {
                tick();
                const Channel& c = channel(0);
                runs[run].push_back({c.period, c.periodDelta, c.volume, c.volumeDelta, c.panning,
                                     voiceOf(0).voiceVolume, player.tempo, player.row,
                                     c.updateFlags});
            }
        }
        for (size_t t = 0; t < runs[0].size(); ++t) {
            const Snapshot& a = runs[0][t];
            const Snapshot& b = runs[1][t];
            EXPECT_EQ(a.period, b.period);
            EXPECT_EQ(a.periodDelta, b.periodDelta);
            EXPECT_EQ(a.volume, b.volume);
            EXPECT_EQ(a.volumeDelta, b.volumeDelta);
            EXPECT_EQ(a.panning, b.panning);
            EXPECT_EQ(a.voiceVolume, b.voiceVolume);
            EXPECT_EQ(a.tempo, b.tempo);
            EXPECT_EQ(a.row, b.row);
            EXPECT_EQ(a.flags, b.flags) << "type " << int(type) << " tick " << t;
        }
    }
}

// A deterministic pseudo-random stream for the soak run.
struct Random {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// A whole multi-pattern module with random cells of every effect, run for thousands of ticks on
// both frequency tables: every channel, voice and Player field stays inside its range.
TEST_F(EffectsSoak, RandomCellsKeepEveryFieldInRange) {
    player.channelCount = songChannels;
    player.songLength = 6;
    player.restartPosition = 2;
    const uint8_t orders[] = {0, 1, 2, 3, 1, 0};
    for (int32_t i = 0; i < 6; ++i) player.orderTable[i] = orders[i];
    patterns[1].rowCount = 20;
    patterns[2].rowCount = 1;
    patterns[3].rowCount = 64;
    for (int32_t i = 0; i < songInstruments; ++i) {
        Instrument& in = instruments[i];
        in.volumeEnvelope[0] = {0, 64};
        in.volumeEnvelope[1] = {5, 20};
        in.volumeEnvelope[2] = {9, 50};
        in.volumeEnvelope[3] = {30, 0};
        in.volumePointCount = 4;
        in.volumeSustain = 2;
        in.volumeLoopStart = 1;
        in.volumeLoopEnd = static_cast<uint8_t>(i == 1 ? 3 : 2);
        in.volumeType = static_cast<uint8_t>(i == 2 ? 0 : 1 | 2 | (i == 1 ? 4 : 0));
        in.panningEnvelope[0] = {0, 0};
        in.panningEnvelope[1] = {7, 64};
        in.panningEnvelope[2] = {8, 32};
        in.panningPointCount = 3;
        in.panningLoopStart = 0;
        in.panningLoopEnd = 2;
        in.panningType = 1 | 4;
        in.fadeout = static_cast<uint16_t>(i * 3000);
        in.autoVibratoType = static_cast<uint8_t>(i + 1);
        in.autoVibratoDepth = 15;
        in.autoVibratoRate = static_cast<uint8_t>(40 + 50 * i);
        in.autoVibratoSweep = static_cast<uint8_t>(i * 10);
    }
    samples[0].relativeNote = -20;
    samples[1].finetune = -100;
    const Sample* known[] = {&samples[0], &samples[1], &samples[2], &player.standIns.empty};

    for (int32_t table = 0; table < 2; ++table) {
        Random random{static_cast<uint32_t>(12345 + table)};
        for (int32_t p = 0; p < songPatterns; ++p) {
            for (int32_t k = 0; k < patterns[p].rowCount * songChannels; ++k) {
                Cell& c = cells[p][k];
                const uint32_t roll = random.below(100);
                c.note = static_cast<uint8_t>(roll < 30   ? 1 + random.below(96)
                                              : roll < 34 ? KEY_OFF
                                              : roll < 36 ? 97 + random.below(158)
                                                          : 0);
                c.instrument = static_cast<uint8_t>(random.below(3) == 0 ? random.below(5) : 0);
                c.volume = static_cast<uint8_t>(random.below(2) == 0 ? random.below(256) : 0);
                c.effect = static_cast<uint8_t>(random.below(36));
                c.param = static_cast<uint8_t>(random.below(256));
                // Keep the song moving: fewer jumps, and tempo 0 only rarely.
                if ((c.effect == POSITION_JUMP || c.effect == PATTERN_BREAK) &&
                    random.below(8) != 0)
                    c.effect = 0;
                // Jump targets mostly inside the order list, some past its end.
                if (c.effect == POSITION_JUMP) c.param %= 8;
                if (c.effect == SET_SPEED && c.param < 32 && random.below(8) != 0)
                    c.param = static_cast<uint8_t>(2 + c.param % 6);
            }
        }
        player.flags = static_cast<int16_t>(table == 0 ? 1 : 0);
        start();
        bool orderSeen[6] = {};
        int32_t triggers = 0;
        int32_t rowTicks = 0;
        for (int32_t t = 0; t < 6000; ++t) {
            tick();
            orderSeen[player.order] = true;
            rowTicks += player.tick == 1 || player.tempo == 0 ? 1 : 0;
            for (int32_t i = 0; i < songChannels; ++i) triggers += triggered(player, i) ? 1 : 0;
            ASSERT_GE(player.globalVolume, 0);
            ASSERT_LE(player.globalVolume, 64);
            ASSERT_GE(player.tick, 0);
            ASSERT_LT(player.order, player.songLength);
            ASSERT_GE(player.order, 0);
            ASSERT_LE(player.row, 63);
            ASSERT_GE(player.samplesPerTick, 432);
            ASSERT_GE(player.tempo, 0);
            ASSERT_LE(player.tempo, 31);
            for (int32_t i = 0; i < songChannels; ++i) {
                const Channel& c = channel(i);
                SCOPED_TRACE(::testing::Message() << "tick " << t << " channel " << i);
                ASSERT_LT(c.note, 96);
                ASSERT_GE(c.volume, 0);
                ASSERT_LE(c.volume, 255);
                ASSERT_GE(c.volumeDelta, -255);
                ASSERT_LE(c.volumeDelta, 64);
                ASSERT_GE(c.volumeEnvelopeOutput, 0);
                ASSERT_LE(c.volumeEnvelopeOutput, 64);
                ASSERT_GE(c.panningEnvelopeOutput, 0);
                ASSERT_LE(c.panningEnvelopeOutput, 64);
                ASSERT_GE(c.fadeoutVolume, 0);
                ASSERT_LE(c.fadeoutVolume, 65536);
                ASSERT_GE(c.autoVibratoPosition, 0);
                ASSERT_LE(c.autoVibratoPosition, 255);
                ASSERT_GE(c.vibratoPosition, -32);
                ASSERT_LE(c.vibratoPosition, 31);
                ASSERT_GE(c.tremoloPosition, -32);
                ASSERT_LE(c.tremoloPosition, 31);
                ASSERT_LE(c.keyOff, 1);
                ASSERT_LE(c.period, 1 << 24);
                ASSERT_GE(c.period, -(1 << 24));
                ASSERT_TRUE(c.tremorCounter == 0 ||
                            c.tremorCounter < c.tremorOnTicks + c.tremorOffTicks);
                ASSERT_EQ(c.updateFlags & 0xD0, 0);
                ASSERT_TRUE(c.voice == &player.mixer.voices[i] ||
                            c.voice == &player.mixer.voices[i + 32]);
                const Voice& v = *c.voice;
                ASSERT_EQ(v.index, c.voice - player.mixer.voices);
                ASSERT_GE(v.voicePanning, 0);
                ASSERT_LE(v.voicePanning, 255);
                ASSERT_GE(v.voiceVolume, 0);
                ASSERT_LE(v.voiceVolume, 510);
                ASSERT_GE(v.leftTarget, 0);
                ASSERT_GE(v.rightTarget, 0);
                ASSERT_LE(v.leftTarget + v.rightTarget, v.voiceVolume);
                ASSERT_GE(v.stepWhole, 0);
                bool knownSample = v.sample == nullptr;
                for (const Sample* s : known) knownSample = knownSample || v.sample == s;
                ASSERT_TRUE(knownSample);
                if (v.sample != nullptr && v.sample->length != 0) {
                    ASSERT_LT(static_cast<uint32_t>(v.positionWhole), v.sample->length);
                }
            }
        }
        // The run must go through the song, not stall on a few rows (random jumps and loops
        // may keep it from ever reaching the last orders).
        int32_t ordersSeen = 0;
        for (bool seen : orderSeen) ordersSeen += seen ? 1 : 0;
        EXPECT_GE(ordersSeen, 4);
        EXPECT_GT(triggers, 1000);
        EXPECT_GT(rowTicks, 500);
    }
}

} // namespace
} // namespace music::testing
