// The public interface as an embedder meets it: opening and its failures, rendering at other
// rates, the end rule with a play count, seeking, snapshots and the facts as stored.
#include "beatxm.h"
#include "tests/lib/read_file.h"
#include "xm_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

using testing_files::readFile;

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

// A hundred players open at once, in two profiles and four rates, rendered in turns of uneven
// length: each gives exactly what the same song gives in a player open alone, so none of them
// shares anything with another, and none is refused as busy.
TEST(ApiOpen, AHundredPlayersAtOnce) {
    constexpr int32_t playerCount = 100;
    constexpr int32_t frames = 2 * 44100;
    const int32_t rates[] = {44100, 48000, 22050, 32000};
    auto profileOf = [](int32_t i) { return i % 2 == 0 ? BXM_PROFILE_DEMO : BXM_PROFILE_FT2; };
    auto rateOf = [&rates](int32_t i) { return rates[(i / 2) % 4]; };

    // What each of the eight kinds renders alone, before any other player is open.
    std::vector<std::vector<int16_t>> alone(8);
    for (int32_t k = 0; k < 8; ++k) {
        Open o(song(), profileOf(k), rateOf(k));
        ASSERT_NE(o.player, nullptr);
        alone[k].resize(static_cast<size_t>(frames) * 2);
        ASSERT_EQ(bxm_render_s16(o.player, alone[k].data(), frames), frames);
    }
    EXPECT_NE(alone[0], alone[1]) << "the profiles should sound different";
    EXPECT_NE(alone[0], alone[2]) << "the rates should give different frames";

    std::vector<bxm_player*> players(playerCount, nullptr);
    for (int32_t i = 0; i < playerCount; ++i) {
        bxm_options o = BXM_OPTIONS_INIT;
        o.profile = profileOf(i);
        o.sample_rate = rateOf(i);
        bxm_error error{};
        players[i] = bxm_open(song().data(), song().size(), &o, &error);
        ASSERT_NE(players[i], nullptr) << "player " << i << ": " << bxm_error_text(error.code);
        EXPECT_EQ(error.code, BXM_OK);
    }
    // Different gains on some of them: a control of one player is not another's.
    for (int32_t i = 0; i < playerCount; i += 10) ASSERT_EQ(bxm_set_gain(players[i + 8], -600), 0);

    std::vector<std::vector<int16_t>> out(playerCount,
                                          std::vector<int16_t>(static_cast<size_t>(frames) * 2));
    std::vector<int32_t> done(playerCount, 0);
    for (int32_t turn = 0, busy = playerCount; busy > 0; ++turn) {
        busy = 0;
        for (int32_t i = 0; i < playerCount; ++i) {
            const int32_t left = frames - done[i];
            if (left == 0) continue;
            const int32_t n = std::min(left, 301 + (i * 977 + turn * 131) % 3000);
            ASSERT_EQ(bxm_render_s16(players[i], out[i].data() + done[i] * 2, n), n);
            done[i] += n;
            ++busy;
        }
    }
    for (int32_t i = 0; i < playerCount; ++i) {
        const bool quieter = i % 10 == 8;
        if (quieter) {
            EXPECT_NE(out[i], alone[i % 8]) << "player " << i << " kept its lower gain";
            continue;
        }
        EXPECT_TRUE(out[i] == alone[i % 8]) << "player " << i << " differs from its song alone";
    }
    for (int32_t i = playerCount - 1; i >= 0; i -= 2) bxm_close(players[i]);
    for (int32_t i = 0; i < playerCount; i += 2) bxm_close(players[i]);
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
// FT2 mixes (rate x 5 / 2) / BPM whole frames a tick at every rate, so a song has the same ticks
// everywhere and its length in frames is that many whole-frame ticks: 861 frames a tick at BPM
// 128 and 44100 Hz (861.33), 937 at 48000 Hz (937.5) and 156 at 8000 Hz (156.25).
TEST(ApiRate, Ft2DurationIsWholeFrameTicksAtEveryRate) {
    const std::vector<uint8_t> bytes = heldToneModule(64, 6, 128);
    int64_t ticks = 0;
    {
        Open o(bytes, BXM_PROFILE_FT2, 44100);
        ASSERT_NE(o.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        ASSERT_EQ(info.initial_bpm, 128);
        ASSERT_EQ(info.duration_frames % 861, 0);
        ticks = info.duration_frames / 861;
        ASSERT_GT(ticks, 0);
    }
    for (int32_t rate : {48000, 22050, 96000, 8000}) {
        Open o(bytes, BXM_PROFILE_FT2, rate);
        ASSERT_NE(o.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        EXPECT_EQ(info.duration_frames, ticks * (rate * 5 / 2 / 128)) << rate << " Hz";
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
        // FT2's 16.16 step is coarser at high rates: 8361.3 Hz at 192000 Hz.
        EXPECT_NEAR(c.frequency_hz, 8363, 2) << rate << " Hz";
        ASSERT_EQ(bxm_get_channel_state(o.player, 1, &c), 0);
        EXPECT_EQ(c.active, 0);
        EXPECT_EQ(c.note, 0);
        EXPECT_EQ(bxm_get_channel_state(o.player, 2, &c), -1);
    }
}

// Two channels, 8 rows at speed 6 and BPM 125: C-4 of a short sample on channel 0, and one
// effect on channel 1 of the given row.
std::vector<uint8_t> eightRowModuleWithEffect(int32_t row, uint8_t effect, uint8_t param) {
    xmb::Module m;
    m.channelCount = 2;
    m.tempo = 6;
    m.bpm = 125;
    std::vector<xmb::Cell> cells(8 * 2);
    cells[0].note = 49;
    cells[0].instrument = 1;
    cells[static_cast<size_t>(row) * 2 + 1].effect = effect;
    cells[static_cast<size_t>(row) * 2 + 1].param = param;
    m.patterns.push_back(xmb::pattern(8, xmb::packCells(cells)));
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8({10, 5, -20}));
    m.instruments.push_back(ins);
    return xmb::build(m);
}

// Rows 0..3 loop three times through E62 on row 3, then rows 4..7 play once: 16 rows of 6 ticks
// at BPM 125. The last pass of the loop revisits row 3, whose E62 ends the loop on that very row;
// that is still the loop, not the song coming back to a row it has played.
TEST(ApiEnd, TheLastPassOfAPatternLoopIsNotTheEnd) {
    const std::vector<uint8_t> bytes = eightRowModuleWithEffect(3, 14, 0x62);
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

// F00 on row 2: FT2's replayer would hold that row for good, and its own render ends the song
// after the tick that reads it: 2 rows of 6 ticks and one tick. The demo's rules make every tick
// a row tick and play on to the end of the pattern and round again to row 0.
TEST(ApiEnd, SpeedZeroEndsTheSongInFt2) {
    const std::vector<uint8_t> bytes = eightRowModuleWithEffect(2, 15, 0x00);
    bxm_module_info info{};
    {
        Open ft2(bytes, BXM_PROFILE_FT2, 44100);
        ASSERT_NE(ft2.player, nullptr);
        bxm_get_module_info(ft2.player, &info);
        EXPECT_EQ(info.duration_frames, (2 * 6 + 1) * 882);
        EXPECT_EQ(static_cast<int64_t>(renderAll(ft2.player, INT64_MAX).size() / 2),
                  (2 * 6 + 1) * 882);
    }
    Open demo(bytes, BXM_PROFILE_DEMO, 44100);
    ASSERT_NE(demo.player, nullptr);
    bxm_get_module_info(demo.player, &info);
    EXPECT_EQ(info.duration_frames, (2 * 6 + 6) * 882);
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

// ---- Facts as stored, in every layout the loader reads ----

// Two instruments with everything a header can state, and a pattern between them and the
// header; version picks the layout (1.02 and 1.03 keep every header before the patterns).
xmb::Module factsModule(uint16_t version) {
    xmb::Module m;
    m.version = version;
    m.tempo = 5;
    m.bpm = 140;
    m.patterns.push_back(xmb::pattern(4, xmb::packCells(std::vector<xmb::Cell>(8))));
    xmb::Instrument first;
    first.sampleMap[0] = 1;
    first.sampleMap[95] = 1;
    first.volumeEnvelope[0] = {0, 64};
    first.volumeEnvelope[1] = {8, 32};
    first.volumeEnvelope[2] = {16, 0};
    first.volumePointCount = 3;
    first.volumeSustain = 1;
    first.volumeType = 3;
    first.panningEnvelope[0] = {0, 16};
    first.panningEnvelope[1] = {4, 48};
    first.panningPointCount = 2;
    first.panningLoopStart = 0;
    first.panningLoopEnd = 1;
    first.panningType = 5;
    first.vibratoType = 1;
    first.vibratoSweep = 2;
    first.vibratoDepth = 3;
    first.vibratoRate = 4;
    first.fadeout = 0x123;
    xmb::Sample a = xmb::sample8({1, 2, 3, 4, 5});
    a.name = "eight";
    a.volume = 40;
    a.finetune = -16;
    a.panning = 200;
    a.relativeNote = -12;
    a.type = 0x01;
    a.loopStartBytes = 1;
    a.loopLengthBytes = 3;
    first.samples.push_back(a);
    xmb::Sample b = xmb::sample16({100, -100, 7});
    b.name = "sixteen  ";
    b.type = 0x12;
    b.loopStartBytes = 2;
    b.loopLengthBytes = 4;
    first.samples.push_back(b);
    m.instruments.push_back(first);
    xmb::Instrument second;
    xmb::Sample c = xmb::sample8({9, 9});
    c.name = "last";
    c.relativeNote = 7;
    second.samples.push_back(c);
    m.instruments.push_back(second);
    m.instruments.push_back(xmb::Instrument{}); // no samples
    return m;
}

std::string factsProblem(const std::vector<uint8_t>& bytes, const char* what) {
    Open o(bytes, BXM_PROFILE_FT2, 44100);
    if (o.player == nullptr) return std::string(what) + ": does not open";
    std::string problems;
    const auto check = [&](bool ok, const char* field) {
        if (!ok) problems += std::string(what) + ": " + field + "\n";
    };
    bxm_module_info m{};
    bxm_get_module_info(o.player, &m);
    check(std::string(m.title) == "test module" && std::string(m.tracker) == "xm builder", "names");
    check(m.initial_tempo == 5 && m.initial_bpm == 140, "tempo and bpm");
    check(m.instruments == 3 && m.stored_patterns == 1, "counts");
    bxm_instrument_info i{};
    check(bxm_get_instrument_info(o.player, 0, &i) == 0, "instrument 1");
    check(std::string(i.name) == "instrument" && i.sample_count == 2, "instrument 1 samples");
    check(i.note_samples[0] == 1 && i.note_samples[95] == 1 && i.note_samples[1] == 0,
          "instrument 1 sample map");
    check(i.volume_envelope.point_count == 3 && i.volume_envelope.type == 3 &&
              i.volume_envelope.sustain_point == 1 && i.volume_envelope.x[1] == 8 &&
              i.volume_envelope.y[1] == 32,
          "volume envelope");
    check(i.panning_envelope.point_count == 2 && i.panning_envelope.type == 5 &&
              i.panning_envelope.loop_end_point == 1 && i.panning_envelope.y[1] == 48,
          "panning envelope");
    check(i.vibrato_type == 1 && i.vibrato_sweep == 2 && i.vibrato_depth == 3 &&
              i.vibrato_rate == 4 && i.fadeout == 0x123,
          "vibrato and fadeout");
    bxm_sample_info s{};
    check(bxm_get_sample_info(o.player, 0, 0, &s) == 0, "sample 1.1");
    check(std::string(s.name) == "eight" && s.bits == 8 && s.loop_type == BXM_LOOP_FORWARD &&
              s.length == 5 && s.loop_start == 1 && s.loop_length == 3 && s.volume == 40 &&
              s.finetune == -16 && s.panning == 200 && s.relative_note == -12,
          "sample 1.1 fields");
    check(bxm_get_sample_info(o.player, 0, 1, &s) == 0, "sample 1.2");
    check(std::string(s.name) == "sixteen" && s.bits == 16 && s.loop_type == BXM_LOOP_PINGPONG &&
              s.length_bytes == 6 && s.length == 3 && s.loop_start == 1 && s.loop_length == 2,
          "sample 1.2 fields");
    check(bxm_get_sample_info(o.player, 0, 2, &s) == -1, "no sample 1.3");
    check(bxm_get_instrument_info(o.player, 1, &i) == 0 && i.sample_count == 1, "instrument 2");
    check(bxm_get_sample_info(o.player, 1, 0, &s) == 0 && std::string(s.name) == "last" &&
              s.length == 2 && s.relative_note == 7,
          "sample 2.1 fields");
    check(bxm_get_instrument_info(o.player, 2, &i) == 0 && i.sample_count == 0 &&
              i.volume_envelope.point_count == 0,
          "instrument 3");
    return problems;
}

// The offset of the n-th instrument header in a 1.04 file built from m.
size_t instrumentOffset(const xmb::Module& m, size_t n) {
    size_t at = 60 + m.headerSize;
    for (const xmb::Pattern& p : m.patterns) at += p.headerLength + p.data.size();
    for (size_t i = 0; i < n; ++i) {
        xmb::Bytes one;
        xmb::putInstrument(one, m.instruments[i]);
        at += one.size();
    }
    return at;
}

// What the file states comes back as the loader read it, whichever layout holds it.
TEST(ApiFacts, EveryLayoutTheLoaderReads) {
    for (uint16_t version : {0x0102, 0x0103, 0x0104}) {
        const std::string what = "version " + std::to_string(version);
        EXPECT_EQ(factsProblem(xmb::build(factsModule(version)), what.c_str()), "");
    }
    // A pattern header that states 8 bytes is read for its 9 fields all the same.
    xmb::Module shortPattern = factsModule(0x0104);
    shortPattern.patterns[0].headerLength = 8;
    EXPECT_EQ(factsProblem(xmb::build(shortPattern), "pattern header of 8"), "");
    // An instrument header size of 0 stands for the usual 263 bytes.
    const xmb::Module sized = factsModule(0x0104);
    xmb::Bytes zeroSize = xmb::build(sized);
    for (size_t n : {size_t{0}, size_t{1}}) {
        const size_t at = instrumentOffset(sized, n);
        ASSERT_EQ(zeroSize[at], 263 & 0xFF);
        for (size_t k = 0; k < 4; ++k) zeroSize[at + k] = 0;
    }
    EXPECT_EQ(factsProblem(zeroSize, "instrument header size 0"), "");
}

// The data of a 4-bit packed sample is its table and half a byte a frame, not its length: the
// instrument after it is where that says.
TEST(ApiFacts, InstrumentAfterPackedSample) {
    xmb::Module m = factsModule(0x0104);
    xmb::Sample packed;
    packed.name = "packed";
    packed.reserved = 0xAD;
    packed.lengthBytes = 101; // frames: 16 table bytes and 51 bytes of nibbles
    packed.data.assign(16 + 51, 0x11);
    xmb::Instrument adpcm;
    adpcm.samples.push_back(packed);
    m.instruments.insert(m.instruments.begin() + 1, adpcm);
    const std::vector<uint8_t> bytes = xmb::build(m);
    Open o(bytes, BXM_PROFILE_FT2, 44100);
    ASSERT_NE(o.player, nullptr);
    bxm_sample_info s{};
    ASSERT_EQ(bxm_get_sample_info(o.player, 1, 0, &s), 0);
    EXPECT_STREQ(s.name, "packed");
    EXPECT_EQ(s.length, 101u);
    EXPECT_EQ(s.bits, 8);
    ASSERT_EQ(bxm_get_sample_info(o.player, 2, 0, &s), 0);
    EXPECT_STREQ(s.name, "last");
    EXPECT_EQ(s.length, 2u);
    EXPECT_EQ(s.relative_note, 7);
}

// An instrument may state up to 32 samples; playback keeps 16, the facts keep every header, and
// the instrument after it still lies past the skipped data.
TEST(ApiFacts, SamplesPastTheSixteenth) {
    xmb::Module m = factsModule(0x0104);
    xmb::Instrument many;
    for (int32_t k = 0; k < 20; ++k) {
        xmb::Sample s = xmb::sample8(std::vector<int8_t>(static_cast<size_t>(k + 1), 1));
        s.relativeNote = static_cast<int8_t>(k);
        many.samples.push_back(s);
    }
    m.instruments.insert(m.instruments.begin() + 1, many);
    const std::vector<uint8_t> bytes = xmb::build(m);
    Open o(bytes, BXM_PROFILE_FT2, 44100);
    ASSERT_NE(o.player, nullptr);
    bxm_instrument_info i{};
    ASSERT_EQ(bxm_get_instrument_info(o.player, 1, &i), 0);
    EXPECT_EQ(i.sample_count, 20);
    for (int32_t k = 0; k < 20; ++k) {
        bxm_sample_info s{};
        ASSERT_EQ(bxm_get_sample_info(o.player, 1, k, &s), 0) << k;
        EXPECT_EQ(s.length, static_cast<uint32_t>(k + 1)) << k;
        EXPECT_EQ(s.relative_note, k) << k;
    }
    bxm_sample_info s{};
    EXPECT_EQ(bxm_get_sample_info(o.player, 1, 20, &s), -1);
    ASSERT_EQ(bxm_get_sample_info(o.player, 2, 0, &s), 0);
    EXPECT_STREQ(s.name, "last");
}

// A file cut inside its instruments opens with what arrived and zeros for the rest; every
// prefix and every single-byte change of the headers either opens with facts that stay inside
// what was stated, or is refused (the sanitizer build checks the reads).
TEST(ApiFacts, CutAndChangedFiles) {
    const xmb::Module m = factsModule(0x0104);
    const std::vector<uint8_t> whole = xmb::build(m);
    // Cut inside the second instrument's sample header, after its length and loop fields.
    const size_t second = instrumentOffset(m, 1);
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(second + 263 + 14));
    {
        Open o(cut, BXM_PROFILE_FT2, 44100);
        ASSERT_NE(o.player, nullptr);
        bxm_sample_info s{};
        ASSERT_EQ(bxm_get_sample_info(o.player, 1, 0, &s), 0);
        EXPECT_EQ(s.length, 2u);
        EXPECT_EQ(s.relative_note, 0);
        EXPECT_STREQ(s.name, "");
        bxm_instrument_info i{};
        ASSERT_EQ(bxm_get_instrument_info(o.player, 2, &i), 0);
        EXPECT_EQ(i.sample_count, 0);
    }
    const auto readAll = [](const std::vector<uint8_t>& bytes) {
        Open o(bytes, BXM_PROFILE_FT2, 44100);
        if (o.player == nullptr) return;
        bxm_module_info m{};
        bxm_get_module_info(o.player, &m);
        for (int32_t i = 0; i < m.instruments; ++i) {
            bxm_instrument_info ins{};
            ASSERT_EQ(bxm_get_instrument_info(o.player, i, &ins), 0);
            ASSERT_LE(ins.sample_count, 32);
            for (int32_t k = 0; k < ins.sample_count; ++k) {
                bxm_sample_info s{};
                ASSERT_EQ(bxm_get_sample_info(o.player, i, k, &s), 0);
            }
        }
    };
    for (size_t n = 0; n < whole.size(); n += 3)
        readAll(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(n)));
    for (size_t at = 0; at < second + 263 + 40; ++at) {
        for (uint8_t value : {uint8_t{0}, uint8_t{0x20}, uint8_t{0xFF}}) {
            std::vector<uint8_t> changed = whole;
            changed[at] = value;
            readAll(changed);
        }
    }
}

} // namespace

namespace {

// ---- Options that say their size ----

bxm_error openWith(const void* options) {
    bxm_error e{};
    bxm_player* p =
        bxm_open(song().data(), song().size(), static_cast<const bxm_options*>(options), &e);
    bxm_close(p);
    return e;
}

TEST(ApiOptions, SizeAndValuesAreCheckedWithAReason) {
    bxm_options o = BXM_OPTIONS_INIT;
    EXPECT_EQ(o.size, sizeof(bxm_options));
    EXPECT_EQ(openWith(&o).code, BXM_OK);

    // A zero-filled record has no size: the caller did not say which layout it holds.
    bxm_options unsized{};
    bxm_error e = openWith(&unsized);
    EXPECT_EQ(e.code, BXM_ERROR_ARGUMENT);
    EXPECT_STREQ(e.reason, "options size 0: set it to sizeof(bxm_options), 16 in 2.0.0");

    // A later caller's larger record is read when what this version does not know is zero, and
    // refused when it asks for something this version cannot do.
    struct Later {
        bxm_options known;
        int32_t unknown[4];
    } later{};
    later.known = o;
    later.known.size = sizeof later;
    EXPECT_EQ(openWith(&later).code, BXM_OK);
    later.unknown[1] = 7;
    e = openWith(&later);
    EXPECT_EQ(e.code, BXM_ERROR_ARGUMENT);
    EXPECT_STREQ(e.reason, "options byte 20 is set: beatxm 2.0.0 knows options up to byte 16");
    later.unknown[1] = 0;
    later.known.size = 1u << 20;
    EXPECT_EQ(openWith(&later).code, BXM_ERROR_ARGUMENT);

    o.profile = 7;
    e = openWith(&o);
    EXPECT_EQ(e.code, BXM_ERROR_ARGUMENT);
    EXPECT_STREQ(e.reason, "profile 7: 0 (ft2) or 1 (demo)");
    o.profile = BXM_PROFILE_DEMO;
    o.sample_rate = 4000;
    e = openWith(&o);
    EXPECT_EQ(e.code, BXM_ERROR_ARGUMENT);
    EXPECT_STREQ(e.reason, "sample_rate 4000: 8000 to 192000, or 0 for 44100");

    e = bxm_error{};
    EXPECT_EQ(bxm_open(nullptr, 10, nullptr, &e), nullptr);
    EXPECT_STREQ(e.reason, "data is NULL");
    EXPECT_EQ(bxm_open(song().data(), 0, nullptr, &e), nullptr);
    EXPECT_EQ(e.code, BXM_ERROR_EMPTY);
}

// ---- The channel snapshot within its ranges ----

// One channel playing a looping square wave at the given sample volume byte and panning byte;
// the channel's own panning may be set with 8xx on the first row.
std::vector<uint8_t> toneModule(uint8_t volumeByte, uint8_t panningByte, int32_t panningEffect,
                                int32_t cellInstrument = 1) {
    std::vector<int8_t> wave;
    for (int32_t i = 0; i < 64; ++i)
        wave.push_back(static_cast<int8_t>(i == 0 ? 100 : i == 32 ? -100 : 0));
    xmb::Sample s = xmb::sample8(wave);
    s.type = 1;
    s.loopLengthBytes = s.lengthBytes;
    s.volume = volumeByte;
    s.panning = panningByte;
    xmb::Instrument ins;
    ins.samples.push_back(s);
    xmb::Module m;
    m.channelCount = 2;
    std::vector<xmb::Cell> cells(16 * 2);
    cells[0].note = 49;
    cells[0].instrument = static_cast<uint8_t>(cellInstrument);
    if (panningEffect >= 0) {
        cells[0].effect = 8;
        cells[0].param = static_cast<uint8_t>(panningEffect);
    }
    m.patterns.push_back(xmb::pattern(16, xmb::packCells(cells)));
    m.instruments.push_back(ins);
    return xmb::build(m);
}

struct Energy {
    double left = 0.0, right = 0.0;
};

Energy energyOf(const std::vector<int16_t>& frames) {
    Energy e;
    for (size_t i = 0; i + 1 < frames.size(); i += 2) {
        e.left += std::abs(static_cast<double>(frames[i]));
        e.right += std::abs(static_cast<double>(frames[i + 1]));
    }
    return e;
}

// Where the snapshot says a channel is heard, it is heard: a note panned hard left by the
// sample's byte or by 8xx, in both profiles. The demo profile sends the file's 0 to the right
// (its own sound, kept), and the snapshot says so.
TEST(ApiSnapshot, PanningSaysWhereTheChannelIsHeard) {
    struct Case {
        uint8_t samplePanning;
        int32_t effect;
    };
    for (const Case c : {Case{0, -1}, Case{255, -1}, Case{128, 0x00}, Case{128, 0xFF}}) {
        const std::vector<uint8_t> bytes = toneModule(64, c.samplePanning, c.effect);
        for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
            Open o(bytes, profile, 0);
            ASSERT_NE(o.player, nullptr);
            const Energy heard = energyOf(renderAll(o.player, 8820));
            bxm_channel_state s{};
            ASSERT_EQ(bxm_get_channel_state(o.player, 0, &s), 0);
            const std::string what = "profile " + std::to_string(profile) + ", sample panning " +
                                     std::to_string(c.samplePanning) + ", 8xx " +
                                     std::to_string(c.effect);
            ASSERT_GT(heard.left + heard.right, 0.0) << what;
            EXPECT_GE(s.panning, 0) << what;
            EXPECT_LE(s.panning, 255) << what;
            if (heard.left > 4 * heard.right) {
                EXPECT_LT(s.panning, 32) << what;
            } else if (heard.right > 4 * heard.left) {
                EXPECT_GT(s.panning, 223) << what;
            } else {
                ADD_FAILURE() << what << ": not panned hard";
            }
            // The file's 0 is the left in the ft2 profile, the right in the demo's.
            const bool fileLeft = c.effect >= 0 ? c.effect == 0 : c.samplePanning == 0;
            EXPECT_EQ(heard.left > heard.right, fileLeft == (profile == BXM_PROFILE_FT2)) << what;
        }
    }
}

// A sample volume byte of 255 (no tracker writes one) plays louder, and the snapshot stays in
// its ranges: volume 0..64, level 0..127, in both profiles; an ordinary note reads its level on
// the same scale in both.
TEST(ApiSnapshot, VolumeAndLevelStayInRange) {
    for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
        for (uint8_t volumeByte : {uint8_t{255}, uint8_t{64}, uint8_t{32}}) {
            Open o(toneModule(volumeByte, 128, -1), profile, 0);
            ASSERT_NE(o.player, nullptr);
            renderAll(o.player, 4410);
            bxm_channel_state s{};
            ASSERT_EQ(bxm_get_channel_state(o.player, 0, &s), 0);
            const std::string what = "profile " + std::to_string(profile) + ", volume byte " +
                                     std::to_string(volumeByte);
            EXPECT_EQ(s.active, 1) << what;
            EXPECT_EQ(s.volume, volumeByte > 64 ? 64 : volumeByte) << what;
            EXPECT_GE(s.level, 0) << what;
            EXPECT_LE(s.level, 127) << what;
            // Full volume, no envelope, global volume 64: the whole scale, or half of it.
            if (volumeByte == 64) {
                EXPECT_EQ(s.level, 127) << what;
            }
            if (volumeByte == 32) {
                EXPECT_NEAR(s.level, 63, 1) << what;
            }
        }
    }
}

