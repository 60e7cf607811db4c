// The XM file layout: where the fields lie, how long the fixed parts are, and what the bits of its
// flag bytes mean. The loader reads by these and the module writer (tools/xmwrite) writes by them,
// so that both agree on one set of numbers.
#pragma once

#include <cstdint>

namespace music::xm {

// ---- The module header ----

constexpr char magic[] = "Extended Module: ";
constexpr int32_t magicBytes = 17;
static_assert(sizeof(magic) == magicBytes + 1, "the magic is compared without its NUL");

constexpr int32_t titleOffset = 17;
constexpr int32_t nameBytes = 20;        // the title and the tracker name
constexpr uint8_t titleEndMarker = 0x1A; // the byte after the title
constexpr int32_t trackerOffset = 38;
constexpr int32_t versionOffset = 58;
constexpr int32_t headerSizeOffset = 60; // the header size counts from here
constexpr int32_t songLengthOffset = 64;
constexpr int32_t restartOffset = 66;
constexpr int32_t channelCountOffset = 68;
constexpr int32_t patternCountOffset = 70;
constexpr int32_t instrumentCountOffset = 72;
constexpr int32_t flagsOffset = 74;
constexpr int32_t tempoOffset = 76;
constexpr int32_t bpmOffset = 78;
constexpr int32_t orderTableOffset = 80;
constexpr int32_t headerFieldBytes = 20; // the header size without the order table
constexpr int32_t orderTableBytes = 256;

constexpr uint16_t flagLinearFrequencies = 0x0001;

// FT2's early releases wrote 1.02 and 1.03: every instrument and sample header before the
// patterns, all sample data after them; 1.02 also keeps a pattern's row count minus one in one
// byte. Every other version is laid out as 1.04.
constexpr uint16_t version102 = 0x0102;
constexpr uint16_t version103 = 0x0103;
constexpr uint16_t version104 = 0x0104;

// ---- Patterns ----

constexpr int32_t patternHeaderBytes = 9;           // length, packing type, rows, packed size
constexpr int32_t patternHeaderBytesVersion102 = 8; // its row count is one byte
constexpr int32_t patternRowsOffset = 5;

// A packed cell starts with this bit and one bit per field that follows; a first byte without it
// is the note of a cell stored as five plain bytes.
constexpr uint8_t cellPacked = 0x80;
constexpr uint8_t cellHasNote = 0x01;
constexpr uint8_t cellHasInstrument = 0x02;
constexpr uint8_t cellHasVolume = 0x04;
constexpr uint8_t cellHasEffect = 0x08;
constexpr uint8_t cellHasParam = 0x10;
constexpr int32_t cellBytes = 5;
constexpr uint8_t keyOffNote = 97;

// ---- Instruments ----

constexpr int32_t instrumentNameOffset = 4;
constexpr int32_t instrumentNameBytes = 22; // and sample names
constexpr int32_t instrumentTypeOffset = 26;
constexpr int32_t instrumentSampleCountOffset = 27;
constexpr int32_t sampleHeaderSizeOffset = 29;
constexpr int32_t sampleMapOffset = 33;
constexpr int32_t sampleMapNotes = 96;
constexpr int32_t volumeEnvelopeOffset = 129;
constexpr int32_t panningEnvelopeOffset = 177;
constexpr int32_t envelopePoints = 12; // each x then y, 16 bits apiece
constexpr int32_t envelopePointBytes = 4;
constexpr int32_t envelopeCountsOffset = 225; // point counts, sustain and loop points, types
constexpr int32_t vibratoOffset = 235;        // type, sweep, depth, rate
constexpr int32_t fadeoutOffset = 239;
// As trackers write an instrument with samples (the fields end at 243; reserved bytes follow),
// and one without, whose header ends after the sample count.
constexpr int32_t instrumentHeaderBytes = 263;
constexpr int32_t emptyInstrumentHeaderBytes = 29;

constexpr uint8_t envelopeOn = 0x01;
constexpr uint8_t envelopeSustain = 0x02;
constexpr uint8_t envelopeLoop = 0x04;

// ---- Commands in the cells ----

// The effect column, by the number a cell stores; trackers show 10 to 35 as the letters A to Z.
constexpr uint8_t effectArpeggio = 0x00;
constexpr uint8_t effectPortamentoUp = 0x01;
constexpr uint8_t effectPortamentoDown = 0x02;
constexpr uint8_t effectTonePortamento = 0x03;
constexpr uint8_t effectVibrato = 0x04;
constexpr uint8_t effectTonePortamentoVolumeSlide = 0x05;
constexpr uint8_t effectVibratoVolumeSlide = 0x06;
constexpr uint8_t effectTremolo = 0x07;
constexpr uint8_t effectSetPanning = 0x08;
constexpr uint8_t effectSampleOffset = 0x09;
constexpr uint8_t effectVolumeSlide = 0x0A;
constexpr uint8_t effectPositionJump = 0x0B;
constexpr uint8_t effectSetVolume = 0x0C;
constexpr uint8_t effectPatternBreak = 0x0D;
constexpr uint8_t effectExtended = 0x0E; // the parameter's high nibble picks one of the below
constexpr uint8_t effectSetSpeed = 0x0F; // below 32 the speed, from 32 on the BPM
constexpr uint8_t effectSetGlobalVolume = 0x10;     // G
constexpr uint8_t effectGlobalVolumeSlide = 0x11;   // H
constexpr uint8_t effectKeyOff = 0x14;              // K
constexpr uint8_t effectSetEnvelopePosition = 0x15; // L
constexpr uint8_t effectPanningSlide = 0x19;        // P
constexpr uint8_t effectMultiRetrig = 0x1B;         // R
constexpr uint8_t effectTremor = 0x1D;              // T
constexpr uint8_t effectExtraFinePortamento = 0x21; // X
constexpr uint8_t effectCount = 0x22;               // the numbers above this one do nothing

// Exy: x, the parameter's high nibble.
constexpr uint8_t extendedFinePortamentoUp = 0x1;
constexpr uint8_t extendedFinePortamentoDown = 0x2;
constexpr uint8_t extendedGlissando = 0x3;
constexpr uint8_t extendedVibratoWaveform = 0x4;
constexpr uint8_t extendedSetFinetune = 0x5;
constexpr uint8_t extendedPatternLoop = 0x6;
constexpr uint8_t extendedTremoloWaveform = 0x7;
constexpr uint8_t extendedSetPanning = 0x8;
constexpr uint8_t extendedRetrigger = 0x9;
constexpr uint8_t extendedFineVolumeUp = 0xA;
constexpr uint8_t extendedFineVolumeDown = 0xB;
constexpr uint8_t extendedNoteCut = 0xC;
constexpr uint8_t extendedNoteDelay = 0xD;
constexpr uint8_t extendedPatternDelay = 0xE;

// The volume column: 0x10 to 0x50 set the volume (0 to 64); above that the high nibble is the
// command and the low one its value.
constexpr uint8_t volumeColumnSetVolumeFirst = 0x10;
constexpr uint8_t volumeColumnSetVolumeLast = 0x50;
constexpr uint8_t volumeColumnSlideDown = 0x6;
constexpr uint8_t volumeColumnSlideUp = 0x7;
constexpr uint8_t volumeColumnFineDown = 0x8;
constexpr uint8_t volumeColumnFineUp = 0x9;
constexpr uint8_t volumeColumnVibratoSpeed = 0xA;
constexpr uint8_t volumeColumnVibratoDepth = 0xB;
constexpr uint8_t volumeColumnSetPanning = 0xC;
constexpr uint8_t volumeColumnPanningLeft = 0xD;
constexpr uint8_t volumeColumnPanningRight = 0xE;
constexpr uint8_t volumeColumnTonePortamento = 0xF;

// The command of a volume-column byte (its high nibble), and of an Exy parameter.
constexpr uint8_t commandNibble(uint8_t byte) {
    return static_cast<uint8_t>(byte >> 4);
}

// An Exy cell of command x and value y: extendedParam(extendedNoteDelay, 3) is ED3's parameter.
constexpr uint8_t extendedParam(uint8_t x, uint8_t y) {
    return static_cast<uint8_t>(x << 4 | (y & 15));
}

// ---- Samples ----

constexpr int32_t sampleHeaderBytes = 40;
constexpr int32_t sampleLoopStartOffset = 4;
constexpr int32_t sampleLoopLengthOffset = 8;
constexpr int32_t sampleVolumeOffset = 12;
constexpr int32_t sampleFinetuneOffset = 13;
constexpr int32_t sampleTypeOffset = 14;
constexpr int32_t samplePanningOffset = 15;
constexpr int32_t sampleRelativeNoteOffset = 16;
constexpr int32_t samplePackingOffset = 17; // reserved in FT2's own files
constexpr int32_t sampleNameOffset = 18;

constexpr uint8_t sampleLoopForward = 0x01;
constexpr uint8_t sampleLoopPingPong = 0x02;
constexpr uint8_t sampleLoopBits = 0x03; // both set is read as ping-pong
constexpr uint8_t sample16Bit = 0x10;
constexpr uint8_t sampleStereo = 0x20;

// ModPlug Tracker's 4-bit packing of 8-bit mono samples, marked by this value in the packing
// byte: a table of 16 signed steps, then two frames per byte, low nibble first, each adding its
// step to a running 8-bit value.
constexpr uint8_t samplePackingAdpcm = 0xAD;
constexpr int32_t adpcmStepCount = 16;

} // namespace music::xm
