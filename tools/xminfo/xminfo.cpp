// xminfo: what an XM module says about itself, as stored in the file, and how long it plays.
#include "beatxm.h"
#include "tick_trace.h"
#include "tools/common/tool_common.h"

#include "music/load_result.h"
#include "music/module.h"
#include "music/profile.h"
#include "music/stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char* loopName(int32_t type) {
    switch (type) {
    case BXM_LOOP_FORWARD: return "forward";
    case BXM_LOOP_PINGPONG: return "ping-pong";
    default: return "none";
    }
}

constexpr int64_t defaultMaxTicks = 100000;

void printUsage(FILE* out) {
    std::fprintf(out,
                 "usage: xminfo [--profile ft2|demo] FILE.xm\n"
                 "       xminfo --ticks [--max-ticks N] [--profile ft2|demo] FILE.xm\n"
                 "Prints what FILE.xm says about itself, as stored in the file: title,\n"
                 "tracker, channels, song length, restart position, orders, patterns with\n"
                 "their rows, instruments with their envelopes and samples (length, loop\n"
                 "start and length in sample frames, loop type and bits as stored, volume,\n"
                 "finetune, panning, relative note), and the song's duration as xmrender\n"
                 "renders it with the same profile (once through, 44100 Hz).\n"
                 "  --profile P    ft2 (FastTracker 2's rules, the default) or demo (the\n"
                 "                 demo's own rules, what the demo plays)\n"
                 "  --ticks        play the song instead and print one line per tick until it\n"
                 "                 comes back to a row it has played, or N ticks are done:\n"
                 "                 tick order row frame speed bpm timeMs | and then for each\n"
                 "                 channel: hz vol pan (hz 0 when silent, vol 0..64 after\n"
                 "                 envelope, fadeout and global volume, pan 0..255 with 0 left)\n"
                 "  --max-ticks N  at most N lines with --ticks (default %lld)\n"
                 "  --version      print the version and exit\n"
                 "Exit codes: 0 done; 2 the file cannot be read or loaded, or a wrong\n"
                 "command line.\n",
                 static_cast<long long>(defaultMaxTicks));
}

void printEnvelope(const char* name, const bxm_envelope& e) {
    std::printf("  %s envelope: %d point%s, type %d (%s%s%s)", name, e.point_count,
                e.point_count == 1 ? "" : "s", e.type, e.type & 1 ? "on" : "off",
                e.type & 2 ? ", sustain" : "", e.type & 4 ? ", loop" : "");
    if (e.type & 2) std::printf(", sustain point %d", e.sustain_point);
    if (e.type & 4) std::printf(", loop points %d-%d", e.loop_start_point, e.loop_end_point);
    std::printf("\n");
    const int32_t shown = e.point_count < 12 ? e.point_count : 12;
    if (shown <= 0) return;
    std::printf("   ");
    for (int32_t i = 0; i < shown; ++i) std::printf(" (%u,%u)", e.x[i], e.y[i]);
    std::printf("\n");
}

