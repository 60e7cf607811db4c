// The audio device the output plays through: one endless loop over a 16-bit stereo buffer.
// Exactly one backend is linked (SDL, test or none); CMake chooses.
#pragma once

#include <cstdint>

namespace music {

// A backend's open device; each device playback has its own.
struct AudioDevice;

// Opens a device for 16-bit stereo at rateHz frames per second. Null when there is no device,
// or when the backend drives a single device and that one is open already (waveOut, Web Audio
// and the test device; SDL opens as many as the system gives).
AudioDevice* audioDeviceOpen(int32_t rateHz);
// Starts looping over frameCount frames at buffer; the device reads it, never writes it.
void audioDeviceStart(AudioDevice* device, const int16_t* buffer, int32_t frameCount);
// Bytes played since audioDeviceStart, counted in 64 bits so it never wraps.
uint64_t audioDevicePosition(AudioDevice* device);
// Stops playing the buffer; the buffer may be freed afterwards.
void audioDeviceReset(AudioDevice* device);
// Closes and frees the device; null does nothing.
void audioDeviceClose(AudioDevice* device);

} // namespace music
