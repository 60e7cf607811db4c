// Device playback: start and stop, the pre-render and the render thread that refills every chunk
// the device has finished. Linked with the device backend; the rest of the output needs neither.
//
// The device counts its position in 64 bits, so the play chunk never jumps at a counter wrap.
#include "audio_device.h"
#include "audio_output.h"

#include <pthread.h>
#include <sched.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace music {
namespace {

void sleepMs(int32_t ms) {
    timespec t{};
    t.tv_sec = ms / 1000;
    t.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&t, &t) != 0) {
    }
}

void* renderThreadEntry(void*) {
    renderThread();
    return nullptr;
}

// The render thread should get the highest priority the system grants; without the right to
// real-time scheduling it keeps the default, which still works with a 2 s buffer.
void raisePriority(pthread_t thread) {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    if (param.sched_priority >= 0) pthread_setschedparam(thread, SCHED_FIFO, &param);
}

} // namespace

bool startPlayback(Player* player) {
    if (player == nullptr) return false;
    stopPlayback(player);
    // From here on every way out leaves something for stopPlayback to undo, also when
    // destroyPlayer is what calls it.
    audioOutput.stopDevicePlayback = stopPlayback;
    if (!resetPlayback(player, chunksPerBuffer)) return false;

    if (!audioDeviceOpen()) return false;
    if (!allocateRenderBuffers()) {
        stopPlayback(player);
        return false;
    }

    const int32_t chunkCount = audioOutput.chunkCount;
    for (int32_t i = 0; i < chunkCount; ++i) renderChunk();
    publishAudible(0);

    audioDeviceStart(audioOutput.outputBuffer, audioOutput.bufferFrames);

    audioOutput.stopRequested.store(0, std::memory_order_release);
    audioOutput.renderThreadDone.store(0, std::memory_order_release);
    if (pthread_create(&audioOutput.renderThreadHandle, nullptr, renderThreadEntry, nullptr) != 0) {
        // A device looping 2 s of pre-rendered audio forever with a frozen clock is worse than
        // silence: give everything back.
        audioOutput.renderThreadDone.store(1, std::memory_order_release);
        stopPlayback(player);
        return false;
    }
    audioOutput.renderThreadRunning = true;
    raisePriority(audioOutput.renderThreadHandle);
    return true;
}

int32_t renderThread() {
    audioOutput.renderThreadDone.store(0, std::memory_order_release);
    const int32_t chunkFrames = audioOutput.chunkFrames;
    const int32_t bufferFrames = audioOutput.bufferFrames;
    const int32_t chunkCount = audioOutput.chunkCount;
    while (audioOutput.stopRequested.load(std::memory_order_acquire) == 0) {
        const uint64_t bytes = audioDevicePosition();
        const int32_t playChunk = playChunkForPosition(bytes, chunkFrames, bufferFrames);
        while (audioOutput.writeChunk.load(std::memory_order_acquire) != playChunk) {
            audioOutput.renderBusy.store(1, std::memory_order_release);
            int32_t audible = audioOutput.audibleChunk.load(std::memory_order_acquire) + 1;
            if (audible >= chunkCount) audible = 0;
            publishAudible(audible);
            renderChunk();
            audioOutput.renderBusy.store(0, std::memory_order_release);
        }
        sleepMs(renderPollMs);
    }
    audioOutput.renderThreadDone.store(1, std::memory_order_release);
    return 0;
}

bool stopPlayback(Player* player) {
    if (player == nullptr) return false;
    audioOutput.stopRequested.store(1, std::memory_order_release);
    while (audioOutput.renderBusy.load(std::memory_order_acquire) != 0) {
    }
    if (audioOutput.renderThreadRunning) {
        while (audioOutput.renderThreadDone.load(std::memory_order_acquire) == 0) {
            sleepMs(stopPollMs);
        }
        pthread_join(audioOutput.renderThreadHandle, nullptr);
        audioOutput.renderThreadRunning = false;
    }
    // The device still reads the output buffer until it is reset; the mix buffer it never sees.
    std::free(audioOutput.mixAllocation);
    audioOutput.mixAllocation = nullptr;
    audioOutput.mixBuffer = nullptr;
    audioDeviceReset();
    releasePlayback();
    audioDeviceClose();
    audioOutput.stopDevicePlayback = nullptr;
    return true;
}

} // namespace music
