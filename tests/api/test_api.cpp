// The public interface as an embedder meets it: opening and its failures, rendering at other
// rates, the end rule with a play count, seeking, snapshots and the facts as stored.
#include "beatxm.h"
#include "music/xm_facts.h"
#include "xm_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

std::vector<uint8_t> readFile(const char* path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return bytes;
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
    return bytes;
}

const std::vector<uint8_t>& song() {
    static const std::vector<uint8_t> bytes = readFile(DEMO_SONG_PATH);
    return bytes;
}

// Closes the player at the end of a test whatever happens, so the next test can open one.
struct Open {
    bxm_player* player = nullptr;
    bxm_error error{};
    Open(const std::vector<uint8_t>& bytes, int32_t profile, int32_t rate, int32_t playCount = 0) {
        bxm_options o = BXM_OPTIONS_INIT;
        o.profile = profile;
        o.sample_rate = rate;
        o.play_count = playCount;
        player = bxm_open(bytes.data(), bytes.size(), &o, &error);
    }
    ~Open() { bxm_close(player); }
};

constexpr int32_t toneCycleFrames = 64; // one sine period of the test sample
constexpr int32_t toneCycles = 32;

// One channel holding C-4 of a looping sine of 64 frames a period: 8363 / 64 Hz, for ever.
std::vector<uint8_t> heldToneModule(int32_t rows, int32_t tempo, int32_t bpm) {
    std::vector<int16_t> wave;
    for (int32_t i = 0; i < toneCycleFrames * toneCycles; ++i)
        wave.push_back(static_cast<int16_t>(
            std::lround(20000.0 * std::sin(2.0 * 3.14159265358979 * i / toneCycleFrames))));
    xmb::Instrument ins;
    xmb::Sample s = xmb::sample16(xmb::deltasOf(wave));
    s.type = 0x11; // 16-bit, forward loop
    s.loopStartBytes = 0;
    s.loopLengthBytes = s.lengthBytes;
    ins.samples.push_back(s);
    xmb::Module m;
    m.channelCount = 2;
    m.tempo = static_cast<int16_t>(tempo);
    m.bpm = static_cast<int16_t>(bpm);
    std::vector<xmb::Cell> cells(static_cast<size_t>(rows) * 2);
    cells[0].note = 49; // C-4
    cells[0].instrument = 1;
    m.patterns.push_back(xmb::pattern(static_cast<uint16_t>(rows), xmb::packCells(cells)));
    m.instruments.push_back(ins);
    return xmb::build(m);
}

// Frequency of the left channel from its rising zero crossings, interpolated between frames.
double measuredHz(const std::vector<int16_t>& frames, int32_t rate, size_t skipFrames) {
    double first = -1.0, last = -1.0;
    int32_t crossings = 0;
    for (size_t i = skipFrames + 1; i < frames.size() / 2; ++i) {
        const double a = frames[(i - 1) * 2], b = frames[i * 2];
        if (a < 0.0 && b >= 0.0) {
            const double at = static_cast<double>(i - 1) + (-a) / (b - a);
            if (first < 0.0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) / (last - first) * rate;
}

std::vector<int16_t> renderAll(bxm_player* player, int64_t maxFrames) {
    std::vector<int16_t> out;
    std::vector<int16_t> block(2 * 4096);
    int32_t n;
    while (static_cast<int64_t>(out.size() / 2) < maxFrames &&
           (n = bxm_render_s16(player, block.data(), 4096)) > 0)
        out.insert(out.end(), block.begin(), block.begin() + 2 * n);
    return out;
}

TEST(ApiOpen, RefusesBadArgumentsAndSaysWhy) {
    bxm_error e{};
    EXPECT_EQ(bxm_open(nullptr, 10, nullptr, &e), nullptr);
    EXPECT_EQ(e.code, BXM_ERROR_ARGUMENT);
    const std::vector<uint8_t>& bytes = song();
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bxm_open(bytes.data(), 0, nullptr, &e), nullptr);
    EXPECT_EQ(e.code, BXM_ERROR_EMPTY);
    EXPECT_STREQ(bxm_error_text(e.code), "empty file");
    for (int32_t rate : {7999, 192001, -44100}) {
        Open o(bytes, BXM_PROFILE_FT2, rate);
        EXPECT_EQ(o.player, nullptr) << rate;
        EXPECT_EQ(o.error.code, BXM_ERROR_ARGUMENT) << rate;
    }
    Open badProfile(bytes, 7, 0);
    EXPECT_EQ(badProfile.error.code, BXM_ERROR_ARGUMENT);

    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'X', 'M', ' ', 'f',
                                       'i', 'l', 'e', ' ', 'a', 't', ' ', 'a', 'l', 'l'};
    Open notXm(text, BXM_PROFILE_FT2, 0);
    EXPECT_EQ(notXm.player, nullptr);
    EXPECT_EQ(notXm.error.code, BXM_ERROR_NOT_XM);
    EXPECT_EQ(notXm.error.offset, 0);
    EXPECT_STREQ(bxm_error_text(BXM_ERROR_NOT_XM), "not an XM module");

    // A module cut inside its first pattern: the loader's reason and place come through.
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 4000);
    Open cutShort(cut, BXM_PROFILE_FT2, 0);
    EXPECT_EQ(cutShort.player, nullptr);
    EXPECT_EQ(cutShort.error.code, BXM_ERROR_TRUNCATED);
    EXPECT_EQ(cutShort.error.offset, 4000);
    EXPECT_STREQ(cutShort.error.reason, "pattern 4 cut short at byte 4000");
    EXPECT_STREQ(bxm_error_text(12345), "unknown error");
}

