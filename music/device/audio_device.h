// The audio device the output plays through: one endless loop over a 16-bit stereo buffer.
// Exactly one backend is linked (SDL, test or none); CMake chooses.
#pragma once

#include <cstdint>

namespace music {

// Opens the device for 16-bit stereo at rateHz frames per second. False when there is no device.
bool audioDeviceOpen(int32_t rateHz);
// Starts looping over frameCount frames at buffer; the device reads it, never writes it.
void audioDeviceStart(const int16_t* buffer, int32_t frameCount);
// Bytes played since audioDeviceStart, counted in 64 bits so it never wraps.
uint64_t audioDevicePosition();
// Stops playing the buffer; the buffer may be freed afterwards.
void audioDeviceReset();
void audioDeviceClose();

} // namespace music
