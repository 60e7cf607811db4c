// Players on different threads at the same time, through the public interface: eight players of
// three songs, in both profiles and at five rates, two per thread on four threads, each with its
// own controls and a seek half-way. Every one must give the bytes it gives when it plays alone;
// built with ThreadSanitizer, any state the players still shared would show up as a race.
#include "beatxm.h"
#include "tests/lib/read_file.h"
#include "xm_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using testing_files::readFile;

xmb::Instrument instrumentOf(const std::vector<int16_t>& wave, uint8_t loopType) {
    xmb::Instrument ins;
    xmb::Sample s = xmb::sample16(xmb::deltasOf(wave));
    s.type = static_cast<uint8_t>(0x10 | loopType);
    s.loopStartBytes = 0;
    s.loopLengthBytes = s.lengthBytes;
    s.volume = 48;
    ins.samples.push_back(s);
    ins.volumeType = 1;
    ins.volumePointCount = 3;
    ins.volumeEnvelope[0] = {0, 64};
    ins.volumeEnvelope[1] = {10, 20};
    ins.volumeEnvelope[2] = {40, 48};
    ins.fadeout = 300;
    return ins;
}

// Four channels of notes under pitch and volume effects, a pattern loop and a pattern delay,
// over two patterns; a saw and a ping-pong square.
std::vector<uint8_t> effectsSong(int16_t tempo, int16_t bpm, uint8_t firstNote) {
    std::vector<int16_t> saw, square;
    for (int32_t i = 0; i < 256; ++i) saw.push_back(static_cast<int16_t>(i * 200 - 25600));
    for (int32_t i = 0; i < 200; ++i)
        square.push_back(static_cast<int16_t>(i < 100 ? 9000 : -9000));
    xmb::Module m;
    m.channelCount = 4;
    m.tempo = tempo;
    m.bpm = bpm;
    m.orders = {0, 1, 0};
    m.instruments.push_back(instrumentOf(saw, 1));
    m.instruments.push_back(instrumentOf(square, 2));
    for (int32_t p = 0; p < 2; ++p) {
        std::vector<xmb::Cell> cells(64 * 4);
        for (int32_t row = 0; row < 64; ++row) {
            for (int32_t c = 0; c < 4; ++c) {
                xmb::Cell& cell = cells[static_cast<size_t>(row) * 4 + c];
                if ((row + c * 3) % 8 == 0) {
                    cell.note = static_cast<uint8_t>(firstNote + (row * 5 + c * 7 + p * 3) % 24);
                    cell.instrument = static_cast<uint8_t>(1 + (row / 8 + c) % 2);
                }
                const uint8_t kinds[] = {0x04, 0x0A, 0x01, 0x02, 0x00, 0x07};
                cell.effect = kinds[(row + c) % 6];
                cell.param = static_cast<uint8_t>(0x11 + (row * 3 + c) % 0x40);
            }
        }
        cells[16 * 4 + 3] = xmb::Cell{0, 0, 0, 0x0E, 0x60};      // loop start
        cells[23 * 4 + 3] = xmb::Cell{0, 0, 0, 0x0E, 0x62};      // loop twice
        cells[40 * 4 + 2] = xmb::Cell{0, 0, 0, 0x0E, 0xE2};      // pattern delay
        cells[50 * 4 + 1] = xmb::Cell{0, 0, 0x10 + 40, 0x0F, 4}; // speed 4
        m.patterns.push_back(xmb::pattern(64, xmb::packCells(cells)));
    }
    return xmb::build(m);
}

struct PlayerSetup {
    const std::vector<uint8_t>* song;
    int32_t profile;
    int32_t rate;
    int32_t gainMillibel;
    int32_t separation;
    int32_t interpolation;
    int32_t mutedChannel; // -1 none
};

constexpr int32_t renderSeconds = 3;
constexpr int32_t seekAfterSeconds = 1;
constexpr int32_t seekToMs = 6000;

bxm_player* openAs(const PlayerSetup& s) {
    bxm_options o = BXM_OPTIONS_INIT;
    o.profile = s.profile;
    o.sample_rate = s.rate;
    bxm_player* p = bxm_open(s.song->data(), s.song->size(), &o, nullptr);
    if (p == nullptr) return nullptr;
    bxm_set_gain(p, s.gainMillibel);
    bxm_set_stereo_separation(p, s.separation);
    bxm_set_interpolation(p, s.interpolation);
    if (s.mutedChannel >= 0) bxm_set_channel_mute(p, s.mutedChannel, 1);
    return p;
}

// One player's run: renderSeconds of sound in pieces whose sizes come from a seed, with a seek
// at the same frame whatever the pieces.
struct PlayerRun {
    bxm_player* player;
    const PlayerSetup* setup;
    uint32_t state; // of the piece sizes
    int32_t done = 0;
    std::vector<int16_t> out;

