// The listener controls of the public interface: gain, stereo separation, muted channels and
// seeking to a time, each against a render without it.
#include "beatxm.h"
#include "tests/lib/read_file.h"
#include "xm_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const std::vector<uint8_t>& song() {
    static const std::vector<uint8_t> bytes = testing_files::readFile(DEMO_SONG_PATH);
    return bytes;
}

struct Open {
    bxm_player* player = nullptr;
    explicit Open(const std::vector<uint8_t>& bytes, int32_t profile = BXM_PROFILE_FT2,
                  int32_t playCount = 0) {
        bxm_options o = BXM_OPTIONS_INIT;
        o.profile = profile;
        o.play_count = playCount;
        player = bxm_open(bytes.data(), bytes.size(), &o, nullptr);
    }
    ~Open() { bxm_close(player); }
};

constexpr int32_t rate = 44100;
constexpr int32_t chunkFrames = 884; // one rendered chunk at 44100 Hz

std::vector<float> renderFloat(bxm_player* player, int32_t frames) {
    std::vector<float> out(static_cast<size_t>(frames) * 2);
    const int32_t n = bxm_render_f32(player, out.data(), frames);
    out.resize(static_cast<size_t>(n < 0 ? 0 : n) * 2);
    return out;
}

std::vector<int16_t> renderPcm(bxm_player* player, int32_t frames) {
    std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
    const int32_t n = bxm_render_s16(player, out.data(), frames);
    out.resize(static_cast<size_t>(n < 0 ? 0 : n) * 2);
    return out;
}

// Root mean square of one side (0 left, 1 right), or of both (2).
double rms(const std::vector<float>& frames, int side) {
    double sum = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (side != 2 && static_cast<int>(i % 2) != side) continue;
        sum += static_cast<double>(frames[i]) * frames[i];
        ++count;
    }
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

// A looping sine sample at the given panning, played on the channels marked in noteChannels on
// every noteEveryRows-th row; orders plays the one pattern that many times.
std::vector<uint8_t> toneModule(int32_t channels, uint32_t noteChannels, uint8_t panning,
                                int32_t rows, int32_t noteEveryRows, int32_t orders) {
    std::vector<int16_t> wave;
    for (int32_t i = 0; i < 64 * 16; ++i)
        wave.push_back(
            static_cast<int16_t>(std::lround(12000.0 * std::sin(2.0 * 3.14159265358979 * i / 64))));
    xmb::Instrument ins;
    xmb::Sample s = xmb::sample16(xmb::deltasOf(wave));
    s.type = 0x11; // 16-bit, forward loop
    s.loopStartBytes = 0;
    s.loopLengthBytes = s.lengthBytes;
    s.panning = panning;
    ins.samples.push_back(s);
    xmb::Module m;
    m.channelCount = static_cast<int16_t>(channels);
    std::vector<xmb::Cell> cells(static_cast<size_t>(rows) * channels);
    for (int32_t r = 0; r < rows; r += noteEveryRows) {
        for (int32_t c = 0; c < channels; ++c) {
            if ((noteChannels >> c & 1) == 0) continue;
            xmb::Cell& cell = cells[static_cast<size_t>(r) * channels + c];
            cell.note = static_cast<uint8_t>(49 + 3 * c + r % 5); // a few pitches
            cell.instrument = 1;
        }
    }
    // A tempo change halfway, so that ticks are not all the same length.
    cells[static_cast<size_t>(rows / 2) * channels].effect = 0x0F;
    cells[static_cast<size_t>(rows / 2) * channels].param = 0x97; // BPM 151
    m.patterns.push_back(xmb::pattern(static_cast<uint16_t>(rows), xmb::packCells(cells)));
    m.instruments.push_back(ins);
    m.orders.assign(static_cast<size_t>(orders), 0);
    return xmb::build(m);
}

