// Device playback through SDL: every Player opens a device of its own, so two Players play at
// once, each with its own render thread and clock. Run with SDL's disk driver writing to
// /dev/null, which consumes the sound in real time without a sound card and opens any number
// of devices (the dummy driver opens only one).
#include "music/audio_output.h"
#include "music/module.h"
#include "tests/lib/read_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace music {
namespace {

using testing_files::readFile;

TEST(SdlDevices, TwoPlayersPlayAtOnceEachOnItsOwnDevice) {
    const std::vector<uint8_t> song = readFile(DEMO_SONG_PATH);
    ASSERT_FALSE(song.empty());
    const MemoryStream description{static_cast<int32_t>(song.size()), 0, song.data()};
    Player* a = createPlayer(&description);
    Player* b = createPlayer(&description);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(setSampleRate(b, 48000));
    ASSERT_TRUE(startPlayback(a));
    ASSERT_TRUE(startPlayback(b)) << "a second device should open";
    EXPECT_NE(a->output.device, b->output.device);
    EXPECT_TRUE(a->output.renderThreadRunning);
    EXPECT_TRUE(b->output.renderThreadRunning);

    // Both clocks move while both play: the device callbacks consume both rings.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((musicClockMs(a) < 200 || musicClockMs(b) < 200) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(musicClockMs(a), 200u);
    EXPECT_GE(musicClockMs(b), 200u);

    EXPECT_TRUE(stopPlayback(a));
    EXPECT_EQ(musicClockMs(a), 0u);
    // Stopping one leaves the other playing.
    const uint32_t before = musicClockMs(b);
    const auto later = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (musicClockMs(b) <= before + 100 && std::chrono::steady_clock::now() < later)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(musicClockMs(b), before + 100);
    EXPECT_TRUE(destroyPlayer(b));
    EXPECT_TRUE(destroyPlayer(a));
}

} // namespace
} // namespace music
