// Audio output, the half without a device: output sizes, playback reset, chunk rendering, the
// float-to-16-bit conversion and the music clock. Starting and stopping the device and the render
// thread live in playback.cpp, which is linked with the device backend, so a program that only
// renders offline needs no device library.
//
// Threads. The main thread starts, pre-renders, stops and reads the clock; the render thread
// re-renders chunks behind the play position. They share only the atomics of AudioOutput, stored
// with release and loaded with acquire; no lock is taken. The Player's playback fields, the voice
// and channel tables and both buffers belong to the render thread from its creation until
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

AudioOutput audioOutput;
int32_t sampleRate = defaultSampleRateHz;

namespace {

MixControls controlsNow{1.0f, 1.0f};

uint64_t packStamp(int32_t chunk, int32_t songTimeMs) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(chunk)) << 32) |
           static_cast<uint32_t>(songTimeMs);
}

bool streamInterfaceComplete() {
    const StreamInterface& s = streamInterface;
    return s.open != nullptr && s.close != nullptr && s.read != nullptr && s.seek != nullptr &&
           s.tell != nullptr;
}

} // namespace

void publishAudible(int32_t chunk) {
    const ChunkStamp* stamps = audioOutput.stamps.load(std::memory_order_acquire);
    const int32_t time = stamps != nullptr ? stamps[chunk].songTimeMs : 0;
    audioOutput.audibleChunk.store(chunk, std::memory_order_release);
    audioOutput.audibleStamp.store(packStamp(chunk, time), std::memory_order_release);
}

