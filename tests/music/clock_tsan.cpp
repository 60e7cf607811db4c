// The music clock read while the render thread refills, for ThreadSanitizer: no race, never
// backwards, never a value that is not the time of a completely written stamp.
#include "music/audio_output.h"
#include "music/device/audio_device_test.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace music {
namespace {

// 49 frames per tick: every chunk is cut into about 19 runs, so a value taken halfway through
// a chunk's rendering would differ from every finished chunk's time.
void shortTicks(Player* player) {
    player->samplesPerTick = 49;
    ++player->row;
}

Player makePlayer() {
    Player p{};
    p.channelCount = 4;
    p.defaultTempo = 6;
    p.defaultBpm = 125;
    p.initialGlobalVolume = 64;
    p.tickHandler = shortTicks;
    return p;
}

constexpr int32_t chunkBytes = 884 * 4;
constexpr int64_t expectedChunks = 4000;

struct ReaderResult {
    int64_t reads = 0;
    int64_t notAStamp = 0;
    int64_t wrongChunk = 0;
    int64_t backwards = 0;
    int64_t ahead = 0;
    int64_t highestChunk = 0;
};

TEST(MusicClockThreads, ClockReadsOnlyFinishedStampsWhileTheRenderThreadRuns) {
    testDeviceReset();

    // The time at the end of every chunk, from the offline renderer, which runs the same code.
    Player reference = makePlayer();
    ASSERT_TRUE(offlineBegin(&reference));
    std::vector<int32_t> times;
    std::vector<int16_t> scratch(884 * 2);
    for (int64_t i = 0; i < expectedChunks; ++i) {
        offlineRender(&reference, scratch.data(), 884);
        times.push_back(offlineLastStamp(&reference).songTimeMs);
    }
    offlineEnd(&reference);
    ASSERT_TRUE(std::is_sorted(times.begin(), times.end()));

    Player p = makePlayer();
    ASSERT_TRUE(startPlayback(&p));

    std::atomic<bool> done{false};
    std::atomic<uint64_t> heardChunks{0};
    ReaderResult result;

    // Reads the clock as the frame loop does, as fast as it can.
    std::thread reader([&] {
        int32_t previous = 0;
        while (!done.load(std::memory_order_acquire)) {
            int32_t chunk = 0;
            int32_t time = 0;
            if (!audibleChunkStamp(&p, &chunk, &time)) continue;
            const uint64_t heard = heardChunks.load(std::memory_order_acquire);
            const uint32_t clock = musicClockMs(&p);
            ++result.reads;
            const auto at = std::lower_bound(times.begin(), times.end(), time);
            if (at == times.end() || *at != time) {
                ++result.notAStamp;
                continue;
            }
            const int64_t global = at - times.begin();
            if (global % 100 != chunk) ++result.wrongChunk;
            if (time < previous || clock < static_cast<uint32_t>(time)) ++result.backwards;
            // The audible chunk is never one the device has not reached.
            if (static_cast<uint64_t>(global) > heard) ++result.ahead;
            result.highestChunk = std::max(result.highestChunk, global);
            previous = time;
        }
    });

    // The device plays ten times faster than real time: a chunk every 2 ms.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    uint64_t chunks = 0;
    while (std::chrono::steady_clock::now() < end && chunks + 200 < expectedChunks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++chunks;
        heardChunks.store(chunks, std::memory_order_release);
        testDeviceSetBytesPlayed(chunks * chunkBytes);
    }
    done.store(true, std::memory_order_release);
    reader.join();
    EXPECT_TRUE(stopPlayback(&p));

    EXPECT_GT(result.reads, 1000);
    EXPECT_EQ(result.notAStamp, 0);
    EXPECT_EQ(result.wrongChunk, 0);
    EXPECT_EQ(result.backwards, 0);
    EXPECT_EQ(result.ahead, 0);
    EXPECT_GT(result.highestChunk, 300) << "the render thread kept up with the device";
    EXPECT_EQ(musicClockMs(&p), 0u);
}

} // namespace
} // namespace music