// A note that names an instrument the module lacks plays silence and names no instrument.
TEST(ApiSnapshot, InstrumentTheModuleLacksReadsNone) {
    for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
        Open o(toneModule(64, 128, -1, 5), profile, 0);
        ASSERT_NE(o.player, nullptr);
        renderAll(o.player, 4410);
        bxm_channel_state s{};
        ASSERT_EQ(bxm_get_channel_state(o.player, 0, &s), 0);
        EXPECT_EQ(s.instrument, -1) << "profile " << profile;
        EXPECT_EQ(s.active, 0) << "profile " << profile;
    }
}

// D40 into a pattern of 16 rows: FT2 plays one empty row past its end; the position reads the
// pattern's last row there and never a row the pattern lacks.
TEST(ApiSnapshot, RowStaysInsideItsPatternAfterABreak) {
    xmb::Module m;
    m.orders = {0, 1};
    std::vector<xmb::Cell> first(4 * 2);
    first[2 * 2].effect = 13;
    first[2 * 2].param = 0x40;
    m.patterns.push_back(xmb::pattern(4, xmb::packCells(first)));
    m.patterns.push_back(xmb::pattern(16, {}));
    const std::vector<uint8_t> bytes = xmb::build(m);
    for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
        Open o(bytes, profile, 0);
        ASSERT_NE(o.player, nullptr);
        std::vector<int16_t> block(2 * 256);
        bool sawSecondPattern = false;
        while (bxm_render_s16(o.player, block.data(), 256) > 0) {
            bxm_position p{};
            bxm_get_position(o.player, &p);
            const int32_t rows = bxm_get_pattern_rows(o.player, p.pattern);
            ASSERT_GE(p.row, 0) << "profile " << profile;
            ASSERT_LT(p.row, rows) << "profile " << profile << ", pattern " << p.pattern;
            if (p.pattern == 1) sawSecondPattern = true;
        }
        EXPECT_TRUE(sawSecondPattern) << "profile " << profile;
    }
}

