// xmrender: renders an XM module to a 16-bit stereo 44100 Hz WAV file through the offline renderer.
#include "music/channel.h"
#include "music/format.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/profile.h"
#include "music/stream.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using music::Player;

constexpr int exitOk = 0;
constexpr int exitOutputFailed = 1;
constexpr int exitBadInput = 2;

constexpr int64_t maxInputBytes = 64 * 1024 * 1024;
constexpr int64_t songBoundFrames = int64_t{20} * 60 * music::sampleRate;
// A row never lasts this long (31 ticks, 15 pattern delays, BPM 32 is about 39 s), so a position
// that stays put for longer has stopped for good.
constexpr int64_t stuckFrames = int64_t{60} * music::sampleRate;
// The WAV size fields are 32 bits.
constexpr double maxSeconds = 6.0 * 3600.0;
constexpr int32_t blockFrames = 4096;
constexpr int32_t wavHeaderBytes = 44;

const char* const usage =
    "usage: xmrender IN.xm OUT.wav [--seconds N] [--profile ft2|demo]\n"
    "Renders an XM module to a 16-bit stereo 44100 Hz WAV file (OUT may be - for stdout).\n"
    "Without --seconds the song is rendered once, until it comes back to a row already\n"
    "played (at most 20 minutes). --profile chooses the replay rules: ft2 (the default)\n"
    "plays as FastTracker 2 does, demo exactly as the demo plays its own song.\n";

// What the tick observer learns about the song's position. Ticks follow each other without
// gaps from frame 0, so the frame each tick starts at is the sum of the lengths before it.
struct SongWatch {
    music::TickHandler sequencerTick;
    std::vector<uint8_t> visited; // one byte per (order, row)
    int64_t tickStartFrame;
    int64_t nextTickFrame;
    int32_t lastOrder;
    int32_t lastRow;
    int64_t lastMoveFrame;
    bool ended;
    int64_t endFrame;
};

SongWatch watch;

bool patternLoopRunning(const Player* player) {
    for (int32_t c = 0; c < player->channelCount && c < music::channelTableSize; ++c) {
        if (music::channelTable[c].loopCounter != 0) return true;
    }
    return false;
}

void observingTick(Player* player) {
    watch.tickStartFrame = watch.nextTickFrame;
    watch.sequencerTick(player);
    // The renderer takes a tick of less than one frame as one frame.
    watch.nextTickFrame += player->samplesPerTick > 0 ? player->samplesPerTick : 1;
    if (watch.ended) return;

    const int32_t order = player->order;
    const int32_t row = player->row;
    if (order == watch.lastOrder && row == watch.lastRow) {
        if (watch.tickStartFrame - watch.lastMoveFrame >= stuckFrames) {
            watch.ended = true;
            watch.endFrame = watch.tickStartFrame;
        }
        return;
    }
    watch.lastOrder = order;
    watch.lastRow = row;
    watch.lastMoveFrame = watch.tickStartFrame;
    if (order < 0 || order > 255 || row < 0 || row > 255) return;
    uint8_t& seen = watch.visited[static_cast<size_t>(order) * 256 + static_cast<size_t>(row)];
    // Rows repeated by a pattern loop are part of the song, not its end.
    if (seen != 0 && !patternLoopRunning(player)) {
        watch.ended = true;
        watch.endFrame = watch.tickStartFrame;
        return;
    }
    seen = 1;
}

bool readWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    uint8_t block[65536];
    bool ok = true;
    for (;;) {
        const size_t n = std::fread(block, 1, sizeof block, f);
        bytes->insert(bytes->end(), block, block + n);
        if (static_cast<int64_t>(bytes->size()) > maxInputBytes) {
            errno = EFBIG;
            ok = false;
            break;
        }
        if (n < sizeof block) {
            if (std::ferror(f)) ok = false;
            break;
        }
    }
    const int savedErrno = errno;
    std::fclose(f);
    errno = savedErrno;
    return ok;
}

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFFu);
    put16(p + 2, v >> 16);
}

