// The generated modules read back as written: by libxmp (an independent reader) and our loader.
#include "small_modules.h"
#include "xm_generator.h"

#include "music/module.h"
#include "music/stream.h"

#include <gtest/gtest.h>
#include <xmp.h>

#include <cstring>

namespace {

struct XmpView {
    xmp_context ctx = xmp_create_context();
    xmp_module_info info{};
    int totalTimeMs = 0;
    bool loaded = false;
    explicit XmpView(std::vector<uint8_t>& bytes) {
        loaded =
            xmp_load_module_from_memory(ctx, bytes.data(), static_cast<long>(bytes.size())) == 0;
        if (!loaded) return;
        xmp_start_player(ctx, 44100, 0);
        xmp_get_module_info(ctx, &info);
        xmp_frame_info frame{};
        xmp_get_frame_info(ctx, &frame);
        totalTimeMs = frame.total_time;
    }
    ~XmpView() {
        if (loaded) {
            xmp_end_player(ctx);
            xmp_release_module(ctx);
        }
        xmp_free_context(ctx);
    }
};

TEST(BenchGenerator, SameSeedSameBytesOtherSeedOtherBytes) {
    benchgen::SongShape shape = benchgen::benchShape(8);
    EXPECT_EQ(benchgen::generateModule(shape), benchgen::generateModule(shape));
    shape.seed += 1;
    EXPECT_NE(benchgen::generateModule(shape), benchgen::generateModule(benchgen::benchShape(8)));
}

TEST(BenchGenerator, BenchModulesReadBackInAnIndependentReader) {
    for (int32_t channels : {4, 8, 16, 32}) {
        SCOPED_TRACE(channels);
        const benchgen::SongShape shape = benchgen::benchShape(channels);
        std::vector<uint8_t> bytes = benchgen::generateModule(shape);
        XmpView xmp(bytes);
        ASSERT_TRUE(xmp.loaded);
        const xmp_module& m = *xmp.info.mod;
        EXPECT_STREQ(m.type, "bench generator XM 1.04"); // tracker name and version as written
        EXPECT_EQ(m.chn, channels);
        EXPECT_EQ(m.len, shape.patternCount);
        EXPECT_EQ(m.ins, 8);
        EXPECT_EQ(m.smp, 9); // the pad instrument carries a second sample
        EXPECT_EQ(m.spd, 6);
        EXPECT_EQ(m.bpm, 125);
        // About a minute, and exactly as long as the rows say: no stray jump or tempo change.
        EXPECT_NEAR(xmp.totalTimeMs, benchgen::nominalSeconds(shape) * 1000.0, 50.0);
        EXPECT_GT(xmp.totalTimeMs, 55000);

        int32_t pingPong = 0, forward = 0, sixteen = 0, eight = 0;
        for (int32_t i = 0; i < m.smp; ++i) {
            const xmp_sample& s = m.xxs[i];
            EXPECT_TRUE(s.flg & XMP_SAMPLE_LOOP) << "sample " << i << " should loop";
            EXPECT_LE(s.lpe, s.len);
            EXPECT_LT(s.lps, s.lpe);
            (s.flg & XMP_SAMPLE_LOOP_BIDIR) ? ++pingPong : ++forward;
            (s.flg & XMP_SAMPLE_16BIT) ? ++sixteen : ++eight;
        }
        EXPECT_GT(pingPong, 0);
        EXPECT_GT(forward, 0);
        EXPECT_GT(sixteen, 0);
        EXPECT_GT(eight, 0);

        // Dense: a note on most rows of every channel.
        int32_t notes = 0, cells = 0;
        for (int32_t p = 0; p < shape.patternCount; ++p) {
            for (int32_t c = 0; c < channels; ++c) {
                const xmp_track& t = *m.xxt[m.xxp[p]->index[c]];
                for (int32_t r = 0; r < t.rows; ++r, ++cells) notes += t.event[r].note != 0;
            }
        }
        EXPECT_GT(notes, cells * 6 / 10);
    }
}

TEST(BenchGenerator, EveryModuleLoadsInOurLoaderWithItsShape) {
    std::vector<benchgen::NamedShape> shapes;
    for (const auto& s : benchgen::smallShapes()) shapes.push_back(s);
    shapes.push_back({"bench 32", benchgen::benchShape(32)});
    for (const auto& named : shapes) {
        SCOPED_TRACE(named.name);
        const benchgen::SongShape& shape = named.shape;
        std::vector<uint8_t> bytes = benchgen::generateModule(shape);
        music::MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
        music::Player* player = music::createPlayer(&description);
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(player->channelCount, shape.channelCount);
        EXPECT_EQ(player->songLength, shape.patternCount);
        EXPECT_EQ(player->patternRecordCount, shape.patternCount);
        EXPECT_EQ(player->instrumentCount, shape.instrumentCount);
        EXPECT_EQ(player->flags & 1, shape.linearFrequencies ? 1 : 0);
        for (int32_t p = 0; p < shape.patternCount; ++p)
            EXPECT_EQ(player->patterns[p].rowCount, shape.rowsPerPattern);
        for (int32_t i = 0; i < player->instrumentCount; ++i) {
            const music::Instrument& ins = player->instruments[i];
            ASSERT_GE(ins.sampleCount, 1);
            for (int32_t s = 0; s < ins.sampleCount; ++s) {
                const music::Sample& smp = *ins.samples[s];
                EXPECT_NE(smp.loopMode, music::LOOP_NONE);
                EXPECT_LE(smp.loopStart + smp.loopLength, smp.length);
                // Synthesised at full scale: silence here would mean the deltas were mis-coded.
                int32_t peak = 0;
                for (uint32_t k = 0; k < smp.length; ++k)
                    peak = std::max(peak, std::abs(static_cast<int32_t>(smp.data[k])));
                EXPECT_GT(peak, 8000) << "instrument " << i << " sample " << s;
            }
        }
        music::destroyPlayer(player);
    }
}

} // namespace
