// Controls of the test audio device: the test sets the play position and sees every call.
#pragma once

#include <cstdint>

namespace music {

struct TestDeviceCalls {
    int32_t opens;
    int32_t starts;
    int32_t positionQueries;
    int32_t resets;
    int32_t closes;
};

// Bytes the device reports as played; any thread may set it at any time.
void testDeviceSetBytesPlayed(uint64_t bytes);
void testDeviceAddBytesPlayed(uint64_t bytes);
// While set, opening fails as if there were no sound card.
void testDeviceSetOpenFails(bool fails);
bool testDeviceIsOpen();
// The buffer and length handed to the last start; null after a reset.
const int16_t* testDeviceBuffer();
int32_t testDeviceFrameCount();
TestDeviceCalls testDeviceCalls();
// Clears the counters, the position and the open failure.
void testDeviceReset();

} // namespace music