bool writeWavHeader(FILE* f, int64_t frames) {
    const uint32_t dataBytes = static_cast<uint32_t>(frames * music::bytesPerFrame);
    uint8_t h[wavHeaderBytes];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1); // PCM
    put16(h + 22, music::outputChannels);
    put32(h + 24, music::sampleRate);
    put32(h + 28, music::sampleRate * music::bytesPerFrame);
    put16(h + 32, music::bytesPerFrame);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
    return std::fwrite(h, 1, sizeof h, f) == sizeof h;
}

// Frames as little-endian bytes, whatever the host's order.
bool writeFrames(FILE* f, const int16_t* samples, int32_t frames) {
    uint8_t bytes[blockFrames * 4];
    for (int32_t i = 0; i < frames * 2; ++i)
        put16(bytes + i * 2, static_cast<uint16_t>(samples[i]));
    const size_t n = static_cast<size_t>(frames) * 4;
    return std::fwrite(bytes, 1, n, f) == n;
}

void drawProgress(double fraction, int64_t frames) {
    if (fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    constexpr int width = 40;
    const int filled = static_cast<int>(fraction * width);
    char bar[width + 1];
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[width] = 0;
    const int64_t seconds = frames / music::sampleRate;
    std::fprintf(stderr, "\r[%s] %3d%% %02d:%02d", bar, static_cast<int>(fraction * 100.0),
                 static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    std::fflush(stderr);
}

// How far through the order list the song is; the bound is what a song that never repeats runs
// into, so this is only a guide.
double songFraction(const Player* player) {
    if (player->songLength <= 0 || player->order < 0 || player->order >= player->songLength) {
        return 0.0;
    }
    double withinOrder = 0.0;
    const int32_t pattern = player->orderTable[player->order];
    if (player->patterns != nullptr && pattern < player->patternRecordCount) {
        const int32_t rows = player->patterns[pattern].rowCount;
        if (rows > 0 && player->row >= 0 && player->row < rows) {
            withinOrder = static_cast<double>(player->row) / rows;
        }
    }
    return (player->order + withinOrder) / player->songLength;
}

// Renders into f; returns the frames written, or -1 when writing failed.
int64_t render(Player* player, FILE* f, int64_t fixedFrames) {
    const bool wholeSong = fixedFrames < 0;
    const int64_t limit = wholeSong ? songBoundFrames : fixedFrames;
    const bool progress = isatty(STDERR_FILENO) != 0;
    std::vector<int16_t> block(static_cast<size_t>(blockFrames) * 2);
    int64_t written = 0;
    int64_t lastDrawn = -limit;
    while (written < limit) {
        int32_t n = blockFrames;
        if (n > limit - written) n = static_cast<int32_t>(limit - written);
        if (music::offlineRender(block.data(), n) != n) return -1;
        if (wholeSong && watch.ended) {
            const int64_t keep = watch.endFrame - written;
            if (keep < n) n = static_cast<int32_t>(keep < 0 ? 0 : keep);
        }
        if (n > 0 && !writeFrames(f, block.data(), n)) return -1;
        written += n;
        if (wholeSong && watch.ended && written >= watch.endFrame) break;
        if (progress && written - lastDrawn >= music::sampleRate / 2) {
            double fraction = static_cast<double>(written) / static_cast<double>(limit);
            if (wholeSong) fraction = songFraction(player);
            drawProgress(fraction, written);
            lastDrawn = written;
        }
    }
    if (progress) {
        drawProgress(1.0, written);
        std::fputc('\n', stderr);
    }
    return written;
}

bool copyAll(FILE* from, FILE* to) {
    if (std::fseek(from, 0, SEEK_SET) != 0) return false;
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, from)) > 0) {
        if (std::fwrite(block, 1, n, to) != n) return false;
    }
    return !std::ferror(from);
}

} // namespace

