// Device positions that the platform reports in a 32-bit counter, carried on in 64 bits.
#pragma once

#include <cstdint>

namespace music {

// The 64-bit count that ends in the 32-bit reading now, given the count at the previous reading:
// the counter only moves forward and is read far more often than once per 2^32 bytes (6.8 hours
// of 16-bit stereo at 44100 Hz), so the low 32 bits' forward distance is what was played.
constexpr uint64_t extendDeviceCounter(uint64_t previous, uint32_t now) {
    return previous + static_cast<uint32_t>(now - static_cast<uint32_t>(previous));
}

} // namespace music
