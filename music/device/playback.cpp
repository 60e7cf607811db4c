// Device playback: start and stop, the pre-render and the render thread that refills every chunk
// the device has finished. Linked with the device backend; the rest of the output needs neither.
//
// The device counts its position in 64 bits, so the play chunk never jumps at a counter wrap.
#include "audio_device.h"
#include "music/audio_output.h"
#include "music/module.h"
#include "music/thread.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace music {
namespace {

// The one Player that plays through the device. The backends drive a single device each, opened
// and closed through functions without a handle, and the render thread's routine takes no
// argument: both are resources of the process, not of a Player, so device playback goes to one
// Player at a time and a second Player asking for it is refused. Offline rendering has no such
// limit. Set by startPlayback before the thread starts and cleared by stopPlayback after it has
// joined.
std::atomic<Player*> devicePlayer{nullptr};

} // namespace

Player* devicePlaybackOwner() {
    return devicePlayer.load(std::memory_order_acquire);
}

bool startPlayback(Player* player) {
    if (player == nullptr) return false;
    stopPlayback(player);
    Player* expected = nullptr;
    if (!devicePlayer.compare_exchange_strong(expected, player, std::memory_order_acq_rel))
        return false;
    AudioOutput& output = player->output;
    // From here on every way out leaves something for stopPlayback to undo, also when
    // destroyPlayer is what calls it.
    output.stopDevicePlayback = stopPlayback;
    if (!resetPlayback(player, chunksPerBuffer)) return false;

    if (!audioDeviceOpen(player->outputRate)) return false;
    if (!allocateRenderBuffers(output)) {
        stopPlayback(player);
        return false;
    }

    const int32_t chunkCount = output.chunkCount;
    for (int32_t i = 0; i < chunkCount; ++i) renderChunk(player);
    publishAudible(output, 0);

    audioDeviceStart(output.outputBuffer, output.bufferFrames);

    output.stopRequested.store(0, std::memory_order_release);
    output.renderThreadDone.store(0, std::memory_order_release);
    if (!startThread(&output.renderThreadHandle, renderThread)) {
        // A device looping 2 s of pre-rendered audio forever with a frozen clock is worse than
        // silence: give everything back.
        output.renderThreadDone.store(1, std::memory_order_release);
        stopPlayback(player);
        return false;
    }
    output.renderThreadRunning = true;
    return true;
}

int32_t renderThread() {
    Player* player = devicePlayer.load(std::memory_order_acquire);
    if (player == nullptr) return 0;
    AudioOutput& output = player->output;
    output.renderThreadDone.store(0, std::memory_order_release);
    const int32_t chunkFrames = output.chunkFrames;
    const int32_t bufferFrames = output.bufferFrames;
    const int32_t chunkCount = output.chunkCount;
    while (output.stopRequested.load(std::memory_order_acquire) == 0) {
        const uint64_t bytes = audioDevicePosition();
        const int32_t playChunk = playChunkForPosition(bytes, chunkFrames, bufferFrames);
        while (output.writeChunk.load(std::memory_order_acquire) != playChunk) {
            output.renderBusy.store(1, std::memory_order_release);
            int32_t audible = output.audibleChunk.load(std::memory_order_acquire) + 1;
            if (audible >= chunkCount) audible = 0;
            publishAudible(output, audible);
            renderChunk(player);
            output.renderBusy.store(0, std::memory_order_release);
        }
        sleepMs(renderPollMs);
    }
    output.renderThreadDone.store(1, std::memory_order_release);
    return 0;
}

bool stopPlayback(Player* player) {
    if (player == nullptr) return false;
    AudioOutput& output = player->output;
    if (devicePlayer.load(std::memory_order_acquire) != player) {
        // Never played through the device: only an offline render of its own can be running.
        if (output.stopDevicePlayback == nullptr) {
            releasePlayback(output);
            output.offlineRunning = false;
        }
        return true;
    }
    output.stopRequested.store(1, std::memory_order_release);
    while (output.renderBusy.load(std::memory_order_acquire) != 0) {
    }
    if (output.renderThreadRunning) {
        while (output.renderThreadDone.load(std::memory_order_acquire) == 0) {
            sleepMs(stopPollMs);
        }
        joinThread(output.renderThreadHandle);
        output.renderThreadRunning = false;
    }
    // The device still reads the output buffer until it is reset; the mix buffer it never sees.
    std::free(output.mixAllocation);
    output.mixAllocation = nullptr;
    output.mixBuffer = nullptr;
    audioDeviceReset();
    releasePlayback(output);
    output.offlineRunning = false;
    audioDeviceClose();
    output.stopDevicePlayback = nullptr;
    devicePlayer.store(nullptr, std::memory_order_release);
    return true;
}

} // namespace music
