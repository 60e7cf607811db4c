// xmrender: renders an XM module to a 16-bit stereo WAV file through the music library's public
// interface, the same chunk renderer the demo plays with.
#include "beatxm.h"
#include "tools/common/tool_common.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using tools::exitBadInput;
using tools::exitOk;
using tools::exitOutputFailed;

constexpr int32_t bytesPerFrame = 4; // 16-bit stereo
constexpr int32_t outputChannels = 2;
// The WAV size fields are 32 bits.
constexpr double maxSeconds = 6.0 * 3600.0;
constexpr int32_t blockFrames = 4096;
constexpr int32_t wavHeaderBytes = 44;

const char* const usage =
    "usage: xmrender IN.xm OUT.wav [--seconds N] [--profile ft2|demo] [--rate HZ]\n"
    "Renders an XM module to a 16-bit stereo WAV file (OUT may be - for stdout).\n"
    "Without --seconds the song is rendered once, until it comes back to a row already\n"
    "played (at most 20 minutes). A progress bar shows on standard error when it is a\n"
    "terminal.\n"
    "  --seconds N     render exactly N seconds, repeating the song as it does\n"
    "  --profile NAME  playback rules: ft2 (default, FastTracker 2's) or demo (what the\n"
    "                  demo plays, bit for bit)\n"
    "  --rate HZ       output rate, 8000 to 192000 (default 44100)\n"
    "  --version       print the version and exit\n"
    "Exit codes: 0 done; 1 the output cannot be written; 2 the module cannot be read or\n"
    "loaded, or a wrong command line.\n";

int32_t outputRate = BXM_RATE_DEFAULT;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFFu);
    put16(p + 2, v >> 16);
}

bool writeWavHeader(FILE* f, int64_t frames) {
    const uint32_t dataBytes = static_cast<uint32_t>(frames * bytesPerFrame);
    uint8_t h[wavHeaderBytes];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1); // PCM
    put16(h + 22, outputChannels);
    put32(h + 24, static_cast<uint32_t>(outputRate));
    put32(h + 28, static_cast<uint32_t>(outputRate * bytesPerFrame));
    put16(h + 32, bytesPerFrame);
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
    char bar[41];
    tools::formatBar(fraction, 40, bar);
    char time[32];
    tools::formatTime(frames * 1000 / outputRate, time, sizeof time);
    std::fprintf(stderr, "\r[%s] %3d%% %s", bar, static_cast<int>(fraction * 100.0), time);
    std::fflush(stderr);
}

// Renders into f; returns the frames written, or -1 when writing failed. A whole song ends
// where the library says it does; a fixed length is rendered in full.
int64_t render(bxm_player* player, FILE* f, int64_t fixedFrames) {
    bxm_module_info info{};
    bxm_get_module_info(player, &info);
    const int64_t limit = fixedFrames >= 0 ? fixedFrames : info.duration_frames;
    const bool progress = isatty(STDERR_FILENO) != 0;
    std::vector<int16_t> block(static_cast<size_t>(blockFrames) * 2);
    int64_t written = 0;
    int64_t lastDrawn = -limit;
    while (written < limit) {
        int32_t n = blockFrames;
        if (n > limit - written) n = static_cast<int32_t>(limit - written);
        n = bxm_render_s16(player, block.data(), n);
        if (n <= 0) break;
        if (!writeFrames(f, block.data(), n)) return -1;
        written += n;
        if (progress && written - lastDrawn >= outputRate / 2) {
            drawProgress(limit > 0 ? static_cast<double>(written) / limit : 1.0, written);
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
    bxm_options options{};
    options.profile = BXM_PROFILE_FT2;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(usage, stdout);
            return exitOk;
        }
        if (std::strcmp(a, "--version") == 0) {
            tools::printVersion("xmrender");
            return exitOk;
        }
        const bool takesValue = std::strcmp(a, "--seconds") == 0 ||
                                std::strcmp(a, "--profile") == 0 || std::strcmp(a, "--rate") == 0;
        if (takesValue && i + 1 >= argc) {
            std::fprintf(stderr, "xmrender: %s needs a value\n", a);
            return exitBadInput;
        }
        if (std::strcmp(a, "--seconds") == 0) {
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != 0 || !(seconds > 0.0) || !(seconds <= maxSeconds)) {
                std::fprintf(stderr, "xmrender: --seconds wants a number above 0 and up to %g\n",
                             maxSeconds);
                return exitBadInput;
            }
        } else if (std::strcmp(a, "--profile") == 0) {
            if (!tools::parseProfile(argv[++i], &options.profile)) {
                std::fprintf(stderr, "xmrender: --profile wants demo or ft2, not %s\n", argv[i]);
                return exitBadInput;
            }
        } else if (std::strcmp(a, "--rate") == 0) {
            if (!tools::parseRate(argv[++i], &options.sample_rate)) {
                std::fprintf(stderr, "xmrender: --rate wants %d to %d Hz, not %s\n", BXM_RATE_MIN,
                             BXM_RATE_MAX, argv[i]);
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
    if (options.sample_rate != 0) outputRate = options.sample_rate;
    // A fixed length goes on through the song's end, as often as it takes.
    options.play_count = seconds > 0.0 ? -1 : 1;

    bxm_player* player = tools::openModuleFile("xmrender", inPath, options);
    if (player == nullptr) return exitBadInput;

    const bool toStdout = std::strcmp(outPath, "-") == 0;
    FILE* out = toStdout ? stdout : std::fopen(outPath, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "xmrender: cannot write %s: %s\n", outPath, std::strerror(errno));
        bxm_close(player);
        return exitOutputFailed;
    }

    const int64_t fixedFrames =
        seconds > 0.0 ? static_cast<int64_t>(std::llround(seconds * outputRate)) : -1;
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
    bxm_close(player);
    if (!ok) {
        std::fprintf(stderr, "xmrender: writing %s failed\n", toStdout ? "stdout" : outPath);
        return exitOutputFailed;
    }
    return exitOk;
}
