// Offline rendering: renders chunk after chunk with renderChunk and hands out the 16-bit frames.
#include "offline_render.h"

#include "audio_output.h"
#include "module.h"

#include <cstring>

namespace music {
namespace {

constexpr int32_t offlineRingChunks = 1;
// The mix is in 16-bit units; float output has 16-bit full scale at 1.0.
constexpr float mixToUnit = 1.0f / 32768.0f;

// A device playback of the Player started since offlineBegin took its output over.
bool stillOffline(const AudioOutput& output) {
    return output.offlineRunning && output.active && !output.renderThreadRunning &&
           output.outputBuffer != nullptr;
}

} // namespace

bool offlineBegin(Player* player) {
    if (player == nullptr) return false;
    offlineEnd(player);
    haltPlayback(player);
    AudioOutput& output = player->output;
    output.offlineChunk = 0;
    output.chunksRendered = 0;
    output.lastStamp = ChunkStamp{};
    // Each chunk is handed out before the next is rendered, so a ring of one chunk is enough.
    if (!resetPlayback(player, offlineRingChunks) || !allocateRenderBuffers(output)) {
        releasePlayback(output);
        return false;
    }
    output.offlineRunning = true;
    output.framesHandedOut = output.chunkFrames;
    return true;
}

namespace {

// Hands out frames of the chunks rendered, rendering the next chunk whenever one is used up;
// copy moves n frames from the chunk's place at frame offset into out.
template <typename Copy> int32_t handOut(Player* player, int32_t frameCount, Copy copy) {
    if (player == nullptr || !stillOffline(player->output) || frameCount <= 0) return 0;
    AudioOutput& output = player->output;
    const int32_t chunkFrames = output.chunkFrames;
    int32_t written = 0;
    while (written < frameCount) {
        if (output.framesHandedOut >= chunkFrames) {
            output.offlineChunk = output.writeChunk.load(std::memory_order_acquire);
            renderChunk(player);
            output.lastStamp = output.stamps.load(std::memory_order_acquire)[output.offlineChunk];
            output.framesHandedOut = 0;
            ++output.chunksRendered;
        }
        int32_t n = chunkFrames - output.framesHandedOut;
        if (n > frameCount - written) n = frameCount - written;
        const size_t from =
            (static_cast<size_t>(output.offlineChunk) * chunkFrames + output.framesHandedOut) * 2;
        copy(output, static_cast<size_t>(written) * 2, from, n);
        output.framesHandedOut += n;
        written += n;
    }
    return written;
}

} // namespace

int32_t offlineRender(Player* player, int16_t* out, int32_t frameCount) {
    return handOut(player, frameCount,
                   [out](const AudioOutput& output, size_t to, size_t from, int32_t n) {
                       std::memcpy(out + to, output.outputBuffer + from,
                                   static_cast<size_t>(n) * 2 * sizeof(int16_t));
                   });
}

int32_t offlineRenderFloat(Player* player, float* out, int32_t frameCount) {
    return handOut(player, frameCount,
                   [out](const AudioOutput& output, size_t to, size_t from, int32_t n) {
                       const float* mix = output.mixBuffer + from;
                       for (int32_t i = 0; i < n * 2; ++i) out[to + i] = mix[i] * mixToUnit;
                   });
}

ChunkStamp offlineLastStamp(const Player* player) {
    return player != nullptr ? player->output.lastStamp : ChunkStamp{};
}

int64_t offlineChunksRendered(const Player* player) {
    return player != nullptr ? player->output.chunksRendered : 0;
}

void offlineEnd(Player* player) {
    if (player == nullptr) return;
    if (stillOffline(player->output)) releasePlayback(player->output);
    player->output.offlineRunning = false;
}

} // namespace music