TEST(ApiGain, MinusSixDecibelsHalvesTheLevelAndZeroChangesNothing) {
    std::vector<float> plain;
    std::vector<int16_t> plainPcm;
    {
        Open o(song());
        plain = renderFloat(o.player, rate * 4);
    }
    {
        Open o(song(), BXM_PROFILE_DEMO);
        plainPcm = renderPcm(o.player, rate * 4);
    }
    {
        Open o(song());
        ASSERT_EQ(bxm_set_gain(o.player, -600), 0);
        const std::vector<float> quieter = renderFloat(o.player, rate * 4);
        ASSERT_EQ(quieter.size(), plain.size());
        const double db = 20.0 * std::log10(rms(quieter, 2) / rms(plain, 2));
        EXPECT_NEAR(db, -6.0, 0.1);
    }
    {
        // Setting the gain back to 0 dB, from the start, gives the very same bytes.
        Open o(song(), BXM_PROFILE_DEMO);
        ASSERT_EQ(bxm_set_gain(o.player, 1200), 0);
        ASSERT_EQ(bxm_set_gain(o.player, 0), 0);
        EXPECT_TRUE(renderPcm(o.player, rate * 4) == plainPcm);
    }
    {
        // Louder clips the 16-bit output at full scale instead of wrapping round.
        Open o(song());
        ASSERT_EQ(bxm_set_gain(o.player, BXM_GAIN_MAX_MILLIBEL), 0);
        const std::vector<int16_t> loud = renderPcm(o.player, rate * 4);
        int64_t atFullScale = 0;
        for (size_t i = 0; i < loud.size(); ++i) {
            const float expected = plain[i] * 15.848932f * 32768.0f;
            if (expected > 32767.0f) {
                EXPECT_EQ(loud[i], 32767);
            }
            if (expected < -32768.0f) {
                EXPECT_EQ(loud[i], -32768);
            }
            atFullScale += loud[i] == 32767 || loud[i] == -32768;
        }
        EXPECT_GT(atFullScale, 0);
    }
    Open o(song());
    EXPECT_EQ(bxm_set_gain(o.player, BXM_GAIN_MIN_MILLIBEL - 1), -1);
    EXPECT_EQ(bxm_set_gain(o.player, BXM_GAIN_MAX_MILLIBEL + 1), -1);
    EXPECT_EQ(bxm_set_gain(nullptr, 0), -1);
}

TEST(ApiInterpolation, LinearIsTheDefaultToTheByteAndTheOthersDiffer) {
    std::vector<int16_t> plain;
    {
        Open o(song(), BXM_PROFILE_DEMO);
        plain = renderPcm(o.player, rate * 3);
    }
    std::vector<int16_t> held, cubic;
    for (int32_t mode : {BXM_INTERPOLATION_NONE, BXM_INTERPOLATION_CUBIC}) {
        Open o(song(), BXM_PROFILE_DEMO);
        ASSERT_EQ(bxm_set_interpolation(o.player, mode), 0);
        (mode == BXM_INTERPOLATION_NONE ? held : cubic) = renderPcm(o.player, rate * 3);
    }
    EXPECT_FALSE(held == plain);
    EXPECT_FALSE(cubic == plain);
    EXPECT_FALSE(held == cubic);
    {
        Open o(song(), BXM_PROFILE_DEMO);
        ASSERT_EQ(bxm_set_interpolation(o.player, BXM_INTERPOLATION_CUBIC), 0);
        ASSERT_EQ(bxm_set_interpolation(o.player, BXM_INTERPOLATION_LINEAR), 0);
        EXPECT_TRUE(renderPcm(o.player, rate * 3) == plain);
        EXPECT_EQ(bxm_set_interpolation(o.player, 3), -1);
        EXPECT_EQ(bxm_set_interpolation(o.player, -1), -1);
        ASSERT_EQ(bxm_set_interpolation(o.player, BXM_INTERPOLATION_NONE), 0);
    }
    // A new player starts linear again.
    Open o(song(), BXM_PROFILE_DEMO);
    EXPECT_TRUE(renderPcm(o.player, rate * 3) == plain);
    EXPECT_EQ(bxm_set_interpolation(nullptr, 0), -1);
}

