// The capture's sound track: the song through the offline renderer, with every chunk's stamp.
#include "sound_track.h"

#include "music/audio_output.h"
#include "music/format.h"
#include "music/module.h"
#include "music/offline_render.h"

namespace capture {

bool renderSoundTrack(music::Player* player, uint32_t endClockMs, int32_t extraChunks,
                      int64_t maxChunks, SoundTrack* track) {
    track->samples.clear();
    track->chunkClockMs.clear();
    if (!music::offlineBegin(player)) return false;
    const int32_t chunkFrames = player->output.chunkFrames;
    track->chunkFrames = chunkFrames;
    int64_t chunksAfterEnd = -1;
    bool reached = false;
    for (int64_t chunk = 0; chunk < maxChunks; ++chunk) {
        const size_t at = track->samples.size();
        track->samples.resize(at + static_cast<size_t>(chunkFrames) * 2);
        // Whole chunks at a time keep every stamp with the samples it was rendered with.
        if (music::offlineRender(player, track->samples.data() + at, chunkFrames) != chunkFrames)
            break;
        const music::ChunkStamp stamp = music::offlineLastStamp(player);
        track->chunkClockMs.push_back(stamp.songTimeMs);
        if (!reached && stamp.songTimeMs >= 0 &&
            static_cast<uint32_t>(stamp.songTimeMs) >= endClockMs) {
            reached = true;
            chunksAfterEnd = 0;
        } else if (reached) {
            ++chunksAfterEnd;
        }
        if (reached && chunksAfterEnd >= extraChunks) break;
    }
    music::offlineEnd(player);
    return reached && chunksAfterEnd >= extraChunks;
}

int64_t chunkAtFrame(int64_t frame, int32_t framesPerSecond, int32_t chunkFrames) {
    return frame * music::defaultSampleRateHz /
           (static_cast<int64_t>(framesPerSecond) * chunkFrames);
}

int64_t soundFrameAtVideoFrame(int64_t frame, int32_t framesPerSecond) {
    return frame * music::defaultSampleRateHz / framesPerSecond;
}

uint32_t clockAtFrame(const SoundTrack& track, int64_t frame, int32_t framesPerSecond) {
    const int64_t chunk = chunkAtFrame(frame, framesPerSecond, track.chunkFrames);
    return static_cast<uint32_t>(track.chunkClockMs[static_cast<size_t>(chunk)]);
}

bool planFrames(const SoundTrack& track, int32_t framesPerSecond, uint32_t startClockMs,
                uint32_t endClockMs, FramePlan* plan) {
    if (framesPerSecond <= 0 || track.chunkFrames <= 0) return false;
    const int64_t chunks = static_cast<int64_t>(track.chunkClockMs.size());
    int64_t frame = 0;
    bool started = false;
    for (;; ++frame) {
        if (chunkAtFrame(frame, framesPerSecond, track.chunkFrames) >= chunks) return false;
        const uint32_t clock = clockAtFrame(track, frame, framesPerSecond);
        if (!started && clock >= startClockMs) {
            plan->firstFrame = frame;
            started = true;
        }
        if (clock >= endClockMs) break;
    }
    plan->lastFrame = frame;
    if (!started) return false;
    // The last frame's sound runs to the start of the frame after it.
    const int64_t soundEnd = soundFrameAtVideoFrame(frame + 1, framesPerSecond);
    return soundEnd <= static_cast<int64_t>(track.samples.size() / 2);
}

} // namespace capture
