// The song's instruments: each one synthesised into a single sample with its envelopes, as
// the file will hold it.
#pragma once

#include "xmwrite.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gensong {

struct Envelope {
    std::vector<xmwrite::EnvelopePoint> points;
    uint8_t sustain = 0;
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t type = 0; // xmwrite::ENVELOPE_ON, _SUSTAIN, _LOOP
};

enum class Loop { none, forward, pingPong };

struct Instrument {
    std::string name;
    std::vector<float> wave; // -1..1, normalised when written
    float peak = 0.9f;       // of full scale, after normalising
    bool sixteenBit = true;
    Loop loop = Loop::none;
    uint32_t loopStart = 0;  // frames
    uint32_t loopLength = 0; // frames
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    Envelope volumeEnvelope;
    Envelope panningEnvelope;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeout = 0; // as stored; the player doubles it
};

// Drums and percussion; C-4 plays each at the rate it was made at.
Instrument makeKick();
Instrument makeSnare();
Instrument makeClap();
Instrument makeClosedHat();
Instrument makeOpenHat();
Instrument makeCrash();
Instrument makeTom();
// Bass lines and leads.
Instrument makeBass();
Instrument makeAcid();
Instrument makeLead();
// Pads and colour. The pad and the riser take a length: they fill whatever room the file has.
Instrument makePad(int32_t frames);
Instrument makeChord(bool minor);
Instrument makeArp();
Instrument makeBell();
Instrument makeChoir();
Instrument makeRiser(int32_t frames);
Instrument makeZap();

} // namespace gensong
