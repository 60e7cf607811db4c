// Deterministic generator of XM modules for benchmarks, soak runs and the fuzz corpus.
#pragma once

#include <cstdint>
#include <vector>

namespace benchgen {

// What a generated module looks like. Everything else follows from the seed.
struct SongShape {
    int32_t channelCount;    // 1..32
    int32_t patternCount;    // distinct patterns, played once each in order
    int32_t rowsPerPattern;  // 1..256
    int32_t instrumentCount; // 1..8: the synthesised instrument set, cycled
    int32_t sampleFrames;    // rough sample size in frames; small values keep files small
    bool linearFrequencies;  // false: Amiga frequency table
    bool flowEffects;        // add pattern break, position jump, pattern loop and delay
    uint32_t seed;
};

// A module of about 60 s at tempo 6 / BPM 125 with notes on most rows of every channel, looping
// 8- and 16-bit samples (forward and ping-pong) and ordinary effects.
SongShape benchShape(int32_t channelCount);

// Serialises a whole module: header, packed patterns, instruments, delta-coded sample data.
std::vector<uint8_t> generateModule(const SongShape& shape);

// Seconds the module plays before its order list ends (tempo 6, BPM 125 throughout unless
// flowEffects is set, in which case this is only a rough figure).
double nominalSeconds(const SongShape& shape);

} // namespace benchgen
