// The beat timeline and flash rule on the show's own cases, from the music clock alone.
#include "driver/timeline.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using driver::beatFrameAt;
using driver::slotForBeat;

uint32_t clockOfBeat(int32_t beat) {
    return static_cast<uint32_t>(std::ceil(beat * driver::beatLengthMs));
}

TEST(BeatTimeline, ClockZeroShowsSlotZeroPlain) {
    const driver::BeatFrame frame = beatFrameAt(0);
    EXPECT_EQ(frame.beat, 0);
    EXPECT_EQ(frame.slot, 0);
    EXPECT_EQ(frame.phase, 1.0f);
    EXPECT_EQ(frame.flash, 4.0f);
}

TEST(BeatTimeline, BeatFifteenIsStillBeforeTheFlashes) {
    const driver::BeatFrame frame = beatFrameAt(5000);
    EXPECT_DOUBLE_EQ(frame.position, 15.0);
    EXPECT_EQ(frame.beat, 15);
    EXPECT_EQ(frame.slot, 9);
    EXPECT_EQ(frame.flash, 4.0f);
}

TEST(BeatTimeline, BeatSixteenFlashesPartly) {
    const driver::BeatFrame frame = beatFrameAt(5400);
    EXPECT_EQ(frame.beat, 16);
    EXPECT_EQ(frame.slot, 8);
    EXPECT_NEAR(frame.phase, 0.2f, 1e-5f);
    EXPECT_NEAR(frame.flash, 0.8f, 4e-5f);
}

TEST(BeatTimeline, SharedRangesAndRotations) {
    EXPECT_EQ(slotForBeat(15), 9);
    EXPECT_EQ(slotForBeat(16), 8);
    EXPECT_EQ(slotForBeat(17), 9);
    EXPECT_EQ(slotForBeat(18), 8);
    EXPECT_EQ(slotForBeat(19), 9);
    EXPECT_EQ(slotForBeat(20), 9);
    EXPECT_EQ(slotForBeat(21), 10);
    EXPECT_EQ(slotForBeat(22), 9);
    EXPECT_EQ(slotForBeat(38), 18);
    EXPECT_EQ(slotForBeat(39), 16);
    EXPECT_EQ(slotForBeat(40), 17);
}

TEST(BeatTimeline, SlotsChangeEveryTwoBeatsFromSixtyOne) {
    EXPECT_EQ(slotForBeat(61), 21);
    EXPECT_EQ(slotForBeat(62), 22);
    EXPECT_EQ(slotForBeat(63), 22);
    EXPECT_EQ(slotForBeat(64), 21);
    EXPECT_EQ(slotForBeat(65), 21);
    EXPECT_EQ(slotForBeat(74), 22);
    EXPECT_EQ(slotForBeat(75), 22);
}

TEST(BeatTimeline, LastFlashAndTheCalmClose) {
    for (uint32_t clock : {40334u, 40400u, 40666u}) {
        const driver::BeatFrame frame = beatFrameAt(clock);
        EXPECT_EQ(frame.beat, 121) << clock;
        EXPECT_EQ(frame.slot, 22) << clock;
        EXPECT_LT(frame.phase, 1.0f) << clock;
    }
    EXPECT_LT(beatFrameAt(40334).flash, 0.1f);
    const driver::BeatFrame calm = beatFrameAt(40667);
    EXPECT_EQ(calm.beat, 122);
    EXPECT_EQ(calm.slot, 0);
    EXPECT_EQ(calm.flash, 4.0f);
}

TEST(BeatTimeline, EndOfTheShowHoldsSlotSix) {
    for (int32_t beat = 132; beat < 400; ++beat) ASSERT_EQ(slotForBeat(beat), 6) << beat;
    const driver::BeatFrame end = beatFrameAt(driver::showEndMs);
    EXPECT_EQ(end.beat, 144);
    EXPECT_EQ(end.slot, 6);
    EXPECT_EQ(end.flash, 4.0f);
    EXPECT_EQ(beatFrameAt(0xFFFFFFFFu).slot, 6);
}

TEST(BeatTimeline, FlashOnlyFromBeatSixteenToOneTwentyOne) {
    for (int32_t beat = 0; beat < 150; ++beat) {
        const driver::BeatFrame start = beatFrameAt(clockOfBeat(beat));
        ASSERT_EQ(start.beat, beat);
        const bool flashes = beat >= 16 && beat <= 121;
        if (flashes) {
            // Every flashing beat starts (nearly) inverted and is plain after its first quarter.
            EXPECT_LT(start.flash, 0.02f) << beat;
            EXPECT_GE(beatFrameAt(clockOfBeat(beat) + 84).flash, 1.0f) << beat;
        } else {
            EXPECT_EQ(start.flash, 4.0f) << beat;
        }
        ASSERT_GE(start.slot, 0);
        ASSERT_LT(start.slot, driver::imageSlotCount);
    }
}

TEST(BeatTimeline, EveryRangeStartsOnItsListedSlot) {
    struct Case {
        int32_t beat;
        int32_t slot;
    };
    const Case cases[] = {{0, 0},    {3, 3},   {8, 4},   {13, 6},  {23, 11}, {30, 12},
                          {46, 2},   {51, 15}, {58, 4},  {76, 19}, {92, 18}, {107, 7},
                          {114, 21}, {124, 2}, {129, 5}, {131, 5}, {2, 0},   {7, 3}};
    for (const Case& c : cases) EXPECT_EQ(slotForBeat(c.beat), c.slot) << c.beat;
}

} // namespace