bool setSampleRate(int32_t rateHz) {
    if (rateHz < minSampleRateHz || rateHz > maxSampleRateHz) return false;
    sampleRate = rateHz;
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

void setMixControls(MixControls controls) {
    controlsNow = controls;
}

MixControls mixControls() {
    return controlsNow;
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
    if (!streamInterfaceComplete()) return false;

    const OutputSizes sizes = outputSizesForRate(sampleRate);
    if (ringChunks < 1 || ringChunks > sizes.chunkCount) ringChunks = sizes.chunkCount;
    audioOutput.chunkFrames = sizes.chunkFrames;
    audioOutput.secondsPerFrame = sizes.secondsPerFrame;
    audioOutput.bufferFrames = sizes.chunkFrames * ringChunks;
    audioOutput.chunkCount = ringChunks;
    setMixerRate(sampleRate);

    for (int32_t i = 0; i < voiceTableSize; ++i) {
        voiceTable[i] = Voice{};
        voiceTable[i].index = i;
        voiceTable[i].stepWhole = 1;
    }

    player->globalVolume = player->initialGlobalVolume;
    player->tempo = player->defaultTempo;
    player->bpm = player->defaultBpm;
    player->row = 0;
    player->order = 0;
    player->nextOrder = -1;
    player->nextRow = -1;
    player->tickSamplesLeft = 0;
    player->tick = 0;
    player->patternDelayTicks = 0;
    player->songTimeMs = 0;
    player->pendingBreakRow = 0;
    player->globalVolumeTouched = 0;
    player->samplesPerTick = samplesPerTickForBpm(player->bpm);

    // The channel count comes from the file; the table has room for 32.
    int32_t channels = player->channelCount;
    if (channels < 0) channels = 0;
    if (channels > channelTableSize) channels = channelTableSize;
    for (int32_t i = 0; i < channels; ++i) startChannel(player, &channelTable[i], &voiceTable[i]);

    audioOutput.activePlayer = player;
    audioOutput.writeChunk.store(0, std::memory_order_release);
    audioOutput.audibleChunk.store(0, std::memory_order_release);
    audioOutput.audibleStamp.store(0, std::memory_order_release);
    void* stamps = std::calloc(static_cast<size_t>(ringChunks), sizeof(ChunkStamp));
    audioOutput.stamps.store(static_cast<ChunkStamp*>(stamps), std::memory_order_release);
    return stamps != nullptr;
}

bool allocateRenderBuffers() {
    // Sized by the ring resetPlayback chose: the device's 100 chunks (the figures of
    // outputSizesForRate), or the offline renderer's single chunk.
    const size_t frames = static_cast<size_t>(audioOutput.bufferFrames);
    audioOutput.outputBuffer =
        static_cast<int16_t*>(std::calloc(frames * outputChannels, sizeof(int16_t)));
    audioOutput.mixAllocation =
        std::calloc(frames * outputChannels * sizeof(float) + mixAllocationSlackBytes, 1);
    if (audioOutput.outputBuffer == nullptr || audioOutput.mixAllocation == nullptr) return false;
    const uintptr_t raw = reinterpret_cast<uintptr_t>(audioOutput.mixAllocation);
    const uintptr_t aligned = (raw + (mixAlignmentBytes - 1)) & ~uintptr_t{mixAlignmentBytes - 1};
    audioOutput.mixBuffer = reinterpret_cast<float*>(aligned);
    return true;
}

void releasePlayback() {
    std::free(audioOutput.mixAllocation);
    audioOutput.mixAllocation = nullptr;
    audioOutput.mixBuffer = nullptr;
    std::free(audioOutput.outputBuffer);
    audioOutput.outputBuffer = nullptr;
    audioOutput.activePlayer = nullptr;
    std::free(audioOutput.stamps.exchange(nullptr, std::memory_order_acq_rel));
    audioOutput.writeChunk.store(0, std::memory_order_release);
    audioOutput.audibleChunk.store(0, std::memory_order_release);
    audioOutput.audibleStamp.store(0, std::memory_order_release);
}

void renderChunk() {
    Player* player = audioOutput.activePlayer;
    ChunkStamp* stamps = audioOutput.stamps.load(std::memory_order_acquire);
    if (player == nullptr || stamps == nullptr || audioOutput.mixBuffer == nullptr ||
        audioOutput.outputBuffer == nullptr) {
        return;
    }
    const int32_t chunkFrames = audioOutput.chunkFrames;
    const int32_t chunk = audioOutput.writeChunk.load(std::memory_order_acquire);
    const size_t first = static_cast<size_t>(chunk) * static_cast<size_t>(chunkFrames) * 2;
    float* mix = audioOutput.mixBuffer + first;
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
        mixVoices(mix + static_cast<size_t>(done) * 2, n);
        done += n;
        left -= n;
        // Wraps instead of overflowing after 24.8 days of song time.
        player->songTimeMs = static_cast<int32_t>(
            static_cast<uint32_t>(player->songTimeMs) +
            static_cast<uint32_t>(runDurationMs(n, audioOutput.secondsPerFrame)));
    }

    stamps[chunk].order = static_cast<uint8_t>(player->order);
    stamps[chunk].row = static_cast<uint8_t>(player->row);
    stamps[chunk].songTimeMs = player->songTimeMs;
    player->tickSamplesLeft = left;

    applyMixControls(controlsNow, mix, chunkFrames);
    int16_t* out = audioOutput.outputBuffer + first;
    pcmFromMixBlock(mix, out, chunkFrames * 2);

    int32_t next = chunk + 1;
    if (next >= audioOutput.chunkCount) next = 0;
    audioOutput.writeChunk.store(next, std::memory_order_release);
}

uint32_t musicClockMs() {
    int32_t chunk = 0;
    int32_t time = 0;
    audibleChunkStamp(&chunk, &time);
    return static_cast<uint32_t>(time);
}

bool haltPlayback(Player* player) {
    if (player == nullptr) return false;
    if (audioOutput.stopDevicePlayback != nullptr) return audioOutput.stopDevicePlayback(player);
    releasePlayback();
    return true;
}

bool audibleChunkStamp(int32_t* chunk, int32_t* songTimeMs) {
    *chunk = 0;
    *songTimeMs = 0;
    if (audioOutput.stamps.load(std::memory_order_acquire) == nullptr) return false;
    const uint64_t packed = audioOutput.audibleStamp.load(std::memory_order_acquire);
    *chunk = static_cast<int32_t>(packed >> 32);
    *songTimeMs = static_cast<int32_t>(static_cast<uint32_t>(packed));
    return true;
}

} // namespace music
