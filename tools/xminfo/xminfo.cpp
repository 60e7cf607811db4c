// xminfo: loads an XM module the way the demo does and prints what the loader made of it.
#include "music/channel.h"
#include "music/format.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/profile.h"
#include "music/stream.h"
#include "music/voice.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int exitUnloadable = 2;

const char* loopName(uint8_t mode) {
    switch (mode) {
    case music::LOOP_FORWARD: return "forward";
    case music::LOOP_PINGPONG: return "ping-pong";
    default: return "none";
    }
}

constexpr int64_t defaultMaxTicks = 100000;

void printUsage(FILE* out) {
    std::fprintf(out,
                 "usage: xminfo FILE.xm\n"
                 "       xminfo --ticks FILE.xm [--max-ticks N] [--profile ft2|demo]\n"
                 "Loads FILE.xm with the demo's loader and prints channels, song length,\n"
                 "restart position, orders, patterns with their rows, instruments and\n"
                 "samples (length, loop start, loop length and mode in sample frames, bits\n"
                 "after decoding). Exit code 2 when the file cannot be read or loaded.\n"
                 "With --ticks it plays the song instead (profile ft2 unless told otherwise)\n"
                 "and prints one line after each tick, until the song returns to a row it\n"
                 "has played or N ticks (default %lld) are done:\n"
                 "  tick order row frame speed bpm timeMs | hz vol pan | hz vol pan ...\n"
                 "frame is the tick within the row, timeMs the song time at the tick's start;\n"
                 "per channel hz is the rate its sample sounds at (0 when idle), vol the final\n"
                 "volume 0..64 and pan the final panning 0..255, 0 left.\n",
                 static_cast<long long>(defaultMaxTicks));
}

// The whole file, or false when it cannot be read or is too large for a stream.
bool readFile(const char* path, std::vector<uint8_t>* bytes, const char** reason) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        *reason = std::strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + got);
        if (bytes->size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            std::fclose(f);
            *reason = "file too large";
            return false;
        }
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) *reason = "read error";
    return !failed;
}

void printPlayer(const music::Player* p) {
    std::printf("channels: %d\n", p->channelCount);
    std::printf("song length: %d\n", p->songLength);
    std::printf("restart: %d\n", p->restartPosition);
    std::printf("orders:");
    for (int32_t i = 0; i < p->songLength; ++i) std::printf(" %d", p->orderTable[i]);
    std::printf("\n");
    std::printf("flags: %d (%s frequency table)\n", p->flags, p->flags & 1 ? "linear" : "Amiga");
    std::printf("tempo: %d\nbpm: %d\n", p->defaultTempo, p->defaultBpm);
    std::printf("patterns: %d (%d named by the orders)\n", p->patternRecordCount, p->patternCount);
    for (int32_t i = 0; i < p->patternRecordCount; ++i)
        std::printf("  pattern %d: %d rows\n", i, p->patterns[i].rowCount);
    std::printf("instruments: %d\n", p->instrumentCount);
    for (int32_t i = 0; i < p->instrumentCount; ++i) {
        const music::Instrument& ins = p->instruments[i];
        std::printf("instrument %d: %d sample%s\n", i + 1, ins.sampleCount,
                    ins.sampleCount == 1 ? "" : "s");
        for (int32_t s = 0; s < ins.sampleCount; ++s) {
            const music::Sample* smp = ins.samples[s];
            std::printf("  sample %d: length %u, loop start %u, loop length %u, loop %s, "
                        "%d bits\n",
                        s + 1, smp->length, smp->loopStart, smp->loopLength,
                        loopName(smp->loopMode), smp->bits);
        }
    }
}

// What --ticks follows while the song plays.
struct TickTrace {
    music::TickHandler sequencerTick;
    int64_t ticks;
    int64_t maxTicks;
    int64_t tickStartFrame;
    std::vector<uint8_t> visited; // one byte per (order, row)
    bool done;
};

TickTrace trace;

bool patternLoopRunning(const music::Player* player) {
    for (int32_t c = 0; c < player->channelCount && c < music::channelTableSize; ++c)
        if (music::channelTable[c].loopCounter != 0) return true;
    return false;
}

