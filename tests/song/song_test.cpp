// The demo's song: its shape as the loader sees it, its beat against the picture timeline, and
// that other trackers' players play it too.
#include "music/module.h"
#include "music/offline_render.h"
#include "music/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef SONG_TEST_HAVE_LIBXMP
#include <xmp.h>
#endif
#ifdef SONG_TEST_HAVE_LIBOPENMPT
#include <libopenmpt/libopenmpt.h>
#endif

namespace {

using music::Player;

constexpr size_t moduleBytes = 914017;
constexpr size_t unreadTailBytes = 741;
constexpr int32_t chunkFrames = 884;
constexpr int32_t rateHz = 44100;
constexpr double beatMs = 1000.0 / 3.0;
constexpr int32_t firstFlashBeat = 16;
constexpr int32_t lastFlashBeat = 121;
constexpr int32_t demoEndMs = 48000;
constexpr uint8_t kickInstrument = 1;
constexpr int32_t kickChannel = 0;
// Drum instruments: kick, snare, clap, closed hat, open hat, crash; and the tom.
constexpr std::array<uint8_t, 7> drumInstruments = {1, 2, 3, 4, 5, 6, 18};

const std::vector<uint8_t>& songBytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(SONG_PATH, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

uint32_t le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | (b[at + 1] << 8));
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return le16(b, at) | (le16(b, at + 2) << 16);
}

struct LoadedSong {
    Player* player = nullptr;
    music::MemoryStream description{};
    LoadedSong() {
        description.size = static_cast<int32_t>(songBytes().size());
        description.base = songBytes().data();
        player = music::createPlayer(&description);
    }
    ~LoadedSong() { music::destroyPlayer(player); }
    LoadedSong(const LoadedSong&) = delete;
    LoadedSong& operator=(const LoadedSong&) = delete;
};

bool isDrum(uint8_t instrument) {
    return std::find(drumInstruments.begin(), drumInstruments.end(), instrument) !=
           drumInstruments.end();
}

// ------------------------------------------------------------------------------------------
// Shape.

TEST(SongFile, HeaderAndSizeAreTheDemosShape) {
    const auto& b = songBytes();
    ASSERT_EQ(b.size(), moduleBytes);
    EXPECT_EQ(0, std::memcmp(b.data(), "Extended Module: ", 17));
    EXPECT_EQ(le32(b, 60), 29u);
    EXPECT_EQ(le16(b, 64), 9u);  // song length
    EXPECT_EQ(le16(b, 66), 0u);  // restart position
    EXPECT_EQ(le16(b, 68), 6u);  // channels
    EXPECT_EQ(le16(b, 70), 11u); // stored patterns
    EXPECT_EQ(le16(b, 72), 18u); // instruments
    EXPECT_EQ(le16(b, 74), 1u);  // linear frequency table
    EXPECT_EQ(le16(b, 76), 7u);  // tempo
    const uint8_t orders[9] = {9, 4, 5, 8, 1, 1, 1, 2, 7};
    EXPECT_EQ(0, std::memcmp(&b[80], orders, sizeof orders));
}

// Walks the stored layout byte by byte: every pattern's cells end exactly at its packed size,
// every instrument holds one sample, and the instruments end 741 bytes before the file does.
TEST(SongFile, PackedPatternsAndInstrumentsTileTheFile) {
    const auto& b = songBytes();
    ASSERT_EQ(b.size(), moduleBytes);
    size_t at = 60 + le32(b, 60);
    for (int32_t p = 0; p < 11; ++p) {
        SCOPED_TRACE(p);
        ASSERT_LT(at + 9, b.size());
        EXPECT_EQ(le32(b, at), 9u);
        EXPECT_EQ(le16(b, at + 5), 64u);
        const size_t packed = le16(b, at + 7);
        ASSERT_GT(packed, 0u);
        size_t cell = at + 9;
        for (int32_t k = 0; k < 64 * 6; ++k) {
            const uint8_t head = b[cell++];
            ASSERT_TRUE(head & 0x80) << "cell " << k << " is not packed";
            for (uint8_t bit = 1; bit < 0x20; bit <<= 1)
                if (head & bit) ++cell;
        }
        EXPECT_EQ(cell - (at + 9), packed);
        at = cell;
    }
    for (int32_t i = 0; i < 18; ++i) {
        SCOPED_TRACE(i);
        const size_t start = at;
        ASSERT_LT(start + 263, b.size());
        EXPECT_EQ(le16(b, start + 27), 1u);
        at = start + le32(b, start);
        const uint32_t length = le32(b, at);
        const uint8_t type = b[at + 14];
        const uint32_t loopStart = le32(b, at + 4);
        const uint32_t loopLength = le32(b, at + 8);
        if (type & 3) {
            EXPECT_GT(loopLength, 0u);
            EXPECT_LE(loopStart + loopLength, length);
        }
        if (type & 0x10) {
            EXPECT_EQ(length % 2, 0u);
        }
        at += 40 + length;
    }
    EXPECT_EQ(at, moduleBytes - unreadTailBytes);
}

