// Audio device on SDL2: a callback loops over the output buffer and counts what it handed over.
// Every open is a device of its own, so several Players can play at once, each on its own.
#include "audio_device.h"

#include "music/format.h"

#include <SDL.h>

#include <atomic>
#include <cstring>
#include <new>

namespace music {

struct AudioDevice {
    SDL_AudioDeviceID id = 0;
    uint32_t bufferBytes = 0;
    std::atomic<const int16_t*> loopBuffer{nullptr};
    std::atomic<int32_t> loopFrames{0};
    std::atomic<uint64_t> bytesDelivered{0};
    int32_t readFrame = 0; // callback only, or under the device lock
};

namespace {

// Small device buffer: the position is only known to one callback's worth of frames.
constexpr int32_t deviceBufferFrames = 512;

void fill(void* data, Uint8* stream, int byteCount) {
    AudioDevice& d = *static_cast<AudioDevice*>(data);
    const int16_t* buffer = d.loopBuffer.load(std::memory_order_acquire);
    const int32_t frames = d.loopFrames.load(std::memory_order_acquire);
    if (buffer == nullptr || frames <= 0 || byteCount <= 0) {
        if (byteCount > 0) std::memset(stream, 0, static_cast<size_t>(byteCount));
        return;
    }
    int32_t wanted = byteCount / bytesPerFrame;
    Uint8* to = stream;
    while (wanted > 0) {
        int32_t n = frames - d.readFrame;
        if (n > wanted) n = wanted;
        std::memcpy(to, buffer + static_cast<size_t>(d.readFrame) * outputChannels,
                    static_cast<size_t>(n) * bytesPerFrame);
        to += static_cast<size_t>(n) * bytesPerFrame;
        wanted -= n;
        d.readFrame += n;
        if (d.readFrame >= frames) d.readFrame = 0;
    }
    d.bytesDelivered.fetch_add(static_cast<uint64_t>(byteCount), std::memory_order_release);
}

} // namespace

AudioDevice* audioDeviceOpen(int32_t rateHz) {
    // SDL counts the subsystem's starts: each device keeps it started until it is closed.
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
    auto* d = new (std::nothrow) AudioDevice{};
    if (d == nullptr) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = rateHz;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(outputChannels);
    wanted.samples = static_cast<Uint16>(deviceBufferFrames);
    wanted.callback = fill;
    wanted.userdata = d;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts, so the callback always sees our own format.
    d->id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (d->id == 0) {
        delete d;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    d->bufferBytes = obtained.size;
    return d;
}

void audioDeviceStart(AudioDevice* d, const int16_t* buffer, int32_t frameCount) {
    if (d == nullptr) return;
    SDL_LockAudioDevice(d->id);
    d->readFrame = 0;
    d->bytesDelivered.store(0, std::memory_order_release);
    d->loopFrames.store(frameCount, std::memory_order_release);
    d->loopBuffer.store(buffer, std::memory_order_release);
    SDL_UnlockAudioDevice(d->id);
    SDL_PauseAudioDevice(d->id, 0);
}

// What has been handed over minus what still sits in the device buffer: never ahead of what
// was heard, so the renderer never overwrites frames still to be played.
uint64_t audioDevicePosition(AudioDevice* d) {
    if (d == nullptr) return 0;
    const uint64_t delivered = d->bytesDelivered.load(std::memory_order_acquire);
    return delivered > d->bufferBytes ? delivered - d->bufferBytes : 0;
}

void audioDeviceReset(AudioDevice* d) {
    if (d == nullptr) return;
    SDL_PauseAudioDevice(d->id, 1);
    // Taking the lock waits for a running callback, so the buffer is free once this returns.
    SDL_LockAudioDevice(d->id);
    d->loopBuffer.store(nullptr, std::memory_order_release);
    d->loopFrames.store(0, std::memory_order_release);
    SDL_UnlockAudioDevice(d->id);
}

void audioDeviceClose(AudioDevice* d) {
    if (d == nullptr) return;
    SDL_CloseAudioDevice(d->id);
    delete d;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

} // namespace music
