// The song's fixed shape, shared by the parts that compose, steer and write it.
#pragma once

#include <array>
#include <cstdint>

namespace gensong {

constexpr int32_t moduleBytes = 914017;  // the size the demo hands to the loader
constexpr int32_t unreadTailBytes = 741; // never read: lies after the last instrument
constexpr int32_t channelCount = 6;
constexpr int32_t rowsPerPattern = 64;
constexpr int32_t storedPatternCount = 11;
constexpr int32_t instrumentCount = 18;
constexpr int32_t ticksPerRow = 7;
constexpr int32_t rowsPerBeat = 2;
constexpr int32_t rowsPerBar = 8;
constexpr std::array<uint8_t, 9> orderTable = {9, 4, 5, 8, 1, 1, 1, 2, 7};
constexpr int32_t outputRateHz = 44100; // the player's, and the rate most samples are made at

// Instrument numbers as the patterns name them; the file stores the instruments in this order.
enum InstrumentNumber : uint8_t {
    kick = 1,
    snare,
    clap,
    closedHat,
    openHat,
    crash,
    bass,
    acid,
    lead,
    pad,
    chordMinor,
    chordMajor,
    arp,
    bell,
    choir,
    riser,
    zap,
    tom,
};

} // namespace gensong
