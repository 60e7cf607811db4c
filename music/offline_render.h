// Offline rendering: the playback path without a device or a thread, for tests and tools.
#pragma once

#include "audio_output.h"

#include <cstdint>

namespace music {

struct Player;

// Stops whatever the Player plays, then resets it exactly as playback start does. False for a
// null Player, an incomplete stream table or no memory. Other Players are not touched.
bool offlineBegin(Player* player);

// Renders the next frameCount frames of 16-bit stereo into out (two values per frame), chunk by
// chunk through the same renderer the device path uses. Returns the frames written: frameCount,
// or 0 when no offline render is running.
int32_t offlineRender(Player* player, int16_t* out, int32_t frameCount);

// The same frames before their conversion to 16 bits, scaled so that 1.0 is 16-bit full scale and
// not clipped. Either call may follow the other; they hand out one stream of frames.
int32_t offlineRenderFloat(Player* player, float* out, int32_t frameCount);

// The stamp of the chunk rendered last; zeros before the first chunk.
ChunkStamp offlineLastStamp(const Player* player);
// Chunks rendered since offlineBegin.
int64_t offlineChunksRendered(const Player* player);

// Frees what offlineBegin allocated. Safe to call at any time, also twice.
void offlineEnd(Player* player);

} // namespace music
