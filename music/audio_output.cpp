// Audio output, the half without a device: output sizes, playback reset, chunk rendering, the
// float-to-16-bit conversion and the music clock. Starting and stopping the device and the render
// thread live in playback.cpp, which is linked with the device backend, so a program that only
// renders offline needs no device library.
//
// Threads. Everything here works on one Player and its own output; Players share nothing, so any
// number of them render at once on different threads. Within one device playback the main
// thread starts, pre-renders, stops and reads the clock; the render thread re-renders chunks
// behind the play position. They share only the atomics of the Player's AudioOutput, stored
// with release and loaded with acquire; no lock is taken. The Player's playback fields, its
// voices, channels and both buffers belong to the render thread from its creation until
// stopPlayback has joined it (thread creation and join order everything else).
//
// The clock. When the device has left chunk k, the render thread first moves audibleChunk on to
// k + 1 and publishes index and song time of stamp k + 1 as one 64-bit atomic, and only then
// rewrites chunk k and its stamp. So the stamp that audibleChunk names is never the one being
// rewritten, and the clock, one atomic load, can never see a half-written or a next-pass stamp.
#include "audio_output.h"

#include "channel.h"
#include "format.h"
#include "mixer.h"
#include "module.h"
#include "note_start.h"
#include "sequencer.h"
#include "stream.h"
#include "tempo.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace music {

namespace {

uint64_t packStamp(int32_t chunk, int32_t songTimeMs) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(chunk)) << 32) |
           static_cast<uint32_t>(songTimeMs);
}

} // namespace

void publishAudible(AudioOutput& output, int32_t chunk) {
    const ChunkStamp* stamps = output.stamps.load(std::memory_order_acquire);
    const int32_t time = stamps != nullptr ? stamps[chunk].songTimeMs : 0;
    output.audibleChunk.store(chunk, std::memory_order_release);
    output.audibleStamp.store(packStamp(chunk, time), std::memory_order_release);
}

bool setSampleRate(Player* player, int32_t rateHz) {
    if (player == nullptr || rateHz < minSampleRateHz || rateHz > maxSampleRateHz) return false;
    player->outputRate = rateHz;
    return true;
}

int16_t pcmFromMix(float value) {
    const float r = std::nearbyint(value);
    if (r >= 32767.0f) return 32767;
    if (r <= -32768.0f) return -32768;
    if (r != r) return 0;
    return static_cast<int16_t>(r);
}

void pcmFromMixBlock(const float* mix, int16_t* out, int32_t count) {
    int32_t i = 0;
#if defined(__SSE2__)
    // Clamping before rounding gives what rounding before clamping gives, since both limits are
    // whole numbers; it also keeps the conversion away from its out-of-range result. NaN fails
    // the ordered compare and is masked to 0 first. The conversion rounds in the current mode,
    // as nearbyint does.
    const __m128 highest = _mm_set1_ps(32767.0f);
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_loadu_ps(mix + i);
        __m128 b = _mm_loadu_ps(mix + i + 4);
        a = _mm_min_ps(_mm_and_ps(a, _mm_cmpord_ps(a, a)), highest);
        b = _mm_min_ps(_mm_and_ps(b, _mm_cmpord_ps(b, b)), highest);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < count; ++i) out[i] = pcmFromMix(mix[i]);
}

void setMixControls(Player* player, MixControls controls) {
    player->controls = controls;
}

MixControls mixControls(const Player* player) {
    return player->controls;
}

void applyMixControls(const MixControls& controls, float* mix, int32_t frameCount) {
    const float gain = controls.gain;
    if (controls.separation == 1.0f) {
        if (gain == 1.0f) return;
        for (int32_t i = 0; i < frameCount * 2; ++i) mix[i] *= gain;
        return;
    }
    // Mid and side: the part both sides share stays, the part that differs is scaled.
    const float sideGain = controls.separation * gain;
    for (int32_t i = 0; i < frameCount; ++i) {
        const float left = mix[2 * i];
        const float right = mix[2 * i + 1];
        const float mid = (left + right) * 0.5f * gain;
        const float side = (left - right) * 0.5f * sideGain;
        mix[2 * i] = mid + side;
        mix[2 * i + 1] = mid - side;
    }
}

int32_t runDurationMs(int32_t frameCount, float secondsPerFrame) {
    const float ms = static_cast<float>(frameCount) * secondsPerFrame * 1000.0f;
    return static_cast<int32_t>(ms);
}

bool resetPlayback(Player* player, int32_t ringChunks) {
    if (!streamInterfaceComplete(player->streams)) return false;

    AudioOutput& output = player->output;
    const OutputSizes sizes = outputSizesForRate(player->outputRate);
    if (ringChunks < 1 || ringChunks > sizes.chunkCount) ringChunks = sizes.chunkCount;
    output.chunkFrames = sizes.chunkFrames;
    output.secondsPerFrame = sizes.secondsPerFrame;
    output.bufferFrames = sizes.chunkFrames * ringChunks;
    output.chunkCount = ringChunks;
    setMixerRate(player->mixer, player->outputRate);

    resetSequencer(player);

    output.active = true;
    output.writeChunk.store(0, std::memory_order_release);
    output.audibleChunk.store(0, std::memory_order_release);
    output.audibleStamp.store(0, std::memory_order_release);
    void* stamps = std::calloc(static_cast<size_t>(ringChunks), sizeof(ChunkStamp));
    output.stamps.store(static_cast<ChunkStamp*>(stamps), std::memory_order_release);
    return stamps != nullptr;
}

