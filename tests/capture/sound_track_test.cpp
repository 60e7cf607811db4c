// The capture's sound track and frame clock, against the offline renderer and the song's rows.
#include "sound_track.h"

#include "music/audio_output.h"
#include "music/format.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int32_t chunkFrames = 884;
constexpr double beatMs = 1000.0 / 3.0;
constexpr int32_t firstFlashBeat = 16;
constexpr int32_t lastFlashBeat = 121;
constexpr uint32_t showEndMs = 48000;

std::vector<uint8_t> readSong() {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(SONG_PATH, "rb");
    if (f == nullptr) return bytes;
    uint8_t block[65536];
    size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
    return bytes;
}

struct Song {
    std::vector<uint8_t> bytes = readSong();
    music::Player* player = nullptr;
    Song() {
        const music::MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
        player = music::createPlayer(&description);
    }
    ~Song() { music::destroyPlayer(player); }
};

// Sound frame at which each row starts: the tick on which the Player's row changes.
struct RowWatch {
    music::TickHandler sequencerTick;
    int64_t nextTickFrame;
    int32_t lastRow = -1;
    int32_t lastOrder = -1;
    std::vector<int64_t> rowStartFrame; // indexed by order * 64 + row
};
RowWatch rowWatch;

void watchRows(music::Player* player) {
    const int64_t tickFrame = rowWatch.nextTickFrame;
    rowWatch.sequencerTick(player);
    rowWatch.nextTickFrame += player->samplesPerTick > 0 ? player->samplesPerTick : 1;
    if (player->row == rowWatch.lastRow && player->order == rowWatch.lastOrder) return;
    rowWatch.lastRow = player->row;
    rowWatch.lastOrder = player->order;
    const size_t index = static_cast<size_t>(player->order) * 64 + static_cast<size_t>(player->row);
    if (rowWatch.rowStartFrame.size() <= index) rowWatch.rowStartFrame.resize(index + 1, -1);
    if (rowWatch.rowStartFrame[index] < 0) rowWatch.rowStartFrame[index] = tickFrame;
}

TEST(SoundTrack, HoldsTheOfflineRenderersSamplesAndStamps) {
    Song song;
    ASSERT_NE(song.player, nullptr);
    capture::SoundTrack track{};
    ASSERT_TRUE(capture::renderSoundTrack(song.player, 6000, 2, 100000, &track));
    EXPECT_EQ(track.chunkFrames, chunkFrames);
    ASSERT_EQ(track.samples.size(), track.chunkClockMs.size() * chunkFrames * 2);
    // the track stops two chunks after the first whose stamp reaches 6000 ms
    const size_t chunks = track.chunkClockMs.size();
    ASSERT_GE(chunks, 3u);
    EXPECT_GE(track.chunkClockMs[chunks - 3], 6000);
    EXPECT_LT(track.chunkClockMs[chunks - 4], 6000);

    // A plain offline render of the same song, in blocks shorter than a chunk that ignore chunk
    // boundaries: each block renders at most one new chunk.
    ASSERT_TRUE(music::offlineBegin(song.player));
    std::vector<int16_t> plain(track.samples.size());
    std::vector<int32_t> stamps;
    int64_t chunksSeen = 0;
    for (size_t at = 0; at < plain.size(); at += 500 * 2) {
        const auto n = static_cast<int32_t>(std::min<size_t>(500, (plain.size() - at) / 2));
        ASSERT_EQ(music::offlineRender(song.player, plain.data() + at, n), n);
        if (music::offlineChunksRendered(song.player) != chunksSeen) {
            chunksSeen = music::offlineChunksRendered(song.player);
            stamps.push_back(music::offlineLastStamp(song.player).songTimeMs);
        }
    }
    music::offlineEnd(song.player);
    EXPECT_EQ(plain, track.samples);
    EXPECT_EQ(stamps, track.chunkClockMs);
}

TEST(SoundTrack, AClockThatNeverReachesTheEndIsAFailure) {
    Song song;
    ASSERT_NE(song.player, nullptr);
    capture::SoundTrack track{};
    EXPECT_FALSE(capture::renderSoundTrack(song.player, 6000, 0, 100, &track));
    EXPECT_FALSE(capture::renderSoundTrack(nullptr, 6000, 0, 100000, &track));
}

