// No audio device: opening always fails, so playback never starts and the clock stays at 0.
#include "audio_device.h"

namespace music {

AudioDevice* audioDeviceOpen(int32_t /*rateHz*/) {
    return nullptr;
}
void audioDeviceStart(AudioDevice*, const int16_t*, int32_t) {}
uint64_t audioDevicePosition(AudioDevice*) {
    return 0;
}
void audioDeviceReset(AudioDevice*) {}
void audioDeviceClose(AudioDevice*) {}

} // namespace music
