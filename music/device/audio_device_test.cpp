// Test audio device: plays nothing; its position is whatever the test sets.
#include "audio_device_test.h"
#include "audio_device.h"

#include <atomic>

namespace music {
namespace {

// The one test device of the process: the tests drive it through the functions below, so it
// stands for a backend that has a single device, and a second open is refused while it is open.
std::atomic<uint64_t> bytesPlayed;
std::atomic<bool> openFails;
std::atomic<bool> isOpen;
std::atomic<const int16_t*> buffer;
std::atomic<int32_t> frameCount;
std::atomic<int32_t> opens, starts, positionQueries, resets, closes;

} // namespace

// The handle is never looked into: any non-null address stands for the one device.
struct AudioDevice {};

namespace {
AudioDevice theDevice;
} // namespace

AudioDevice* audioDeviceOpen(int32_t /*rateHz*/) {
    opens.fetch_add(1);
    if (openFails.load()) return nullptr;
    bool wasOpen = false;
    if (!isOpen.compare_exchange_strong(wasOpen, true)) return nullptr;
    return &theDevice;
}

void audioDeviceStart(AudioDevice* device, const int16_t* frames, int32_t count) {
    starts.fetch_add(1);
    if (device == nullptr || !isOpen.load()) return;
    buffer.store(frames);
    frameCount.store(count);
}

uint64_t audioDevicePosition(AudioDevice* /*device*/) {
    positionQueries.fetch_add(1);
    return bytesPlayed.load(std::memory_order_acquire);
}

void audioDeviceReset(AudioDevice* device) {
    if (device == nullptr) return;
    resets.fetch_add(1);
    buffer.store(nullptr);
    frameCount.store(0);
}

void audioDeviceClose(AudioDevice* device) {
    if (device == nullptr) return;
    closes.fetch_add(1);
    isOpen.store(false);
}

void testDeviceSetBytesPlayed(uint64_t bytes) {
    bytesPlayed.store(bytes, std::memory_order_release);
}
void testDeviceAddBytesPlayed(uint64_t bytes) {
    bytesPlayed.fetch_add(bytes, std::memory_order_acq_rel);
}
void testDeviceSetOpenFails(bool fails) {
    openFails.store(fails);
}
bool testDeviceIsOpen() {
    return isOpen.load();
}
const int16_t* testDeviceBuffer() {
    return buffer.load();
}
int32_t testDeviceFrameCount() {
    return frameCount.load();
}

TestDeviceCalls testDeviceCalls() {
    return TestDeviceCalls{opens.load(), starts.load(), positionQueries.load(), resets.load(),
                           closes.load()};
}

void testDeviceReset() {
    bytesPlayed.store(0);
    openFails.store(false);
    opens.store(0);
    starts.store(0);
    positionQueries.store(0);
    resets.store(0);
    closes.store(0);
}

} // namespace music