TEST(ApiSeparation, HardLeftChannelSpreadsAsAsked) {
    const std::vector<uint8_t> left = toneModule(1, 1, 0, 16, 16, 1);
    std::vector<float> plain;
    {
        Open o(left);
        plain = renderFloat(o.player, rate);
    }
    ASSERT_GT(rms(plain, 0), 0.05);
    EXPECT_EQ(rms(plain, 1), 0.0); // FT2 pans 0 fully to the left
    {
        Open o(left);
        ASSERT_EQ(bxm_set_stereo_separation(o.player, 0), 0);
        const std::vector<float> mono = renderFloat(o.player, rate);
        ASSERT_EQ(mono.size(), plain.size());
        for (size_t i = 0; i < mono.size(); i += 2) {
            ASSERT_EQ(mono[i], mono[i + 1]) << "frame " << i / 2;
            ASSERT_NEAR(mono[i], plain[i] * 0.5f, 1e-6f) << "frame " << i / 2;
        }
    }
    {
        Open o(left);
        ASSERT_EQ(bxm_set_stereo_separation(o.player, 200), 0);
        const std::vector<float> wide = renderFloat(o.player, rate);
        ASSERT_EQ(wide.size(), plain.size());
        // Mid stays, side doubles: the left gets 1.5 of it, the right the opposite of half.
        EXPECT_NEAR(rms(wide, 0) / rms(plain, 0), 1.5, 1e-4);
        EXPECT_NEAR(rms(wide, 1) / rms(plain, 0), 0.5, 1e-4);
        for (size_t i = 0; i < wide.size(); i += 2)
            ASSERT_NEAR(wide[i + 1], -0.5f * plain[i], 1e-6f) << "frame " << i / 2;
    }
    {
        Open o(left);
        ASSERT_EQ(bxm_set_stereo_separation(o.player, 50), 0);
        ASSERT_EQ(bxm_set_stereo_separation(o.player, 100), 0);
        EXPECT_TRUE(renderFloat(o.player, rate) == plain);
        EXPECT_EQ(bxm_set_stereo_separation(o.player, -1), -1);
        EXPECT_EQ(bxm_set_stereo_separation(o.player, BXM_SEPARATION_MAX_PERCENT + 1), -1);
    }
    EXPECT_EQ(bxm_set_stereo_separation(nullptr, 100), -1);
}

