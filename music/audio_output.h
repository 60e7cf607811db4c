// Audio output: the looping chunk buffer, the render thread, chunk stamps and the music clock.
#pragma once

#include "thread.h"

#include <atomic>
#include <cstdint>

namespace music {

struct Player;
struct AudioDevice;

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
void setMixControls(Player* player, MixControls controls);
MixControls mixControls(const Player* player);
// Applies controls to frameCount interleaved stereo frames of mix in place.
void applyMixControls(const MixControls& controls, float* mix, int32_t frameCount);

// Song time a run of frameCount frames adds, truncated to whole ms in single precision.
int32_t runDurationMs(int32_t frameCount, float secondsPerFrame);

// One in every Player. The render thread and the main thread share only the atomics; everything
// else belongs to whichever thread renders (see audio_output.cpp).
struct AudioOutput {
    AudioOutput() = default;
    // A copy of a Player is a copy of its song and sequencer, not of a playback: it starts with
    // an output that is stopped and owns nothing.
    AudioOutput(const AudioOutput&) {}
    AudioOutput& operator=(const AudioOutput&) {
        forget();
        return *this;
    }
    // Back to the state of a new output; frees nothing (releasePlayback does that).
    void forget() {
        chunkFrames = bufferFrames = chunkCount = 0;
        secondsPerFrame = 0.0f;
        active = false;
        writeChunk.store(0, std::memory_order_relaxed);
        audibleChunk.store(0, std::memory_order_relaxed);
        stamps.store(nullptr, std::memory_order_relaxed);
        audibleStamp.store(0, std::memory_order_relaxed);
        mixBuffer = nullptr;
        mixAllocation = nullptr;
        outputBuffer = nullptr;
        renderBusy.store(0, std::memory_order_relaxed);
        stopRequested.store(0, std::memory_order_relaxed);
        renderThreadDone.store(1, std::memory_order_relaxed);
        renderThreadRunning = false;
        renderThreadHandle = ThreadHandle{};
        device = nullptr;
        stopDevicePlayback = nullptr;
        offlineRunning = false;
        offlineChunk = framesHandedOut = 0;
        chunksRendered = 0;
        lastStamp = ChunkStamp{};
    }

    int32_t chunkFrames = 0;  // 884 at 44100
    int32_t bufferFrames = 0; // chunkFrames * chunkCount
    int32_t chunkCount = 0;   // 100 for the device, 1 offline
    float secondsPerFrame = 0.0f;
    bool active = false;                      // between resetPlayback and releasePlayback
    std::atomic<int32_t> writeChunk{0};       // next chunk to render
    std::atomic<int32_t> audibleChunk{0};     // chunk under the play position as last seen
    std::atomic<ChunkStamp*> stamps{nullptr}; // chunkCount records; null when stopped
    // The audible chunk's index (high 32 bits) and its stamp's song time (low 32 bits), published
    // together whenever audibleChunk moves, so the clock never looks into the stamp ring.
    std::atomic<uint64_t> audibleStamp{0};
    float* mixBuffer = nullptr; // 16-byte aligned view into mixAllocation
    void* mixAllocation = nullptr;
    int16_t* outputBuffer = nullptr; // bufferFrames * 2 values, the loop the device plays
    std::atomic<uint8_t> renderBusy{0};
    std::atomic<uint8_t> stopRequested{0};
    std::atomic<uint8_t> renderThreadDone{1};
    bool renderThreadRunning = false;
    ThreadHandle renderThreadHandle{};
    AudioDevice* device = nullptr; // open from startPlayback to stopPlayback
    // Set by startPlayback to stopPlayback, cleared when that has run: the device-free half
    // reaches the device only through it.
    bool (*stopDevicePlayback)(Player* player) = nullptr;
    // The offline renderer's place in the chunk it hands out (offline_render.cpp).
    bool offlineRunning = false;
    int32_t offlineChunk = 0;    // chunk whose frames are being handed out
    int32_t framesHandedOut = 0; // of that chunk; chunkFrames when it is used up
    int64_t chunksRendered = 0;  // since offlineBegin
    ChunkStamp lastStamp{};
};

// Device playback (playback.cpp, linked with the device backend), each Player on a device and a
// render thread of its own. startPlayback first stops what the Player itself plays; it is false
// when no device opens, which includes a backend with a single device that another Player
// holds (until that one is stopped or destroyed). Both are false for a null Player; stopping
// touches the Player's own device and render only.
bool startPlayback(Player* player);
bool stopPlayback(Player* player);
// Stops whatever plays: the device through stopPlayback when a device playback was started,
// otherwise only the offline state is released. False for a null Player. Safe at any time.
bool haltPlayback(Player* player);
// Moves the clock to chunk: publishes its index and its stamp's song time together.
void publishAudible(AudioOutput& output, int32_t chunk);
// Renders the Player's chunk writeChunk and advances writeChunk. Allocates nothing.
void renderChunk(Player* player);
// The render thread's routine for the Player it is given: refills every chunk its device has
// finished. Returns 0.
int32_t renderThread(void* player);

// Song time in ms of the Player's chunk now audible; 0 when nothing plays. Safe to call while
// the render thread runs; the value is always the time of a completely written stamp.
uint32_t musicClockMs(const Player* player);
// The audible chunk and its song time, read together. False (and zeros) when nothing plays.
bool audibleChunkStamp(const Player* player, int32_t* chunk, int32_t* songTimeMs);

// Shared by the device path and the offline renderer, on the thread that owns the Player.
// Resets the output sizes, the mixer's rate, the sequencer (resetSequencer), makes the output
// active and allocates a zero stamp ring of ringChunks chunks: chunksPerBuffer for the device,
// which loops over all of them, 1 for the offline renderer, which hands each chunk out before it
// renders the next (values outside 1 .. chunksPerBuffer mean chunksPerBuffer). False when the
// Player's stream table is incomplete or on no memory (the output stays active, the clock reads
// 0).
bool resetPlayback(Player* player, int32_t ringChunks);
// Allocates the zeroed output buffer and the aligned mix buffer for the ring resetPlayback set
// up. False on no memory.
bool allocateRenderBuffers(AudioOutput& output);
// Frees buffers and stamps, makes the output inactive and clears the chunk indices.
void releasePlayback(AudioOutput& output);

} // namespace music
