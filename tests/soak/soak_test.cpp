// Soak: ten minutes of device time on the test device, driven faster than real time, with stops
// and starts in between; the clock and the buffer must agree with an offline render throughout.
#include "music/audio_output.h"
#include "music/device/audio_device_test.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/stream.h"
#include "tests/lib/read_file.h"
#include "xm_generator.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_ASAN 1
#endif
#endif
#if defined(SOAK_ASAN)
// From the sanitizer runtime; declared here because g++ ships no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace std::chrono_literals;

constexpr music::OutputSizes sizes = music::outputSizesForRate(44100);
constexpr uint64_t chunkBytes = static_cast<uint64_t>(sizes.chunkFrames) * 4;
constexpr int32_t defaultDeviceSeconds = 600;

int64_t liveHeapBytes() {
#if defined(SOAK_ASAN)
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    return static_cast<int64_t>(mallinfo2().uordblks);
#endif
}

// glibc's per-thread caches keep freed chunks that mallinfo2 counts as in use, and the caches
// fill a little more with each pass (chunks a render thread took, freed by this one), so that
// without the sanitizer's counter the heap compares only with those caches off.
bool heapCountExact() {
#if defined(SOAK_ASAN)
    return true;
#else
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    return tunables != nullptr && std::strstr(tunables, "glibc.malloc.tcache_count=0") != nullptr;
#endif
}

uint64_t hashChunk(const int16_t* frames) {
    uint64_t h = 1469598103934665603ull;
    for (int32_t i = 0; i < sizes.chunkFrames * 2; ++i) {
        h ^= static_cast<uint16_t>(frames[i]);
        h *= 1099511628211ull;
    }
    return h;
}

struct Song {
    std::string name;
    std::vector<uint8_t> bytes;
    music::Player* player = nullptr;
    // What the offline renderer gives for absolute chunk n since the start: its stamp's song
    // time and a hash of its 16-bit frames. The device path must reproduce both exactly.
    std::vector<int32_t> songTimeMs;
    std::vector<uint64_t> hash;
};

bool loadSong(Song& song) {
    music::MemoryStream description{static_cast<int32_t>(song.bytes.size()), 0, song.bytes.data()};
    song.player = music::createPlayer(&description);
    return song.player != nullptr;
}

void renderReference(Song& song, int64_t chunks) {
    ASSERT_TRUE(music::offlineBegin(song.player));
    std::vector<int16_t> chunk(static_cast<size_t>(sizes.chunkFrames) * 2);
    for (int64_t n = 0; n < chunks; ++n) {
        ASSERT_EQ(music::offlineRender(song.player, chunk.data(), sizes.chunkFrames),
                  sizes.chunkFrames);
        song.songTimeMs.push_back(music::offlineLastStamp(song.player).songTimeMs);
        song.hash.push_back(hashChunk(chunk.data()));
    }
    music::offlineEnd(song.player);
}

// Reads the clock as fast as it can while the render thread works, as the frame loop does.
struct ClockWatcher {
    const music::Player* player = nullptr;
    const std::vector<int32_t>* expected = nullptr;
    std::atomic<bool> stop{false};
    int64_t reads = 0;
    int64_t backwards = 0;
    int64_t unknownValues = 0;
    uint32_t firstBad = 0;

    void run() {
        uint32_t last = 0;
        while (!stop.load(std::memory_order_acquire)) {
            const uint32_t now = music::musicClockMs(player);
            ++reads;
            if (now < last) {
                if (backwards++ == 0 && unknownValues == 0) firstBad = now;
            }
            // Every value ever read must be the song time of some completely rendered chunk.
            if (!std::binary_search(expected->begin(), expected->end(),
                                    static_cast<int32_t>(now))) {
                if (unknownValues++ == 0 && backwards == 0) firstBad = now;
            }
            last = now;
            std::this_thread::sleep_for(50us);
        }
    }
};

// Waits until the render thread has rendered everything behind the device position and rests.
bool waitForCatchUp(const music::Player* player, uint64_t bytes) {
    const int32_t playChunk =
        music::playChunkForPosition(bytes, sizes.chunkFrames, sizes.bufferFrames);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (player->output.writeChunk.load(std::memory_order_acquire) == playChunk &&
            player->output.renderBusy.load(std::memory_order_acquire) == 0) {
            int32_t chunk = 0, time = 0;
            music::audibleChunkStamp(player, &chunk, &time);
            if (chunk == playChunk) return true;
        }
        std::this_thread::sleep_for(200us);
    }
    return false;
}