TEST(ApiOpen, OnePlayerAtATime) {
    Open a(song(), BXM_PROFILE_DEMO, 0);
    ASSERT_NE(a.player, nullptr);
    EXPECT_EQ(a.error.code, BXM_OK);
    {
        Open b(song(), BXM_PROFILE_DEMO, 0);
        EXPECT_EQ(b.player, nullptr);
        EXPECT_EQ(b.error.code, BXM_ERROR_BUSY);
    }
    bxm_close(a.player);
    a.player = nullptr;
    Open c(song(), BXM_PROFILE_DEMO, 0);
    EXPECT_NE(c.player, nullptr);
}

TEST(ApiFacts, AsStoredNotAsNormalised) {
    xmb::Module m;
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8({1, 2, 3, 4})); // one-shot, 8-bit
    xmb::Sample looped = xmb::sample16({5, 6, 7});
    looped.type = 0x12; // 16-bit ping-pong
    looped.loopStartBytes = 2;
    looped.loopLengthBytes = 4;
    looped.finetune = -16;
    looped.relativeNote = -12;
    looped.volume = 40;
    looped.panning = 200;
    ins.samples.push_back(looped);
    ins.volumePointCount = 2;
    ins.volumeEnvelope[1] = {10, 64};
    ins.volumeType = 5;
    ins.fadeout = 300;
    m.patterns.push_back(xmb::pattern(4, {}));
    m.instruments.push_back(ins);
    const std::vector<uint8_t> bytes = xmb::build(m);
    Open o(bytes, BXM_PROFILE_FT2, 0);
    ASSERT_NE(o.player, nullptr);

    bxm_module_info info{};
    ASSERT_EQ(bxm_get_module_info(o.player, &info), 0);
    EXPECT_STREQ(info.title, "test module");
    EXPECT_STREQ(info.tracker, "xm builder");
    EXPECT_EQ(info.version, 0x0104);
    EXPECT_EQ(info.instruments, 1);

    bxm_instrument_info in{};
    ASSERT_EQ(bxm_get_instrument_info(o.player, 0, &in), 0);
    EXPECT_STREQ(in.name, "instrument");
    EXPECT_EQ(in.sample_count, 2);
    EXPECT_EQ(in.volume_envelope.point_count, 2);
    EXPECT_EQ(in.volume_envelope.type, 5);
    EXPECT_EQ(in.volume_envelope.x[1], 10);
    EXPECT_EQ(in.volume_envelope.y[1], 64);
    EXPECT_EQ(in.fadeout, 300); // the loader doubles it; the file says 300
    EXPECT_EQ(bxm_get_instrument_info(o.player, 1, &in), -1);

    bxm_sample_info s{};
    ASSERT_EQ(bxm_get_sample_info(o.player, 0, 0, &s), 0);
    EXPECT_STREQ(s.name, "sample");
    EXPECT_EQ(s.bits, 8); // the loader decodes it to 16
    EXPECT_EQ(s.loop_type, BXM_LOOP_NONE);
    EXPECT_EQ(s.loop_length, 0u); // the loader makes it the sample's length
    EXPECT_EQ(s.length, 4u);
    ASSERT_EQ(bxm_get_sample_info(o.player, 0, 1, &s), 0);
    EXPECT_EQ(s.bits, 16);
    EXPECT_EQ(s.loop_type, BXM_LOOP_PINGPONG);
    EXPECT_EQ(s.length_bytes, 6u);
    EXPECT_EQ(s.length, 3u);
    EXPECT_EQ(s.loop_start, 1u);
    EXPECT_EQ(s.loop_length, 2u);
    EXPECT_EQ(s.finetune, -16);
    EXPECT_EQ(s.relative_note, -12);
    EXPECT_EQ(s.volume, 40);
    EXPECT_EQ(s.panning, 200);
    EXPECT_EQ(bxm_get_sample_info(o.player, 0, 2, &s), -1);
}

