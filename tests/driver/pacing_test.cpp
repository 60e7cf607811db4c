// Drawing only changed pictures: when two frames look the same, where the next change lies, and
// whether the loop's sleeps ever carry it past a change the clock reached.
#include "driver/pacing.h"
#include "driver/timeline.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using driver::beatFrameAt;
using driver::samePicture;

TEST(SamePicture, FlashValuesFromOneUpLookPlain) {
    driver::BeatFrame a = beatFrameAt(5400); // beat 16, flash about 0.8
    driver::BeatFrame b = a;
    EXPECT_TRUE(samePicture(a, b));
    b.flash = 0.81f;
    EXPECT_FALSE(samePicture(a, b));
    a.flash = 1.0f;
    b.flash = 4.0f;
    EXPECT_TRUE(samePicture(a, b)) << "both plain";
    b.slot = a.slot + 1;
    EXPECT_FALSE(samePicture(a, b));
}

// For every clock of the show and beyond, the next change is the first later clock whose frame
// looks different: worked out backwards from the end, one millisecond at a time.
TEST(NextPictureChange, IsTheFirstLaterClockThatLooksDifferent) {
    constexpr uint32_t last = 60000;
    std::vector<uint32_t> expected(last + 1, driver::noPictureChange);
    for (uint32_t c = last; c-- > 0;) {
        expected[c] = samePicture(beatFrameAt(c + 1), beatFrameAt(c)) ? expected[c + 1] : c + 1;
    }
    // Past the end every beat shows slot 6 plain, so "none" holds beyond what was scanned too.
    ASSERT_EQ(expected[44100], driver::noPictureChange);
    for (uint32_t c = 0; c < last; ++c) {
        ASSERT_EQ(driver::nextPictureChangeMs(c), expected[c]) << "clock " << c;
    }
    EXPECT_EQ(driver::nextPictureChangeMs(driver::noPictureChange), driver::noPictureChange);
}

TEST(NextPictureChange, FlashesChangeEveryMillisecondAndCalmBeatsWaitForTheSlot) {
    EXPECT_EQ(driver::nextPictureChangeMs(5400), 5401u);
    // Beats 13 and 14 both show slot 6 plain: from inside beat 13 the next change is beat 15.
    EXPECT_EQ(driver::nextPictureChangeMs(4400), 5000u);
    EXPECT_EQ(beatFrameAt(4999).slot, 6);
    EXPECT_EQ(beatFrameAt(5000).slot, 9);
}

struct Presented {
    uint32_t clockMs;
    int32_t slot;
    float flash;
    bool operator==(const Presented& o) const {
        return clockMs == o.clockMs && slot == o.slot && flash == o.flash;
    }
};

// The device clock: step k (20 ms of song time, as a chunk adds) becomes audible at wall time
// k x 20.045 ms / rate.
uint32_t clockAt(double wallMs, double rate) {
    const auto step = static_cast<uint32_t>(wallMs * rate / (884.0 * 1000.0 / 44100.0));
    return step * 20;
}

// Every clock step drawn, as the loop did before it slept: the pictures it showed, one entry
// per change.
std::vector<Presented> everyStepChanges(uint32_t endMs) {
    std::vector<Presented> out;
    driver::BeatFrame shown{};
    for (uint32_t clock = 0; clock <= endMs; clock += 20) {
        const driver::BeatFrame f = beatFrameAt(clock);
        if (out.empty() || !samePicture(f, shown)) out.push_back({clock, f.slot, f.flash});
        shown = f;
    }
    return out;
}

TEST(FramePacing, SleepingNeverCarriesTheLoopPastAChange) {
    constexpr uint32_t endMs = 48000;
    const std::vector<Presented> expected = everyStepChanges(endMs);
    for (double rate : {0.96, 1.0, 2.3, 3.9}) {
        std::vector<Presented> presented;
        driver::BeatFrame shown{};
        double wall = 0;
        uint64_t looks = 0;
        for (;;) {
            const uint32_t clock = clockAt(wall, rate);
            ++looks;
            const driver::BeatFrame f = beatFrameAt(clock);
            if (presented.empty() || !samePicture(f, shown)) {
                presented.push_back({clock, f.slot, f.flash});
                shown = f;
            }
            if (clock >= endMs) break;
            const uint32_t wait = driver::frameWaitMs(clock, true);
            ASSERT_GT(wait, 0u) << "a loop that never sleeps spins";
            wall += wait;
        }
        EXPECT_EQ(presented, expected) << "clock at " << rate << " x the wall clock";
        // Short sleeps near a change, longer ones between: a few looks per clock step at most.
        const double looksPerSecond = static_cast<double>(looks) * 1000.0 / wall;
        EXPECT_LT(looksPerSecond, 250.0) << rate;
    }
}

TEST(FramePacing, AStillClockSleepsTheLongestWait) {
    EXPECT_EQ(driver::frameWaitMs(0, false), driver::idleWaitMs);
    EXPECT_EQ(driver::frameWaitMs(5400, false), driver::idleWaitMs);
    EXPECT_EQ(driver::frameWaitMs(45000, true), driver::idleWaitMs) << "nothing changes any more";
    EXPECT_EQ(driver::frameWaitMs(5400, true), driver::clockPollMs) << "inside a flash";
}

} // namespace