bool allocateRenderBuffers(AudioOutput& output) {
    // Sized by the ring resetPlayback chose: the device's 100 chunks (the figures of
    // outputSizesForRate), or the offline renderer's single chunk.
    const size_t frames = static_cast<size_t>(output.bufferFrames);
    output.outputBuffer =
        static_cast<int16_t*>(std::calloc(frames * outputChannels, sizeof(int16_t)));
    output.mixAllocation =
        std::calloc(frames * outputChannels * sizeof(float) + mixAllocationSlackBytes, 1);
    if (output.outputBuffer == nullptr || output.mixAllocation == nullptr) return false;
    const uintptr_t raw = reinterpret_cast<uintptr_t>(output.mixAllocation);
    const uintptr_t aligned = (raw + (mixAlignmentBytes - 1)) & ~uintptr_t{mixAlignmentBytes - 1};
    output.mixBuffer = reinterpret_cast<float*>(aligned);
    return true;
}

void releasePlayback(AudioOutput& output) {
    std::free(output.mixAllocation);
    output.mixAllocation = nullptr;
    output.mixBuffer = nullptr;
    std::free(output.outputBuffer);
    output.outputBuffer = nullptr;
    output.active = false;
    std::free(output.stamps.exchange(nullptr, std::memory_order_acq_rel));
    output.writeChunk.store(0, std::memory_order_release);
    output.audibleChunk.store(0, std::memory_order_release);
    output.audibleStamp.store(0, std::memory_order_release);
}

void renderChunk(Player* player) {
    AudioOutput& output = player->output;
    ChunkStamp* stamps = output.stamps.load(std::memory_order_acquire);
    if (!output.active || stamps == nullptr || output.mixBuffer == nullptr ||
        output.outputBuffer == nullptr) {
        return;
    }
    const int32_t chunkFrames = output.chunkFrames;
    const int32_t chunk = output.writeChunk.load(std::memory_order_acquire);
    const size_t first = static_cast<size_t>(chunk) * static_cast<size_t>(chunkFrames) * 2;
    float* mix = output.mixBuffer + first;
    for (int32_t i = 0; i < chunkFrames * 2; ++i) mix[i] = 0.0f;

    int32_t done = 0;
    int32_t left = player->tickSamplesLeft;
    while (done < chunkFrames) {
        if (left <= 0) {
            if (player->tickHandler != nullptr) player->tickHandler(player);
            left = player->samplesPerTick;
            // A tick of no frames would call the handler forever without mixing anything.
            if (left < 1) left = 1;
        }
        int32_t n = left;
        if (n > chunkFrames - done) n = chunkFrames - done;
        mixVoices(player->mixer, mix + static_cast<size_t>(done) * 2, n);
        done += n;
        left -= n;
        // Wraps instead of overflowing after 24.8 days of song time.
        player->songTimeMs =
            static_cast<int32_t>(static_cast<uint32_t>(player->songTimeMs) +
                                 static_cast<uint32_t>(runDurationMs(n, output.secondsPerFrame)));
    }

    stamps[chunk].order = static_cast<uint8_t>(player->order);
    stamps[chunk].row = static_cast<uint8_t>(player->row);
    stamps[chunk].songTimeMs = player->songTimeMs;
    player->tickSamplesLeft = left;

    applyMixControls(player->controls, mix, chunkFrames);
    int16_t* out = output.outputBuffer + first;
    pcmFromMixBlock(mix, out, chunkFrames * 2);

    int32_t next = chunk + 1;
    if (next >= output.chunkCount) next = 0;
    output.writeChunk.store(next, std::memory_order_release);
}

uint32_t musicClockMs(const Player* player) {
    int32_t chunk = 0;
    int32_t time = 0;
    audibleChunkStamp(player, &chunk, &time);
    return static_cast<uint32_t>(time);
}

bool haltPlayback(Player* player) {
    if (player == nullptr) return false;
    if (player->output.stopDevicePlayback != nullptr)
        return player->output.stopDevicePlayback(player);
    releasePlayback(player->output);
    player->output.offlineRunning = false;
    return true;
}

bool audibleChunkStamp(const Player* player, int32_t* chunk, int32_t* songTimeMs) {
    *chunk = 0;
    *songTimeMs = 0;
    if (player == nullptr) return false;
    const AudioOutput& output = player->output;
    if (output.stamps.load(std::memory_order_acquire) == nullptr) return false;
    const uint64_t packed = output.audibleStamp.load(std::memory_order_acquire);
    *chunk = static_cast<int32_t>(packed >> 32);
    *songTimeMs = static_cast<int32_t>(static_cast<uint32_t>(packed));
    return true;
}

} // namespace music