// The demo's song at another rate lasts as long, up to what the whole-frame tick lengths lose:
// each tick is truncated to whole frames at either rate, so each may differ by less than one
// frame of each rate, and the end is found on a tick.
TEST(ApiRate, DurationFollowsTheRate) {
    int32_t ms44 = 0;
    int32_t bpm = 0;
    {
        Open o(song(), BXM_PROFILE_DEMO, 44100);
        ASSERT_NE(o.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        ms44 = info.duration_ms;
        bpm = info.initial_bpm;
        // What is rendered is what the duration says.
        EXPECT_EQ(static_cast<int64_t>(renderAll(o.player, INT64_MAX).size() / 2),
                  info.duration_frames);
    }
    for (int32_t rate : {48000, 22050, 96000}) {
        Open o(song(), BXM_PROFILE_DEMO, rate);
        ASSERT_NE(o.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        EXPECT_EQ(info.sample_rate, rate);
        const double tickMs = 2500.0 / bpm;
        const double ticks = ms44 / tickMs;
        const double truncationMs = ticks * (1000.0 / 44100 + 1000.0 / rate);
        EXPECT_LE(std::abs(info.duration_ms - ms44), tickMs + truncationMs)
            << rate << " Hz: " << info.duration_ms << " ms against " << ms44 << " ms";
        EXPECT_EQ(static_cast<int64_t>(renderAll(o.player, INT64_MAX).size() / 2),
                  info.duration_frames);
    }
}

// The ft2 profile carries the fraction of a tick's frames from tick to tick, so the song lasts
// as long at every rate: within one tick of the 44100 Hz duration (in fact within a frame).
TEST(ApiRate, Ft2DurationIsTheSameAtEveryRate) {
    int64_t us44 = 0;
    int32_t bpm = 0;
    {
        Open o(song(), BXM_PROFILE_FT2, 44100);
        ASSERT_NE(o.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        us44 = info.duration_frames * 1000000 / 44100;
        bpm = info.initial_bpm;
    }
    for (int32_t rate : {48000, 22050, 96000, 8000}) {
        Open o(song(), BXM_PROFILE_FT2, rate);
        ASSERT_NE(o.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        const int64_t us = info.duration_frames * 1000000 / rate;
        const int64_t tickUs = 2500000 / bpm;
        EXPECT_LE(std::llabs(us - us44), tickUs) << rate << " Hz: " << us << " us against " << us44;
        EXPECT_LE(std::llabs(us - us44), 1000000 / 8000 + 1000000 / 44100 + 1) << rate << " Hz";
    }
}

TEST(ApiRate, HeldNoteKeepsItsPitch) {
    const std::vector<uint8_t> bytes = heldToneModule(64, 6, 125);
    const double expectedHz = 8363.0 / toneCycleFrames;
    double at44 = 0.0;
    for (int32_t rate : {44100, 48000, 22050, 8000, 192000}) {
        Open o(bytes, BXM_PROFILE_FT2, rate);
        ASSERT_NE(o.player, nullptr);
        const std::vector<int16_t> frames = renderAll(o.player, rate);
        const double hz = measuredHz(frames, rate, static_cast<size_t>(rate / 10));
        EXPECT_NEAR(hz, expectedHz, expectedHz * 0.002) << rate << " Hz";
        if (rate == 44100)
            at44 = hz;
        else
            EXPECT_NEAR(hz, at44, at44 * 0.001) << rate << " Hz";
        bxm_channel_state c{};
        ASSERT_EQ(bxm_get_channel_state(o.player, 0, &c), 0);
        EXPECT_EQ(c.active, 1);
        EXPECT_EQ(c.note, 49);
        EXPECT_EQ(c.instrument, 0);
        EXPECT_EQ(c.volume, 64);
        EXPECT_EQ(c.frequency_hz, 8363);
        ASSERT_EQ(bxm_get_channel_state(o.player, 1, &c), 0);
        EXPECT_EQ(c.active, 0);
        EXPECT_EQ(c.note, 0);
        EXPECT_EQ(bxm_get_channel_state(o.player, 2, &c), -1);
    }
}

// Rows 0..3 loop three times through E62 on row 3, then rows 4..7 play once: 16 rows of 6 ticks
// at BPM 125. The last pass of the loop revisits row 3, whose E62 ends the loop on that very row;
// that is still the loop, not the song coming back to a row it has played.
TEST(ApiEnd, TheLastPassOfAPatternLoopIsNotTheEnd) {
    xmb::Module m;
    m.channelCount = 2;
    m.tempo = 6;
    m.bpm = 125;
    std::vector<xmb::Cell> cells(8 * 2);
    cells[0].note = 49;
    cells[0].instrument = 1;
    cells[3 * 2 + 1].effect = 14;
    cells[3 * 2 + 1].param = 0x62;
    m.patterns.push_back(xmb::pattern(8, xmb::packCells(cells)));
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8({10, 5, -20}));
    m.instruments.push_back(ins);
    const std::vector<uint8_t> bytes = xmb::build(m);
    for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
        Open once(bytes, profile, 44100);
        ASSERT_NE(once.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(once.player, &info);
        EXPECT_EQ(info.duration_frames, 16 * 6 * 882) << "profile " << profile;
        EXPECT_EQ(static_cast<int64_t>(renderAll(once.player, INT64_MAX).size() / 2), 16 * 6 * 882)
            << "profile " << profile;
    }
}

TEST(ApiEnd, PlayCountRepeatsThenEnds) {
    // 4 rows of 6 ticks at BPM 125: 4 * 6 * 882 frames a pass, the same every pass.
    const std::vector<uint8_t> bytes = heldToneModule(4, 6, 125);
    const int64_t passFrames = 4 * 6 * 882;
    {
        Open once(bytes, BXM_PROFILE_FT2, 0);
        bxm_module_info info{};
        bxm_get_module_info(once.player, &info);
        EXPECT_EQ(info.duration_frames, passFrames);
        EXPECT_EQ(static_cast<int64_t>(renderAll(once.player, INT64_MAX).size() / 2), passFrames);
        int16_t tail[8];
        EXPECT_EQ(bxm_render_s16(once.player, tail, 4), 0);
        bxm_position p{};
        bxm_get_position(once.player, &p);
        EXPECT_EQ(p.ended, 1);
        EXPECT_EQ(p.pass, 1);
    }
    {
        Open thrice(bytes, BXM_PROFILE_FT2, 0, 3);
        EXPECT_EQ(static_cast<int64_t>(renderAll(thrice.player, INT64_MAX).size() / 2),
                  3 * passFrames);
    }
    {
        Open endless(bytes, BXM_PROFILE_FT2, 0, -1);
        EXPECT_GE(static_cast<int64_t>(renderAll(endless.player, 10 * passFrames).size() / 2),
                  10 * passFrames);
        bxm_position p{};
        bxm_get_position(endless.player, &p);
        EXPECT_EQ(p.ended, 0);
        EXPECT_GE(p.pass, 9);
    }
}

TEST(ApiRender, FloatIsTheSameMixBeforeRounding) {
    std::vector<int16_t> pcm;
    {
        Open o(song(), BXM_PROFILE_DEMO, 0);
        pcm = renderAll(o.player, 44100 * 3);
    }
    Open o(song(), BXM_PROFILE_DEMO, 0);
    std::vector<float> mix(pcm.size());
    ASSERT_EQ(bxm_render_f32(o.player, mix.data(), static_cast<int32_t>(mix.size() / 2)),
              static_cast<int32_t>(mix.size() / 2));
    int64_t differing = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        float v = std::nearbyint(mix[i] * 32768.0f);
        if (v > 32767.0f) v = 32767.0f;
        if (v < -32768.0f) v = -32768.0f;
        if (static_cast<int16_t>(v) != pcm[i]) ++differing;
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(bxm_render_s16(nullptr, pcm.data(), 1), -1);
    EXPECT_EQ(bxm_render_f32(o.player, nullptr, 1), -1);
}

TEST(ApiPosition, SeekGoesToTheOrderAndItsTime) {
    // Straight through: when does order 5 start?
    int32_t order5Ms = -1;
    {
        Open o(song(), BXM_PROFILE_DEMO, 0);
        std::vector<int16_t> block(2 * 441);
        bxm_position p{};
        while (bxm_render_s16(o.player, block.data(), 441) > 0) {
            bxm_get_position(o.player, &p);
            if (p.order == 5) {
                order5Ms = p.time_ms;
                break;
            }
        }
    }
    ASSERT_GT(order5Ms, 0);
    Open o(song(), BXM_PROFILE_DEMO, 0);
    std::vector<int16_t> block(2 * 44100);
    ASSERT_EQ(bxm_render_s16(o.player, block.data(), 44100), 44100);
    EXPECT_EQ(bxm_seek_order(o.player, 99), -1);
    ASSERT_EQ(bxm_seek_order(o.player, 5), 0);
    ASSERT_EQ(bxm_render_s16(o.player, block.data(), 2 * 884), 2 * 884);
    bxm_position p{};
    bxm_get_position(o.player, &p);
    EXPECT_EQ(p.order, 5);
    EXPECT_EQ(p.pattern, bxm_get_order(o.player, 5));
    EXPECT_LE(p.row, 1);
    EXPECT_NEAR(p.time_ms, order5Ms, 60);
    EXPECT_EQ(p.frame, 44100 + 2 * 884);
}

} // namespace

namespace {

// The stored-facts reader takes any bytes: every prefix of a module and every single-byte change
// of its headers read without going outside the block (the sanitizer build checks that), and a
// cut file says it was cut.
TEST(ApiFacts, ReaderStaysInsideAnyBytes) {
    xmb::Module m;
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8({1, 2, 3, 4}));
    ins.samples.push_back(xmb::sample16({5, 6, 7}));
    m.patterns.push_back(xmb::pattern(4, xmb::packCells(std::vector<xmb::Cell>(8))));
    m.instruments.push_back(ins);
    m.instruments.push_back(xmb::Instrument{});
    const std::vector<uint8_t> whole = xmb::build(m);

    music::XmFacts facts{};
    ASSERT_TRUE(music::readXmFacts(whole.data(), static_cast<int64_t>(whole.size()), &facts));
    EXPECT_FALSE(facts.truncated);
    EXPECT_EQ(facts.instrumentCount, 2);
    EXPECT_EQ(facts.instruments[0].sampleCount, 2);
    EXPECT_EQ(facts.instruments[0].samples[1].lengthBytes, 6u);
    music::freeXmFacts(&facts);

    for (size_t cut = 0; cut < whole.size(); ++cut) {
        std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<long>(cut));
        ASSERT_TRUE(music::readXmFacts(prefix.data(), static_cast<int64_t>(prefix.size()), &facts));
        // The last bytes are the second sample's data, which the reader never looks at.
        if (cut < whole.size() - 6) {
            EXPECT_TRUE(facts.truncated) << cut;
        }
        music::freeXmFacts(&facts);
    }
    for (size_t at = 0; at < whole.size(); ++at) {
        for (uint8_t value : {uint8_t{0}, uint8_t{0x7F}, uint8_t{0xFF}}) {
            std::vector<uint8_t> changed = whole;
            changed[at] = value;
            ASSERT_TRUE(
                music::readXmFacts(changed.data(), static_cast<int64_t>(changed.size()), &facts));
            music::freeXmFacts(&facts);
        }
    }
}

} // namespace
