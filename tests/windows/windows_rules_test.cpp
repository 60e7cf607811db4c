// The Windows side's rules that need no Windows: the waveOut byte counter carried on past its
// 32-bit wrap, and what WGL's exact lookup and extension list change in the entry-point fetch
// and the multisample probe.
#include "music/audio_output.h"
#include "music/device/device_position.h"
#include "music/format.h"

#if defined(DEMO_TEST_DISPLAY_RULES)
#include "display/entry_points.h"
#endif

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using music::extendDeviceCounter;

constexpr uint64_t wrap = uint64_t{1} << 32;
const music::OutputSizes sizes = music::outputSizesForRate(music::defaultSampleRateHz);

TEST(DeviceCounter, FollowsTheTrueCountAcrossManyWraps) {
    // Readings every 5 to 40 ms of audio, sometimes a long stall of up to an hour.
    std::mt19937_64 random(13);
    uint64_t truth = wrap - 3 * 176400; // three seconds before the first wrap
    uint64_t extended = truth;
    for (int i = 0; i < 200000; ++i) {
        const uint64_t step =
            (i % 5000 == 0) ? random() % (uint64_t{3600} * 176400) : 882 + random() % 6174;
        truth += step;
        extended = extendDeviceCounter(extended, static_cast<uint32_t>(truth));
        ASSERT_EQ(extended, truth) << "reading " << i;
    }
    EXPECT_GT(truth, 3 * wrap);
}

TEST(DeviceCounter, AStillCounterStaysAndTheFirstReadingAfterAWrapLandsPastIt) {
    EXPECT_EQ(extendDeviceCounter(0, 0), 0u);
    EXPECT_EQ(extendDeviceCounter(12345, 12345), 12345u);
    EXPECT_EQ(extendDeviceCounter(wrap - 4, 0), wrap);
    EXPECT_EQ(extendDeviceCounter(wrap - 4, 8), wrap + 8);
    EXPECT_EQ(extendDeviceCounter(5 * wrap + 100, 3), 6 * wrap + 3);
}

// What the wrap would do to the render thread without the extension: the play chunk jumps,
// because 2^32 bytes are not a whole number of buffer passes.
TEST(DeviceCounter, ThePlayChunkMovesOnSmoothlyThroughTheWrap) {
    uint64_t extended = 0;
    int32_t previous = -1;
    bool rawJumped = false;
    for (uint64_t bytes = wrap - 40 * 3536; bytes < wrap + 40 * 3536; bytes += 1764) {
        extended = extendDeviceCounter(extended == 0 ? bytes - 1764 : extended,
                                       static_cast<uint32_t>(bytes));
        const int32_t chunk =
            music::playChunkForPosition(extended, sizes.chunkFrames, sizes.bufferFrames);
        const int32_t raw = music::playChunkForPosition(static_cast<uint32_t>(bytes),
                                                        sizes.chunkFrames, sizes.bufferFrames);
        if (previous >= 0) {
            const int32_t advance = (chunk - previous + sizes.chunkCount) % sizes.chunkCount;
            EXPECT_LE(advance, 1) << "at byte " << bytes;
        }
        if (raw != chunk) rawJumped = true;
        previous = chunk;
    }
    EXPECT_TRUE(rawJumped) << "the raw 32-bit position should disagree after the wrap";
}

#if defined(DEMO_TEST_DISPLAY_RULES)

std::vector<std::string> lookedUp;
const char* missingName = nullptr;
char fakeFunction;

// Like wglGetProcAddress: null for the empty name and for what the context lacks.
void* wglLikeLookup(const char* name) {
    lookedUp.emplace_back(name);
    if (name[0] == '\0') return nullptr;
    if (missingName != nullptr && std::strcmp(name, missingName) == 0) return nullptr;
    return &fakeFunction;
}

TEST(WglEntryPoints, TheLookupAloneDecidesAndItsFirstNullStopsTheFetch) {
    lookedUp.clear();
    missingName = nullptr;
    // Version and extensions say nothing here: WGL's null is the only miss.
    EXPECT_EQ(display::fetchEntryPoints(wglLikeLookup, {"1.1", "", true}), 20);
    EXPECT_EQ(lookedUp.size(), 21u);
    EXPECT_EQ(display::firstMissingEntryPoint(), nullptr);

    lookedUp.clear();
    missingName = "glGetAttribLocation";
    EXPECT_EQ(display::fetchEntryPoints(wglLikeLookup, {nullptr, nullptr, true}), 12);
    EXPECT_EQ(lookedUp.size(), 13u);
    for (int32_t i = 12; i < display::entryPointSlots; ++i) {
        EXPECT_EQ(display::entryPoints[i], nullptr) << i;
    }
    EXPECT_STREQ(display::firstMissingEntryPoint(), "glGetAttribLocation");
}

TEST(WglMultisample, OneListIsSearchedForTheWglName) {
    EXPECT_TRUE(
        display::wglAdvertisesMultisample("WGL_ARB_pixel_format WGL_ARB_multisample", nullptr));
    EXPECT_TRUE(display::wglAdvertisesMultisample("WGL_ARB_multisampleX", nullptr));
    // GL's list only when WGL has none, and GL's own multisample name does not count.
    EXPECT_FALSE(display::wglAdvertisesMultisample("WGL_ARB_pixel_format", "WGL_ARB_multisample"));
    EXPECT_TRUE(display::wglAdvertisesMultisample(nullptr, "GL_A WGL_ARB_multisample"));
    EXPECT_FALSE(display::wglAdvertisesMultisample(nullptr, "GL_ARB_multisample"));
    EXPECT_FALSE(display::wglAdvertisesMultisample(nullptr, nullptr));
}

#endif

} // namespace