// ---- Passes, the guard and the header's tempo ----

// A silent song of about 10 minutes (4 orders of 64 rows at speed 31, BPM 32) played three
// times lasts three passes, well past the 20 minutes that bound one pass.
TEST(ApiEnd, PlayCountCountsPassesOfALongSong) {
    xmb::Module m;
    m.tempo = 31;
    m.bpm = 32;
    m.orders = {0, 0, 0, 0};
    m.patterns.push_back(xmb::pattern(64, {}));
    const std::vector<uint8_t> bytes = xmb::build(m);
    constexpr int32_t rate = 8000;
    int64_t once = 0;
    {
        Open o(bytes, BXM_PROFILE_FT2, rate);
        ASSERT_NE(o.player, nullptr);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        once = info.duration_frames;
        EXPECT_EQ(info.duration_limited, 0);
        EXPECT_GT(once * 3, int64_t{BXM_SONG_LIMIT_SECONDS} * rate);
    }
    for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
        Open o(bytes, profile, rate, 3);
        bxm_module_info info{};
        bxm_get_module_info(o.player, &info);
        EXPECT_EQ(static_cast<int64_t>(renderAll(o.player, INT64_MAX).size() / 2),
                  3 * info.duration_frames)
            << "profile " << profile;
        bxm_position p{};
        bxm_get_position(o.player, &p);
        EXPECT_EQ(p.pass, 3);
        EXPECT_EQ(p.ended, 1);
    }
}

