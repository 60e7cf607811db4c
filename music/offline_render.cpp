// Offline rendering: renders chunk after chunk with renderChunk and hands out the 16-bit frames.
#include "offline_render.h"

#include "audio_output.h"

#include <cstring>

namespace music {
namespace {

constexpr int32_t offlineRingChunks = 1;
// The mix is in 16-bit units; float output has 16-bit full scale at 1.0.
constexpr float mixToUnit = 1.0f / 32768.0f;

struct OfflineState {
    Player* player;
    bool running;
    int32_t chunk;           // chunk whose frames are being handed out
    int32_t framesHandedOut; // of that chunk; chunkFrames when it is used up
    int64_t chunksRendered;
    ChunkStamp lastStamp;
};

OfflineState offline;

// A device playback started since offlineBegin took the global state over.
bool stillOurs() {
    return offline.running && audioOutput.activePlayer == offline.player &&
           !audioOutput.renderThreadRunning && audioOutput.outputBuffer != nullptr;
}

} // namespace

bool offlineBegin(Player* player) {
    if (player == nullptr) return false;
    offlineEnd();
    haltPlayback(player);
    offline = OfflineState{};
    // Each chunk is handed out before the next is rendered, so a ring of one chunk is enough.
    if (!resetPlayback(player, offlineRingChunks) || !allocateRenderBuffers()) {
        releasePlayback();
        return false;
    }
    offline.player = player;
    offline.running = true;
    offline.framesHandedOut = audioOutput.chunkFrames;
    return true;
}

namespace {

// Hands out frames of the chunks rendered, rendering the next chunk whenever one is used up;
// copy moves n frames from the chunk's place at frame offset into out.
template <typename Copy> int32_t handOut(int32_t frameCount, Copy copy) {
    if (!stillOurs() || frameCount <= 0) return 0;
    const int32_t chunkFrames = audioOutput.chunkFrames;
    int32_t written = 0;
    while (written < frameCount) {
        if (offline.framesHandedOut >= chunkFrames) {
            offline.chunk = audioOutput.writeChunk.load(std::memory_order_acquire);
            renderChunk();
            offline.lastStamp = audioOutput.stamps.load(std::memory_order_acquire)[offline.chunk];
            offline.framesHandedOut = 0;
            ++offline.chunksRendered;
        }
        int32_t n = chunkFrames - offline.framesHandedOut;
        if (n > frameCount - written) n = frameCount - written;
        const size_t from =
            (static_cast<size_t>(offline.chunk) * chunkFrames + offline.framesHandedOut) * 2;
        copy(static_cast<size_t>(written) * 2, from, n);
        offline.framesHandedOut += n;
        written += n;
    }
    return written;
}

} // namespace

int32_t offlineRender(int16_t* out, int32_t frameCount) {
    return handOut(frameCount, [out](size_t to, size_t from, int32_t n) {
        std::memcpy(out + to, audioOutput.outputBuffer + from,
                    static_cast<size_t>(n) * 2 * sizeof(int16_t));
    });
}

int32_t offlineRenderFloat(float* out, int32_t frameCount) {
    return handOut(frameCount, [out](size_t to, size_t from, int32_t n) {
        const float* mix = audioOutput.mixBuffer + from;
        for (int32_t i = 0; i < n * 2; ++i) out[to + i] = mix[i] * mixToUnit;
    });
}

ChunkStamp offlineLastStamp() {
    return offline.lastStamp;
}

int64_t offlineChunksRendered() {
    return offline.chunksRendered;
}

void offlineEnd() {
    if (stillOurs()) releasePlayback();
    offline.running = false;
    offline.player = nullptr;
}

} // namespace music
