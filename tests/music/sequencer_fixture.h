// A small song built in memory for stepping the sequencer one tick at a time.
#pragma once

#include "music/auto_vibrato.h"
#include "music/channel.h"
#include "music/envelope.h"
#include "music/mixer.h"
#include "music/modulation.h"
#include "music/module.h"
#include "music/note_start.h"
#include "music/periods.h"
#include "music/sequencer.h"
#include "music/tempo.h"
#include "music/volume_column.h"
#include "music/xm_format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace music::testing {

constexpr int32_t songPatterns = 4;
constexpr int32_t songRows = 64;
constexpr int32_t songChannels = 8;
constexpr int32_t songInstruments = 3;
constexpr uint32_t sampleFrames = 1000;

// Four patterns of 64 rows, three instruments of one sample each, linear table, tempo 6 at
// 125 BPM, one order naming pattern 0. Tests change what they need before start().
class SongTest : public ::testing::Test {
  protected:
    Player player{};
    Pattern patterns[songPatterns]{};
    Cell cells[songPatterns][songRows * songChannels]{};
    Instrument instruments[songInstruments]{};
    Sample samples[songInstruments]{};
    int16_t data[songInstruments][sampleFrames + sampleGuardValues]{};

    void SetUp() override {
        for (int32_t p = 0; p < songPatterns; ++p) {
            patterns[p].rowCount = songRows;
            patterns[p].cells = cells[p];
        }
        player.patterns = patterns;
        player.patternCount = songPatterns;
        player.patternRecordCount = songPatterns;
        player.instruments = instruments;
        player.instrumentCount = songInstruments;
        player.channelCount = 4;
        player.songLength = 1;
        player.restartPosition = 0;
        player.flags = 1;
        player.defaultTempo = 6;
        player.defaultBpm = 125;
        player.initialGlobalVolume = 64;
        player.tickHandler = sequencerTick;
        for (int32_t i = 0; i < songInstruments; ++i) {
            Sample& s = samples[i];
            s.data = data[i];
            s.length = sampleFrames;
            s.loopStart = 0;
            s.loopLength = sampleFrames;
            s.loopMode = LOOP_NONE;
            s.bits = 16;
            s.volume = 48;
            s.panning = 128;
            Instrument& in = instruments[i];
            in.sampleCount = 1;
            in.samples[0] = &samples[i];
            for (int32_t k = 1; k < maxSamplesPerInstrument; ++k)
                in.samples[k] = &player.standIns.empty;
        }
        samples[1].volume = 32;
        samples[1].panning = 64;
        samples[1].relativeNote = 12;
        samples[2].loopMode = LOOP_FORWARD;
        samples[2].loopStart = 200;
        samples[2].loopLength = 300;
    }

    // What starting playback does to the Player's sequencer, channels and voices.
    void start() { resetSequencer(&player); }

    Cell& cell(int32_t pattern, int32_t row, int32_t channel) {
        return cells[pattern][row * player.channelCount + channel];
    }

    // Puts one cell into pattern 0.
    void put(int32_t row, int32_t channel, uint8_t note, uint8_t instrument = 0, uint8_t volume = 0,
             uint8_t effect = 0, uint8_t param = 0) {
        cell(0, row, channel) = Cell{note, instrument, volume, effect, param};
    }

    void tick(int32_t count = 1) {
        for (int32_t i = 0; i < count; ++i) player.tickHandler(&player);
    }

    Channel& channel(int32_t i) { return player.channels[i]; }
    Voice& voiceOf(int32_t i) { return *player.channels[i].voice; }
};

// Notes of the cells, 1-based as stored: C-4 is 49.
// The effect column's commands by their names in the format, for the cells tests put.
constexpr uint8_t ARPEGGIO = xm::effectArpeggio, PORTA_UP = xm::effectPortamentoUp,
                  PORTA_DOWN = xm::effectPortamentoDown, TONE_PORTA = xm::effectTonePortamento,
                  VIBRATO = xm::effectVibrato,
                  TONE_PORTA_SLIDE = xm::effectTonePortamentoVolumeSlide,
                  VIBRATO_SLIDE = xm::effectVibratoVolumeSlide, TREMOLO = xm::effectTremolo,
                  SET_PANNING = xm::effectSetPanning, SAMPLE_OFFSET = xm::effectSampleOffset,
                  VOLUME_SLIDE = xm::effectVolumeSlide, POSITION_JUMP = xm::effectPositionJump,
                  SET_VOLUME = xm::effectSetVolume, PATTERN_BREAK = xm::effectPatternBreak,
                  EXTENDED = xm::effectExtended, SET_SPEED = xm::effectSetSpeed,
                  GLOBAL_VOLUME = xm::effectSetGlobalVolume,
                  GLOBAL_SLIDE = xm::effectGlobalVolumeSlide, KEY_OFF_EFFECT = xm::effectKeyOff,
                  ENVELOPE_POSITION = xm::effectSetEnvelopePosition,
                  PANNING_SLIDE = xm::effectPanningSlide, MULTI_RETRIG = xm::effectMultiRetrig,
                  TREMOR = xm::effectTremor, EXTRA_FINE_PORTA = xm::effectExtraFinePortamento;

constexpr uint8_t noteC4 = 49;

} // namespace music::testing