// The header's speed and BPM are held to FT2's ranges when playback starts (1..31, 32..255);
// the module info shows them as stored, unsigned.
TEST(ApiTempo, HeaderSpeedAndBpmAreHeldToFt2Ranges) {
    struct Case {
        uint16_t tempo, bpm;
        int32_t playedTempo, playedBpm;
    };
    for (const Case c : {Case{0, 0, 1, 32}, Case{65535, 65535, 31, 255},
                         Case{32767, 32767, 31, 255}, Case{6, 125, 6, 125}, Case{31, 20, 31, 32}}) {
        xmb::Module m;
        m.tempo = static_cast<int16_t>(c.tempo);
        m.bpm = static_cast<int16_t>(c.bpm);
        m.patterns.push_back(xmb::pattern(64, {}));
        for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
            Open o(xmb::build(m), profile, 0);
            ASSERT_NE(o.player, nullptr);
            bxm_module_info info{};
            bxm_get_module_info(o.player, &info);
            EXPECT_EQ(info.initial_tempo, c.tempo);
            EXPECT_EQ(info.initial_bpm, c.bpm);
            bxm_position p{};
            bxm_get_position(o.player, &p);
            EXPECT_EQ(p.tempo, c.playedTempo) << c.tempo;
            EXPECT_EQ(p.bpm, c.playedBpm) << c.bpm;
            // 64 rows at that speed and BPM, frames per tick truncated or carried.
            const double seconds = 64.0 * c.playedTempo * 2.5 / c.playedBpm;
            EXPECT_NEAR(info.duration_ms, seconds * 1000.0, 64.0 * c.playedTempo) << c.tempo;
        }
    }
}