TEST(ApiMute, MutedChannelAddsNothingAndPlaysOnUnheard) {
    // Channels 0 and 2 sound; the same module with channel 2 left empty is the reference.
    const std::vector<uint8_t> both = toneModule(3, 0b101, 200, 32, 4, 2);
    const std::vector<uint8_t> firstOnly = toneModule(3, 0b001, 200, 32, 4, 2);
    std::vector<float> reference, plain;
    {
        Open o(firstOnly);
        reference = renderFloat(o.player, rate * 3);
    }
    {
        Open o(both);
        plain = renderFloat(o.player, rate * 3);
    }
    ASSERT_FALSE(reference == plain);
    {
        Open o(both);
        ASSERT_EQ(bxm_set_channel_mute(o.player, 2, 1), 0);
        EXPECT_EQ(bxm_get_channel_mute(o.player, 2), 1);
        EXPECT_EQ(bxm_get_channel_mute(o.player, 0), 0);
        EXPECT_TRUE(renderFloat(o.player, rate * 3) == reference);
    }
    {
        // Unmuted after 40 chunks: one chunk already rendered still goes out muted, then the
        // channel is back exactly where it would have been.
        Open o(both);
        ASSERT_EQ(bxm_set_channel_mute(o.player, 2, 1), 0);
        std::vector<float> out = renderFloat(o.player, chunkFrames * 40 + 100);
        ASSERT_EQ(bxm_set_channel_mute(o.player, 2, 0), 0);
        const std::vector<float> rest = renderFloat(o.player, rate * 3 - chunkFrames * 40 - 100);
        out.insert(out.end(), rest.begin(), rest.end());
        ASSERT_EQ(out.size(), plain.size());
        const size_t heardFrom = static_cast<size_t>(chunkFrames) * 41 * 2;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + heardFrom, reference.begin()));
        EXPECT_TRUE(std::equal(out.begin() + heardFrom, out.end(), plain.begin() + heardFrom));
    }
    {
        // Every channel of the demo song muted: silence.
        Open o(song());
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        for (int32_t c = 0; c < info.channels; ++c)
            ASSERT_EQ(bxm_set_channel_mute(o.player, c, 1), 0);
        const std::vector<int16_t> pcm = renderPcm(o.player, rate * 2);
        ASSERT_EQ(pcm.size(), size_t{rate} * 2 * 2);
        for (int16_t v : pcm) ASSERT_EQ(v, 0);
        EXPECT_EQ(bxm_set_channel_mute(o.player, info.channels, 1), -1);
        EXPECT_EQ(bxm_set_channel_mute(o.player, -1, 1), -1);
        EXPECT_EQ(bxm_set_channel_mute(o.player, 0, 2), -1);
        EXPECT_EQ(bxm_get_channel_mute(o.player, info.channels), -1);
    }
    // Closing forgets the mutes: the next player is heard whole.
    Open o(both);
    EXPECT_EQ(bxm_get_channel_mute(o.player, 2), 0);
    EXPECT_TRUE(renderFloat(o.player, rate * 3) == plain);
}

// The mixer keeps ramp levels in 8.8 fixed point between its runs, and a seek moves where the
// runs (ticks, chunks) begin, so a ramp under way comes out a few millionths of full scale
// apart. A frame off in position is thousands of times more.
constexpr float sameSoundTolerance = 1e-4f;

float largestDifference(const std::vector<float>& a, const std::vector<float>& b, size_t bFrom) {
    float largest = 0.0f;
    for (size_t i = 0; i < a.size() && bFrom + i < b.size(); ++i)
        largest = std::max(largest, std::fabs(a[i] - b[bFrom + i]));
    return largest;
}

TEST(ApiSeek, TimeLandsOnTheFrameWithinAnOrder) {
    // One order from a fresh start: the frames after a seek are the straight render's from the
    // target frame on, also past a tempo change.
    const std::vector<uint8_t> one = toneModule(2, 0b11, 128, 64, 3, 1);
    std::vector<float> straight;
    bxm_module_info info{};
    {
        Open o(one);
        bxm_get_module_info(o.player, &info);
        straight = renderFloat(o.player, static_cast<int32_t>(info.duration_frames));
    }
    for (int32_t ms : {0, 1, 1234, 4321, info.duration_ms - 600}) {
        Open o(one);
        ASSERT_EQ(bxm_seek_ms(o.player, ms), 0) << ms;
        const size_t from = static_cast<size_t>(static_cast<int64_t>(ms) * rate / 1000) * 2;
        const std::vector<float> after = renderFloat(o.player, 10000);
        ASSERT_LE(from + after.size(), straight.size()) << ms;
        EXPECT_LT(largestDifference(after, straight, from), sameSoundTolerance) << ms;
        bxm_position p{};
        bxm_get_position(o.player, &p);
        EXPECT_NEAR(p.time_ms, ms + 10000 * 1000 / rate, 1) << ms;
    }
    Open o(one);
    EXPECT_EQ(bxm_seek_ms(o.player, -1), -1);
    EXPECT_EQ(bxm_seek_ms(o.player, info.duration_ms + 1), -1);
    EXPECT_EQ(bxm_seek_ms(nullptr, 0), -1);
}

