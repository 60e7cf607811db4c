// Audio device on SDL2: a callback loops over the output buffer and counts what it handed over.
#include "audio_device.h"

#include "music/format.h"

#include <SDL.h>

#include <atomic>
#include <cstring>

namespace music {
namespace {

// Small device buffer: the position is only known to one callback's worth of frames.
constexpr int32_t deviceBufferFrames = 512;

// The one device of the process (see playback.cpp: device playback goes to one Player at a
// time), so its state is the backend's, not a Player's.
SDL_AudioDeviceID device;
bool subsystemStarted;
uint32_t deviceBufferBytes;
std::atomic<const int16_t*> loopBuffer;
std::atomic<int32_t> loopFrames;
std::atomic<uint64_t> bytesDelivered;
int32_t readFrame; // callback only, or under the device lock

void fill(void*, Uint8* stream, int byteCount) {
    const int16_t* buffer = loopBuffer.load(std::memory_order_acquire);
    const int32_t frames = loopFrames.load(std::memory_order_acquire);
    if (buffer == nullptr || frames <= 0 || byteCount <= 0) {
        if (byteCount > 0) std::memset(stream, 0, static_cast<size_t>(byteCount));
        return;
    }
    int32_t wanted = byteCount / bytesPerFrame;
    Uint8* to = stream;
    while (wanted > 0) {
        int32_t n = frames - readFrame;
        if (n > wanted) n = wanted;
        std::memcpy(to, buffer + static_cast<size_t>(readFrame) * outputChannels,
                    static_cast<size_t>(n) * bytesPerFrame);
        to += static_cast<size_t>(n) * bytesPerFrame;
        wanted -= n;
        readFrame += n;
        if (readFrame >= frames) readFrame = 0;
    }
    bytesDelivered.fetch_add(static_cast<uint64_t>(byteCount), std::memory_order_release);
}

} // namespace

bool audioDeviceOpen(int32_t rateHz) {
    audioDeviceClose();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    subsystemStarted = true;
    SDL_AudioSpec wanted{};
    wanted.freq = rateHz;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(outputChannels);
    wanted.samples = static_cast<Uint16>(deviceBufferFrames);
    wanted.callback = fill;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts, so the callback always sees our own format.
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemStarted = false;
        return false;
    }
    deviceBufferBytes = obtained.size;
    return true;
}

void audioDeviceStart(const int16_t* buffer, int32_t frameCount) {
    if (device == 0) return;
    SDL_LockAudioDevice(device);
    readFrame = 0;
    bytesDelivered.store(0, std::memory_order_release);
    loopFrames.store(frameCount, std::memory_order_release);
    loopBuffer.store(buffer, std::memory_order_release);
    SDL_UnlockAudioDevice(device);
    SDL_PauseAudioDevice(device, 0);
}

// What has been handed over minus what still sits in the device buffer: never ahead of what
// was heard, so the renderer never overwrites frames still to be played.
uint64_t audioDevicePosition() {
    const uint64_t delivered = bytesDelivered.load(std::memory_order_acquire);
    return delivered > deviceBufferBytes ? delivered - deviceBufferBytes : 0;
}

void audioDeviceReset() {
    if (device == 0) return;
    SDL_PauseAudioDevice(device, 1);
    // Taking the lock waits for a running callback, so the buffer is free once this returns.
    SDL_LockAudioDevice(device);
    loopBuffer.store(nullptr, std::memory_order_release);
    loopFrames.store(0, std::memory_order_release);
    SDL_UnlockAudioDevice(device);
}

void audioDeviceClose() {
    if (device != 0) {
        SDL_CloseAudioDevice(device);
        device = 0;
    }
    if (subsystemStarted) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemStarted = false;
    }
    bytesDelivered.store(0, std::memory_order_release);
}

} // namespace music
