// Device playback: start and stop, the pre-render and the render thread that refills every chunk
// the device has finished. Linked with the device backend; the rest of the output needs neither.
//
// The device counts its position in 64 bits, so the play chunk never jumps at a counter wrap.
#include "audio_device.h"
#include "audio_output.h"
#include "thread.h"

#include <cstdint>
#include <cstdlib>

namespace music {

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
    if (!startThread(&audioOutput.renderThreadHandle, renderThread)) {
        // A device looping 2 s of pre-rendered audio forever with a frozen clock is worse than
        // silence: give everything back.
        audioOutput.renderThreadDone.store(1, std::memory_order_release);
        stopPlayback(player);
        return false;
    }
    audioOutput.renderThreadRunning = true;
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
        joinThread(audioOutput.renderThreadHandle);
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