    PlayerRun(bxm_player* p, const PlayerSetup& s, uint32_t seed)
        : player(p), setup(&s), state(seed),
          out(static_cast<size_t>(renderSeconds) * s.rate * 2, 0) {}
    int32_t total() const { return renderSeconds * setup->rate; }
    bool finished() const { return done == total(); }
    // Renders the next piece; false when a call fails.
    bool step() {
        const int32_t seekAt = seekAfterSeconds * setup->rate;
        state = state * 1664525u + 1013904223u;
        int32_t n = 1 + static_cast<int32_t>((state >> 8) % 2500);
        n = std::min(n, total() - done);
        if (done < seekAt) n = std::min(n, seekAt - done);
        if (bxm_render_s16(player, out.data() + static_cast<size_t>(done) * 2, n) != n)
            return false;
        done += n;
        return done != seekAt || bxm_seek_ms(player, seekToMs) == 0;
    }
};

TEST(ApiThreads, EightPlayersOnFourThreadsEachAsAlone) {
    const std::vector<uint8_t> demo = readFile(DEMO_SONG_PATH);
    ASSERT_FALSE(demo.empty());
    const std::vector<uint8_t> fast = effectsSong(4, 150, 37);
    const std::vector<uint8_t> slow = effectsSong(7, 96, 49);
    const PlayerSetup setups[8] = {
        {&demo, BXM_PROFILE_DEMO, 44100, 0, 100, BXM_INTERPOLATION_LINEAR, -1},
        {&fast, BXM_PROFILE_FT2, 48000, -300, 100, BXM_INTERPOLATION_LINEAR, -1},
        {&slow, BXM_PROFILE_DEMO, 22050, 0, 40, BXM_INTERPOLATION_CUBIC, -1},
        {&demo, BXM_PROFILE_FT2, 32000, 200, 100, BXM_INTERPOLATION_NONE, 2},
        {&fast, BXM_PROFILE_DEMO, 44100, 0, 150, BXM_INTERPOLATION_LINEAR, 1},
        {&slow, BXM_PROFILE_FT2, 96000, -100, 100, BXM_INTERPOLATION_CUBIC, -1},
        {&demo, BXM_PROFILE_DEMO, 8000, 0, 0, BXM_INTERPOLATION_LINEAR, -1},
        {&fast, BXM_PROFILE_FT2, 44100, 0, 100, BXM_INTERPOLATION_LINEAR, 3},
    };

    // Each alone, one after the other.
    std::vector<int16_t> alone[8];
    for (int32_t i = 0; i < 8; ++i) {
        bxm_player* p = openAs(setups[i]);
        ASSERT_NE(p, nullptr) << i;
        PlayerRun run(p, setups[i], 7u + i);
        while (!run.finished()) ASSERT_TRUE(run.step()) << i;
        bxm_close(p);
        alone[i] = run.out;
        int64_t loud = 0;
        for (int16_t v : alone[i]) loud += v != 0;
        EXPECT_GT(loud, static_cast<int64_t>(alone[i].size() / 4)) << i << " should be heard";
    }

    // All at once: thread t opens, renders and closes players t and t + 4, a piece of one and
    // then a piece of the other, with other piece sizes than alone; the four threads start
    // rendering together.
    std::vector<int16_t> together[8];
    std::atomic<int32_t> ready{0};
    std::atomic<int32_t> failures{0};
    auto work = [&](int32_t t) {
        const int32_t mine[2] = {t, t + 4};
        bxm_player* players[2] = {openAs(setups[mine[0]]), openAs(setups[mine[1]])};
        ready.fetch_add(1, std::memory_order_acq_rel);
        while (ready.load(std::memory_order_acquire) < 4) std::this_thread::yield();
        if (players[0] == nullptr || players[1] == nullptr) {
            failures.fetch_add(1, std::memory_order_acq_rel);
        } else {
            PlayerRun runs[2] = {PlayerRun(players[0], setups[mine[0]], 1000u + t),
                                 PlayerRun(players[1], setups[mine[1]], 2000u + t)};
            while (!runs[0].finished() || !runs[1].finished()) {
                for (PlayerRun& run : runs) {
                    if (!run.finished() && !run.step()) {
                        failures.fetch_add(1, std::memory_order_acq_rel);
                        run.done = run.total();
                    }
                }
            }
            together[mine[0]] = runs[0].out;
            together[mine[1]] = runs[1].out;
        }
        bxm_close(players[0]);
        bxm_close(players[1]);
    };
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < 4; ++t) threads.emplace_back(work, t);
    for (std::thread& th : threads) th.join();
    ASSERT_EQ(failures.load(), 0);

    for (int32_t i = 0; i < 8; ++i) {
        ASSERT_EQ(together[i].size(), alone[i].size()) << i;
        size_t first = alone[i].size();
        for (size_t k = 0; k < alone[i].size(); ++k) {
            if (together[i][k] != alone[i][k]) {
                first = k;
                break;
            }
        }
        EXPECT_EQ(first, alone[i].size()) << "player " << i << " first differs at value " << first;
    }
}

} // namespace