// The duration pass looks at the cells that move the position or set the tempo only; what it
// finds must be what rendering plays, for songs full of jumps, breaks, loops and delays.
TEST(ApiEnd, DurationIsWhatRenderingPlays) {
    auto cell = [](uint8_t effect, uint8_t param) {
        xmb::Cell c;
        c.effect = effect;
        c.param = param;
        return c;
    };
    auto note = [](uint8_t n) {
        xmb::Cell c;
        c.note = n;
        c.instrument = 1;
        return c;
    };
    std::vector<xmb::Module> songs;
    {
        // Loops in two channels, a pattern delay, speed and BPM changes, a break and a jump.
        xmb::Module m;
        m.channelCount = 4;
        m.orders = {0, 1, 2, 1};
        std::vector<xmb::Cell> a(16 * 4);
        a[0 * 4 + 0] = note(49);
        a[1 * 4 + 1] = cell(14, 0x60);
        a[3 * 4 + 1] = cell(14, 0x62);
        a[4 * 4 + 2] = cell(15, 3);
        a[5 * 4 + 3] = cell(15, 150);
        a[6 * 4 + 2] = cell(14, 0xE3);
        a[8 * 4 + 3] = cell(14, 0x60);
        a[9 * 4 + 3] = cell(14, 0x61);
        a[9 * 4 + 1] = cell(14, 0x61);
        a[12 * 4 + 0] = cell(13, 0x05);
        std::vector<xmb::Cell> b(8 * 4);
        b[2 * 4 + 2] = cell(15, 9);
        b[4 * 4 + 3] = cell(11, 2);
        b[4 * 4 + 1] = cell(13, 0x03);
        std::vector<xmb::Cell> c(32 * 4);
        c[0] = note(40);
        c[7 * 4 + 3] = cell(14, 0xE1);
        c[20 * 4 + 2] = cell(13, 0x70);
        m.patterns.push_back(xmb::pattern(16, xmb::packCells(a)));
        m.patterns.push_back(xmb::pattern(8, xmb::packCells(b)));
        m.patterns.push_back(xmb::pattern(32, xmb::packCells(c)));
        songs.push_back(m);
    }
    {
        // A jump back to a row already played, a restart position, and speed 0 (F00).
        xmb::Module m;
        m.orders = {0, 1};
        m.restartPosition = 1;
        std::vector<xmb::Cell> a(8 * 2);
        a[0] = note(49);
        a[6 * 2 + 1] = cell(15, 0);
        std::vector<xmb::Cell> b(8 * 2);
        b[5 * 2] = cell(11, 1);
        m.patterns.push_back(xmb::pattern(8, xmb::packCells(a)));
        m.patterns.push_back(xmb::pattern(8, xmb::packCells(b)));
        songs.push_back(m);
    }
    for (xmb::Module& m : songs) {
        xmb::Instrument ins;
        ins.samples.push_back(xmb::sample8({10, 5, -20, 5}));
        m.instruments.push_back(ins);
        const std::vector<uint8_t> bytes = xmb::build(m);
        for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
            for (int32_t rate : {44100, 22050}) {
                Open o(bytes, profile, rate);
                ASSERT_NE(o.player, nullptr);
                bxm_module_info info{};
                bxm_get_module_info(o.player, &info);
                EXPECT_GT(info.duration_frames, 0);
                EXPECT_EQ(static_cast<int64_t>(renderAll(o.player, INT64_MAX).size() / 2),
                          info.duration_frames)
                    << "song " << (&m - songs.data()) << ", profile " << profile << ", " << rate;
            }
        }
    }
}