TEST(FrameClock, ChunkUnderEachFrameIsTheSoundsPositionRoundedDown) {
    // 44100 / 60 = 735 sound frames per picture: frame 2 starts at 1470 (chunk 1), frame 3 at
    // 2205 (chunk 2), frame 120 at 88200 (chunk 99, which starts at 87516)
    EXPECT_EQ(capture::chunkAtFrame(0, 60, chunkFrames), 0);
    EXPECT_EQ(capture::chunkAtFrame(1, 60, chunkFrames), 0);
    EXPECT_EQ(capture::chunkAtFrame(2, 60, chunkFrames), 1);
    EXPECT_EQ(capture::chunkAtFrame(3, 60, chunkFrames), 2);
    EXPECT_EQ(capture::chunkAtFrame(120, 60, chunkFrames), 99);
    EXPECT_EQ(capture::chunkAtFrame(121, 60, chunkFrames), 100);
    // 884 sound frames of 30 fps pictures: 1470 per picture
    EXPECT_EQ(capture::chunkAtFrame(3, 30, chunkFrames), 4);
    EXPECT_EQ(capture::soundFrameAtVideoFrame(3, 60), 2205);
    EXPECT_EQ(capture::soundFrameAtVideoFrame(7, 25), 12348);
    // an hour at 240 fps does not overflow
    EXPECT_EQ(capture::chunkAtFrame(int64_t{240} * 3600, 240, chunkFrames), 179592);
}

TEST(FrameClock, TheWholeShowLastsUntilTheClockReachesTheEnd) {
    Song song;
    ASSERT_NE(song.player, nullptr);
    capture::SoundTrack track{};
    ASSERT_TRUE(capture::renderSoundTrack(song.player, showEndMs, 3, 100000, &track));
    for (int32_t fps : {60, 50, 30, 24}) {
        SCOPED_TRACE(fps);
        capture::FramePlan plan{};
        ASSERT_TRUE(capture::planFrames(track, fps, 0, showEndMs, &plan));
        EXPECT_EQ(plan.firstFrame, 0);
        EXPECT_GE(capture::clockAtFrame(track, plan.lastFrame, fps), showEndMs);
        EXPECT_LT(capture::clockAtFrame(track, plan.lastFrame - 1, fps), showEndMs);
        // song time lags the sound by about 4 %: 48 s of clock take about 50 s of sound
        const double seconds = static_cast<double>(plan.lastFrame + 1) / fps;
        EXPECT_GT(seconds, 49.0);
        EXPECT_LT(seconds, 51.5);
        // the clock never goes back
        for (int64_t f = 1; f <= plan.lastFrame; ++f) {
            ASSERT_GE(capture::clockAtFrame(track, f, fps),
                      capture::clockAtFrame(track, f - 1, fps));
        }
    }
    capture::FramePlan plan{};
    ASSERT_TRUE(capture::planFrames(track, 60, 5400, 6000, &plan));
    EXPECT_GE(capture::clockAtFrame(track, plan.firstFrame, 60), 5400u);
    EXPECT_LT(capture::clockAtFrame(track, plan.firstFrame - 1, 60), 5400u);
    EXPECT_GE(capture::clockAtFrame(track, plan.lastFrame, 60), 6000u);
    EXPECT_LT(capture::clockAtFrame(track, plan.lastFrame - 1, 60), 6000u);
    // a track that stops short of the end clock has no plan
    capture::SoundTrack shorter = track;
    shorter.chunkClockMs.resize(1000);
    shorter.samples.resize(1000 * chunkFrames * 2);
    EXPECT_FALSE(capture::planFrames(shorter, 60, 0, showEndMs, &plan));
}

// The first frame that shows a beat's flash against the tick that starts the beat's kick, over
// the whole show: within 25 ms at 60 and 50 fps.
TEST(FrameClock, EveryFlashStartsWithinTwentyFiveMsOfItsKick) {
    Song song;
    ASSERT_NE(song.player, nullptr);
    rowWatch = RowWatch{};
    rowWatch.sequencerTick = song.player->tickHandler;
    song.player->tickHandler = watchRows;
    capture::SoundTrack track{};
    ASSERT_TRUE(capture::renderSoundTrack(song.player, showEndMs, 3, 100000, &track));
    song.player->tickHandler = rowWatch.sequencerTick;
    for (int32_t fps : {60, 50}) {
        SCOPED_TRACE(fps);
        double earliest = 0;
        double latest = 0;
        int64_t frame = 0;
        for (int32_t beat = firstFlashBeat; beat <= lastFlashBeat; ++beat) {
            const auto row = static_cast<size_t>(beat * 2);
            ASSERT_LT(row, rowWatch.rowStartFrame.size());
            const double kickMs = rowWatch.rowStartFrame[row] * 1000.0 / song.player->outputRate;
            while (capture::clockAtFrame(track, frame, fps) < beat * beatMs) ++frame;
            const double offset = static_cast<double>(frame) * 1000.0 / fps - kickMs;
            EXPECT_LE(std::fabs(offset), 25.0) << "beat " << beat;
            earliest = std::min(earliest, offset);
            latest = std::max(latest, offset);
        }
        std::printf("%d fps: first flash frames %.1f to %+.1f ms from their kicks\n", fps, earliest,
                    latest);
    }
}

} // namespace
