// No audio device: opening always fails, so playback never starts and the clock stays at 0.
#include "audio_device.h"

namespace music {

bool audioDeviceOpen(int32_t /*rateHz*/) {
    return false;
}
void audioDeviceStart(const int16_t*, int32_t) {}
uint64_t audioDevicePosition() {
    return 0;
}
void audioDeviceReset() {}
void audioDeviceClose() {}

} // namespace music