// Opening is cheap whatever the header asks for: speed and BPM of 32767 and 65535 (which once
// asked for 15 million ticks), also in a file of 102 bytes, and a dense 32-channel song that
// runs into the 20-minute bound. CPU time, best of three.
TEST(ApiOpen, OpeningCostsLittleWhateverTheSong) {
#if defined(BEATXM_TIMING_UNRELIABLE)
    GTEST_SKIP() << "instrumented build: times say nothing";
#endif
    std::vector<std::vector<uint8_t>> modules;
    for (uint16_t v : {uint16_t{32767}, uint16_t{65535}}) {
        xmb::Module m;
        m.tempo = static_cast<int16_t>(v);
        m.bpm = static_cast<int16_t>(v);
        m.orders = {0, 1, 2};
        m.patterns.push_back(xmb::pattern(64, {}));
        modules.push_back(xmb::build(m));
        m.patterns.clear(); // orders naming patterns the file does not store
        modules.push_back(xmb::build(m));
    }
    {
        // 102 bytes: a header whose 22 orders name 22 patterns that are not stored.
        xmb::Module m;
        m.headerSize = 20 + 22;
        m.tempo = 32767;
        m.bpm = 32767;
        m.orders.clear();
        for (uint8_t k = 0; k < 22; ++k) m.orders.push_back(k);
        modules.push_back(xmb::build(m));
        EXPECT_EQ(modules.back().size(), 102u);
    }
    {
        xmb::Module m;
        m.channelCount = 32;
        m.tempo = 2;
        m.bpm = 255;
        std::vector<xmb::Cell> cells(256 * 32);
        for (size_t i = 0; i < cells.size(); ++i) {
            cells[i].note = static_cast<uint8_t>(1 + i % 96);
            cells[i].instrument = 1;
            cells[i].effect = 4;
            cells[i].param = 0x88;
        }
        for (int32_t k = 0; k < 4; ++k)
            m.patterns.push_back(xmb::pattern(256, xmb::packCells(cells)));
        m.orders.clear();
        for (int32_t k = 0; k < 256; ++k) m.orders.push_back(static_cast<uint8_t>(k % 4));
        xmb::Instrument ins;
        ins.samples.push_back(xmb::sample8(std::vector<int8_t>(1000, 3)));
        m.instruments.push_back(ins);
        modules.push_back(xmb::build(m));
    }
    for (size_t i = 0; i < modules.size(); ++i) {
        double best = 1e9;
        for (int32_t round = 0; round < 3; ++round) {
            for (int32_t profile : {BXM_PROFILE_FT2, BXM_PROFILE_DEMO}) {
                const std::clock_t start = std::clock();
                Open o(modules[i], profile, 0);
                const double ms =
                    1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
                ASSERT_NE(o.player, nullptr) << i;
                if (ms < best) best = ms;
            }
        }
        EXPECT_LT(best, 50.0) << "module " << i << " (" << modules[i].size() << " bytes)";
    }
}

} // namespace
