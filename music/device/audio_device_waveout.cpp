// Audio device on waveOut: one prepared header loops over the output buffer endlessly, and the
// play position comes from the device's byte counter.
#include "audio_device.h"

#include "device_position.h"
#include "music/format.h"

#include <windows.h>

#include <mmsystem.h>

namespace music {
namespace {

constexpr DWORD loopForever = 0xFFFFFFFFu;

// The backend drives a single device (the demo's one player): its state is the backend's, and a
// second open is refused while it is open.
HWAVEOUT device;
WAVEHDR waveHeader;
// The render thread's alone between start and reset: the last reading, carried on in 64 bits.
uint64_t bytesPlayed;

} // namespace

// The handle is never looked into: any non-null address stands for the one device.
struct AudioDevice {};

namespace {
AudioDevice theDevice;
} // namespace

AudioDevice* audioDeviceOpen(int32_t rateHz) {
    if (device != nullptr) return nullptr;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(outputChannels);
    format.nSamplesPerSec = static_cast<DWORD>(rateHz);
    format.nAvgBytesPerSec = static_cast<DWORD>(rateHz * bytesPerFrame);
    format.nBlockAlign = static_cast<WORD>(bytesPerFrame);
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        device = nullptr;
        return nullptr;
    }
    return &theDevice;
}

void audioDeviceStart(AudioDevice* handle, const int16_t* buffer, int32_t frameCount) {
    if (handle == nullptr || device == nullptr) return;
    waveHeader = WAVEHDR{};
    // The device only reads the buffer; the header's field is not const.
    waveHeader.lpData = reinterpret_cast<LPSTR>(const_cast<int16_t*>(buffer));
    waveHeader.dwBufferLength = static_cast<DWORD>(frameCount) * bytesPerFrame;
    waveHeader.dwBytesRecorded = 0;
    waveHeader.dwUser = 0;
    waveHeader.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    waveHeader.dwLoops = loopForever;
    bytesPlayed = 0;
    waveOutPrepareHeader(device, &waveHeader, sizeof waveHeader);
    waveOutWrite(device, &waveHeader, sizeof waveHeader);
}

uint64_t audioDevicePosition(AudioDevice* handle) {
    if (handle == nullptr || device == nullptr) return 0;
    MMTIME time{};
    time.wType = TIME_BYTES;
    // A failed query, or one answered in another unit, leaves the position where it was.
    if (waveOutGetPosition(device, &time, sizeof time) != MMSYSERR_NOERROR ||
        time.wType != TIME_BYTES) {
        return bytesPlayed;
    }
    bytesPlayed = extendDeviceCounter(bytesPlayed, time.u.cb);
    return bytesPlayed;
}

void audioDeviceReset(AudioDevice* handle) {
    if (handle == nullptr || device == nullptr) return;
    waveOutReset(device);
    if (waveHeader.lpData != nullptr) {
        waveOutUnprepareHeader(device, &waveHeader, sizeof waveHeader);
        waveHeader.dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
        waveHeader.lpData = nullptr;
    }
}

void audioDeviceClose(AudioDevice* handle) {
    if (handle == nullptr) return;
    if (device != nullptr) {
        waveOutClose(device);
        device = nullptr;
    }
    bytesPlayed = 0;
}

} // namespace music
