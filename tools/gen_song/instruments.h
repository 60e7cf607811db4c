// The song's instruments: each one synthesised into a single sample with its envelopes, as
// the file will hold it.
#pragma once

#include "xmwrite.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gensong {

enum class Loop { none, forward, pingPong };

struct Instrument {
    std::string name;
    std::vector<float> wave; // -1..1, normalised when written
    float peak = 0.9f;       // of full scale, after normalising
    bool sixteenBit = true;
    Loop loop = Loop::none;
    uint32_t loopStart = 0;  // frames
    uint32_t loopLength = 0; // frames
    // Volume, finetune, panning and relative note; the rest is filled in when it is written.
    xmwrite::SampleHeader sample;
    // Envelopes, auto-vibrato and fadeout (as stored; the player doubles it); likewise.
    xmwrite::InstrumentHeader header;
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
