// Audio output: the looping chunk buffer, the render thread, chunk stamps and the music clock.
#pragma once

#include "thread.h"

#include <atomic>
#include <cstdint>

namespace music {

struct Player;

struct ChunkStamp {
    uint8_t order;      // low byte of the Player's order after the chunk was mixed
    uint8_t row;        // low byte of the Player's row after the chunk was mixed
    int32_t songTimeMs; // the Player's songTimeMs after the chunk was mixed
};

constexpr int32_t chunksPerBuffer = 100;
constexpr int32_t chunkDurationMs = 20;
constexpr int32_t rampFramesAt44100 = 128;
constexpr int32_t mixAlignmentBytes = 16;
constexpr int32_t mixAllocationSlackBytes = 256;
constexpr int32_t renderPollMs = 5;
constexpr int32_t stopPollMs = 10;

// Every size of the output follows from the rate alone.
struct OutputSizes {
    int32_t chunkFrames;  // rate * 20 / 1000 rounded up to a multiple of 4
    int32_t bufferFrames; // chunkFrames * 100
    int32_t chunkCount;   // bufferFrames / chunkFrames
    int32_t rampLength;   // frames
    float secondsPerFrame;
    float rampLengthReciprocal;
    int32_t outputBufferBytes;  // 16-bit stereo
    int32_t mixAllocationBytes; // two floats per frame plus room to align
    int32_t bytesPerSecond;
};

constexpr OutputSizes outputSizesForRate(int32_t rateHz) {
    OutputSizes s{};
    s.chunkFrames = (rateHz * chunkDurationMs / 1000 + 3) & ~3;
    s.bufferFrames = s.chunkFrames * chunksPerBuffer;
    s.chunkCount = s.chunkFrames > 0 ? s.bufferFrames / s.chunkFrames : 0;
    s.rampLength = rateHz * rampFramesAt44100 / 44100;
    s.secondsPerFrame = 1.0f / static_cast<float>(rateHz);
    s.rampLengthReciprocal = 1.0f / static_cast<float>(s.rampLength);
    s.outputBufferBytes = s.bufferFrames * 4;
    s.mixAllocationBytes = s.bufferFrames * 8 + mixAllocationSlackBytes;
    s.bytesPerSecond = rateHz * 4;
    return s;
}

// Which chunk the device is playing, from the bytes it has played since it started.
constexpr int32_t playChunkForPosition(uint64_t bytesPlayed, int32_t chunkFrames,
                                       int32_t bufferFrames) {
    const uint64_t playFrame = bytesPlayed / 4;
    return static_cast<int32_t>(playFrame % static_cast<uint64_t>(bufferFrames)) / chunkFrames;
}

// One mixed float to a 16-bit sample: nearest, ties to even, clamped; NaN becomes 0.
int16_t pcmFromMix(float value);
// count mixed floats to 16-bit samples, each exactly as pcmFromMix converts it.
void pcmFromMixBlock(const float* mix, int16_t* out, int32_t count);

// What the listener asks of the whole mix, applied to each chunk after mixing and before the
// 16-bit conversion. At gain 1 and separation 1 the chunk is left untouched, bit for bit.
struct MixControls {
    float gain;       // linear factor on both sides
    float separation; // factor on the side (left minus right) part: 0 mono, 1 as mixed, 2 wider
};
void setMixControls(MixControls controls);
MixControls mixControls();
// Applies controls to frameCount interleaved stereo frames of mix in place.
void applyMixControls(const MixControls& controls, float* mix, int32_t frameCount);

// Song time a run of frameCount frames adds, truncated to whole ms in single precision.
int32_t runDurationMs(int32_t frameCount, float secondsPerFrame);

// One instance; at most one Player plays at a time. The render thread and the main thread share
// only the atomics; everything else belongs to whichever thread renders (see audio_output.cpp).
struct AudioOutput {
    int32_t chunkFrames;  // 884 at 44100
    int32_t bufferFrames; // chunkFrames * chunkCount
    int32_t chunkCount;   // 100 for the device, 1 offline
    float secondsPerFrame;
    Player* activePlayer;
    std::atomic<int32_t> writeChunk;   // next chunk to render
    std::atomic<int32_t> audibleChunk; // chunk under the play position as last seen
    std::atomic<ChunkStamp*> stamps;   // chunkCount records; null when stopped
    // The audible chunk's index (high 32 bits) and its stamp's song time (low 32 bits), published
    // together whenever audibleChunk moves, so the clock never looks into the stamp ring.
    std::atomic<uint64_t> audibleStamp;
    float* mixBuffer; // 16-byte aligned view into mixAllocation
    void* mixAllocation;
    int16_t* outputBuffer; // bufferFrames * 2 values, the loop the device plays
    std::atomic<uint8_t> renderBusy;
    std::atomic<uint8_t> stopRequested;
    std::atomic<uint8_t> renderThreadDone{1};
    bool renderThreadRunning;
    ThreadHandle renderThreadHandle;
    // Set by startPlayback to stopPlayback, cleared when that has run: the device-free half
    // reaches the device only through it.
    bool (*stopDevicePlayback)(Player* player);
};

extern AudioOutput audioOutput;

// Device playback (playback.cpp, linked with the device backend). startPlayback first stops
// whatever plays; both are false for a null Player.
bool startPlayback(Player* player);
bool stopPlayback(Player* player);
// Stops whatever plays: the device through stopPlayback when a device playback was started,
// otherwise only the offline state is released. False for a null Player. Safe at any time.
bool haltPlayback(Player* player);
// Moves the clock to chunk: publishes its index and its stamp's song time together.
void publishAudible(int32_t chunk);
// Renders chunk writeChunk of activePlayer and advances writeChunk. Allocates nothing.
void renderChunk();
// The render thread's routine: refills every chunk the device has finished. Returns 0.
int32_t renderThread();

// Song time in ms of the chunk now audible; 0 when nothing plays. Safe to call while the render
// thread runs; the value is always the time of a completely written stamp.
uint32_t musicClockMs();
// The audible chunk and its song time, read together. False (and zeros) when nothing plays.
bool audibleChunkStamp(int32_t* chunk, int32_t* songTimeMs);

// Shared by the device path and the offline renderer, main thread only.
// Resets the output sizes, voices, channels and the Player's playback fields, makes the Player
// active and allocates a zero stamp ring of ringChunks chunks: chunksPerBuffer for the device,
// which loops over all of them, 1 for the offline renderer, which hands each chunk out before it
// renders the next (values outside 1 .. chunksPerBuffer mean chunksPerBuffer). False when the
// stream table is incomplete or on no memory (the Player stays active, the clock reads 0).
bool resetPlayback(Player* player, int32_t ringChunks);
// Allocates the zeroed output buffer and the aligned mix buffer for the ring resetPlayback set
// up. False on no memory.
bool allocateRenderBuffers();
// Frees buffers and stamps, clears the active Player and the chunk indices.
void releasePlayback();

} // namespace music