struct Random {
    uint32_t state;
    uint32_t below(uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
};

// One pass: start, drive the device through deviceSeconds of audio in uneven steps, checking
// after each step, then stop (optionally while the render thread is in the middle of a refill).
void playPass(Song& song, int32_t deviceSeconds, bool stopWhileRendering, Random& rng) {
    SCOPED_TRACE(song.name + ", pass of " + std::to_string(deviceSeconds) + " s");
    music::testDeviceSetBytesPlayed(0);
    ASSERT_TRUE(music::startPlayback(song.player));
    ASSERT_TRUE(music::testDeviceIsOpen());
    ASSERT_EQ(music::musicClockMs(song.player), static_cast<uint32_t>(song.songTimeMs[0]));

    ClockWatcher watcher;
    watcher.player = song.player;
    watcher.expected = &song.songTimeMs;
    std::thread watching([&] { watcher.run(); });

    const uint64_t endBytes = static_cast<uint64_t>(deviceSeconds) * sizes.bytesPerSecond;
    uint64_t bytes = 0;
    uint32_t lastClock = music::musicClockMs(song.player);
    int32_t failures = 0;
    while (bytes < endBytes && failures == 0) {
        // Up to 80 chunks per step: always less than the buffer, so no pass of it goes unseen.
        bytes += 4 * (1 + static_cast<uint64_t>(rng.below(80 * sizes.chunkFrames)));
        music::testDeviceSetBytesPlayed(bytes);
        ASSERT_TRUE(waitForCatchUp(song.player, bytes))
            << "render thread did not catch up at byte " << bytes;

        const int64_t played = static_cast<int64_t>(bytes / chunkBytes); // absolute chunk audible
        ASSERT_LT(played + sizes.chunkCount, static_cast<int64_t>(song.hash.size()));
        const uint32_t clock = music::musicClockMs(song.player);
        int32_t audible = -1, stampTime = 0;
        music::audibleChunkStamp(song.player, &audible, &stampTime);
        const music::ChunkStamp* stamps =
            song.player->output.stamps.load(std::memory_order_acquire);
        ASSERT_NE(stamps, nullptr);

        if (clock < lastClock) {
            ++failures;
            ADD_FAILURE() << "clock went back from " << lastClock << " to " << clock;
        }
        if (clock != static_cast<uint32_t>(song.songTimeMs[static_cast<size_t>(played)])) {
            ++failures;
            ADD_FAILURE() << "clock " << clock << " at chunk " << played << ", offline render says "
                          << song.songTimeMs[static_cast<size_t>(played)];
        }
        if (audible != played % sizes.chunkCount) {
            ++failures;
            ADD_FAILURE() << "audible chunk " << audible << " at absolute chunk " << played;
        }
        if (stamps[audible].songTimeMs != stampTime) {
            ++failures;
            ADD_FAILURE() << "clock " << stampTime << " differs from the stamp of its chunk, "
                          << stamps[audible].songTimeMs;
        }
        lastClock = clock;

        // The ring holds the next 100 chunks from the audible one on, each exactly as rendered
        // offline: nothing skipped, doubled or rendered from a stale position.
        const int16_t* ring = music::testDeviceBuffer();
        ASSERT_NE(ring, nullptr);
        for (int64_t a = played; a < played + sizes.chunkCount && failures == 0; ++a) {
            const int64_t slot = a % sizes.chunkCount;
            if (hashChunk(ring + slot * sizes.chunkFrames * 2) !=
                song.hash[static_cast<size_t>(a)]) {
                ++failures;
                ADD_FAILURE() << "ring slot " << slot << " does not hold chunk " << a;
            }
            if (stamps[slot].songTimeMs != song.songTimeMs[static_cast<size_t>(a)]) {
                ++failures;
                ADD_FAILURE() << "stamp of slot " << slot << " is not that of chunk " << a;
            }
        }
    }

    if (stopWhileRendering) {
        // Hand the thread most of a buffer to refill and stop it while it is at it.
        music::testDeviceSetBytesPlayed(bytes + 90 * chunkBytes);
        std::this_thread::sleep_for(std::chrono::microseconds(rng.below(8000)));
    }
    watcher.stop.store(true, std::memory_order_release);
    watching.join();
    EXPECT_TRUE(music::stopPlayback(song.player));

    EXPECT_FALSE(music::testDeviceIsOpen());
    EXPECT_EQ(song.player->output.stamps.load(), nullptr);
    EXPECT_FALSE(song.player->output.renderThreadRunning);
    EXPECT_EQ(music::musicClockMs(song.player), 0u);
    EXPECT_GT(watcher.reads, 0);
    EXPECT_EQ(watcher.backwards, 0) << "first bad clock value " << watcher.firstBad;
    EXPECT_EQ(watcher.unknownValues, 0) << "first bad clock value " << watcher.firstBad;
}

using testing_files::readFile;

TEST(Soak, TenMinutesOfDeviceTimeWithStopsAndStarts) {
    int32_t totalSeconds = defaultDeviceSeconds;
    if (const char* s = std::getenv("SOAK_DEVICE_SECONDS"))
        totalSeconds = std::max(10, std::atoi(s));

    // Pass lengths in percent of the total: some shorter than the songs, some running past
    // their end into the restart. The last pass takes what rounding left over.
    const int32_t percent[] = {5, 15, 7, 13, 10, 10, 20, 3, 9, 8};
    constexpr size_t passCount = std::size(percent);
    int32_t passSeconds[passCount];
    int32_t assigned = 0, longest = 0;
    for (size_t i = 0; i < passCount; ++i) {
        passSeconds[i] =
            i + 1 < passCount ? percent[i] * totalSeconds / 100 : totalSeconds - assigned;
        assigned += passSeconds[i];
        longest = std::max(longest, passSeconds[i]);
    }

    std::vector<Song> songs(2);
    // The players go back on every way out, so that a failed check never reads as a leak.
    struct Release {
        std::vector<Song>& songs;
        ~Release() {
            for (Song& song : songs) music::destroyPlayer(song.player);
        }
    } release{songs};
    songs[0].name = "generated 8 channels";
    songs[0].bytes = benchgen::generateModule(benchgen::benchShape(8));
    songs[1].bytes = readFile(SOAK_DEMO_SONG);
    if (!songs[1].bytes.empty()) {
        songs[1].name = "demo song";
    } else {
        songs[1].name = "generated 16 channels";
        songs[1].bytes = benchgen::generateModule(benchgen::benchShape(16));
    }
    const int64_t referenceChunks = (static_cast<int64_t>(longest) + 3) * sizes.bytesPerSecond /
                                        static_cast<int64_t>(chunkBytes) +
                                    2 * sizes.chunkCount;
    for (Song& song : songs) {
        ASSERT_TRUE(loadSong(song)) << song.name;
        renderReference(song, referenceChunks);
        ASSERT_TRUE(std::is_sorted(song.songTimeMs.begin(), song.songTimeMs.end()));
    }

    music::testDeviceReset();
    Random rng{20240601u};
    std::vector<int64_t> heapAfterPass;
    heapAfterPass.reserve(passCount); // its own growth must not count as the player's
    int32_t deviceSeconds = 0;
    const auto wallStart = std::chrono::steady_clock::now();
    for (size_t pass = 0; pass < passCount; ++pass) {
        const int32_t seconds = passSeconds[pass];
        playPass(songs[pass % songs.size()], seconds, pass % 3 == 1, rng);
        if (HasFatalFailure() || HasFailure()) break;
        deviceSeconds += seconds;
        heapAfterPass.push_back(liveHeapBytes());
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("soak: %d s of device time in %.1f s of wall time, %zu passes\n",
                static_cast<int>(deviceSeconds), wall, heapAfterPass.size());

    // Every pass gives back what it took: after the first pass (which may warm caches of the C
    // library) the heap stands at the same level after every stop.
    ASSERT_EQ(heapAfterPass.size(), passCount);
    EXPECT_EQ(deviceSeconds, totalSeconds);
    if (heapCountExact()) {
        for (size_t i = 2; i < heapAfterPass.size(); ++i)
            EXPECT_EQ(heapAfterPass[i], heapAfterPass[1]) << "heap grew by pass " << i;
    } else {
        std::printf("soak: heap not compared; run with GLIBC_TUNABLES=glibc.malloc.tcache_count=0 "
                    "(as ctest does) or the sanitizer build\n");
    }

    const auto calls = music::testDeviceCalls();
    EXPECT_EQ(calls.opens, static_cast<int32_t>(passCount));
    EXPECT_EQ(calls.starts, static_cast<int32_t>(passCount));
}

} // namespace