void printModule(const bxm_player* player) {
    bxm_module_info m{};
    bxm_get_module_info(player, &m);
    std::printf("title: %s\n", m.title);
    std::printf("tracker: %s\n", m.tracker);
    std::printf("format version: %x.%02x\n", m.version >> 8, m.version & 0xFF);
    std::printf("channels: %d\n", m.channels);
    std::printf("song length: %d\n", m.orders);
    std::printf("restart: %d\n", m.restart_order);
    std::printf("orders:");
    for (int32_t i = 0; i < m.orders; ++i) std::printf(" %d", bxm_get_order(player, i));
    std::printf("\n");
    std::printf("frequency table: %s\n", m.linear_frequencies ? "linear" : "Amiga");
    // As stored; the player starts within FT2's range, which the position before playing shows.
    bxm_position start{};
    bxm_get_position(player, &start);
    std::printf("tempo: %d", m.initial_tempo);
    if (start.tempo != m.initial_tempo) std::printf(" (plays as %d)", start.tempo);
    std::printf("\nbpm: %d", m.initial_bpm);
    if (start.bpm != m.initial_bpm) std::printf(" (plays as %d)", start.bpm);
    std::printf("\n");
    char time[32];
    tools::formatTime(m.duration_ms, time, sizeof time);
    std::printf("duration: %s (%d ms)%s\n", time, m.duration_ms,
                m.duration_limited ? ", no end within 20 minutes" : "");
    std::printf("patterns: %d stored", m.stored_patterns);
    if (m.patterns > m.stored_patterns)
        std::printf(", %d more named by the orders", m.patterns - m.stored_patterns);
    std::printf("\n");
    for (int32_t i = 0; i < m.patterns; ++i) {
        const int32_t rows = bxm_get_pattern_rows(player, i);
        std::printf("  pattern %d: %d row%s\n", i, rows, rows == 1 ? "" : "s");
    }
    std::printf("instruments: %d\n", m.instruments);
    for (int32_t i = 0; i < m.instruments; ++i) {
        bxm_instrument_info ins{};
        if (bxm_get_instrument_info(player, i, &ins) != 0) continue;
        std::printf("instrument %d: %d sample%s, \"%s\"\n", i + 1, ins.sample_count,
                    ins.sample_count == 1 ? "" : "s", ins.name);
        if (ins.sample_count == 0) continue;
        printEnvelope("volume", ins.volume_envelope);
        printEnvelope("panning", ins.panning_envelope);
        std::printf("  fadeout %d, vibrato type %d sweep %d depth %d rate %d\n", ins.fadeout,
                    ins.vibrato_type, ins.vibrato_sweep, ins.vibrato_depth, ins.vibrato_rate);
        for (int32_t s = 0; s < ins.sample_count; ++s) {
            bxm_sample_info smp{};
            if (bxm_get_sample_info(player, i, s, &smp) != 0) continue;
            std::printf("  sample %d: \"%s\", length %u, loop %s", s + 1, smp.name, smp.length,
                        loopName(smp.loop_type));
            if (smp.loop_type != BXM_LOOP_NONE)
                std::printf(" start %u length %u", smp.loop_start, smp.loop_length);
            std::printf(", %d bits, volume %d, finetune %d, panning %d, relative note %d\n",
                        smp.bits, smp.volume, smp.finetune, smp.panning, smp.relative_note);
        }
    }
}

// Loads the file as the player's own Player and prints its ticks.
int traceTicks(const char* path, int32_t profile, int64_t maxTicks) {
    std::vector<uint8_t> bytes;
    const char* reason = "";
    if (!tools::readModuleFile(path, &bytes, &reason)) {
        std::fprintf(stderr, "xminfo: cannot read %s: %s\n", path, reason);
        return tools::exitBadInput;
    }
    music::installMemoryStream();
    const music::MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
    music::LoadResult result{};
    music::Player* player = music::createPlayerWithResult(&description, &result);
    if (player == nullptr) {
        char text[128];
        std::fprintf(stderr, "xminfo: cannot load %s: %s\n", path,
                     music::loadErrorText(result, text, static_cast<int32_t>(sizeof text)));
        return tools::exitBadInput;
    }
    music::setReplayProfile(player, profile == BXM_PROFILE_DEMO ? music::ProfileId::Demo
                                                                : music::ProfileId::Ft2);
    const bool played = tools::printTicks(player, maxTicks);
    music::destroyPlayer(player);
    if (!played) {
        std::fprintf(stderr, "xminfo: cannot play %s\n", path);
        return tools::exitBadInput;
    }
    return tools::exitOk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return tools::exitOk;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        tools::printVersion("xminfo");
        return tools::exitOk;
    }
    const char* path = nullptr;
    int32_t profile = BXM_PROFILE_FT2;
    bool ticks = false;
    int64_t maxTicks = defaultMaxTicks;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--ticks") == 0) {
            ticks = true;
        } else if (std::strcmp(a, "--profile") == 0 && i + 1 < argc) {
            if (!tools::parseProfile(argv[++i], &profile)) {
                std::fprintf(stderr, "xminfo: --profile wants ft2 or demo\n");
                return tools::exitBadInput;
            }
        } else if (std::strcmp(a, "--max-ticks") == 0 && i + 1 < argc) {
            char* end = nullptr;
            maxTicks = std::strtoll(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || maxTicks < 1) {
                std::fprintf(stderr, "xminfo: --max-ticks wants a whole number above 0\n");
                return tools::exitBadInput;
            }
        } else if ((a[0] == '-' && a[1] != 0) || path != nullptr) {
            printUsage(stderr);
            return tools::exitBadInput;
        } else {
            path = a;
        }
    }
    if (path == nullptr) {
        printUsage(stderr);
        return tools::exitBadInput;
    }
    if (ticks) return traceTicks(path, profile, maxTicks);
    bxm_options options{};
    options.profile = profile;
    bxm_player* player = tools::openModuleFile("xminfo", path, options);
    if (player == nullptr) return tools::exitBadInput;
    printModule(player);
    bxm_close(player);
    return tools::exitOk;
}