int main(int argc, char** argv) {
    const char* inPath = nullptr;
    const char* outPath = nullptr;
    double seconds = -1.0;
    music::ProfileId profile = music::ProfileId::Ft2;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(usage, stdout);
            return exitOk;
        }
        if (std::strcmp(a, "--seconds") == 0) {
            if (i + 1 >= argc) {
                std::fputs("xmrender: --seconds needs a number\n", stderr);
                return exitBadInput;
            }
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != 0 || !(seconds > 0.0) || !(seconds <= maxSeconds)) {
                std::fprintf(stderr, "xmrender: --seconds wants a number above 0 and up to %g\n",
                             maxSeconds);
                return exitBadInput;
            }
        } else if (std::strcmp(a, "--profile") == 0) {
            if (i + 1 >= argc || !music::parseProfileName(argv[++i], &profile)) {
                std::fputs("xmrender: --profile wants ft2 or demo\n", stderr);
                return exitBadInput;
            }
        } else if (a[0] == '-' && a[1] != 0) {
            std::fprintf(stderr, "xmrender: unknown option %s\n%s", a, usage);
            return exitBadInput;
        } else if (inPath == nullptr) {
            inPath = a;
        } else if (outPath == nullptr) {
            outPath = a;
        } else {
            std::fprintf(stderr, "xmrender: one input and one output only\n%s", usage);
            return exitBadInput;
        }
    }
    if (inPath == nullptr || outPath == nullptr) {
        std::fputs(usage, stderr);
        return exitBadInput;
    }

    std::vector<uint8_t> module;
    if (!readWholeFile(inPath, &module)) {
        std::fprintf(stderr, "xmrender: cannot read %s: %s\n", inPath, std::strerror(errno));
        return exitBadInput;
    }
    music::installMemoryStream();
    const music::MemoryStream description{static_cast<int32_t>(module.size()), 0, module.data()};
    Player* player = music::createPlayer(&description);
    if (player == nullptr) {
        std::fprintf(stderr, "xmrender: %s is not a module that can be loaded\n", inPath);
        return exitBadInput;
    }

    music::setReplayProfile(player, profile);
    watch = SongWatch{};
    watch.sequencerTick = player->tickHandler;
    watch.visited.assign(256 * 256, 0);
    watch.lastOrder = -1;
    watch.lastRow = -1;
    if (watch.sequencerTick == nullptr) {
        std::fprintf(stderr, "xmrender: %s has no player for its song\n", inPath);
        music::destroyPlayer(player);
        return exitBadInput;
    }
    player->tickHandler = observingTick;
    if (!music::offlineBegin(player)) {
        std::fputs("xmrender: cannot start rendering (out of memory)\n", stderr);
        music::destroyPlayer(player);
        return exitOutputFailed;
    }

    const bool toStdout = std::strcmp(outPath, "-") == 0;
    FILE* out = toStdout ? stdout : std::fopen(outPath, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "xmrender: cannot write %s: %s\n", outPath, std::strerror(errno));
        music::offlineEnd();
        music::destroyPlayer(player);
        return exitOutputFailed;
    }

    const int64_t fixedFrames =
        seconds > 0.0 ? static_cast<int64_t>(std::llround(seconds * music::sampleRate)) : -1;
    bool ok = true;
    if (fixedFrames >= 0) {
        ok = writeWavHeader(out, fixedFrames) && render(player, out, fixedFrames) == fixedFrames;
    } else if (!toStdout || std::fseek(out, 0, SEEK_CUR) == 0) {
        // Seekable: the sizes go into the header once the song's length is known.
        ok = writeWavHeader(out, 0);
        const int64_t frames = ok ? render(player, out, -1) : -1;
        ok = frames >= 0 && std::fseek(out, 0, SEEK_SET) == 0 && writeWavHeader(out, frames);
    } else {
        // A pipe cannot be rewound: the song goes to a temporary file first.
        FILE* temp = std::tmpfile();
        const int64_t frames = temp != nullptr ? render(player, temp, -1) : -1;
        ok = frames >= 0 && writeWavHeader(out, frames) && copyAll(temp, out);
        if (temp != nullptr) std::fclose(temp);
    }
    if (std::fflush(out) != 0) ok = false;
    if (!toStdout && std::fclose(out) != 0) ok = false;
    music::offlineEnd();
    music::destroyPlayer(player);
    if (!ok) {
        std::fprintf(stderr, "xmrender: writing %s failed\n", toStdout ? "stdout" : outPath);
        return exitOutputFailed;
    }
    return exitOk;
}
