// The capture's sound track and the music clock each video frame shows.
//
// The demo's clock is the stamp of the chunk the device is playing, so a frame at time t shows
// the song time stamped on chunk floor(t * rate / chunkFrames), the demo's rate: the song time at
// the end of that chunk. Song time runs slower than the sound (each mixed run loses its fraction of
// a ms), which is why frames are placed on the sound's time and read their clock from the stamps.
#pragma once

#include <cstdint>
#include <vector>

namespace music {
struct Player;
}

namespace capture {

struct SoundTrack {
    std::vector<int16_t> samples;      // 16-bit stereo, interleaved, from the song's first frame
    std::vector<int32_t> chunkClockMs; // the stamp's song time of each rendered chunk
    int32_t chunkFrames;               // frames per chunk, as the demo's device renders them
};

// Renders the Player from its start through the offline renderer, chunk by chunk, until a chunk's
// stamp reaches endClockMs, then extraChunks more. False when the renderer cannot start or the
// song time stops short of endClockMs within maxChunks.
bool renderSoundTrack(music::Player* player, uint32_t endClockMs, int32_t extraChunks,
                      int64_t maxChunks, SoundTrack* track);

// Chunk under the play position at video frame `frame` (frame / fps seconds into the sound).
int64_t chunkAtFrame(int64_t frame, int32_t framesPerSecond, int32_t chunkFrames);

// First sound frame of video frame `frame`, rounded down.
int64_t soundFrameAtVideoFrame(int64_t frame, int32_t framesPerSecond);

// The frames a capture from startClockMs to endClockMs shows: the first is the first frame whose
// clock reaches startClockMs, the last the first whose clock reaches endClockMs.
struct FramePlan {
    int64_t firstFrame;
    int64_t lastFrame; // inclusive
};

// False when the track does not reach endClockMs or does not hold the sound up to the end of
// the last frame.
bool planFrames(const SoundTrack& track, int32_t framesPerSecond, uint32_t startClockMs,
                uint32_t endClockMs, FramePlan* plan);

// Clock shown by video frame `frame`; the track must hold its chunk.
uint32_t clockAtFrame(const SoundTrack& track, int64_t frame, int32_t framesPerSecond);

} // namespace capture
