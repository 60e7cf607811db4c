// xmp_ticks: libxmp's state after every tick of a module, in the columns of xminfo --ticks, so
// the two players can be held against each other tick by tick (see compare_ticks.py).
#include <xmp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int outputRateHz = 44100;
// libxmp's mixer plays a period p at 428 x 8363 / p Hz (C-4's Amiga period times its rate).
constexpr double periodClockHz = 428.0 * 8363.0;
constexpr double periodUnits = 4096.0; // channel_info.period is the period x 4096

int usage() {
    std::fputs("usage: xmp_ticks FILE.xm [--max-ticks N]\n"
               "Prints libxmp's state after each tick (FT2 mode) until the song loops:\n"
               "  tick order row frame speed bpm timeMs | hz vol pan | ...\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    long maxTicks = 100000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-ticks") == 0 && i + 1 < argc) {
            maxTicks = std::strtol(argv[++i], nullptr, 10);
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return usage();
        }
    }
    if (path == nullptr || maxTicks < 1) return usage();

    xmp_context ctx = xmp_create_context();
    if (xmp_load_module(ctx, path) != 0) {
        std::fprintf(stderr, "xmp_ticks: libxmp cannot load %s\n", path);
        xmp_free_context(ctx);
        return 2;
    }
    xmp_module_info moduleInfo;
    xmp_get_module_info(ctx, &moduleInfo);
    const int channels = moduleInfo.mod->chn;
    xmp_start_player(ctx, outputRateHz, 0);
    xmp_set_player(ctx, XMP_PLAYER_MODE, XMP_MODE_FT2);
    xmp_set_player(ctx, XMP_PLAYER_MIX, 100);
    xmp_set_player(ctx, XMP_PLAYER_DSP, 0);

    long tick = 0;
    double timeMs = 0.0;
    xmp_frame_info info;
    while (tick < maxTicks && xmp_play_frame(ctx) == 0) {
        xmp_get_frame_info(ctx, &info);
        if (info.loop_count > 0) break;
        std::printf("%ld %d %d %d %d %d %.3f |", tick, info.pos, info.row, info.frame, info.speed,
                    info.bpm, timeMs);
        for (int c = 0; c < channels && c < XMP_MAX_CHANNELS; ++c) {
            const xmp_channel_info& ci = info.channel_info[c];
            const double hz = ci.period > 0 ? periodClockHz * periodUnits / ci.period : 0.0;
            std::printf(" %.3f %d %d", ci.volume > 0 ? hz : 0.0, ci.volume, ci.pan);
        }
        std::printf("\n");
        timeMs += info.frame_time / 1000.0;
        ++tick;
    }
    xmp_end_player(ctx);
    xmp_release_module(ctx);
    xmp_free_context(ctx);
    return 0;
}