TEST(ApiSeek, TimeInALaterOrderAfterPlaying) {
    // Order 2 begins with a fresh note and the old one ramps out within 128 frames, so from
    // there on the seek plays what a straight render plays.
    const std::vector<uint8_t> three = toneModule(1, 1, 128, 32, 32, 3);
    std::vector<float> straight;
    bxm_module_info info{};
    {
        Open o(three);
        bxm_get_module_info(o.player, &info);
        straight = renderFloat(o.player, static_cast<int32_t>(info.duration_frames));
    }
    const int32_t orderMs = info.duration_ms / 3;
    const int32_t target = 2 * orderMs + orderMs / 2;
    Open o(three);
    renderFloat(o.player, rate / 2 + 17); // anywhere in order 0
    ASSERT_EQ(bxm_seek_ms(o.player, target), 0);
    // What was rendered before the seek still goes out: the rest of the chunk under way.
    const int32_t inFlight = chunkFrames - (rate / 2 + 17) % chunkFrames;
    renderFloat(o.player, inFlight);
    bxm_position p{};
    bxm_get_position(o.player, &p);
    EXPECT_EQ(p.order, 2);
    EXPECT_NEAR(p.time_ms, target, 1);
    const std::vector<float> after = renderFloat(o.player, rate / 4);
    const size_t from = static_cast<size_t>(static_cast<int64_t>(target) * rate / 1000) * 2;
    ASSERT_LE(from + after.size(), straight.size());
    EXPECT_LT(largestDifference(after, straight, from), sameSoundTolerance);
    // A frame off would show: the sine moves by far more than the tolerance from one to the next.
    EXPECT_GT(largestDifference(after, straight, from + 2), 10 * sameSoundTolerance);
}

TEST(ApiSeek, DemoSongPositionIsTheTimeAskedFor) {
    bxm_module_info info{};
    bxm_position p{};
    for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
        Open d(song(), profile);
        bxm_get_module_info(d.player, &info);
        const int32_t middle = info.duration_ms / 2;
        ASSERT_EQ(bxm_seek_ms(d.player, middle), 0);
        renderFloat(d.player, 1);
        bxm_get_position(d.player, &p);
        EXPECT_NEAR(p.time_ms, middle, 1);
        EXPECT_EQ(p.ended, 0);
    }
}

int64_t framesToTheEnd(bxm_player* player) {
    std::vector<int16_t> block(2 * 4096);
    int64_t total = 0;
    int32_t n;
    while ((n = bxm_render_s16(player, block.data(), 4096)) > 0) total += n;
    return total;
}

TEST(ApiSeek, PlaybackFromASeekEndsWithTheSong) {
    // The rows before the seek were never played in this pass, yet the song ends at its end
    // rather than going round to them; a second pass is the whole song.
    bxm_module_info info{};
    {
        Open o(song());
        bxm_get_module_info(o.player, &info);
    }
    const int32_t target = info.duration_ms / 3;
    const int64_t rest = info.duration_frames - static_cast<int64_t>(target) * rate / 1000;
    for (int32_t playCount : {1, 2}) {
        Open o(song(), BXM_PROFILE_FT2, playCount);
        ASSERT_EQ(bxm_seek_ms(o.player, target), 0);
        EXPECT_EQ(framesToTheEnd(o.player), rest + (playCount - 1) * info.duration_frames)
            << playCount;
    }
    // The same by order: from order 3's start to the end.
    Open o(song());
    ASSERT_EQ(bxm_seek_order(o.player, 3), 0);
    bxm_position p{};
    bxm_get_position(o.player, &p);
    EXPECT_NEAR(static_cast<double>(framesToTheEnd(o.player)),
                static_cast<double>(info.duration_frames - int64_t{p.time_ms} * rate / 1000), 44.0);
}

} // namespace
