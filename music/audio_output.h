// Audio output: the looping chunk buffer, the render thread, chunk stamps and the music clock.
#pragma once

#include <atomic>
#include <cstdint>

namespace music {

struct Player;

struct ChunkStamp {
    uint8_t order;      // low byte of the Player's order after the chunk was mixed
    uint8_t row;        // low byte of the Player's row after the chunk was mixed
    int32_t songTimeMs; // the Player's songTimeMs after the chunk was mixed
};

// One instance; at most one Player plays at a time.
struct AudioOutput {
    int32_t chunkFrames;        // 884 at 44100
    int32_t bufferFrames;       // chunkFrames * 100
    int32_t chunkCount;         // 100
    float secondsPerFrame;
    Player* activePlayer;
    std::atomic<int32_t> writeChunk;   // next chunk to render
    std::atomic<int32_t> audibleChunk; // chunk under the play position as last seen
    std::atomic<ChunkStamp*> stamps;   // chunkCount records; null when stopped
    float* mixBuffer;                  // 16-byte aligned view into mixAllocation
    void* mixAllocation;
    int16_t* outputBuffer; // bufferFrames * 2 values, the loop the device plays
    std::atomic<uint8_t> renderBusy;
    std::atomic<uint8_t> stopRequested;
    std::atomic<uint8_t> renderThreadDone;
    bool renderThreadRunning;
};

extern AudioOutput audioOutput;

bool startPlayback(Player* player);
bool stopPlayback(Player* player);
void renderChunk();

// Song time in ms of the chunk now audible; 0 when nothing plays.
uint32_t musicClockMs();

} // namespace music