// The committed song is the generator's output: an edit to either that the other does not
// follow shows up here, and the first differing byte says where to look.
TEST(SongFile, GeneratorRemakesTheCommittedBytesExactly) {
    std::string folder = (std::filesystem::temp_directory_path() / "gen_song_XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    const std::string path = folder + "/song.xm";
    const std::string command = std::string("'") + GEN_SONG_PATH + "' '" + path + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> fresh{std::istreambuf_iterator<char>(in), {}};
    std::filesystem::remove_all(folder);

    const auto& committed = songBytes();
    ASSERT_EQ(fresh.size(), committed.size());
    const auto differs = std::mismatch(fresh.begin(), fresh.end(), committed.begin()).first;
    EXPECT_TRUE(differs == fresh.end())
        << "first difference at byte " << (differs - fresh.begin()) << " of " << fresh.size();
}

TEST(SongLoaded, LoaderSeesTheListedShape) {
    LoadedSong song;
    ASSERT_NE(song.player, nullptr);
    const Player& p = *song.player;
    EXPECT_EQ(p.songLength, 9);
    EXPECT_EQ(p.restartPosition, 0);
    EXPECT_EQ(p.channelCount, 6);
    EXPECT_EQ(p.patternCount, 10);
    EXPECT_EQ(p.patternRecordCount, 11);
    EXPECT_EQ(p.instrumentCount, 18);
    EXPECT_EQ(p.flags, 1);
    EXPECT_EQ(p.defaultTempo, 7);
    EXPECT_GE(p.defaultBpm, 90);
    EXPECT_LE(p.defaultBpm, 112);
    for (int32_t i = 0; i < p.patternRecordCount; ++i) EXPECT_EQ(p.patterns[i].rowCount, 64);
    for (int32_t i = 0; i < p.instrumentCount; ++i) {
        const music::Instrument& in = p.instruments[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(in.sampleCount, 1);
        EXPECT_GT(in.samples[0]->length, 0u);
        EXPECT_LE(in.samples[0]->volume, 64);
        for (uint8_t slot : in.sampleMap) EXPECT_EQ(slot, 0);
    }
}

// Plays the order list row by row, following each channel's instrument, and checks that every
// note names a valid instrument and a sample that has data, at a pitch the player can play.
TEST(SongLoaded, EveryNoteInstrumentAndSampleReferenceIsValid) {
    LoadedSong song;
    ASSERT_NE(song.player, nullptr);
    const Player& p = *song.player;
    int32_t channelInstrument[6] = {0, 0, 0, 0, 0, 0};
    int32_t notes = 0;
    for (int32_t order = 0; order < p.songLength; ++order) {
        const int32_t index = p.orderTable[order];
        ASSERT_LT(index, p.patternRecordCount);
        const music::Pattern& pattern = p.patterns[index];
        for (int32_t row = 0; row < pattern.rowCount; ++row) {
            for (int32_t c = 0; c < p.channelCount; ++c) {
                const music::Cell& cell = pattern.cells[row * p.channelCount + c];
                SCOPED_TRACE(testing::Message()
                             << "order " << order << " row " << row << " channel " << c);
                EXPECT_LE(cell.instrument, p.instrumentCount);
                EXPECT_TRUE(cell.note <= 96 || cell.note == music::KEY_OFF);
                if (cell.instrument != 0) channelInstrument[c] = cell.instrument;
                // no jumps or breaks: the beat steering counts on the plain row order
                EXPECT_NE(cell.effect, 0x0B);
                EXPECT_NE(cell.effect, 0x0D);
                EXPECT_FALSE(cell.effect == 0x0E && (cell.param >> 4) == 0x0E);
                if (cell.effect == 0x0F) {
                    EXPECT_TRUE(cell.param >= 32 || cell.param == 7);
                }
                if (cell.note == 0 || cell.note == music::KEY_OFF) continue;
                ASSERT_NE(channelInstrument[c], 0) << "a note with no instrument yet";
                const music::Instrument& in = p.instruments[channelInstrument[c] - 1];
                const uint8_t slot = in.sampleMap[cell.note - 1];
                ASSERT_LT(slot, in.sampleCount);
                const music::Sample& s = *in.samples[slot];
                EXPECT_GT(s.length, 0u);
                const int32_t realNote = cell.note + s.relativeNote - 1;
                EXPECT_GE(realNote, 0);
                EXPECT_LT(realNote, 119);
                ++notes;
            }
        }
    }
    EXPECT_GT(notes, 500);
}

// ------------------------------------------------------------------------------------------
// Timing against the picture timeline, through the real chunk renderer.

struct RowTick {
    int32_t order;
    int32_t row;
    int32_t songTimeMs;
};

std::vector<RowTick>* rowLog = nullptr;
music::TickHandler realTick = nullptr;

void loggingTick(Player* player) {
    const bool rowTick = player->tick == 0;
    const int32_t songTimeMs = player->songTimeMs;
    realTick(player);
    if (rowTick && rowLog) rowLog->push_back({player->order, player->row, songTimeMs});
}

struct Rendering {
    std::vector<int16_t> frames;          // stereo
    std::vector<int32_t> stampSongTimeMs; // per chunk
    std::vector<RowTick> rows;
};

// Renders chunk by chunk until the music clock has reached the demo's end.
Rendering renderDemoLength(Player* player) {
    Rendering r;
    rowLog = &r.rows;
    realTick = player->tickHandler;
    player->tickHandler = loggingTick;
    EXPECT_TRUE(music::offlineBegin(player));
    std::vector<int16_t> chunk(chunkFrames * 2);
    while (r.stampSongTimeMs.empty() || r.stampSongTimeMs.back() < demoEndMs) {
        if (music::offlineRender(player, chunk.data(), chunkFrames) != chunkFrames) break;
        r.frames.insert(r.frames.end(), chunk.begin(), chunk.end());
        r.stampSongTimeMs.push_back(music::offlineLastStamp(player).songTimeMs);
    }
    music::offlineEnd(player);
    player->tickHandler = realTick;
    rowLog = nullptr;
    return r;
}

const music::Cell& cellAt(const Player& p, const RowTick& t, int32_t channel) {
    return p.patterns[p.orderTable[t.order]].cells[t.row * p.channelCount + channel];
}

bool isKick(const music::Cell& c) {
    return c.instrument == kickInstrument && c.note != 0 && c.note != music::KEY_OFF;
}

TEST(SongTiming, EveryBeatStartsOnTheTimelinesBeat) {
    LoadedSong song;
    ASSERT_NE(song.player, nullptr);
    const Rendering r = renderDemoLength(song.player);
    ASSERT_GE(r.rows.size(), 289u);
    double worst = 0.0;
    for (int32_t beat = 0; beat <= 143; ++beat) {
        const RowTick& t = r.rows[static_cast<size_t>(beat * 2)];
        EXPECT_EQ(t.order * 64 + t.row, beat * 2) << "the song plays its rows in order";
        const double offset = t.songTimeMs - beat * beatMs;
        worst = std::max(worst, std::fabs(offset));
        EXPECT_LT(std::fabs(offset), 3.0) << "beat " << beat;
    }
    std::printf("largest beat offset over beats 0..143: %.2f ms\n", worst);
}

TEST(SongTiming, KicksFromTheRowsFallOnTheFlashes) {
    LoadedSong song;
    ASSERT_NE(song.player, nullptr);
    const Rendering r = renderDemoLength(song.player);
    std::vector<int32_t> kickBeats;
    for (const RowTick& t : r.rows) {
        if (!isKick(cellAt(*song.player, t, kickChannel))) continue;
        const int32_t beat = static_cast<int32_t>(std::lround(t.songTimeMs / beatMs));
        EXPECT_LT(std::fabs(t.songTimeMs - beat * beatMs), 3.0)
            << "kick at " << t.songTimeMs << " ms is off the beat";
        if (t.songTimeMs < demoEndMs) kickBeats.push_back(beat);
    }
    std::vector<int32_t> flashBeats;
    for (int32_t b = firstFlashBeat; b <= lastFlashBeat; ++b) flashBeats.push_back(b);
    EXPECT_EQ(kickBeats, flashBeats) << "one kick on every flash and none elsewhere";

    // the intro has no drums at all
    for (const RowTick& t : r.rows) {
        if (t.songTimeMs >= firstFlashBeat * beatMs - 1.0) break;
        for (int32_t c = 0; c < song.player->channelCount; ++c)
            EXPECT_FALSE(isDrum(cellAt(*song.player, t, c).instrument))
                << "drum at " << t.songTimeMs << " ms, channel " << c;
    }
}

// Plays the kicks alone, finds each kick's attack in the audio and places it on the
// music clock (the chunk stamps): it must sit within a few ms of its beat's flash start, and
// the chunk that first shows the flash must be the kick's own chunk or its neighbour.
TEST(SongTiming, KickAttacksInTheAudioMeetTheFlashStarts) {
    LoadedSong song;
    ASSERT_NE(song.player, nullptr);
    Player& p = *song.player;
    for (int32_t i = 0; i < p.patternRecordCount; ++i) {
        for (int32_t k = 0; k < p.patterns[i].rowCount * p.channelCount; ++k) {
            music::Cell& c = p.patterns[i].cells[k];
            if (c.instrument == kickInstrument) continue;
            // only the kicks and the tempo commands stay: a note delay would fire even on
            // an emptied cell
            const bool tempo = c.effect == 0x0F;
            c = music::Cell{0, 0, 0, tempo ? c.effect : uint8_t{0}, tempo ? c.param : uint8_t{0}};
        }
    }
    const Rendering r = renderDemoLength(&p);
    const size_t frameCount = r.frames.size() / 2;

    // attack = a jump in the left+right difference signal after a quiet stretch of it
    std::vector<float> edge(frameCount, 0.0f);
    float peak = 0.0f;
    for (size_t f = 1; f < frameCount; ++f) {
        const float now = static_cast<float>(r.frames[2 * f] + r.frames[2 * f + 1]);
        const float before = static_cast<float>(r.frames[2 * f - 2] + r.frames[2 * f - 1]);
        edge[f] = std::fabs(now - before);
        peak = std::max(peak, edge[f]);
    }
    ASSERT_GT(peak, 0.0f);
    std::vector<size_t> attacks;
    const size_t refractoryFrames = rateHz / 5;
    for (size_t f = 0; f < frameCount; ++f) {
        if (edge[f] < 0.25f * peak) continue;
        if (!attacks.empty() && f - attacks.back() < refractoryFrames) continue;
        // walk back to where the attack rises out of the old note's tail
        size_t start = f;
        while (start > 0 && f - start < 256 && edge[start - 1] > 0.02f * peak) --start;
        attacks.push_back(start);
    }
    ASSERT_EQ(attacks.size(), static_cast<size_t>(lastFlashBeat - firstFlashBeat + 1));

    auto clockAtFrame = [&](size_t f) {
        const size_t k = f / chunkFrames;
        const double begin = k == 0 ? 0.0 : r.stampSongTimeMs[k - 1];
        const double end = r.stampSongTimeMs[k];
        return begin + (end - begin) * static_cast<double>(f - k * chunkFrames) / chunkFrames;
    };
    double worst = 0.0;
    for (size_t i = 0; i < attacks.size(); ++i) {
        const int32_t beat = firstFlashBeat + static_cast<int32_t>(i);
        const double flashMs = beat * beatMs;
        const double offset = clockAtFrame(attacks[i]) - flashMs;
        worst = std::max(worst, std::fabs(offset));
        EXPECT_LT(std::fabs(offset), 5.0) << "beat " << beat;
        // the first chunk whose stamp reaches the beat is when the flash is on screen
        size_t flashChunk = 0;
        while (flashChunk < r.stampSongTimeMs.size() && r.stampSongTimeMs[flashChunk] < flashMs)
            ++flashChunk;
        const long chunkOfKick = static_cast<long>(attacks[i] / chunkFrames);
        EXPECT_LE(std::labs(chunkOfKick - static_cast<long>(flashChunk)), 1) << "beat " << beat;
    }
    std::printf("kick attacks: largest distance to the flash start %.2f ms\n", worst);
}

TEST(SongLevels, TheFirst48SecondsNeverClip) {
    LoadedSong song;
    ASSERT_NE(song.player, nullptr);
    const Rendering r = renderDemoLength(song.player);
    int32_t peak = 0;
    double sum = 0.0;
    for (int16_t v : r.frames) {
        peak = std::max(peak, std::abs(static_cast<int32_t>(v)));
        sum += static_cast<double>(v) * v;
    }
    const double rms = std::sqrt(sum / static_cast<double>(r.frames.size()));
    std::printf("peak %d (%.1f dBFS), rms %.0f\n", peak, 20.0 * std::log10(peak / 32768.0), rms);
    EXPECT_LT(peak, 32000);
    EXPECT_GT(rms, 1000.0) << "the song is too quiet";
    // the last second before the end is a soft fade, not an abrupt stop or silence
    const size_t lastSecond = r.frames.size() - 2 * rateHz;
    int32_t tailPeak = 0;
    for (size_t i = lastSecond; i < r.frames.size(); ++i)
        tailPeak = std::max(tailPeak, std::abs(static_cast<int32_t>(r.frames[i])));
    EXPECT_LT(tailPeak, peak / 3);
}

// ------------------------------------------------------------------------------------------
// Other players.

double rmsOf(const std::vector<int16_t>& v) {
    double sum = 0.0;
    for (int16_t s : v) sum += static_cast<double>(s) * s;
    return v.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(v.size()));
}

TEST(SongElsewhere, LibxmpLoadsAndPlaysIt) {
#ifndef SONG_TEST_HAVE_LIBXMP
    GTEST_SKIP() << "libxmp not found at build time (Debian: libxmp-dev)";
#else
    const auto& b = songBytes();
    xmp_context ctx = xmp_create_context();
    ASSERT_EQ(xmp_load_module_from_memory(ctx, b.data(), static_cast<long>(b.size())), 0);
    xmp_module_info info;
    xmp_get_module_info(ctx, &info);
    EXPECT_EQ(info.mod->chn, 6);
    EXPECT_EQ(info.mod->ins, 18);
    EXPECT_EQ(info.mod->len, 9);
    ASSERT_EQ(xmp_start_player(ctx, rateHz, 0), 0);
    xmp_seek_time(ctx, 12000);
    std::vector<int16_t> pcm(static_cast<size_t>(rateHz) * 2 * 4);
    EXPECT_EQ(xmp_play_buffer(ctx, pcm.data(), static_cast<int>(pcm.size() * 2), 0), 0);
    const double rms = rmsOf(pcm);
    std::printf("libxmp: rms %.0f over 4 s from 12 s\n", rms);
    EXPECT_GT(rms, 500.0);
    xmp_end_player(ctx);
    xmp_release_module(ctx);
    xmp_free_context(ctx);
#endif
}

TEST(SongElsewhere, LibopenmptLoadsAndPlaysIt) {
#ifndef SONG_TEST_HAVE_LIBOPENMPT
    GTEST_SKIP() << "libopenmpt not found at build time (Debian: libopenmpt-dev)";
#else
    const auto& b = songBytes();
    openmpt_module* mod = openmpt_module_create_from_memory2(
        b.data(), b.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(mod, nullptr);
    EXPECT_EQ(openmpt_module_get_num_channels(mod), 6);
    EXPECT_EQ(openmpt_module_get_num_instruments(mod), 18);
    EXPECT_EQ(openmpt_module_get_num_orders(mod), 9);
    EXPECT_EQ(openmpt_module_get_num_patterns(mod), 11);
    EXPECT_GT(openmpt_module_get_duration_seconds(mod), 48.0);
    openmpt_module_set_position_seconds(mod, 12.0);
    std::vector<int16_t> pcm(static_cast<size_t>(rateHz) * 2 * 4);
    const size_t got =
        openmpt_module_read_interleaved_stereo(mod, rateHz, pcm.size() / 2, pcm.data());
    EXPECT_EQ(got, pcm.size() / 2);
    const double rms = rmsOf(pcm);
    std::printf("libopenmpt: rms %.0f over 4 s from 12 s\n", rms);
    EXPECT_GT(rms, 500.0);
    openmpt_module_destroy(mod);
#endif
}

} // namespace