void printChannel(const music::Player* player, int32_t c) {
    const music::Voice* voice = music::channelTable[c].voice;
    const bool idle = voice == nullptr || voice->sample == nullptr || voice->sample->length == 0;
    if (idle) {
        std::printf(" 0 0 0");
        return;
    }
    const double step = voice->stepWhole + voice->stepFraction / 4294967296.0;
    // The voice's volume is what is heard: 0..127 (0..127 x 256 with fine levels) for 0..64.
    const double fullVolume = voice->fineLevels != 0 ? 127.5 * 256.0 : 127.5;
    const double volume = voice->voiceVolume * 64.0 / fullVolume;
    int32_t pan = voice->voicePanning;
    if (!music::profileOf(player).panningZeroIsLeft) pan = 255 - pan; // 255 sounds left there
    std::printf(" %.3f %.2f %d", step * music::sampleRate, volume, pan);
}

void tracingTick(music::Player* player) {
    const int32_t frame = player->tick;
    trace.sequencerTick(player);
    const int64_t start = trace.tickStartFrame;
    trace.tickStartFrame += player->samplesPerTick > 0 ? player->samplesPerTick : 1;
    if (trace.done) return;
    if (frame == 0 && player->order >= 0 && player->order < 256 && player->row >= 0 &&
        player->row < 256) {
        uint8_t& seen = trace.visited[static_cast<size_t>(player->order) * 256 +
                                      static_cast<size_t>(player->row)];
        if (seen != 0 && !patternLoopRunning(player)) {
            trace.done = true;
            return;
        }
        seen = 1;
    }
    std::printf("%lld %d %d %d %d %d %.3f |", static_cast<long long>(trace.ticks), player->order,
                player->row, frame, player->tempo, player->bpm,
                static_cast<double>(start) * 1000.0 / music::sampleRate);
    const int32_t channels = player->channelCount < music::channelTableSize
                                 ? player->channelCount
                                 : music::channelTableSize;
    for (int32_t c = 0; c < channels; ++c) printChannel(player, c);
    std::printf("\n");
    if (++trace.ticks >= trace.maxTicks) trace.done = true;
}

// Plays the song offline and prints the state after every tick; false when it cannot start.
bool printTicks(music::Player* player, int64_t maxTicks) {
    trace = TickTrace{};
    trace.sequencerTick = player->tickHandler;
    trace.maxTicks = maxTicks;
    trace.visited.assign(256 * 256, 0);
    if (trace.sequencerTick == nullptr || !music::offlineBegin(player)) return false;
    player->tickHandler = tracingTick;
    std::vector<int16_t> block(static_cast<size_t>(music::sampleRate) * 2);
    while (!trace.done) {
        if (music::offlineRender(block.data(), music::sampleRate) == 0) break;
    }
    music::offlineEnd();
    player->tickHandler = trace.sequencerTick;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return 0;
    }
    const char* path = nullptr;
    bool ticks = false;
    int64_t maxTicks = defaultMaxTicks;
    music::ProfileId profile = music::ProfileId::Ft2;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--ticks") == 0) {
            ticks = true;
        } else if (std::strcmp(a, "--max-ticks") == 0 && i + 1 < argc) {
            char* end = nullptr;
            maxTicks = std::strtoll(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || maxTicks < 1) {
                std::fprintf(stderr, "xminfo: --max-ticks wants a whole number above 0\n");
                return exitUnloadable;
            }
        } else if (std::strcmp(a, "--profile") == 0 && i + 1 < argc) {
            if (!music::parseProfileName(argv[++i], &profile)) {
                std::fprintf(stderr, "xminfo: --profile wants ft2 or demo\n");
                return exitUnloadable;
            }
        } else if (a[0] == '-' && a[1] != 0) {
            std::fprintf(stderr, "xminfo: unknown option %s\n", a);
            printUsage(stderr);
            return exitUnloadable;
        } else if (path == nullptr) {
            path = a;
        } else {
            printUsage(stderr);
            return exitUnloadable;
        }
    }
    if (path == nullptr) {
        printUsage(stderr);
        return exitUnloadable;
    }
    std::vector<uint8_t> bytes;
    const char* reason = "";
    if (!readFile(path, &bytes, &reason)) {
        std::fprintf(stderr, "xminfo: cannot read %s: %s\n", path, reason);
        return exitUnloadable;
    }

    music::installMemoryStream();
    const music::MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
    music::Player* player = music::createPlayer(&description);
    if (player == nullptr) {
        std::fprintf(stderr, "xminfo: cannot load %s: not a loadable XM module\n", path);
        return exitUnloadable;
    }
    music::setReplayProfile(player, profile);
    if (ticks) {
        const bool played = printTicks(player, maxTicks);
        music::destroyPlayer(player);
        if (!played) {
            std::fprintf(stderr, "xminfo: cannot play %s (out of memory)\n", path);
            return 1;
        }
        return 0;
    }
    printPlayer(player);
    music::destroyPlayer(player);
    return 0;
}
