// examples/crossfade against the two modules rendered alone: its WAV file is the first module
// alone up to the fade, the second module alone (from its own start at the fade's start) after
// it, and in between the weighted sum of both, the weight of the second rising from 0 to 1.
#include "beatxm.h"
#include "tests/lib/read_file.h"
#include "xm_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> readFile(const std::string& path) {
    return testing_files::readFile(path.c_str());
}

// Two channels of a square wave in octaves, a note every 8 rows: nothing like the demo's song.
std::vector<uint8_t> squareSong() {
    std::vector<int16_t> wave;
    for (int32_t i = 0; i < 128; ++i) wave.push_back(static_cast<int16_t>(i < 64 ? 12000 : -12000));
    xmb::Instrument ins;
    xmb::Sample s = xmb::sample16(xmb::deltasOf(wave));
    s.type = 0x11;
    s.loopStartBytes = 0;
    s.loopLengthBytes = s.lengthBytes;
    s.volume = 50;
    ins.samples.push_back(s);
    xmb::Module m;
    m.channelCount = 2;
    m.bpm = 140;
    std::vector<xmb::Cell> cells(64 * 2);
    for (int32_t row = 0; row < 64; row += 8) {
        cells[static_cast<size_t>(row) * 2].note = static_cast<uint8_t>(37 + row / 8);
        cells[static_cast<size_t>(row) * 2].instrument = 1;
        cells[static_cast<size_t>(row + 4) * 2 + 1].note = static_cast<uint8_t>(49 + row / 8);
        cells[static_cast<size_t>(row + 4) * 2 + 1].instrument = 1;
    }
    m.patterns.push_back(xmb::pattern(64, xmb::packCells(cells)));
    m.instruments.push_back(ins);
    return xmb::build(m);
}

struct Alone {
    std::vector<int16_t> s16;
    std::vector<float> f32;
};

Alone renderAlone(const std::vector<uint8_t>& song, int32_t rate, int32_t frames) {
    Alone a;
    a.s16.assign(static_cast<size_t>(frames) * 2, 0);
    a.f32.assign(static_cast<size_t>(frames) * 2, 0.0f);
    bxm_options o = BXM_OPTIONS_INIT;
    o.profile = BXM_PROFILE_DEMO;
    o.sample_rate = rate;
    for (int32_t asFloat = 0; asFloat < 2; ++asFloat) {
        bxm_player* p = bxm_open(song.data(), song.size(), &o, nullptr);
        EXPECT_NE(p, nullptr);
        if (p == nullptr) return a;
        const int32_t got = asFloat != 0 ? bxm_render_f32(p, a.f32.data(), frames)
                                         : bxm_render_s16(p, a.s16.data(), frames);
        EXPECT_EQ(got, frames) << "both songs last longer than the crossfade";
        bxm_close(p);
    }
    return a;
}

TEST(ExampleCrossfade, FirstAloneThenTheWeightedSumThenSecondAlone) {
    constexpr int32_t rate = 22050;
    constexpr int32_t fadeStart = 2 * rate;               // --fade-at 2
    constexpr int32_t fadeEnd = fadeStart + 3 * rate / 2; // --fade 1.5
    constexpr int32_t length = 5 * rate;                  // --length 5
    const std::string second = std::string(WORK_DIR) + "/crossfade_second.xm";
    const std::string wav = std::string(WORK_DIR) + "/crossfade_out.wav";
    {
        const std::vector<uint8_t> bytes = squareSong();
        std::FILE* f = std::fopen(second.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    std::remove(wav.c_str());
    const std::string command = std::string(CROSSFADE_PATH) + " " + DEMO_SONG_PATH + " " + second +
                                " -o " + wav +
                                " --fade-at 2 --fade 1.5 --length 5 --rate 22050 --profile demo";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const std::vector<uint8_t> file = readFile(wav);
    ASSERT_EQ(file.size(), 44u + static_cast<size_t>(length) * 4);
    std::vector<int16_t> out(static_cast<size_t>(length) * 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(file[44 + 2 * i] | file[44 + 2 * i + 1] << 8);

    const Alone first = renderAlone(readFile(DEMO_SONG_PATH), rate, fadeEnd);
    const Alone later = renderAlone(readFile(second), rate, length - fadeStart);

    // Before the fade: the first module alone, bit for bit.
    for (int32_t f = 0; f < fadeStart * 2; ++f)
        ASSERT_EQ(out[f], first.s16[f]) << "value " << f << " before the fade";
    // After it: the second module alone, as it plays from its own start at the fade's start.
    for (int32_t f = fadeEnd * 2; f < length * 2; ++f)
        ASSERT_EQ(out[f], later.s16[f - fadeStart * 2]) << "value " << f << " after the fade";
    // In between: the weighted sum, to within the rounding to 16 bits.
    int64_t unlikeFirst = 0, unlikeSecond = 0;
    for (int32_t f = fadeStart; f < fadeEnd; ++f) {
        const double w = static_cast<double>(f - fadeStart) / (fadeEnd - fadeStart);
        for (int32_t side = 0; side < 2; ++side) {
            const size_t at = static_cast<size_t>(f) * 2 + side;
            const size_t atSecond = static_cast<size_t>(f - fadeStart) * 2 + side;
            const double sum = ((1.0 - w) * first.f32[at] + w * later.f32[atSecond]) * 32768.0;
            const double clamped = std::fmin(32767.0, std::fmax(-32768.0, sum));
            ASSERT_LE(std::fabs(out[at] - clamped), 1.0) << "frame " << f << ", w " << w;
            // In the middle half of the fade the mix is neither module alone.
            if (w > 0.25 && w < 0.75) {
                unlikeFirst += std::abs(out[at] - first.s16[at]) > 2;
                unlikeSecond += std::abs(out[at] - later.s16[atSecond]) > 2;
            }
        }
    }
    const int64_t middleValues = static_cast<int64_t>(fadeEnd - fadeStart);
    EXPECT_GT(unlikeFirst, middleValues / 4);
    EXPECT_GT(unlikeSecond, middleValues / 4);
}

// Wrong arguments are refused with the usage, without writing anything.
TEST(ExampleCrossfade, RefusesAFadeThatOutlastsTheLength) {
    const std::string wav = std::string(WORK_DIR) + "/crossfade_refused.wav";
    std::remove(wav.c_str());
    const std::string command = std::string(CROSSFADE_PATH) + " " + DEMO_SONG_PATH + " " +
                                DEMO_SONG_PATH + " -o " + wav +
                                " --fade-at 4 --fade 3 --length 5 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_NE(status, 0);
    EXPECT_TRUE(readFile(wav).empty());
}

} // namespace
